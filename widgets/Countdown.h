// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QObject>
#include <QTimer>
#include <functional>

// Seconds left until a default is taken. It reads the time from `clock`
// (milliseconds that only go forward), so only poll() needs calling to move it
// on; a timer calls it while it runs.
class Countdown : public QObject {
    Q_OBJECT
public:
    Countdown(std::function<qint64()> clock, QObject* parent = nullptr);

    // Counts `seconds` from now; 0 or less counts nothing.
    void start(int seconds);
    void stop();
    bool running() const { return end_ > 0; }
    // Whole seconds left, rounded up; 0 when not running.
    int left() const;
    // Tells a changed number of seconds, and the end once the time is up.
    void poll();

signals:
    void changed(int seconds);
    void expired();

private:
    std::function<qint64()> clock_;
    qint64 end_ = 0;
    int shown_ = 0;
    QTimer timer_;
};
