// SPDX-License-Identifier: GPL-3.0-or-later
// The exec gate's decisions and its protocol, through fake events, files,
// processes and guards.
#include "gate/ExecRecord.h"
#include "gate/Gate.h"
#include "gate/Mounts.h"
#include "gate/Wire.h"
#include "GateHarness.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QSet>
#include <QtEndian>
#include <gtest/gtest.h>

using namespace gatewire;
using Kind = platform::ExecFiles::Kind;

namespace {

constexpr qint64 kGuardUser = 1000;
constexpr qint64 kGuardPid = 500;
constexpr int kPeer = 1;

// A gate on stand-ins for the system, whose hashes wait until finishHashes.
struct Bed : platform::ExecEvents, platform::ExecFiles, platform::ExecProcesses, platform::GatePeers {
    QHash<int, std::optional<bool>> answers;   // by the event's fd; none while the exec waits
    QHash<int, Facts> files;
    QHash<int, Kind> kinds;
    QHash<quint64, QByteArray> contents;   // by inode
    int hashes = 0;
    QHash<qint64, Info> table;
    QHash<int, QList<GateMessage>> sent;
    QSet<int> closed;
    qint64 now = 0;
    std::vector<std::function<void()>> tasks;
    Gate gate{{*this, *this, *this, *this}, 42, [this] { return now; }};

    Bed() { gate.run = [this](std::function<void()> task) { tasks.push_back(std::move(task)); }; }
    void answer(const platform::ExecEvent& event, bool allow) override { answers[event.fd] = allow; }
    std::optional<Facts> facts(int fd) override { return files.contains(fd) ? std::optional(files.value(fd)) : std::nullopt; }
    Kind kind(int fd) override { return kinds.value(fd, Kind::Program); }
    int duplicate(int fd) override { return fd + 10000; }
    std::optional<QByteArray> sha256(int, const Facts& version) override
    {
        ++hashes;
        const auto it = contents.constFind(version.inode);
        return it == contents.cend() ? std::nullopt : std::optional(QCryptographicHash::hash(*it, QCryptographicHash::Sha256));
    }
    std::optional<Info> info(qint64 pid) override { return table.contains(pid) ? std::optional(table.value(pid)) : std::nullopt; }
    void send(int peer, const QByteArray& message, bool) override { sent[peer].append(*decodeGate(message)); }
    void close(int peer) override { closed.insert(peer); }

