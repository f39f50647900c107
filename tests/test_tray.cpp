// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "guard/frmMain.h"
#include "design/frmAbout.h"
#include "platform/linux/LinuxNotices.h"
#include "store/mdSettings.h"
#include "tray/frmTray.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
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

TEST(Tray, MenuPressesExitStatesAndWindows)
{
    TrayBed t;
    QList<int> opened;
    t.tray->showMenu = [&] { opened << 0; };
    for (int message : {0, 512, 513, 514, 515, 516, 517, 518, 519})
        opened << message, t.tray->Form_MouseMove(message);
    EXPECT_EQ(opened, QList<int>({0, 512, 513, 0, 514, 515, 516, 0, 517, 518, 0, 519}));
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

// Without a notification area notices go to the server; while the alert is up they wait and then come as one.
TEST(Tray, NoticesGoWhereTheUserSeesThemAndNeverOverTheAlert)
{
    FakeNotices server;
    TrayBed t(QList<QPair<QString, QString>>{{"check_interval", ""}}, &server);
    EXPECT_EQ(server.sent, QStringList{"Mirvak Process Manager: Not guarding, see " + t.path("error.log") + "."});
    server.sent.clear();
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

// Through a stand-in server on the test's session bus: a burst of kills makes one notice; with the server gone, one
// line in error.log and the guard goes on.
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
    t.write("deny.csv", "bad\r\nb2\r\nb3\r\n");
    const auto kill = [&t](qint64 at, const char* name) {
        t.desktop.clock = at;
        t.processes.add(20, name);
        t.main.guard.time_Timer();
    };
    kill(0, "bad");
    kill(2000, "b2");
    kill(4000, "b3");
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
    kill(10000, "bad");
    kill(70000, "bad");
    EXPECT_EQ(failures, 0);   // nothing waits for the answer
    ASSERT_TRUE(QTest::qWaitFor([&failures] { return failures == 2; }, 5000));
    EXPECT_EQ(t.read("error.log").count("frmTray.notice: No notification server took a notice"), 1);
    EXPECT_EQ(server.texts.size(), 2);
    bus.unregisterObject("/org/freedesktop/Notifications");
    QDBusConnection::disconnectFromBus("notices");
}
