// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QIcon>
#include <QRect>
#include <QString>
#include <functional>

class QMenu;

namespace platform {

// The program's icon in the notification area.
class Tray {
public:
    // Mouse messages the icon reports: left press, left double click, right press.
    static constexpr int kLeftDown = 513;
    static constexpr int kLeftDoubleClick = 515;
    static constexpr int kRightDown = 516;

    virtual ~Tray() = default;
    // Puts the icon up.
    virtual void add(const QIcon& icon, const QString& tip) = 0;
    // Changes the icon and its tip.
    virtual void modify(const QIcon& icon, const QString& tip) = 0;
    // Takes the icon down.
    virtual void remove() = 0;
    // A short message from the icon, for something the user must know.
    virtual void notify(const QString& title, const QString& text) { (void)title, (void)text; }
    // Whether a notification area shows the icon now; a notice it cannot
    // show goes to the notification server instead.
    virtual bool shown() { return true; }
    // The icon's menu, as the notification area shows it (a host may draw it itself).
    virtual void setMenu(QMenu* menu) { (void)menu; }
    // The icon's rectangle on the screen; empty when it is not up or unknown.
    virtual QRect geometry() { return QRect(); }
    // Whether the icon is up but the notification area has not taken it in
    // yet, so its rectangle is still unknown.
    virtual bool placing() { return false; }

    // Receives the icon's mouse messages.
    std::function<void(int)> onMessage;
};

} // namespace platform
