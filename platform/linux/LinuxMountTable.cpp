// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxMountTable.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

LinuxMountTable::LinuxMountTable() : fd_(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC)) {}

LinuxMountTable::~LinuxMountTable()
{
    if (fd_ >= 0)
        ::close(fd_);
}

QByteArray LinuxMountTable::read()
{
    QByteArray table;
    if (fd_ < 0)
        return table;
    // Reading from the start again also clears the change poll reports.
    char chunk[16384];
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(fd_, chunk, sizeof chunk, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return table;
        table.append(chunk, n);
        at += n;
    }
}

} // namespace platform
