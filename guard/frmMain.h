// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "guard/KillNotices.h"
#include "store/App.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

class GateLink;
class ImageButton;
class frmTrust;
namespace gatewire {
struct Exec;
}

// The start-up object, the scan and the new-application alert.
class frmMain : public QWidget {
    Q_OBJECT
public:
    explicit frmMain(App& app, QWidget* parent = nullptr);
    ~frmMain() override;

    App& app;

    // Start-up (frmMain.cpp).
    enum class Start { Running, SecondCopy, NoSettings };
    Start Form_Load();
    // The scan timer on and off; an interval of 0 never ticks.
    void timerOn();
    void timerOff() { time.stop(); }
    // Puts the settings as the file has them into effect: the start-up
    // entry, the topmost flag, path_search in milliseconds, the timer's
    // interval and the period counter. A running timer goes on and a stopped
    // one stays stopped. Throws at the first bad value. False when the
    // start-up entry could not be made as startup_load says (logged).
    bool applySettings(bool atStart = false);
    // Called at start-up step 4 to load the tray window; empty in tests.
    std::function<void()> loadTray;
    // First start (frmTrust.cpp): asks whether to trust the programs that
    // run now. While it asks, the scan raises no alert.
    void offerTrust();
    QPointer<frmTrust> trust;

    // Scan (frmMain_scan.cpp).
    void time_Timer();
    // Shows the notice of the programs ended, when one is due.
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

    // Alert (frmMain_alert.cpp).
    // Reads how the candidate was started, and its arguments text from that.
    void takeArgs();
    void ShowMsg();
    void HideMsg();
    void btnAllow_MouseUp();
    void btnAllowNow_MouseUp();
    void btnDeny_MouseUp();
    void btnDenyNow_MouseUp();
    void btnDelete_MouseUp();
    void btnClose_MouseUp();
    // The details box's tooltip: who runs the candidate, how, and from where.
    QString detailsTip(const QString& owner, const std::optional<platform::Launch>& launch);
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

    // Path search (frmMain_search.cpp).
    void btnFindPath_MouseUp();
    QString trgSearch(const QString& name);
    QString DirSearch(const QString& root, const QString& name, const QString& rootList);

    // Exec gate (frmMain_gate.cpp): the link, when there is one (attached
    // before Form_Load; the first tick connects it), and what the alert does
    // with the execs it tells of.
    GateLink* gateLink = nullptr;
    void attachGate(GateLink& link);
    // The alert about an exec the gate told of: one let through, or one held.
    void gateCandidate(const gatewire::Exec& exec);
    void gateHeld();
    // True when the alert shows a held exec, now answered.
    bool gateAnswer(bool allow);

    // Web lookup (frmMain_web.cpp).
    void btnSearch_MouseUp();

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
    bool appKilled = false;    // ended here, by the alert or by Delete
    bool appStopped = false;   // ended by the alert itself under safe_level 1: Allow starts it again
    bool deleteArmed = false;
    QString findNotes;
    // Set when the alert hides during the running path search; null when none runs.
    bool* searchEnded = nullptr;

    // Controls, at their design places.
    QLabel* lblApp;
    QLabel* lblName;
    QLabel* lblStopped;   // shown while the alert holds the candidate stopped
    QPlainTextEdit* txtPath;
    ImageButton* btnFindPath;
    ImageButton* btnDelete;
    ImageButton* btnSearch;
    ImageButton* btnAllow;
    ImageButton* btnDeny;
    ImageButton* btnAllowNow;
    ImageButton* btnDenyNow;
    ImageButton* btnClose;

signals:
    // Start-up ended with the scan timer off: nothing is guarded.
    void notGuarding();

protected:
    void mousePressEvent(QMouseEvent* event) override;   // Form_MouseDown: drag
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;   // Escape: Close

};
