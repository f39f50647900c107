// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QByteArray>
#include <QString>
#include <utility>
#include <vector>

namespace platform {

// The system journal: one entry of structured fields at a time.
class Journal {
public:
    // NAME (upper-case ASCII) and its value.
    using Field = std::pair<QByteArray, QByteArray>;
    virtual ~Journal() = default;
    // False when no journal takes the entry (none runs), and `why` tells.
    virtual bool send(const std::vector<Field>& fields, QString* why) = 0;
};

} // namespace platform
