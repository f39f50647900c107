// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxProgram.h"

#include "platform/SysText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <memory>
#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

QString LinuxProgram::policyFolder()
{
    const QString first = qEnvironmentVariable("XDG_CONFIG_DIRS").section(QLatin1Char(':'), 0, 0);
    return (first.isEmpty() ? QStringLiteral("/etc") : first) + QStringLiteral("/mirvak");
}

LinuxProgram::LinuxProgram()
{
    // Portable: the executable's folder holds settings.ini and may be written.
    const QString own = QCoreApplication::applicationDirPath();
    if (QFileInfo(own + QStringLiteral("/settings.ini")).isFile() && QFileInfo(own).isWritable()) {
        folders_ = {own, own, own, policyFolder()};
        return;
    }
    // Installed: bin/ beside share/mirvak/, the user's files in the XDG folders.
    folders_.policy = policyFolder();
    folders_.resources = QDir::cleanPath(own + QStringLiteral("/../share/mirvak"));
    folders_.config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/mirvak");
    folders_.data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/mirvak");
    const QString settings = folders_.config + QStringLiteral("/settings.ini");
    const QString shipped = folders_.resources + QStringLiteral("/settings.ini");
    if (!QFileInfo::exists(settings) && QFileInfo::exists(shipped) && QDir().mkpath(folders_.config)
        && QFile::copy(shipped, settings))
        QFile::setPermissions(settings, QFile::permissions(settings) | QFileDevice::WriteOwner);   // the user edits it
    if (QFileInfo::exists(settings))
        QDir().mkpath(folders_.data);   // the lists are saved by replacing files there
}

QString LinuxProgram::exeName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

unsigned LinuxProgram::userId()
{
    return ::geteuid();
}

QString LinuxProgram::exePath()
{
    // The kernel's own name of this executable, as the walk reads it for
    // every process, so that the scan knows this process by its path.
    if (exePath_.isEmpty()) {
        char target[PATH_MAX + 1];
        ssize_t n = ::readlink("/proc/self/exe", target, sizeof target - 1);
        constexpr char deleted[] = " (deleted)";
        constexpr ssize_t tail = sizeof deleted - 1;
        if (n > tail && std::memcmp(target + n - tail, deleted, tail) == 0)
            n -= tail;
        exePath_ = n > 0 ? fromSys(QByteArrayView(target, n)) : QCoreApplication::applicationFilePath();
    }
    return exePath_;
}

QString LinuxProgram::description()
{
    return QStringLiteral("Protection against spyware, trojans and viruses. "
                          "A manager of the running programs with an allow list and a deny list.");
}

QString LinuxProgram::lockPath(bool quiet)
{
    QString dir;
    if (quiet && qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        // The folder Qt falls back to, with a warning, for the guard's lock;
        // a look at that lock (--allow-running) finds it without the warning.
        const passwd* user = ::getpwuid(::geteuid());
        dir = QDir::tempPath() + QStringLiteral("/runtime-") + (user ? fromSys(user->pw_name) : QString());
    } else {
        dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    }
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + QStringLiteral("/mirvak-") + exeName() + QStringLiteral(".lock");
}

bool LinuxProgram::otherCopyRuns()
{
    // Reads the lock's owner; a QLockFile that was never locked leaves the file alone.
    qint64 owner = 0;
    QString host;
    QString name;
    if (!QLockFile(lockPath(true)).getLockInfo(&owner, &host, &name) || owner == QCoreApplication::applicationPid())
        return false;
    // As QLockFile judges a lock stale: its id is free, or runs another program now.
    if (::kill(static_cast<pid_t>(owner), 0) != 0 && errno == ESRCH)
        return false;
    const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(owner));
    return exe.isEmpty() || QFileInfo(exe).fileName() == name;
}

bool LinuxProgram::takeInstanceLock()
{
    lock_ = std::make_unique<QLockFile>(lockPath());
    lock_->setStaleLockTime(0);   // a lock left by a crashed copy is taken over
    if (lock_->tryLock(0))
        return true;
    // A lock left by a copy that had this very process id (a crash, then a
    // fresh session handing out the same id) names this process as its owner.
    qint64 owner = 0;
    QString host;
    QString name;
    if (lock_->error() == QLockFile::LockFailedError && lock_->getLockInfo(&owner, &host, &name)
        && owner == QCoreApplication::applicationPid() && lock_->removeStaleLockFile())
        return lock_->tryLock(0);
    return false;
}

} // namespace platform
