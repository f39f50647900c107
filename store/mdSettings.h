#pragma once
#include "store/App.h"

#include <QString>
#include <exception>
#include <stdexcept>
#include <utility>

namespace mdSettings {

// Settings file.
bool getSettings(App& app);
QString getSetting(const App& app, const QString& key);
void setSetting(App& app, const QString& key, const QString& value);
bool fileExists(App& app, const QString& path);

// A setting's text as a number, with "." as the decimal separator. Empty or
// non-numeric text throws, so a missing setting fails at its first numeric use.
double toNumber(const QString& text);
double numSetting(const App& app, const QString& key);
// A switch is on only when its number is exactly 1.
bool isOn(const App& app, const QString& key);
// Number as the settings and records write it: shortest form, "." separator.
QString numText(double value);
// Rounds half to even.
double roundEven(double value);

// Error log and whole-file reading.
void error_log(App& app, const QString& module, const QString& procedure, const QString& description);
QString getContent(App& app, const QString& name);

// Runs `body`; a failure inside it is logged under module.procedure and
// swallowed, so the caller goes on as if the procedure had returned.
template <class Body>
bool guarded(App& app, const char* module, const char* procedure, Body&& body)
{
    try {
        std::forward<Body>(body)();
        return true;
    } catch (const std::exception& e) {
        error_log(app, QString::fromLatin1(module), QString::fromLatin1(procedure), QString::fromUtf8(e.what()));
    } catch (...) {
        error_log(app, QString::fromLatin1(module), QString::fromLatin1(procedure), QStringLiteral("Unknown failure"));
    }
    return false;
}

// Throws a failure with a readable description.
[[noreturn]] void fail(const QString& description);

} // namespace mdSettings
