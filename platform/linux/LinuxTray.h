// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Tray.h"

#include <QDBusServiceWatcher>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <memory>

struct xcb_connection_t;

namespace platform {

// QSystemTrayIcon. Qt asks once whether a D-Bus tray is there and keeps the
// answer, so the icon is made only once a notification area is there: a
// StatusNotifierWatcher on the session bus, or on X11 the owner of the tray
// selection. A panel that starts after the program still gets the icon.
class LinuxTray : public QObject, public Tray {
    Q_OBJECT
public:
    explicit LinuxTray(int pollMs = 500);
    ~LinuxTray() override;

    void add(const QIcon& icon, const QString& tip) override;
    void modify(const QIcon& icon, const QString& tip) override;
    void remove() override;
    void notify(const QString& title, const QString& text) override;
    bool shown() override;
    QRect geometry() override;
    bool placing() override;
    void setMenu(QMenu* menu) override;

    // Null until a notification area is there.
    QSystemTrayIcon* icon() { return icon_.get(); }

private:
    static bool watcherThere();
    static bool xembedThere();
    static xcb_connection_t* x11();
    void tryShow();

    std::unique_ptr<QSystemTrayIcon> icon_;
    bool onBus_ = false;   // the icon is a D-Bus item, not an X11 tray window
    QIcon image_;
    QString tip_;
    QPointer<QMenu> menu_;
    QTimer poll_;
    QDBusServiceWatcher watcher_;
    bool wanted_ = false;
};

} // namespace platform
