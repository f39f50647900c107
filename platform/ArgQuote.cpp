// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ArgQuote.h"

namespace platform {

namespace {
bool plain(const QString& arg)
{
    static const QString safe = QStringLiteral("_-+=.,/:@%^");
    if (arg.isEmpty())
        return false;
    for (const QChar c : arg)
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && !safe.contains(c))
            return false;
    return true;
}
} // namespace

QString joinArgs(const QStringList& args)
{
    QStringList quoted;
    for (const QString& arg : args) {
        if (plain(arg)) {
            quoted << arg;
        } else {
            QString q = arg;
            q.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
            quoted << QLatin1Char('\'') + q + QLatin1Char('\'');
        }
    }
    return quoted.join(QLatin1Char(' '));
}

} // namespace platform
