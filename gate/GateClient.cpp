// SPDX-License-Identifier: GPL-3.0-or-later
#include "gate/GateClient.h"

using namespace gatewire;

GateClient::GateClient(platform::GateSocket& socket) : socket_(socket)
{
    socket_.received = [this](const QByteArray& bytes) { take(bytes); };
    socket_.closed = [this] { emit closed(); };
}

bool GateClient::open(const QString& path, const Settings& settings)
{
    return socket_.open(path) && socket_.send(encode(Hello{})) && setSettings(settings);
}

bool GateClient::setSettings(const Settings& settings)
{
    return socket_.send(encode(settings));
}

bool GateClient::replace(List list, const QStringList& records)
{
    bool sent = socket_.send(encode(ListBegin{list}));
    for (const QByteArray& message : encodeChanges(list, true, records))
        sent = sent && socket_.send(message);
    return sent && socket_.send(encode(ListEnd{list}));
}

bool GateClient::change(List list, bool add, const QStringList& records)
{
    bool sent = true;
    for (const QByteArray& message : encodeChanges(list, add, records))
        sent = sent && socket_.send(message);
    return sent;
}

bool GateClient::answer(quint64 id, bool allow)
{
    return socket_.send(encode(Answer{id, allow}));
}

bool GateClient::sync(quint64 token)
{
    return socket_.send(encode(Sync{token}));
}

void GateClient::take(const QByteArray& bytes)
{
    const auto message = decodeGate(bytes);
    if (!message) {
        socket_.close();
        emit closed();
        return;
    }
    if (std::holds_alternative<Welcome>(*message)) {
        emit welcomed();
    } else if (const auto* note = std::get_if<Exec>(&*message)) {
        // Told before anything else, so the gate holds the exec for the user.
        if (note->verdict == Verdict::Held)
            socket_.send(encode(Seen{note->id}));
        emit exec(*note);
    } else if (const auto* finished = std::get_if<Done>(&*message)) {
        emit done(*finished);
    } else {
        emit synced(std::get<Synced>(*message).token);
    }
}
