// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/mdLists.h"

#include "store/mdCollection.h"
#include "store/mdErrorLog.h"
#include "store/mdFailures.h"
#include "store/mdNumbers.h"
#include "store/mdSettings.h"
#include "store/Record.h"
#include "platform/SysText.h"

#include <QSet>
#include <QStringBuilder>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <set>
#include <unordered_set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>
#include <optional>

namespace mdLists {

using namespace mdErrorLog;
using namespace mdFailures;
using namespace mdNumbers;
using namespace mdSettings;

namespace {

const QStringList kOwnFiles{QStringLiteral("allow.csv"), QStringLiteral("deny.csv"), QStringLiteral("error.log")};

// A list file line split into its record and its count; the count is taken
// only from a numeric last "|" field, otherwise the field belongs to the record.
struct Line {
    QString record;
    std::optional<double> count;
};

Line splitLine(const QString& line)
{
    const auto bar = line.lastIndexOf(QLatin1Char('|'));
    if (bar >= 0)
        if (const auto n = Record::countOf(QStringView(line).sliced(bar + 1)))
            return {line.left(bar), n};
    return {line, std::nullopt};
}

std::string_view view(const QByteArray& bytes)
{
    return {bytes.constData(), std::size_t(bytes.size())};
}

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool isAscii(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

// The count of an ASCII field, as Record::countOf reads the same text.
std::optional<double> count(std::string_view text)
{
    const std::size_t digits = text.size() - (!text.empty() && text[0] == '-' ? 1 : 0);
    if (digits < 1 || digits > 9)
        return Record::countOf(QString::fromLatin1(text.data(), qsizetype(text.size())));
    int value = 0;
    for (const char c : text.substr(text.size() - digits)) {
        if (c < '0' || c > '9')
            return Record::countOf(QString::fromLatin1(text.data(), qsizetype(text.size())));
        value = value * 10 + (c - '0');
    }
    return digits < text.size() ? -value : value;
}

// What QString::trimmed takes off an ASCII end.
std::string_view trimmed(std::string_view text)
{
    const auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    return text;
}

// Each line's span [from, to), as splitLines() cuts them.
template <typename Visit>
void forEachLine(const QByteArray& bytes, Visit&& visit)
{
    const char* const data = bytes.constData();
    const qsizetype size = bytes.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < size; ++i) {
        if (data[i] != '\r' && data[i] != '\n')
            continue;
        visit(start, i);
        if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        visit(start, size);
}

void appendLatin1(QByteArray& out, const QString& ascii)
{
    const qsizetype at = out.size();
    out.resize(at + ascii.size());
    std::transform(ascii.begin(), ascii.end(), out.begin() + at, [](QChar c) { return char(c.unicode()); });
}

// Counts are whole numbers: a fraction edited in by hand is rounded on reading.
void appendCount(QByteArray& out, double count)
{
    if (std::fabs(count) < 1e15) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, static_cast<qint64>(count)).ptr;
        out.append(digits, end - digits);   // what numText writes, without its cost
    } else {
        out += numText(count).toUtf8();
    }
}

// A record, compared with letter case: its bytes when it is ASCII, else its text.
struct Key {
    std::string_view bytes;
    QString wide;
    bool isWide = false;
};

// The order of Collection's items, which ASCII bytes keep.
int compare(const Key& a, const Key& b)
{
    if (!a.isWide && !b.isWide)
        return a.bytes.compare(b.bytes);
    if (a.isWide && b.isWide)
        return QString::compare(a.wide, b.wide);
    if (a.isWide)
        return QStringView(a.wide).compare(QLatin1StringView(b.bytes.data(), qsizetype(b.bytes.size())));
    return -QStringView(b.wide).compare(QLatin1StringView(a.bytes.data(), qsizetype(a.bytes.size())));
}

// A line of the old file, read.
struct Old {
    Key key;
    std::string_view inFile;   // the record's bytes in the file, when it is ASCII
    QByteArray own;            // else its bytes here
    double count = 0;
    bool pruned = false;
    bool owned = false;
    std::string_view record() const { return owned ? view(own) : inFile; }
};

// The seen records by their bytes in a file, so that a line is looked up
// as it is read: the very record, case and all, whatever it holds.
class Seen {
public:
    explicit Seen(const QSet<QString>& seenRecords)
    {
        bytes_.reserve(std::size_t(seenRecords.size()));
        for (const QString& record : seenRecords)
            bytes_.push_back(platform::toSys(record));
        records_.reserve(bytes_.size());
        for (const QByteArray& record : bytes_)
            records_.insert(view(record));
    }
    bool contains(std::string_view record) const { return records_.contains(record); }

private:
    std::vector<QByteArray> bytes_;
    std::unordered_set<std::string_view> records_;
};

// The non-empty lines of a list file, trimmed; nullopt without a file.
std::optional<QStringList> listLines(App& app, const QString& path)
{
    const auto raw = app.sys.files.readLines(path);
    if (!raw)
        return std::nullopt;
    QStringList lines;
    lines.reserve(raw->size());
    for (const QString& line : *raw)
        if (QString trimmed = line.trimmed(); !trimmed.isEmpty())
            lines << std::move(trimmed);
    return lines;
}

} // namespace

