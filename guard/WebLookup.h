// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "store/App.h"

#include <QString>
#include <optional>

// Lookup and error-report addresses on the publisher's site, built on the
// web_search setting and handed to the shell as they stand: nothing is escaped.
namespace WebLookup {

// The publisher's domain; lookups go only to an address that holds it.
inline constexpr char kDomain[] = "mirvak.example";

// An executable to look up: its file name and what goes into "&path=".
struct Target {
    QString executable;
    QString path;
};

// True when web_search, in lower case, holds the publisher's domain.
bool allowed(const App& app);

// A list record's name, and what follows it and its "|" (empty without one).
Target fromRecord(const QString& record);

// The system's folders that the address tells, as start-up noted them.
struct Folders {
    QString system;
    QString windows;
};

// The lookup address for `target`, or when there is none the error report's,
// which ends with "&str_errors=" for the entries to follow.
QString url(App& app, const Folders& folders, const std::optional<Target>& target);

// Hands the address to the shell unchanged.
void open(App& app, const QString& url);

} // namespace WebLookup