    // The messages of one kind sent to `peer`, in order.
    template <class Message>
    QList<Message> told(int peer = kPeer) const { return gateharness::only<Message>(sent.value(peer)); }
    static Settings settings(bool safe, double level = 1, AlertDefault byDefault = {}) { return {level, safe, byDefault, 30, "UTC"}; }
    void say(int peer, const GuardMessage& message) { gate.received(peer, encode(message)); }
    // Guard `peer`, process `pid` of `uid`, hands over its settings and lists.
    void guard(int peer, qint64 uid, qint64 pid, const Settings& s, const QStringList& allow = {}, const QStringList& deny = {})
    {
        table.insert(pid, {uid, 1});
        gate.connected(peer, uid, pid);
        say(peer, Hello{});
        say(peer, s);
        for (const auto& [list, records] : {std::pair{List::Allow, allow}, std::pair{List::Deny, deny}}) {
            say(peer, ListBegin{list});
            for (const QByteArray& message : encodeChanges(list, true, records))
                gate.received(peer, message);
            say(peer, ListEnd{list});
        }
    }
    // An exec of /opt/NAME by process 900 + fd of `uid`, the inode the fd's
    // unless given; its answer so far.
    std::optional<bool> exec(int fd, qint64 uid, const QString& name, qint64 parent = 1, quint64 inode = 0)
    {
        table.insert(900 + fd, {uid, parent});
        files.insert(fd, Facts{{0, inode ? inode : quint64(fd), 2048, 0, 0}, "/opt/" + name, true, 1700000000});
        gate.exec({fd, 900 + fd});
        return answers.value(fd);
    }
    void finishHashes()
    {
        for (auto& task : std::exchange(tasks, {}))
            task();
        QCoreApplication::sendPostedEvents(&gate);
    }
};

struct GateTest : ::testing::Test, Bed {};

TEST(Gate, AnswersEachExecAsTheListsAndTheAdministratorsRecordsSay)
{
    struct Case {
        const char* what;
        const char* name;
        std::optional<bool> answer;   // nullopt: held
        QString told = {};            // the note the guard gets: "VERDICT RECORD"
        qint64 uid = kGuardUser;
        bool safe = true;
        qint64 parent = 1;
        Kind kind = Kind::Program;
        bool userMayDeny = true;
    };
    // The user allows ok and banned and denies bad and mine; the administrator
    // allows site and mine and denies banned, worse at its own level and tool by its hash.
    const QString hex = QCryptographicHash::hash("tool", QCryptographicHash::Sha256).toHex();
    const QString tool = "tool|2023.11.14 22:13|2K|/opt/tool|sha256:" + hex;
    const Case cases[] = {
        {"allow-listed", "ok", true},
        {.what = "deny-listed", .name = "bad", .answer = false, .told = "denied bad|/opt/bad", .safe = false},
        {.what = "unknown, safe_level 0", .name = "new", .answer = true, .told = "unknown new|/opt/new", .safe = false},
        {"unknown, safe_level 1", "new", std::nullopt, "held new|/opt/new"},
        {"another user's, who has no guard", "bad", true, "", 1001},
        {.what = "the guard's child", .name = "bad", .answer = true, .parent = kGuardPid},
        {.what = "the gate's own child", .name = "bad", .answer = true, .parent = 42},
        {.what = "a script: its interpreter decides", .name = "bad", .answer = true, .kind = Kind::Script},
        {"a deny record over the user's allow list, named to the guard", "banned", false, "denied banned"},
        {"a deny record at its own level, guard or none", "worse", false, "", 1001},
        {"a deny record by its hash", "tool", false, "denied " + tool},
        {"never a system account's exec", "banned", true, "", Gate::kFirstUser - 1},
        {"never root's exec", "banned", true, "", 0},
        {"an allow record runs what is held otherwise", "site", true},
        {"the user's deny list over an allow record", "mine", false, "denied mine|/opt/mine"},
        {.what = "an allow record the user may not deny", .name = "mine", .answer = true, .userMayDeny = false},
    };
    Collection allowed;
    for (const QString record : {"site|/opt/site", "mine|/opt/mine"})
        allowed.add(record);
    Collection denied;
    for (const QString& record : QStringList{"banned", "worse|2K|/opt/worse", tool})
        denied.add(record);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bed t;
        t.gate.setPolicy(allowed, denied, c.userMayDeny);
        t.guard(kPeer, kGuardUser, kGuardPid, Bed::settings(c.safe), {"ok|/opt/ok", "banned|/opt/banned"},
                {"bad|/opt/bad", "mine|/opt/mine"});
        t.kinds.insert(7, c.kind);
        t.contents.insert(77, "tool");
        t.exec(7, c.uid, c.name, c.parent, 77);
        t.finishHashes();
        EXPECT_EQ(t.answers.value(7), c.answer);
        QStringList notes;
        for (const Exec& note : t.told<Exec>())
            notes << QString("%1 %2").arg(QStringList{"", "denied", "unknown", "held"}[int(note.verdict)], note.record);
        EXPECT_EQ(notes.join('\n'), c.told);
    }
}

