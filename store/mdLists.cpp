#include "store/mdLists.h"

#include "store/mdCollection.h"
#include "store/mdSettings.h"

#include <QSet>
#include <QStringBuilder>
#include <algorithm>
#include <cmath>
#include <vector>
#include <optional>

namespace mdSettings {

namespace {

const QStringList kOwnFiles{QStringLiteral("allow.csv"), QStringLiteral("deny.csv"), QStringLiteral("error.log")};

// A list file line split into its record and its count; the count is taken
// only from a numeric last "|" field, otherwise the field belongs to the record.
struct Line {
    QString record;
    std::optional<double> count;
};

// The common count, a few digits with an optional minus, without the cost
// of the general conversion.
std::optional<double> count(QStringView text)
{
    const qsizetype digits = text.size() - (text.startsWith(QLatin1Char('-')) ? 1 : 0);
    if (digits < 1 || digits > 9)
        return parseNumber(text);
    int value = 0;
    for (const QChar c : text.last(digits)) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return parseNumber(text);
        value = value * 10 + (c.unicode() - u'0');
    }
    return digits < text.size() ? -value : value;
}

Line splitLine(const QString& line)
{
    const auto bar = line.lastIndexOf(QLatin1Char('|'));
    if (bar >= 0)
        if (const auto n = count(QStringView(line).sliced(bar + 1)))
            return {line.left(bar), n};
    return {line, std::nullopt};
}

// Counts are whole numbers: a fraction edited in by hand is rounded on reading.
QString countText(double count)
{
    if (std::fabs(count) < 1e15)
        return QString::number(static_cast<qint64>(count));   // what numText writes, without its cost
    return numText(count);
}

// The test ":" + seenRecords contains ":" + record + ":", case and all, in
// O(1) for records without ":": such a record matches exactly when it is
// one of the pieces that colons bound on both sides.
class Seen {
public:
    explicit Seen(const QString& seenRecords) : text_(QLatin1Char(':') + seenRecords)
    {
        const QStringList pieces = text_.split(QLatin1Char(':'));
        for (qsizetype i = 1; i + 1 < pieces.size(); ++i)
            pieces_.insert(pieces[i]);
    }
    bool contains(const QString& record) const
    {
        if (record.contains(QLatin1Char(':')))
            return text_.contains(QLatin1Char(':') + record + QLatin1Char(':'), Qt::CaseSensitive);
        return pieces_.contains(record);
    }

private:
    QString text_;
    QSet<QString> pieces_;
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

bool storable(const QString& record)
{
    return !record.contains(QLatin1Char('\n')) && !record.contains(QLatin1Char('\r'));
}

void getList(App& app, Collection& list, const QString& fileName)
{
    guarded(app, "mdSettings", "getList", [&] {
        const auto lines = listLines(app, app.file(fileName));
        if (!lines)
            return;
        // Hand edits can repeat a record in other letters; every later
        // counted save would stumble on the twins, so only the first is read.
        QSet<QString> taken;
        taken.reserve(lines->size());
        QString repeated;
        int repeats = 0;
        for (const QString& line : *lines) {
            QString record = splitLine(line).record;
            const QString key = Collection::lower(record);
            if (taken.contains(key)) {
                if (repeats++ == 0)
                    repeated = record;
                continue;
            }
            taken.insert(key);
            list.add(record);
        }
        if (repeats > 0)
            error_log(app, QStringLiteral("mdSettings"), QStringLiteral("getList"),
                      QStringLiteral("%1 repeats %2 record(s), letter case aside, first '%3'; the first of each is kept")
                          .arg(fileName)
                          .arg(repeats)
                          .arg(repeated));
    });
}

void putList(App& app, Collection& list, const QString& fileName, bool updateCounts)
{
    QString failure;
    const bool saved = guarded(app, "mdSettings", "putList", [&] {
        mdCollection::clnSort(app, list, true);
        const double limit = numSetting(app, QStringLiteral("clean_value"));
        const QString path = app.file(fileName);

        QStringList out;
        out.reserve(list.count());
        if (limit == 0) {
            for (const QString& record : list)
                if (storable(record))
                    out << record;
            app.sys.files.writeText(path, platform::joinLinesCrlf(out));
            return;
        }

        const bool allowFile = fileName == QLatin1String("allow.csv");
        const Seen seen(allowFile ? app.seenRecords : QString());
        // The file's new lines by lower-case record, in the list's order, so
        // that one merge pass pairs them with the list's records.
        struct Old {
            QString key;
            QString line;   // null: pruned
        };
        std::vector<Old> old;
        if (const auto lines = listLines(app, path)) {
            old.reserve(static_cast<std::size_t>(lines->size()));
            for (const QString& text : *lines) {
                const Line parsed = splitLine(text);
                const QString& record = parsed.record;
                double count = roundEven(parsed.count.value_or(0));
                if (allowFile && seen.contains(record)) {
                    if (updateCounts)
                        count = count >= 98 ? 99 : count + 5;
                } else if (count <= -limit) {
                    old.push_back({Collection::lower(record), QString()});
                    continue;
                } else if (updateCounts) {
                    count -= 1;
                }
                old.push_back({Collection::lower(record), record % QLatin1Char('|') % countText(count + 0.0)});   // + 0.0: no "-0"
            }
        }
        // A file this program wrote is in order already; of lines that repeat
        // a record (hand edits) the first counts.
        const auto byKey = [](const Old& a, const Old& b) { return a.key < b.key; };
        if (!std::is_sorted(old.begin(), old.end(), byKey))
            std::stable_sort(old.begin(), old.end(), byKey);
        old.erase(std::unique(old.begin(), old.end(), [](const Old& a, const Old& b) { return a.key == b.key; }),
                  old.end());

        const QString fresh = allowFile ? QStringLiteral("|1") : QStringLiteral("|0");
        auto next = old.cbegin();
        for (const QString& record : list) {
            if (!storable(record))
                continue;
            const QString key = Collection::lower(record);
            while (next != old.cend() && next->key < key)
                ++next;
            if (next == old.cend() || next->key != key)
                out << record + fresh;
            else if (!next->line.isNull())
                out << next->line;
        }
        app.sys.files.writeText(path, platform::joinLinesCrlf(out));
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
    const QString folder = app.sys.program.folders().data;
    for (const auto& entry : app.sys.files.list(folder)) {
        if (!entry.regular)
            continue;
        for (const QString& own : kOwnFiles) {
            if (platform::isTempCopyName(entry.name, own)) {
                try {
                    app.sys.files.remove(app.file(entry.name));
                } catch (const std::exception&) {
                    // Left for the next start; nothing depends on it.
                }
            }
        }
    }
}

} // namespace mdSettings
