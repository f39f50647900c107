#pragma once
#include "guard/frmMain.h"

#include <QLabel>
#include <QListWidget>
#include <QWidget>

class ImageButton;

// The allow list window and the deny list window: one class, the differences
// held as data. Each row carries the record it shows, and the buttons act on
// those records, whatever has happened to the list since the rows were filled.
class frmList : public QWidget {
    Q_OBJECT
public:
    enum class Kind { Allow, Deny };

    // What tells the twins apart.
    struct Traits {
        const char* window;       // object name and module name in the log
        const char* title;
        Collection App::*own;
        Collection App::*ownTmp;
        Collection App::*other;
        Collection App::*otherTmp;
        const char* ownFile;
        const char* moveButton;   // the button that moves records to the other list
        const char* moveProcedure;
        bool tabMargin;           // extent margin: half a tab, else half a space
    };
    static const Traits& traits(Kind kind);

    // Builds the window and runs its load handler.
    frmList(App& app, frmMain& main, Kind kind, QWidget* parent = nullptr);

    App& app;
    frmMain& main;
    const Kind kind;
    const Traits& t;

    void Form_Load();
    // Fills the rows from the list.
    void listLoad();
    // btnDenyEntry_MouseUp in the allow window, btnAllowEntry_MouseUp in the deny window.
    void btnMoveEntry_MouseUp();
    void btnDelEntry_MouseUp();
    void btnClose_MouseUp();
    void List_DblClick();

    // Text width in the list's font; a tab counts as one character of the
    // width the font gives a lone tab, wherever it stands.
    float W(const QString& text) const;
    // The row that shows a record.
    QString rowText(const QString& record) const;
    // The horizontal extent set by the last complete listLoad, in pixels.
    int horizontalExtent = 0;

    QLabel* lblList;
    QListWidget* List;
    ImageButton* btnMoveEntry;
    ImageButton* btnDelEntry;
    ImageButton* btnClose;

signals:
    // The window has been closed and is going away.
    void unloaded();

protected:
    void mousePressEvent(QMouseEvent* event) override;   // Form_MouseDown: drag

private:
    Collection& own() const { return app.*(t.own); }
    // The records of the selected rows, top down.
    QStringList selectedRecords() const;
    // Takes `record` out of the own list and its working copy.
    void removeOwn(const QString& record);
};
