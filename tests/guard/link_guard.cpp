// SPDX-License-Identifier: GPL-3.0-or-later
// The guard's core itself, linked to the gate, for the gate's tests: it
// prints "ready" once the gate has its lists and "alert NAME" when its
// alert asks about a held exec, and answers the alert as lines on its input
// say ("press allow|deny").
#include "guard/GateLink.h"
#include "guard/Guard.h"
#include "platform/linux/LinuxEnvironment.h"
#include "platform/linux/LinuxFiles.h"
#include "platform/linux/LinuxGateSocket.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/LinuxProgram.h"
#include "platform/linux/LinuxShell.h"
#include "StandIn.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSocketNotifier>
#include <unistd.h>

namespace {
// No screen: nothing here is drawn or asked.
class NoDesktop : public platform::Desktop {
public:
    QRect screenGeometry() override { return {}; }
    QRect availableGeometry() override { return {}; }
    QRect trayGeometry() override { return {}; }
    qint64 clockMs() override { return QDateTime::currentMSecsSinceEpoch(); }
    void processEvents() override { QCoreApplication::processEvents(); }
    void startMove(QWidget*) override {}
    bool askYesNo(const QString&, const QString&) override { return false; }
    void message(const QString&, const QString&) override {}
    QString pickFile(const QString&, const QString&) override { return {}; }
    void quit() override { QCoreApplication::quit(); }
};
} // namespace

int main(int argc, char** argv)
{
    platform::LinuxProcesses processes;
    QCoreApplication application(argc, argv);
    platform::LinuxFiles files;
    platform::LinuxEnvironment env;
    platform::LinuxShell shell;
    NoDesktop desktop;
    platform::LinuxProgram program;
    App app({processes, files, env, shell, desktop, program});
    Guard guard(app);
    platform::LinuxGateSocket socket;
    GateLink link(app, socket);
    guard.attachGate(link);
    QObject::connect(&link, &GateLink::stateChanged, [](bool on) { standin::print(on ? "ready" : "gone"); });
    QObject::connect(&guard, &Guard::alertWanted, [&] {
        if (guard.appHeld)
            standin::print(QStringLiteral("alert ") + guard.appName);
    });
    if (guard.Form_Load() != Guard::Start::Running)
        return 1;
    // One line at a time: the test waits for each answer's effect. The input's end quits.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char line[256];
        const ssize_t n = ::read(STDIN_FILENO, line, sizeof line);
        const QByteArray command = QByteArray(line, std::max<ssize_t>(n, 0)).trimmed();
        if (n <= 0)
            QCoreApplication::quit();
        else if (command == "press allow" || command == "press deny")
            guard.decide(command == "press allow" ? Guard::Decision::Allow : Guard::Decision::Deny);
    });
    return QCoreApplication::exec();
}
