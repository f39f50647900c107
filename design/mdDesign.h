// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "design/ImageButton.h"
#include "store/App.h"

#include <QColor>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <functional>

class QPlainTextEdit;
class QWidget;

// Skin, dragging and placement of the program's windows.
namespace mdDesign {
// Shows skin/images/<objectName>.jpg on a window (background) or an image
// button, when the file exists.
void loadImage(App& app, QWidget* object);
// The same with <objectName>_p.jpg.
void loadImageP(App& app, QWidget* object);
// Background, button images and the layout lines of skin/data.csv.
void frmSkin(App& app, QWidget* window);
// Starts moving the window with the mouse.
void FormDrag(App& app, QWidget* window);
// What every skinned window shares: the skin's background behind white
// labels, followed by `style`; a press of the mouse on the window (not on a
// control that takes it) drags it; Escape without a modifier runs `escape`,
// when given.
void skinWindow(App& app, QWidget* window, const QString& style, std::function<void()> escape = {});
// Moves the window to the bottom-right corner of the screen's available area,
// or beside the tray icon when that area does not leave the icon out.
void frmBalloon(App& app, QWidget* window);

// Object name of the label that shows a window's background image.
inline constexpr const char* kBackgroundName = "skinBackground";

// Top-left corner, in pixels, of a window in the bottom-right corner of the
// available area; a window larger than the area keeps its top-left corner
// inside it, so it can still be dragged. Throws on overflow or an empty area.
QPoint availablePlace(QRect available, QSize window);

// Top-left corner of a window beside the tray icon's rectangle, on the side
// away from the screen edge nearest to the icon, kept inside the screen as far
// as it fits. Throws on overflow or an empty screen.
QPoint trayPlace(QRect screen, QRect tray, QSize window);

// The skin's colour behind everything, and its panel colour, under lists and scroll bars.
inline const QColor kSkinBack{24, 32, 84};
inline const QColor kSkinPanel{38, 38, 119};

// A thin vertical scroll bar in the skin's colours, as a style sheet.
QString scrollBarStyle();

// A read-only text box drawn on the skin: no frame, a vertical scroll bar in
// the skin's colours when its text needs one, a small font so a few lines fit
// its design height.
void textBox(QPlainTextEdit* box, const QRect& place);

// An image button on `window` at its design place: a press shows the pressed
// image; a release runs `onUp`, which shows the normal image before it acts.
// `caption` is what the picture says, read out by assistive technology.
template <class Window>
ImageButton* imageButton(App& app, Window* window, const char* name, const QRect& place, void (Window::*onUp)(),
                         const QString& caption = QString())
{
    auto* button = new ImageButton(QString::fromLatin1(name), window);
    button->setGeometry(place);
    button->setText(caption);
    QObject::connect(button, &ImageButton::mouseDown, window, [&app, button] { loadImageP(app, button); });
    QObject::connect(button, &ImageButton::mouseUp, window, onUp);
    return button;
}
} // namespace mdDesign