QString unstorable(const QString& record)
{
    if (record.contains(QLatin1Char('\n')) || record.contains(QLatin1Char('\r')))
        return QStringLiteral("a line break in its name or path");
    if (record.isEmpty())
        return QStringLiteral("no name");
    if (record.front().isSpace() || record.back().isSpace())
        return QStringLiteral("a blank at the end of its name or path");
    if (splitLine(record).count)
        return QStringLiteral("a number after its last \"|\", which reads back as a count");
    return QString();
}

bool storable(const QString& record)
{
    return unstorable(record).isEmpty();
}

namespace {

const QString kLock = QStringLiteral("lists.lock");
// Long enough for any save of another writer, which holds it only to write.
constexpr int kLockWaitMs = 5000;

std::optional<platform::FileVersion> versionOf(App& app, const QString& fileName)
{
    const auto facts = app.sys.files.look(app.file(fileName), false);
    if (!facts)
        return std::nullopt;
    return facts->version();
}

// The records of the file, the first of twins only;
// nullopt without a file. Throws when it cannot be read.
std::optional<std::vector<QString>> readRecords(App& app, const QString& fileName)
{
    const auto lines = listLines(app, app.file(fileName));
    if (!lines)
        return std::nullopt;
    // Hand edits can repeat a record; every later
    // counted save would stumble on the twins, so only the first is read.
    std::vector<QString> records;
    records.reserve(std::size_t(lines->size()));
    QSet<QString> taken;
    taken.reserve(lines->size());
    QString repeated;
    int repeats = 0;
    for (const QString& line : *lines) {
        QString record = splitLine(line).record;
        const QString key = record;
        if (taken.contains(key)) {
            if (repeats++ == 0)
                repeated = record;
            continue;
        }
        taken.insert(key);
        records.push_back(std::move(record));
    }
    if (repeats > 0)
        error_log(app, QStringLiteral("mdSettings"), QStringLiteral("getList"),
                  QStringLiteral("%1 repeats %2 record(s), first '%3'; the first of each is kept")
                      .arg(fileName)
                      .arg(repeats)
                      .arg(repeated));
    return records;
}

// Takes the file's records `disk` into `list` and its working copy: a
// record that another program added since the version this program knows
// comes in, one it removed goes; one that this program added or removed
// meanwhile stays as it is here.
void takeIn(App& app, const QString& fileName, Collection& list, const std::vector<QString>& disk)
{
    QSet<QString> base;
    QSet<QString> now;
    QSet<QString> mine;
    for (const QString& record : app.listBase[fileName])
        base.insert(record);
    for (const QString& record : disk)
        now.insert(record);
    Collection merged;
    for (const QString& record : list) {
        const QString key = record;
        mine.insert(key);
        if (now.contains(key) || !base.contains(key))
            merged.add(record);
    }
    std::vector<QString> added;
    for (const QString& record : disk) {
        const QString key = record;
        if (!base.contains(key) && !mine.contains(key)) {
            merged.add(record);
            added.push_back(record);
        }
    }
    list = std::move(merged);
    Collection* const working = fileName == QLatin1String("allow.csv") ? &app.allowTmp
        : fileName == QLatin1String("deny.csv")                        ? &app.denyTmp
                                                                       : nullptr;
    if (!working)
        return;
    Collection nowWorking;
    QSet<QString> held;
    for (const QString& record : std::as_const(*working)) {
        const QString key = record;
        if (base.contains(key) && !now.contains(key))
            continue;
        held.insert(key);
        nowWorking.add(record);
    }
    for (const QString& record : added)
        if (!held.contains(record))
            nowWorking.add(record);
    *working = std::move(nowWorking);
}

} // namespace

