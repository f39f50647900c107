// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/Guard.h"
#include "guard/Events.h"

#include "platform/ArgQuote.h"
#include "platform/SysText.h"
#include "process/mdProcess.h"
#include "store/mdLists.h"
#include "store/mdSettings.h"
#include "store/mdFailures.h"

using namespace mdSettings;
using namespace mdLists;
using namespace mdFailures;

namespace {
// Starts a candidate again that the alert stopped, exactly as it was started.
// One whose arguments could not be read is not started at all: without them it
// would be another program.
void restart(Guard& guard)
{
    if (guard.appStopped && guard.appLaunch)
        guard.app.sys.shell.restart(guard.appPath, *guard.appLaunch);
}

// "can't deny" and why the candidate could not be ended.
QString cantDeny(const Guard& guard, platform::KillFailure why)
{
    const QString text = QStringLiteral("can't deny ") + guard.appName;
    switch (why) {
    case platform::KillFailure::Refused: return text + QStringLiteral(": it ") + guard.ownedBy();
    case platform::KillFailure::Gone: return text + QStringLiteral(": it has already ended");
    case platform::KillFailure::None: break;
    }
    return text;
}

// True when the candidate is gone; otherwise `note` says why not.
bool terminate(Guard& guard, QString& note)
{
    if (guard.appKilled)
        return true;
    auto why = platform::KillFailure::None;
    if (mdProcess::KillProcess(guard.app, guard.appPid, &why) != 0)
        return true;
    note = cantDeny(guard, why);
    return false;
}

// A record that no list file can hold is kept for the present period only.
bool keepable(Guard& guard, const QString& record, const QString& name, const QString& file)
{
    if (storable(record))
        return true;
    guard.tmpTicks = 0;
    guard.app.tell(QStringLiteral("Can't keep %1 in %2: %3; the decision holds for the present period.")
                       .arg(name.simplified(), file, unstorable(record)));
    return false;
}

// The handler each answer comes from, as the error log names it.
const char* handlerName(Guard::Decision decision)
{
    switch (decision) {
    case Guard::Decision::Allow: return "btnAllow_MouseUp";
    case Guard::Decision::AllowNow: return "btnAllowNow_MouseUp";
    case Guard::Decision::Deny: return "btnDeny_MouseUp";
    case Guard::Decision::DenyNow: return "btnDenyNow_MouseUp";
    case Guard::Decision::Delete: return "btnDelete_MouseUp";
    case Guard::Decision::Close: break;
    }
    return "btnClose_MouseUp";
}

// The answer as the journal names it.
const char* answerName(Guard::Decision decision)
{
    switch (decision) {
    case Guard::Decision::Allow: return "allow";
    case Guard::Decision::AllowNow: return "allow_now";
    case Guard::Decision::Deny: return "deny";
    case Guard::Decision::DenyNow: return "deny_now";
    case Guard::Decision::Delete: return "delete";
    case Guard::Decision::Close: break;
    }
    return "close";
}
} // namespace

QString Guard::ownedBy() const
{
    return QStringLiteral("belongs to %1: can be listed, not ended")
        .arg(appOwner.isEmpty() ? QStringLiteral("another user") : appOwner);
}

Guard::Guard(App& application, QObject* parent) : QObject(parent), app(application)
{
    connect(&time, &QTimer::timeout, this, &Guard::time_Timer);
    connect(&app.hashes, &HashCache::ready, this, &Guard::hashReady);
}

void Guard::takeArgs()
{
    appLaunch = mdProcess::TakeLaunch(app, appPid);
    QStringList args;
    for (const QByteArray& arg : appLaunch ? appLaunch->argv.mid(1) : QByteArrayList())
        args << platform::fromSys(arg);
    appArgs = platform::joinArgs(args);
}

void Guard::ShowMsg()
{
    const bool shown = guarded(app, "frmMain", "ShowMsg", [&] {
        // Read while it still runs: the alert may stop it next.
        appOwner = app.sys.processes.owner(appPid);
        // A held exec has not started: what runs is still its parent's program, and refusing it ends nothing.
        shownLaunch = appHeld ? std::nullopt : appLaunch ? appLaunch : mdProcess::TakeLaunch(app, appPid);
        appKilled = appStopped = !appHeld && !appPath.isEmpty() && isOn(app, QStringLiteral("safe_level"))
            && mdProcess::KillProcess(app, appPid) > 0;
        appKilled = appKilled || appHeld;
        alertUp = true;
    });
    if (shown)
        emit alertWanted();
}

