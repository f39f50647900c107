// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/frmMain.h"

#include "guard/GateLink.h"
#include "design/ImageButton.h"
#include "design/mdDesign.h"
#include "platform/ArgQuote.h"
#include "platform/SysText.h"
#include "process/mdProcess.h"
#include "store/mdLists.h"
#include "store/mdSettings.h"
#include "widgets/KeyGate.h"

using namespace mdSettings;

namespace {
// Starts a candidate again that the alert stopped, exactly as it was started.
// One whose arguments could not be read is not started at all: without them it
// would be another program.
void restart(frmMain& main)
{
    main.gateAnswer(true);
    if (main.appStopped && main.appLaunch)
        main.app.sys.shell.restart(main.appPath, *main.appLaunch);
}

// "can't deny" and why the candidate could not be ended.
QString cantDeny(const frmMain& main, platform::KillFailure why)
{
    const QString text = QStringLiteral("can't deny ") + main.appName;
    switch (why) {
    case platform::KillFailure::Refused: return text + QStringLiteral(": it belongs to another user");
    case platform::KillFailure::Gone: return text + QStringLiteral(": it has already ended");
    case platform::KillFailure::None: break;
    }
    return text;
}

// The alert's keys wait for a quiet second, made once, with the alert.
KeyGate& keyGate(frmMain& main)
{
    if (auto* gate = main.findChild<KeyGate*>(QString(), Qt::FindDirectChildrenOnly))
        return *gate;
    return *new KeyGate(&main, [&main] { return main.app.sys.desktop.clockMs(); },
                        {main.btnAllow, main.btnAllowNow, main.btnDeny, main.btnDenyNow, main.btnDelete});
}

// True when the candidate is gone; otherwise says so in the details box.
bool terminate(frmMain& main)
{
    if (main.appKilled)
        return true;
    auto why = platform::KillFailure::None;
    if (mdProcess::KillProcess(main.app, main.appPid, &why) != 0)
        return true;
    main.txtPath->setPlainText(cantDeny(main, why));
    return false;
}

// A record that no list file can hold is kept for the present period only.
bool keepable(frmMain& main, const QString& record, const QString& name, const QString& file)
{
    if (storable(record))
        return true;
    main.tmpTicks = 0;
    main.app.tell(QStringLiteral("Can't keep %1 in %2: %3; the decision holds for the present period.")
                      .arg(name.simplified(), file, unstorable(record)));
    return false;
}
} // namespace

void frmMain::takeArgs()
{
    appLaunch = mdProcess::TakeLaunch(app, appPid);
    QStringList args;
    for (const QByteArray& arg : appLaunch ? appLaunch->argv.mid(1) : QByteArrayList())
        args << platform::fromSys(arg);
    appArgs = platform::joinArgs(args);
}

void frmMain::ShowMsg()
{
    guarded(app, "frmMain", "ShowMsg", [&] {
        // Read while it still runs: the alert may stop it next.
        const QString owner = app.sys.processes.owner(appPid);
        const auto launch = appLaunch ? appLaunch : mdProcess::TakeLaunch(app, appPid);
        // A held exec is not running yet: refusing it ends nothing.
        const bool held = gateLink && gateLink->shown();
        appKilled = appStopped = !held && !appPath.isEmpty() && isOn(app, QStringLiteral("safe_level"))
            && mdProcess::KillProcess(app, appPid) > 0;
        appKilled = appKilled || held;
        // Another candidate in an alert already up waits for the keys anew too.
        keyGate(*this).restart();
        show();
        // Tab starts from the first button; no button holds the focus the window gets.
        setFocus();
        mdDesign::frmBalloon(app, this);
        lblName->setText(lblName->fontMetrics().elidedText(appName, Qt::ElideRight, lblName->width()));
        lblName->setToolTip(appName);
        lblStopped->setText(held ? QStringLiteral("%1 waits to start").arg(appName)
                                 : QStringLiteral("stopped till you decide"));
        lblStopped->setVisible(appStopped || held);
        const double minutes = numSetting(app, QStringLiteral("tmp_interval"));
        const QString lasting = minutes > 0 ? QStringLiteral("for %1 min").arg(numText(minutes))
                                            : QStringLiteral("until the next check");
        btnAllowNow->setToolTip(QStringLiteral("Allows it %1, then asks again").arg(lasting));
        btnDenyNow->setToolTip(QStringLiteral("Ends it, and again whenever it starts, %1").arg(lasting));
        txtPath->setToolTip(detailsTip(owner, launch));

        const QString parent = mdProcess::TakeName(app, qint64(roundEven(toNumber(appParent))));
        QString details = parent.isEmpty() ? QString() : QStringLiteral("opened by: ") + parent;
        // Said before the decision: Allow and Deny of this one last the present period only.
        const QString unkept = storable(appRecord) ? QString()
            : QStringLiteral("\ncan't be kept in a list (%1): Allow and Deny hold for the present period")
                  .arg(unstorable(appRecord));
        txtPath->setPlainText(details + unkept);
        if (appPath.isEmpty()) {
            btnDelete->hide();
            btnFindPath->show();
            return;
        }
        details += (details.isEmpty() ? QStringLiteral("path: ") : QStringLiteral("; path: ")) + appPath;
        txtPath->setPlainText(details + unkept);
        if (fileExists(app, appPath)) {
            details += QStringLiteral("; date: ")
                + app.sys.files.modified(appPath).toLocalTime().toString(QStringLiteral("yyyy.MM.dd H:mm"))
                + QStringLiteral("; size: ") + fSize(app.sys.files.size(appPath));
            txtPath->setPlainText(details + unkept);
        }
        btnDelete->show();
        btnFindPath->hide();
    });
}

