// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QtGlobal>

#include <algorithm>
#include <charconv>
#include <cstring>

namespace platform {

// "PID/leaf" relative to /proc, or "/proc/PID/leaf" when `absolute`, cut to
// fit `size`. Made for every process at every tick: a formatted print costs
// more than the system call it names.
inline void procName(char* out, std::size_t size, qint64 pid, const char* leaf, bool absolute)
{
    if (size == 0)
        return;
    char text[128];
    char* at = text;
    if (absolute) {
        std::memcpy(at, "/proc/", 6);
        at += 6;
    }
    at = std::to_chars(at, text + 32, pid).ptr;
    *at++ = '/';
    const std::size_t leafLength = ::strnlen(leaf, sizeof text - 40);
    std::memcpy(at, leaf, leafLength);
    at += leafLength;
    const std::size_t length = std::min(std::size_t(at - text), size - 1);
    std::memcpy(out, text, length);
    out[length] = '\0';
}

} // namespace platform
