// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/KeyGate.h"

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QWidget>

KeyGate::KeyGate(QWidget* window, std::function<qint64()> clock, const QList<QWidget*>& buttons)
    : QObject(window), window_(window), clock_(std::move(clock))
{
    for (QWidget* button : buttons) {
        buttons_ << button;
        auto* dim = new QGraphicsOpacityEffect(button);
        dim->setOpacity(0.4);
        button->setGraphicsEffect(dim);
    }
    look_.setInterval(100);
    connect(&look_, &QTimer::timeout, this, &KeyGate::showReady);
    // On the application: a key goes to whichever child holds the focus.
    qApp->installEventFilter(this);
    restart();
}

KeyGate::~KeyGate()
{
    qApp->removeEventFilter(this);
}

bool KeyGate::ready() const
{
    return clicked_ || clock_() - since_ >= kQuietMs;
}

void KeyGate::restart()
{
    since_ = clock_();
    clicked_ = false;
    showReady();
}

void KeyGate::showReady()
{
    const bool on = ready();
    for (QWidget* button : buttons_)
        if (button && button->graphicsEffect())
            button->graphicsEffect()->setEnabled(!on);
    if (on)
        look_.stop();
    else if (!look_.isActive())
        look_.start();
}

bool KeyGate::eventFilter(QObject* watched, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != window_)
        return false;
    switch (event->type()) {
    case QEvent::Show:
        if (widget == window_)
            restart();
        break;
    case QEvent::WindowActivate:   // the focus comes anew; a click that brought it still counts
        if (widget == window_)
            since_ = clock_();
        showReady();
        break;
    case QEvent::WindowDeactivate:
        if (widget == window_)
            clicked_ = false;
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        clicked_ = true;
        showReady();
        emit counted();
        break;
    case QEvent::ShortcutOverride:   // taken, so no shortcut or mnemonic fires either
    case QEvent::KeyPress:
        if (ready()) {
            showReady();
            if (event->type() == QEvent::KeyPress)
                emit counted();
            break;
        }
        since_ = clock_();
        showReady();
        event->accept();
        return true;
    default: break;
    }
    return false;
}
