// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>
#include <QStringList>

namespace platform {
// Arguments as one line of text, quoted as a POSIX shell needs them: a shell
// reading it gets the same list back, empty arguments included.
QString joinArgs(const QStringList& args);
} // namespace platform
