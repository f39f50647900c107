// SPDX-License-Identifier: GPL-3.0-or-later
// A guard for the gate's tests and benchmark: `gate_guard SOCKET LIST_LEVEL
// SAFE_LEVEL ALERT_DEFAULT GATE_HOLD ALLOW_FILE DENY_FILE` connects with
// those settings and lists and prints a line for each exec and answer it is
// told of; it answers no held exec itself.
#include "gate/GateClient.h"
#include "platform/linux/LinuxGateSocket.h"
#include "StandIn.h"

#include <QCoreApplication>
#include <QFile>

namespace {
QStringList records(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts) : QStringList();
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 8)
        return 2;
    // alert_default by its name, in the order of its values.
    const auto byDefault = gatewire::AlertDefault(QStringList{"close", "allow_now", "deny_now"}.indexOf(args[4]));
    const gatewire::Settings settings{args[2].toDouble(), args[3] == "1", byDefault, args[5].toUInt(), {}};
    platform::LinuxGateSocket socket;
    GateClient client(socket);
    QObject::connect(&client, &GateClient::exec, [](const gatewire::Exec& e) {
        const char* verdicts[] = {"", "denied", "unknown", "held"};
        standin::print(QString("exec %1 %2 %3 %4 %5").arg(e.id).arg(verdicts[int(e.verdict)], e.allowed ? "allowed" : "refused", e.name, e.record));
    });
    QObject::connect(&client, &GateClient::done, [](const gatewire::Done& d) {
        standin::print(QString("done %1 %2 %3").arg(d.id).arg(d.allowed ? "allowed" : "refused").arg(int(d.reason)));
    });
    QObject::connect(&client, &GateClient::synced, [] { standin::print("ready"); });
    QObject::connect(&client, &GateClient::closed, [] { QCoreApplication::exit(1); });
    if (!client.open(args[1], settings) || !client.replace(gatewire::List::Allow, records(args[6]))
        || !client.replace(gatewire::List::Deny, records(args[7])) || !client.sync(1))
        return 1;
    return QCoreApplication::exec();
}
