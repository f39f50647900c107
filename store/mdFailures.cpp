// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/mdFailures.h"

namespace mdFailures {

void fail(const QString& description)
{
    throw std::runtime_error(platform::toSys(description).toStdString());
}

} // namespace mdFailures