bool getList(App& app, Collection& list, const QString& fileName)
{
    bool read = false;
    guarded(app, "mdSettings", "getList", [&] {
        // Before the read: a write that comes between is taken in later.
        app.listVersions[fileName] = versionOf(app, fileName);
        app.listBase[fileName].clear();
        auto records = readRecords(app, fileName);
        if (!records)
            return;
        read = true;
        for (const QString& record : *records)
            list.add(record);
        app.listBase[fileName] = std::move(*records);
    });
    if (read || !app.listVersions[fileName])
        app.listsUnread.erase(fileName);
    else
        app.listsUnread.insert(fileName);
    return read;
}

void putList(App& app, Collection& list, const QString& fileName, bool updateCounts)
{
    QString failure;
    const bool saved = guarded(app, "mdSettings", "putList", [&] {
        mdCollection::clnSort(app, list, true);
        if (app.listsUnread.contains(fileName))
            fail(QStringLiteral("it could not be read, and is not written over"));
        const double limit = numSetting(app, QStringLiteral("clean_value"));
        const QString path = app.file(fileName);
        const auto lock = app.sys.files.lock(app.file(kLock), kLockWaitMs);
        // What another writer saved since this program last read or wrote
        // the file comes in first. A file never read here is written as the
        // list has it; one that is gone stays gone until this save.
        if (const auto known = app.listVersions.find(fileName); known != app.listVersions.end()) {
            const auto now = versionOf(app, fileName);
            if (now && now != known->second) {
                auto disk = readRecords(app, fileName);
                if (disk) {
                    takeIn(app, fileName, list, *disk);
                    mdCollection::clnSort(app, list, true);
                }
            }
        }
        // Once the file is written: its version and records as this program wrote them.
        std::vector<QString> written;
        written.reserve(std::size_t(list.count()));
        const auto wrote = [&] {
            app.listVersions[fileName] = versionOf(app, fileName);
            app.listBase[fileName] = std::move(written);
        };

        QStringList out;
        out.reserve(list.count());
        if (limit == 0) {
            for (const QString& record : list)
                if (storable(record))
                    out << record;
            app.sys.files.writeText(path, platform::joinLinesCrlf(out));
            written.assign(out.begin(), out.end());
            wrote();
            return;
        }

        const bool allowFile = fileName == QLatin1String("allow.csv");
        const Seen seen(allowFile ? app.seenRecords : QSet<QString>());
        // The file's lines by record, in the list's order, so that
        // one merge pass pairs them with the list's records. Lines in plain
        // ASCII (nearly all) are read straight from the bytes.
        const std::optional<QByteArray> bytes = app.sys.files.readBytes(path);
        std::vector<Old> old;
        if (bytes) {
            old.reserve(static_cast<std::size_t>(bytes->count('\n') + 1));
            forEachLine(*bytes, [&](qsizetype from, qsizetype to) {
                Old entry;
                std::optional<double> parsed;
                std::string_view line = trimmed(view(*bytes).substr(std::size_t(from), std::size_t(to - from)));
                if (isAscii(line)) {
                    if (line.empty())
                        return;
                    const auto bar = line.rfind('|');
                    if (bar != std::string_view::npos && (parsed = count(line.substr(bar + 1))))
                        line = line.substr(0, bar);
                    entry.inFile = line;
                    entry.key.bytes = line;
                } else {
                    const QString text = platform::fromSys(QByteArrayView(line.data(), qsizetype(line.size()))).trimmed();
                    if (text.isEmpty())
                        return;
                    const Line split = splitLine(text);
                    parsed = split.count;
                    entry.own = platform::toSys(split.record);
                    entry.owned = true;
                    entry.key.wide = split.record;
                    entry.key.isWide = true;
                }
                double n = roundEven(parsed.value_or(0));
                if (allowFile && seen.contains(entry.record())) {
                    if (updateCounts)
                        n = n >= 98 ? 99 : n + 5;
                } else if (n <= -limit) {
                    entry.pruned = true;
                } else if (updateCounts) {
                    n -= 1;
                }
                entry.count = n + 0.0;   // + 0.0: no "-0"
                old.push_back(std::move(entry));
            });
        }
        // A file this program wrote is in order already; of lines that repeat
        // a record (hand edits) the first counts.
        const auto byKey = [](const Old& a, const Old& b) { return compare(a.key, b.key) < 0; };
        if (!std::is_sorted(old.begin(), old.end(), byKey))
            std::stable_sort(old.begin(), old.end(), byKey);
        old.erase(std::unique(old.begin(), old.end(), [](const Old& a, const Old& b) { return compare(a.key, b.key) == 0; }),
                  old.end());

        QByteArray text;
        text.reserve((bytes ? bytes->size() : 0) + list.count() * 8 + 4096);
        const char fresh = allowFile ? '1' : '0';
        std::string low;
        auto next = old.cbegin();
        for (const QString& record : list) {
            if (!storable(record))
                continue;
            Key key;
            QByteArray wide;
            if (isAscii(record)) {
                low.resize(std::size_t(record.size()));
                for (qsizetype i = 0; i < record.size(); ++i)
                    low[std::size_t(i)] = char(record[i].unicode());
                key.bytes = low;
            } else {
                key.wide = record;
                key.isWide = true;
                wide = platform::toSys(record);
            }
            while (next != old.cend() && compare(next->key, key) < 0)
                ++next;
            if (next == old.cend() || compare(next->key, key) != 0) {
                if (wide.isNull())
                    appendLatin1(text, record);
                else
                    text += wide;
                text += '|';
                text += fresh;
                text += "\r\n";
                written.push_back(record);
            } else if (!next->pruned) {
                text += QByteArrayView(next->record().data(), qsizetype(next->record().size()));
                text += '|';
                appendCount(text, next->count);
                text += "\r\n";
                written.push_back(record);
            }
        }
        app.sys.files.writeBytes(path, text, true);
        wrote();
        // Only a save that reached the file uses up the credit of the seen records.
        app.seenRecords.clear();
        app.seenPending = true;
    }, &failure);
    if (saved) {
        app.saveFailureTold = false;
    } else if (!app.saveFailureTold) {
        app.saveFailureTold = true;
        app.tell(QStringLiteral("Can't save %1 (%2): decisions for good last only until the program ends.")
                     .arg(fileName, failure));
    }
    if (app.listSaved)
        app.listSaved(fileName);
}

