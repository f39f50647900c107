// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the gate tests' stand-in guards share: a line on the output for the
// test to wait on, sent at once through the pipe.
#include <QString>
#include <cstdio>

namespace standin {

inline void print(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

} // namespace standin
