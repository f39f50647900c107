// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Platform.h"
#include "store/HashCache.h"
#include "store/Collection.h"
#include "store/Policy.h"

#include <QHash>
#include <QSet>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

// The program's shared state: created once by start-up, and afresh by each test.
struct App {
    explicit App(platform::Services services) : sys(services) {}

    platform::Services sys;
    // Executable hashes for list_level 4.
    HashCache hashes{sys.files};
    Collection settingList;
    Collection allowList;
    Collection denyList;
    Collection allowTmp;
    Collection denyTmp;
    // Usage tracking: records of listed processes seen by the first complete
    // walk after start-up or after the last counted save.
    QSet<QString> seenRecords;
    bool seenPending = true;
    // What a record holds after the name (date, size, path), by path, for
    // the version of the file it was made from: each file's facts are put in
    // words once, not at every tick. A complete walk lets go of the paths it
    // no longer sees.
    // The whole record last made from it is kept too, at level 4 once its
    // hash is known: a tick over unchanged programs builds no text and asks
    // for no hash.
    struct KnownFile {
        platform::FileVersion version;
        double level = 0;
        QString text;
        bool seen = true;
        QString name;
        QString record;   // empty until finished
    };
    QHash<QString, KnownFile> knownFiles;
    // Told the file name at the end of every save of a list file, whether or
    // not the file was written: the list in memory is sorted either way.
    std::function<void(const QString& fileName)> listSaved;

    // The version of each list file as this program last read or wrote it;
    // another version is another program's writing, taken in at the next tick.
    std::map<QString, std::optional<platform::FileVersion>> listVersions;
    // The records of each list file in that version: against them a save or
    // a reload tells what another program added or removed since from what
    // this program changed itself.
    std::map<QString, std::vector<QString>> listBase;
    // List files that exist but could not be read: never written over, so
    // the records in them are not lost.
    std::set<QString> listsUnread;

    // The administrator's rules, taken in at each tick.
    Policy policy;
    // Monitor mode: what would have been ended or asked about, once per version.
    Collection seenList;
    // No journal took an event, and error.log has said so.
    bool journalMissingTold = false;

    // Tells the user through the tray icon; unset until the tray is up.
    std::function<void(const QString& text)> notice;
    void tell(const QString& text) const
    {
        if (notice)
            notice(text);
    }
    // A failed list save has been told and no save has worked since.
    bool saveFailureTold = false;

    // A file of the program in the folder it belongs to: the settings, the
    // read-only skin and icons, or the lists and the log.
    QString file(const QString& name) const
    {
        const platform::Program::Folders where = sys.program.folders();
        const QString& folder = name == QLatin1String("settings.ini") ? where.config
            : name.startsWith(QLatin1String("skin/")) || name.endsWith(QLatin1String(".png")) ? where.resources
            : where.data;
        return folder + QLatin1Char('/') + name;
    }
};
