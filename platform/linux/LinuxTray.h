// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Tray.h"

#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

namespace platform {

// QSystemTrayIcon. When no notification area is there yet, the icon goes up
// as soon as one appears, so a panel that starts after the program still gets it.
class LinuxTray : public QObject, public Tray {
    Q_OBJECT
public:
    explicit LinuxTray(int pollMs = 3000);

    void add(const QIcon& icon, const QString& tip) override;
    void modify(const QIcon& icon, const QString& tip) override;
    void remove() override;
    void notify(const QString& title, const QString& text) override;
    QRect geometry() override;

    QSystemTrayIcon& icon() { return icon_; }

private:
    void tryShow();

    QSystemTrayIcon icon_;
    QTimer poll_;
    bool wanted_ = false;
};

} // namespace platform
