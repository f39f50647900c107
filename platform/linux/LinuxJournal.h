// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Journal.h"

namespace platform {

// The journal through libsystemd's native protocol.
class LinuxJournal : public Journal {
public:
    bool send(const std::vector<Field>& fields, QString* why) override;
};

} // namespace platform
