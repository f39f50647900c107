// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/mdCollection.h"

#include "store/mdSettings.h"
#include "store/mdFailures.h"

namespace mdCollection {

using mdFailures::guarded;

Collection clnEq(App& app, const Collection& source)
{
    Collection copy;
    guarded(app, "mdCollection", "clnEq", [&] {
        for (const QString& value : source)
            copy.add(value);
    });
    return copy;
}

void clnSetK(App& app, Collection& c, const QString& key, const QString& value)
{
    guarded(app, "mdCollection", "clnSetK", [&] {
        c.remove(key);
        c.add(value, key);
    });
}

QString clnItem(const Collection& c, int position)
{
    return position >= 1 && position <= c.count() ? c.item(position) : QString();
}

QString clnItem(const Collection& c, const QString& key)
{
    return c.hasKey(key) ? c.item(key) : QString();
}

void clnSort(App& app, Collection& c, bool unique)
{
    guarded(app, "mdCollection", "clnSort", [&] { c.sort(unique); });
}

int clnSearch(App& app, const Collection& c, const QString& value, const QString& suffix)
{
    int position = 0;
    guarded(app, "mdCollection", "clnSearch", [&] { position = c.search(value, suffix); });
    return position;
}

void clnDel(App& app, Collection& c, const QString& value)
{
    guarded(app, "mdCollection", "clnDel", [&] {
        if (const int position = c.search(value, QString()); position > 0)
            c.remove(position);
    });
}

} // namespace mdCollection