void removeLeftovers(App& app)
{
    const platform::Program::Folders folders = app.sys.program.folders();
    // Portable, both are one folder.
    std::map<QString, QStringList> own{{folders.data, kOwnFiles}};
    own[folders.config] << QStringLiteral("settings.ini");
    for (const auto& [folder, names] : own) {
        for (const auto& entry : app.sys.files.list(folder)) {
            if (!entry.regular)
                continue;
            for (const QString& name : names) {
                if (platform::isTempCopyName(entry.name, name)) {
                    try {
                        app.sys.files.remove(folder + QLatin1Char('/') + entry.name);
                    } catch (const std::exception&) {
                        // Left for the next start; nothing depends on it.
                    }
                }
            }
        }
    }
}

void reloadChanged(App& app)
{
    const std::pair<QString, Collection*> lists[] = {{QStringLiteral("allow.csv"), &app.allowList},
                                                     {QStringLiteral("deny.csv"), &app.denyList}};
    for (const auto& [fileName, list] : lists) {
        const auto known = app.listVersions.find(fileName);
        // Never read here yet, unchanged, or gone: what is in memory stays.
        if (known == app.listVersions.end())
            continue;
        const auto now = versionOf(app, fileName);
        if (!now || now == known->second)
            continue;
        std::optional<std::vector<QString>> disk;
        const bool read = guarded(app, "mdSettings", "getList", [&] { disk = readRecords(app, fileName); });
        // Kept from being written over until it has been read.
        if (!read) {
            app.listsUnread.insert(fileName);
            continue;
        }
        // Changed while it was read: a write under way; the next tick reads it whole.
        if (!disk || versionOf(app, fileName) != now)
            continue;
        takeIn(app, fileName, *list, *disk);
        known->second = now;
        app.listBase[fileName] = std::move(*disk);
        app.listsUnread.erase(fileName);
        if (app.listSaved)
            app.listSaved(fileName);
    }
}

void reloadPolicy(App& app)
{
    guarded(app, "mdSettings", "reloadPolicy", [&] {
        app.policy.refresh(app.sys.files, app.sys.program.folders().policy, [&](const QString& why) {
            error_log(app, QStringLiteral("mdSettings"), QStringLiteral("reloadPolicy"), why);
        });
    });
}

} // namespace mdLists
