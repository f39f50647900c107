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

    // Tells the user through the tray icon; unset until the tray is up.
    std::function<void(const QString& text)> notice;
    void tell(const QString& text) const
    {
        if (notice)
            notice(text);
    }
    // A failed list save has been told and no save has worked since.
    bool saveFailureTold = false;

    // A file in the program's folder.
    QString file(const QString& name) const { return sys.program.folder() + QLatin1Char('/') + name; }
};
