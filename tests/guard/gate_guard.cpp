// SPDX-License-Identifier: GPL-3.0-or-later
// A guard for the gate's tests: connects with the settings and lists given,
// prints a line for each exec and answer it is told of, and answers held
// execs as lines on its input say ("answer ID allow|deny").
#include "gate/GateClient.h"
#include "platform/linux/LinuxGateSocket.h"
#include "StandIn.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

namespace {

QStringList records(const QString& path)
{
    QFile file(path);
    QStringList lines;
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (!line.isEmpty())
            lines.append(QString::fromUtf8(line));
    return lines;
}

QString verdict(gatewire::Verdict v)
{
    if (v == gatewire::Verdict::Denied)
        return QStringLiteral("denied");
    return v == gatewire::Verdict::Held ? QStringLiteral("held") : QStringLiteral("unknown");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    const QString names[] = {QStringLiteral("socket"), QStringLiteral("list-level"), QStringLiteral("safe-level"),
                             QStringLiteral("alert-default"), QStringLiteral("gate-hold"), QStringLiteral("allow"),
                             QStringLiteral("deny")};
    for (const QString& name : names)
        parser.addOption(QCommandLineOption(name, name, QStringLiteral("value")));
    parser.process(application);

    gatewire::Settings settings;
    settings.listLevel = parser.value(QStringLiteral("list-level")).toDouble();
    settings.safeLevel = parser.value(QStringLiteral("safe-level")) == QLatin1String("1");
    const QString byDefault = parser.value(QStringLiteral("alert-default"));
    settings.alertDefault = byDefault == QLatin1String("allow_now") ? gatewire::AlertDefault::AllowNow
        : byDefault == QLatin1String("deny_now")                    ? gatewire::AlertDefault::DenyNow
                                                                    : gatewire::AlertDefault::Close;
    if (parser.isSet(QStringLiteral("gate-hold")))
        settings.gateHold = parser.value(QStringLiteral("gate-hold")).toUInt();

    platform::LinuxGateSocket socket;
    GateClient client(socket);
    QObject::connect(&client, &GateClient::exec, [](const gatewire::Exec& e) {
        standin::print(QStringLiteral("exec %1 %2 %3 %4 %5").arg(e.id).arg(verdict(e.verdict),
              e.allowed ? QStringLiteral("allowed") : QStringLiteral("refused"), e.name, e.record));
    });
    QObject::connect(&client, &GateClient::done, [](const gatewire::Done& d) {
        standin::print(QStringLiteral("done %1 %2 %3").arg(d.id).arg(d.allowed ? QStringLiteral("allowed") : QStringLiteral("refused")).arg(int(d.reason)));
    });
    QObject::connect(&client, &GateClient::synced, [] { standin::print(QStringLiteral("ready")); });
    QObject::connect(&client, &GateClient::closed, [] {
        standin::print(QStringLiteral("closed"));
        QCoreApplication::exit(1);
    });
    if (!client.open(parser.value(QStringLiteral("socket")), settings)
        || !client.replace(gatewire::List::Allow, records(parser.value(QStringLiteral("allow"))))
        || !client.replace(gatewire::List::Deny, records(parser.value(QStringLiteral("deny"))))
        || !client.sync(1)) {
        standin::print(QStringLiteral("can't connect"));
        return 1;
    }
    return standin::run([&](const QByteArray& command) {
        const QList<QByteArray> words = command.split(' ');
        if (words.value(0) == "answer" && words.size() == 3)
            client.answer(words[1].toULongLong(), words[2] == "allow");
    });
}