TEST(Gate, AnswersAHeldExecByTheGuardOrByItsDeadlines)
{
    using Act = std::function<void(Bed&, quint64 id)>;
    const auto answer = [](int peer, bool allow) -> Act { return [=](Bed& t, quint64 id) { t.say(peer, Answer{id, allow}); }; };
    struct Case {
        const char* what;
        bool seen;   // the guard says it saw the exec before the act
        Act act;
        qint64 atMs;   // then the held execs whose time is up by then are answered
        std::optional<bool> answer;
        std::optional<Reason> done;
        AlertDefault byDefault = AlertDefault::Close;
    };
    const Case cases[] = {
        {"Allow", false, answer(kPeer, true), 0, true, std::nullopt},
        {"Deny", false, answer(kPeer, false), 0, false, std::nullopt},
        {"another guard's answer counts for nothing", false, answer(2, true), 0, std::nullopt, std::nullopt},
        {"unseen at 500 ms: the lists decide, so it runs", false, {}, 500, true, Reason::Unanswered},
        {"seen: held up to gate_hold", true, {}, 29999, std::nullopt, std::nullopt},
        {"at gate_hold alert_default Close refuses", true, {}, 30000, false, Reason::Timeout},
        {"alert_default AllowNow at gate_hold", true, {}, 30000, true, Reason::Timeout, AlertDefault::AllowNow},
        {"the guard goes away", true, [](Bed& t, quint64) { t.gate.disconnected(kPeer); }, 0, true, std::nullopt},
        {"the gate stops", true, [](Bed& t, quint64) { t.gate.stop(); }, 0, true, Reason::Stopping},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bed t;
        t.guard(kPeer, kGuardUser, kGuardPid, Bed::settings(true, 1, c.byDefault));
        t.guard(2, 1001, 600, Bed::settings(true));
        ASSERT_FALSE(t.exec(5, kGuardUser, "new"));
        ASSERT_EQ(t.told<Exec>().size(), 1);
        const quint64 id = t.told<Exec>()[0].id;
        if (c.seen)
            t.say(kPeer, Seen{id});
        if (c.act)
            c.act(t, id);
        t.now = c.atMs;
        t.gate.expire();
        EXPECT_EQ(t.answers.value(5), c.answer);
        EXPECT_EQ(t.told<Done>().size(), c.done ? 1 : 0);
        EXPECT_EQ(encode(t.told<Done>().value(0)), encode(c.done ? Done{id, *c.answer, *c.done} : Done{}));
    }
}

TEST_F(GateTest, AGuardThatMissedAHeldExecHoldsNothingUntilItSpeaksAgain)
{
    guard(kPeer, kGuardUser, kGuardPid, settings(true));
    exec(1, kGuardUser, "new");
    now = 500;
    gate.expire();
    EXPECT_EQ(exec(2, kGuardUser, "other"), true);
    say(kPeer, Seen{1});
    EXPECT_FALSE(exec(3, kGuardUser, "third"));
    EXPECT_EQ(gate.held(), 1);
}

TEST_F(GateTest, PastThirtyTwoHeldExecsAlertDefaultAnswersAtOnce)
{
    guard(kPeer, kGuardUser, kGuardPid, settings(true, 1, AlertDefault::DenyNow));
    for (int fd = 1; fd <= Gate::kMaxHeld + 1; ++fd)
        exec(fd, kGuardUser, QString("new%1").arg(fd));
    EXPECT_EQ(gate.held(), Gate::kMaxHeld);
    EXPECT_FALSE(answers.value(Gate::kMaxHeld));
    EXPECT_EQ(answers.value(Gate::kMaxHeld + 1), false);
}

