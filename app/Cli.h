// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "store/App.h"

#include <QString>
#include <QStringList>
#include <functional>

// The command line: the options that do their work and end the program.
namespace Cli {

enum class Mode { Guard, AllowRunning, Done };

// What to do next; for Done, what to print and the exit status.
struct Outcome {
    Mode mode = Mode::Guard;
    int status = 0;
    QString out;   // for standard output
    QString err;   // for standard error
};

// Reads the arguments, the program's own path first. Needs neither a
// display nor an application object, so --help works anywhere.
Outcome parse(const QStringList& arguments, const QString& version);

// Told how many of the programs that run now are known, of how many, while
// their hashes are computed.
using Progress = std::function<void(int known, int total)>;
// Writes the count on standard error when that is a terminal, one line
// rewritten in place.
Progress terminalProgress();

// Adds the records of the programs that run now to allow.csv, saved as a
// whole, and never takes or touches the single-copy lock.
Outcome allowRunning(App& app, const Progress& progress = terminalProgress());

} // namespace Cli
