// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxExecProcesses.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::optional<ExecProcesses::Info> LinuxExecProcesses::info(qint64 pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%lld/status", static_cast<long long>(pid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    // PPid and Uid come in the first kilobyte.
    char text[2048];
    ssize_t n;
    do
        n = ::read(fd, text, sizeof text - 1);
    while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n <= 0)
        return std::nullopt;
    text[n] = 0;
    const char* parent = std::strstr(text, "\nPPid:");
    const char* uid = std::strstr(text, "\nUid:");
    if (!parent || !uid)
        return std::nullopt;
    Info info;
    info.parent = std::strtoll(parent + 6, nullptr, 10);
    info.uid = std::strtoll(uid + 5, nullptr, 10);
    return info;
}

std::optional<qint64> LinuxExecProcesses::user(qint64 pid)
{
    // One lookup instead of opening and reading the status: /proc/PID
    // belongs to the process's effective user. Root in effect may be a
    // set-user-id program of another user, whom the status names.
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%lld", static_cast<long long>(pid));
    struct stat entry;
    if (::stat(path, &entry) == 0 && entry.st_uid != 0)
        return qint64(entry.st_uid);
    return ExecProcesses::user(pid);
}

} // namespace platform
