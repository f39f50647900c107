// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "guard/frmMain.h"
#include "design/frmAbout.h"
#include "platform/linux/LinuxNotices.h"
#include "store/mdSettings.h"
#include "tray/frmSettings.h"
#include "tray/frmTray.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QKeyEvent>
#include <QTest>
#include <memory>

namespace {
struct FakeTray : platform::Tray {
    bool up = false;
    QIcon icon;
    QString tip;
    QStringList messages;
    bool there = true;   // a notification area shows the icon
    void add(const QIcon& i, const QString& t) override { up = true, icon = i, tip = t; }
    void modify(const QIcon& i, const QString& t) override { icon = i, tip = t; }
    void remove() override { up = false; }
    void notify(const QString& title, const QString& text) override { messages << title + ": " + text; }
    bool shown() override { return there; }
};

// A program file named "guard" started with the settings given; its tray loads during start-up. With a
// notification server given, no notification area is there.
struct TrayBed : TestBed {
    FakeTray icon;
    frmMain main{app};
    std::unique_ptr<frmTray> tray;
    explicit TrayBed(const QList<QPair<QString, QString>>& changes = {}, platform::Notices* notices = nullptr)
    {
        app.sys.notices = notices;
        icon.there = !notices;
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

// The settings window, opened from the tray's menu.
struct SettingsBed : TrayBed {
    frmSettings* window = nullptr;
    explicit SettingsBed(std::initializer_list<QPair<QString, QString>> changes = {}) : TrayBed(QList(changes))
    {
        tray->Settings_Click();
        tray->Settings_Click();   // a second click opens no second window
        const auto windows = tray->findChildren<frmSettings*>();
        window = windows.size() == 1 ? windows[0] : nullptr;
    }
    QLineEdit* field(const QString& key) { return window->findChild<QLineEdit*>(key); }
};

// A notification server that keeps the text of each notice.
struct StandInServer : QDBusVirtualObject {
    QStringList texts;
    QString introspect(const QString&) const override { return QString(); }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() == "GetCapabilities")
            return connection.send(message.createReply(QStringList{"body", "body-markup"}));
        texts << message.arguments().value(4).toString();
        return connection.send(message.createReply(QVariant::fromValue(uint(texts.size()))));
    }
};

} // namespace

using mdSettings::getSetting;

