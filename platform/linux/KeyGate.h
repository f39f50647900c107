// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>

class QWidget;

// Keys typed for another window must not decide in this one: a compositor
// that hands a new window the focus sends it what the user was typing. Keys
// count only once the window has held the focus for a quiet second, or after
// a click into it; a key before that does nothing and restarts the wait.
// Meanwhile the decision buttons look dimmed. The mouse is never held back.
class KeyGate : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kQuietMs = 1000;

    // `clock` gives milliseconds that only go forward.
    KeyGate(QWidget* window, std::function<qint64()> clock, const QList<QWidget*>& buttons);
    ~KeyGate() override;

    bool ready() const;
    // The window shows something new: keys wait again, even after a click.
    void restart();

signals:
    // A click into the window, or a key that counts: the user is there.
    void counted();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showReady();

    QWidget* window_;
    std::function<qint64()> clock_;
    QList<QPointer<QWidget>> buttons_;
    qint64 since_ = 0;
    bool clicked_ = false;
    QTimer look_;   // undims the buttons once the second has passed
};
