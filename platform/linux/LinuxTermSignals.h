// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace platform {

// SIGTERM, SIGINT and SIGHUP as a readable descriptor instead of handlers.
class LinuxTermSignals {
public:
    LinuxTermSignals();
    ~LinuxTermSignals();
    LinuxTermSignals(const LinuxTermSignals&) = delete;
    LinuxTermSignals& operator=(const LinuxTermSignals&) = delete;
    int fd() const { return fd_; }
    // Takes the signals that arrived.
    void drain();

private:
    int fd_ = -1;
};

} // namespace platform
