#pragma once
#include <QString>

namespace platform {

// Turns a module path as Windows reports it for some system processes into an
// ordinary path: "\SystemRoot" (letter case counts) becomes the Windows folder,
// and a prefix before the first "C:\" (any case) such as "\??\" is dropped.
QString windowsModulePath(QString path, const QString& dirWindows);

} // namespace platform
