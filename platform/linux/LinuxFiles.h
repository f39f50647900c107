// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/Files.h"

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

} // namespace platform
