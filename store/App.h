#pragma once
#include "platform/Platform.h"
#include "store/Collection.h"

#include <functional>

// The program's shared state: created once by start-up, and afresh by each test.
struct App {
    explicit App(platform::Services services) : sys(services) {}

    platform::Services sys;
    Collection settingList;
    Collection allowList;
    Collection denyList;
    Collection allowTmp;
    Collection denyTmp;
    // Usage tracking: records of listed processes seen by the first complete
    // walk after start-up or after the last counted save.
    QString seenRecords;
    bool seenPending = true;
    // Told the file name at the end of every save of a list file, whether or
    // not the file was written: the list in memory is sorted either way.
    std::function<void(const QString& fileName)> listSaved;

    // A file in the program's folder.
    QString file(const QString& name) const { return sys.program.folder() + QLatin1Char('/') + name; }
};