TEST_F(GateTest, ListChangesTakeEffectAndAReplacedListCountsOnlyWhenWhole)
{
    // Longer than one message can carry.
    QStringList records;
    for (int i = 0; i < 10000; ++i)
        records.append(QString("program%1|/opt/program%1").arg(i));
    guard(kPeer, kGuardUser, kGuardPid, settings(false), {}, records);
    EXPECT_EQ(exec(1, kGuardUser, "program9999"), false);
    say(kPeer, ListBegin{List::Deny});
    EXPECT_EQ(exec(2, kGuardUser, "program1"), false) << "the old deny list holds while the new one arrives";
    say(kPeer, ListEnd{List::Deny});
    EXPECT_EQ(exec(3, kGuardUser, "program1"), true);
    gate.received(kPeer, encodeChanges(List::Deny, true, {"new|/opt/new"}).first());
    EXPECT_EQ(exec(4, kGuardUser, "new"), false);
    gate.received(kPeer, encodeChanges(List::Deny, false, {"new|/opt/new"}).first());
    EXPECT_EQ(exec(5, kGuardUser, "new"), true);
}

TEST_F(GateTest, LevelFourHashesEachVersionOnceAndBesideTheOtherExecs)
{
    const QString record = "tool|2023.11.14 22:13|2K|/opt/tool";
    guard(kPeer, kGuardUser, kGuardPid, settings(false, 4), {},
          {record + "|sha256:" + QCryptographicHash::hash("tool", QCryptographicHash::Sha256).toHex()});
    contents.insert(77, "tool");
    EXPECT_FALSE(exec(1, kGuardUser, "tool", 1, 77));
    exec(2, kGuardUser, "tool", 1, 77);
    // Another user's exec goes on while the hash is read.
    EXPECT_EQ(exec(3, 1001, "tool", 1, 77), true);
    EXPECT_EQ(gate.hashing(), 2);
    finishHashes();
    EXPECT_EQ(answers.value(1), false);
    EXPECT_EQ(answers.value(2), false);
    EXPECT_EQ(exec(4, kGuardUser, "tool", 1, 77), false);
    EXPECT_EQ(hashes, 1);
    // A file that cannot be read has no digest, so its record matches no level-4 record.
    exec(5, kGuardUser, "tool", 1, 78);
    finishHashes();
    EXPECT_EQ(answers.value(5), true);
    EXPECT_EQ(told<Exec>().last().record, record);
}

TEST(GateRecord, IsTheScansRecordAtEachLevel)
{
    // Changed 2023-11-14 22:13:20 UTC.
    platform::ExecFiles::Facts facts{{0, 0, 1536, 0, 0}, "/usr/bin/tool", true, 1700000000};
    const QString hex(64, 'a');
    const QString levels[] = {"tool", "tool|/usr/bin/tool", "tool|1.5K|/usr/bin/tool",
                              "tool|2023.11.14 22:13|1.5K|/usr/bin/tool",
                              "tool|2023.11.14 22:13|1.5K|/usr/bin/tool|sha256:" + hex};
    for (int level = 0; level <= 4; ++level)
        EXPECT_EQ(execRecord(level, "tool", facts, QTimeZone("UTC"), hex), levels[level]) << level;
    EXPECT_EQ(execRecord(3, "tool", facts, QTimeZone("Asia/Tokyo"), QString()), "tool|2023.11.15 7:13|1.5K|/usr/bin/tool");
}

TEST(GateMounts, MarksEachLocalFileSystemOnce)
{
    const QByteArray table = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                             "23 22 0:21 / /proc rw,nosuid - proc proc rw\n"
                             "25 22 0:30 / /run rw,nosuid shared:5 - tmpfs tmpfs rw\n"
                             "26 22 8:1 /home /srv/bind rw - ext4 /dev/sda1 rw\n"
                             "27 22 0:40 / /mnt/my\\040disk rw - btrfs /dev/sdb1 rw\n"
                             "28 22 0:41 / /net rw - nfs4 server:/ rw\n"
                             "bad line\n";
    QStringList paths;
    for (const LocalFileSystem& fs : localFileSystems(table))
        paths.append(fs.path);
    EXPECT_EQ(paths, QStringList({"/", "/run", "/mnt/my disk"}));
}

