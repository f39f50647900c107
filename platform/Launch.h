// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QByteArrayList>
#include <optional>

namespace platform {

// How a process was started, byte for byte as the system holds it.
struct Launch {
    QByteArrayList argv;                  // argv[0] included
    QByteArray folder;                    // the working folder; empty when not known
    std::optional<QByteArrayList> env;    // "NAME=value" entries; none when not known
    bool operator==(const Launch&) const = default;
};

} // namespace platform
