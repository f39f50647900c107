// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Cli.h"
#include "guard/frmMain.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/LinuxFiles.h"
#include "platform/linux/LinuxJournal.h"
#include "platform/linux/LinuxNotices.h"
#include "platform/linux/LinuxEnvironment.h"
#include "platform/linux/LinuxShell.h"
#include "platform/linux/LinuxDesktop.h"
#include "platform/linux/LinuxProgram.h"
#include "platform/linux/LinuxTray.h"
#include "tray/frmTray.h"

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// Runs `body` with the program's shared state over the Linux services; an
// application object must exist.
template <class Body>
int withApp(platform::LinuxProcesses& processes, Body body)
{
    platform::LinuxFiles files;
    platform::LinuxEnvironment env;
    platform::LinuxShell shell;
    platform::LinuxDesktop desktop;
    platform::LinuxProgram program;
    platform::LinuxJournal journal;
    App app({processes, files, env, shell, desktop, program, &journal});
    return body(app, desktop);
}

int print(const Cli::Outcome& outcome)
{
    std::fputs(outcome.out.toLocal8Bit().constData(), stdout);
    std::fputs(outcome.err.toLocal8Bit().constData(), stderr);
    return outcome.status;
}

int guard(App& app, platform::LinuxDesktop& desktop)
{
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(QIcon(app.file(QStringLiteral("mirvak.png"))));
    platform::LinuxNotices notices(app.file(QStringLiteral("mirvak.png")));
    app.sys.notices = &notices;
    platform::LinuxTray trayIcon;
    desktop.tray = &trayIcon;
    Guard core(app);
    frmMain main(core);
    std::unique_ptr<frmTray> tray;
    core.loadTray = [&] {
        tray = std::make_unique<frmTray>(app, core, trayIcon);
        tray->Form_Load();
    };
    switch (core.Form_Load()) {
    case Guard::Start::SecondCopy:
        return 0;
    case Guard::Start::NoSettings: {
        // A user who starts the program from a terminal learns why it ends,
        // and where a portable copy keeps the file as well.
        QString where = app.file(QStringLiteral("settings.ini"));
        const QString portable = QCoreApplication::applicationDirPath() + QStringLiteral("/settings.ini");
        if (where != portable)
            where = portable + QStringLiteral(" or ") + where;
        std::fprintf(stderr, "Mirvak: settings file not found: %s\n", qPrintable(where));
        return 1;
    }
    case Guard::Start::Running:
        break;
    }
    return QApplication::exec();
}

// While the application object opens the display: Qt aborts with advice to
// reinstall when it finds none, so the user learns in one line what is missing.
void openingDisplay(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtFatalMsg) {
        std::fputs("Mirvak: needs a graphical session, and no display can be opened\n", stderr);
        std::fflush(stderr);
        std::_Exit(1);
    }
    // The platform plugin's own lines before that end say the same at length.
    if (!QByteArrayView(context.category ? context.category : "").startsWith("qt.qpa."))
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

} // namespace

int main(int argc, char* argv[])
{
    // Read before any application object exists: --help and --version need no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const Cli::Outcome outcome = Cli::parse(arguments, platform::LinuxProgram::versionText());
    if (outcome.mode == Cli::Mode::Done)
        return print(outcome);
    platform::LinuxProcesses processes;
    if (outcome.mode == Cli::Mode::AllowRunning) {
        QCoreApplication application(argc, argv);
        return withApp(processes, [](App& app, platform::LinuxDesktop&) { return print(Cli::allowRunning(app)); });
    }
    // What the libraries start for the guard from here on (Qt launches a
    // session bus helper when there is no bus, which forks and leaves its
    // daemon) stays its child, known as its own; start-up ends this once the
    // tray is loaded.
    processes.adoptOrphans(true);
    qInstallMessageHandler(openingDisplay);
    QApplication application(argc, argv);
    qInstallMessageHandler(nullptr);
    return withApp(processes, guard);
}
