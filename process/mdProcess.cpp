// SPDX-License-Identifier: GPL-3.0-or-later
#include "process/mdProcess.h"
#include "store/mdSettings.h"
#include "store/mdFailures.h"

#include <QFileInfo>
#include <QRegularExpression>

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

// The program an Exec line starts: its first argument, the string escapes
// and then the quoting rule undone, as execArgument() wrote it.
QString execProgram(const QString& value)
{
    QString line;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != QLatin1Char('\\') || i + 1 == value.size()) {
            line += value[i];
            continue;
        }
        const QChar c = value[++i];
        line += c == QLatin1Char('s') ? QChar(' ') : c == QLatin1Char('n') ? QChar('\n')
              : c == QLatin1Char('t') ? QChar('\t') : c == QLatin1Char('r') ? QChar('\r') : c;
    }
    QString program;
    const bool quoted = line.startsWith(QLatin1Char('"'));
    for (qsizetype i = quoted ? 1 : 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted ? c == QLatin1Char('"') : c == QLatin1Char(' '))
            break;
        if (quoted && c == QLatin1Char('\\') && i + 1 < line.size())
            program += line[++i];
        else if (c == QLatin1Char('%') && i + 1 < line.size() && line[i + 1] == QLatin1Char('%'))
            program += line[++i];
        else
            program += c;
    }
    return program;
}

// Entries of other versions ("Mirvak 1.8.desktop") that start this very
// program: they would start it at logon against the user's setting.
void removeOlderEntries(App& app, const QString& folder, const QString& current)
{
    platform::Program& program = app.sys.program;
    const QRegularExpression versioned(QLatin1Char('^') + QRegularExpression::escape(program.exeName())
                                       + QStringLiteral(" \\d+\\.\\d+\\.desktop$"));
    for (const auto& entry : app.sys.files.list(folder)) {
        if (!entry.regular || entry.name == current || !versioned.match(entry.name).hasMatch())
            continue;
        const QString path = folder + QLatin1Char('/') + entry.name;
        const std::optional<QByteArray> bytes = app.sys.files.readBytes(path);
        if (!bytes)
            continue;
        for (const QByteArray& line : bytes->split('\n')) {
            if (line.startsWith("Exec=")) {
                if (execProgram(QString::fromUtf8(line.mid(5).trimmed())) == program.exePath())
                    app.sys.files.remove(path);
                break;
            }
        }
    }
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
        // Once the program is removed the entry does nothing.
        QStringLiteral("TryExec=") + entryString(program.exePath()),
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
    mdFailures::guarded(app, "mdProcess", "TakePath", [&] { path = app.sys.processes.path(pid, moduleId); });
    return path;
}

std::optional<platform::Launch> TakeLaunch(App& app, qint64 pid)
{
    std::optional<platform::Launch> launch;
    mdFailures::guarded(app, "mdProcess", "TakeLaunch", [&] { launch = app.sys.processes.launch(pid); });
    return launch;
}

QString TakeName(App& app, qint64 pid)
{
    QString name;
    mdFailures::guarded(app, "mdProcess", "TakeName", [&] { name = app.sys.processes.name(pid); });
    return name;
}

bool Replaced(App& app, qint64 pid)
{
    bool replaced = false;
    mdFailures::guarded(app, "mdProcess", "Replaced", [&] { replaced = app.sys.processes.replaced(pid); });
    return replaced;
}

bool OwnDescendant(App& app, qint64 pid)
{
    bool own = false;
    mdFailures::guarded(app, "mdProcess", "OwnDescendant", [&] { own = app.sys.processes.ownDescendant(pid); });
    return own;
}

int KillProcess(App& app, qint64 pid, platform::KillFailure* why)
{
    int result = 0;
    mdFailures::guarded(app, "mdProcess", "KillProcess", [&] { result = app.sys.processes.kill(pid, why); });
    return result;
}

bool startupApp(App& app, bool load)
{
    return mdFailures::guarded(app, "mdProcess", "startupApp", [&] {
        const QString folder = app.sys.env.startupFolder();
        if (folder.isEmpty())
            return;   // no folder to keep an entry in
        platform::Program& program = app.sys.program;
        const QString name = program.exeName() + QLatin1Char(' ') + QString::number(program.versionMajor())
            + QLatin1Char('.') + QString::number(program.versionMinor()) + QStringLiteral(".desktop");
        const QString entry = folder + QLatin1Char('/') + name;
        const bool present = mdSettings::fileExists(app, entry);
        if (load) {
            if (present)
                return;   // whatever it holds, the user's entry stays
            app.sys.files.makePath(folder);
            app.sys.files.writeText(entry, desktopEntry(app));
        } else {
            if (present)
                app.sys.files.remove(entry);
            removeOlderEntries(app, folder, name);
        }
    });
}

} // namespace mdProcess
