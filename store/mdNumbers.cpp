// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/mdNumbers.h"

#include "store/mdFailures.h"

#include <QLocale>
#include <cmath>

namespace mdNumbers {

std::optional<double> parseNumber(QStringView text)
{
    // The C locale would read "1,000" as a thousand while refusing "0,5";
    // a comma makes no number at all.
    if (text.contains(QLatin1Char(',')))
        return std::nullopt;
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

double toNumber(const QString& text)
{
    const auto value = parseNumber(text);
    if (!value)
        mdFailures::fail(QStringLiteral("Type mismatch: '%1' is not a number").arg(text));
    return *value;
}

QString numText(double value)
{
    return QLocale::c().toString(value, 'g', 15);
}

double roundEven(double value)
{
    return std::nearbyint(value);   // the default rounding mode is to nearest, ties to even
}

} // namespace mdNumbers
