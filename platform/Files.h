#pragma once
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace platform {

// File access. Failures throw std::runtime_error with a one-line description,
// except where a result says otherwise.
class Files {
public:
    virtual ~Files() = default;
    // A regular file that is not hidden (its name does not begin with ".").
    // Never throws.
    virtual bool exists(const QString& path) = 0;
    // The file's lines without their ends (LF or CRLF); nullopt when the file
    // does not exist.
    virtual std::optional<QStringList> readLines(const QString& path) = 0;
    // Replaces the file with `text` through a temporary file in the same folder,
    // so a failure leaves the old file whole.
    virtual void writeText(const QString& path, const QString& text) = 0;
    virtual QDateTime modified(const QString& path) = 0;
    virtual qint64 size(const QString& path) = 0;

    // What a list record tells of a file, from one look at it.
    struct Facts {
        qint64 size = 0;
        QDate date;   // of the last change, in local time
        QTime time;
    };
    // The facts of a file that exists() finds, else nullopt; the date only
    // when `dated`.
    virtual std::optional<Facts> look(const QString& path, bool dated)
    {
        if (!exists(path))
            return std::nullopt;
        if (!dated)
            return Facts{size(path), {}, {}};
        const QDateTime changed = modified(path).toLocalTime();
        return Facts{size(path), changed.date(), changed.time()};
    }
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
    // The entries of a folder in the order the system gives them, without "."
    // and ".."; empty when the folder cannot be read.
    virtual std::vector<Entry> list(const QString& folder) = 0;
};

// Lines joined with CRLF, each line ended.
QString joinLinesCrlf(const QStringList& lines);

} // namespace platform
