// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Program.h"
#include "platform/Version.h"

#include <QLockFile>
#include <memory>


namespace platform {

class LinuxProgram : public Program {
public:
    LinuxProgram();
    Folders folders() override { return folders_; }
    QString exeName() override;
    QString exePath() override;
    // Known before any object of the program exists, for --version.
    static QString versionText() { return QString::fromLatin1(version::kText); }
    // The administrator's folder: mirvak/ in the first system configuration
    // folder. The exec gate reads the same policy there.
    static QString policyFolder();
    int versionMajor() override { return version::kMajor; }
    int versionMinor() override { return version::kMinor; }
    int versionRevision() override { return version::kPatch; }
    QString productTitle() override { return QStringLiteral("Mirvak Process Manager"); }
    QString description() override;
    bool takeInstanceLock() override;
    bool otherCopyRuns() override;
    void hideFromTaskList() override {}   // the windows carry Qt::Tool; nothing to hide here
    unsigned userId() override;
private:
    QString lockPath(bool quiet = false);
    Folders folders_;
    std::unique_ptr<QLockFile> lock_;
    QString exePath_;
};

} // namespace platform
