// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "store/App.h"

#include <QSet>
#include <QString>
#include <vector>

// The programs that run now, as list records built the way the scan builds
// them, hashes computed at once: what "trust what runs now" adds to the
// allow list.
struct Running {
    struct Program {
        QString name;
        QString path;   // empty for another user's program, trusted by name
        QString record;
    };
    std::vector<Program> programs;   // in the order of their records
    int unhashed = 0;                // left out: the file could not be read to hash
    // Programs whose hash is being computed, with their records so far.
    struct Waiting {
        QString name, path, unhashed;
        qint64 pid = 0;
    };
    std::vector<Waiting> waiting;
    QSet<QString> taken;   // the programs' records
};

// Leaves out this program, what the allow list or the deny list already
// matches, a process whose path is unreadable for any reason but another
// user's ownership (no record would match it), and repeated records. At
// list_level 4 the programs whose hash is not known yet wait in `waiting`.
Running runningPrograms(App& app);
// Takes in the waiting programs whose hashes are known now; true when any was.
bool settleRunning(App& app, Running& running);
