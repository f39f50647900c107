// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "gate/Wire.h"
#include "GateHarness.h"
#include "design/ImageButton.h"
#include "guard/GateLink.h"
#include "guard/frmMain.h"
#include "store/mdSettings.h"

#include <QApplication>
#include <QTimeZone>

namespace {
using namespace gatewire;
using gateharness::only;

// A guard linked to a stand-in gate after its first tick, "ok" allowed and "bad" denied.
struct LinkBed : platform::GateSocket {
    bool up = false;
    QString path;
    QList<GuardMessage> sent;
    bool open(const QString& where) override
    {
        path = where;
        return up = true;
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
    // The records handed over for one list, added or removed, in order.
    QStringList changes(List list, bool add) const
    {
        QStringList records;
        for (const ListChange& change : only<ListChange>(sent))
            if (change.list == list && change.add == add)
                records += change.records;
        return records;
    }
    TestBed t;
    GateLink link{t.app, *this};
    frmMain main{t.app};
    Guard& guard = main.guard;
    QStringList told;
    explicit LinkBed(const QList<QPair<QString, QString>>& settings)
    {
        t.settings(settings);
        t.write("allow.csv", "ok|/bin/ok\r\n");
        t.write("deny.csv", "bad|/bin/bad\r\n");
        t.app.notice = [this](const QString& text) { told << text; };
        guard.attachGate(link);
        main.Form_Load();
        guard.time_Timer();
        deliver(Welcome{});
        deliver(Synced{1});
    }
    // The gate tells of an exec of "/bin/NAME" by process 100 + id.
    void exec(quint64 id, Verdict verdict, const QString& name)
    {
        t.processes.add(qint64(100 + id), "sh", "/bin/sh");
        deliver(Exec{id, verdict, verdict == Verdict::Unknown, qint64(100 + id), name, "/bin/" + name,
                            name + "|/bin/" + name});
    }
};

const QList<QPair<QString, QString>> kSafe{{"safe_level", "1"}};

TEST(GateLink, HandsOverSettingsAndWorkingListsThenOnlyWhatChanges)
{
    LinkBed b({{"list_level", "1"}, {"safe_level", "1"}, {"gate_hold", "12"}, {"gate_socket", "/tmp/g.sock"}});
    EXPECT_EQ(b.path, "/tmp/g.sock");
    const Settings sent{1, true, AlertDefault::Close, 12, QString::fromUtf8(QTimeZone::systemTimeZoneId())};
    EXPECT_EQ(only<Settings>(b.sent).size(), 1);
    EXPECT_EQ(encode(only<Settings>(b.sent).value(0)), encode(sent));
    EXPECT_EQ(b.changes(List::Allow, true), QStringList({"ok|/bin/ok"}));
    EXPECT_EQ(b.changes(List::Deny, true), QStringList({"bad|/bin/bad"}));
    EXPECT_TRUE(b.link.isOn());

    b.t.app.allowTmp.add("new|/bin/new");
    b.t.app.denyTmp.remove(1);
    mdSettings::setSetting(b.t.app, "list_level", "2");
    b.guard.time_Timer();
    b.guard.time_Timer();
    EXPECT_EQ(only<ListBegin>(b.sent).size(), 2);
    EXPECT_EQ(b.changes(List::Allow, true), QStringList({"ok|/bin/ok", "new|/bin/new"}));
    EXPECT_EQ(b.changes(List::Deny, false), QStringList({"bad|/bin/bad"}));
    ASSERT_EQ(only<Settings>(b.sent).size(), 2);
    EXPECT_EQ(only<Settings>(b.sent).last().listLevel, 2);
    // A cut message from the gate ends the link as a closed one does, and the retry comes.
    b.received(encode(GateMessage(Synced{2})).left(3));
    EXPECT_FALSE(b.link.isOn());
    EXPECT_FALSE(b.isOpen());
    EXPECT_TRUE(b.link.retry.isActive());
}

TEST(GateLink, ExecsBecomeKillNoticesAndAlerts)
{
    // The notice told, and the alert's line under the name (empty when hidden).
    const std::tuple<Verdict, QString, QString> cases[] = {
        {Verdict::Denied, "Stopped bad (/bin/bad) before it started: it is on the deny list.", ""},
        {Verdict::Unknown, "", "stopped till you decide"},
        {Verdict::Held, "", "bad waits to start"},
    };
    for (const auto& [verdict, told, waits] : cases) {
        SCOPED_TRACE(int(verdict));
        LinkBed b(kSafe);
        b.exec(7, verdict, "bad");
        const bool alert = !waits.isEmpty();
        EXPECT_EQ(b.told.join(""), told);
        EXPECT_EQ(b.main.isVisible(), alert);
        EXPECT_EQ(b.main.lblStopped->isVisible() ? b.main.lblStopped->text() : "", waits);
        EXPECT_EQ(only<Seen>(b.sent).size(), verdict == Verdict::Held ? 1 : 0);
        EXPECT_EQ(b.guard.appRecord, alert ? "bad|/bin/bad" : "");
        EXPECT_EQ(b.t.journal.field("MIRVAK_EVENT").contains("ended"), !told.isEmpty());
    }
}

TEST(GateLink, EachButtonAnswersTheShownExecAndEndsNothingThenTheNextWaitsItsTurnTillTheGateLeaves)
{
    for (const auto& [button, allow] : std::vector<std::pair<void (frmMain::*)(), bool>>{
             {&frmMain::btnAllow_MouseUp, true}, {&frmMain::btnAllowNow_MouseUp, true}, {&frmMain::btnDeny_MouseUp, false},
             {&frmMain::btnDenyNow_MouseUp, false}, {&frmMain::btnClose_MouseUp, false}}) {
        LinkBed b(kSafe);
        b.exec(3, Verdict::Held, "three");
        b.exec(4, Verdict::Held, "four");
        b.exec(5, Verdict::Held, "five");
        (b.main.*button)();
        QApplication::processEvents();
        EXPECT_TRUE(b.main.isVisible());
        EXPECT_EQ(b.guard.appName, "four");
        EXPECT_TRUE(b.t.processes.killed.empty());
        EXPECT_TRUE(b.t.shell.started.empty());
        b.up = false;
        b.closed();
        EXPECT_FALSE(b.main.isVisible());
        EXPECT_FALSE(b.link.isOn());
        EXPECT_EQ(only<Answer>(b.sent).size(), 1);
        EXPECT_EQ(encode(only<Answer>(b.sent).value(0)), encode(Answer{3, allow}));
        // The retry comes back with the whole lists.
        EXPECT_TRUE(b.link.retry.isActive());
        EXPECT_TRUE(b.link.connectGate());
        // The gate let "five" start when the guard went: the new link shows none of the old holds.
        EXPECT_FALSE(b.link.showNext());
        EXPECT_EQ(only<Hello>(b.sent).size(), 2);
        EXPECT_EQ(only<ListBegin>(b.sent).size(), 4);
        // Paused, the guard leaves the gate and stays away.
        b.guard.timerOff();
        EXPECT_FALSE(b.isOpen());
        EXPECT_FALSE(b.link.retry.isActive());
    }
}

TEST(GateLink, AHoldEndedAtGateHoldTakesAlertDefaultAsIfPressed)
{
    for (const QString name : {"close", "allow_now", "deny_now"}) {
        LinkBed b({{"safe_level", "1"}, {"alert_default", name}});
        const bool allowed = name == "allow_now";
        const bool denied = name == "deny_now";
        b.exec(1, Verdict::Held, "one");
        b.exec(2, Verdict::Held, "two");
        // The one that waits its turn is taken as the one shown.
        b.deliver(Done{2, allowed, Reason::Timeout});
        b.deliver(Done{1, allowed, Reason::Timeout});
        QApplication::processEvents();
        EXPECT_FALSE(b.main.isVisible()) << qPrintable(name);
        EXPECT_TRUE(only<Answer>(b.sent).isEmpty()) << qPrintable(name);
        for (const QString record : {"one|/bin/one", "two|/bin/two"}) {
            EXPECT_EQ(b.t.app.allowTmp.search(record, {}) > 0, allowed) << qPrintable(name);
            EXPECT_EQ(b.t.app.denyTmp.search(record, {}) > 0, denied) << qPrintable(name);
        }
        const int pressed = allowed || denied ? 1 : 0;
        EXPECT_EQ(b.t.journal.field("MIRVAK_NAME").count("two"), pressed) << qPrintable(name);
        EXPECT_EQ(b.t.journal.field("MIRVAK_ANSWER").count(name.toUtf8()), 2 * pressed) << qPrintable(name);
    }
}

// The guard's core against the real gate: an unknown exec held until the
// alert's answer, and a guard that goes releases every exec it held.
TEST(GateLinkReal, TheGuardsAlertAnswersTheGatesExecs)
{
    GATE_RIG(rig);
    ASSERT_TRUE(rig.startRealGuard());
    for (const auto& [name, press, code] : {std::tuple("yes", "press allow", 0), std::tuple("no", "press deny", 126)}) {
        auto run = rig.start(rig.program(name));
        EXPECT_EQ(rig.guardLine("alert"), QString("alert ") + name);
        EXPECT_FALSE(rig.ran(name));
        EXPECT_EQ(run->state(), QProcess::Running);
        rig.guard->write(QByteArray(press) + "\n");
        ASSERT_TRUE(rig.guard->waitForBytesWritten());
        EXPECT_EQ(gateharness::Rig::finish(*run).code, code) << name;
        EXPECT_EQ(rig.ran(name), code == 0) << name;
    }
    auto first = rig.start(rig.program("first"));
    auto second = rig.start(rig.program("second"));
    EXPECT_TRUE(rig.guardLine("alert").startsWith("alert "));
    rig.guard->kill();
    rig.guard->waitForFinished();
    EXPECT_EQ(gateharness::Rig::finish(*first).code, 0);
    EXPECT_EQ(gateharness::Rig::finish(*second).code, 0);
    EXPECT_TRUE(rig.ran("first"));
    EXPECT_TRUE(rig.ran("second"));
}

} // namespace
