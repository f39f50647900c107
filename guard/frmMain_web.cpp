// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/frmMain.h"

#include "design/ImageButton.h"
#include "design/mdDesign.h"
#include "guard/WebLookup.h"
#include "store/mdSettings.h"
#include "store/mdFailures.h"

void frmMain::btnSearch_MouseUp()
{
    mdDesign::loadImage(app, btnSearch);
    mdFailures::guarded(app, "frmMain", "btnSearch_MouseUp", [&] {
        if (!WebLookup::allowed(app))
            return;
        WebLookup::open(app, WebLookup::url(app, {guard.dirSystem, guard.dirWindows}, WebLookup::Target{guard.appName, guard.appPath}));
    });
}
