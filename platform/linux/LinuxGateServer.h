// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Gate.h"

#include <QByteArrayList>
#include <QHash>
#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace platform {

// The gate's listening SOCK_SEQPACKET socket and its guards' connections,
// each known by its peer's credentials and watched through a pidfd, so a
// guard whose process ends is gone even while a child keeps its socket.
class LinuxGateServer : public QObject, public GatePeers {
    Q_OBJECT
public:
    ~LinuxGateServer() override;
    // Binds `path` (replacing a stale socket) for every user to connect to.
    bool listen(const QString& path, QString& error);
    void send(int peer, const QByteArray& message, bool droppable) override;
    void close(int peer) override;

signals:
    void connected(int peer, qint64 uid, qint64 pid);
    void received(int peer, const QByteArray& message);
    void disconnected(int peer);

private:
    struct Peer {
        int fd = -1;
        int pidfd = -1;
        QByteArrayList queue;
        qsizetype queued = 0;
        std::unique_ptr<QSocketNotifier> reads, writes, ends;
    };
    void accept();
    void read(int peer);
    void flush(int peer);
    void end(int peer);

    int fd_ = -1;
    int nextPeer_ = 0;   // ids are never reused, unlike descriptors
    QString path_;
    std::unique_ptr<QSocketNotifier> accepts_;
    QHash<int, std::shared_ptr<Peer>> peers_;
};

} // namespace platform
