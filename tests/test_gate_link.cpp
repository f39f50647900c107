// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "GateHarness.h"
#include "design/ImageButton.h"
#include "guard/GateLink.h"
#include "guard/frmMain.h"
#include "store/mdSettings.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <csignal>
#include <unistd.h>

namespace gatewire {
bool operator==(const Answer& a, const Answer& b)
{
    return a.id == b.id && a.allow == b.allow;
}
} // namespace gatewire

namespace {
using namespace gatewire;

struct FakeGateSocket : platform::GateSocket {
    bool reachable = true;
    bool up = false;
    QString path;
    QList<GuardMessage> sent;
    bool open(const QString& where) override
    {
        path = where;
        up = reachable;
        return up;
    }
    bool isOpen() const override { return up; }
    bool send(const QByteArray& message) override
    {
        const auto decoded = decodeGuard(message);
        if (up && decoded)
            sent.append(*decoded);
        return up && decoded;
    }
    void close() override { up = false; }
    void deliver(const GateMessage& message) { received(encode(message)); }
    void drop()
    {
        up = false;
        closed();
    }
    template <class Message>
    QList<Message> sentOf() const
    {
        QList<Message> out;
        for (const auto& message : sent)
            if (const auto* one = std::get_if<Message>(&message))
                out.append(*one);
        return out;
    }
    // The records handed over for one list, added or removed, in order.
    QStringList changes(List list, bool add) const
    {
        QStringList records;
        for (const ListChange& change : sentOf<ListChange>())
            if (change.list == list && change.add == add)
                records += change.records;
        return records;
    }
};

// A guard linked to a fake gate after its first tick, "ok" allowed and "bad" denied.
struct LinkBed {
    TestBed t;
    FakeGateSocket socket;
    GateLink link{t.app, socket};
    frmMain main{t.app};
    Guard& guard = main.guard;
    QStringList told;
    explicit LinkBed(const QList<QPair<QString, QString>>& settings = {})
    {
        t.settings(settings);
        t.write("allow.csv", "ok|/bin/ok\r\n");
        t.write("deny.csv", "bad|/bin/bad\r\n");
        t.app.notice = [this](const QString& text) { told << text; };
        guard.attachGate(link);
        main.Form_Load();
        guard.time_Timer();
        socket.deliver(Welcome{});
        socket.deliver(Synced{1});
    }
    // The gate tells of an exec of "/bin/NAME" by process 100 + id.
    void exec(quint64 id, Verdict verdict, const QString& name)
    {
        t.processes.add(qint64(100 + id), "sh", "/bin/sh");
        const QString path = "/bin/" + name;
        socket.deliver(Exec{id, verdict, verdict == Verdict::Unknown, qint64(100 + id), name, path, name + "|" + path});
    }
    QList<Answer> answers() const { return socket.sentOf<Answer>(); }
};

// The guard itself as the guard's user, portable in a folder of its own on
// the unmarked tmpfs, its lists allowing what else runs in the namespace.
struct RealGuard {
    QProcess process;
    QByteArray out;
    bool start(const gateharness::Rig& rig, const QStringList& deny)
    {
        const QString dir = rig.plain + "/guard";
        const QString exe = dir + "/guard";
        const QString test = QCoreApplication::applicationFilePath();
        const QStringList allow{test.section('/', -1) + "|" + test, "mirvak-gate|" MIRVAK_GATE_EXE, "setpriv|/usr/bin/setpriv"};
        const QString settings = "startup_load=0\r\ncheck_interval=1\r\npath_search=0\r\ntmp_interval=60\r\nlist_level=1\r\n"
                                 "safe_level=1\r\nclean_value=0\r\nalways_top=0\r\nkill_notice=1\r\nweb_search=\r\nerror_log=1\r\n"
                                 "gate_socket=" + rig.dir + "/gate.sock\r\n";
        QDir().mkpath(dir);
        QFile::copy(MIRVAK_LINK_GUARD_EXE, exe);
        const std::pair<QString, QString> files[] = {{"settings.ini", settings}, {"allow.csv", allow.join("\r\n") + "\r\n"},
                                                     {"deny.csv", deny.join("\r\n") + "\r\n"}};
        for (const auto& [name, text] : files) {
            QFile file(dir + "/" + name);
            EXPECT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(text.toUtf8());
        }
        const QStringList owned = QDir(dir).entryList(QDir::Files) << ".";
        for (const QString& path : owned)
            EXPECT_EQ(::chown(QFile::encodeName(dir + "/" + path).constData(), gateharness::kGuardUser, gateharness::kGuardUser), 0);
        ::chmod(QFile::encodeName(dir).constData(), 0700);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", dir);
        env.insert("XDG_RUNTIME_DIR", dir);
        process.setProcessEnvironment(env);
        process.start("setpriv", {QString("--reuid=%1").arg(gateharness::kGuardUser),
                                  QString("--regid=%1").arg(gateharness::kGuardUser), "--clear-groups", exe});
        return !line("ready").isEmpty();
    }
    // The next line it prints that begins with `prefix`; empty after 20 s.
    QString line(const QString& prefix)
    {
        const QDeadlineTimer deadline(gateharness::kWaitMs);
        for (;;) {
            while (out.contains('\n')) {
                const QString next = QString::fromUtf8(out.left(out.indexOf('\n')));
                out.remove(0, out.indexOf('\n') + 1);
                if (next.startsWith(prefix))
                    return next;
            }
            if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
                return {};
            process.waitForReadyRead(100);
            out += process.readAllStandardOutput();
        }
    }
    void tell(const QString& text)
    {
        process.write((text + "\n").toUtf8());
        process.waitForBytesWritten();
    }
};

QStringList thisTest()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return {QCoreApplication::applicationFilePath(),
            QString("--gtest_filter=%1.%2").arg(info->test_suite_name(), info->name())};
}

