// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace platform {

// Text of the system (file names, paths, arguments, file lines) as QString
// without loss: valid UTF-8 decodes as usual, and each byte that is not part
// of valid UTF-8 becomes a lone surrogate U+DC80..U+DCFF, which no valid
// UTF-8 text can hold, so toSys() gives back the very bytes.
QString fromSys(QByteArrayView bytes);
QByteArray toSys(QStringView text);

} // namespace platform
