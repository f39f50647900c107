#include "platform/windows/WinPath.h"

namespace platform {

QString windowsModulePath(QString path, const QString& dirWindows)
{
    path.replace(QStringLiteral("\\SystemRoot"), dirWindows, Qt::CaseSensitive);
    // Only drive C is recognised; a path that starts with it is left alone.
    const qsizetype drive = path.indexOf(QStringLiteral("C:\\"), 0, Qt::CaseInsensitive);
    if (drive > 0)
        path.remove(0, drive);
    return path;
}

} // namespace platform
