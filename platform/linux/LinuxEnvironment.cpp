// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxEnvironment.h"


#include <QDir>

#include <cerrno>
#include <dirent.h>

namespace platform {

QString LinuxEnvironment::variable(const QString& windowsName)
{
    if (qEnvironmentVariableIsSet(windowsName.toLocal8Bit().constData()))
        return qEnvironmentVariable(windowsName.toLocal8Bit().constData());
    if (windowsName == QLatin1String("ProgramFiles"))
        return QStringLiteral("/opt");
    if (windowsName == QLatin1String("TMP")) {
        const QString tmpdir = qEnvironmentVariable("TMPDIR");
        return tmpdir.isEmpty() ? QStringLiteral("/tmp") : tmpdir;
    }
    if (windowsName == QLatin1String("USERPROFILE"))
        return QDir::homePath();
    if (windowsName == QLatin1String("OS"))
        return QStringLiteral("Linux");
    return QString();   // SYSTEMDRIVE, SystemDrive: the root folder has no drive name
}

QString LinuxEnvironment::startupFolder()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart");
}

} // namespace platform
