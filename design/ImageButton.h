// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QAbstractButton>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

// A skin picture that acts as a button: any mouse button's press and release
// are reported, the release only when the press began on it. Tab reaches it;
// Space or Enter presses it only once the user has moved the focus to it with
// Tab in the window's present showing, so a focus the window gets on its own
// never decides anything. Being a real button, assistive technology reads its
// caption and tooltip and presses it through click().
class ImageButton : public QAbstractButton {
    Q_OBJECT
public:
    // The focus frame, in the skin's accent colour.
    static inline const QColor frameColour{0, 220, 240};

    ImageButton(const QString& name, QWidget* parent) : QAbstractButton(parent)
    {
        setObjectName(name);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        // The mouse and the keys report through their own events; click() comes from elsewhere.
        connect(this, &QAbstractButton::clicked, this, [this] {
            emit mouseDown();
            emit mouseUp();
        });
    }
    // True while it has the focus from Tab: Space and Enter press it.
    bool keyReady() const { return hasFocus() && tabbed_; }
    QPixmap pixmap() const { return pixmap_; }
    void setPixmap(const QPixmap& picture)
    {
        pixmap_ = picture;
        update();
    }
    QSize sizeHint() const override { return pixmap_.isNull() ? size() : pixmap_.size(); }

signals:
    void mouseDown();
    void mouseUp();

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        event->accept();
        held_ = true;
        emit mouseDown();
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        event->accept();
        if (!held_ || event->buttons() != Qt::NoButton)
            return;   // act once, when the last held button comes up
        held_ = false;
        emit mouseUp();
    }
    void mouseMoveEvent(QMouseEvent* event) override { event->accept(); }
    void keyPressEvent(QKeyEvent* event) override
    {
        const int key = event->key();
        if (!keyReady() || event->isAutoRepeat() || (event->modifiers() | Qt::KeypadModifier) != Qt::KeypadModifier
            || (key != Qt::Key_Space && key != Qt::Key_Return && key != Qt::Key_Enter)) {
            // Tab and the arrows move the focus as on any widget; nothing else presses it.
            QWidget::keyPressEvent(event);
            return;
        }
        event->accept();
        emit mouseDown();
        emit mouseUp();
    }
    void keyReleaseEvent(QKeyEvent* event) override { QWidget::keyReleaseEvent(event); }
    void focusInEvent(QFocusEvent* event) override
    {
        // Coming back to an active window keeps what Tab gave.
        const Qt::FocusReason why = event->reason();
        tabbed_ = why == Qt::TabFocusReason || why == Qt::BacktabFocusReason
            || (tabbed_ && (why == Qt::ActiveWindowFocusReason || why == Qt::PopupFocusReason));
        QAbstractButton::focusInEvent(event);
        update();
    }
    void focusOutEvent(QFocusEvent* event) override
    {
        if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason)
            tabbed_ = false;
        QAbstractButton::focusOutEvent(event);
        update();
    }
    void hideEvent(QHideEvent* event) override
    {
        tabbed_ = false;   // a window shown again starts without a key-ready button
        QAbstractButton::hideEvent(event);
    }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        if (!pixmap_.isNull())
            painter.drawPixmap(0, 0, pixmap_);
        if (!keyReady())
            return;
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(frameColour, 2));
        painter.drawRoundedRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), 4, 4);
    }

private:
    QPixmap pixmap_;
    bool held_ = false;
    bool tabbed_ = false;
};
