// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "guard/frmMain.h"
#include "design/frmAbout.h"
#include "store/mdSettings.h"
#include "tray/frmTray.h"

#include <QCoreApplication>
#include <memory>

namespace {
struct FakeTray : platform::Tray {
    bool shown = false;
    QIcon icon;
    QString tip;
    QStringList messages;
    void add(const QIcon& i, const QString& t) override { shown = true, icon = i, tip = t; }
    void modify(const QIcon& i, const QString& t) override { icon = i, tip = t; }
    void remove() override { shown = false; }
    void notify(const QString& title, const QString& text) override { messages << title + ": " + text; }
};

// A program file named "guard" started with the settings given; its tray loads during start-up.
struct TrayBed : TestBed {
    FakeTray icon;
    frmMain main{app};
    std::unique_ptr<frmTray> tray;
    explicit TrayBed(const QList<QPair<QString, QString>>& changes = {})
    {
        program.name = "guard", settings(changes);
        main.guard.loadTray = [this] { tray = std::make_unique<frmTray>(app, main.guard, icon), tray->Form_Load(); };
        main.Form_Load();
    }
    QString state()
    {
        return icon.tip + (icon.icon.cacheKey() == tray->enabledIcon.cacheKey() ? ", bright" : ", pale")
            + (tray->Enable->isEnabled() ? ", Enable" : "") + (tray->Disable->isEnabled() ? ", Disable" : "")
            + (main.guard.time.isActive() ? ", timer" : "") + (main.isVisible() ? ", alert" : "");
    }
};

} // namespace

TEST(Tray, MenuPressesExitStatesAndWindows)
{
    TrayBed t;
    QString captions;
    for (const QAction* action : t.tray->PopupSys.actions())
        captions += (action->isSeparator() ? "-" : action->text()) + "|";
    EXPECT_EQ(captions, "Enable|Disable|-|See Allow List|See Deny List|-|Settings|About|-|Close Menu|Exit guard|");
    QList<int> opened;
    t.tray->showMenu = [&] { opened << 0; };
    for (int message : {0, 512, 513, 514, 515, 516, 517, 518, 519})
        opened << message, t.tray->Form_MouseMove(message);
    EXPECT_EQ(opened, QList<int>({0, 512, 513, 0, 514, 515, 516, 0, 517, 518, 0, 519}));
    t.tray->ExitProgram_Click();   // answered No
    const QString on = "Mirvak: guarding, bright, Disable";
    EXPECT_EQ(t.state() + (t.icon.shown && !t.desktop.quitCalled ? ", up" : ""), on + ", timer, up");
    // A showing alert goes without a decision; Enable under it starts the timer, which guards meanwhile.
    for (bool alert : {false, true}) {
        t.main.setVisible(alert), t.tray->Disable_Click();
        EXPECT_EQ(t.state(), "Mirvak: paused, pale, Enable");
        t.main.setVisible(alert), t.tray->Enable_Click();
        EXPECT_EQ(t.state(), on + (alert ? ", timer, alert" : ", timer"));
    }
    // Windows open once, refill at each opening, and go for good when closed.
    const auto openAll = [&t] {
        t.tray->SeeAllow_Click(), t.tray->SeeDeny_Click(), t.tray->About_Click();
        return QList<QPointer<QWidget>>{t.tray->allowWindow.data(), t.tray->denyWindow.data(), t.tray->aboutWindow.data()};
    };
    const auto first = openAll();
    t.app.denyList.add("y.exe");
    ASSERT_EQ(openAll(), first);
    EXPECT_TRUE(std::all_of(first.begin(), first.end(), [](auto& w) { return w->isVisible(); }));
    EXPECT_EQ(t.tray->allowWindow->records.rowCount() * 10 + t.tray->denyWindow->records.rowCount(), 1);
    t.tray->allowWindow->btnClose_MouseUp(), t.tray->denyWindow->btnClose_MouseUp(), t.tray->aboutWindow->btnClose_MouseUp();
    EXPECT_TRUE(!t.tray->allowWindow && !t.tray->denyWindow);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(first, decltype(first)(3));
    EXPECT_NE(openAll()[2], nullptr);
    t.desktop.answer = true, t.tray->ExitProgram_Click();
    EXPECT_TRUE(!t.icon.shown && t.desktop.quitCalled);
}

