#include "Fakes.h"
#include "design/frmAbout.h"
#include "guard/frmMain.h"
#include "lists/frmList.h"
#include "platform/linux/LinuxTray.h"
#include "store/mdSettings.h"
#include "tray/frmTray.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {
class FakeTray : public platform::Tray {
public:
    int adds = 0;
    bool shown = false;
    bool failModify = false;
    QIcon icon;
    QString tip;
    void add(const QIcon& i, const QString& t) override { ++adds, shown = true, icon = i, tip = t; }
    void modify(const QIcon& i, const QString& t) override
    {
        if (failModify)
            throw std::runtime_error("Icon not changed");
        icon = i, tip = t;
    }
    void remove() override { shown = false; }
};

struct TrayBed : TestBed {
    FakeTray icon;
    frmMain main{app};
    frmTray tray{app, main, icon};
    int menus = 0;
    TrayBed()
    {
        settings();
        EXPECT_TRUE(mdSettings::getSettings(app));
        tray.showMenu = [this] { ++menus; };
        main.time.setInterval(1000);
    }
};
} // namespace

TEST(Tray, StartsEnabledWithItsMenuInOrder)
{
    TrayBed t;
    t.program.name = "guard";
    t.tray.Form_Load();
    EXPECT_EQ(t.icon.adds, 1);
    EXPECT_TRUE(t.icon.shown);
    EXPECT_EQ(t.icon.tip, "Mirvak Process Manager: Enable");
    EXPECT_EQ(t.icon.icon.cacheKey(), t.tray.enabledIcon.cacheKey());
    EXPECT_NE(t.tray.enabledIcon.pixmap(48).toImage(), t.tray.disabledIcon.pixmap(48).toImage());
    EXPECT_FALSE(t.tray.isVisible());

    QStringList captions;
    for (const QAction* action : t.tray.PopupSys.actions())
        captions << (action->isSeparator() ? "-" : action->text());
    EXPECT_EQ(captions, QStringList({"Enable", "Disable", "-", "See Allow List", "See Deny List", "-", "Settings",
                                     "About", "-", "Close Menu", "Exit guard"}));
    EXPECT_FALSE(t.tray.Enable->isEnabled());
    EXPECT_TRUE(t.tray.Disable->isEnabled());
}

TEST(Tray, DisableAndEnableFollowTheAlert)
{
    TrayBed t;
    t.tray.Form_Load();
    t.app.allowList.add("a.exe");
    t.main.timerOn();

    // Without an alert.
    t.tray.Disable_Click();
    EXPECT_FALSE(t.main.time.isActive());
    EXPECT_TRUE(t.tray.Enable->isEnabled());
    EXPECT_FALSE(t.tray.Disable->isEnabled());
    EXPECT_EQ(t.icon.tip, "Mirvak Process Manager: Disable");
    EXPECT_EQ(t.icon.icon.cacheKey(), t.tray.disabledIcon.cacheKey());
    t.tray.Enable_Click();
    EXPECT_TRUE(t.main.time.isActive());
    EXPECT_EQ(t.icon.tip, "Mirvak Process Manager: Enable");
    EXPECT_EQ(t.icon.icon.cacheKey(), t.tray.enabledIcon.cacheKey());

    // A showing alert goes without a decision.
    t.main.show();
    t.tray.Disable_Click();
    EXPECT_FALSE(t.main.isVisible());
    EXPECT_FALSE(t.main.time.isActive());
    EXPECT_EQ(t.app.allowList.count() + t.app.denyList.count(), 1);

    // Enable while the alert shows leaves the timer to the alert's closing.
    t.main.show();
    t.tray.Enable_Click();
    EXPECT_FALSE(t.main.time.isActive());
    EXPECT_FALSE(t.tray.Enable->isEnabled());
    EXPECT_TRUE(t.tray.Disable->isEnabled());
    EXPECT_EQ(t.icon.tip, "Mirvak Process Manager: Enable");
    t.main.hide();

    // A failure part-way keeps what was done and is logged under the tray.
    t.icon.failModify = true;
    t.tray.Disable_Click();
    EXPECT_FALSE(t.main.time.isActive());
    EXPECT_EQ(t.icon.tip, "Mirvak Process Manager: Enable");
    EXPECT_TRUE(t.read("error.log").startsWith("frmTray.Disable_Click: Icon not changed\r\n"));
}

