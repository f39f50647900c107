// SPDX-License-Identifier: GPL-3.0-or-later
#include "GateHarness.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <csignal>
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

QString nextLine(QProcess* process, QByteArray& buffer, const QString& prefix)
{
    const QDeadlineTimer deadline(kWaitMs);
    for (;;) {
        while (buffer.contains('\n')) {
            const QString line = QString::fromUtf8(buffer.left(buffer.indexOf('\n')));
            buffer.remove(0, buffer.indexOf('\n') + 1);
            if (line.startsWith(prefix))
                return line;
        }
        if (deadline.hasExpired() || !process || process->state() == QProcess::NotRunning)
            return {};
        process->waitForReadyRead(100);
        buffer += process->readAllStandardOutput();
    }
}

Rig::Rig(const QStringList& denied)
{
    QByteArray base("/tmp/mirvak-gate-XXXXXX");
    if (!::mkdtemp(base.data())) {
        error = "can't make a folder in /tmp";
        return;
    }
    base_ = QString::fromLocal8Bit(base);
    dir = base_ + "/marked";
    plain = base_ + "/plain";
    for (const QString& path : {dir, plain})
        if (!QDir().mkpath(path) || ::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0, "mode=1777") != 0) {
            error = "can't mount a tmpfs on " + path;
            return;
        }
    ::chmod(base.constData(), 0755);
    // The gate reads this policy folder, never the machine's.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_DIRS", base_ + "/etc");
    if (!QDir().mkpath(base_ + "/etc/mirvak/deny.d") || !writeFile(base_ + "/etc/mirvak/deny.d/site.csv", denied.join('\n'))) {
        error = "can't write the policy";
        return;
    }
    gate_ = std::make_unique<QProcess>();
    gate_->setProcessEnvironment(env);
    gate_->setProcessChannelMode(QProcess::MergedChannels);
    gate_->start(MIRVAK_GATE_EXE, {"--watch", dir, "--socket", dir + "/gate.sock"});
    QByteArray said;
    const QDeadlineTimer deadline(kWaitMs);
    while (!said.contains("listening") && !deadline.hasExpired()
           && (gate_->waitForReadyRead(100) || gate_->state() != QProcess::NotRunning))
        said += gate_->readAll();
    if (!said.contains("listening")) {
        error = QString::fromLocal8Bit(said + gate_->readAll()).trimmed();
        refused = error.contains("fanotify refused");
        error += error.isEmpty() ? "the gate did not start" : "";
    }
}

Rig::~Rig()
{
    for (auto* process : {guard_.get(), gate_.get()})
        if (process && process->state() != QProcess::NotRunning) {
            ::kill(pid_t(process->processId()), SIGCONT);
            process->kill();
            process->waitForFinished();
        }
    for (const QString& path : {dir, plain})
        ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
    if (!base_.isEmpty())
        QDir(base_).removeRecursively();
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
    guardOutput_.clear();
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
bool Rig::startRealGuard()
{
    const QString home = plain + "/guard";
    const QString test = QCoreApplication::applicationFilePath();
    const QStringList allow{test.section('/', -1) + "|" + test, "mirvak-gate|" MIRVAK_GATE_EXE, "setpriv|/usr/bin/setpriv"};
    const QString settings = "startup_load=0\r\ncheck_interval=1\r\npath_search=0\r\ntmp_interval=60\r\nlist_level=1\r\n"
                             "safe_level=1\r\nclean_value=0\r\nalways_top=0\r\nkill_notice=1\r\nweb_search=\r\nerror_log=1\r\n"
                             "gate_socket=" + dir + "/gate.sock\r\n";
    if (!QDir().mkpath(home) || !QFile::copy(MIRVAK_LINK_GUARD_EXE, home + "/guard")
        || !writeFile(home + "/settings.ini", settings) || !writeFile(home + "/allow.csv", allow.join("\r\n") + "\r\n")
        || !writeFile(home + "/deny.csv", QString()))
        return false;
    const QStringList owned = QDir(home).entryList(QDir::Files) << ".";
    for (const QString& name : owned)
        if (::chown(QFile::encodeName(home + "/" + name).constData(), kGuardUser, kGuardUser) != 0)
            return false;
    ::chmod(QFile::encodeName(home).constData(), 0700);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_RUNTIME_DIR", home);
    return launchGuard({home + "/guard"}, env);
}
#endif

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
