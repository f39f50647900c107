// SPDX-License-Identifier: GPL-3.0-or-later
// The guard's core itself, linked to the gate, for the gate's tests: it
// prints "ready" once the gate has its lists, "alert NAME" when its alert
// asks about a held exec and "told TEXT" for each notice, and answers the
// alert as lines on its input say ("press allow|deny").
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
    void message(const QString&, const QString& text) override { standin::print(QStringLiteral("told ") + text); }
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
    app.notice = [](const QString& text) { standin::print(QStringLiteral("told ") + text); };
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
    return standin::run([&](const QByteArray& command) {
        if (command == "press allow")
            guard.decide(Guard::Decision::Allow);
        else if (command == "press deny")
            guard.decide(Guard::Decision::Deny);
    });
}