TEST(Tray, PressMessagesOpenTheMenu)
{
    TrayBed t;
    t.tray.Form_Load();
    for (int message : {513, 516, 518})
        t.tray.Form_MouseMove(message);
    EXPECT_EQ(t.menus, 3);
    for (int message : {0, 512, 514, 515, 517, 519, 1})
        t.tray.Form_MouseMove(message);
    EXPECT_EQ(t.menus, 3);

    // Qt's activations reach the handler as the mouse messages, after the
    // icon's own event has ended.
    platform::LinuxTray linuxTray;
    QList<int> messages;
    linuxTray.onMessage = [&](int message) { messages << message; };
    emit linuxTray.icon().activated(QSystemTrayIcon::Trigger);
    emit linuxTray.icon().activated(QSystemTrayIcon::Context);
    emit linuxTray.icon().activated(QSystemTrayIcon::DoubleClick);
    emit linuxTray.icon().activated(QSystemTrayIcon::MiddleClick);
    EXPECT_TRUE(messages.isEmpty());
    QCoreApplication::processEvents();
    EXPECT_EQ(messages, QList<int>({513, 516, 515}));
}

TEST(Tray, ExitAsksAndEndsOnlyOnYes)
{
    TrayBed t;
    t.program.name = "guard";
    t.tray.Form_Load();
    t.main.timerOn();
    t.desktop.answer = false;
    t.tray.ExitProgram_Click();
    EXPECT_EQ(t.desktop.questions, 1);
    EXPECT_FALSE(t.desktop.quitCalled);
    EXPECT_TRUE(t.icon.shown);
    EXPECT_TRUE(t.main.time.isActive());
    EXPECT_EQ(t.desktop.lastTitle, "Mirvak Process Manager");
    EXPECT_EQ(t.desktop.lastText, "Exiting the program will disable your security warnings!\n"
                                  "Do you want to exit the program anyway?");

    t.desktop.answer = true;
    t.tray.ExitProgram_Click();
    EXPECT_EQ(t.desktop.questions, 2);
    EXPECT_FALSE(t.icon.shown);
    EXPECT_TRUE(t.desktop.quitCalled);
}

TEST(Tray, WindowsOpenOnceAndCloseForGood)
{
    TrayBed t;
    t.tray.Form_Load();
    t.app.allowList.add("a.exe");
    t.tray.SeeAllow_Click();
    frmList* first = t.tray.allowWindow;
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(t.main.allowWindow, first);
    EXPECT_EQ(first->List->count(), 1);

    // Again while open: the same window, filled again.
    t.app.allowList.add("b.exe");
    t.tray.SeeAllow_Click();
    EXPECT_EQ(t.tray.allowWindow, first);
    EXPECT_EQ(first->List->count(), 2);

    // Close unloads it: nothing refreshes it, and the next opening builds a new one.
    first->btnClose_MouseUp();
    EXPECT_EQ(t.main.allowWindow, nullptr);
    EXPECT_EQ(t.tray.allowWindow, nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    t.tray.SeeAllow_Click();
    ASSERT_NE(t.tray.allowWindow, nullptr);
    EXPECT_EQ(t.main.allowWindow, t.tray.allowWindow.data());

    t.tray.About_Click();
    frmAbout* about = t.tray.aboutWindow;
    t.tray.About_Click();
    EXPECT_TRUE(about && t.tray.aboutWindow == about && about->isVisible());

    t.tray.Settings_Click();
    EXPECT_EQ(t.shell.opened, QStringList({t.app.file("settings.ini")}));
}
