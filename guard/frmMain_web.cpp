// Stand-in until the web lookup lands.
#include "guard/frmMain.h"

void frmMain::btnSearch_MouseUp() {}
