// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Desktop.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Journal.h"
#include "platform/Notices.h"
#include "platform/Processes.h"
#include "platform/Program.h"
#include "platform/Shell.h"

namespace platform {

// The services the logic reaches, one interface each.
struct Services {
    Processes& processes;
    Files& files;
    Environment& env;
    Shell& shell;
    Desktop& desktop;
    Program& program;
    Journal* journal = nullptr;   // none: events go nowhere
    Notices* notices = nullptr;   // none: notices without a tray go to the terminal
};

} // namespace platform
