// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Gate.h"

#include <QString>
#include <functional>

namespace platform {

// A fanotify group of the content class for exec permission events.
class LinuxFanotify : public ExecEvents {
public:
    LinuxFanotify() = default;
    ~LinuxFanotify() override;
    LinuxFanotify(const LinuxFanotify&) = delete;
    LinuxFanotify& operator=(const LinuxFanotify&) = delete;

    // False with `error` set when the system refuses a group.
    bool open(QString& error);
    int fd() const { return fd_; }
    // Marks the mount that holds `path`, or with `wholeFileSystem` the file
    // system that holds it.
    bool mark(const QString& path, bool wholeFileSystem, QString& error);
    // Reads the events that wait; each goes to `take`.
    void read(const std::function<void(const ExecEvent&)>& take);
    void answer(const ExecEvent& event, bool allow) override;

private:
    int fd_ = -1;
};

} // namespace platform
