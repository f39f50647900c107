// Stand-in until the skin lands.
#include "design/mdDesign.h"

namespace mdDesign {
void loadImage(App&, QWidget*) {}
void loadImageP(App&, QWidget*) {}
void frmSkin(App&, QWidget*) {}
void FormDrag(App&, QWidget*) {}
void frmBalloon(App&, QWidget*) {}
} // namespace mdDesign
