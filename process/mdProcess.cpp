// SPDX-License-Identifier: GPL-3.0-or-later
#include "process/mdProcess.h"
#include "store/mdSettings.h"

#include <QFileInfo>

namespace mdProcess {

namespace {

// A value of the string kind in a desktop entry: backslash and control
// characters escaped, a leading blank kept.
QString entryString(const QString& value)
{
    QString out;
    out.reserve(value.size() + 8);
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            out += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            out += QStringLiteral("\\r");
        else if (c == QLatin1Char(' ') && i == 0)
            out += QStringLiteral("\\s");
        else
            out += c;
    }
    return out;
}

// One argument of an Exec line: always in double quotes, with the characters
// the quoting rule names escaped, and "%" doubled so it is no field code.
QString execArgument(const QString& arg)
{
    QString quoted = QStringLiteral("\"");
    for (const QChar c : arg) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        else if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    return quoted + QLatin1Char('"');
}

QString desktopEntry(App& app)
{
    platform::Program& program = app.sys.program;
    const QString folder = QFileInfo(program.exePath()).path();
    const QStringList lines{
        QStringLiteral("[Desktop Entry]"),
        QStringLiteral("Type=Application"),
        QStringLiteral("Name=") + entryString(program.productTitle()),
        // What it does, in the words of the menu's launcher.
        QStringLiteral("Comment=Ends the programs on your deny list and asks about each new one"),
        // The quoting rule applies first, then the string escapes over it.
        QStringLiteral("Exec=") + entryString(execArgument(program.exePath())),
        QStringLiteral("Path=") + entryString(folder),
        QStringLiteral("Icon=") + entryString(app.file(QStringLiteral("mirvak.png"))),
        QStringLiteral("Terminal=false"),
        QStringLiteral("X-GNOME-Autostart-enabled=true"),
    };
    // Desktop entries are a Linux format: LF line ends.
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace

QString TakePath(App& app, qint64 pid, qint64 moduleId)
{
    QString path;
    mdSettings::guarded(app, "mdProcess", "TakePath", [&] { path = app.sys.processes.path(pid, moduleId); });
    return path;
}

std::optional<platform::Launch> TakeLaunch(App& app, qint64 pid)
{
    std::optional<platform::Launch> launch;
    mdSettings::guarded(app, "mdProcess", "TakeLaunch", [&] { launch = app.sys.processes.launch(pid); });
    return launch;
}

QString TakeName(App& app, qint64 pid)
{
    QString name;
    mdSettings::guarded(app, "mdProcess", "TakeName", [&] { name = app.sys.processes.name(pid); });
    return name;
}

int KillProcess(App& app, qint64 pid, platform::KillFailure* why)
{
    int result = 0;
    mdSettings::guarded(app, "mdProcess", "KillProcess", [&] { result = app.sys.processes.kill(pid, why); });
    return result;
}

bool startupApp(App& app, bool load)
{
    return mdSettings::guarded(app, "mdProcess", "startupApp", [&] {
        const QString folder = app.sys.env.startupFolder();
        if (folder.isEmpty())
            return;   // no folder to keep an entry in
        platform::Program& program = app.sys.program;
        const QString entry = folder + QLatin1Char('/') + program.exeName() + QLatin1Char(' ')
            + QString::number(program.versionMajor()) + QLatin1Char('.') + QString::number(program.versionMinor())
            + QStringLiteral(".desktop");
        const bool present = mdSettings::fileExists(app, entry);
        if (load) {
            if (present)
                return;   // whatever it holds, the user's entry stays
            app.sys.files.makePath(folder);
            app.sys.files.writeText(entry, desktopEntry(app));
        } else if (present) {
            app.sys.files.remove(entry);
        }
    });
}

} // namespace mdProcess
