#include "Fakes.h"
#include "design/frmAbout.h"
#include "tray/frmTray.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {
struct FakeTray : platform::Tray {
    bool shown = false;
    QIcon icon;
    QString tip;
    void add(const QIcon& i, const QString& t) override { shown = true, icon = i, tip = t; }
    void modify(const QIcon& i, const QString& t) override { icon = i, tip = t; }
    void remove() override { shown = false; }
};

// A loaded tray over a program file named "guard", its scan timer running.
struct TrayBed : TestBed {
    FakeTray icon;
    frmMain main{app};
    frmTray tray{app, main, icon};
    TrayBed()
    {
        program.name = "guard";
        tray.Form_Load();
        main.time.setInterval(1000);
        main.timerOn();
    }
    QString state() const
    {
        return icon.tip + (icon.icon.cacheKey() == tray.enabledIcon.cacheKey() ? ", bright" : ", pale")
            + (tray.Enable->isEnabled() ? ", Enable" : "") + (tray.Disable->isEnabled() ? ", Disable" : "")
            + (main.time.isActive() ? ", timer" : "") + (main.isVisible() ? ", alert" : "");
    }
};
} // namespace

TEST(Tray, MenuPressesExitAndTheEnabledState)
{
    TrayBed t;
    QString captions;
    for (const QAction* action : t.tray.PopupSys.actions())
        captions += (action->isSeparator() ? "-" : action->text()) + "|";
    EXPECT_EQ(captions, "Enable|Disable|-|See Allow List|See Deny List|-|Settings|About|-|Close Menu|"
                        "Exit guard|");
    QList<int> opened;
    for (int message : {0, 512, 513, 514, 515, 516, 517, 518, 519}) {
        t.tray.showMenu = [&opened, message] { opened << message; };
        t.tray.Form_MouseMove(message);
    }
    EXPECT_EQ(opened, QList<int>({513, 516, 518}));
    t.tray.ExitProgram_Click();   // answered No
    EXPECT_TRUE(t.icon.shown && !t.desktop.quitCalled);
    const QString on = "Mirvak Process Manager: Enable, bright, Disable";
    EXPECT_EQ(t.state(), on + ", timer");

    // A showing alert goes without a decision; Enable under it leaves the timer to its closing.
    t.app.allowList.add("a.exe");
    for (bool alert : {false, true}) {
        t.main.setVisible(alert);
        t.tray.Disable_Click();
        EXPECT_EQ(t.state(), "Mirvak Process Manager: Disable, pale, Enable");
        t.main.setVisible(alert);
        t.tray.Enable_Click();
        EXPECT_EQ(t.state(), on + (alert ? ", alert" : ", timer"));
    }
    EXPECT_EQ(t.app.allowList.count() + t.app.denyList.count(), 1);
    t.desktop.answer = true;
    t.tray.ExitProgram_Click();
    EXPECT_TRUE(!t.icon.shown && t.desktop.quitCalled);
}

TEST(Tray, WindowsOpenOnceAndCloseForGood)
{
    TrayBed t;
    using Windows = QList<QPointer<QWidget>>;
    const auto openAll = [&t] {
        t.tray.SeeAllow_Click();
        t.tray.SeeDeny_Click();
        t.tray.About_Click();
        const Windows shown{t.tray.allowWindow.data(), t.tray.denyWindow.data(), t.tray.aboutWindow.data()};
        EXPECT_TRUE(std::all_of(shown.begin(), shown.end(), [](auto& w) { return w && w->isVisible(); }));
        return shown;
    };
    t.app.denyList.add("z.exe");
    const Windows first = openAll();
    t.app.denyList.add("y.exe");
    ASSERT_EQ(openAll(), first);   // the same windows, the lists filled again
    EXPECT_EQ(t.tray.allowWindow->List->count(), 0);
    EXPECT_EQ(t.tray.denyWindow->List->count(), 2);

    // Closed, they go, and nothing refreshes them; the next opening builds them anew.
    t.tray.allowWindow->btnClose_MouseUp();
    t.tray.denyWindow->btnClose_MouseUp();
    t.tray.aboutWindow->btnClose_MouseUp();
    EXPECT_TRUE(!t.tray.allowWindow && !t.tray.denyWindow);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(first, Windows(3));
    openAll();
}
