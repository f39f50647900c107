// SPDX-License-Identifier: GPL-3.0-or-later
#include "GateHarness.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>
#include <csignal>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gateharness {

Outcome runInNamespace(const QStringList& arguments)
{
    Outcome outcome;
    if (qEnvironmentVariableIsSet("MIRVAK_GATE_NS")) {
        outcome.inside = true;
        return outcome;
    }
    if (::geteuid() != 0) {
        outcome.skipped = QStringLiteral("the exec gate needs root");
        return outcome;
    }
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MIRVAK_GATE_NS"), QStringLiteral("1"));
    run.setProcessEnvironment(env);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QStringLiteral("unshare"), QStringList{QStringLiteral("-m"), QStringLiteral("--propagation"),
                                                     QStringLiteral("private"), QStringLiteral("-pf"),
                                                     QStringLiteral("--mount-proc"), QStringLiteral("--")}
                                             + arguments);
    if (!run.waitForFinished(120000))
        run.kill();
    run.waitForFinished();
    outcome.output = QString::fromLocal8Bit(run.readAll());
    if (run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0) {
        const qsizetype at = outcome.output.indexOf(QLatin1String("SKIP: "));
        if (at >= 0)
            outcome.skipped = outcome.output.mid(at + 6).section(QLatin1Char('\n'), 0, 0);
        outcome.passed = true;
    } else if (outcome.output.contains(QLatin1String("unshare: "))) {
        outcome.skipped = QStringLiteral("no namespace of its own: ") + outcome.output.trimmed();
    }
    return outcome;
}

Rig::Rig(const QStringList& denied)
{
    QByteArray base("/tmp/mirvak-gate-XXXXXX");
    if (!::mkdtemp(base.data())) {
        error = QStringLiteral("can't make a folder in /tmp");
        return;
    }
    base_ = QString::fromLocal8Bit(base);
    dir = base_ + QStringLiteral("/marked");
    plain = base_ + QStringLiteral("/plain");
    QDir().mkpath(dir);
    QDir().mkpath(plain);
    for (const QString& path : {dir, plain})
        if (::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0, "mode=1777") != 0) {
            error = QStringLiteral("can't mount a tmpfs on ") + path;
            return;
        }
    ::chmod(QFile::encodeName(base_).constData(), 0755);
    // The gate reads this policy folder, never the machine's.
    QDir().mkpath(base_ + QStringLiteral("/etc/mirvak/deny.d"));
    QFile policy(base_ + QStringLiteral("/etc/mirvak/deny.d/site.csv"));
    if (!policy.open(QIODevice::WriteOnly) || policy.write(denied.join(QLatin1Char('\n')).toUtf8()) < 0) {
        error = QStringLiteral("can't write the policy");
        return;
    }
    policy.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_DIRS"), base_ + QStringLiteral("/etc"));
    gate_ = std::make_unique<QProcess>();
    gate_->setProcessEnvironment(env);
    gate_->setProcessChannelMode(QProcess::MergedChannels);
    gate_->start(QStringLiteral(MIRVAK_GATE_EXE),
                 {QStringLiteral("--watch"), dir, QStringLiteral("--socket"), dir + QStringLiteral("/gate.sock")});
    QByteArray said;
    const QDeadlineTimer deadline(kWaitMs);
    while (!said.contains("listening") && !deadline.hasExpired()) {
        if (!gate_->waitForReadyRead(100) && gate_->state() == QProcess::NotRunning)
            break;
        said += gate_->readAll();
    }
    if (!said.contains("listening")) {
        error = QString::fromLocal8Bit(said + gate_->readAll()).trimmed();
        refused = error.contains(QLatin1String("fanotify refused"));
        if (error.isEmpty())
            error = QStringLiteral("the gate did not start");
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
    const QString path = (marked ? dir : plain) + QStringLiteral("/") + name;
    QFile::copy(QStringLiteral("/usr/bin/touch"), path);
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOther | QFileDevice::ReadOther);
    return path;
}

bool Rig::startGuard(const Guard& guard)
{
    const QString allow = plain + QStringLiteral("/allow");
    const QString deny = plain + QStringLiteral("/deny");
    for (const auto& [path, records] : {std::pair{allow, guard.allow}, std::pair{deny, guard.deny}}) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write(records.join(QLatin1Char('\n')).toUtf8());
        file.setPermissions(file.permissions() | QFileDevice::ReadOther);
    }
    guard_ = std::make_unique<QProcess>();
    guardOutput_.clear();
    guard_->start(QStringLiteral("setpriv"),
                  {QStringLiteral("--reuid=%1").arg(kGuardUser), QStringLiteral("--regid=%1").arg(kGuardUser),
                   QStringLiteral("--clear-groups"), QStringLiteral(MIRVAK_GATE_GUARD_EXE), QStringLiteral("--socket"),
                   dir + QStringLiteral("/gate.sock"), QStringLiteral("--list-level"), QString::number(guard.listLevel),
                   QStringLiteral("--safe-level"), guard.safe ? QStringLiteral("1") : QStringLiteral("0"),
                   QStringLiteral("--alert-default"), guard.alertDefault, QStringLiteral("--gate-hold"),
                   QString::number(guard.gateHold), QStringLiteral("--allow"), allow, QStringLiteral("--deny"), deny});
    return !guardLine(QStringLiteral("ready")).isEmpty();
}

QString Rig::guardLine(const QString& prefix)
{
    const QDeadlineTimer deadline(kWaitMs);
    for (;;) {
        while (guardOutput_.contains('\n')) {
            const qsizetype end = guardOutput_.indexOf('\n');
            const QString line = QString::fromUtf8(guardOutput_.left(end));
            guardOutput_.remove(0, end + 1);
            if (line.startsWith(prefix))
                return line;
        }
        if (deadline.hasExpired() || !guard_ || guard_->state() == QProcess::NotRunning)
            return {};
        guard_->waitForReadyRead(100);
        guardOutput_ += guard_->readAllStandardOutput();
    }
}

void Rig::tellGuard(const QString& line)
{
    guard_->write((line + QLatin1Char('\n')).toUtf8());
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
    const QString name = program.section(QLatin1Char('/'), -1);
    process->start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=%1").arg(uid), QStringLiteral("--regid=%1").arg(uid),
                                               QStringLiteral("--clear-groups"), program, marker(name)});
    process->waitForStarted();
    return process;
}

Rig::Result Rig::finish(QProcess& process)
{
    if (!process.waitForFinished(kWaitMs))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAll())};
}

} // namespace gateharness
