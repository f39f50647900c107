// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/Guard.h"

#include "guard/Events.h"
#include "guard/GateLink.h"
#include "store/mdSettings.h"

namespace {
// The decision alert_default names, as its button would take it.
Guard::Decision byDefault(const App& app)
{
    const QString name = mdSettings::alertDefault(app);
    if (name == QLatin1String("allow_now"))
        return Guard::Decision::AllowNow;
    if (name == QLatin1String("deny_now"))
        return Guard::Decision::DenyNow;
    return Guard::Decision::Close;
}

// No alert is up or in the way of one.
bool alertFree(const Guard& guard)
{
    return !guard.alertUp && !guard.asking && guard.waitTicks == 0 && guard.time.isActive();
}
} // namespace

void Guard::attachGate(GateLink& link)
{
    gateLink = &link;
    connect(&link, &GateLink::denied, this, [this](const gatewire::Exec& exec) {
        // The administrator's record, when one refused it, else the user's list.
        const Policy::Decision fixed = app.policy.fixedVerdict(exec.record, QString());
        const QString rule = fixed.verdict == Policy::Verdict::Deny ? fixed.rule : QStringLiteral("deny.csv");
        killNotices.ended(exec.name, exec.path, app.sys.desktop.clockMs(), {}, true);
        events::send(app, {.kind = events::Kind::Ended, .name = exec.name, .path = exec.path, .record = exec.record,
                           .pid = exec.pid, .rule = rule});
        tellKills();
    });
    // Raised now rather than at the next tick; a busy alert leaves it to the tick.
    connect(&link, &GateLink::unknown, this, [this](const gatewire::Exec& exec) {
        if (alertFree(*this))
            gateCandidate(exec, false);
    });
    connect(&link, &GateLink::held, this, &Guard::gateHeld);
    // Answered at gate_hold before its turn: alert_default, as a press would take it.
    connect(&link, &GateLink::waitingTimedOut, this, [this](const gatewire::Exec& exec) {
        const Decision decision = byDefault(app);
        if (decision == Decision::Close)
            return;
        const bool allow = decision == Decision::AllowNow;
        events::send(app, {.kind = events::Kind::Decision, .name = exec.name, .path = exec.path, .record = exec.record,
                           .pid = exec.pid, .answer = allow ? QStringLiteral("allow_now") : QStringLiteral("deny_now")});
        (allow ? app.allowTmp : app.denyTmp).add(exec.record);
        // The present period starts again now, as for a press.
        tmpTicks = 0;
    });
    connect(&link, &GateLink::shownGone, this, [this](bool timedOut) {
        if (!alertUp)
            return;
        appHeld = false;
        // At gate_hold the gate took alert_default: the guard takes it too.
        if (timedOut)
            decide(byDefault(app));
        else
            HideMsg();
    });
}

void Guard::gateCandidate(const gatewire::Exec& exec, bool held)
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
    appHeld = held;
    ShowMsg();
}

void Guard::gateHeld()
{
    if (!gateLink || alertUp)
        return;
    // A paused guard holds nothing back.
    if (!time.isActive()) {
        while (gateLink->showNext())
            gateLink->answer(true);
        return;
    }
    if (alertFree(*this) && gateLink->showNext())
        gateCandidate(*gateLink->shown(), true);
}

bool Guard::gateAnswer(bool allow)
{
    if (!appHeld)
        return false;
    appHeld = false;
    return gateLink && gateLink->answer(allow);
}

void Guard::timerOff()
{
    time.stop();
    // Paused, the guard leaves the gate: it lets this user's execs through.
    if (gateLink)
        gateLink->disconnectGate();
}
