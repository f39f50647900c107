// SPDX-License-Identifier: GPL-3.0-or-later
// The guard-gate protocol: every message round-trips, and anything but a
// well-formed message in its place closes that guard alone.
#include "GateFakes.h"

#include <QRandomGenerator>
#include <QtEndian>
#include <gtest/gtest.h>

using namespace gatewire;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

QByteArray u32(quint32 v)
{
    const quint32 le = qToLittleEndian(v);
    return QByteArray(reinterpret_cast<const char*>(&le), 4);
}

QByteArray settingsWith(double level, int safe, int byDefault, quint32 hold)
{
    Settings s;
    s.listLevel = level;
    QByteArray message = encode(s);
    message[9] = char(safe);
    message[10] = char(byDefault);
    message.replace(11, 4, u32(hold));
    return message;
}

// Two guards: ann (peer 1, uid 1000) and bob (peer 2, uid 1001), whose exec
// of "new" waits and whose deny list holds "bad".
struct TwoGuards : FakeGate {
    TwoGuards()
    {
        guard(1, 1000, 101, settings(true), {}, {QStringLiteral("bad|/opt/bad")});
        guard(2, 1001, 102, settings(true), {}, {QStringLiteral("bad|/opt/bad")});
        exec(1, 1001, QStringLiteral("new"));
    }
    void exec(int fd, qint64 uid, const QString& name) { FakeGate::exec(fd, 1000 + fd, uid, name); }
};

// Bob's guard and its held exec are as they were; ann's guard is gone.
void expectOnlyAnnClosed(TwoGuards& t, const char* what)
{
    EXPECT_TRUE(t.peers.closed.contains(1)) << what;
    EXPECT_FALSE(t.peers.closed.contains(2)) << what;
    EXPECT_FALSE(t.events.answerOf(1)) << what;
    EXPECT_EQ(t.gate.held(), 1) << what;
    t.exec(2, 1001, QStringLiteral("bad"));
    EXPECT_EQ(t.events.answerOf(2), false) << what;
    t.exec(3, 1000, QStringLiteral("bad"));
    EXPECT_EQ(t.events.answerOf(3), true) << what;
}

TEST(GateWire, EveryMessageRoundTrips)
{
    Settings s{3.5, true, AlertDefault::DenyNow, 12, QStringLiteral("Europe/Berlin")};
    const GuardMessage guard[] = {Hello{}, s, ListBegin{List::Deny},
                                  ListChange{List::Allow, false, {QStringLiteral("a|/x"), QString::fromUtf16(u"b|/\xDC80")}},
                                  ListEnd{List::Allow}, Seen{7}, Answer{9, true}, Sync{4}};
    for (const GuardMessage& m : guard)
        EXPECT_EQ(encode(*decodeGuard(encode(m))), encode(m));
    const GateMessage gate[] = {Welcome{}, Exec{3, Verdict::Held, false, 77, QStringLiteral("n"), QStringLiteral("/p/n"),
                                                QStringLiteral("n|/p/n")},
                                Done{3, true, Reason::Stopping}, Synced{4}};
    for (const GateMessage& m : gate)
        EXPECT_EQ(encode(*decodeGate(encode(m))), encode(m));
    const auto settings = std::get<Settings>(*decodeGuard(encode(s)));
    EXPECT_EQ(settings.listLevel, 3.5);
    EXPECT_EQ(settings.gateHold, 12u);
    EXPECT_EQ(settings.timeZone, QStringLiteral("Europe/Berlin"));
}

TEST(GateWire, LongListsTravelInMessagesThatFit)
{
    QStringList records;
    for (int i = 0; i < 10000; ++i)
        records.append(QStringLiteral("program%1|/usr/lib/some/long/folder/program%1").arg(i));
    const QList<QByteArray> messages = encodeChanges(List::Allow, true, records);
    QStringList back;
    for (const QByteArray& message : messages) {
        EXPECT_LE(message.size(), kMaxMessage);
        back += std::get<ListChange>(*decodeGuard(message)).records;
    }
    EXPECT_GT(messages.size(), 1);
    EXPECT_EQ(back, records);
}

TEST(GateWire, AMalformedOrMisplacedMessageClosesThatGuardAlone)
{
    QByteArray oversized = encodeChanges(List::Allow, true, {QString(60000, QLatin1Char('x'))}).first();
    oversized.append(QByteArray(kMaxMessage + 1 - oversized.size(), 'x'));
    const QByteArray hello = encode(Hello{});
    // Each after ann's Hello, settings and lists, or on a connection of its own.
    const std::tuple<const char*, bool, QList<QByteArray>> cases[] = {
        {"empty", false, {QByteArray()}},
        {"unknown type", false, {bytes({0x55})}},
        {"a gate's message", false, {encode(GateMessage(Welcome{}))}},
        {"second Hello", false, {hello}},
        {"truncated Seen", false, {encode(Seen{5}).left(5)}},
        {"trailing byte", false, {encode(Seen{5}) + '\0'}},
        {"level not a number", false, {settingsWith(std::nan(""), 0, 0, 30)}},
        {"flag neither 0 nor 1", false, {settingsWith(1, 2, 0, 30)}},
        {"no such alert_default", false, {settingsWith(1, 0, 7, 30)}},
        {"gate_hold beyond a day", false, {settingsWith(1, 0, 0, 90000)}},
        {"no such list", false, {bytes({int(Type::ListBegin), 2})}},
        {"end of a list never begun", false, {encode(ListEnd{List::Allow})}},
        {"count beyond the message", false, {bytes({int(Type::ListAdd), 0}) + u32(1000) + u32(0)}},
        {"text beyond the message", false, {bytes({int(Type::ListAdd), 0}) + u32(1) + u32(50) + "abc"}},
        {"answer cut short", false, {encode(Answer{1, true}).left(9)}},
        {"answer flag 5", false, {encode(Seen{1}).replace(0, 1, bytes({int(Type::Answer)})) + bytes({5})}},
        {"oversized", false, {oversized}},
        {"lists before Hello", true, {encode(ListBegin{List::Allow})}},
        {"another version", true, {encode(Hello{kVersion + 1})}},
        {"a list begun twice", false, {encode(ListBegin{List::Deny}), encode(ListBegin{List::Deny})}},
    };
    for (const auto& [what, fresh, messages] : cases) {
        TwoGuards t;
        if (fresh) {
            t.gate.disconnected(1);
            t.gate.connected(1, 1000, 101);
        }
        for (const QByteArray& message : messages)
            t.gate.received(1, message);
        expectOnlyAnnClosed(t, what);
    }
}

TEST(GateWire, FuzzedMessagesNeverReachAnotherGuard)
{
    const QList<QByteArray> valid = {encode(Hello{}), encode(Settings{}), encode(ListBegin{List::Deny}),
                                     encodeChanges(List::Allow, true, {QStringLiteral("a|/b"), QStringLiteral("c")}).first(),
                                     encode(ListEnd{List::Deny}), encode(Seen{1}), encode(Answer{1, true})};
    QRandomGenerator random(24);
    for (int round = 0; round < 3000; ++round) {
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
        TwoGuards t;
        t.gate.received(1, message);
        EXPECT_FALSE(t.peers.closed.contains(2));
        EXPECT_FALSE(t.events.answerOf(1));
        t.exec(2, 1001, QStringLiteral("bad"));
        ASSERT_EQ(t.events.answerOf(2), false) << message.toHex().constData();
    }
}

} // namespace
