// SPDX-License-Identifier: GPL-3.0-or-later
// mirvak-gate: decides each exec of a user whose guard is connected, before
// the program runs, by that guard's lists.
#include "gate/Gate.h"
#include "gate/Mounts.h"
#include "platform/linux/LinuxExecFiles.h"
#include "platform/linux/LinuxExecProcesses.h"
#include "platform/linux/LinuxFanotify.h"
#include "platform/linux/LinuxFiles.h"
#include "platform/linux/LinuxGateServer.h"
#include "platform/linux/LinuxProgram.h"
#include "platform/linux/LinuxMountTable.h"
#include "platform/linux/LinuxTermSignals.h"
#include "platform/Version.h"
#include "store/Policy.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <systemd/sd-daemon.h>
#include <unistd.h>

namespace {

void say(const QString& line)
{
    std::fprintf(stderr, "mirvak-gate: %s\n", qPrintable(line));
}

// Marks each local file system not marked yet.
void markLocal(platform::LinuxFanotify& fanotify, platform::LinuxMountTable& mounts, QSet<QString>& marked)
{
    QSet<QString> present;
    for (const LocalFileSystem& fs : localFileSystems(mounts.read())) {
        present.insert(fs.device);
        if (marked.contains(fs.device))
            continue;
        QString error;
        if (fanotify.mark(fs.path, true, error))
            marked.insert(fs.device);
        else
            say(error);
    }
    // A file system unmounted takes its mark with it; one mounted again is new.
    marked.intersect(present);
}

} // namespace

int main(int argc, char** argv)
{
    // Before any thread starts, so that none takes the signals.
    platform::LinuxTermSignals terms;
    // Qt's own poll loop wakes for an exec with less work than glib's.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mirvak-gate"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(platform::version::kText));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Decides each exec of a user whose Mirvak guard is connected."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption watch(QStringLiteral("watch"),
                                   QStringLiteral("Marks only the mount that holds <dir>, not every local file system."),
                                   QStringLiteral("dir"));
    const QCommandLineOption socket(QStringLiteral("socket"), QStringLiteral("Listens on <path>."),
                                    QStringLiteral("path"), QStringLiteral("/run/mirvak/gate.sock"));
    parser.addOption(watch);
    parser.addOption(socket);
    parser.process(application);
    if (!parser.positionalArguments().isEmpty()) {
        say(QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first()));
        return 2;
    }

    platform::LinuxFanotify fanotify;
    QString error;
    if (!fanotify.open(error)) {
        say(error);
        return 3;
    }
    platform::LinuxExecFiles files;
    platform::LinuxExecProcesses processes;
    platform::LinuxGateServer server;
    QElapsedTimer clock;
    clock.start();
    Gate gate({fanotify, files, processes, server}, ::getpid(), [&clock] { return clock.elapsed(); });
    QObject::connect(&server, &platform::LinuxGateServer::connected, &gate, &Gate::connected);
    QObject::connect(&server, &platform::LinuxGateServer::received, &gate, &Gate::received);
    QObject::connect(&server, &platform::LinuxGateServer::disconnected, &gate, &Gate::disconnected);
    // The administrator's deny records hold for every ordinary user, guard or
    // none, the allow records for a guard's user; a change is taken in within
    // kPolicyMs, as the guard's tick does.
    constexpr int kPolicyMs = 2000;
    platform::LinuxFiles policyFiles;
    Policy policy;
    const QString policyFolder = platform::LinuxProgram::policyFolder();
    const auto readPolicy = [&] {
        if (policy.refresh(policyFiles, policyFolder, say))
            gate.setPolicy(policy.list(Policy::Verdict::Allow), policy.list(Policy::Verdict::Deny),
                           policy.userMayDeny());
    };
    readPolicy();
    QTimer policyTimer;
    QObject::connect(&policyTimer, &QTimer::timeout, &gate, readPolicy);
    policyTimer.start(kPolicyMs);
    if (!server.listen(parser.value(socket), error)) {
        say(error);
        return 1;
    }

    std::unique_ptr<platform::LinuxMountTable> mounts;
    std::unique_ptr<QSocketNotifier> mountChanges;
    QSet<QString> marked;
    if (parser.isSet(watch)) {
        if (!fanotify.mark(parser.value(watch), false, error)) {
            say(error);
            return 1;
        }
    } else {
        mounts = std::make_unique<platform::LinuxMountTable>();
        markLocal(fanotify, *mounts, marked);
        if (marked.isEmpty()) {
            say(QStringLiteral("no local file system could be marked"));
            return 1;
        }
        mountChanges = std::make_unique<QSocketNotifier>(mounts->fd(), QSocketNotifier::Exception);
        QObject::connect(mountChanges.get(), &QSocketNotifier::activated, &gate,
                         [&] { markLocal(fanotify, *mounts, marked); });
    }

    QSocketNotifier events(fanotify.fd(), QSocketNotifier::Read);
    QObject::connect(&events, &QSocketNotifier::activated, &gate,
                     [&] { fanotify.read([&gate](const platform::ExecEvent& event) { gate.exec(event); }); });
    QSocketNotifier ends(terms.fd(), QSocketNotifier::Read);
    QObject::connect(&ends, &QSocketNotifier::activated, &gate, [&] {
        terms.drain();
        sd_notify(0, "STOPPING=1");
        gate.stop();
        // What arrived meanwhile is allowed before the group closes.
        fanotify.read([&fanotify](const platform::ExecEvent& event) { fanotify.answer(event, true); });
        QCoreApplication::quit();
    });

    // The watchdog restarts a gate whose loop stalls; the kernel then allows
    // what was waiting.
    QTimer watchdog;
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0) {
        QObject::connect(&watchdog, &QTimer::timeout, [] { sd_notify(0, "WATCHDOG=1"); });
        watchdog.start(int(usec / 2000));
    }
    sd_notify(0, "READY=1");
    say(parser.isSet(watch) ? QStringLiteral("guarding %1, listening on %2").arg(parser.value(watch), parser.value(socket))
                            : QStringLiteral("guarding %1 file systems, listening on %2")
                                  .arg(marked.size())
                                  .arg(parser.value(socket)));
    return QCoreApplication::exec();
}
