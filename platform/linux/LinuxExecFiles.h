// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Gate.h"

namespace platform {

// The files of exec events, read through the events' descriptors.
class LinuxExecFiles : public ExecFiles {
public:
    std::optional<Facts> facts(int fd) override;
    Kind kind(int fd) override;
    int duplicate(int fd) override;
    std::optional<QByteArray> sha256(int fd, const Facts& version) override;
};

} // namespace platform
