// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "store/Collection.h"

#include <QAbstractTableModel>
#include <array>
#include <vector>

// The records of a list as a table: a row per record, each field in the
// column of what it is, so records of every list level share one layout.
class ListModel : public QAbstractTableModel {
public:
    enum Column { Name, Date, Size, Path, Hash, Source, Columns };
    // The whole record of a row, the value a column sorts by, and where the
    // administrator set it (empty for the user's own).
    static constexpr int RecordRole = Qt::UserRole;
    static constexpr int SortRole = Qt::UserRole + 1;
    static constexpr int OriginRole = Qt::UserRole + 2;

    struct Row {
        QString record;
        std::array<QString, Columns> cells;
        qint64 minutes = -1;   // the date as yyyymmddhhmm
        double bytes = -1;     // the size, as the record rounds it
        QString origin{};      // "file:line" of a system record
    };
    // A system record and where it lies.
    struct SystemRecord {
        QString record;
        QString origin;
    };
    // The record's fields as Record reads them.
    static Row split(const QString& record);

    using QAbstractTableModel::QAbstractTableModel;
    // The user's records, then the administrator's, marked as such.
    void setRecords(const Collection& records, const std::vector<SystemRecord>& system = {});
    const Row& row(int at) const { return rows_[std::size_t(at)]; }
    // Whether any record fills the column.
    bool filled(Column column) const { return filled_[column]; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<Row> rows_;
    std::array<bool, Columns> filled_{};
};

// The rows of a ListModel that hold the filter text, letter case aside, in
// the order of a column's values. It keeps its own vector of source rows, so
// a keystroke or a click on a header costs a pass over plain numbers and
// pre-folded text, not a signal per row; the view sees one reset per filter
// and one layout change per sort.
class ListFilter : public QAbstractTableModel {
public:
    explicit ListFilter(QObject* parent);
    // The rows to show; followed through each of its resets.
    void setSourceModel(ListModel* records);
    void setText(const QString& text);
    const QString& text() const { return text_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // Stable: rows of one value keep the list's order, either way.
    void sort(int column, Qt::SortOrder order) override;

private:
    // All source rows again: their folded text, the filter and the sort.
    void refill();
    // The source rows in `order_` that the filter keeps.
    void narrow();
    // Each source row's place among the column's values; equal values share one.
    const std::vector<int>& ranks(int column);
    void arrange();

    ListModel* source_ = nullptr;
    QString text_;
    QString folded_;                      // text_ case-folded
    std::vector<QString> records_;        // each source record case-folded
    std::vector<char> match_;             // whether it holds the filter text
    std::vector<int> order_;              // every source row in the sort order
    std::vector<int> shown_;              // those of them that match
    std::array<std::vector<int>, ListModel::Columns> ranks_;
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};
