// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/Collection.h"

#include <algorithm>
#include <stdexcept>

namespace {
std::runtime_error invalidCall() { return std::runtime_error("Invalid procedure call or argument"); }
} // namespace

QString Collection::lower(const QString& text)
{
    const auto escaped = [&text](qsizetype i) {
        const char16_t c = text[i].unicode();
        return c >= 0xDC80 && c <= 0xDCFF && (i == 0 || !text[i - 1].isHighSurrogate());
    };
    qsizetype i = 0;
    while (i < text.size() && !escaped(i))
        ++i;
    if (i == text.size())
        return text.toLower();
    QString out;
    out.reserve(text.size());
    qsizetype run = 0;
    for (; i < text.size(); ++i) {
        if (escaped(i)) {
            out += text.sliced(run, i - run).toLower();
            out += text[i];
            run = i + 1;
        }
    }
    return out + text.sliced(run).toLower();
}

void Collection::checkPosition(int position) const
{
    if (position < 1 || position > count())
        throw std::runtime_error("Subscript out of range");
}

int Collection::keyPosition(const QString& key) const
{
    if (key.isEmpty())
        return 0;
    if (!keysFresh_) {
        keyIndex_.clear();
        for (std::size_t i = 0; i < keys_.size(); ++i)
            if (!keys_[i].isEmpty())
                keyIndex_.insert(keys_[i], static_cast<int>(i) + 1);
        keysFresh_ = true;
    }
    return keyIndex_.value(lower(key), 0);
}

const QString& Collection::item(int position) const
{
    checkPosition(position);
    return items_[position - 1];
}

const QString& Collection::item(const QString& key) const
{
    const int position = keyPosition(key);
    if (position == 0)
        throw invalidCall();
    return items_[position - 1];
}

void Collection::add(const QString& value, const QString& key, int after)
{
    if (!key.isEmpty() && keyPosition(key) > 0)
        throw std::runtime_error("This key is already associated with an element of this collection");
    if (after != 0)
        checkPosition(after);
    const auto at = static_cast<std::ptrdiff_t>(after == 0 ? items_.size() : after);
    const QString lowKey = lower(key);
    if (at != static_cast<std::ptrdiff_t>(items_.size()))
        keysFresh_ = false;   // later positions move
    else if (keysFresh_ && !lowKey.isEmpty())
        keyIndex_.insert(lowKey, static_cast<int>(at) + 1);
    items_.insert(items_.begin() + at, value);
    keys_.insert(keys_.begin() + at, lowKey);
    indexed_ = false;
    exactFresh_ = false;
}

void Collection::remove(int position)
{
    checkPosition(position);
    items_.erase(items_.begin() + (position - 1));
    keys_.erase(keys_.begin() + (position - 1));
    keysFresh_ = false;
    indexed_ = false;
    exactFresh_ = false;
}

void Collection::remove(const QString& key)
{
    const int position = keyPosition(key);
    if (position == 0)
        throw invalidCall();
    remove(position);
}

void Collection::buildIndex() const
{
    index_.clear();
    index_.reserve(items_.size());
    for (std::size_t i = 0; i < items_.size(); ++i)
        index_.emplace_back(items_[i], static_cast<int>(i) + 1);
    // Stable, so the first position of equal items comes first and is kept.
    std::stable_sort(index_.begin(), index_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    index_.erase(std::unique(index_.begin(), index_.end(),
                             [](const auto& a, const auto& b) { return a.first == b.first; }),
                 index_.end());
    indexed_ = true;
}

int Collection::search(const QString& value, const QString& suffix) const
{
    if (suffix.size() > 1) {
        // Rare: a longer suffix can match by overlap, so compare as written.
        const QString pattern = value + suffix;
        for (std::size_t i = 0; i < items_.size(); ++i)
            if ((items_[i] + suffix).startsWith(pattern))
                return static_cast<int>(i) + 1;
        return 0;
    }
    if (suffix.isEmpty()) {
        if (!exactFresh_) {
            exact_.clear();
            exact_.reserve(qsizetype(items_.size()));
            // From the end, so the first position of equal items stays.
            for (std::size_t i = items_.size(); i > 0; --i)
                exact_.insert(items_[i - 1], static_cast<int>(i));
            exactFresh_ = true;
        }
        return exact_.value(value, 0);
    }
    if (!indexed_)
        buildIndex();
    const auto less = [](const std::pair<QString, int>& e, const QString& v) { return e.first < v; };
    int best = 0;
    auto it = std::lower_bound(index_.begin(), index_.end(), value, less);
    if (it != index_.end() && it->first == value)
        best = it->second;
    if (!suffix.isEmpty()) {
        // With a one-character suffix an item matches when it equals the value
        // or begins with value + suffix: a contiguous range of the index.
        const QString prefix = value + suffix;
        for (it = std::lower_bound(index_.begin(), index_.end(), prefix, less);
             it != index_.end() && it->first.startsWith(prefix); ++it)
            if (best == 0 || it->second < best)
                best = it->second;
    }
    return best;
}

void Collection::sort(bool unique)
{
    // A list this program wrote is in order already.
    if (!std::is_sorted(items_.begin(), items_.end()))
        std::stable_sort(items_.begin(), items_.end());
    if (unique)
        items_.erase(std::unique(items_.begin(), items_.end()), items_.end());
    keys_.assign(items_.size(), QString());
    keyIndex_.clear();
    keysFresh_ = true;
    indexed_ = false;
    exactFresh_ = false;
}
