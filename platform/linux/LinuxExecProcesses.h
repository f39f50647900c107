// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Gate.h"

namespace platform {

// The user and parent of a process, from /proc/PID/status; the user alone
// from the owner of /proc/PID unless that is root.
class LinuxExecProcesses : public ExecProcesses {
public:
    std::optional<Info> info(qint64 pid) override;
    std::optional<qint64> user(qint64 pid) override;
};

} // namespace platform
