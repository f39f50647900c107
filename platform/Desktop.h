// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QRect>
#include <QString>

class QWidget;

namespace platform {

// Windows and input, for what Qt widgets do not already give.
class Desktop {
public:
    virtual ~Desktop() = default;
    virtual QRect screenGeometry() = 0;
    virtual QRect availableGeometry() = 0;
    // The notification-area icon's rectangle on the screen; empty when unknown.
    virtual QRect trayGeometry() = 0;
    // Whether the icon is on its way into the notification area: a window
    // placed beside it now would be placed without it.
    virtual bool trayPlacing() { return false; }
    // Milliseconds on a clock that only goes forward.
    virtual qint64 clockMs() = 0;
    // One pass of pending window events.
    virtual void processEvents() = 0;
    // Starts moving the window with the mouse.
    virtual void startMove(QWidget* window) = 0;
    // A Yes/No question; true for Yes.
    virtual bool askYesNo(const QString& title, const QString& text) = 0;
    // Tells the user something that needs no answer.
    virtual void message(const QString& title, const QString& text) = 0;
    // An existing file the user picks, starting in `folder`, with links
    // resolved as the kernel names a running executable; empty when cancelled.
    virtual QString pickFile(const QString& title, const QString& folder) = 0;
    // Ends the process at once.
    virtual void quit() = 0;
};

} // namespace platform