// Runs the test again in a mount and PID namespace of its own, and there goes on with a gate.
#define LINK_RIG(rig)                                                  \
    const auto outcome = gateharness::runInNamespace(thisTest());      \
    if (!outcome.skipped.isEmpty())                                    \
        GTEST_SKIP() << qPrintable(outcome.skipped);                   \
    if (!outcome.inside) {                                             \
        EXPECT_TRUE(outcome.passed) << qPrintable(outcome.output);     \
        return;                                                        \
    }                                                                  \
    gateharness::Rig rig;                                              \
    if (rig.refused)                                                   \
        GTEST_SKIP() << qPrintable(rig.error);                         \
    ASSERT_TRUE(rig.ready()) << qPrintable(rig.error)


} // namespace

TEST(GateLink, HandsOverSettingsAndWorkingListsThenOnlyWhatChanges)
{
    LinkBed b({{"list_level", "1"}, {"safe_level", "1"}, {"gate_hold", "12"}, {"gate_socket", "/tmp/g.sock"}});
    EXPECT_EQ(b.socket.path, "/tmp/g.sock");
    ASSERT_EQ(b.socket.sentOf<Settings>().size(), 1);
    const Settings sent = b.socket.sentOf<Settings>().first();
    EXPECT_EQ(sent.listLevel, 1);
    EXPECT_TRUE(sent.safeLevel);
    EXPECT_EQ(sent.gateHold, 12u);
    EXPECT_EQ(b.socket.sentOf<ListBegin>().size(), 2);
    EXPECT_EQ(b.socket.changes(List::Allow, true), QStringList({"ok|/bin/ok"}));
    EXPECT_EQ(b.socket.changes(List::Deny, true), QStringList({"bad|/bin/bad"}));
    EXPECT_TRUE(b.link.isOn());

    b.t.app.allowTmp.add("new|/bin/new");
    b.t.app.denyTmp.remove(1);
    mdSettings::setSetting(b.t.app, "list_level", "2");
    b.guard.time_Timer();
    b.guard.time_Timer();
    EXPECT_EQ(b.socket.sentOf<ListBegin>().size(), 2);
    EXPECT_EQ(b.socket.changes(List::Allow, true), QStringList({"ok|/bin/ok", "new|/bin/new"}));
    EXPECT_EQ(b.socket.changes(List::Deny, false), QStringList({"bad|/bin/bad"}));
    ASSERT_EQ(b.socket.sentOf<Settings>().size(), 2);
    EXPECT_EQ(b.socket.sentOf<Settings>().last().listLevel, 2);
    // A cut message from the gate ends the link as a closed one does, and the retry comes.
    b.socket.received(encode(GateMessage(Synced{2})).left(3));
    EXPECT_FALSE(b.link.isOn());
    EXPECT_FALSE(b.socket.isOpen());
    EXPECT_TRUE(b.link.retry.isActive());
}

