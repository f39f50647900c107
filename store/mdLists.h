// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "store/App.h"

// The list files allow.csv and deny.csv.
namespace mdLists {
// Appends the records of the file (in the program's folder) to `list`; of
// records that differ only in letter case the first is taken, and one log
// entry says so.
bool getList(App& app, Collection& list, const QString& fileName);
// Sorts `list` without duplicates and rewrites the file from it, under the
// lock that every writer of the lists takes, after taking in (as
// reloadChanged does) what another program wrote since this one last read
// or wrote the file, so no writer's records are lost; with
// counts when clean_value is not 0, ageing them when `updateCounts`. A save
// that fails is told to the user once, until a save works again.
void putList(App& app, Collection& list, const QString& fileName, bool updateCounts);
// False for a record that a list file would not give back as itself: a line
// break makes lines of their own, a blank at an end is trimmed off on
// reading, and a last "|" field that is a number is read as a count.
bool storable(const QString& record);
// Why a record is not storable, in a few words; empty when it is.
QString unstorable(const QString& record);
// Removes temporary copies of the program's own files, settings.ini among
// them, that an interrupted save left in their folders.
void removeLeftovers(App& app);
// Takes in the list files that another program has written since this one
// last read or wrote them: what it added comes in, what it removed goes,
// and what this program changed meanwhile stays as changed here; the
// decisions for the present period stay.
void reloadChanged(App& app);
// Takes in the administrator's rules when a file of them changed; a bad
// file is logged and skipped.
void reloadPolicy(App& app);
} // namespace mdLists