TEST(Tray, ExitStatesAndWindows)
{
    TrayBed t;
    t.tray->ExitProgram_Click();   // answered No
    const QString on = "Mirvak: guarding; exec gate: off, bright, Disable";
    EXPECT_EQ(t.state() + (t.icon.up && !t.desktop.quitCalled ? ", up" : ""), on + ", timer, up");
    // A showing alert goes without a decision; Enable under it starts the timer, which guards meanwhile.
    for (bool alert : {false, true}) {
        t.main.setVisible(alert), t.tray->Disable_Click();
        EXPECT_EQ(t.state(), "Mirvak: paused; exec gate: off, pale, Enable");
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
    t.desktop.answer = true, t.tray->ExitProgram_Click();
    EXPECT_TRUE(!t.icon.up && t.desktop.quitCalled);
}

// A failed save is told once, and again once a save has worked.
TEST(Tray, SaysWhenAListCannotBeSaved)
{
    TrayBed t(QList<QPair<QString, QString>>{{"clean_value", "5"}});
    t.main.guard.appRecord = "a.exe";
    for (bool fails : {true, true, false, true}) {
        t.files.failWrites = fails ? QSet<QString>{"allow.csv"} : QSet<QString>{};
        t.main.btnAllow_MouseUp();
    }
    EXPECT_EQ(t.read("allow.csv"), "a.exe|1\r\n");
    const QString failed = "Mirvak Process Manager: Can't save allow.csv (Permission denied): decisions for good last only until "
                           "the program ends.";
    EXPECT_EQ(t.icon.messages, QStringList({failed, failed}));
}

// Without a notification area notices go to the server; while the alert is up they wait and then come as one.
TEST(Tray, NoticesGoWhereTheUserSeesThemAndNeverOverTheAlert)
{
    FakeNotices server;
    TrayBed t(QList<QPair<QString, QString>>{{"check_interval", ""}}, &server);
    EXPECT_EQ(std::exchange(server.sent, {}), QStringList{"Mirvak Process Manager: Not guarding, see " + t.path("error.log") + "."});
    t.main.guard.alertUp = true;
    t.app.tell("one");
    t.app.tell("two");
    EXPECT_TRUE(server.sent.isEmpty());
    t.main.guard.dropAlert();
    t.icon.there = true;
    t.app.tell("three");
    EXPECT_EQ(server.sent, QStringList{"Mirvak Process Manager: one\ntwo"});
    EXPECT_EQ(t.icon.messages, QStringList{"Mirvak Process Manager: three"});
}

// Through a stand-in server on the test's session bus: a kill makes a notice; with the server gone, one line in
// error.log and the guard goes on.
TEST(Tray, KillNoticesReachTheNotificationServerOverDBus)
{
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "notices");
    if (!bus.isConnected())
        GTEST_SKIP() << "no session bus";
    StandInServer server;
    ASSERT_TRUE(bus.registerVirtualObject("/org/freedesktop/Notifications", &server));
    ASSERT_TRUE(bus.registerService("org.freedesktop.Notifications"));
    platform::LinuxNotices notices("mirvak");
    TrayBed t({}, &notices);
    t.write("deny.csv", "bad\r\nb2\r\n");
    const auto kill = [&t](qint64 at, const char* name) {
        t.desktop.clock = at;
        t.processes.add(20, name);
        t.main.guard.time_Timer();
    };
    kill(0, "bad");
    // The server takes the calls in order: once the marker is there, every notice sent before it is.
    // The server reads markup: a name's own signs show as they are.
    notices.send("", "<marker> & co");
    const QString marker = "&lt;marker&gt; &amp; co";
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.texts.contains(marker); }, 5000));
    EXPECT_EQ(server.texts, QStringList({"Ended bad: it is on the deny list.", marker}));
    bus.unregisterService("org.freedesktop.Notifications");
    int failures = 0;
    const auto logged = notices.onFailed;
    notices.onFailed = [&](const QString& text, const QString& why) {
        ++failures;
        logged(text, why);
    };
    kill(10000, "b2");
    kill(70000, "bad");
    EXPECT_EQ(failures, 0);   // nothing waits for the answer
    ASSERT_TRUE(QTest::qWaitFor([&failures] { return failures == 2; }, 5000));
    EXPECT_EQ(t.read("error.log").count("frmTray.notice: No notification server took a notice"), 1);
    EXPECT_EQ(server.texts.size(), 2);
    bus.unregisterObject("/org/freedesktop/Notifications");
    QDBusConnection::disconnectFromBus("notices");
}

TEST(Settings, TheWindowMarksBadValuesAndSaveDoesNothingMeanwhile)
{
    SettingsBed t({{"tmp_interval ", "5"}});   // a name the program does not read: told, no bar to Save
    const QString unread = "tmp_interval : not read: the program knows \u201ctmp_interval\u201d only without blanks around it; remove them in the editor|";
    const QByteArray before = t.read("settings.ini");
    const auto reasons = [&](QString shown = "") {
        for (const auto& row : t.window->rows)
            shown += row.reason->isHidden() ? "" : row.key + ": " + row.reason->text() + "|";
        return shown;
    };
    t.field("list_level")->setText("9");
    t.field("tmp_interval")->setText("abc");
    t.field("clean_value")->setText("3");
    EXPECT_EQ(reasons(), "tmp_interval: not a number: digits, with \".\" before a fraction|list_level: a whole number from 0 to 4|" + unread);
    t.window->btnSave_Click();
    EXPECT_TRUE(t.window->isVisible() && t.window->lblMessage->text().startsWith("Not saved") && t.read("settings.ini") == before);
    t.field("list_level")->setText("2");
    t.field("tmp_interval")->setText("1");
    EXPECT_TRUE(t.window->validate() && reasons() == "list_level: records kept at level 1 stop matching: their programs are "
                                                   "asked about again|" + unread) << reasons().toStdString();
}

