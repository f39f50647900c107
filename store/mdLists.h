// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "store/App.h"

// The list files allow.csv and deny.csv.
namespace mdSettings {
// Appends the records of the file (in the program's folder) to `list`; of
// records that differ only in letter case the first is taken, and one log
// entry says so.
bool getList(App& app, Collection& list, const QString& fileName);
// Sorts `list` without duplicates and rewrites the file from it; with
// counts when clean_value is not 0, ageing them when `updateCounts`. A save
// that fails is told to the user once, until a save works again.
void putList(App& app, Collection& list, const QString& fileName, bool updateCounts);
// False for a record that no list file can hold: a line break in it would
// make lines of their own.
bool storable(const QString& record);
// Removes temporary copies of the program's own files that an interrupted
// save left in its folder.
void removeLeftovers(App& app);
// Takes in the list files that another program has written since this one
// last read or wrote them; the decisions for the present period stay.
void reloadChanged(App& app);
} // namespace mdSettings
