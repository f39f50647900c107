// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "store/App.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QWidget>

class ImageButton;
class Guard;

// The About window: name, version, description, mail and error report.
class frmAbout : public QWidget {
    Q_OBJECT
public:
    // Builds the window and runs its load handler.
    frmAbout(App& app, Guard& guard, QWidget* parent = nullptr);

    App& app;
    Guard& guard;

    void Form_Load();
    void btnContact_MouseUp();
    void btnWeb_MouseUp();
    void btnClose_MouseUp();

    QLabel* lblAbout;
    QPlainTextEdit* txtAbout;
    ImageButton* btnContact;
    ImageButton* btnWeb;
    ImageButton* btnClose;

    static constexpr char kContact[] = "support@mirvak.example";

signals:
    // The window has been closed and is going away.
    void unloaded();

protected:

};
