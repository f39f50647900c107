// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/SysText.h"
#include "store/App.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <exception>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace mdSettings {

// Settings file.
bool getSettings(App& app);
QString getSetting(const App& app, const QString& key);
void setSetting(App& app, const QString& key, const QString& value);
bool fileExists(App& app, const QString& path);

// A setting line of the file as getSettings reads it, with the text of the
// comment lines right above it: its meaning.
struct FileSetting {
    QString key;
    QString value;
    QString comment;
};
std::vector<FileSetting> fileSettings(const QByteArray& bytes);
// The file's bytes with the values of the settings in `changes` (by key,
// letter case aside) replaced; every other byte, line ends included, stays.
QByteArray rewriteSettings(const QByteArray& bytes, const QHash<QString, QString>& changes);
// Why `value` cannot be saved for `key`, or empty text when it can; `values`
// holds the other settings by lower-case key, for the rules that join them.
// Keys this program does not read take any value.
bool knownSetting(const QString& key);
QString checkSetting(const QString& key, const QString& value, const QHash<QString, QString>& values);
// The first setting read from the file that checkSetting refuses, as
// "key=value: why", or empty text when the settings window would take them all.
QString refusedSetting(const App& app);

// The alert's countdown: seconds, 0 for none (also when older files lack the
// setting), and the decision taken at zero: close, allow_now or deny_now.
inline constexpr int kMaxAlertSeconds = 86400;
int alertTimeout(const App& app);
QString alertDefault(const App& app);

// The scan timer's interval in milliseconds for a check_interval of
// `seconds`; throws when it is below a millisecond or beyond a timer's range.
int timerMs(double seconds);
// How many ticks of `tick` seconds last `period` seconds, rounded up;
// throws on overflow.
int ticksFor(double period, double tick);

// A setting's text as a number, with "." as the decimal separator and no
// thousands separator. Empty or non-numeric text throws, so a missing setting
// fails at its first numeric use; parseNumber gives nothing instead.
double toNumber(const QString& text);
std::optional<double> parseNumber(QStringView text);
double numSetting(const App& app, const QString& key);
// A switch is on only when its number is exactly 1.
bool isOn(const App& app, const QString& key);
// The same for a switch that older settings files lack: `absent` when missing.
bool isOn(const App& app, const QString& key, bool absent);
// Number as the settings and records write it: shortest form, "." separator.
QString numText(double value);
// Rounds half to even.
double roundEven(double value);

// Error log and whole-file reading.
void error_log(App& app, const QString& module, const QString& procedure, const QString& description);
QString getContent(App& app, const QString& name);

// Runs `body`; a failure inside it is logged under module.procedure and
// swallowed, so the caller goes on as if the procedure had returned. The
// failure's description also goes to `failure` when given.
template <class Body>
bool guarded(App& app, const char* module, const char* procedure, Body&& body, QString* failure = nullptr)
{
    QString description;
    try {
        std::forward<Body>(body)();
        return true;
    } catch (const std::exception& e) {
        description = platform::fromSys(e.what());
    } catch (...) {
        description = QStringLiteral("Unknown failure");
    }
    error_log(app, QString::fromLatin1(module), QString::fromLatin1(procedure), description);
    if (failure)
        *failure = description;
    return false;
}

// Throws a failure with a readable description, in the system's bytes.
[[noreturn]] void fail(const QString& description);

} // namespace mdSettings
