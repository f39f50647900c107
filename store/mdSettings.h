// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "store/App.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <optional>
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

// A setting read as a number; throws when it is none.
double numSetting(const App& app, const QString& key);
// A switch is on only when its number is exactly 1.
bool isOn(const App& app, const QString& key);
// The same for a switch that older settings files lack: `absent` when missing.
bool isOn(const App& app, const QString& key, bool absent);

} // namespace mdSettings
