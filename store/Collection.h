// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QHash>
#include <QString>
#include <utility>
#include <vector>

// An ordered sequence of text items counted from 1; an item may be filed under
// a key that is unique within the collection, compared without regard to case.
// Items compare with letter case, as the file system compares the names and
// paths they hold. Failing operations throw std::runtime_error.
class Collection {
public:
    int count() const { return static_cast<int>(items_.size()); }
    const QString& item(int position) const;
    const QString& item(const QString& key) const;
    bool hasKey(const QString& key) const { return keyPosition(key) > 0; }
    // Appends, or inserts after position `after` when it is above 0.
    void add(const QString& value, const QString& key = QString(), int after = 0);
    void remove(int position);
    void remove(const QString& key);

    // First position whose item equals `value`, or whose item followed by
    // `suffix` begins with `value` followed by `suffix`; 0 when none.
    int search(const QString& value, const QString& suffix) const;

    // Ascending sort by UTF-16 code units; with `unique`, only one of each run
    // of equal items stays. Keys are dropped.
    void sort(bool unique);

    // `text` in lower case, for the comparison of keys: bytes that SysText
    // escapes stay as they are (QString::toLower makes U+FFFD of an escape
    // that follows a changed letter, so different bytes would compare equal).
    static QString lower(const QString& text);

    auto begin() const { return items_.cbegin(); }
    auto end() const { return items_.cend(); }

private:
    int keyPosition(const QString& key) const;
    void checkPosition(int position) const;
    void buildIndex() const;

    std::vector<QString> items_;
    std::vector<QString> keys_;   // lower case; empty for an unkeyed item
    // Lower-case key to position. Appending keeps it; any other change marks
    // it stale and the next lookup rebuilds it, so a run of adds costs O(1) each.
    mutable QHash<QString, int> keyIndex_;
    mutable bool keysFresh_ = true;
    // Distinct items, sorted, each with its first position; rebuilt on the
    // first search after a change, so a scan of thousands of records costs a
    // binary search instead of a pass.
    mutable std::vector<std::pair<QString, int>> index_;
    mutable bool indexed_ = false;
    // Each distinct item's first position, for a search without a suffix,
    // the one the scan makes for every process: one hash instead of a
    // binary search of string comparisons. Rebuilt like the index.
    mutable QHash<QString, int> exact_;
    mutable bool exactFresh_ = false;
};
