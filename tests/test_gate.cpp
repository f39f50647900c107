// SPDX-License-Identifier: GPL-3.0-or-later
// The exec gate's decisions and its protocol, through fake events, files,
// processes and guards.
#include "gate/ExecRecord.h"
#include "gate/Gate.h"
#include "gate/Mounts.h"
#include "gate/Wire.h"

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
    std::map<int, bool> answers;   // by the event's fd
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
        if (!contents.contains(version.inode))
            return std::nullopt;
        return QCryptographicHash::hash(contents.value(version.inode), QCryptographicHash::Sha256);
    }
    std::optional<Info> info(qint64 pid) override { return table.contains(pid) ? std::optional(table.value(pid)) : std::nullopt; }
    void send(int peer, const QByteArray& message, bool) override { sent[peer].append(*decodeGate(message)); }
    void close(int peer) override { closed.insert(peer); }

    // nullopt while the exec waits.
    std::optional<bool> answerOf(int fd) const { return answers.contains(fd) ? std::optional(answers.at(fd)) : std::nullopt; }
    // The messages of one kind sent to `peer`, in order.
    template <class Message>
    QList<Message> told(int peer = kPeer) const
    {
        QList<Message> out;
        for (const GateMessage& message : sent.value(peer))
            if (const auto* one = std::get_if<Message>(&message))
                out.append(*one);
        return out;
    }
    static Settings settings(bool safe, double level = 1, AlertDefault byDefault = AlertDefault::Close)
    {
        return {level, safe, byDefault, 30, "UTC"};
    }
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
    // An exec of /opt/NAME by process `pid` of `uid`; the inode is the fd unless given.
    void exec(int fd, qint64 pid, qint64 uid, const QString& name, qint64 parent = 1, quint64 inode = 0)
    {
        table.insert(pid, {uid, parent});
        const quint64 version = inode ? inode : quint64(fd);
        files.insert(fd, Facts{{0, version, 2048, 0, 0}, "/opt/" + name, true, 1700000000});
        gate.exec({fd, pid});
    }
    void finishHashes()
    {
        for (auto& task : std::exchange(tasks, {}))
            task();
        QCoreApplication::sendPostedEvents(&gate);
    }
    // Guards of ann (peer 1, uid 1000) and bob (peer 2, uid 1001), who both
    // deny "bad"; bob's exec of "new" (fd 1) waits.
    void twoGuards()
    {
        guard(1, 1000, 101, settings(true), {}, {"bad|/opt/bad"});
        guard(2, 1001, 102, settings(true), {}, {"bad|/opt/bad"});
        exec(1, 1001, 1001, "new");
    }
};

struct GateTest : ::testing::Test, Bed {};

// Bob's guard, his held exec and his deny list are as they were.
void expectBobUntouched(Bed& t)
{
    EXPECT_FALSE(t.closed.contains(2));
    EXPECT_FALSE(t.answerOf(1));
    EXPECT_EQ(t.gate.held(), 1);
    t.exec(2, 1002, 1001, "bad");
    EXPECT_EQ(t.answerOf(2), false);
}

