// Stand-in until the path search lands.
#include "guard/frmMain.h"

void frmMain::btnFindPath_MouseUp() {}
QString frmMain::trgSearch(const QString&) { return QString(); }
QString frmMain::DirSearch(const QString&, const QString&, const QString&) { return QString(); }
