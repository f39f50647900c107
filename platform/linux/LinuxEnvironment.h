// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Environment.h"

namespace platform {

class LinuxEnvironment : public Environment {
public:
    QString windowsDirectory() override { return QStringLiteral("/usr"); }
    QString systemDirectory() override { return QStringLiteral("/usr/bin"); }
    QString variable(const QString& windowsName) override;
    QString startupFolder() override;
};

} // namespace platform
