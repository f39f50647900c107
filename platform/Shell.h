// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Launch.h"

#include <QString>

namespace platform {

class Shell {
public:
    virtual ~Shell() = default;
    // True when open() can hand `target` over whole: the system limits the
    // length of one argument of a new program.
    virtual bool canOpen(const QString& target) = 0;
    // Opens a URL, a mail link or a file with its default action. False when
    // nothing could be started: for a file (a path), also when no
    // application is set to open its type.
    virtual bool open(const QString& target) = 0;
    // Starts the executable at `program` in a new process that does not
    // depend on this one, with the launch's arguments (argv[0] included); in
    // its folder and with its environment where known, else in this
    // process's own.
    virtual void restart(const QString& program, const Launch& launch) = 0;
};

} // namespace platform
