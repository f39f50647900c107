// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QHashFunctions>
#include <QtGlobal>

namespace platform {

// One version of a file: another content at the same path, or the same
// content written again, is another version.
struct FileVersion {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;   // since the epoch
    qint64 changedNs = 0;
    bool operator==(const FileVersion&) const = default;
};

inline size_t qHash(const FileVersion& v, size_t seed = 0) noexcept
{
    return qHashMulti(seed, v.device, v.inode, v.size, v.modifiedNs, v.changedNs);
}

} // namespace platform
