// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Files.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <mutex>

// The SHA-256 of each executable version the scan sees, computed once per
// version beside the user-interface thread. A version is the file's device,
// inode, size, modification and change times. Large files are hashed on a
// worker of their own, so a small file's hash never waits behind one; a
// version's hash stays known while the walks see it.
class HashCache : public QObject {
    Q_OBJECT
public:
    // Computes a digest; runs on a worker thread.
    using Hasher = std::function<std::optional<QByteArray>(qint64 pid, const QString& path,
                                                           const platform::Files::Facts& version)>;
    // Starts a task beside the caller.
    using Runner = std::function<void(std::function<void()> task)>;

    explicit HashCache(platform::Files& files);
    ~HashCache() override;

    enum class State : quint8 { Pending, Ready, Failed };
    struct Result {
        State state = State::Pending;
        QString hex;   // 64 lower-case hex digits when Ready
    };
    // The hash of the version, starting its computation the first time the
    // version is asked for.
    Result find(qint64 pid, const QString& path, const platform::Files::Facts& version);
    // Drops the versions not asked for since the last sweep.
    void sweep();
    qsizetype size() const;

    Hasher hash;
    Runner run;        // for files below kLargeFile
    Runner runLarge;   // for the others
    // From this size on a file is hashed beside the others: reading it takes
    // long enough to shield every program queued behind it.
    static constexpr qint64 kLargeFile = 32 << 20;

signals:
    // A computation ended; sent from the worker thread.
    void ready();

private:
    struct Entry {
        Result result;
        bool seen = true;
    };
    mutable std::mutex mutex_;   // the workers write the results
    QHash<platform::FileVersion, Entry> entries_;
    QThreadPool pool_, largePool_;
    std::atomic_bool stopping_ = false;   // a hash under way ends early when the cache goes
};
