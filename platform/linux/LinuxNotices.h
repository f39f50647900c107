// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Notices.h"

#include <QObject>

namespace platform {

// org.freedesktop.Notifications on the session bus, called without waiting:
// a server that is slow or gone never holds up the guard.
class LinuxNotices : public QObject, public Notices {
    Q_OBJECT
public:
    // `icon`: a file, or a name from the icon theme.
    explicit LinuxNotices(const QString& icon, int timeoutMs = 5000);

    void send(const QString& title, const QString& text) override;

private:
    void notify(const QString& title, const QString& text);

    QString icon_;
    int timeoutMs_;
    // A server that reads markup in the body gets the text escaped, so that a
    // program's name shows as it is; asked once, before the first notice.
    enum class Markup { Unknown, Asking, Read, Plain } markup_ = Markup::Unknown;
    QList<QPair<QString, QString>> waiting_;
};

} // namespace platform
