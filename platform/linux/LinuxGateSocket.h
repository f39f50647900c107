// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Gate.h"

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace platform {

// A guard's SOCK_SEQPACKET connection to the gate.
class LinuxGateSocket : public QObject, public GateSocket {
    Q_OBJECT
public:
    ~LinuxGateSocket() override;
    bool open(const QString& path) override;
    bool isOpen() const override { return fd_ >= 0; }
    bool send(const QByteArray& message) override;
    void close() override;
    // Waits up to `ms` for a message and hands it on; false when none came.
    bool waitForMessage(int ms);

private:
    void read();
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> reads_;
};

} // namespace platform
