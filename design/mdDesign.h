#pragma once
#include "store/App.h"

#include <QPoint>
#include <QRect>
#include <QSize>

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
// Moves the window to the bottom-right corner of the screen's available area.
void frmBalloon(App& app, QWidget* window);
} // namespace mdDesign
