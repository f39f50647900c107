// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/SysText.h"
#include "store/mdErrorLog.h"

#include <QString>
#include <exception>
#include <stdexcept>
#include <utility>

// The failures of a procedure: thrown inside it, logged and swallowed at its end.
namespace mdFailures {

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
    mdErrorLog::error_log(app, QString::fromLatin1(module), QString::fromLatin1(procedure), description);
    if (failure)
        *failure = description;
    return false;
}

// Throws a failure with a readable description, in the system's bytes.
[[noreturn]] void fail(const QString& description);

} // namespace mdFailures