TEST(GateLink, ExecsBecomeKillNoticesAndAlerts)
{
    struct Case {
        Verdict verdict;
        QString told;
        bool alert;
        QString waits;   // the alert's line under the name; empty when hidden
        int seen;
    };
    for (const Case& c : std::vector<Case>{
             {Verdict::Denied, "Stopped bad (/bin/bad) before it started: it is on the deny list.", false, "", 0},
             {Verdict::Unknown, "", true, "stopped till you decide", 0},
             {Verdict::Held, "", true, "bad waits to start", 1}}) {
        LinkBed b(QList<QPair<QString, QString>>{{"safe_level", "1"}});
        b.exec(7, c.verdict, "bad");
        EXPECT_EQ(b.told.join("").toStdString(), c.told.toStdString()) << int(c.verdict);
        EXPECT_EQ(b.main.isVisible(), c.alert) << int(c.verdict);
        EXPECT_EQ(b.main.lblStopped->isVisible() ? b.main.lblStopped->text() : "", c.waits) << int(c.verdict);
        EXPECT_EQ(b.socket.sentOf<Seen>().size(), c.seen) << int(c.verdict);
        EXPECT_EQ(b.guard.appRecord, c.alert ? "bad|/bin/bad" : "") << int(c.verdict);
        EXPECT_EQ(b.t.journal.field("MIRVAK_EVENT").contains("ended"), !c.told.isEmpty()) << int(c.verdict);
    }
}

TEST(GateLink, EachButtonAnswersTheHeldExecAndEndsNothing)
{
    for (const auto& [button, allow] : std::vector<std::pair<void (frmMain::*)(), bool>>{
             {&frmMain::btnAllow_MouseUp, true}, {&frmMain::btnAllowNow_MouseUp, true},
             {&frmMain::btnDeny_MouseUp, false}, {&frmMain::btnDenyNow_MouseUp, false},
             {&frmMain::btnClose_MouseUp, false}}) {
        LinkBed b(QList<QPair<QString, QString>>{{"safe_level", "1"}});
        b.exec(3, Verdict::Held, "new");
        (b.main.*button)();
        EXPECT_EQ(b.answers(), QList<Answer>({{3, allow}})) << allow;
        EXPECT_FALSE(b.main.isVisible());
        EXPECT_TRUE(b.t.processes.killed.empty());
        EXPECT_TRUE(b.t.shell.started.empty());
    }
}

TEST(GateLink, HeldExecsWaitTheirTurnAndGoWhenTheGateAnswersOrLeaves)
{
    LinkBed b(QList<QPair<QString, QString>>{{"safe_level", "1"}});
    b.exec(3, Verdict::Held, "three");
    b.exec(4, Verdict::Held, "four");
    b.main.btnAllow_MouseUp();
    QApplication::processEvents();
    EXPECT_TRUE(b.main.isVisible());
    EXPECT_EQ(b.guard.appName, "four");
    b.socket.drop();
    EXPECT_FALSE(b.main.isVisible());
    EXPECT_FALSE(b.link.isOn());
    EXPECT_EQ(b.answers(), QList<Answer>({{3, true}}));
    EXPECT_EQ(GateLink::stateText(&b.link), "exec gate: off");

    // The retry comes back with the whole lists.
    EXPECT_TRUE(b.link.retry.isActive());
    EXPECT_TRUE(b.link.connectGate());
    EXPECT_EQ(b.socket.sentOf<Hello>().size(), 2);
    EXPECT_EQ(b.socket.sentOf<ListBegin>().size(), 4);
    // Paused, the guard leaves the gate and stays away.
    b.guard.timerOff();
    EXPECT_FALSE(b.socket.isOpen());
    EXPECT_FALSE(b.link.retry.isActive());
}

