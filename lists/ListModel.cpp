// SPDX-License-Identifier: GPL-3.0-or-later
#include "lists/ListModel.h"

#include "store/Record.h"

#include <algorithm>
#include <limits>
#include <numeric>

ListModel::Row ListModel::split(const QString& record)
{
    Record fields = Record::parse(record);
    Row row{record, {std::move(fields.name), std::move(fields.date), std::move(fields.size), std::move(fields.path),
                     std::move(fields.sha256)}};
    if (!row.cells[Date].isEmpty())
        row.minutes = Record::minutes(row.cells[Date]);
    if (!row.cells[Size].isEmpty())
        row.bytes = Record::bytes(row.cells[Size]);
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
