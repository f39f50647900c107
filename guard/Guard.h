// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "guard/KillNotices.h"
#include "store/App.h"

#include <QObject>
#include <QTimer>
#include <functional>
#include <optional>
#include <vector>

// The guard without its windows: start-up, the scan, the candidate the alert
// asks about and the decisions on it. The windows show what it signals and
// hand it the user's answers.
class GateLink;
namespace gatewire {
struct Exec;
}

class Guard : public QObject {
    Q_OBJECT
public:
    explicit Guard(App& app, QObject* parent = nullptr);

    App& app;

    // Start-up (Guard_start.cpp).
    enum class Start { Running, SecondCopy, NoSettings };
    Start Form_Load();
    // Called at start-up step 4 to load the tray window; empty in tests.
    std::function<void()> loadTray;
    // Called before the settings are read, to dress the windows in the skin.
    std::function<void()> loadSkin;
    // The scan timer on and off; an interval of 0 never ticks.
    void timerOn();
    void timerOff();
    // Puts the settings as the file has them into effect: the start-up
    // entry, the topmost flag, path_search in milliseconds, the timer's
    // interval and the period counter. A running timer goes on and a stopped
    // one stays stopped. Throws at the first bad value. False when the
    // start-up entry could not be made as startup_load says (logged).
    bool applySettings(bool atStart = false);
    bool alwaysTop = false;
    // While the first start's question is open the scan raises no alert.
    bool asking = false;

    // Scan (Guard.cpp).
    void time_Timer();
    // Tells the notice of the programs ended, when one is due.
    void tellKills();
    KillNotices killNotices;
    void TakeProcesses();
    QString strProcess(const QString& name, const QString& path);
    // The record of process `pid`, with `hash` telling whether a level-4 hash is in it.
    QString hashedRecord(qint64 pid, const QString& name, const QString& path, HashCache::State& hash);
    QString fSize(qint64 bytes);
    // True for this program's own process, by its path.
    bool isSelf(const QString& name, const QString& path, platform::PathState state);
    // A hash the candidate waited for is known: the lists decide on it now.
    void hashReady();
    // The details line of the candidate's hash; empty when its record has none.
    QString hashDetails() const;
    // The administrator's block_message and block_url about the candidate,
    // filled in; empty text when policy.ini sets neither.
    QString blockNote() const;

    // The alert's candidate (Guard_decide.cpp).
    // Reads how the candidate was started, and its arguments text from that.
    void takeArgs();
    // The alert comes up: under safe_level 1 the candidate stops till the user decides.
    void ShowMsg();
    void HideMsg();
    // The alert goes without a decision, as when guarding is switched off.
    void dropAlert();
    bool alertUp = false;
    // Other unknown programs met while the alert asks, in the order met, one
    // a record; each is looked at again before its turn.
    struct Queued {
        qint64 pid;
        QString record;
    };
    std::vector<Queued> queued;
    // The first of them that still runs unknown becomes the candidate.
    void showNext();
    enum class Decision { Allow, AllowNow, Deny, DenyNow, Delete, Close };
    // Carries out the user's answer about the candidate; `note` is what the
    // details box says after it, empty when the alert hides.
    struct Outcome {
        QString note;
    };
    Outcome decide(Decision decision);
    // Said of another user's program, which this user may list but not end.
    QString ownedBy() const;
    void saveAllowList();
    void saveDenyList();
    // Allow or Deny, for good or for now, pressed before the candidate's
    // hash was known: the record with its hash goes to the list, or to the
    // present period's, once the hash is known.
    struct HeldKeep {
        qint64 pid;
        QString name, path;
        bool allow;
        bool forGood = true;   // else for the present period only
    };
    std::vector<HeldKeep> heldKeeps;
    void keepHeld();

    // The exec gate (Guard_gate.cpp): the link, when there is one (attached
    // before Form_Load; the first tick connects it), and what the alert does
    // with the execs it tells of.
    GateLink* gateLink = nullptr;
    void attachGate(GateLink& link);
    // The alert about an exec the gate told of: one let through, or one held.
    void gateCandidate(const gatewire::Exec& exec, bool held);
    // The next held exec to the alert, when it is free.
    void gateHeld();
    // Answers the held exec the alert shows; false when it shows none.
    bool gateAnswer(bool allow);
    bool appHeld = false;   // the candidate is an exec the gate holds: it has not started

    // The scan timer.
    QTimer time;

    // Directories noted at start-up.
    QString dirWindows;
    QString dirSystem;

    // Period and wait counters.
    int tmpTicks = 0;
    int waitTicks = 0;

    // The process under examination and the alert's candidate.
    QString appName;
    QString appParent;
    qint64 appPid = 0;
    qint64 appModule = 0;
    QString appPath;
    platform::PathState appPathState = platform::PathState::Read;   // why appPath is empty
    QString appRecord;
    bool appHashPending = false;   // list_level 4: its hash is not known yet
    bool appUnhashed = false;      // list_level 4: what runs could not be hashed, so no record knows it
    QString appArgs;                          // quoted as a shell needs them
    std::optional<platform::Launch> appLaunch;   // none: not read (safe_level 0) or unreadable
    // Read as the alert came up, while the candidate still ran.
    QString appOwner;
    std::optional<platform::Launch> shownLaunch;
    bool appKilled = false;    // ended here, by the alert or by Delete
    bool appStopped = false;   // ended by the alert itself under safe_level 1: Allow starts it again
    bool deleteArmed = false;

signals:
    // The first start: the user is asked whether to trust what runs now.
    void trustWanted();
    // Start-up ended with the scan timer off: nothing is guarded.
    void notGuarding();
    // Start-up ended with the scan timer on, the settings read.
    void guarding();
    // The candidate is set and the alert shows it.
    void alertWanted();
    void alertHidden();
    // How many more programs wait behind the alert's.
    void queueChanged(int count);
    void alwaysTopChanged(bool top);
};
