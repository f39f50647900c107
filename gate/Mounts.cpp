// SPDX-License-Identifier: GPL-3.0-or-later
#include "gate/Mounts.h"

#include "platform/SysText.h"

#include <QSet>

namespace {

// Disk and memory file systems; network, FUSE and kernel views are not
// marked, since their files are not this machine's to vouch for or hold no
// programs.
bool local(QByteArrayView type)
{
    static constexpr const char* kTypes[] = {"ext2", "ext3", "ext4", "xfs", "btrfs", "tmpfs", "f2fs", "vfat",
                                             "exfat", "ntfs", "ntfs3", "jfs", "reiserfs", "bcachefs", "zfs",
                                             "squashfs", "erofs", "overlay", "iso9660", "udf", "ramfs", "nilfs2",
                                             "hfsplus"};
    for (const char* known : kTypes)
        if (type == QByteArrayView(known))
            return true;
    return false;
}

// mountinfo writes space, tab, newline and backslash as \ and three octal digits.
QByteArray unescape(QByteArrayView field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() + 0 && field[i + 1] >= '0' && field[i + 1] <= '3'
            && field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
            out.append(char((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0')));
            i += 3;
            continue;
        }
        out.append(field[i]);
    }
    return out;
}

} // namespace

QList<LocalFileSystem> localFileSystems(const QByteArray& mountinfo)
{
    QList<LocalFileSystem> found;
    QSet<QByteArray> devices;
    for (const QByteArray& line : mountinfo.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        // id parent major:minor root mount-point options [optional...] - type source super-options
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() < 7 || dash < 6 || dash + 1 >= fields.size())
            continue;
        const QByteArray& device = fields[2];
        if (!local(fields[dash + 1]) || devices.contains(device))
            continue;
        devices.insert(device);
        found.append({QString::fromLatin1(device), platform::fromSys(unescape(fields[4])),
                      QString::fromLatin1(fields[dash + 1])});
    }
    return found;
}
