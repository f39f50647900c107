// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

// The file systems that hold programs on this machine's own disks and in its
// memory, from the text of /proc/self/mountinfo: one mount of each.
struct LocalFileSystem {
    QString device;   // "major:minor"
    QString path;     // where one of its mounts is
    QString type;
};
QList<LocalFileSystem> localFileSystems(const QByteArray& mountinfo);
