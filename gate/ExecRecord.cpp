// SPDX-License-Identifier: GPL-3.0-or-later
#include "gate/ExecRecord.h"

#include "store/RecordText.h"

#include <QDateTime>

QString execName(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString execRecord(double level, const QString& name, const platform::ExecFiles::Facts& facts,
                   const QTimeZone& zone, const QString& hex)
{
    // A hidden file, as the scan sees it, has a record of its name alone.
    if (!facts.regular || name.isEmpty() || name.startsWith(QLatin1Char('.')) || facts.path.isEmpty())
        return name;
    QString record = name;
    if (level > 2) {
        const QDateTime changed = QDateTime::fromSecsSinceEpoch(facts.modifiedSec, zone);
        record += QLatin1Char('|') + recordText::date(changed.date(), changed.time());
    }
    if (level > 1)
        record += QLatin1Char('|') + recordText::size(facts.size);
    if (level > 0)
        record += QLatin1Char('|') + facts.path;
    if (level > 3 && !hex.isEmpty())
        record += QStringLiteral("|sha256:") + hex;
    return record;
}
