// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include "platform/FileVersion.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

// File access. Paths and names carry the system's bytes as SysText does, so
// a name that is not UTF-8 is found and kept exactly. Failures throw
// std::runtime_error with a one-line description, except where a result says
// otherwise.
class Files {
public:
    virtual ~Files() = default;
    // A regular file that is not hidden (its name does not begin with ".").
    // Never throws.
    virtual bool exists(const QString& path) = 0;
    // The bytes of a regular file; nullopt when there is none.
    virtual std::optional<QByteArray> readBytes(const QString& path) = 0;
    // Replaces the file with `bytes` through a temporary file in the same
    // folder (isTempCopyName), so a failure leaves
    // the old file whole. With `sync`, the bytes reach the disk before the rename.
    virtual void writeBytes(const QString& path, const QByteArray& bytes, bool sync) = 0;
    virtual QDateTime modified(const QString& path) = 0;
    virtual qint64 size(const QString& path) = 0;

    // What a list record tells of a file, from one look at it. The version
    // fields tell one content of the file from another: a rewrite, a rename
    // over it or a change of mode changes at least one of them.
    struct Facts : FileVersion {
        QDate date;   // of the last change, in local time
        QTime time;
        const FileVersion& version() const { return *this; }
    };
    // The facts of a file that exists() finds, else nullopt; the date only
    // when `dated`.
    virtual std::optional<Facts> look(const QString& path, bool dated)
    {
        if (!exists(path))
            return std::nullopt;
        Facts facts;
        facts.size = size(path);
        if (!dated)
            return facts;
        const QDateTime changed = modified(path).toLocalTime();
        facts.date = changed.date();
        facts.time = changed.time();
        return facts;
    }
    // The facts of the executable that process `pid` runs, which the file at
    // `path` may no longer be (replaced or renamed over since it started), or
    // for `pid` 0 of the file at `path`; nullopt when it cannot be read.
    virtual std::optional<Facts> lookRunning(qint64 pid, const QString& path, bool dated)
    {
        (void)pid;
        return look(path, dated);
    }
    // The SHA-256 of the executable that process `pid` runs, read through the
    // process itself, or for `pid` 0 of the file at `path`; nullopt when what
    // is read is not the version `version` (the process has gone, or the id
    // is another's now), cannot be read, or `cancel` turns true meanwhile.
    // Any thread may call it.
    virtual std::optional<QByteArray> sha256(qint64 pid, const QString& path, const Facts& version,
                                             const std::atomic_bool* cancel = nullptr);
    // Makes the file writable, then deletes it.
    virtual void remove(const QString& path) = 0;
    // Creates the folder and the folders above it that are missing.
    virtual void makePath(const QString& folder) = 0;

    // One entry of a folder listing.
    struct Entry {
        QString name;
        bool folder = false;    // a real folder, not a link to one
        bool regular = false;   // a regular file (or a link to one)
    };
    // An advisory lock that every writer of a file takes first; held until
    // the handle goes.
    class Lock {
    public:
        virtual ~Lock() = default;
    };
    // Takes the lock on the lock file `path`, made when missing, waiting up
    // to `waitMs` while another holds it; throws when that wait ends. Where
    // the lock file cannot be made (a read-only folder) the handle holds
    // nothing: no writer can write there either.
    virtual std::unique_ptr<Lock> lock(const QString& path, int waitMs) = 0;

    // The entries of a folder in the order the system gives them, without "."
    // and ".."; empty when the folder cannot be read.
    virtual std::vector<Entry> list(const QString& folder) = 0;

    // The file's lines without their ends; nullopt when there is no file.
    std::optional<QStringList> readLines(const QString& path);
    // Replaces the file with `text` in the system's bytes, synced.
    void writeText(const QString& path, const QString& text);
};

// Lines ended by CR LF, LF or CR alone; the end of the last line starts no
// line of its own.
QStringList splitLines(QByteArrayView bytes);
// True for the name of a temporary copy of `file` that writeBytes leaves
// behind only when it is interrupted.
bool isTempCopyName(QStringView name, QStringView file);
// Lines joined with CRLF, each line ended.
QString joinLinesCrlf(const QStringList& lines);

} // namespace platform
