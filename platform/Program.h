// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

namespace platform {

// Facts about this program.
class Program {
public:
    // Where the program's files live, each folder without a trailing "/". A
    // portable program folder is all three; an installed program writes only
    // to the user's own folders and reads its shared resources.
    struct Folders {
        QString config;      // settings.ini
        QString data;        // allow.csv, deny.csv, error.log
        QString resources;   // skin/, the icons and the default settings.ini; never written
        QString policy{};    // the administrator's rules, read only; empty: none
    };

    virtual ~Program() = default;
    virtual Folders folders() = 0;
    virtual QString exeName() = 0;    // the executable's file name without extension
    virtual QString exePath() = 0;    // folder + "/" + file name, as the system names the running file
    virtual int versionMajor() = 0;
    virtual int versionMinor() = 0;
    virtual int versionRevision() = 0;
    virtual QString productTitle() = 0;
    virtual QString description() = 0;
    // False when another copy runs in this user session.
    virtual bool takeInstanceLock() = 0;
    // True when another copy holds that lock; the lock is only looked at.
    virtual bool otherCopyRuns() = 0;
    // Keeps the program out of the task list.
    virtual void hideFromTaskList() = 0;
    // The user it runs as: 0 is root, who may end any process.
    virtual unsigned userId() = 0;
};

} // namespace platform
