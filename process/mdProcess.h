// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "store/App.h"

// Another process's identity and termination, and the start-up entry.
namespace mdProcess {
QString TakePath(App& app, qint64 pid, qint64 moduleId);
// How the process was started, for a restart; none when not readable.
std::optional<platform::Launch> TakeLaunch(App& app, qint64 pid);
QString TakeName(App& app, qint64 pid);
// Whether the pinned process runs another executable since it was examined.
bool Replaced(App& app, qint64 pid);
// Whether this program, or a library of it, started the process.
bool OwnDescendant(App& app, qint64 pid);
int KillProcess(App& app, qint64 pid, platform::KillFailure* why = nullptr);
// Creates the logon entry when `load` and it is missing; removes it when not
// `load` and it is present. False when that failed (the failure is logged).
bool startupApp(App& app, bool load);
} // namespace mdProcess
