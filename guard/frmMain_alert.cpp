// Stand-in until the alert lands.
#include "guard/frmMain.h"

void frmMain::ShowMsg() { timerOff(); }
void frmMain::HideMsg() { timerOn(); }
void frmMain::btnAllow_MouseUp() {}
void frmMain::btnAllowNow_MouseUp() {}
void frmMain::btnDeny_MouseUp() {}
void frmMain::btnDenyNow_MouseUp() {}
void frmMain::btnDelete_MouseUp() {}
void frmMain::btnClose_MouseUp() {}
void frmMain::saveAllowList() {}
void frmMain::saveDenyList() {}
