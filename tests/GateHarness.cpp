// SPDX-License-Identifier: GPL-3.0-or-later
#include "GateHarness.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
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
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MIRVAK_GATE_NS", "1");
    run.setProcessEnvironment(env);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start("unshare", QStringList{"-m", "--propagation", "private", "-pf", "--mount-proc", "--"} + arguments);
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

namespace {
// The next line `process` prints that begins with `prefix`; empty after
// kWaitMs or once it has ended. `said` gathers each line read.
QString nextLine(QProcess& process, const QString& prefix, QString* said = nullptr)
{
    const QDeadlineTimer deadline(kWaitMs);
    while (!deadline.hasExpired()) {
        while (process.canReadLine()) {
            const QString line = QString::fromUtf8(process.readLine()).trimmed();
            if (said)
                *said += line + '\n';
            if (line.startsWith(prefix))
                return line;
        }
        if (process.state() == QProcess::NotRunning)
            return {};
        process.waitForReadyRead(100);
    }
    return {};
}
} // namespace

Rig::Rig(const QStringList& denied)
{
    // Mounts of this namespace alone, which end with it: the marked one inside /tmp's.
    if (!qEnvironmentVariableIsSet("MIRVAK_GATE_NS") || ::mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0
        || !QDir().mkpath(dir) || ::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", 0, "mode=1777") != 0) {
        error = "can't mount a tmpfs in a namespace of the test's own";
        return;
    }
    // The gate reads this policy folder, never the machine's.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_DIRS", plain + "/etc");
    if (!QDir().mkpath(plain + "/etc/mirvak/deny.d") || !writeFile(plain + "/etc/mirvak/deny.d/site.csv", denied.join('\n'))) {
        error = "can't write the policy";
        return;
    }
    gate_ = std::make_unique<QProcess>();
    gate_->setProcessEnvironment(env);
    gate_->setProcessChannelMode(QProcess::MergedChannels);
    gate_->start(MIRVAK_GATE_EXE, {"--watch", dir, "--socket", dir + "/gate.sock"});
    if (nextLine(*gate_, "mirvak-gate: guarding", &error).isEmpty()) {
        error = error.trimmed();
        refused = error.contains("fanotify refused");
        error += error.isEmpty() ? "the gate did not start" : "";
        return;
    }
    error.clear();
}

Rig::~Rig()
{
    for (auto* process : {guard_.get(), gate_.get()})
        if (process) {
            process->kill();
            process->waitForFinished();
        }
}

QString Rig::program(const QString& name, bool marked)
{
    const QString path = (marked ? dir : plain) + "/" + name;
    QFile::copy("/usr/bin/touch", path);
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOther | QFileDevice::ReadOther);
    return path;
}

bool Rig::ran(const QString& name) const
{
    return QFile::exists(marker(name));
}

bool Rig::launchGuard(const QStringList& arguments, const QProcessEnvironment& env)
{
    guard_ = std::make_unique<QProcess>();
    guard_->setProcessEnvironment(env);
    guard_->start("setpriv", asUser(kGuardUser) + arguments);
    return !guardLine("ready").isEmpty();
}

bool Rig::startGuard(const Guard& guard)
{
    const QString allow = plain + "/allow";
    const QString deny = plain + "/deny";
    if (!writeFile(allow, guard.allow.join('\n')) || !writeFile(deny, guard.deny.join('\n')))
        return false;
    return launchGuard({MIRVAK_GATE_GUARD_EXE, dir + "/gate.sock", QString::number(guard.listLevel), guard.safe ? "1" : "0",
                        guard.alertDefault, QString::number(guard.gateHold), allow, deny},
                       QProcessEnvironment::systemEnvironment());
}

#ifdef MIRVAK_LINK_GUARD_EXE
bool Rig::startRealGuard(const QStringList& deny)
{
    const QString home = plain + "/guard";
    const QString test = QCoreApplication::applicationFilePath();
    const QStringList allow{test.section('/', -1) + "|" + test, "mirvak-gate|" MIRVAK_GATE_EXE, "setpriv|/usr/bin/setpriv"};
    const QString settings = "startup_load=0\r\ncheck_interval=1\r\npath_search=0\r\ntmp_interval=60\r\nlist_level=1\r\n"
                             "safe_level=1\r\nclean_value=0\r\nalways_top=0\r\nkill_notice=1\r\nweb_search=\r\nerror_log=1\r\n"
                             "gate_socket=" + dir + "/gate.sock\r\n";
    if (!QDir().mkpath(home) || !QFile::copy(MIRVAK_LINK_GUARD_EXE, home + "/guard")
        || !writeFile(home + "/settings.ini", settings) || !writeFile(home + "/allow.csv", allow.join("\r\n") + "\r\n")
        || !writeFile(home + "/deny.csv", deny.join("\r\n") + "\r\n"))
        return false;
    if (QProcess::execute("chown", {"-R", QString("%1:%1").arg(kGuardUser), home}) != 0)
        return false;
    ::chmod(QFile::encodeName(home).constData(), 0700);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_RUNTIME_DIR", home);
    return launchGuard({home + "/guard"}, env);
}
#endif

QString Rig::guardLine(const QString& prefix)
{
    return guard_ ? nextLine(*guard_, prefix) : QString();
}

void Rig::tellGuard(const QString& line)
{
    guard_->write((line + '\n').toUtf8());
    guard_->waitForBytesWritten();
}

void Rig::stopGuard()
{
    guard_->kill();
    guard_->waitForFinished();
}

std::unique_ptr<QProcess> Rig::start(const QString& program, int uid)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->start("setpriv", asUser(uid) << program << marker(program.section('/', -1)));
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
