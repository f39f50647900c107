// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxTray.h"

#include <cstdio>

namespace platform {

LinuxTray::LinuxTray(int pollMs)
{
    poll_.setInterval(pollMs);
    connect(&poll_, &QTimer::timeout, this, &LinuxTray::tryShow);
    // Queued: the menu that a message may open runs its own event loop, which
    // must not start inside the icon's mouse handler.
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        int message = 0;
        switch (reason) {
        case QSystemTrayIcon::Trigger: message = kLeftDown; break;
        case QSystemTrayIcon::Context: message = kRightDown; break;
        case QSystemTrayIcon::DoubleClick: message = kLeftDoubleClick; break;
        default: return;
        }
        if (onMessage)
            onMessage(message);
    }, Qt::QueuedConnection);
}

void LinuxTray::add(const QIcon& icon, const QString& tip)
{
    icon_.setIcon(icon);
    icon_.setToolTip(tip);
    wanted_ = true;
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        icon_.show();
        return;
    }
    // Said once the guard runs: a start that ends at once has its own message.
    QTimer::singleShot(0, this, [] {
        std::fprintf(stderr, "Mirvak: no notification area found; the guard runs and its icon appears when one starts\n");
    });
    poll_.start();
}

void LinuxTray::modify(const QIcon& icon, const QString& tip)
{
    icon_.setIcon(icon);
    icon_.setToolTip(tip);
}

void LinuxTray::remove()
{
    wanted_ = false;
    poll_.stop();
    icon_.hide();
}

void LinuxTray::notify(const QString& title, const QString& text)
{
    if (icon_.isVisible())
        icon_.showMessage(title, text, QSystemTrayIcon::Warning);
    else   // no notification area: the terminal is the one place left
        std::fprintf(stderr, "Mirvak: %s\n", qPrintable(text));
}

QRect LinuxTray::geometry()
{
    return icon_.isVisible() ? icon_.geometry() : QRect();
}

void LinuxTray::tryShow()
{
    if (!wanted_ || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    poll_.stop();
    icon_.show();
}

} // namespace platform
