// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/frmMain.h"

#include "guard/GateLink.h"
#include "guard/frmTrust.h"

void frmMain::attachGate(GateLink& link)
{
    gateLink = &link;
    connect(&link, &GateLink::denied, this, [this](const QString& name, const QString& path) {
        killNotices.ended(name, path, app.sys.desktop.clockMs(), true);
        tellKills();
    });
    // Raised now rather than at the next tick; an alert already up or a
    // paused guard leaves it to the tick.
    connect(&link, &GateLink::unknown, this, [this](const gatewire::Exec& exec) {
        if (!isVisible() && !trust && waitTicks == 0 && time.isActive())
            gateCandidate(exec);
    });
    connect(&link, &GateLink::held, this, &frmMain::gateHeld);
    connect(&link, &GateLink::shownGone, this, [this] {
        if (isVisible())
            HideMsg();
    });
}

void frmMain::gateCandidate(const gatewire::Exec& exec)
{
    appName = exec.name;
    appPid = exec.pid;
    appPath = exec.path;
    appPathState = platform::PathState::Read;
    appRecord = exec.record;
    appHashPending = false;
    appUnhashed = false;
    appModule = 0;
    appArgs.clear();
    appLaunch.reset();
    appParent = QString::number(app.sys.processes.parent(appPid));
    waitTicks = 0;
    ShowMsg();
}

void frmMain::gateHeld()
{
    // A paused guard holds nothing back.
    if (!time.isActive() && !isVisible()) {
        while (gateLink->showNext())
            gateLink->answer(true);
        return;
    }
    if (!isVisible() && !trust && waitTicks == 0 && gateLink->showNext())
        gateCandidate(*gateLink->shown());
}

bool frmMain::gateAnswer(bool allow)
{
    return gateLink && gateLink->answer(allow);
}