TEST(Tray, SaysWhenNothingIsGuardedWhenAListCannotBeSavedAndWhenARecordCannotBeKept)
{
    for (const char* check : {"", "0.0001", "1,5"}) {
        TrayBed t(QList<QPair<QString, QString>>{{"check_interval", check}});
        EXPECT_EQ(t.state(), "Mirvak: not guarding, see " + t.path("error.log") + ", pale") << check;
    }
    TrayBed t(QList<QPair<QString, QString>>{{"clean_value", "5"}});
    t.main.guard.appRecord = "a.exe";
    for (bool fails : {true, true, false, true})   // told once, and again once a save has worked
        t.files.failWrites = fails ? QSet<QString>{"allow.csv"} : QSet<QString>{}, t.main.btnAllow_MouseUp();
    // A line break would add lines to the list file: the decision holds for the present period.
    t.main.guard.appName = "q\nsleep", t.main.guard.appRecord = "q\nsleep|/tmp/q\nsleep";
    t.main.guard.appPid = t.processes.add(7, t.main.guard.appName, "/tmp/q\nsleep").pid;
    for (auto decide : {&frmMain::btnAllow_MouseUp, &frmMain::btnDeny_MouseUp})
        t.main.guard.tmpTicks = 9, (t.main.*decide)();
    EXPECT_EQ(t.read("allow.csv") + t.read("deny.csv") + QByteArray::number(t.main.guard.tmpTicks), "a.exe|1\r\n0");
    EXPECT_EQ(t.app.allowTmp.search(t.main.guard.appRecord, "") * 10 + t.app.denyTmp.search(t.main.guard.appRecord, ""), 51);
    const QString failed = "Can't save allow.csv (Permission denied): decisions for good last only until the program ends.";
    const QString kept = "Can't keep q sleep in %1: a line break in its name or path; the decision holds for the present period.";
    EXPECT_EQ(t.icon.messages.join("\n").remove("Mirvak Process Manager: "),
              QStringList({failed, failed, kept.arg("allow.csv"), kept.arg("deny.csv")}).join("\n"));
}

// At panel size the paused icon is grey and the guarding one blue, drawn from the files or painted without them;
// the menu icon that gets installed is the guarding one.
TEST(Tray, IconsTellTheStateApartAtSixteenPixels)
{
    const auto saturation = [](const QIcon& icon) {
        const QImage image = icon.pixmap(16, 16).toImage();
        double sum = 0, count = 0;
        for (int i = 0; i < 16 * 16; ++i)
            if (const QColor c = image.pixelColor(i % 16, i / 16); c.alpha() > 128)
                sum += c.hsvSaturationF(), ++count;
        return sum / count;
    };
    EXPECT_GT(saturation(QIcon(MIRVAK_SOURCE_DIR "/dist/hicolor/16x16/apps/example.mirvak.mirvak.png")), 0.4);
    QImage paused[2];
    for (bool files : {false, true}) {
        TrayBed t;
        for (const char* name : {"mirvak.png", "mirvak-disabled.png"})
            ASSERT_TRUE(!files || QFile::copy(MIRVAK_SOURCE_DIR "/icons/" + QString(name), t.path(name)));
        t.tray->Form_Load();
        EXPECT_TRUE(saturation(t.tray->enabledIcon) > 0.4 && saturation(t.tray->disabledIcon) < 0.15) << files;
        paused[files] = t.tray->disabledIcon.pixmap(16, 16).toImage();
    }
    EXPECT_NE(paused[0], paused[1]);   // the files were read
}
