// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Cli.h"

#include "guard/Running.h"
#include "store/mdLists.h"
#include "store/mdSettings.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QThread>
#include <cstdio>
#include <exception>
#include <unistd.h>

namespace Cli {

namespace {

Outcome done()
{
    Outcome outcome;
    outcome.mode = Mode::Done;
    return outcome;
}

QString plural(qsizetype count, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

} // namespace

Outcome parse(const QStringList& arguments, const QString& version)
{
    const QString self = QFileInfo(arguments.value(0, QStringLiteral("mirvak"))).fileName();
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption showVersion(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    const QCommandLineOption allow(QStringLiteral("allow-running"));
    parser.addOptions({help, showVersion, allow});
    // The options that QGuiApplication and QApplication take for themselves
    // are theirs to read: a session manager, for one, restarts a program
    // with -session.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QStringList valued{QStringLiteral("platform"), QStringLiteral("platformpluginpath"), QStringLiteral("platformtheme"),
                             QStringLiteral("plugin"), QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowicon"),
                             QStringLiteral("qwindowtitle"), QStringLiteral("session"), QStringLiteral("display"),
                             QStringLiteral("geometry"), QStringLiteral("style"), QStringLiteral("stylesheet")};
    for (const QString& name : valued + QStringList{QStringLiteral("reverse"), QStringLiteral("widgetcount")}) {
        QCommandLineOption qt(name, QString(), valued.contains(name) ? QStringLiteral("value") : QString());
        qt.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qt);
    }
    Outcome outcome = done();
    const bool read = parser.parse(arguments);
    if (!read || !parser.positionalArguments().isEmpty()) {
        const QString error = read ? QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments()[0])
                                   : parser.errorText();
        outcome.status = 2;
        outcome.err = QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n").arg(self, error);
    } else if (parser.isSet(help)) {
        outcome.out = QStringLiteral(
            "Usage: %1 [OPTION]\n"
            "Guards the desktop from the notification area: ends the programs on the deny\n"
            "list, leaves those on the allow list alone and asks about each new program.\n"
            "Without an option it starts the guard; one copy runs in a session.\n"
            "\n"
            "  --allow-running  add the programs that run now to the allow list and exit\n"
            "  -h, --help       show this help and exit\n"
            "  -v, --version    show the version and exit\n"
            "\n"
            "Exit status: 0 on success, 1 when the settings or the list cannot be\n"
            "read or written or no display can be opened, 2 for a wrong option.\n").arg(self);
    } else if (parser.isSet(showVersion)) {
        outcome.out = QStringLiteral("Mirvak %1\n").arg(version);
    } else {
        outcome.mode = parser.isSet(allow) ? Mode::AllowRunning : Mode::Guard;
    }
    return outcome;
}

Progress terminalProgress()
{
    if (::isatty(STDERR_FILENO) != 1)
        return {};
    return [](int known, int total) {
        std::fprintf(stderr, "\rMirvak: hashing the programs that run: %d of %d known", known, total);
        if (known == total)
            std::fputs("\n", stderr);
        std::fflush(stderr);
    };
}

Outcome allowRunning(App& app, const Progress& progress)
{
    using namespace mdSettings;
    using namespace mdLists;
    Outcome outcome = done();
    const QString file = QStringLiteral("allow.csv");
    if (!getSettings(app)) {
        outcome.status = 1;
        outcome.err = QStringLiteral("Mirvak: settings file not found: %1\n").arg(app.file(QStringLiteral("settings.ini")));
        return outcome;
    }
    // A list_level that is no number would make records of bare names.
    try {
        numSetting(app, QStringLiteral("list_level"));
    } catch (const std::exception& e) {
        outcome.status = 1;
        outcome.err = QStringLiteral("Mirvak: list_level in %1: %2\n").arg(app.file(QStringLiteral("settings.ini")), e.what());
        return outcome;
    }
    // A list that is there but cannot be read would be written over, or its
    // denied programs trusted.
    for (const auto& [name, list] : {std::pair(file, &app.allowList), {QStringLiteral("deny.csv"), &app.denyList}}) {
        if (getList(app, *list, name); app.listsUnread.contains(name)) {
            outcome.status = 1;
            outcome.err = QStringLiteral("Mirvak: can't read %1; nothing is added\n").arg(app.file(name));
            return outcome;
        }
    }
    Running now = runningPrograms(app);
    // The hashes are computed beside this thread; it tells how far they are.
    const auto total = static_cast<int>(now.programs.size() + now.waiting.size()) + now.unhashed;
    for (int told = -1; told != 0 && (told > 0 || !now.waiting.empty());) {
        const auto left = static_cast<int>(now.waiting.size());
        if (progress && left != told)
            progress(total - left, total);
        told = left;
        if (left > 0 && !settleRunning(app, now))
            QThread::msleep(20);
    }
    for (const Running::Program& program : now.programs)
        app.allowList.add(program.record);
    if (!now.programs.empty())
        putList(app, app.allowList, file, false);
    if (app.saveFailureTold) {
        outcome.status = 1;
        outcome.err = QStringLiteral("Mirvak: can't save %1; it is left as it was\n").arg(app.file(file));
        return outcome;
    }
    outcome.out = QStringLiteral("Mirvak: added %1 to %2\n")
                      .arg(plural(qsizetype(now.programs.size()), "program", "programs"), app.file(file));
    if (now.unhashed > 0)
        outcome.err += QStringLiteral("Mirvak: left out %1 that could not be read to hash\n")
                           .arg(plural(now.unhashed, "program", "programs"));
    // It takes the file in at its next check; paused, once it is enabled again.
    if (!now.programs.empty() && app.sys.program.otherCopyRuns())
        outcome.err += QStringLiteral("Mirvak: the running guard takes them in at its next check\n");
    return outcome;
}

} // namespace Cli
