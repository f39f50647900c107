// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxGateServer.h"

#include "platform/SysText.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

namespace {
// What a guard that does not read may have waiting.
constexpr qsizetype kMaxQueued = 4 << 20;

QString lastError() { return QString::fromLocal8Bit(std::strerror(errno)); }
} // namespace

LinuxGateServer::~LinuxGateServer()
{
    for (const int peer : peers_.keys())
        close(peer);
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(toSys(path_).constData());
    }
}

bool LinuxGateServer::listen(const QString& path, QString& error)
{
    const QByteArray sys = toSys(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::size_t(sys.size()) >= sizeof address.sun_path) {
        error = QStringLiteral("socket path too long: %1").arg(path);
        return false;
    }
    std::memcpy(address.sun_path, sys.constData(), std::size_t(sys.size()));
    fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    struct stat info;
    if (::lstat(sys.constData(), &info) == 0 && S_ISSOCK(info.st_mode))
        ::unlink(sys.constData());
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::chmod(sys.constData(), 0666) != 0 || ::listen(fd_, 64) != 0) {
        error = QStringLiteral("can't listen on %1: %2").arg(path, lastError());
        return false;
    }
    path_ = path;
    accepts_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(accepts_.get(), &QSocketNotifier::activated, this, &LinuxGateServer::accept);
    return true;
}

void LinuxGateServer::accept()
{
    for (;;) {
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        ucred credentials{};
        socklen_t length = sizeof credentials;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
            ::close(fd);
            continue;
        }
        auto peer = std::make_shared<Peer>();
        peer->fd = fd;
        const int id = ++nextPeer_;
        // Outside the gate's PID namespace the peer has no pid here.
        if (credentials.pid > 0)
            peer->pidfd = int(::syscall(SYS_pidfd_open, credentials.pid, 0));
        peer->reads = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(peer->reads.get(), &QSocketNotifier::activated, this, [this, id] { read(id); });
        peer->writes = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
        peer->writes->setEnabled(false);
        connect(peer->writes.get(), &QSocketNotifier::activated, this, [this, id] { flush(id); });
        if (peer->pidfd >= 0) {
            peer->ends = std::make_unique<QSocketNotifier>(peer->pidfd, QSocketNotifier::Read);
            connect(peer->ends.get(), &QSocketNotifier::activated, this, [this, id] { end(id); });
        }
        peers_.insert(id, peer);
        emit connected(id, credentials.uid, credentials.pid);
    }
}

void LinuxGateServer::read(int peer)
{
    QByteArray buffer(kGateMaxPacket + 1, Qt::Uninitialized);
    while (peers_.contains(peer)) {
        const ssize_t n = ::recv(peers_.value(peer)->fd, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n <= 0) {
            end(peer);
            return;
        }
        // An oversized message arrives cut; the gate refuses it whole.
        emit received(peer, n > buffer.size() ? buffer : buffer.left(n));
    }
}

void LinuxGateServer::send(int peer, const QByteArray& message, bool droppable)
{
    const auto found = peers_.find(peer);
    if (found == peers_.end())
        return;
    Peer& p = **found;
    if (!p.queue.isEmpty()) {
        if (droppable && p.queued > 0)
            return;
        if (p.queued + message.size() > kMaxQueued) {
            // Told later: the caller may be in the middle of its own work.
            close(peer);
            QMetaObject::invokeMethod(this, [this, peer] { emit disconnected(peer); }, Qt::QueuedConnection);
            return;
        }
        p.queue.append(message);
        p.queued += message.size();
        return;
    }
    const ssize_t n = ::send(p.fd, message.constData(), std::size_t(message.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0 || droppable)
        return;
    if (errno != EAGAIN && errno != EWOULDBLOCK)
        return;   // the read side tells that the peer is gone
    p.queue.append(message);
    p.queued += message.size();
    p.writes->setEnabled(true);
}

void LinuxGateServer::flush(int peer)
{
    const auto found = peers_.find(peer);
    if (found == peers_.end())
        return;
    Peer& p = **found;
    while (!p.queue.isEmpty()) {
        const QByteArray& message = p.queue.first();
        if (::send(p.fd, message.constData(), std::size_t(message.size()), MSG_DONTWAIT | MSG_NOSIGNAL) < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            p.queue.clear();
            break;
        }
        p.queued -= message.size();
        p.queue.removeFirst();
    }
    p.queued = 0;
    p.writes->setEnabled(false);
}

void LinuxGateServer::end(int peer)
{
    if (!peers_.contains(peer))
        return;
    close(peer);
    emit disconnected(peer);
}

void LinuxGateServer::close(int peer)
{
    const auto p = peers_.take(peer);
    if (!p)
        return;
    p->reads.reset();
    p->writes.reset();
    p->ends.reset();
    ::close(p->fd);
    if (p->pidfd >= 0)
        ::close(p->pidfd);
}

} // namespace platform
