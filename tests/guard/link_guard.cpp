// SPDX-License-Identifier: GPL-3.0-or-later
// The guard itself, linked to the gate, for the gate's tests: it prints
// "ready" once the gate has its lists, "alert NAME" when its alert asks about
// a held exec and "told TEXT" for each notice, and presses the alert's
// buttons as lines on its input say ("press allow|deny", "quit").
#include "guard/GateLink.h"
#include "guard/frmMain.h"
#include "platform/linux/LinuxDesktop.h"
#include "platform/linux/LinuxEnvironment.h"
#include "platform/linux/LinuxFiles.h"
#include "platform/linux/LinuxGateSocket.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/LinuxProgram.h"
#include "platform/linux/LinuxShell.h"

#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <unistd.h>

namespace {
void print(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}
} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::LinuxProcesses processes;
    QApplication application(argc, argv);
    platform::LinuxFiles files;
    platform::LinuxEnvironment env;
    platform::LinuxShell shell;
    platform::LinuxDesktop desktop;
    platform::LinuxProgram program;
    App app({processes, files, env, shell, desktop, program});
    app.notice = [](const QString& text) { print(QStringLiteral("told ") + text); };
    frmMain main(app);
    platform::LinuxGateSocket socket;
    GateLink link(app, socket);
    main.attachGate(link);
    QObject::connect(&link, &GateLink::stateChanged, [](bool on) { print(on ? QStringLiteral("ready") : QStringLiteral("gone")); });
    // After the alert's own handler: the exec it shows, if it took one.
    QObject::connect(&link, &GateLink::held, [&] {
        if (link.shown() && main.isVisible())
            print(QStringLiteral("alert ") + link.shown()->name);
    });
    if (main.Form_Load() != frmMain::Start::Running) {
        print(QStringLiteral("can't start"));
        return 1;
    }
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char line[256];
        const ssize_t n = ::read(STDIN_FILENO, line, sizeof line - 1);
        if (n <= 0) {
            QCoreApplication::quit();
            return;
        }
        for (const QByteArray& command : QByteArray(line, n).split('\n')) {
            if (command == "press allow")
                main.btnAllow_MouseUp();
            else if (command == "press deny")
                main.btnDeny_MouseUp();
            else if (command == "quit")
                QCoreApplication::quit();
        }
    });
    return QApplication::exec();
}
