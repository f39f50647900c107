// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "guard/Guard.h"
#include "lists/frmList.h"
#include "platform/Tray.h"

#include <QIcon>
#include <QMenu>
#include <QPointer>
#include <QWidget>
#include <functional>

class frmAbout;

// The notification-area icon and its menu: the program's home. Never shown.
class frmTray : public QWidget {
    Q_OBJECT
public:
    frmTray(App& app, Guard& guard, platform::Tray& tray, QWidget* parent = nullptr);
    ~frmTray() override;

    App& app;
    Guard& guard;
    platform::Tray& tray;

    void Form_Load();
    // The icon's mouse message, as the x of a mouse move.
    void Form_MouseMove(int x);
    void Enable_Click();
    void Disable_Click();
    void SeeAllow_Click();
    void SeeDeny_Click();
    void Settings_Click();
    void About_Click();
    void ExitProgram_Click();

    // Opens PopupSys at the cursor and returns when it closes.
    std::function<void()> showMenu;

    QMenu PopupSys;
    QAction* Enable;
    QAction* Disable;
    QAction* SeeAllow;
    QAction* SeeDeny;
    QAction* Settings;
    QAction* About;
    QAction* CloseMenu;
    QAction* ExitProgram;

    QIcon enabledIcon;
    QIcon disabledIcon;
    // "Mirvak: guarding", "Mirvak: paused": the tip names the state.
    QString enabledTip() const;
    QString disabledTip() const;
    // Start-up left the scan timer off: the icon says so and where to look.
    void notGuarding();
    // Tells the user: from the icon, or through the notification server when
    // no notification area shows it; held while the alert is up.
    void notice(const QString& text);

    QPointer<frmList> allowWindow;
    QPointer<frmList> denyWindow;
    QPointer<frmAbout> aboutWindow;

private:
    QStringList heldNotices;
    // A notice failed to reach the server, and error.log has said so.
    bool noticeFailureTold = false;
    QString tip(const QString& state) const;
    void showList(QPointer<frmList>& window, frmList::Kind kind);
};
