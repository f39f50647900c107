// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/mdSettings.h"

#include "store/mdCollection.h"
#include "store/mdNumbers.h"
#include "store/mdFailures.h"

#include <QLocale>
#include <QSet>
#include <cmath>
#include <cstring>
#include <limits>

namespace mdSettings {

using namespace mdFailures;

using namespace mdNumbers;

namespace {
// A setting line split as getSettings reads it: the key as written, and
// where its value starts and ends once blanks at both ends are left out.
struct Parts {
    QString key;
    qsizetype from = 0;
    qsizetype to = 0;
};
std::optional<Parts> settingParts(const QString& line)
{
    const auto eq = line.indexOf(QLatin1Char('='));
    if (line.startsWith(QLatin1Char('\'')) || eq < 0)
        return std::nullopt;
    Parts parts{line.left(eq), eq + 1, line.size()};
    while (parts.from < parts.to && line[parts.from] == QLatin1Char(' '))
        ++parts.from;
    while (parts.to > parts.from && line[parts.to - 1] == QLatin1Char(' '))
        --parts.to;
    return parts;
}

// Calls `visit` with each line of `bytes` and the end that follows it: CR LF,
// LF, CR or nothing for a last line without one.
template <class Visit>
void eachLine(QByteArrayView bytes, Visit&& visit)
{
    for (qsizetype start = 0; start < bytes.size();) {
        qsizetype end = start;
        while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
            ++end;
        qsizetype next = end;
        if (next < bytes.size())
            next += bytes.sliced(next).startsWith("\r\n") ? 2 : 1;
        visit(bytes.sliced(start, end - start), bytes.sliced(end, next - end));
        start = next;
    }
}

const int kMaxInt = std::numeric_limits<int>::max();

const QSet<QString>& switches()
{
    static const QSet<QString> keys{QStringLiteral("startup_load"), QStringLiteral("always_top"),
                                    QStringLiteral("safe_level"), QStringLiteral("kill_notice"),
                                    QStringLiteral("error_log"), QStringLiteral("journal")};
    return keys;
}
const QSet<QString>& numbers()
{
    static const QSet<QString> keys{QStringLiteral("check_interval"), QStringLiteral("path_search"),
                                    QStringLiteral("tmp_interval"), QStringLiteral("list_level"),
                                    QStringLiteral("clean_value"), QStringLiteral("alert_timeout"),
                                    QStringLiteral("gate_hold")};
    return keys;
}
// The alert's decisions that its countdown may take.
const QStringList& alertDefaults()
{
    static const QStringList names{QStringLiteral("close"), QStringLiteral("allow_now"), QStringLiteral("deny_now")};
    return names;
}
} // namespace

bool fileExists(App& app, const QString& path)
{
    return app.sys.files.exists(path);
}

bool getSettings(App& app)
{
    const QString path = app.file(QStringLiteral("settings.ini"));
    if (!fileExists(app, path))
        return false;
    return guarded(app, "mdSettings", "getSettings", [&] {
        const auto lines = app.sys.files.readLines(path);
        if (!lines)
            fail(QStringLiteral("File not found: ") + path);
        for (const QString& line : *lines)
            // The key stays as written: a blank before "=" is part of it.
            if (const auto parts = settingParts(line))
                app.settingList.add(line.sliced(parts->from, parts->to - parts->from), parts->key);
    });
}

std::vector<FileSetting> fileSettings(const QByteArray& bytes)
{
    std::vector<FileSetting> settings;
    QStringList comment;
    for (const QString& line : platform::splitLines(bytes)) {
        if (line.startsWith(QLatin1Char('\''))) {
            comment << line.mid(1).trimmed();
            continue;
        }
        if (const auto parts = settingParts(line)) {
            QString meaning = comment.join(QLatin1Char(' '));
            // "key: meaning" names the key once more.
            if (meaning.startsWith(parts->key + QLatin1Char(':'), Qt::CaseInsensitive))
                meaning = meaning.mid(parts->key.size() + 1).trimmed();
            settings.push_back({parts->key, line.sliced(parts->from, parts->to - parts->from), meaning});
        }
        // A blank line parts a comment from the settings below it.
        comment.clear();
    }
    return settings;
}

QByteArray rewriteSettings(const QByteArray& bytes, const QHash<QString, QString>& changes)
{
    QHash<QString, QString> wanted;
    for (auto it = changes.cbegin(); it != changes.cend(); ++it)
        wanted.insert(Collection::lower(it.key()), it.value());
    // Decoding drops a byte order mark: it goes out as it came in.
    const QByteArray bom = bytes.startsWith("\xEF\xBB\xBF") ? bytes.first(3) : QByteArray();
    QByteArray out = bom;
    out.reserve(bytes.size() + 64);
    eachLine(QByteArrayView(bytes).sliced(bom.size()), [&](QByteArrayView line, QByteArrayView end) {
        const QString text = platform::fromSys(line);
        const auto parts = settingParts(text);
        const auto it = parts ? wanted.constFind(Collection::lower(parts->key)) : wanted.cend();
        if (it == wanted.cend() || text.sliced(parts->from, parts->to - parts->from) == *it)
            out += line;
        else
            out += platform::toSys(text.left(parts->from) + *it + text.sliced(parts->to));
        out += end;
    });
    return out;
}

int timerMs(double seconds)
{
    const double ms = roundEven(seconds * 1000);
    if (ms > kMaxInt)
        fail(QStringLiteral("Overflow"));
    if (ms < 1)   // a timer of no interval never ticks
        fail(QStringLiteral("check_interval %1 is below a millisecond").arg(numText(seconds)));
    return static_cast<int>(ms);
}

int ticksFor(double period, double tick)
{
    const double ticks = roundEven(period / tick);
    if (!(std::fabs(ticks) < kMaxInt))
        fail(QStringLiteral("Overflow"));
    const int whole = static_cast<int>(ticks);
    return tick * whole < period ? whole + 1 : whole;
}

bool knownSetting(const QString& key)
{
    const QString name = Collection::lower(key);
    return switches().contains(name) || numbers().contains(name) || name == QLatin1String("web_search")
        || name == QLatin1String("alert_default") || name == QLatin1String("guard_mode")
        || name == QLatin1String("gate_socket");
}

QString checkSetting(const QString& key, const QString& value, const QHash<QString, QString>& values)
{
    const QString name = Collection::lower(key);
    // A line break would write lines of its own into the file.
    if (value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r')))
        return QStringLiteral("one line, without line breaks");
    if (name == QLatin1String("web_search"))
        return value.isEmpty() || value.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)
                || value.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
            ? QString()
            : QStringLiteral("an address that begins with https:// or http://, or nothing for no lookups");
    if (name == QLatin1String("gate_socket"))
        return value.isEmpty() || value.startsWith(QLatin1Char('/')) ? QString()
                                                                     : QStringLiteral("a path that begins with /, or nothing for the usual one");
    if (name == QLatin1String("alert_default"))
        return alertDefaults().contains(Collection::lower(value)) ? QString()
                                                                  : QStringLiteral("close, allow_now or deny_now");
    if (name == QLatin1String("guard_mode"))
        return Collection::lower(value) == QLatin1String("enforce") || Collection::lower(value) == QLatin1String("monitor")
            ? QString()
            : QStringLiteral("enforce or monitor");
    if (!knownSetting(name))
        return QString();
    const auto number = parseNumber(value);
    if (!number)
        return QStringLiteral("not a number: digits, with \".\" before a fraction");
    const double n = *number;
    if (switches().contains(name))
        return n == 0 || n == 1 ? QString() : QStringLiteral("1 for on or 0 for off");
    if (name == QLatin1String("check_interval")) {
        if (n <= 0)
            return QString();   // start-up reads it as 0.1
        try {
            timerMs(n);
            return QString();
        } catch (const std::exception&) {
            return n < 1 ? QStringLiteral("at least 0.001 (a millisecond)")
                         : QStringLiteral("at most %1 seconds").arg(numText(kMaxInt / 1000.0));
        }
    }
    if (n < 0)
        return QStringLiteral("0 or more");
    const bool whole = n == std::floor(n);
    if (name == QLatin1String("list_level"))
        return whole && n <= 4 ? QString() : QStringLiteral("a whole number from 0 to 4");
    if (name == QLatin1String("gate_hold"))
        return whole && n >= 1 && n <= 86400 ? QString() : QStringLiteral("a whole number of seconds from 1 to 86400");
    if (name == QLatin1String("clean_value"))
        return whole ? QString() : QStringLiteral("0, or a whole number of saves");
    if (name == QLatin1String("alert_timeout"))
        return whole && n <= kMaxAlertSeconds ? QString()
                                              : QStringLiteral("0, or a whole number of seconds up to %1").arg(kMaxAlertSeconds);
    // tmp_interval and path_search are counted in checks: at most as many as a
    // counter holds.
    const QString check = values.value(QStringLiteral("check_interval"));
    const auto interval = parseNumber(check);
    if (!interval || !checkSetting(QStringLiteral("check_interval"), check, {}).isEmpty())
        return QString();   // that setting tells what is wrong
    const double tick = *interval > 0 ? *interval : 0.1;
    const double seconds = name == QLatin1String("tmp_interval") ? n * 60 : n;
    try {
        ticksFor(seconds, tick);
        return QString();
    } catch (const std::exception&) {
        return QStringLiteral("too long for a check every %1 seconds").arg(numText(tick));
    }
}

QString refusedSetting(const App& app)
{
    // The settings window checks what its fields hold, blanks trimmed.
    QStringList keys;
    for (const QSet<QString>* names : {&switches(), &numbers()})
        keys += QStringList(names->cbegin(), names->cend());
    keys << QStringLiteral("web_search") << QStringLiteral("alert_default") << QStringLiteral("guard_mode")
         << QStringLiteral("gate_socket");
    keys.sort();
    QHash<QString, QString> values;
    for (const QString& key : keys)
        values.insert(key, getSetting(app, key).trimmed());
    for (const QString& key : keys) {
        // A missing setting fails at its first use, naming itself.
        if (!app.settingList.hasKey(key))
            continue;
        const QString why = checkSetting(key, values.value(key), values);
        if (!why.isEmpty())
            return key + QLatin1Char('=') + values.value(key) + QStringLiteral(": ") + why;
    }
    return QString();
}

int alertTimeout(const App& app)
{
    const QString key = QStringLiteral("alert_timeout");
    return app.settingList.hasKey(key) ? int(numSetting(app, key)) : 0;
}

QString alertDefault(const App& app)
{
    const QString key = QStringLiteral("alert_default");
    return app.settingList.hasKey(key) ? Collection::lower(getSetting(app, key).trimmed()) : QStringLiteral("close");
}

QString getSetting(const App& app, const QString& key)
{
    if (auto fixed = app.policy.fixed(key))
        return *fixed;
    return mdCollection::clnItem(app.settingList, key);
}

void setSetting(App& app, const QString& key, const QString& value)
{
    mdCollection::clnSetK(app, app.settingList, key, value);
}

double numSetting(const App& app, const QString& key)
{
    return toNumber(getSetting(app, key));
}

bool isOn(const App& app, const QString& key)
{
    return numSetting(app, key) == 1.0;
}

bool isOn(const App& app, const QString& key, bool absent)
{
    return app.settingList.hasKey(key) || app.policy.fixed(key) ? isOn(app, key) : absent;
}

} // namespace mdSettings
