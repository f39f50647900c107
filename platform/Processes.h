// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Launch.h"

#include <QString>
#include <QtGlobal>
#include <functional>

namespace platform {

// Whether the executable's path could be read, and if not, why.
enum class PathState : quint8 {
    Read,
    Refused,      // another user's process: the system lets nobody inspect it
    Unreadable,   // any other failure (a path too long for the link, ...)
};

// Why a kill did not end the process.
enum class KillFailure : quint8 {
    None,
    Refused,   // another user's process: the signal is not allowed
    Gone,      // it has already ended
};

// One running process as the scan sees it.
struct ProcessEntry {
    qint64 pid = 0;
    QString exeName;   // last component of the executable's path, else the kernel's name
    qint64 moduleId = 0;
    PathState pathState = PathState::Read;
};

// The first call about a process that the walk is visiting, or about one no
// walk has visited, pins that process: path(), launch(), parent() and
// kill() reach the very process that was examined until the next walk, and
// report it as gone once it has ended, even when a newcomer has its id.
class Processes {
public:
    virtual ~Processes() = default;
    // Visits the running processes in table order until `visit` returns false.
    // Kernel threads, zombies and processes that are ending are left out.
    virtual void walk(const std::function<bool(const ProcessEntry&)>& visit) = 0;
    // Full path of the executable, or empty text when it cannot be read.
    virtual QString path(qint64 pid, qint64 moduleId) = 0;
    // Its arguments, working folder and environment, read while it runs, so
    // that it can be started again as it was; none when its arguments cannot
    // be read.
    virtual std::optional<Launch> launch(qint64 pid) = 0;
    // Executable name of the process with that id, or empty text.
    virtual QString name(qint64 pid) = 0;
    // Id of the process's parent, or 0 when it cannot be read.
    virtual qint64 parent(qint64 pid) = 0;
    // Name of the user who owns the process, its number when it has no name,
    // or empty text when it cannot be read.
    virtual QString owner(qint64 pid) = 0;
    // The number of that user, or -1 when it cannot be read.
    virtual qint64 ownerId(qint64 pid) { (void)pid; return -1; }
    // Full path of the executable of any process, for display only: it pins
    // nothing. Empty text when it cannot be read.
    virtual QString exePath(qint64 pid) = 0;
    // Ends the process that a walk pinned; non-zero when it was ended, 0 when
    // not (it has gone, or access is refused), and then `why` tells which,
    // when given. An id no walk pinned is reported as gone: whoever holds it
    // now was never examined.
    virtual int kill(qint64 pid, KillFailure* why = nullptr) = 0;
    // Whether the pinned process now runs another executable than the one it
    // was pinned with (it called exec): what was read of it before belongs to
    // the old one. The pin takes the new executable, so it is told once.
    virtual bool replaced(qint64 pid) { (void)pid; return false; }
    // Whether the process descends from this program's own process: this
    // program or a library of it (a session bus helper, say) started it.
    virtual bool ownDescendant(qint64 pid) { (void)pid; return false; }
    // While on, what this program's children leave behind (a session bus
    // helper forks and leaves its daemon) stays this program's descendant
    // instead of passing to the system's reaper. Turned off, what was
    // adopted is reaped as it ends.
    virtual void adoptOrphans(bool on) { (void)on; }
    // Keeps that process pinned through later walks, until hold() names
    // another one, or 0 for none.
    virtual void hold(qint64 pid) { (void)pid; }
};

} // namespace platform