void frmMain::HideMsg()
{
    guarded(app, "frmMain", "HideMsg", [&] {
        hide();
        gateAnswer(false);
        deleteArmed = false;
        findNotes.clear();
        timerOn();
        // The next held exec, once this alert is gone.
        if (gateLink)
            QTimer::singleShot(0, this, &frmMain::gateHeld);
    });
}

void frmMain::btnAllow_MouseUp()
{
    mdDesign::loadImage(app, btnAllow);
    guarded(app, "frmMain", "btnAllow_MouseUp", [&] {
        restart(*this);
        // The save rewrites the file from memory: what another program wrote comes in first.
        reloadChanged(app);
        app.allowTmp.add(appRecord);
        if (appHashPending)
            heldKeeps.push_back({appPid, appName, appPath, true});
        else if (keepable(*this, appRecord, appName, QStringLiteral("allow.csv"))) {
            app.allowList.add(appRecord);
            saveAllowList();
        }
        HideMsg();
    });
}

void frmMain::keepHeld()
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

void frmMain::btnAllowNow_MouseUp()
{
    mdDesign::loadImage(app, btnAllowNow);
    guarded(app, "frmMain", "btnAllowNow_MouseUp", [&] {
        restart(*this);
        app.allowTmp.add(appRecord);
        if (appHashPending)
            heldKeeps.push_back({appPid, appName, appPath, true, false});
        // The present period starts again now, for every decision taken in it.
        tmpTicks = 0;
        HideMsg();
    });
}

void frmMain::btnDeny_MouseUp()
{
    mdDesign::loadImage(app, btnDeny);
    guarded(app, "frmMain", "btnDeny_MouseUp", [&] {
        const bool gone = terminate(*this);
        reloadChanged(app);
        app.denyTmp.add(appRecord);
        if (appHashPending)
            heldKeeps.push_back({appPid, appName, appPath, false});
        else if (keepable(*this, appRecord, appName, QStringLiteral("deny.csv"))) {
            app.denyList.add(appRecord);
            saveDenyList();
        }
        if (gone)
            HideMsg();
    });
}

void frmMain::btnDenyNow_MouseUp()
{
    mdDesign::loadImage(app, btnDenyNow);
    guarded(app, "frmMain", "btnDenyNow_MouseUp", [&] {
        const bool gone = terminate(*this);
        app.denyTmp.add(appRecord);
        if (appHashPending)
            heldKeeps.push_back({appPid, appName, appPath, false, false});
        tmpTicks = 0;
        if (gone)
            HideMsg();
    });
}

void frmMain::btnDelete_MouseUp()
{
    mdDesign::loadImage(app, btnDelete);
    guarded(app, "frmMain", "btnDelete_MouseUp", [&] {
        if (!deleteArmed) {
            txtPath->setPlainText(QStringLiteral("confirm delete ") + appPath);
            deleteArmed = true;
            if (!appKilled) {
                // Once ended here, a later Deny must not try again and fail;
                // Allow does not start it again: the guard did not stop it.
                auto why = platform::KillFailure::None;
                if (mdProcess::KillProcess(app, appPid, &why) != 0)
                    appKilled = true;
                else
                    txtPath->setPlainText(txtPath->toPlainText() + QLatin1Char('\n') + cantDeny(*this, why));
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
            txtPath->setPlainText(QStringLiteral("can't delete ") + appName);
            deleteArmed = true;
            throw;
        }
        HideMsg();
    });
}

void frmMain::btnClose_MouseUp()
{
    mdDesign::loadImage(app, btnClose);
    HideMsg();
}

QString frmMain::detailsTip(const QString& owner, const std::optional<platform::Launch>& launch)
{
    QStringList lines{QStringLiteral("process id: ") + QString::number(appPid)};
    if (!owner.isEmpty())
        lines << QStringLiteral("user: ") + owner;
    if (launch) {
        QStringList argv;
        for (const QByteArray& arg : launch->argv)
            argv << platform::fromSys(arg);
        lines << QStringLiteral("command line: ") + platform::joinArgs(argv);
        if (!launch->folder.isEmpty())
            lines << QStringLiteral("working folder: ") + platform::fromSys(launch->folder);
    }
    const qint64 parent = qint64(roundEven(toNumber(appParent)));
    if (parent > 0) {
        QString path = app.sys.processes.exePath(parent);
        lines << QStringLiteral("parent: %1 %2").arg(parent).arg(path.isEmpty() ? mdProcess::TakeName(app, parent) : path);
    }
    if (const QString hash = hashDetails(); !hash.isEmpty())
        lines << hash;
    // Rich text, so a line wider than the screen wraps.
    for (QString& line : lines)
        line = line.toHtmlEscaped();
    return QStringLiteral("<p style='white-space:pre-wrap'>") + lines.join(QStringLiteral("<br>")) + QStringLiteral("</p>");
}

void frmMain::saveAllowList()
{
    putList(app, app.allowList, QStringLiteral("allow.csv"), true);
}

void frmMain::saveDenyList()
{
    putList(app, app.denyList, QStringLiteral("deny.csv"), true);
}
