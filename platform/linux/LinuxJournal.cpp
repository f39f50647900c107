// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/LinuxJournal.h"

#include <cstring>
#include <sys/uio.h>
#include <systemd/sd-journal.h>

namespace platform {

bool LinuxJournal::send(const std::vector<Field>& fields, QString* why)
{
    std::vector<QByteArray> lines;
    lines.reserve(fields.size());
    std::vector<iovec> parts;
    parts.reserve(fields.size());
    for (const auto& [name, value] : fields) {
        lines.push_back(name + '=' + value);
        parts.push_back({lines.back().data(), std::size_t(lines.back().size())});
    }
    const int result = sd_journal_sendv(parts.data(), int(parts.size()));
    if (result >= 0)
        return true;
    if (why)
        *why = QString::fromLocal8Bit(std::strerror(-result));
    return false;
}

} // namespace platform
