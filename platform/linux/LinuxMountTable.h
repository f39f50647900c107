// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>

namespace platform {

// /proc/self/mountinfo, whose descriptor polls POLLPRI when a mount comes or goes.
class LinuxMountTable {
public:
    LinuxMountTable();
    ~LinuxMountTable();
    LinuxMountTable(const LinuxMountTable&) = delete;
    LinuxMountTable& operator=(const LinuxMountTable&) = delete;
    int fd() const { return fd_; }
    // The whole table as it is now.
    QByteArray read();

private:
    int fd_ = -1;
};

} // namespace platform