void Guard::HideMsg()
{
    guarded(app, "frmMain", "HideMsg", [&] {
        gateAnswer(false);
        alertUp = false;
        emit alertHidden();
        deleteArmed = false;
        timerOn();
    });
    // The next program that waits is asked about now, not a tick later.
    showNext();
    // A held exec that waits its turn comes once no alert is up.
    if (gateLink)
        QTimer::singleShot(0, this, &Guard::gateHeld);
}

void Guard::dropAlert()
{
    // Without a decision a held exec starts: a paused guard holds nothing back.
    gateAnswer(true);
    queued.clear();
    emit queueChanged(0);
    alertUp = false;
    emit alertHidden();
    // The next held exec, once this alert is gone.
    if (gateLink)
        QTimer::singleShot(0, this, &Guard::gateHeld);
}

Guard::Outcome Guard::decide(Decision decision)
{
    Outcome outcome;
    // The gate lets a held exec run on Allow and Allow Now; any other answer refuses it.
    gateAnswer(decision == Decision::Allow || decision == Decision::AllowNow);
    if (decision == Decision::Close) {
        HideMsg();
        return outcome;
    }
    guarded(app, "frmMain", handlerName(decision), [&] {
        // Told to the journal before the decision acts, while the process still runs.
        if (decision != Decision::Delete || !deleteArmed)
            events::send(app, {.kind = events::Kind::Decision, .name = appName, .path = appPath, .record = appRecord,
                               .pid = appPid, .answer = QString::fromLatin1(answerName(decision))});
        const bool allow = decision == Decision::Allow || decision == Decision::AllowNow;
        const bool forGood = decision == Decision::Allow || decision == Decision::Deny;
        if (decision == Decision::Delete) {
            if (!deleteArmed) {
                outcome.note = QStringLiteral("confirm delete ") + appPath;
                deleteArmed = true;
                if (!appKilled) {
                    // Once ended here, a later Deny must not try again and fail;
                    // Allow does not start it again: the guard did not stop it.
                    auto why = platform::KillFailure::None;
                    if (mdProcess::KillProcess(app, appPid, &why) != 0)
                        appKilled = true;
                    else
                        outcome.note += QLatin1Char('\n') + cantDeny(*this, why);
                }
                app.denyTmp.add(appRecord);
                tmpTicks = 0;
                return;
            }
            deleteArmed = false;
            try {
                app.sys.files.remove(appPath);
            } catch (...) {
                // The next press tries again.
                outcome.note = QStringLiteral("can't delete ") + appName;
                deleteArmed = true;
                throw;
            }
            HideMsg();
            return;
        }
        const bool gone = allow || terminate(*this, outcome.note);
        // Denied but still running: the alert shows it, with what the administrator says of blocked programs.
        if (!gone && !blockNote().isEmpty())
            outcome.note += QLatin1Char('\n') + blockNote();
        if (allow)
            restart(*this);
        // The save rewrites the file from memory: what another program wrote comes in first.
        if (forGood)
            reloadChanged(app);
        (allow ? app.allowTmp : app.denyTmp).add(appRecord);
        if (appHashPending)
            heldKeeps.push_back({appPid, appName, appPath, allow, forGood});
        else if (forGood && keepable(*this, appRecord, appName, allow ? QStringLiteral("allow.csv") : QStringLiteral("deny.csv"))) {
            (allow ? app.allowList : app.denyList).add(appRecord);
            allow ? saveAllowList() : saveDenyList();
        }
        // The present period starts again now, for every decision taken in it.
        if (!forGood)
            tmpTicks = 0;
        if (gone)
            HideMsg();
    });
    return outcome;
}

void Guard::keepHeld()
{
    std::erase_if(heldKeeps, [this](const HeldKeep& held) {
        HashCache::State hash;
        const QString record = hashedRecord(held.pid, held.name, held.path, hash);
        if (hash == HashCache::State::Pending)
            return false;
        const QString file = held.allow ? QStringLiteral("allow.csv") : QStringLiteral("deny.csv");
        if (hash == HashCache::State::Failed) {
            if (held.forGood)
                app.tell(QStringLiteral("Can't keep %1 in %2: its file could not be read to hash it; the decision holds "
                                        "for the present period.").arg(held.name.simplified(), file));
            return true;
        }
        reloadChanged(app);
        // The record the next walk builds, so the present period knows it too.
        (held.allow ? app.allowTmp : app.denyTmp).add(record);
        if (held.forGood && keepable(*this, record, held.name, file)) {
            (held.allow ? app.allowList : app.denyList).add(record);
            held.allow ? saveAllowList() : saveDenyList();
        }
        return true;
    });
}

void Guard::saveAllowList()
{
    putList(app, app.allowList, QStringLiteral("allow.csv"), true);
}

void Guard::saveDenyList()
{
    putList(app, app.denyList, QStringLiteral("deny.csv"), true);
}
