// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "store/App.h"

// Collection helpers; each logs its own failures under "mdCollection".
namespace mdCollection {
Collection clnEq(App& app, const Collection& source);
void clnSetK(App& app, Collection& c, const QString& key, const QString& value);
QString clnItem(const Collection& c, int position);
QString clnItem(const Collection& c, const QString& key);
void clnSort(App& app, Collection& c, bool unique);
int clnSearch(App& app, const Collection& c, const QString& value, const QString& suffix = QString());
void clnDel(App& app, Collection& c, const QString& value);
} // namespace mdCollection
