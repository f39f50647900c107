// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/RecordText.h"

namespace recordText {

QString size(qint64 bytes)
{
    if (bytes < 1024)
        return QString::number(bytes) + QLatin1Char('b');
    // Hundredths of the unit in whole numbers, rounded half to even, so a
    // tie is a tie exactly and any 64-bit size fits.
    const qint64 unit = bytes < 1048576 ? 1024 : 1048576;
    const qint64 rest = bytes % unit;
    qint64 hundredths = bytes / unit * 100 + rest * 100 / unit;
    const qint64 left = rest * 100 % unit * 2;
    if (left > unit || (left == unit && hundredths % 2 != 0))
        ++hundredths;
    // "." always: a list record must not change with the locale.
    QString text = QString::number(hundredths / 100);
    if (const qint64 cents = hundredths % 100) {
        QString fraction = QStringLiteral("%1").arg(cents, 2, 10, QLatin1Char('0'));
        if (fraction.endsWith(QLatin1Char('0')))
            fraction.chop(1);
        text += QLatin1Char('.') + fraction;
    }
    return text + (unit == 1024 ? QLatin1Char('K') : QLatin1Char('M'));
}

QString date(QDate date, QTime time)
{
    return QString::asprintf("%04d.%02d.%02d %d:%02d", date.year(), date.month(), date.day(), time.hour(),
                             time.minute());
}

} // namespace recordText
