// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "store/Collection.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <array>
#include <vector>

// The records of a list as a table: a row per record, each field in the
// column of what it is, so records of every list level share one layout.
class ListModel : public QAbstractTableModel {
public:
    enum Column { Name, Date, Size, Path, Hash, Columns };
    // The whole record of a row, and the value a column sorts by.
    static constexpr int RecordRole = Qt::UserRole;
    static constexpr int SortRole = Qt::UserRole + 1;

    struct Row {
        QString record;
        std::array<QString, Columns> cells;
        qint64 minutes = -1;   // the date as yyyymmddhhmm
        double bytes = -1;     // the size, as the record rounds it
    };
    // A date reads "yyyy.mm.dd h:mm", a size is a number with b, K or M, a
    // hash begins with "sha256:"; any other field is the path (a Windows
    // path in an old list, too).
    static Row split(const QString& record);

    using QAbstractTableModel::QAbstractTableModel;
    void setRecords(const Collection& records);
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

// Sorts by value and keeps the rows whose record holds the filter text,
// letter case aside.
class ListFilter : public QSortFilterProxyModel {
public:
    explicit ListFilter(QObject* parent);
    void setText(const QString& text);
    const QString& text() const { return text_; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    QString text_;
};
