// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxGateSocket.h"

#include "platform/SysText.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

LinuxGateSocket::~LinuxGateSocket() { close(); }

bool LinuxGateSocket::open(const QString& path)
{
    close();
    const QByteArray sys = toSys(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::size_t(sys.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, sys.constData(), std::size_t(sys.size()));
    fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        return false;
    }
    reads_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(reads_.get(), &QSocketNotifier::activated, this, &LinuxGateSocket::read);
    return true;
}

bool LinuxGateSocket::send(const QByteArray& message)
{
    // Blocks while the gate's queue is full: what the guard hands over must
    // all arrive, in order.
    while (fd_ >= 0) {
        if (::send(fd_, message.constData(), std::size_t(message.size()), MSG_NOSIGNAL) >= 0)
            return true;
        if (errno != EINTR)
            return false;
    }
    return false;
}

void LinuxGateSocket::close()
{
    reads_.reset();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool LinuxGateSocket::waitForMessage(int ms)
{
    if (fd_ < 0)
        return false;
    pollfd one{fd_, POLLIN, 0};
    if (::poll(&one, 1, ms) <= 0)
        return false;
    read();
    return true;
}

void LinuxGateSocket::read()
{
    QByteArray buffer(kGateMaxPacket, Qt::Uninitialized);
    while (fd_ >= 0) {
        const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n <= 0) {
            close();
            if (closed)
                closed();
            return;
        }
        if (received)
            received(buffer.left(n));
    }
}

} // namespace platform
