#pragma once
#include <QString>
#include <QStringList>

namespace platform {
// Arguments as one line of text, quoted as a POSIX shell needs them, and back:
// splitArgs(joinArgs(a)) == a for any list, empty arguments included.
QString joinArgs(const QStringList& args);
QStringList splitArgs(const QString& text);
} // namespace platform
