// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "platform/FileVersion.h"

#include <QByteArray>
#include <atomic>
#include <optional>
#include <sys/stat.h>

namespace platform {

// The version a stat() describes.
FileVersion fileVersion(const struct stat& info);

// The SHA-256 of the regular file behind `fd`, read from its start to its
// end, when it is `version` before and after the read: a file written while
// it is read has no digest of one version. Stops early once `cancel` is set.
// libcrypto uses the processor's SHA instructions, many times as fast as a
// portable implementation on a large executable. Leaves `fd` open.
std::optional<QByteArray> fileDigest(int fd, const FileVersion& version, const std::atomic_bool* cancel = nullptr);

} // namespace platform
