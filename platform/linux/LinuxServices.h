// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Desktop.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Program.h"
#include "platform/Shell.h"
#include "platform/Tray.h"

#include <QLockFile>
#include <memory>

namespace platform {

class LinuxFiles : public Files {
public:
    LinuxFiles();
    ~LinuxFiles() override;
    LinuxFiles(const LinuxFiles&) = delete;
    LinuxFiles& operator=(const LinuxFiles&) = delete;
    bool exists(const QString& path) override;
    std::optional<QByteArray> readBytes(const QString& path) override;
    void writeBytes(const QString& path, const QByteArray& bytes, bool sync) override;
    QDateTime modified(const QString& path) override;
    qint64 size(const QString& path) override;
    std::optional<Facts> look(const QString& path, bool dated) override;
    std::optional<Facts> lookRunning(qint64 pid, const QString& path, bool dated) override;
    std::optional<QByteArray> sha256(qint64 pid, const QString& path, const Facts& version,
                                     const std::atomic_bool* cancel = nullptr) override;
    void remove(const QString& path) override;
    void makePath(const QString& folder) override;
    std::unique_ptr<Lock> lock(const QString& path, int waitMs) override;
    std::vector<Entry> list(const QString& folder) override;

private:
    // /proc, held open: a running file's link is reached from it without
    // a lookup of /proc at every process of every walk.
    int proc_ = -1;
};

class LinuxEnvironment : public Environment {
public:
    QString windowsDirectory() override { return QStringLiteral("/usr"); }
    QString systemDirectory() override { return QStringLiteral("/usr/bin"); }
    QString variable(const QString& windowsName) override;
    QString startupFolder() override;
};

class LinuxShell : public Shell {
public:
    bool canOpen(const QString& target) override;
    bool open(const QString& target) override;
    void restart(const QString& program, const Launch& launch) override;
};

class LinuxDesktop : public Desktop {
public:
    QRect screenGeometry() override;
    QRect availableGeometry() override;
    QRect trayGeometry() override;
    bool trayPlacing() override;
    qint64 clockMs() override;
    void processEvents() override;
    void startMove(QWidget* window) override;
    bool askYesNo(const QString& title, const QString& text) override;
    void message(const QString& title, const QString& text) override;
    QString pickFile(const QString& title, const QString& folder) override;
    void quit() override;

    // The icon whose rectangle trayGeometry() gives; none until the tray is made.
    Tray* tray = nullptr;
};

class LinuxProgram : public Program {
public:
    LinuxProgram();
    Folders folders() override { return folders_; }
    QString exeName() override;
    QString exePath() override;
    // Known before any object of the program exists, for --version.
    static constexpr int kVersion[] = {1, 9, 0};
    static QString versionText() { return QStringLiteral("%1.%2.%3").arg(kVersion[0]).arg(kVersion[1]).arg(kVersion[2]); }
    int versionMajor() override { return kVersion[0]; }
    int versionMinor() override { return kVersion[1]; }
    int versionRevision() override { return kVersion[2]; }
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
