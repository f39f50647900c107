#pragma once
#include <QLabel>
#include <QMouseEvent>

// A skin picture that acts as a button: any mouse button's press and release
// are reported, the release only when the press began on it.
class ImageButton : public QLabel {
    Q_OBJECT
public:
    ImageButton(const QString& name, QWidget* parent) : QLabel(parent)
    {
        setObjectName(name);
        setCursor(Qt::PointingHandCursor);
    }

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

private:
    bool held_ = false;
};
