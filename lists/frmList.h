// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "guard/Guard.h"
#include "lists/ListModel.h"

#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QWidget>

class ImageButton;

// The allow list window, the deny list window and the window of the programs
// monitor mode saw: one class, the differences held as data. Each row carries
// the record it shows, and the buttons act on those records, whatever has
// happened to the list since the rows were filled. The administrator's
// records show beside the user's, marked, and no button changes them.
class frmList : public QWidget {
    Q_OBJECT
public:
    enum class Kind { Allow, Deny, Seen };

    // What tells the twins apart.
    struct Traits {
        const char* window;       // object name and module name in the log
        const char* title;
        const char* verb;         // what the list does: "allow" or "deny"
        Collection App::*own;
        Collection App::*ownTmp;
        Collection App::*other;
        Collection App::*otherTmp;
        const char* ownFile;
        const char* otherFile;
        const char* moveButton;   // the button that moves records to the other list
        const char* moveProcedure;
    };
    static const Traits& traits(Kind kind);

    // Builds the window and runs its load handler.
    frmList(App& app, Guard& guard, Kind kind, QWidget* parent = nullptr);

    App& app;
    Guard& guard;
    const Kind kind;
    const Traits& t;

    void Form_Load();
    // Fills the rows from the list.
    void listLoad();
    // btnDenyEntry_MouseUp in the allow window, btnAllowEntry_MouseUp in the deny window.
    void btnMoveEntry_MouseUp();
    void btnDelEntry_MouseUp();
    void btnAddEntry_MouseUp();
    void btnClose_MouseUp();
    void List_DblClick();

    // The records of the rows as shown, top down.
    QStringList shownRecords() const;

    QLabel* lblList;
    QLineEdit* txtFilter;
    QTableView* List;
    QLabel* lblEmpty;   // over the rows when there are none to show
    ImageButton* btnMoveEntry;
    ImageButton* btnDelEntry;
    ImageButton* btnAddEntry;
    ImageButton* btnClose;
    ListModel records;
    ListFilter rows{this};

signals:
    // The window has been closed and is going away.
    void unloaded();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;   // Delete and Escape

private:
    Collection& own() const { return app.*(t.own); }
    // The records of the selected rows, top down, the administrator's left
    // out and told of.
    QStringList selectedRecords() const;
    // The Allow of the seen window: the selected rows, or all when none is.
    QStringList seenRecords() const;
    // Why the administrator's rules decide about `record` whatever the
    // user's lists say, or empty text when the user decides.
    QString systemDecides(const QString& record) const;
    // Takes `records` out of the own list and its working copy, letter case aside.
    void removeOwn(const QStringList& records);
    // Adds the record of the executable at `path`, once its hash is known.
    void addFile(const QString& path);
    // Selects the row of `record`, letter case aside.
    void select(const QString& record);
    // The count in the title and the text over an empty table.
    void showCount();
};
