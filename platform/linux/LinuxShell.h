// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Shell.h"

namespace platform {

class LinuxShell : public Shell {
public:
    bool canOpen(const QString& target) override;
    bool open(const QString& target) override;
    void restart(const QString& program, const Launch& launch) override;
};

} // namespace platform
