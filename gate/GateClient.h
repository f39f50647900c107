// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "gate/Wire.h"
#include "platform/Gate.h"

#include <QObject>

// A guard's side of the gate: hands over its settings and lists, tells the
// gate at once that it has each held exec, and passes on the user's answer.
class GateClient : public QObject {
    Q_OBJECT
public:
    explicit GateClient(platform::GateSocket& socket);
    // Connects and hands over the settings; the lists follow with replace().
    bool open(const QString& path, const gatewire::Settings& settings);
    bool isOpen() const { return socket_.isOpen(); }
    void close() { socket_.close(); }
    bool setSettings(const gatewire::Settings& settings);
    // The whole list, put in place at once.
    bool replace(gatewire::List list, const QStringList& records);
    bool change(gatewire::List list, bool add, const QStringList& records);
    bool answer(quint64 id, bool allow);
    // synced(token) comes once the gate has taken in all sent before.
    bool sync(quint64 token);

signals:
    void welcomed();
    void exec(const gatewire::Exec& exec);
    void done(const gatewire::Done& done);
    void synced(quint64 token);
    void closed();

private:
    void take(const QByteArray& bytes);
    platform::GateSocket& socket_;
};
