// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/HashCache.h"

namespace {
// Past this many versions the ones not asked for lately go, even while no
// complete walk sweeps.
constexpr qsizetype kLimit = 8192;
} // namespace

HashCache::HashCache(platform::Files& files)
    : hash([this, &files](qint64 pid, const QString& path, const platform::Files::Facts& version) {
          return files.sha256(pid, path, version, &stopping_);
      })
    , run([this](std::function<void()> task) { pool_.start(std::move(task)); })
    , runLarge([this](std::function<void()> task) { largePool_.start(std::move(task)); })
{
    // Files are read one at a time on each side, so the disk is not thrashed.
    pool_.setMaxThreadCount(1);
    largePool_.setMaxThreadCount(1);
}

HashCache::~HashCache()
{
    stopping_ = true;
    pool_.clear();
    largePool_.clear();
    pool_.waitForDone();
    largePool_.waitForDone();
}

HashCache::Result HashCache::find(qint64 pid, const QString& path, const platform::Files::Facts& version)
{
    const platform::FileVersion key = version.version();
    {
        std::lock_guard lock(mutex_);
        if (const auto it = entries_.find(key); it != entries_.end()) {
            it->seen = true;
            return it->result;
        }
        if (entries_.size() >= kLimit)
            entries_.removeIf([](const auto& entry) { return !entry.value().seen; });
        entries_.insert(key, Entry{});
    }
    (version.size < kLargeFile ? run : runLarge)([this, key, pid, path, version, hasher = hash] {
        const std::optional<QByteArray> digest = hasher(pid, path, version);
        {
            std::lock_guard lock(mutex_);
            // A version swept away meanwhile is asked for again if it returns.
            if (const auto it = entries_.find(key); it != entries_.end())
                it->result = digest ? Result{State::Ready, QString::fromLatin1(digest->toHex())}
                                    : Result{State::Failed, QString()};
        }
        emit ready();
    });
    // A runner that ran the task at once has the result already.
    std::lock_guard lock(mutex_);
    const auto it = entries_.constFind(key);
    return it == entries_.cend() ? Result{} : it->result;
}

void HashCache::sweep()
{
    std::lock_guard lock(mutex_);
    entries_.removeIf([](const auto& entry) { return !entry.value().seen; });
    for (Entry& entry : entries_)
        entry.seen = false;
}

qsizetype HashCache::size() const
{
    std::lock_guard lock(mutex_);
    return entries_.size();
}
