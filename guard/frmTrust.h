// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "guard/Running.h"
#include "store/App.h"

#include <QDialog>

class KeyGate;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// The first start's question: trust the programs that run now? Yes puts
// their records on the allow list, No starts it empty; either answer writes
// allow.csv, so the question is asked once.
class frmTrust : public QDialog {
    Q_OBJECT
public:
    frmTrust(App& app, Running running, QWidget* parent = nullptr);

    App& app;
    Running running;   // its waiting programs come in as their hashes are known

    QLabel* lblQuestion;
    QLabel* lblText;
    QLabel* lblWait;   // how many hashes are still computed; Yes waits for them
    QPlainTextEdit* txtList;   // the programs, shown on request
    QPushButton* btnYes;
    QPushButton* btnNo;
    QPushButton* btnShow;
    KeyGate* keys;   // Yes and No wait for the user's keys

    // Saves the answer (Accepted: Yes) and goes away; Yes waits until every
    // hash is known.
    void done(int result) override;
    // Takes in the hashes known now.
    void hashReady();
    // Shows it in its place: beside the icon, once the notification area has
    // taken the icon in (for two seconds at most), else in the corner.
    void showPlaced();
    bool yesWaits = false;   // Yes was pressed before every hash was known

private:
    void showCounts();
    // As tall as its text needs at its width.
    void fitHeight();
    qint64 made_;   // on the desktop's clock

protected:
    void resizeEvent(QResizeEvent* event) override;       // stays in its corner
};
