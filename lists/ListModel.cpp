// SPDX-License-Identifier: GPL-3.0-or-later
#include "lists/ListModel.h"

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

// "yyyy.mm.dd h:mm" as yyyymmddhhmm; -1 for anything else.
qint64 minutes(QStringView field)
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

// A size as fSize writes it ("512b", "1.5K", "12.25M") in bytes; -1 for anything else.
double bytes(QStringView field)
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

} // namespace

ListModel::Row ListModel::split(const QString& record)
{
    Row row{record, {}};
    const QStringList fields = record.split(QLatin1Char('|'));
    row.cells[Name] = fields.front();
    for (qsizetype i = 1; i < fields.size(); ++i) {
        const QString& field = fields[i];
        if (row.minutes < 0 && (row.minutes = minutes(field)) >= 0)
            row.cells[Date] = field;
        else if (row.bytes < 0 && (row.bytes = bytes(field)) >= 0)
            row.cells[Size] = field;
        else if (row.cells[Hash].isEmpty() && field.startsWith(QLatin1String("sha256:")))
            row.cells[Hash] = field.mid(7);
        else
            row.cells[Path] += (row.cells[Path].isEmpty() ? QString() : QStringLiteral("|")) + field;
    }
    return row;
}

void ListModel::setRecords(const Collection& records)
{
    beginResetModel();
    rows_.clear();
    rows_.reserve(std::size_t(records.count()));
    filled_ = {};
    for (const QString& record : records) {
        rows_.push_back(split(record));
        for (int column = 0; column < Columns; ++column)
            filled_[column] = filled_[column] || !rows_.back().cells[column].isEmpty();
    }
    endResetModel();
}

int ListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int ListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Columns;
}

QVariant ListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const Row& r = row(index.row());
    const auto column = Column(index.column());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return r.cells[column];
    case RecordRole:
        return r.record;
    case SortRole:
        if (column == Date)
            return r.minutes < 0 ? QVariant() : QVariant(r.minutes);
        if (column == Size)
            return r.bytes < 0 ? QVariant() : QVariant(r.bytes);
        return r.cells[column];
    case Qt::TextAlignmentRole:
        return column == Size ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    default:
        return {};
    }
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static constexpr const char* kTitles[Columns] = {"Name", "Date", "Size", "Path", "SHA-256"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= Columns)
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromLatin1(kTitles[section]);
}

ListFilter::ListFilter(QObject* parent) : QSortFilterProxyModel(parent)
{
    setSortRole(ListModel::SortRole);
    setSortCaseSensitivity(Qt::CaseInsensitive);
}

void ListFilter::setText(const QString& text)
{
    text_ = text;
    invalidateRowsFilter();
}

bool ListFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    return text_.isEmpty()
        || static_cast<const ListModel*>(sourceModel())->row(sourceRow).record.contains(text_, Qt::CaseInsensitive);
}