TEST(Gate, AnswersEachExecAsTheListsSay)
{
    struct Case {
        const char* what;
        bool safe;
        qint64 uid;
        qint64 parent;
        Kind kind;
        const char* name;
        std::optional<bool> answer;   // nullopt: held
        std::optional<Verdict> told;  // the note the guard gets
    };
    const Case cases[] = {
        {"allow-listed", true, kGuardUser, 1, Kind::Program, "ok", true, std::nullopt},
        {"deny-listed", false, kGuardUser, 1, Kind::Program, "bad", false, Verdict::Denied},
        {"unknown, safe_level 0", false, kGuardUser, 1, Kind::Program, "new", true, Verdict::Unknown},
        {"unknown, safe_level 1", true, kGuardUser, 1, Kind::Program, "new", std::nullopt, Verdict::Held},
        {"another user's", true, 1001, 1, Kind::Program, "bad", true, std::nullopt},
        {"the guard's child", true, kGuardUser, kGuardPid, Kind::Program, "bad", true, std::nullopt},
        {"the gate's own child", true, kGuardUser, 42, Kind::Program, "bad", true, std::nullopt},
        {"a script: its interpreter decides", true, kGuardUser, 1, Kind::Script, "bad", true, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bed t;
        t.guard(kPeer, kGuardUser, kGuardPid, Bed::settings(c.safe), {"ok|/opt/ok"}, {"bad|/opt/bad"});
        t.kinds.insert(7, c.kind);
        t.exec(7, 900, c.uid, c.name, c.parent);
        EXPECT_EQ(t.answerOf(7), c.answer);
        const auto notes = t.told<Exec>();
        ASSERT_EQ(notes.size(), c.told ? 1 : 0);
        if (c.told) {
            EXPECT_EQ(notes[0].verdict, *c.told);
            EXPECT_EQ(notes[0].record, QString("%1|/opt/%1").arg(c.name));
        }
    }
}

TEST(Gate, TheAdministratorsRecordsDecideInTheTicksOrder)
{
    struct Case {
        const char* what;
        bool userMayDeny;
        qint64 uid;
        const char* name;
        std::optional<bool> answer;
    };
    const Case cases[] = {
        {"a deny record over the user's allow list", true, kGuardUser, "bad", false},
        {"a deny record at its own level, guard or none", true, 1001, "worse", false},
        {"a deny record by its hash", true, kGuardUser, "tool", false},
        {"never a system account's exec", true, Gate::kFirstUser - 1, "bad", true},
        {"never root's exec", true, 0, "bad", true},
        {"an allow record runs what is held otherwise", true, kGuardUser, "site", true},
        {"the user's deny list over an allow record", true, kGuardUser, "mine", false},
        {"an allow record the user may not deny", false, kGuardUser, "mine", true},
        {"no guard: an allow record changes nothing", true, 1001, "site", true},
    };
    const QString hex = QCryptographicHash::hash("tool", QCryptographicHash::Sha256).toHex();
    Collection allowed;
    allowed.add("site|/opt/site");
    allowed.add("mine|/opt/mine");
    Collection denied;
    denied.add("bad");
    denied.add("worse|2K|/opt/worse");
    denied.add("tool|2023.11.14 22:13|2K|/opt/tool|sha256:" + hex);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bed t;
        t.gate.setPolicy(allowed, denied, c.userMayDeny);
        t.guard(kPeer, kGuardUser, kGuardPid, Bed::settings(true), {"bad|/opt/bad"}, {"mine|/opt/mine"});
        t.contents.insert(77, "tool");
        t.exec(1, 900, c.uid, c.name, 1, 77);
        t.finishHashes();
        EXPECT_EQ(t.answerOf(1), c.answer);
    }
}

