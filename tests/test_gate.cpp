// SPDX-License-Identifier: GPL-3.0-or-later
// The exec gate's decisions, through fake events, files, processes and guards.
#include "GateFakes.h"
#include "gate/ExecRecord.h"
#include "gate/Mounts.h"

#include <gtest/gtest.h>

using namespace gatewire;

namespace {

constexpr qint64 kGuardUser = 1000;
constexpr qint64 kGuardPid = 500;
constexpr int kPeer = 1;

struct GateTest : ::testing::Test, FakeGate {};

// One exec of each kind, with the guard's lists at level 1.
struct DecisionCase {
    const char* what;
    bool safe;
    qint64 uid;
    qint64 parent;
    platform::ExecFiles::Kind kind;
    const char* name;
    std::optional<bool> answer;   // nullopt: held
    std::optional<Verdict> told;  // the note the guard gets
};

class GateDecision : public GateTest, public ::testing::WithParamInterface<DecisionCase> {};

TEST_P(GateDecision, AnswersAsTheListsSay)
{
    const DecisionCase& c = GetParam();
    guard(kPeer, kGuardUser, kGuardPid, settings(c.safe), {QStringLiteral("ok|/opt/ok")},
          {QStringLiteral("bad|/opt/bad")});
    files.kinds.insert(7, c.kind);
    exec(7, 900, c.uid, QString::fromLatin1(c.name), c.parent);
    EXPECT_EQ(events.answerOf(7), c.answer) << c.what;
    const auto notes = peers.execs(kPeer);
    ASSERT_EQ(notes.size(), c.told ? 1 : 0) << c.what;
    if (c.told) {
        EXPECT_EQ(notes[0].verdict, *c.told) << c.what;
        EXPECT_EQ(notes[0].name, QString::fromLatin1(c.name));
        EXPECT_EQ(notes[0].record, QStringLiteral("%1|/opt/%1").arg(QString::fromLatin1(c.name)));
    }
}

using Kind = platform::ExecFiles::Kind;
INSTANTIATE_TEST_SUITE_P(Cases, GateDecision, ::testing::Values(
    DecisionCase{"allow-listed", true, kGuardUser, 1, Kind::Program, "ok", true, std::nullopt},
    DecisionCase{"deny-listed", false, kGuardUser, 1, Kind::Program, "bad", false, Verdict::Denied},
    DecisionCase{"unknown, safe_level 0", false, kGuardUser, 1, Kind::Program, "new", true, Verdict::Unknown},
    DecisionCase{"unknown, safe_level 1", true, kGuardUser, 1, Kind::Program, "new", std::nullopt, Verdict::Held},
    DecisionCase{"another user's", true, 1001, 1, Kind::Program, "bad", true, std::nullopt},
    DecisionCase{"root's", true, 0, 1, Kind::Program, "bad", true, std::nullopt},
    DecisionCase{"the guard's child, denied", true, kGuardUser, kGuardPid, Kind::Program, "bad", true, std::nullopt},
    DecisionCase{"the guard's child, unknown", true, kGuardUser, kGuardPid, Kind::Program, "new", true, std::nullopt},
    DecisionCase{"the gate's own child", true, kGuardUser, 42, Kind::Program, "bad", true, std::nullopt},
    DecisionCase{"a script: its interpreter decides", true, kGuardUser, 1, Kind::Script, "bad", true, std::nullopt},
    DecisionCase{"a loader", true, kGuardUser, 1, Kind::Loader, "new", true, std::nullopt}));

TEST_F(GateTest, AllowsEveryExecWhileNoGuardHasHandedOverItsSettings)
{
    exec(1, 900, kGuardUser, QStringLiteral("bad"));
    gate.connected(kPeer, kGuardUser, kGuardPid);
    send(kPeer, Hello{});
    exec(2, 901, kGuardUser, QStringLiteral("bad"));
    EXPECT_EQ(events.answerOf(1), true);
    EXPECT_EQ(events.answerOf(2), true);
}

TEST_F(GateTest, TheAdministratorsDenyRecordsRefuseAnyOrdinaryUserAtEachRecordsLevel)
{
    const QString hex = QCryptographicHash::hash("tool", QCryptographicHash::Sha256).toHex();
    Collection denied;
    denied.add("bad");
    denied.add("worse|2K|/opt/worse");
    denied.add("tool|2023.11.14 22:13|2K|/opt/tool|sha256:" + hex);
    gate.setDenied(denied);
    // Over the user's own allow list too.
    guard(kPeer, kGuardUser, kGuardPid, settings(false), {"bad|/opt/bad"});
    files.contents.insert(77, "tool");
    exec(1, 900, kGuardUser, "bad");
    exec(2, 901, 1001, "worse");
    exec(3, 902, Gate::kFirstUser - 1, "bad");
    exec(4, 903, 0, "bad");
    exec(5, 904, kGuardUser, "tool", 1, 77);
    EXPECT_FALSE(events.answerOf(5));
    finishHashes();
    const std::map<int, bool> answers{{1, false}, {2, false}, {3, true}, {4, true}, {5, false}};
    EXPECT_EQ(events.answers, answers);
    ASSERT_EQ(peers.execs(kPeer).size(), 2);
    EXPECT_EQ(peers.execs(kPeer)[0].verdict, Verdict::Denied);
    EXPECT_EQ(peers.execs(kPeer)[0].record, "bad");
}

struct HeldCase {
    const char* what;
    std::function<void(FakeGate&, quint64 id)> act;
    std::optional<bool> answer;
    std::optional<Reason> done;
    AlertDefault byDefault = AlertDefault::Close;
};

TEST(GateHeld, AreAnsweredByTheGuardOrByTheirDeadlines)
{
    const auto atHold = [](FakeGate& t, quint64 id) {
        t.send(kPeer, Seen{id});
        t.now = 30000;
        t.gate.expire();
    };
    const HeldCase cases[] = {
        {"Allow", [](FakeGate& t, quint64 id) { t.send(kPeer, Answer{id, true}); }, true, std::nullopt},
        {"Deny", [](FakeGate& t, quint64 id) { t.send(kPeer, Answer{id, false}); }, false, std::nullopt},
        {"another guard's answer counts for nothing",
         [](FakeGate& t, quint64 id) {
             t.guard(2, 1001, 600, FakeGate::settings(true));
             t.send(2, Answer{id, true});
         },
         std::nullopt, std::nullopt},
        {"unseen at 500 ms: the lists decide, so it runs",
         [](FakeGate& t, quint64) {
             t.now = 500;
             t.gate.expire();
         },
         true, Reason::Unanswered},
        {"seen, then not answered at gate_hold: alert_default Close refuses",
         [](FakeGate& t, quint64 id) {
             t.send(kPeer, Seen{id});
             t.now = 29999;
             t.gate.expire();
             EXPECT_EQ(t.gate.held(), 1);
             t.now = 30000;
             t.gate.expire();
         },
         false, Reason::Timeout},
        {"alert_default AllowNow at gate_hold", atHold, true, Reason::Timeout, AlertDefault::AllowNow},
        {"alert_default DenyNow at gate_hold", atHold, false, Reason::Timeout, AlertDefault::DenyNow},
        {"the guard goes away",
         [](FakeGate& t, quint64 id) {
             t.send(kPeer, Seen{id});
             t.gate.disconnected(kPeer);
         },
         true, std::nullopt},
        {"the gate stops",
         [](FakeGate& t, quint64 id) {
             t.send(kPeer, Seen{id});
             t.gate.stop();
         },
         true, Reason::Stopping},
    };
    for (const HeldCase& c : cases) {
        FakeGate t;
        t.guard(kPeer, kGuardUser, kGuardPid, FakeGate::settings(true, 1, c.byDefault));
        t.exec(5, 900, kGuardUser, QStringLiteral("new"));
        ASSERT_EQ(t.peers.execs(kPeer).size(), 1) << c.what;
        ASSERT_FALSE(t.events.answerOf(5)) << c.what;
        c.act(t, t.peers.execs(kPeer)[0].id);
        EXPECT_EQ(t.events.answerOf(5), c.answer) << c.what;
        const auto dones = t.peers.dones(kPeer);
        ASSERT_EQ(dones.size(), c.done ? 1 : 0) << c.what;
        if (c.done) {
            EXPECT_EQ(dones[0].reason, *c.done) << c.what;
            EXPECT_EQ(dones[0].allowed, *c.answer) << c.what;
        }
    }
}

TEST_F(GateTest, AGuardThatMissedAHeldExecHoldsNothingUntilItSpeaksAgain)
{
    guard(kPeer, kGuardUser, kGuardPid, settings(true));
    exec(1, 900, kGuardUser, QStringLiteral("new"));
    now = 500;
    gate.expire();
    exec(2, 901, kGuardUser, QStringLiteral("other"));
    EXPECT_EQ(events.answerOf(2), true);
    send(kPeer, Seen{1});
    exec(3, 902, kGuardUser, QStringLiteral("third"));
    EXPECT_FALSE(events.answerOf(3));
    EXPECT_EQ(gate.held(), 1);
}

TEST_F(GateTest, PastThirtyTwoHeldExecsAlertDefaultAnswersAtOnce)
{
    guard(kPeer, kGuardUser, kGuardPid, settings(true, 1, AlertDefault::DenyNow));
    for (int fd = 1; fd <= Gate::kMaxHeld + 2; ++fd)
        exec(fd, 900 + fd, kGuardUser, QStringLiteral("new%1").arg(fd));
    EXPECT_EQ(gate.held(), Gate::kMaxHeld);
    EXPECT_FALSE(events.answerOf(Gate::kMaxHeld));
    EXPECT_EQ(events.answerOf(Gate::kMaxHeld + 1), false);
    EXPECT_EQ(events.answerOf(Gate::kMaxHeld + 2), false);
}

TEST_F(GateTest, ListChangesTakeEffectAndAReplacedListCountsOnlyWhenWhole)
{
    guard(kPeer, kGuardUser, kGuardPid, settings(false), {}, {QStringLiteral("bad|/opt/bad")});
    send(kPeer, ListBegin{List::Deny});
    exec(1, 900, kGuardUser, QStringLiteral("bad"));
    EXPECT_EQ(events.answerOf(1), false) << "the old deny list holds while the new one arrives";
    send(kPeer, ListEnd{List::Deny});
    exec(2, 901, kGuardUser, QStringLiteral("bad"));
    EXPECT_EQ(events.answerOf(2), true);
    gate.received(kPeer, encodeChanges(List::Deny, true, {QStringLiteral("new|/opt/new")}).first());
    exec(3, 902, kGuardUser, QStringLiteral("new"));
    EXPECT_EQ(events.answerOf(3), false);
    gate.received(kPeer, encodeChanges(List::Deny, false, {QStringLiteral("new|/opt/new")}).first());
    exec(4, 903, kGuardUser, QStringLiteral("new"));
    EXPECT_EQ(events.answerOf(4), true);
}

TEST_F(GateTest, LevelFourHashesEachVersionOnceAndBesideTheOtherExecs)
{
    const QString hex = QString::fromLatin1(QCryptographicHash::hash("tool", QCryptographicHash::Sha256).toHex());
    guard(kPeer, kGuardUser, kGuardPid, settings(false, 4), {},
          {QStringLiteral("tool|2023.11.14 22:13|2K|/opt/tool|sha256:") + hex});
    files.contents.insert(77, "tool");
    exec(1, 900, kGuardUser, QStringLiteral("tool"), 1, 77);
    exec(2, 901, kGuardUser, QStringLiteral("tool"), 1, 77);
    // Another user's exec and a cached one go on while the hash is read.
    exec(3, 902, 1001, QStringLiteral("tool"), 1, 77);
    EXPECT_FALSE(events.answerOf(1));
    EXPECT_EQ(events.answerOf(3), true);
    EXPECT_EQ(gate.hashing(), 2);
    finishHashes();
    EXPECT_EQ(events.answerOf(1), false);
    EXPECT_EQ(events.answerOf(2), false);
    exec(4, 903, kGuardUser, QStringLiteral("tool"), 1, 77);
    EXPECT_EQ(events.answerOf(4), false);
    EXPECT_EQ(files.hashes, 1);
    // A file that cannot be read has no digest, so its record matches no level-4 record.
    exec(5, 904, kGuardUser, QStringLiteral("tool"), 1, 78);
    finishHashes();
    EXPECT_EQ(events.answerOf(5), true);
    EXPECT_EQ(peers.execs(kPeer).last().record, QStringLiteral("tool|2023.11.14 22:13|2K|/opt/tool"));
}

TEST(GateRecord, IsTheScansRecordAtEachLevel)
{
    platform::ExecFiles::Facts facts;
    facts.path = QStringLiteral("/usr/bin/tool");
    facts.regular = true;
    facts.size = 1536;
    facts.modifiedSec = 1700000000;   // 2023-11-14 22:13:20 UTC
    const QTimeZone utc(QByteArrayLiteral("UTC"));
    const QString hex(64, QLatin1Char('a'));
    const std::pair<double, QString> levels[] = {
        {0, QStringLiteral("tool")},
        {1, QStringLiteral("tool|/usr/bin/tool")},
        {2, QStringLiteral("tool|1.5K|/usr/bin/tool")},
        {3, QStringLiteral("tool|2023.11.14 22:13|1.5K|/usr/bin/tool")},
        {4, QStringLiteral("tool|2023.11.14 22:13|1.5K|/usr/bin/tool|sha256:") + hex},
    };
    for (const auto& [level, record] : levels)
        EXPECT_EQ(execRecord(level, QStringLiteral("tool"), facts, utc, hex), record) << level;
    EXPECT_EQ(execRecord(3, QStringLiteral("tool"), facts, QTimeZone(QByteArrayLiteral("Asia/Tokyo")), QString()),
              QStringLiteral("tool|2023.11.15 7:13|1.5K|/usr/bin/tool"));
    facts.path = QStringLiteral("/usr/bin/.hidden");
    EXPECT_EQ(execRecord(4, QStringLiteral(".hidden"), facts, utc, hex), QStringLiteral(".hidden"));
}

TEST(GateMounts, MarksEachLocalFileSystemOnce)
{
    const QByteArray table =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "23 22 0:21 / /proc rw,nosuid - proc proc rw\n"
        "24 22 0:5 / /dev rw,nosuid shared:2 - devtmpfs udev rw\n"
        "25 22 0:30 / /run rw,nosuid shared:5 - tmpfs tmpfs rw\n"
        "26 22 8:1 /home /srv/bind rw - ext4 /dev/sda1 rw\n"
        "27 22 0:40 / /mnt/my\\040disk rw - btrfs /dev/sdb1 rw\n"
        "28 22 0:41 / /net rw - nfs4 server:/ rw\n"
        "29 22 0:42 / /home/ann/fuse rw - fuse.sshfs ann@host: rw\n"
        "bad line\n";
    const QList<LocalFileSystem> found = localFileSystems(table);
    QStringList paths;
    for (const LocalFileSystem& fs : found)
        paths.append(fs.path);
    EXPECT_EQ(paths, (QStringList{QStringLiteral("/"), QStringLiteral("/run"), QStringLiteral("/mnt/my disk")}));
}

} // namespace
