// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Gate.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

// The messages between a guard and the gate: one message per SOCK_SEQPACKET
// packet of at most kMaxMessage bytes, a type byte and fixed fields in
// little-endian order; a text is a 32-bit length and the system's bytes.
namespace gatewire {

constexpr quint32 kVersion = 1;
constexpr qsizetype kMaxMessage = platform::kGateMaxPacket;

enum class Type : quint8 {
    // guard to gate
    Hello = 1,
    Settings = 2,
    ListBegin = 3,
    ListAdd = 4,
    ListRemove = 5,
    ListEnd = 6,
    Seen = 7,
    Answer = 8,
    Sync = 9,
    // gate to guard
    Welcome = 0x81,
    Exec = 0x82,
    Done = 0x83,
    Synced = 0x84,
};

enum class List : quint8 { Allow = 0, Deny = 1 };
enum class AlertDefault : quint8 { Close = 0, AllowNow = 1, DenyNow = 2 };

struct Hello {
    quint32 version = kVersion;
};
struct Settings {
    double listLevel = 1;
    bool safeLevel = false;
    AlertDefault alertDefault = AlertDefault::Close;
    quint32 gateHold = 30;   // seconds
    QString timeZone;        // IANA id of the guard's local time; empty for the gate's
};
// Begin starts a new copy of the list that End puts in place at once, so no
// exec is decided by half a list; Add and Remove change the copy while one
// is begun, else the list itself.
struct ListBegin {
    List list = List::Allow;
};
struct ListChange {
    List list = List::Allow;
    bool add = true;
    QStringList records;
};
struct ListEnd {
    List list = List::Allow;
};
// The guard has the held exec before the user.
struct Seen {
    quint64 id = 0;
};
struct Answer {
    quint64 id = 0;
    bool allow = false;
};
// Answered by Synced with the same token once all before it is in effect.
struct Sync {
    quint64 token = 0;
};
using GuardMessage = std::variant<Hello, Settings, ListBegin, ListChange, ListEnd, Seen, Answer, Sync>;

// What the gate did with an exec of the guard's user.
enum class Verdict : quint8 {
    Denied = 1,    // on the deny list: refused
    Unknown = 2,   // on neither list and not held: `allowed` tells the answer
    Held = 3,      // waits for Answer
};
struct Exec {
    quint64 id = 0;
    Verdict verdict = Verdict::Unknown;
    bool allowed = false;
    qint64 pid = 0;
    QString name;
    QString path;
    QString record;
};
// A held exec answered without the guard's answer.
enum class Reason : quint8 { Timeout = 1, Unanswered = 2, Stopping = 3 };
struct Done {
    quint64 id = 0;
    bool allowed = false;
    Reason reason = Reason::Timeout;
};
struct Welcome {
    quint32 version = kVersion;
};
struct Synced {
    quint64 token = 0;
};
using GateMessage = std::variant<Welcome, Exec, Done, Synced>;

QByteArray encode(const GuardMessage& message);
QByteArray encode(const GateMessage& message);
// nullopt for anything but one whole, well-formed message.
std::optional<GuardMessage> decodeGuard(const QByteArray& bytes);
std::optional<GateMessage> decodeGate(const QByteArray& bytes);

// Add or Remove messages that carry `records`, each within kMaxMessage; a
// record too long for one message is left out.
QList<QByteArray> encodeChanges(List list, bool add, const QStringList& records);

} // namespace gatewire
