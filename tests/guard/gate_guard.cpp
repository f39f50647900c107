// SPDX-License-Identifier: GPL-3.0-or-later
// A guard for the gate's tests: `gate_guard SOCKET LIST_LEVEL SAFE_LEVEL
// ALERT_DEFAULT GATE_HOLD ALLOW_FILE DENY_FILE` connects with those settings
// and lists, prints a line for each exec and answer it is told of, and
// answers held execs as lines on its input say ("answer ID allow|deny").
#include "gate/GateClient.h"
#include "platform/linux/LinuxGateSocket.h"
#include "StandIn.h"

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
    const QString byDefault = args[4];
    const gatewire::Settings settings{args[2].toDouble(), args[3] == "1",
                                      byDefault == "allow_now"  ? gatewire::AlertDefault::AllowNow
                                      : byDefault == "deny_now" ? gatewire::AlertDefault::DenyNow
                                                                : gatewire::AlertDefault::Close,
                                      args[5].toUInt(), {}};
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
    return standin::run([&](const QByteArray& command) {
        const QList<QByteArray> words = command.split(' ');
        if (words.size() == 3 && words[0] == "answer")
            client.answer(words[1].toULongLong(), words[2] == "allow");
    });
}
