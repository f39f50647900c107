#include "guard/frmMain.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/LinuxServices.h"
#include "platform/linux/LinuxTray.h"
#include "tray/frmTray.h"

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <memory>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(false);

    platform::LinuxProcesses processes;
    platform::LinuxFiles files;
    platform::LinuxEnvironment env;
    platform::LinuxShell shell;
    platform::LinuxDesktop desktop;
    platform::LinuxProgram program;
    App app({processes, files, env, shell, desktop, program});
    application.setWindowIcon(QIcon(app.file(QStringLiteral("mirvak.png"))));

    platform::LinuxTray trayIcon;
    desktop.tray = &trayIcon;
    frmMain main(app);
    std::unique_ptr<frmTray> tray;
    main.loadTray = [&] {
        tray = std::make_unique<frmTray>(app, main, trayIcon);
        tray->Form_Load();
    };
    switch (main.Form_Load()) {
    case frmMain::Start::SecondCopy:
        return 0;
    case frmMain::Start::NoSettings: {
        // A user who starts the program from a terminal learns why it ends,
        // and where a portable copy keeps the file as well.
        QString where = app.file(QStringLiteral("settings.ini"));
        const QString portable = QCoreApplication::applicationDirPath() + QStringLiteral("/settings.ini");
        if (where != portable)
            where = portable + QStringLiteral(" or ") + where;
        std::fprintf(stderr, "Mirvak: settings file not found: %s\n", qPrintable(where));
        return 1;
    }
    case frmMain::Start::Running:
        break;
    }
    return application.exec();
}