// Ann's guard (peer 1, uid 1000) gets `messages` after her settings and
// lists, or on a connection of her own; bob's (peer 2, uid 1001), his held
// exec and his deny list stay as they were. True when ann's guard is closed
// and her lists are gone with it.
bool closesAnnAlone(const QList<QByteArray>& messages, bool fresh = false)
{
    Bed t;
    for (const int peer : {1, 2})
        t.guard(peer, 999 + peer, 100 + peer, Bed::settings(true), {}, {"bad|/opt/bad"});
    t.exec(1, 1001, "new");
    if (fresh) {
        t.gate.disconnected(1);
        t.gate.connected(1, 1000, 101);
    }
    for (const QByteArray& message : messages)
        t.gate.received(1, message);
    EXPECT_FALSE(t.closed.contains(2));
    EXPECT_FALSE(t.answers.value(1));
    EXPECT_EQ(t.gate.held(), 1);
    EXPECT_EQ(t.exec(2, 1001, "bad"), false);
    return t.closed.contains(1) && t.exec(3, 1000, "bad") == true;
}

TEST(GateWire, AMalformedOrMisplacedMessageClosesThatGuardAloneAndNoneReachesAnother)
{
    const QByteArray listAdd = QByteArray(1, char(Type::ListAdd)) + '\0';
    const auto u32 = [](quint32 v) {
        const quint32 le = qToLittleEndian(v);
        return QByteArray(reinterpret_cast<const char*>(&le), 4);
    };
    const std::tuple<const char*, bool, QList<QByteArray>> cases[] = {
        {"empty", false, {QByteArray()}},
        {"unknown type", false, {QByteArray(1, char(0x55))}},
        {"second Hello", false, {encode(Hello{})}},
        {"truncated Seen", false, {encode(Seen{5}).left(5)}},
        {"level not a number", false, {encode(Settings{std::nan(""), false, AlertDefault::Close, 30, {}})}},
        {"flag neither 0 nor 1", false, {encode(Settings{}).replace(9, 1, "\x02")}},
        {"no such alert_default", false, {encode(Settings{1, false, AlertDefault(7), 30, {}})}},
        {"gate_hold beyond a day", false, {encode(Settings{1, false, AlertDefault::Close, 90000, {}})}},
        {"no such list", false, {QByteArray(1, char(Type::ListBegin)) + '\x02'}},
        {"end of a list never begun", false, {encode(ListEnd{List::Allow})}},
        {"count beyond the message", false, {listAdd + u32(1000) + u32(0)}},
        {"oversized", false, {encode(ListChange{List::Allow, true, {QString(kMaxMessage, 'x')}})}},
        {"lists before Hello", true, {encode(ListBegin{List::Allow})}},
        {"another version", true, {encode(Hello{kVersion + 1})}},
        {"a list begun twice", false, {encode(ListBegin{List::Deny}), encode(ListBegin{List::Deny})}},
    };
    for (const auto& [what, fresh, messages] : cases) {
        SCOPED_TRACE(what);
        EXPECT_TRUE(closesAnnAlone(messages, fresh));
    }
    // Valid messages changed at random, well-formed still or not: bytes cut,
    // replaced or added anywhere.
    const QList<QByteArray> valid = {encode(Hello{}), encode(Settings{}), encode(ListBegin{List::Deny}),
                                     encodeChanges(List::Allow, true, {"a|/b", "c"}).first(),
                                     encode(ListEnd{List::Deny}), encode(Seen{1}), encode(Answer{1, true})};
    QRandomGenerator random(24);
    for (int round = 0; round < 3000 && !::testing::Test::HasFailure(); ++round) {
        QByteArray message = valid[random.bounded(int(valid.size()))];
        const int at = random.bounded(int(message.size()) + 1);
        message.replace(at, random.bounded(int(message.size()) - at + 1), QByteArray(random.bounded(2), char(random.bounded(256))));
        SCOPED_TRACE(message.toHex().constData());
        closesAnnAlone({message});
    }
}

} // namespace
