// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Processes.h"

#include <string>
#include <string_view>
#include <unordered_map>

namespace platform {

// The process table as /proc shows it. A pinned process is held by a pidfd:
// a read of /proc/PID/... made after the pidfd was opened is that process's
// own when the pidfd still shows it running afterwards, and the kill goes
// through the pidfd, so a newcomer with a reused id is never reached.
class LinuxProcesses : public Processes {
public:
    LinuxProcesses() = default;
    LinuxProcesses(const LinuxProcesses&) = delete;
    LinuxProcesses& operator=(const LinuxProcesses&) = delete;
    ~LinuxProcesses() override;

    void walk(const std::function<bool(const ProcessEntry&)>& visit) override;
    QString path(qint64 pid, qint64 moduleId) override;
    std::optional<Launch> launch(qint64 pid) override;
    QString name(qint64 pid) override;
    qint64 parent(qint64 pid) override;
    QString owner(qint64 pid) override;
    QString exePath(qint64 pid) override;
    int kill(qint64 pid, KillFailure* why = nullptr) override;
    void hold(qint64 pid) override;
    bool replaced(qint64 pid) override;
    bool ownDescendant(qint64 pid) override;
    void adoptOrphans(bool on) override;

private:
    struct Pin {
        qint64 pid = 0;
        int fd = -1;            // the pidfd; -1 where the kernel has none
        quint64 start = 0;      // start time in clock ticks after boot
        qint64 parent = 0;
        bool gone = true;       // ended, or not the process that was examined
        bool walked = false;    // made while the walk visited it: it may be signalled
        QString exe;            // the executable it was pinned with; empty when unreadable
        QByteArray comm;        // its kernel name then, for when the executable is unreadable
    };
    // The pin of `pid`, made at the first call about it.
    Pin& pin(qint64 pid);
    // The pin of `pid` if there is one already.
    Pin* pinned(qint64 pid);
    bool running(Pin& p);
    void release();
    // Runs `read` on /proc/PID/<leaf> of the pinned process; true only when
    // that process still ran after the read, so what was read is its own.
    bool readPinned(qint64 pid, const char* leaf, const std::function<bool(const char* file)>& read);

    Pin pin_;
    Pin held_;   // kept through walks
    // What the walk read of the process it is visiting: the scan decides on
    // it, so a pin made during the visit must show the same.
    qint64 visiting_ = 0;
    QString visitingPath_;      // empty: the link could not be read
    quint64 visitingStart_ = 0; // read only when the link could not be
    QByteArray visitingComm_;   // likewise

    // Each exe link's text in words, with its file name: most links repeat
    // from walk to walk and from process to process.
    struct Named {
        QString path;
        QString name;
    };
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
    };
    std::unordered_map<std::string, Named, TextHash, std::equal_to<>> named_;
};

} // namespace platform