TEST(GateLink, AHoldEndedAtGateHoldTakesAlertDefaultAsIfPressed)
{
    for (const auto& [name, allowed, denied] : {std::tuple("close", false, false), std::tuple("allow_now", true, false),
                                               std::tuple("deny_now", false, true)}) {
        LinkBed b({{"safe_level", "1"}, {"alert_default", name}});
        b.exec(1, Verdict::Held, "one");
        b.exec(2, Verdict::Held, "two");
        // The one that waits its turn is taken as the one shown.
        b.socket.deliver(Done{2, allowed, Reason::Timeout});
        b.socket.deliver(Done{1, allowed, Reason::Timeout});
        QApplication::processEvents();
        EXPECT_FALSE(b.main.isVisible()) << name;
        EXPECT_TRUE(b.answers().isEmpty()) << name;
        for (const QString record : {"one|/bin/one", "two|/bin/two"}) {
            EXPECT_EQ(b.t.app.allowTmp.search(record, {}) > 0, allowed) << name;
            EXPECT_EQ(b.t.app.denyTmp.search(record, {}) > 0, denied) << name;
        }
        const int pressed = allowed || denied ? 1 : 0;
        EXPECT_EQ(b.t.journal.field("MIRVAK_NAME").count("two"), pressed) << name;
        EXPECT_EQ(b.t.journal.field("MIRVAK_ANSWER").count(name), 2 * pressed) << name;
    }
}

TEST(GateLinkReal, ADeniedExecFailsWithEpermUntoldToRunAndTheGuardSaysSo)
{
    LINK_RIG(rig);
    const QString bad = rig.program("bad");
    RealGuard guard;
    ASSERT_TRUE(guard.start(rig, {"bad|" + bad}));
    auto run = rig.start(bad);
    const gateharness::Rig::Result result = gateharness::Rig::finish(*run);
    EXPECT_EQ(result.code, 126);
    EXPECT_TRUE(result.output.contains("Operation not permitted")) << qPrintable(result.output);
    EXPECT_FALSE(QFile::exists(rig.marker("bad")));
    EXPECT_EQ(guard.line("told"), "told Stopped bad (" + bad + ") before it started: it is on the deny list.");
}

TEST(GateLinkReal, AnUnknownExecWaitsForTheAlertsAnswer)
{
    LINK_RIG(rig);
    RealGuard guard;
    ASSERT_TRUE(guard.start(rig, {}));
    for (const auto& [name, press, code] : {std::tuple("yes", "press allow", 0), std::tuple("no", "press deny", 126)}) {
        auto run = rig.start(rig.program(name));
        EXPECT_EQ(guard.line("alert"), QString("alert ") + name);
        EXPECT_FALSE(QFile::exists(rig.marker(name)));
        EXPECT_EQ(run->state(), QProcess::Running);
        guard.tell(press);
        EXPECT_EQ(gateharness::Rig::finish(*run).code, code) << name;
        EXPECT_EQ(QFile::exists(rig.marker(name)), code == 0) << name;
    }
}

TEST(GateLinkReal, AGuardThatGoesReleasesEveryHeldExec)
{
    LINK_RIG(rig);
    RealGuard guard;
    ASSERT_TRUE(guard.start(rig, {}));
    auto first = rig.start(rig.program("first"));
    auto second = rig.start(rig.program("second"));
    EXPECT_TRUE(guard.line("alert").startsWith("alert "));
    guard.process.kill();
    EXPECT_EQ(gateharness::Rig::finish(*first).code, 0);
    EXPECT_EQ(gateharness::Rig::finish(*second).code, 0);
    EXPECT_TRUE(QFile::exists(rig.marker("first")));
    EXPECT_TRUE(QFile::exists(rig.marker("second")));
}
