// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Gate.h"

namespace platform {

// The user and parent of a process, from /proc/PID/status.
class LinuxExecProcesses : public ExecProcesses {
public:
    std::optional<Info> info(qint64 pid) override;
};

} // namespace platform
