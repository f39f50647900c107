// SPDX-License-Identifier: GPL-3.0-or-later
#include "GateHarness.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gateharness {

namespace {
bool writeFile(const QString& path, const QString& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0
        && file.setPermissions(file.permissions() | QFileDevice::ReadOther);
}

QStringList asUser(int uid)
{
    return {QString("--reuid=%1").arg(uid), QString("--regid=%1").arg(uid), "--clear-groups"};
}
} // namespace

Outcome runInNamespace(const QStringList& arguments)
{
    Outcome outcome;
    outcome.inside = qEnvironmentVariableIsSet("MIRVAK_GATE_NS");
    if (outcome.inside)
        return outcome;
    if (::geteuid() != 0) {
        outcome.skipped = "the exec gate needs root";
        return outcome;
    }
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start("unshare",
              QStringList{"-m", "--propagation", "private", "-pf", "--mount-proc", "--", "env", "MIRVAK_GATE_NS=1"} + arguments);
    if (!run.waitForFinished(120000))
        run.kill();
    run.waitForFinished();
    outcome.output = QString::fromLocal8Bit(run.readAll());
    outcome.passed = run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0;
    if (outcome.passed && outcome.output.contains("SKIP: "))
        outcome.skipped = outcome.output.section("SKIP: ", 1).section('\n', 0, 0);
    else if (!outcome.passed && outcome.output.contains("unshare: "))
        outcome.skipped = "no namespace of its own: " + outcome.output.trimmed();
    return outcome;
}

Rig::Rig(const QStringList& denied)
{
    if (!base_.isValid()) {
        error = "can't make a folder in /tmp";
        return;
    }
    dir = base_.path() + "/marked";
    plain = base_.path() + "/plain";
    for (const QString& path : {dir, plain})
        if (!QDir().mkpath(path) || ::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0, "mode=1777") != 0) {
            error = "can't mount a tmpfs on " + path;
            return;
        }
    ::chmod(QFile::encodeName(base_.path()).constData(), 0755);
    // The gate reads this policy folder, never the machine's.
    const QString etc = base_.path() + "/etc";
    if (!QDir().mkpath(etc + "/mirvak/deny.d") || !writeFile(etc + "/mirvak/deny.d/site.csv", denied.join('\n'))) {
        error = "can't write the policy";
        return;
    }
    gate = std::make_unique<QProcess>();
    gate->setProcessChannelMode(QProcess::MergedChannels);
    gate->start("env", {"XDG_CONFIG_DIRS=" + etc, MIRVAK_GATE_EXE, "--watch", dir, "--socket", dir + "/gate.sock"});
    // Its first line says that it listens, or why it does not.
    while (!gate->canReadLine() && gate->waitForReadyRead(kWaitMs)) {
    }
    const QString said = QString::fromLocal8Bit(gate->readLine()).trimmed();
    if (!said.contains("listening")) {
        error = said.isEmpty() ? "the gate did not start" : said;
        refused = said.contains("fanotify refused");
    }
    if (refused)
        std::printf("SKIP: %s\n", qPrintable(error));
}

Rig::~Rig()
{
    // Stopped or not, SIGKILL ends them.
    for (auto* process : {guard.get(), gate.get()})
        if (process && process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished();
        }
    for (const QString& path : {dir, plain})
        ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
}

QString Rig::program(const QString& name, bool marked)
{
    const QString path = (marked ? dir : plain) + "/" + name;
    QFile::copy("/usr/bin/touch", path);   // with its mode
    return path;
}

bool Rig::launchGuard(const QStringList& arguments)
{
    guard = std::make_unique<QProcess>();
    guardOutput_.clear();
    guard->start("setpriv", asUser(kGuardUser) + arguments);
    return !guardLine("ready").isEmpty();
}

bool Rig::startGuard(const Guard& settings)
{
    const QString allow = plain + "/allow";
    const QString deny = plain + "/deny";
    if (!writeFile(allow, settings.allow.join('\n')) || !writeFile(deny, settings.deny.join('\n')))
        return false;
    return launchGuard({MIRVAK_GATE_GUARD_EXE, dir + "/gate.sock", QString::number(settings.listLevel), settings.safe ? "1" : "0",
                        settings.alertDefault, QString::number(settings.gateHold), allow, deny});
}

#ifdef MIRVAK_LINK_GUARD_EXE
bool Rig::startRealGuard()
{
    const QString home = plain + "/guard";
    const QString test = QCoreApplication::applicationFilePath();
    const QStringList allow{test.section('/', -1) + "|" + test, "mirvak-gate|" MIRVAK_GATE_EXE, "setpriv|/usr/bin/setpriv"};
    const QString settings = "startup_load=0\r\ncheck_interval=1\r\npath_search=0\r\ntmp_interval=60\r\nlist_level=1\r\n"
                             "safe_level=1\r\nclean_value=0\r\nalways_top=0\r\nkill_notice=1\r\nweb_search=\r\nerror_log=1\r\n"
                             "gate_socket=" + dir + "/gate.sock\r\n";
    if (!QDir().mkpath(home) || !QFile::copy(MIRVAK_LINK_GUARD_EXE, home + "/guard") || !writeFile(home + "/settings.ini", settings)
        || !writeFile(home + "/allow.csv", allow.join("\r\n") + "\r\n") || !writeFile(home + "/deny.csv", QString())
        || QProcess::execute("chown", {"-R", QString("%1:%1").arg(kGuardUser), home}) != 0)
        return false;
    ::chmod(QFile::encodeName(home).constData(), 0700);
    return launchGuard({"env", "HOME=" + home, "XDG_RUNTIME_DIR=" + home, home + "/guard"});
}
#endif

QString Rig::guardLine(const QString& prefix)
{
    const QDeadlineTimer deadline(kWaitMs);
    for (;;) {
        while (guardOutput_.contains('\n')) {
            const QString line = QString::fromUtf8(guardOutput_.left(guardOutput_.indexOf('\n')));
            guardOutput_.remove(0, guardOutput_.indexOf('\n') + 1);
            if (line.startsWith(prefix))
                return line;
        }
        if (deadline.hasExpired() || guard->state() == QProcess::NotRunning)
            return {};
        guard->waitForReadyRead(100);
        guardOutput_ += guard->readAllStandardOutput();
    }
}

std::unique_ptr<QProcess> Rig::start(const QString& program, int uid, bool rootInEffect)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::MergedChannels);
    const QStringList as = rootInEffect ? QStringList{QString("--ruid=%1").arg(uid)} : asUser(uid);
    process->start("setpriv", as + QStringList{program, marker(program.section('/', -1))});
    process->waitForStarted();
    return process;
}

Rig::Result Rig::finish(QProcess& process)
{
    if (!process.waitForFinished(kWaitMs))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, QString::fromLocal8Bit(process.readAll())};
}

} // namespace gateharness
