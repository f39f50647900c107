// SPDX-License-Identifier: GPL-3.0-or-later
#include "lists/ListModel.h"

#include <algorithm>
#include <limits>
#include <numeric>

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

void ListModel::setRecords(const Collection& records, const std::vector<SystemRecord>& system)
{
    beginResetModel();
    rows_.clear();
    rows_.reserve(std::size_t(records.count()) + system.size());
    filled_ = {};
    const auto add = [this](const QString& record, const QString& origin) {
        rows_.push_back(split(record));
        if (!origin.isEmpty()) {
            rows_.back().origin = origin;
            rows_.back().cells[Source] = QStringLiteral("system");
        }
        for (int column = 0; column < Columns; ++column)
            filled_[column] = filled_[column] || !rows_.back().cells[column].isEmpty();
    };
    for (const QString& record : records)
        add(record, QString());
    for (const SystemRecord& record : system)
        add(record.record, record.origin);
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
        return r.cells[column];
    case Qt::ToolTipRole:
        return column == Source && !r.origin.isEmpty() ? QStringLiteral("Set by the administrator in ") + r.origin
                                                       : r.cells[column];
    case Qt::AccessibleTextRole:
        // Each cell of a system row says so, wherever the reader enters the row.
        return r.origin.isEmpty() ? QVariant()
                                  : QVariant(r.cells[column] + QStringLiteral(", set by the administrator"));
    case RecordRole:
        return r.record;
    case OriginRole:
        return r.origin;
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
    static constexpr const char* kTitles[Columns] = {"Name", "Date", "Size", "Path", "SHA-256", "Set by"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= Columns)
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromLatin1(kTitles[section]);
}

ListFilter::ListFilter(QObject* parent) : QAbstractTableModel(parent) {}

void ListFilter::setSourceModel(ListModel* records)
{
    beginResetModel();
    source_ = records;
    connect(records, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
    connect(records, &QAbstractItemModel::modelReset, this, [this] {
        refill();
        endResetModel();
    });
    refill();
    endResetModel();
}

void ListFilter::refill()
{
    const int count = source_ ? source_->rowCount() : 0;
    records_.resize(std::size_t(count));
    for (int row = 0; row < count; ++row)
        records_[std::size_t(row)] = source_->row(row).record.toCaseFolded();
    match_.assign(std::size_t(count), 1);
    if (!folded_.isEmpty())
        for (std::size_t row = 0; row < records_.size(); ++row)
            match_[row] = records_[row].contains(folded_);
    for (auto& column : ranks_)
        column.clear();
    arrange();
    narrow();
}

void ListFilter::narrow()
{
    shown_.clear();
    for (const int row : order_)
        if (match_[std::size_t(row)])
            shown_.push_back(row);
}

void ListFilter::setText(const QString& text)
{
    const QString folded = text.toCaseFolded();
    beginResetModel();
    // A longer text keeps only rows that the shorter one kept: only those are looked at again.
    const bool longer = folded.contains(folded_);
    for (std::size_t row = 0; row < records_.size(); ++row)
        if (!longer || match_[row])
            match_[row] = folded.isEmpty() || records_[row].contains(folded);
    text_ = text;
    folded_ = folded;
    narrow();
    endResetModel();
}

const std::vector<int>& ListFilter::ranks(int column)
{
    std::vector<int>& rank = ranks_[std::size_t(column)];
    if (!rank.empty() || records_.empty())
        return rank;
    const std::size_t count = records_.size();
    std::vector<int> sorted(count);
    std::iota(sorted.begin(), sorted.end(), 0);
    rank.assign(count, 0);
    // Each comparison on a number or on text folded once, never on a QVariant.
    const auto place = [&](auto&& key) {
        std::stable_sort(sorted.begin(), sorted.end(), [&](int a, int b) { return key(a) < key(b); });
        for (std::size_t at = 1; at < count; ++at)
            rank[std::size_t(sorted[at])] = rank[std::size_t(sorted[at - 1])]
                + (key(sorted[at - 1]) < key(sorted[at]) ? 1 : 0);
    };
    if (column == ListModel::Date) {
        // Rows without the field come last, as a value that sorts after any.
        place([this](int row) {
            const qint64 minutes = source_->row(row).minutes;
            return minutes < 0 ? std::numeric_limits<qint64>::max() : minutes;
        });
    } else if (column == ListModel::Size) {
        place([this](int row) {
            const double bytes = source_->row(row).bytes;
            return bytes < 0 ? std::numeric_limits<double>::infinity() : bytes;
        });
    } else {
        std::vector<QString> cells(count);
        for (std::size_t row = 0; row < count; ++row)
            cells[row] = source_->row(int(row)).cells[std::size_t(column)].toCaseFolded();
        place([&cells](int row) -> const QString& { return cells[std::size_t(row)]; });
    }
    return rank;
}

void ListFilter::arrange()
{
    order_.resize(records_.size());
    std::iota(order_.begin(), order_.end(), 0);
    if (sortColumn_ < 0 || sortColumn_ >= ListModel::Columns)
        return;
    const std::vector<int>& rank = ranks(sortColumn_);
    if (sortOrder_ == Qt::AscendingOrder)
        std::stable_sort(order_.begin(), order_.end(), [&](int a, int b) { return rank[std::size_t(a)] < rank[std::size_t(b)]; });
    else
        std::stable_sort(order_.begin(), order_.end(), [&](int a, int b) { return rank[std::size_t(a)] > rank[std::size_t(b)]; });
}

void ListFilter::sort(int column, Qt::SortOrder order)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<int> sourceRows;
    sourceRows.reserve(std::size_t(before.size()));
    for (const QModelIndex& at : before)
        sourceRows.push_back(shown_[std::size_t(at.row())]);
    sortColumn_ = column;
    sortOrder_ = order;
    arrange();
    narrow();
    // The selection and the current row follow their records.
    std::vector<int> place(records_.size(), -1);
    for (std::size_t row = 0; row < shown_.size(); ++row)
        place[std::size_t(shown_[row])] = int(row);
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i)
        after << index(place[std::size_t(sourceRows[std::size_t(i)])], before[i].column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int ListFilter::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(shown_.size());
}

int ListFilter::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ListModel::Columns;
}

QVariant ListFilter::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    return source_->data(source_->index(shown_[std::size_t(index.row())], index.column()), role);
}

QVariant ListFilter::headerData(int section, Qt::Orientation orientation, int role) const
{
    return source_ ? source_->headerData(section, orientation, role) : QVariant();
}
