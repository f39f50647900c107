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
    const Running running;

    QLabel* lblQuestion;
    QLabel* lblText;
    QPlainTextEdit* txtList;   // the programs, shown on request
    QPushButton* btnYes;
    QPushButton* btnNo;
    QPushButton* btnShow;
    KeyGate* keys;   // Yes and No wait for the user's keys

    // Saves the answer (Accepted: Yes) and goes away.
    void done(int result) override;

protected:
    void mousePressEvent(QMouseEvent* event) override;   // drag
    void resizeEvent(QResizeEvent* event) override;       // stays in its corner
};
