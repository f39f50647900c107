#pragma once
#include "platform/Processes.h"

#include <optional>
#include <utility>
#include <vector>

namespace platform {

// The process table as /proc shows it.
class LinuxProcesses : public Processes {
public:
    void walk(const std::function<bool(const ProcessEntry&)>& visit) override;
    QString path(qint64 pid, qint64 moduleId) override;
    QString commandArgs(qint64 pid) override;
    std::optional<Launch> launch(qint64 pid) override;
    QString name(qint64 pid) override;
    // Kills only the process that was examined: when the id's start time
    // differs from the one noted by the last walk or path(), it gives 0.
    int kill(qint64 pid) override;

    // SIGKILL to `pid` only while it is the process that started at
    // `startTime` (clock ticks after boot); non-zero when sent.
    int killExact(qint64 pid, quint64 startTime);
    // Start time of the process, or nullopt when it cannot be read.
    std::optional<quint64> startTime(qint64 pid);

private:
    // Start times by process id, noted by the last walk, sorted by id (/proc
    // hands the ids out in ascending order, so a walk only appends).
    class StartTimes {
    public:
        void clear();
        void put(qint64 pid, quint64 start);
        std::optional<quint64> find(qint64 pid) const;
        std::size_t size() const { return items_.size(); }
    private:
        std::vector<std::pair<qint64, quint64>> items_;
    };
    StartTimes started_;
    // The process the walk is visiting and its exe path: the scan asks for
    // that path at once, and the walk has just read it.
    qint64 visiting_ = 0;
    QString visitingPath_;

public:
    // Number of start times held (for tests: it must not outgrow the table).
    std::size_t rememberedCount() const { return started_.size(); }
};

} // namespace platform
