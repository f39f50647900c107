// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxFanotify.h"

#include "platform/SysText.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/fanotify.h>
#include <unistd.h>

namespace platform {

LinuxFanotify::~LinuxFanotify()
{
    // The kernel allows whatever still waits once the group is gone.
    if (fd_ >= 0)
        ::close(fd_);
}

bool LinuxFanotify::open(QString& error)
{
    fd_ = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK | FAN_UNLIMITED_QUEUE,
                          O_RDONLY | O_LARGEFILE | O_CLOEXEC);
    if (fd_ < 0)
        error = QStringLiteral("fanotify refused: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    return fd_ >= 0;
}

bool LinuxFanotify::mark(const QString& path, bool wholeFileSystem, QString& error)
{
    const unsigned flags = FAN_MARK_ADD | (wholeFileSystem ? FAN_MARK_FILESYSTEM : FAN_MARK_MOUNT);
    if (::fanotify_mark(fd_, flags, FAN_OPEN_EXEC_PERM, AT_FDCWD, toSys(path).constData()) == 0)
        return true;
    error = QStringLiteral("can't mark %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

void LinuxFanotify::read(const std::function<void(const ExecEvent&)>& take)
{
    alignas(fanotify_event_metadata) char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        // A short read emptied the queue; what comes later wakes the loop again.
        const bool emptied = n < ssize_t(sizeof buffer - FAN_EVENT_METADATA_LEN);
        const auto* event = reinterpret_cast<const fanotify_event_metadata*>(buffer);
        ssize_t left = n;
        for (; FAN_EVENT_OK(event, left); event = FAN_EVENT_NEXT(event, left)) {
            if (event->vers != FANOTIFY_METADATA_VERSION || event->fd < 0)
                continue;
            if (!(event->mask & FAN_OPEN_EXEC_PERM)) {
                ::close(event->fd);
                continue;
            }
            take(ExecEvent{event->fd, event->pid});
        }
        if (emptied)
            return;
    }
}

void LinuxFanotify::answer(const ExecEvent& event, bool allow)
{
    const fanotify_response response{event.fd, allow ? __u32(FAN_ALLOW) : __u32(FAN_DENY)};
    while (::write(fd_, &response, sizeof response) < 0 && errno == EINTR) {
    }
    ::close(event.fd);
}

} // namespace platform
