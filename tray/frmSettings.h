// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "store/App.h"

#include <QByteArray>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QWidget>
#include <vector>

class ImageButton;
class Guard;

// The settings window: one row per setting of settings.ini with its meaning
// from the file's comments and its value as the file has it. Save checks,
// rewrites the file and puts the values into effect at once. A setting the
// administrator fixes shows its fixed value, read only, and where it is set.
class frmSettings : public QWidget {
    Q_OBJECT
public:
    // Builds the window and fills it from the file.
    frmSettings(App& app, Guard& guard, QWidget* parent = nullptr);

    App& app;
    Guard& guard;

    // Fills the rows from the file as it is now.
    void Form_Load();
    void btnSave_Click();
    void btnCancel_Click();
    void btnEditor_Click();
    // The file changed since the rows were filled: they are filled again when
    // nothing was typed, else Reload is offered. Runs whenever the window
    // becomes active, as after the editor.
    void checkFile();
    // Shows the reason beside each bad value; true when there is none.
    bool validate();
    // True when a field holds other text than the file.
    bool edited() const;

    struct Row {
        QString key;
        QString value;                // as the file has it
        QLineEdit* field = nullptr;   // none for a key this program does not read
        QLabel* reason = nullptr;
        QString fixedBy{};            // the file that fixes it; then the field is read only
    };
    std::vector<Row> rows;
    QLabel* lblMessage;
    QScrollArea* scrRows;
    QPushButton* btnEditor;
    QPushButton* btnReload;
    QPushButton* btnSave;
    QPushButton* btnCancel;
    ImageButton* btnClose;

signals:
    // Save put the new values into effect.
    void applied();
    // The window has been closed and is going away.
    void unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void say(const QString& text);
    void unload();
    QString path() const;
    QByteArray loaded_;   // the file's bytes the rows show
};
