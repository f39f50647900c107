// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/FileVersion.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

// What the exec gate asks of the system: permission events for execs, the
// file an event opened, the processes behind it and the guards' sockets.
namespace platform {

// The largest packet a guard and the gate exchange on their socket.
constexpr qsizetype kGateMaxPacket = 65536;

// One exec that waits in the kernel for its answer.
struct ExecEvent {
    int fd = -1;       // the file being executed, opened for the gate
    qint64 pid = 0;    // 0 when the process is outside the gate's view
};

class ExecEvents {
public:
    virtual ~ExecEvents() = default;
    // Lets the exec go on or makes it fail with EPERM; closes the event's fd.
    virtual void answer(const ExecEvent& event, bool allow) = 0;
};

// The file behind an event's descriptor.
class ExecFiles {
public:
    virtual ~ExecFiles() = default;
    struct Facts : FileVersion {
        QString path;          // as the system names it now, in SysText form
        bool regular = false;
        qint64 modifiedSec = 0;   // since the epoch
        const FileVersion& version() const { return *this; }
    };
    virtual std::optional<Facts> facts(int fd) = 0;
    // What the exec of the file runs: the file itself, or for a script and
    // an ELF loader another file whose own open the gate sees.
    enum class Kind { Program, Script, Loader };
    virtual Kind kind(int fd) = 0;
    // A descriptor of its own for a worker, so answering the event cannot
    // close the file under the worker; -1 on failure.
    virtual int duplicate(int fd) = 0;
    // The SHA-256 of what `fd` reads while it shows `version`, then closes
    // `fd`; nullopt when the file cannot be read or changed meanwhile. Any
    // thread may call it.
    virtual std::optional<QByteArray> sha256(int fd, const Facts& version) = 0;
};

// The processes that exec.
class ExecProcesses {
public:
    virtual ~ExecProcesses() = default;
    struct Info {
        qint64 uid = -1;    // real user id
        qint64 parent = 0;
    };
    virtual std::optional<Info> info(qint64 pid) = 0;
    // The user whose lists decide an exec: the effective one, or the real one
    // of a process that is root in effect. Asked of every exec, so a platform
    // may know it for less than info() costs.
    virtual std::optional<qint64> user(qint64 pid)
    {
        const auto known = info(pid);
        return known ? std::optional(known->uid) : std::nullopt;
    }
};

// The guards' connections, each one a peer known by the socket's credentials.
class GatePeers {
public:
    virtual ~GatePeers() = default;
    // Queues one message; `droppable` ones are dropped while the peer does
    // not read, the others are kept until it closes.
    virtual void send(int peer, const QByteArray& message, bool droppable) = 0;
    virtual void close(int peer) = 0;
};

} // namespace platform

namespace platform {

// The guard's end of its connection to the gate.
class GateSocket {
public:
    virtual ~GateSocket() = default;
    virtual bool open(const QString& path) = 0;
    virtual bool isOpen() const = 0;
    // False when the message could not be queued (the connection is gone).
    virtual bool send(const QByteArray& message) = 0;
    virtual void close() = 0;
    // Called with each message, and once when the gate closes the connection.
    std::function<void(const QByteArray&)> received;
    std::function<void()> closed;
};

} // namespace platform
