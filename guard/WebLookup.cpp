// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/WebLookup.h"

#include "store/Record.h"
#include "store/mdSettings.h"

namespace WebLookup {

bool allowed(const App& app)
{
    return mdSettings::getSetting(app, QStringLiteral("web_search")).toLower().contains(QLatin1String(kDomain));
}

Target fromRecord(const QString& record)
{
    const Record fields = Record::parse(record);
    return {fields.name, fields.rest()};
}

QString url(App& app, const Folders& folders, const std::optional<Target>& target)
{
    auto& env = app.sys.env;
    auto& program = app.sys.program;
    QString text = mdSettings::getSetting(app, QStringLiteral("web_search"));
    if (target)
        text += QStringLiteral("?executable=") + target->executable + QStringLiteral("&path=") + target->path
            + QStringLiteral("&dir_system=");
    else
        text += QStringLiteral("?dir_system=");
    text += folders.system
        + QStringLiteral("&dir_windows=") + folders.windows
        + QStringLiteral("&dir_programs=") + env.variable(QStringLiteral("ProgramFiles"))
        + QStringLiteral("&dir_tmp=") + env.variable(QStringLiteral("TMP"))
        + QStringLiteral("&dir_userprofile=") + env.variable(QStringLiteral("USERPROFILE"))
        + QStringLiteral("&drive_windows=") + env.variable(QStringLiteral("SYSTEMDRIVE"))
        + QStringLiteral("&os=") + env.variable(QStringLiteral("OS"))
        + QStringLiteral("&version=") + QString::number(program.versionMajor()) + QLatin1Char('.')
        + QString::number(program.versionMinor()) + QLatin1Char('.') + QString::number(program.versionRevision());
    if (!target)
        text += QStringLiteral("&str_errors=");
    return text;
}

void open(App& app, const QString& url)
{
    app.sys.shell.open(url);
}

} // namespace WebLookup
