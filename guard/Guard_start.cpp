// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/Guard.h"
#include "guard/Events.h"

#include "process/mdProcess.h"
#include "store/mdLists.h"
#include "store/mdSettings.h"
#include "store/mdNumbers.h"
#include "store/mdFailures.h"

#include <algorithm>

using namespace mdSettings;
using namespace mdLists;
using namespace mdFailures;
using namespace mdNumbers;

void Guard::timerOn()
{
    // A Qt timer of interval 0 would fire at every idle moment; here it never ticks.
    if (time.interval() > 0)
        time.start();
}

Guard::Start Guard::Form_Load()
{
    app.sys.program.hideFromTaskList();
    if (!app.sys.program.takeInstanceLock())
        return Start::SecondCopy;   // end at once, touching nothing
    // Only the copy that holds the lock may take them: another one's save may be under way.
    removeLeftovers(app);
    dropAlert();
    // What the libraries start for this program up to here (main adopts
    // from its first line) stays its own; what the user starts through it
    // later (a restart, a web page) must not.
    if (loadTray)
        loadTray();
    app.sys.processes.adoptOrphans(false);
    if (loadSkin)
        loadSkin();
    if (!getSettings(app))
        return Start::NoSettings;
    reloadPolicy(app);
    guarded(app, "frmMain", "Form_Load", [&] {
        dirWindows = app.sys.env.windowsDirectory();
        dirSystem = app.sys.env.systemDirectory();
        const bool firstStart = !app.sys.files.exists(app.file(QStringLiteral("allow.csv")));
        getList(app, app.allowList, QStringLiteral("allow.csv"));
        getList(app, app.denyList, QStringLiteral("deny.csv"));
        getList(app, app.seenList, QStringLiteral("seen.csv"));
        if (firstStart)
            emit trustWanted();
        waitTicks = 0;
        deleteArmed = false;
        app.seenPending = true;
        applySettings(true);
        timerOn();
        if (time.isActive())
            events::send(app, {.kind = events::Kind::GuardStart});
    });
    if (!time.isActive())
        emit notGuarding();
    else
        emit guarding();
    return Start::Running;
}

bool Guard::applySettings(bool atStart)
{
    // What the settings window would refuse is refused here too, by name.
    if (const QString why = refusedSetting(app); !why.isEmpty())
        fail(QStringLiteral("settings.ini: ") + why);
    const bool entry = mdProcess::startupApp(app, isOn(app, QStringLiteral("startup_load")));
    const bool top = isOn(app, QStringLiteral("always_top"));
    if (top != alwaysTop) {
        alwaysTop = top;
        emit alwaysTopChanged(top);
    }
    setSetting(app, QStringLiteral("path_search"), numText(numSetting(app, QStringLiteral("path_search")) * 1000));

    if (numSetting(app, QStringLiteral("check_interval")) <= 0)
        setSetting(app, QStringLiteral("check_interval"), numText(0.1));
    const double interval = numSetting(app, QStringLiteral("check_interval"));
    const double counted = time.interval() / 1000.0 * tmpTicks;
    // An active timer restarts with the new interval; a stopped one stays stopped.
    time.setInterval(timerMs(interval));
    const double period = numSetting(app, QStringLiteral("tmp_interval")) * 60;
    // Start-up counts a whole period, so the first tick builds the working
    // lists; a change keeps the time already counted in the present period.
    tmpTicks = ticksFor(atStart ? period : std::min(period, counted), interval);
    return entry;
}
