// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the gate tests' stand-in guards share: a line on the output for the
// test to wait on, and each input line handed on to `command`.
#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <functional>
#include <unistd.h>

namespace standin {

inline void print(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// Runs the event loop; the input's end quits.
inline int run(const std::function<void(const QByteArray&)>& command)
{
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char line[256];
        const ssize_t n = ::read(STDIN_FILENO, line, sizeof line - 1);
        for (const QByteArray& each : QByteArray(line, std::max<ssize_t>(n, 0)).split('\n'))
            command(each);
        if (n <= 0)
            QCoreApplication::quit();
    });
    return QCoreApplication::exec();
}

} // namespace standin
