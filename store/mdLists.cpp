#include "store/mdLists.h"

#include "store/mdCollection.h"
#include "store/mdSettings.h"

#include <optional>

namespace mdSettings {

namespace {

// The number in `text`, or nothing when the program's conversion refuses it.
std::optional<double> numeric(const QString& text)
{
    try {
        return toNumber(text);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

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
        if (const auto count = numeric(line.mid(bar + 1)))
            return {line.left(bar), count};
    return {line, std::nullopt};
}

// Counts are whole numbers: a fraction edited in by hand is rounded on reading.
QString countText(double count)
{
    return numText(count + 0.0);   // + 0.0 turns -0 into 0
}

} // namespace

void getList(App& app, Collection& list, const QString& fileName)
{
    guarded(app, "mdSettings", "getList", [&] {
        const auto lines = app.sys.files.readLines(app.file(fileName));
        if (!lines)
            return;
        for (const QString& raw : *lines) {
            const QString line = raw.trimmed();
            if (!line.isEmpty())
                list.add(splitLine(line).record);
        }
    });
}

void putList(App& app, Collection& list, const QString& fileName, bool updateCounts)
{
    guarded(app, "mdSettings", "putList", [&] {
        mdCollection::clnSort(app, list, true);
        const double limit = numSetting(app, QStringLiteral("clean_value"));
        const QString path = app.file(fileName);

        QStringList out;
        if (limit == 0) {
            for (const QString& record : list)
                out << record;
            app.sys.files.writeText(path, platform::joinLinesCrlf(out));
            return;
        }

        const bool allowFile = fileName == QLatin1String("allow.csv");
        const QString seen = QLatin1Char(':') + app.seenRecords;
        // New lines by record; two records differing only in case fail here,
        // before anything is written.
        Collection scratch;
        if (const auto lines = app.sys.files.readLines(path)) {
            for (const QString& raw : *lines) {
                const QString line = raw.trimmed();
                if (line.isEmpty())
                    continue;
                const Line parsed = splitLine(line);
                double count = roundEven(parsed.count.value_or(0));
                const QString& record = parsed.record;
                if (allowFile && seen.contains(QLatin1Char(':') + record + QLatin1Char(':'), Qt::CaseSensitive)) {
                    if (updateCounts)
                        count = count >= 98 ? 99 : count + 5;
                } else if (count <= -limit) {
                    scratch.add(QStringLiteral("!"), record);
                    continue;
                } else if (updateCounts) {
                    count -= 1;
                }
                scratch.add(record + QLatin1Char('|') + countText(count), record);
            }
        }

        const QString fresh = allowFile ? QStringLiteral("|1") : QStringLiteral("|0");
        for (const QString& record : list) {
            const QString line = mdCollection::clnItem(scratch, record);
            if (line.isEmpty())
                out << record + fresh;
            else if (line != QLatin1String("!"))
                out << line;
        }
        app.sys.files.writeText(path, platform::joinLinesCrlf(out));
        // Only a save that reached the file uses up the credit of the seen records.
        app.seenRecords.clear();
        app.seenPending = true;
    });
    if (app.listSaved)
        app.listSaved(fileName);
}

} // namespace mdSettings
