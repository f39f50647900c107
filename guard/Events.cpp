// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/Events.h"

#include "store/Record.h"
#include "store/mdSettings.h"
#include "store/mdErrorLog.h"

namespace events {

namespace {

struct KindText {
    const char* event;
    const char* id;
    int priority;   // syslog's: 4 warning, 5 notice, 6 info
    const char* message;
};

KindText text(Kind kind)
{
    switch (kind) {
    case Kind::Ended:
        return {"ended", "cd46a676119a4a058952b27b67e462f5", 5, "Ended {name}"};
    case Kind::EndFailed:
        return {"end_failed", "68ba66c0ea8742febc5e3b11ea313756", 4, "Could not end {name}"};
    case Kind::Decision:
        return {"decision", "72f5c1227df84740a27c9e6db147987e", 6, "The user chose {answer} for {name}"};
    case Kind::FirstStart:
        return {"first_start", "fb91df79373d4f02a03f89e4c81f2e16", 6, "First start: the user chose {answer} for {name}"};
    case Kind::WouldEnd:
        return {"would_end", "2ac51a14fbd1480c8430ca451f59605d", 5, "Monitor mode: would have ended {name}"};
    case Kind::WouldAsk:
        return {"would_ask", "c0e56eeeee2949c5ab64c8adfad17dd2", 5, "Monitor mode: would have asked about {name}"};
    case Kind::GuardStart:
        return {"start", "ca7ccaf0a51f4598821c5acbb4fa052c", 6, "Guarding started"};
    case Kind::GuardStop:
        return {"stop", "d21b4a27b38e4632b670049a0f1aad88", 6, "Guarding stopped"};
    }
    return {"", "", 6, ""};
}

} // namespace

QByteArray messageId(Kind kind)
{
    return text(kind).id;
}

bool monitoring(const App& app)
{
    return Collection::lower(mdSettings::getSetting(app, QStringLiteral("guard_mode")).trimmed()) == QLatin1String("monitor");
}

QString mode(const App& app)
{
    return monitoring(app) ? QStringLiteral("monitor") : QStringLiteral("enforce");
}

void send(App& app, const Event& event)
{
    if (!app.sys.journal || !mdSettings::isOn(app, QStringLiteral("journal"), true))
        return;
    const KindText kind = text(event.kind);
    std::vector<platform::Journal::Field> fields{
        {"MESSAGE", QString::fromLatin1(kind.message)
                        .replace(QLatin1String("{answer}"), event.answer)
                        .replace(QLatin1String("{name}"), event.name)
                        .toUtf8()},
        {"MESSAGE_ID", kind.id},
        {"SYSLOG_IDENTIFIER", "mirvak"},
        {"PRIORITY", QByteArray::number(kind.priority)},
        {"MIRVAK_EVENT", kind.event},
        {"MIRVAK_MODE", mode(app).toUtf8()},
    };
    const auto add = [&](const char* name, const QString& value) {
        if (!value.isEmpty())
            fields.emplace_back(name, value.toUtf8());
    };
    add("MIRVAK_NAME", event.name);
    add("MIRVAK_PATH", event.path);
    add("MIRVAK_SHA256", Record::parse(event.record).sha256);
    if (event.pid > 0) {
        add("MIRVAK_PID", QString::number(event.pid));
        add("MIRVAK_PPID", QString::number(event.ppid >= 0 ? event.ppid : app.sys.processes.parent(event.pid)));
        if (const qint64 uid = event.uid >= 0 ? event.uid : app.sys.processes.ownerId(event.pid); uid >= 0)
            add("MIRVAK_UID", QString::number(uid));
    }
    add("MIRVAK_RULE", event.rule);
    add("MIRVAK_ANSWER", event.answer);
    QString why;
    if (app.sys.journal->send(fields, &why) || app.journalMissingTold)
        return;
    app.journalMissingTold = true;
    mdErrorLog::error_log(app, QStringLiteral("events"), QStringLiteral("send"),
                          QStringLiteral("No system journal takes the events (%1); guarding goes on").arg(why));
}

} // namespace events
