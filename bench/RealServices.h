// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/LinuxFiles.h"
#include "platform/linux/LinuxEnvironment.h"
#include "platform/linux/LinuxShell.h"
#include "platform/linux/LinuxDesktop.h"
#include "platform/linux/LinuxProgram.h"
#include "store/App.h"

#include <QTemporaryDir>

// The real services around a program folder of its own, so a benchmark
// reads and writes only there.
struct RealServices {
    class FolderProgram : public platform::LinuxProgram {
    public:
        QString dir;
        QString policy;   // the administrator's folder; empty: none
        Folders folders() override { return {dir, dir, dir, policy}; }
    };

    QTemporaryDir tmp;
    platform::LinuxProcesses processes;
    platform::LinuxFiles files;
    platform::LinuxEnvironment env;
    platform::LinuxShell shell;
    platform::LinuxDesktop desktop;
    FolderProgram program;
    App app{{processes, files, env, shell, desktop, program}};

    RealServices() { program.dir = tmp.path(); }
};