TEST(Settings, SaveWritesTheFileAndAppliesAtOnceKeepingTheTimersState)
{
    // Paused or not; a period that ends before the 30 s already counted, or one that goes on.
    for (const auto& [paused, minutes, ticks] : {std::tuple(false, "0.25", 30), {true, "2", 60}}) {
        SettingsBed t({{"path_search", "2"}, {"mine", "kept"}});   // memory holds milliseconds, the window the file's seconds
        ASSERT_TRUE(getSetting(t.app, "path_search") == "2000" && t.field("path_search")->text() == "2");
        if (paused)
            t.tray->Disable_Click();
        t.main.guard.tmpTicks = 30;
        const QByteArray before = t.read("settings.ini");
        for (const auto& [key, value] : QList<QPair<QString, QString>>{
                 {"check_interval", "0.5"}, {"tmp_interval", QString(" %1 ").arg(minutes)}, {"always_top", "1"}, {"path_search", "3"}})
            t.field(key)->setText(value);
        t.window->btnSave_Click();
        EXPECT_EQ(t.read("settings.ini"), QByteArray(before).replace("check_interval=1", "check_interval=0.5").replace("path_search=2", "path_search=3")
                                              .replace("tmp_interval=60", "tmp_interval=" + QByteArray(minutes)).replace("always_top=0", "always_top=1"));
        // In half-second ticks: the 15 s of the shorter period, or the 30 s counted.
        EXPECT_EQ(QString("%1 %2 %3 %4 %5").arg(t.main.guard.time.interval()).arg(t.main.guard.tmpTicks).arg(t.main.guard.time.isActive())
                      .arg(bool(t.main.windowFlags() & Qt::WindowStaysOnTopHint)).arg(getSetting(t.app, "path_search")),
                  QString("500 %1 %2 1 3000").arg(ticks).arg(!paused));
        EXPECT_TRUE(t.window->isHidden() && t.tray->Enable->isEnabled() == paused && getSetting(t.app, "mine") == "kept");
    }
}

// Opened while start-up refuses a value, as the tray's tip tells.
TEST(Settings, EditorOpensOrTheWindowSaysThereIsNoneAndShowsTheFileAsEditedThere)
{
    SettingsBed t({{"check_interval", "0.0004"}});
    ASSERT_EQ(t.state(), "Mirvak: not guarding, see " + t.path("error.log") + ", pale");
    // The first field has the focus, and Tab goes down the fields before the buttons.
    EXPECT_TRUE(t.window->focusWidget() == t.field("startup_load")
                && t.window->rows.back().field->nextInFocusChain() == t.window->btnEditor);
    t.shell.handler = false;
    t.window->btnEditor_Click();
    EXPECT_EQ(t.shell.opened, QStringList(t.path("settings.ini")));
    EXPECT_TRUE(t.window->lblMessage->text().startsWith("No editor could be started for " + t.path("settings.ini")));
    t.settings({{"list_level", "3"}});
    t.window->checkFile();   // unchanged rows follow the file
    EXPECT_EQ(t.field("list_level")->text(), "3");
    t.field("safe_level")->setText("1");
    t.settings({{"list_level", "2"}});
    t.window->checkFile();   // typed ones wait for Reload
    EXPECT_TRUE(t.field("safe_level")->text() == "1" && t.field("list_level")->text() == "3" && !t.window->btnReload->isHidden());
    t.window->btnReload->click();
    EXPECT_TRUE(t.field("safe_level")->text() == "0" && t.field("list_level")->text() == "2");
    // A save that cannot write leaves the file and the values; one that can starts guarding on the fixed value. All in
    // effect but a log-in entry that cannot be written: the window stays and says so.
    t.env.startup = t.path("autostart");
    const QByteArray before = t.read("settings.ini");
    t.files.failWrites << "settings.ini";
    t.field("check_interval")->setText("2");
    t.field("startup_load")->setText("1");
    t.window->btnSave_Click();
    EXPECT_EQ(t.window->lblMessage->text(), "Not saved, the file is as it was: Permission denied");
    EXPECT_TRUE(t.read("settings.ini") == before && getSetting(t.app, "check_interval") == "0.0004" && !t.main.guard.time.isActive());
    t.files.failWrites = {"guard 1.9.desktop"};
    t.window->btnSave_Click();
    t.window->checkFile();
    EXPECT_TRUE(t.window->isVisible() && t.window->lblMessage->text().contains("log-in entry") && getSetting(t.app, "startup_load") == "1");
    EXPECT_TRUE(t.main.guard.time.isActive() && t.main.guard.time.interval() == 2000 && t.tray->Disable->isEnabled());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    t.field("list_level")->setText("4");
    QApplication::sendEvent(t.field("list_level"), &escape);   // from the field
    EXPECT_TRUE(t.window->isHidden() && t.read("settings.ini").contains("list_level=2"));
}
