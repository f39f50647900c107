#pragma once
#include "store/App.h"

// The list files allow.csv and deny.csv.
namespace mdSettings {
// Appends the records of the file (in the program's folder) to `list`.
void getList(App& app, Collection& list, const QString& fileName);
// Sorts `list` without duplicates and rewrites the file from it; with
// counts when clean_value is not 0, ageing them when `updateCounts`.
void putList(App& app, Collection& list, const QString& fileName, bool updateCounts);
} // namespace mdSettings
