// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/Countdown.h"

Countdown::Countdown(std::function<qint64()> clock, QObject* parent) : QObject(parent), clock_(std::move(clock))
{
    // Often enough that the shown second is never late by much.
    timer_.setInterval(200);
    connect(&timer_, &QTimer::timeout, this, &Countdown::poll);
}

void Countdown::start(int seconds)
{
    stop();
    if (seconds <= 0)
        return;
    // Never 0, which means not running, even on a clock that starts at 0.
    end_ = std::max<qint64>(clock_() + qint64(seconds) * 1000, 1);
    shown_ = seconds;
    timer_.start();
    emit changed(shown_);
}

void Countdown::stop()
{
    end_ = 0;
    shown_ = 0;
    timer_.stop();
}

int Countdown::left() const
{
    if (!running())
        return 0;
    const qint64 ms = std::max<qint64>(end_ - clock_(), 0);
    return int((ms + 999) / 1000);
}

void Countdown::poll()
{
    if (!running())
        return;
    const int now = left();
    if (now == 0) {
        stop();
        emit expired();
        return;
    }
    if (now != shown_) {
        shown_ = now;
        emit changed(now);
    }
}
