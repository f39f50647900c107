#include "store/mdSettings.h"

#include "store/mdCollection.h"

#include <QLocale>
#include <cmath>

namespace mdSettings {

namespace {
// Lines joined by CRLF, leading empty lines left out.
QString joinContent(const QStringList& lines)
{
    QString text;
    for (const QString& line : lines)
        text = text.isEmpty() ? line : text + QStringLiteral("\r\n") + line;
    return text;
}
} // namespace

void fail(const QString& description)
{
    throw std::runtime_error(description.toStdString());
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

double toNumber(const QString& text)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        fail(QStringLiteral("Type mismatch: '%1' is not a number").arg(text));
    return value;
}

double numSetting(const App& app, const QString& key)
{
    return toNumber(getSetting(app, key));
}

bool isOn(const App& app, const QString& key)
{
    return numSetting(app, key) == 1.0;
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
        const auto lines = app.sys.files.readLines(path);
        const QString old = lines ? joinContent(*lines) : QString();
        QString entry = description;
        entry.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        app.sys.files.writeText(path, module + QLatin1Char('.') + procedure + QStringLiteral(": ") + entry
                                          + QStringLiteral("\r\n") + old + QStringLiteral("\r\n"));
    } catch (...) {
        // The log never reports its own failures; the old file stays whole.
    }
}

} // namespace mdSettings
