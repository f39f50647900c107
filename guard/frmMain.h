// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "guard/Guard.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <optional>

class GateLink;
class ImageButton;
class frmTrust;
namespace gatewire {
struct Exec;
}

// The new-application alert over the guard: it shows the candidate the
// guard signals and hands the user's answers to it.
class frmMain : public QWidget {
    Q_OBJECT
public:
    explicit frmMain(Guard& guard, QWidget* parent = nullptr);
    // With a guard of its own over `app`.
    explicit frmMain(App& app, QWidget* parent = nullptr);
    ~frmMain() override;

private:
    std::unique_ptr<Guard> own_;

public:
    Guard& guard;
    App& app;

    // Start-up (frmMain.cpp): the guard's, with the windows dressed and the tray loaded.
    using Start = Guard::Start;
    Start Form_Load() { return guard.Form_Load(); }
    // First start (frmTrust.cpp): asks whether to trust the programs that
    // run now. While it asks, the scan raises no alert.
    void offerTrust();
    QPointer<frmTrust> trust;

    // Alert (frmMain_alert.cpp).
    void ShowMsg();
    void btnAllow_MouseUp();
    void btnAllowNow_MouseUp();
    void btnDeny_MouseUp();
    void btnDenyNow_MouseUp();
    void btnDelete_MouseUp();
    void btnClose_MouseUp();
    // The details box's tooltip: who runs the candidate, how, and from where.
    QString detailsTip(const QString& owner, const std::optional<platform::Launch>& launch);

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

private:
    // The details box after a decision.
    void decided(const Guard::Outcome& outcome);
    void hideAlert();
    void setAlwaysTop(bool top);

protected:
    void closeEvent(QCloseEvent* event) override;
    // However the window shows or hides, the guard knows whether the alert asks.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

};