TEST(Gate, AnswersAHeldExecByTheGuardOrByItsDeadlines)
{
    using Act = std::function<void(Bed&, quint64 id)>;
    const auto atMs = [](qint64 ms) -> Act {
        return [ms](Bed& t, quint64) {
            t.now = ms;
            t.gate.expire();
        };
    };
    struct Case {
        const char* what;
        bool seen;   // the guard says it saw the exec before the act
        Act act;
        std::optional<bool> answer;
        std::optional<Reason> done;
        AlertDefault byDefault = AlertDefault::Close;
    };
    const Case cases[] = {
        {"Allow", false, [](Bed& t, quint64 id) { t.say(kPeer, Answer{id, true}); }, true, std::nullopt},
        {"Deny", false, [](Bed& t, quint64 id) { t.say(kPeer, Answer{id, false}); }, false, std::nullopt},
        {"another guard's answer counts for nothing", false,
         [](Bed& t, quint64 id) {
             t.guard(2, 1001, 600, Bed::settings(true));
             t.say(2, Answer{id, true});
         },
         std::nullopt, std::nullopt},
        {"unseen at 500 ms: the lists decide, so it runs", false, atMs(500), true, Reason::Unanswered},
        {"seen: held up to gate_hold", true, atMs(29999), std::nullopt, std::nullopt},
        {"at gate_hold alert_default Close refuses", true, atMs(30000), false, Reason::Timeout},
        {"alert_default AllowNow at gate_hold", true, atMs(30000), true, Reason::Timeout, AlertDefault::AllowNow},
        {"the guard goes away", true, [](Bed& t, quint64) { t.gate.disconnected(kPeer); }, true, std::nullopt},
        {"the gate stops", true, [](Bed& t, quint64) { t.gate.stop(); }, true, Reason::Stopping},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bed t;
        t.guard(kPeer, kGuardUser, kGuardPid, Bed::settings(true, 1, c.byDefault));
        t.exec(5, 900, kGuardUser, "new");
        ASSERT_EQ(t.told<Exec>().size(), 1);
        ASSERT_FALSE(t.answerOf(5));
        const quint64 id = t.told<Exec>()[0].id;
        if (c.seen)
            t.say(kPeer, Seen{id});
        c.act(t, id);
        EXPECT_EQ(t.answerOf(5), c.answer);
        const auto dones = t.told<Done>();
        ASSERT_EQ(dones.size(), c.done ? 1 : 0);
        if (c.done) {
            EXPECT_EQ(dones[0].reason, *c.done);
            EXPECT_EQ(dones[0].allowed, *c.answer);
        }
    }
}

TEST_F(GateTest, AGuardThatMissedAHeldExecHoldsNothingUntilItSpeaksAgain)
{
    guard(kPeer, kGuardUser, kGuardPid, settings(true));
    exec(1, 900, kGuardUser, "new");
    now = 500;
    gate.expire();
    exec(2, 901, kGuardUser, "other");
    EXPECT_EQ(answerOf(2), true);
    say(kPeer, Seen{1});
    exec(3, 902, kGuardUser, "third");
    EXPECT_FALSE(answerOf(3));
    EXPECT_EQ(gate.held(), 1);
}

TEST_F(GateTest, PastThirtyTwoHeldExecsAlertDefaultAnswersAtOnce)
{
    guard(kPeer, kGuardUser, kGuardPid, settings(true, 1, AlertDefault::DenyNow));
    for (int fd = 1; fd <= Gate::kMaxHeld + 1; ++fd)
        exec(fd, 900 + fd, kGuardUser, QString("new%1").arg(fd));
    EXPECT_EQ(gate.held(), Gate::kMaxHeld);
    EXPECT_FALSE(answerOf(Gate::kMaxHeld));
    EXPECT_EQ(answerOf(Gate::kMaxHeld + 1), false);
}

TEST_F(GateTest, ListChangesTakeEffectAndAReplacedListCountsOnlyWhenWhole)
{
    // Longer than one message can carry.
    QStringList records;
    for (int i = 0; i < 10000; ++i)
        records.append(QString("program%1|/opt/program%1").arg(i));
    guard(kPeer, kGuardUser, kGuardPid, settings(false), {}, records);
    exec(1, 900, kGuardUser, "program9999");
    EXPECT_EQ(answerOf(1), false);
    say(kPeer, ListBegin{List::Deny});
    exec(2, 901, kGuardUser, "program1");
    EXPECT_EQ(answerOf(2), false) << "the old deny list holds while the new one arrives";
    say(kPeer, ListEnd{List::Deny});
    exec(3, 902, kGuardUser, "program1");
    EXPECT_EQ(answerOf(3), true);
    gate.received(kPeer, encodeChanges(List::Deny, true, {"new|/opt/new"}).first());
    exec(4, 903, kGuardUser, "new");
    EXPECT_EQ(answerOf(4), false);
    gate.received(kPeer, encodeChanges(List::Deny, false, {"new|/opt/new"}).first());
    exec(5, 904, kGuardUser, "new");
    EXPECT_EQ(answerOf(5), true);
}

