// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Stand-ins for the exec gate's platform services.
#include "gate/Gate.h"
#include "gate/Wire.h"
#include "platform/Gate.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QSet>
#include <functional>
#include <map>
#include <optional>

// The messages of one kind among `messages`, in order.
template <class Message, class Variant>
QList<Message> only(const QList<Variant>& messages)
{
    QList<Message> out;
    for (const Variant& message : messages)
        if (const auto* one = std::get_if<Message>(&message))
            out.append(*one);
    return out;
}

struct FakeExecEvents : platform::ExecEvents {
    std::map<int, bool> answers;   // by the event's fd
    void answer(const platform::ExecEvent& event, bool allow) override { answers[event.fd] = allow; }
    // nullopt while the exec waits.
    std::optional<bool> answerOf(int fd) const
    {
        return answers.contains(fd) ? std::optional(answers.at(fd)) : std::nullopt;
    }
};

struct FakeExecFiles : platform::ExecFiles {
    QHash<int, Facts> files;
    QHash<int, Kind> kinds;
    QHash<quint64, QByteArray> contents;   // by inode
    int hashes = 0;
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
};

struct FakeExecProcesses : platform::ExecProcesses {
    QHash<qint64, Info> table;
    std::optional<Info> info(qint64 pid) override { return table.contains(pid) ? std::optional(table.value(pid)) : std::nullopt; }
};

struct FakeGatePeers : platform::GatePeers {
    QHash<int, QList<gatewire::GateMessage>> sent;
    QSet<int> closed;
    void send(int peer, const QByteArray& message, bool) override { sent[peer].append(*gatewire::decodeGate(message)); }
    void close(int peer) override { closed.insert(peer); }
    QList<gatewire::Exec> execs(int peer) const { return only<gatewire::Exec>(sent.value(peer)); }
    QList<gatewire::Done> dones(int peer) const { return only<gatewire::Done>(sent.value(peer)); }
};

// A gate on the fakes above, whose hashes wait until finishHashes.
struct FakeGate {
    FakeGate() { gate.run = [this](std::function<void()> task) { tasks.push_back(std::move(task)); }; }
    static gatewire::Settings settings(bool safe, double level = 1,
                                       gatewire::AlertDefault byDefault = gatewire::AlertDefault::Close)
    {
        return {level, safe, byDefault, 30, "UTC"};
    }
    void send(int peer, const gatewire::GuardMessage& message) { gate.received(peer, gatewire::encode(message)); }
    // Guard `peer`, process `pid` of `uid`, hands over its settings and lists.
    void guard(int peer, qint64 uid, qint64 pid, const gatewire::Settings& s, const QStringList& allow = {},
               const QStringList& deny = {})
    {
        processes.table.insert(pid, {uid, 1});
        gate.connected(peer, uid, pid);
        send(peer, gatewire::Hello{});
        send(peer, s);
        for (const auto& [list, records] : {std::pair{gatewire::List::Allow, allow}, std::pair{gatewire::List::Deny, deny}}) {
            send(peer, gatewire::ListBegin{list});
            for (const QByteArray& message : gatewire::encodeChanges(list, true, records))
                gate.received(peer, message);
            send(peer, gatewire::ListEnd{list});
        }
    }
    // An exec of /opt/NAME by process `pid` of `uid`; the inode is the fd unless given.
    void exec(int fd, qint64 pid, qint64 uid, const QString& name, qint64 parent = 1, quint64 inode = 0)
    {
        processes.table.insert(pid, {uid, parent});
        platform::ExecFiles::Facts facts;
        facts.path = "/opt/" + name;
        facts.regular = true;
        facts.size = 2048;
        facts.modifiedSec = 1700000000;
        facts.inode = inode ? inode : quint64(fd);
        files.files.insert(fd, facts);
        gate.exec({fd, pid});
    }
    void finishHashes()
    {
        for (auto& task : std::exchange(tasks, {}))
            task();
        QCoreApplication::sendPostedEvents(&gate);
    }
    FakeExecEvents events;
    FakeExecFiles files;
    FakeExecProcesses processes;
    FakeGatePeers peers;
    qint64 now = 0;
    std::vector<std::function<void()>> tasks;
    Gate gate{{events, files, processes, peers}, 42, [this] { return now; }};
};
