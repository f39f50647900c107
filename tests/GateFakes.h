// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Stand-ins for the exec gate's platform services.
#include "gate/Wire.h"
#include "platform/Gate.h"

#include <QCryptographicHash>
#include <QHash>
#include <QList>
#include <QSet>
#include <functional>
#include <map>
#include <optional>

struct FakeExecEvents : platform::ExecEvents {
    std::map<int, bool> answers;   // by the event's fd
    void answer(const platform::ExecEvent& event, bool allow) override { answers[event.fd] = allow; }
    // nullopt while the exec waits.
    std::optional<bool> answerOf(int fd) const
    {
        const auto it = answers.find(fd);
        return it == answers.end() ? std::nullopt : std::optional<bool>(it->second);
    }
};

struct FakeExecFiles : platform::ExecFiles {
    QHash<int, Facts> files;
    QHash<int, Kind> kinds;
    QHash<quint64, QByteArray> contents;   // by inode
    int hashes = 0;
    std::optional<Facts> facts(int fd) override
    {
        return files.contains(fd) ? std::optional<Facts>(files.value(fd)) : std::nullopt;
    }
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
    std::optional<Info> info(qint64 pid) override
    {
        return table.contains(pid) ? std::optional<Info>(table.value(pid)) : std::nullopt;
    }
};

struct FakeGatePeers : platform::GatePeers {
    QHash<int, QList<gatewire::GateMessage>> sent;
    QSet<int> closed;
    void send(int peer, const QByteArray& message, bool) override
    {
        if (const auto decoded = gatewire::decodeGate(message))
            sent[peer].append(*decoded);
    }
    void close(int peer) override { closed.insert(peer); }
    // The messages of one kind a peer was sent, in order.
    template <class Message>
    QList<Message> sentOf(int peer) const
    {
        QList<Message> notes;
        for (const auto& message : sent.value(peer))
            if (const auto* note = std::get_if<Message>(&message))
                notes.append(*note);
        return notes;
    }
    QList<gatewire::Exec> execs(int peer) const { return sentOf<gatewire::Exec>(peer); }
    QList<gatewire::Done> dones(int peer) const { return sentOf<gatewire::Done>(peer); }
};