TEST_F(GateTest, LevelFourHashesEachVersionOnceAndBesideTheOtherExecs)
{
    const QString record = "tool|2023.11.14 22:13|2K|/opt/tool";
    guard(kPeer, kGuardUser, kGuardPid, settings(false, 4), {},
          {record + "|sha256:" + QCryptographicHash::hash("tool", QCryptographicHash::Sha256).toHex()});
    contents.insert(77, "tool");
    exec(1, 900, kGuardUser, "tool", 1, 77);
    exec(2, 901, kGuardUser, "tool", 1, 77);
    // Another user's exec goes on while the hash is read.
    exec(3, 902, 1001, "tool", 1, 77);
    EXPECT_FALSE(answerOf(1));
    EXPECT_EQ(answerOf(3), true);
    EXPECT_EQ(gate.hashing(), 2);
    finishHashes();
    EXPECT_EQ(answerOf(1), false);
    EXPECT_EQ(answerOf(2), false);
    exec(4, 903, kGuardUser, "tool", 1, 77);
    EXPECT_EQ(answerOf(4), false);
    EXPECT_EQ(hashes, 1);
    // A file that cannot be read has no digest, so its record matches no level-4 record.
    exec(5, 904, kGuardUser, "tool", 1, 78);
    finishHashes();
    EXPECT_EQ(answerOf(5), true);
    EXPECT_EQ(told<Exec>().last().record, record);
}

TEST(GateRecord, IsTheScansRecordAtEachLevel)
{
    // Changed 2023-11-14 22:13:20 UTC.
    platform::ExecFiles::Facts facts{{0, 0, 1536, 0, 0}, "/usr/bin/tool", true, 1700000000};
    const QTimeZone utc("UTC");
    const QString hex(64, 'a');
    const QString levels[] = {"tool", "tool|/usr/bin/tool", "tool|1.5K|/usr/bin/tool",
                              "tool|2023.11.14 22:13|1.5K|/usr/bin/tool",
                              "tool|2023.11.14 22:13|1.5K|/usr/bin/tool|sha256:" + hex};
    for (int level = 0; level <= 4; ++level)
        EXPECT_EQ(execRecord(level, "tool", facts, utc, hex), levels[level]) << level;
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

QByteArray u32(quint32 v)
{
    const quint32 le = qToLittleEndian(v);
    return QByteArray(reinterpret_cast<const char*>(&le), 4);
}

TEST(GateWire, AMalformedOrMisplacedMessageClosesThatGuardAlone)
{
    const QByteArray listAdd = QByteArray(1, char(Type::ListAdd)) + '\0';
    // Each after ann's Hello, settings and lists, or on a connection of her own.
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
        Bed t;
        t.twoGuards();
        if (fresh) {
            t.gate.disconnected(1);
            t.gate.connected(1, 1000, 101);
        }
        for (const QByteArray& message : messages)
            t.gate.received(1, message);
        EXPECT_TRUE(t.closed.contains(1));
        expectBobUntouched(t);
        // Ann's lists are gone with her guard.
        t.exec(3, 1003, 1000, "bad");
        EXPECT_EQ(t.answerOf(3), true);
    }
}

TEST(GateWire, FuzzedMessagesNeverReachAnotherGuard)
{
    const QList<QByteArray> valid = {encode(Hello{}), encode(Settings{}), encode(ListBegin{List::Deny}),
                                     encodeChanges(List::Allow, true, {"a|/b", "c"}).first(),
                                     encode(ListEnd{List::Deny}), encode(Seen{1}), encode(Answer{1, true})};
    QRandomGenerator random(24);
    for (int round = 0; round < 3000 && !::testing::Test::HasFailure(); ++round) {
        QByteArray message = valid[random.bounded(int(valid.size()))];
        switch (random.bounded(3)) {
        case 0:
            message[random.bounded(int(message.size()))] = char(random.bounded(256));
            break;
        case 1:
            message.truncate(random.bounded(int(message.size())));
            break;
        default:
            message.append(char(random.bounded(256)));
        }
        SCOPED_TRACE(message.toHex().constData());
        Bed t;
        t.twoGuards();
        t.gate.received(1, message);
        expectBobUntouched(t);
    }
}

} // namespace
