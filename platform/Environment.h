// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QString>

namespace platform {

// Folders and environment variables by their Windows names, given their
// meaning on this system.
class Environment {
public:
    virtual ~Environment() = default;
    virtual QString windowsDirectory() = 0;   // "/usr"
    virtual QString systemDirectory() = 0;    // "/usr/bin"
    // "ProgramFiles", "TMP", "USERPROFILE", "SYSTEMDRIVE", "SystemDrive", "OS";
    // a variable set under its Windows name wins; empty text when unset.
    virtual QString variable(const QString& windowsName) = 0;
    // The folder whose entries the desktop starts at logon.
    virtual QString startupFolder() = 0;
};

} // namespace platform
