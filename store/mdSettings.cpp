#include "store/mdSettings.h"

#include "store/mdCollection.h"

#include <QLocale>
#include <cmath>
#include <cstring>

namespace mdSettings {

namespace {
// Lines joined by CRLF, leading empty lines left out.
QString joinContent(const QStringList& lines)
{
    qsizetype first = 0;
    while (first < lines.size() && lines[first].isEmpty())
        ++first;
    return lines.sliced(first).join(QStringLiteral("\r\n"));
}

// True when `bytes` read as lines and joined again by joinContent, plus a
// final CRLF, give the very same bytes: every line ends in CRLF, no CR or LF
// stands alone and the first line holds text. One pass without a line list.
bool canonical(const QByteArray& bytes)
{
    if (bytes.isEmpty() || bytes.startsWith('\r') || bytes.startsWith('\n') || !bytes.endsWith("\r\n"))
        return false;
    const char* const data = bytes.constData();
    const qsizetype size = bytes.size();
    for (qsizetype at = 0; at < size;) {
        const char* cr = static_cast<const char*>(std::memchr(data + at, '\r', size_t(size - at)));
        const char* lf = static_cast<const char*>(std::memchr(data + at, '\n', size_t(size - at)));
        if (!cr || !lf || lf != cr + 1)
            return false;   // a bare LF before the next CR, or a CR without its LF
        at = lf - data + 1;
        if (at == size)
            return true;
    }
    return true;
}
} // namespace

void fail(const QString& description)
{
    throw std::runtime_error(platform::toSys(description).toStdString());
}

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
        for (const QString& line : *lines) {
            const auto eq = line.indexOf(QLatin1Char('='));
            if (line.startsWith(QLatin1Char('\'')) || eq < 0)
                continue;
            // The key stays as written: a blank before "=" is part of it.
            QString value = line.mid(eq + 1);
            while (value.startsWith(QLatin1Char(' ')))
                value.remove(0, 1);
            while (value.endsWith(QLatin1Char(' ')))
                value.chop(1);
            app.settingList.add(value, line.left(eq));
        }
    });
}

QString getSetting(const App& app, const QString& key)
{
    return mdCollection::clnItem(app.settingList, key);
}

void setSetting(App& app, const QString& key, const QString& value)
{
    mdCollection::clnSetK(app, app.settingList, key, value);
}

std::optional<double> parseNumber(QStringView text)
{
    // The C locale would read "1,000" as a thousand while refusing "0,5";
    // a comma makes no number at all.
    if (text.contains(QLatin1Char(',')))
        return std::nullopt;
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

double toNumber(const QString& text)
{
    const auto value = parseNumber(text);
    if (!value)
        fail(QStringLiteral("Type mismatch: '%1' is not a number").arg(text));
    return *value;
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
    return app.settingList.hasKey(key) ? isOn(app, key) : absent;
}

QString numText(double value)
{
    return QLocale::c().toString(value, 'g', 15);
}

double roundEven(double value)
{
    return std::nearbyint(value);   // the default rounding mode is to nearest, ties to even
}

QString getContent(App& app, const QString& name)
{
    QString text;
    guarded(app, "mdSettings", "getContent", [&] {
        const auto lines = app.sys.files.readLines(app.file(name));
        if (!lines)
            return;
        text = joinContent(*lines);
    });
    return text;
}

void error_log(App& app, const QString& module, const QString& procedure, const QString& description)
{
    try {
        if (!isOn(app, QStringLiteral("error_log")))
            return;
        // Reads directly, not through getContent: a failure here must not log.
        const QString path = app.file(QStringLiteral("error.log"));
        QByteArray old = app.sys.files.readBytes(path).value_or(QByteArray());
        // A file the log wrote itself is already its lines joined plus a line
        // end, so its bytes go on unread; only a hand-edited one is redone.
        if (!canonical(old) && !old.isEmpty())
            old = platform::toSys(joinContent(platform::splitLines(old))) + "\r\n";
        else if (old.isEmpty())
            old = "\r\n";
        QString entry = description;
        entry.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        // Not synced: a lost last entry costs less than a stall at every failure.
        app.sys.files.writeBytes(path, platform::toSys(module + QLatin1Char('.') + procedure + QStringLiteral(": ")
                                                       + entry + QStringLiteral("\r\n")) + old, false);
    } catch (...) {
        // The log never reports its own failures; the old file stays whole.
    }
}

} // namespace mdSettings
