// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxTermSignals.h"

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace platform {

LinuxTermSignals::LinuxTermSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

LinuxTermSignals::~LinuxTermSignals()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void LinuxTermSignals::drain()
{
    signalfd_siginfo info;
    while (::read(fd_, &info, sizeof info) == ssize_t(sizeof info)) {
    }
}

} // namespace platform
