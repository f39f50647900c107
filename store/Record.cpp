// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/Record.h"

#include "store/mdSettings.h"
#include "store/mdNumbers.h"

#include <QStringBuilder>
#include <algorithm>

namespace {

// The value of a run of decimal digits; -1 when it is empty or holds anything else.
int number(QStringView digits)
{
    if (digits.isEmpty() || digits.size() > 4)
        return -1;
    int value = 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

bool isHash(QStringView field)
{
    return field.size() == 64 && std::all_of(field.begin(), field.end(), [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
    });
}

// The first field of `rest` taken off it when it has the shape `is` tells.
template <class Shape>
QString take(QStringView& rest, Shape is)
{
    const qsizetype bar = rest.indexOf(QLatin1Char('|'));
    const QStringView field = bar < 0 ? rest : rest.first(bar);
    if (!is(field))
        return QString();
    rest = bar < 0 ? QStringView() : rest.sliced(bar + 1);
    return field.toString();
}

// The date, size and path of what follows the name.
void fill(Record& record, QStringView rest)
{
    record.date = take(rest, [](QStringView field) { return Record::minutes(field) >= 0; });
    record.size = take(rest, [](QStringView field) { return Record::bytes(field) >= 0; });
    record.path = rest.toString();
}

// The scan names a file by the last part of its path.
bool endsWithName(const QString& path, QStringView name)
{
    if (path.size() <= name.size() || !path.endsWith(name, Qt::CaseInsensitive))
        return false;
    const QChar before = path[path.size() - name.size() - 1];
    return before == QLatin1Char('/') || before == QLatin1Char('\\');
}

} // namespace

Record Record::parse(const QString& text)
{
    Record record;
    QStringView body(text);
    const qsizetype hash = body.lastIndexOf(QLatin1String("|sha256:"));
    if (hash >= 0 && isHash(body.sliced(hash + 8))) {
        record.sha256 = body.sliced(hash + 8).toString();
        body = body.first(hash);
    }
    qsizetype bar = body.indexOf(QLatin1Char('|'));
    if (bar < 0) {
        record.name = body.toString();
        return record;
    }
    fill(record, body.sliced(bar + 1));
    if (!record.path.isEmpty() && !endsWithName(record.path, body.first(bar))) {
        // A file name holds no "/", an old list's no "\".
        for (qsizetype next = body.indexOf(QLatin1Char('|'), bar + 1); next >= 0;
             next = body.indexOf(QLatin1Char('|'), next + 1)) {
            const QStringView name = body.first(next);
            if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
                break;
            Record longer;
            fill(longer, body.sliced(next + 1));
            if (endsWithName(longer.path, name)) {
                longer.sha256 = record.sha256;
                record = std::move(longer);
                bar = next;
                break;
            }
        }
    }
    record.name = body.first(bar).toString();
    return record;
}

Record Record::parseLine(const QString& line)
{
    const qsizetype bar = line.lastIndexOf(QLatin1Char('|'));
    const std::optional<double> count = bar < 0 ? std::nullopt : countOf(QStringView(line).sliced(bar + 1));
    Record record = parse(count ? line.left(bar) : line);
    record.count = count;
    return record;
}

QString Record::factsText() const
{
    QString text;
    for (const QString* field : {&date, &size, &path})
        if (!field->isEmpty())
            text += QLatin1Char('|') + *field;
    return text;
}

QString Record::join(const QString& name, const QString& facts, const QString& sha256)
{
    if (sha256.isEmpty())
        return name + facts;
    return name % facts % QLatin1String("|sha256:") % sha256;
}

QString Record::text() const
{
    return join(name, factsText(), sha256);
}

QString Record::line() const
{
    // + 0.0: no "-0"
    return count ? text() + QLatin1Char('|') + mdNumbers::numText(*count + 0.0) : text();
}

QString Record::rest() const
{
    return text().mid(name.size() + 1);
}

qint64 Record::minutes(QStringView field)
{
    if ((field.size() != 15 && field.size() != 16) || field[4] != QLatin1Char('.') || field[7] != QLatin1Char('.')
        || field[10] != QLatin1Char(' ') || field[field.size() - 3] != QLatin1Char(':'))
        return -1;
    const int parts[] = {number(field.sliced(0, 4)), number(field.sliced(5, 2)), number(field.sliced(8, 2)),
                         number(field.sliced(11, field.size() - 14)), number(field.last(2))};
    qint64 value = 0;
    for (const int part : parts) {
        if (part < 0)
            return -1;
        value = value * 100 + part;
    }
    return value;
}

double Record::bytes(QStringView field)
{
    if (field.size() < 2 || !field.front().isDigit())
        return -1;
    const QChar unit = field.back();
    const double scale = unit == QLatin1Char('b') ? 1 : unit == QLatin1Char('K') ? 1024 : unit == QLatin1Char('M') ? 1048576 : 0;
    const QStringView value = field.chopped(1);
    if (scale == 0 || value.count(QLatin1Char('.')) > 1
        || !std::all_of(value.begin(), value.end(), [](QChar c) { return c.isDigit() || c == QLatin1Char('.'); }))
        return -1;
    return value.toDouble() * scale;
}

std::optional<double> Record::countOf(QStringView field)
{
    // Most last fields are paths or hashes: a letter or a "/" makes no number, told without converting.
    const auto numeric = [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('.') || c == QLatin1Char('-')
            || c == QLatin1Char('+') || c == QLatin1Char('e') || c == QLatin1Char('E') || c.isSpace();
    };
    if (!std::all_of(field.begin(), field.end(), numeric))
        return std::nullopt;
    // The common count, a few digits with an optional minus, without the cost of the general conversion.
    const qsizetype digits = field.size() - (field.startsWith(QLatin1Char('-')) ? 1 : 0);
    if (digits < 1 || digits > 9)
        return mdNumbers::parseNumber(field);
    int value = 0;
    for (const QChar c : field.last(digits)) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return mdNumbers::parseNumber(field);
        value = value * 10 + (c.unicode() - u'0');
    }
    return digits < field.size() ? -value : value;
}
