// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxTray.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QMenu>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <xcb/xcb.h>

namespace platform {

namespace {
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
} // namespace

LinuxTray::LinuxTray(int pollMs)
{
    poll_.setInterval(pollMs);
    connect(&poll_, &QTimer::timeout, this, &LinuxTray::tryShow);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        watcher_.setConnection(bus);
        watcher_.addWatchedService(kWatcher);
        watcher_.setWatchMode(QDBusServiceWatcher::WatchForRegistration);
        connect(&watcher_, &QDBusServiceWatcher::serviceRegistered, this, &LinuxTray::tryShow);
    }
}

LinuxTray::~LinuxTray() = default;

bool LinuxTray::watcherThere()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(kWatcher))
        return false;
    // Asked as Qt asks: a watcher whose host has not come yet counts as no tray, for good.
    QDBusInterface watcher(kWatcher, QStringLiteral("/StatusNotifierWatcher"), kWatcher, bus);
    return watcher.property("IsStatusNotifierHostRegistered").toBool();
}

xcb_connection_t* LinuxTray::x11()
{
    // The offscreen platform answers for X11 too, without a connection.
    const auto* native = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = native ? native->connection() : nullptr;
    return connection && !xcb_connection_has_error(connection) ? connection : nullptr;
}

bool LinuxTray::xembedThere()
{
    xcb_connection_t* connection = x11();
    if (!connection)
        return false;
    int screen = 0;
    char* host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screen))
        std::free(host);
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(screen);
    xcb_intern_atom_reply_t* atom
        = xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, name.size(), name.constData()), nullptr);
    if (!atom)
        return false;
    const xcb_atom_t selection = atom->atom;
    std::free(atom);
    if (selection == XCB_ATOM_NONE)
        return false;   // no tray ever named it
    xcb_get_selection_owner_reply_t* owner
        = xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool there = owner && owner->owner != XCB_NONE;
    std::free(owner);
    return there;
}

void LinuxTray::add(const QIcon& icon, const QString& tip)
{
    image_ = icon;
    tip_ = tip;
    wanted_ = true;
    tryShow();
    if (icon_)
        return;
    // Said once the guard runs: a start that ends at once has its own message.
    QTimer::singleShot(0, this, [] {
        std::fprintf(stderr, "Mirvak: no notification area found; the guard runs and its icon appears when one starts\n");
    });
    poll_.start();
}

void LinuxTray::modify(const QIcon& icon, const QString& tip)
{
    image_ = icon;
    tip_ = tip;
    if (icon_) {
        icon_->setIcon(icon);
        icon_->setToolTip(tip);
    }
}

void LinuxTray::remove()
{
    wanted_ = false;
    poll_.stop();
    if (icon_)
        icon_->hide();
}

void LinuxTray::notify(const QString& title, const QString& text)
{
    if (icon_ && icon_->isVisible())
        icon_->showMessage(title, text, QSystemTrayIcon::Warning);
    else   // no notification area: the terminal is the one place left
        std::fprintf(stderr, "Mirvak: %s\n", qPrintable(text));
}

bool LinuxTray::shown()
{
    if (!icon_ || !icon_->isVisible())
        return false;
    // Qt keeps the icon when the notification area goes away: asked again each time.
    if (!onBus_)
        return xembedThere();
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface()->isServiceRegistered(kWatcher);
}

QRect LinuxTray::geometry()
{
    return icon_ && icon_->isVisible() && !placing() ? icon_->geometry() : QRect();
}

bool LinuxTray::placing()
{
    xcb_connection_t* connection = x11();
    if (!icon_ || onBus_ || !icon_->isVisible() || !connection)
        return false;
    // Qt's X11 icon is a window of its own, at the screen's corner until the
    // notification area takes it in as a child of its own window.
    if (icon_->geometry().topLeft() == QPoint(0, 0))
        return true;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->objectName() != QLatin1String("QSystemTrayIconSys") || !window->internalWinId())
            continue;
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(
            connection, xcb_query_tree(connection, static_cast<xcb_window_t>(window->internalWinId())), nullptr);
        const bool top = tree && tree->parent == tree->root;
        std::free(tree);
        return top;
    }
    return false;
}

void LinuxTray::setMenu(QMenu* menu)
{
    menu_ = menu;
    if (icon_)
        icon_->setContextMenu(menu);
}

void LinuxTray::tryShow()
{
    if (!wanted_ || icon_)
        return;
    const bool onBus = watcherThere();
    if (!onBus && !xembedThere())
        return;
    poll_.stop();
    onBus_ = onBus;
    icon_ = std::make_unique<QSystemTrayIcon>();
    // Queued: the menu that a message may open runs its own event loop, which
    // must not start inside the icon's mouse handler.
    connect(icon_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        int message = 0;
        switch (reason) {
        case QSystemTrayIcon::Trigger: message = kLeftDown; break;
        // An X11 tray opens the context menu itself; a D-Bus host that asks
        // the item to open it gets the same menu.
        case QSystemTrayIcon::Context:
            if (menu_ && !onBus_)
                return;
            message = kRightDown;
            break;
        case QSystemTrayIcon::DoubleClick: message = kLeftDoubleClick; break;
        default: return;
        }
        if (onMessage)
            onMessage(message);
    }, Qt::QueuedConnection);
    icon_->setIcon(image_);
    icon_->setToolTip(tip_);
    // Qt exports the menu over D-Bus, so a host may draw it itself.
    if (menu_)
        icon_->setContextMenu(menu_);
    icon_->show();
}

} // namespace platform
