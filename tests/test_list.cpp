// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "design/ImageButton.h"
#include "guard/frmMain.h"
#include "lists/frmList.h"
#include "store/mdLists.h"
#include "store/mdSettings.h"
#include "tray/frmSettings.h"
#include "tray/frmTray.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QKeyEvent>

namespace {
QStringList items(const Collection& c) { return QStringList(c.begin(), c.end()); }

struct Icon : platform::Tray { void add(const QIcon&, const QString&) override {} void modify(const QIcon&, const QString&) override {} void remove() override {} };

// Both list windows, opened from the tray over the given lists.
struct ListBed : TestBed {
    frmMain main{app};
    Icon icon;
    frmTray tray{app, main.guard, icon};
    frmList *allow, *deny;
    ListBed(const QStringList& allowed, const QStringList& denied, const QString& level = "1")
    {
        settings({{"list_level", level}});
        mdSettings::getSettings(app);
        for (const auto& [list, tmp, records] : {std::tuple(&app.allowList, &app.allowTmp, allowed), std::tuple(&app.denyList, &app.denyTmp, denied)})
            for (const QString& record : records) {
                list->add(record);
                tmp->add(record);
            }
        tray.SeeAllow_Click();
        tray.SeeDeny_Click();
        allow = tray.allowWindow;
        deny = tray.denyWindow;
    }
    // The rows of a window, which must be those of its list as it stands.
    QStringList rows(frmList* window)
    {
        QStringList shown = window->shownRecords();
        QStringList fresh = items(app.*(window->t.own));
        shown.sort();
        fresh.sort();
        EXPECT_EQ(shown, fresh) << window->objectName().toStdString();
        return shown;
    }
    // Selects the rows of the named programs, and presses a button (or a key on the table).
    void press(frmList* window, const QStringList& names, const std::function<void(frmList*)>& button)
    {
        window->List->clearSelection();
        for (int row = 0; row < window->rows.rowCount(); ++row)
            if (const QModelIndex at = window->rows.index(row, 0); names.contains(at.data().toString()))
                window->List->selectionModel()->select(at, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        button(window);
    }
};
const auto move = std::mem_fn(&frmList::btnMoveEntry_MouseUp);
const auto del = std::mem_fn(&frmList::btnDelEntry_MouseUp);
void key(QObject* to, int code)
{
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier);
    QCoreApplication::sendEvent(to, &press);
}
// The shown columns' headers, then the cells of each shown row.
QString table(frmList& w)
{
    QString text;
    for (int column = 0; column < ListModel::Columns; ++column)
        text += w.List->isColumnHidden(column) ? "" : w.rows.headerData(column, Qt::Horizontal).toString() + ";";
    for (int row = 0; row < w.rows.rowCount(); ++row)
        for (int column = 0; column < ListModel::Columns; ++column)
            text += (column ? ";" : "\n") + w.rows.index(row, column).data().toString();
    return text;
}
} // namespace

// A click on a header sorts by the field's value, keeping the selection; the filter narrows and counts; Escape closes.
TEST(ListWindow, SortsByValueKeepingTheSelectionFiltersWithTheCountInTheTitleAndEscapeCloses)
{
    ListBed t({"b|2K|/usr/b", "A|900b|/opt/a", "c|1.5M|/usr/c", "d|1.25K|/BIN/d"}, {});
    frmList& w = *t.allow;
    t.press(&w, {"c"}, [](frmList*) {});
    w.List->sortByColumn(ListModel::Size, Qt::AscendingOrder);
    EXPECT_EQ(w.shownRecords().join(","), "A|900b|/opt/a,d|1.25K|/BIN/d,b|2K|/usr/b,c|1.5M|/usr/c");
    EXPECT_EQ(w.List->selectionModel()->selectedRows().value(0).data().toString(), "c");
    w.txtFilter->setText("bIn");
    EXPECT_EQ(w.shownRecords(), QStringList("d|1.25K|/BIN/d"));
    EXPECT_EQ(w.windowTitle(), "Allow List of Applications (1 of 4)");
    w.show();
    key(w.List, Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(t.tray.allowWindow.isNull());
}

// A picked program is added and selected, unless the other list holds it or a list file would give its record
// back as another.
TEST(ListWindow, AddsAPickedProgramUnlessTheOtherListHasItOrAFileCannotKeepIt)
{
    const std::tuple<QString, QStringList, QStringList, QString, QString> cases[] = {
        {"/bin/sh", {"a|/a"}, {}, "a|/a\r\nsh|/bin/sh\r\n", "sh|/bin/sh=2"},
        {"/bin/sh", {}, {"sh|/bin/sh"}, "sh is on the deny list already; move it from that list's window to change what it is.", "=0"},
        {"bin/a|1", {}, {}, "@/bin/a|1 can't be kept in a list file (a number after its last \"|\", which reads back as a count); nothing was added.", "=0"},
    };
    for (const auto& [picked, allowed, denied, told, selected] : cases) {
        SCOPED_TRACE(picked.toStdString());
        ListBed t(allowed, denied);
        t.write("bin/a|1", "x");
        t.desktop.picked = picked.startsWith("bin/") ? t.path(picked) : picked;
        t.allow->btnAddEntry_MouseUp();
        const auto rows = t.allow->List->selectionModel()->selectedRows();
        const QString chosen = rows.size() == 1 ? rows[0].data(ListModel::RecordRole).toString() : "";
        const QString shown = t.read("allow.csv") + t.read("deny.csv") + t.desktop.asked.join("");
        EXPECT_EQ(QString(shown).replace(t.tmp.path(), "@") + "=" + chosen + "=" + QString::number(t.app.allowList.count()),
                  told + "=" + selected);
        EXPECT_EQ(items(t.app.allowTmp), items(t.app.allowList));
    }
    // At level 4 the record waits for the file's hash, and the alert's own process keeps its state.
    ListBed t({}, {}, "4");
    std::vector<std::function<void()>> tasks;
    t.app.hashes.run = [&tasks](std::function<void()> task) { tasks.push_back(std::move(task)); };
    t.write("bin/tool", "x");
    t.desktop.picked = t.path("bin/tool");
    t.main.guard.appPid = 7;
    t.allow->btnAddEntry_MouseUp();
    EXPECT_EQ(std::tuple(t.exists("allow.csv"), tasks.size(), t.main.guard.appPid, t.main.guard.appHashPending),
              std::tuple(false, std::size_t(1), qint64(7), false));
    tasks.front()();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(t.read("allow.csv").right(74), "|sha256:" + QCryptographicHash::hash("x", QCryptographicHash::Sha256).toHex() + "\r\n");
    // A file that cannot be read to hash is not added, and the user is told.
    t.app.hashes.hash = [](auto...) { return std::optional<QByteArray>(); };
    t.app.hashes.run = [](std::function<void()> task) { task(); };
    t.write("bin/other", "y");
    t.desktop.picked = t.path("bin/other");
    t.allow->btnAddEntry_MouseUp();
    EXPECT_TRUE(!t.read("allow.csv").contains("other") && t.desktop.asked.join("").contains("could not be read")) << t.desktop.asked.join("").toStdString();
}

TEST(ListWindow, DeleteAsksBeforeMoreThanOneRow)
{
    const std::function<void(frmList*)> byKey = [](frmList* w) { key(w->List, Qt::Key_Delete); };
    const QString asked = "Delete 3 records from the allow list?";
    const std::tuple<QStringList, bool, std::function<void(frmList*)>, QString> cases[] = {
        {{"b"}, false, byKey, "a|/a\r\nc|/c\r\nd|/d\r\n"}, {{"a", "c", "d"}, false, byKey, asked},
        {{"a", "c", "d"}, true, del, "b|/b\r\n" + asked}};
    for (const auto& [names, yes, how, expected] : cases) {
        ListBed t({"d|/d", "a|/a", "c|/c", "b|/b"}, {});
        t.write("allow.csv", "");
        t.desktop.answer = yes;
        t.press(t.allow, names, how);
        EXPECT_EQ(t.read("allow.csv") + t.desktop.asked.join(""), expected);
        EXPECT_EQ(t.rows(t.allow).size(), t.read("allow.csv").isEmpty() ? 4 : t.read("allow.csv").count("\n"));
    }
}

TEST(ListWindow, ButtonsActOnTheRecordTheirRowShowsWhoeverChangedTheList)
{
    // Each change puts d.exe between a.exe and e.exe in the deny list under its open window.
    const std::function<void(ListBed&)> changes[] = {
        [](ListBed& t) { t.main.btnDeny_MouseUp(); },   // the alert's Deny cannot end the process
        // The save fails, the list stays sorted.
        [](ListBed& t) {
            t.files.failWrites << "deny.csv";
            t.main.btnDeny_MouseUp();
        },
        [](ListBed& t) { t.press(t.allow, {"d.exe"}, move); },
    };
    for (const auto& change : changes) {
        ListBed t({"d.exe|/d"}, {"e.exe|/e", "a.exe|/a"});
        t.processes.add(7, "d.exe", "/d").killable = false;
        t.main.guard.appName = "d.exe";
        t.main.guard.appPid = 7;
        t.main.guard.appRecord = "d.exe|/d";
        change(t);
        t.files.failWrites.clear();
        // The row of e.exe goes to the allow list, and e.exe is what goes.
        t.press(t.deny, {"e.exe"}, move);
        EXPECT_EQ(t.read("deny.csv"), "a.exe|/a\r\nd.exe|/d\r\n");
        EXPECT_TRUE(t.read("allow.csv").endsWith("e.exe|/e\r\n")) << t.read("allow.csv").constData();
        t.rows(t.allow);
        t.rows(t.deny);
    }
}

// Nothing selected, a delete rewrites its own file and a move both. Another program saves both lists while the
// windows are open: a move and a delete keep what it added and leave out what it removed; the moved and the deleted
// records stay as the user left them, and a moved record the other list holds already is there once.
TEST(ListWindow, MovesAndDeletesKeepFilesRowsAndWorkingCopiesAndTakeInWhatAnotherProgramSavedMeanwhile)
{
    ListBed t({"a|/a", "b|/b", "x|/x"}, {"b|/b", "z|/z"});
    t.press(t.allow, {}, del);
    EXPECT_TRUE(t.exists("allow.csv") && !t.exists("deny.csv"));
    t.press(t.deny, {}, move);
    EXPECT_EQ(t.read("allow.csv") + t.read("deny.csv"), "a|/a\r\nb|/b\r\nx|/x\r\nb|/b\r\nz|/z\r\n");
    t.files.writeBytes(t.path("allow.csv"), "a|/a\r\nb|/b\r\nc|/c\r\n", true);
    t.files.writeBytes(t.path("deny.csv"), "b|/b\r\ny|/y\r\nz|/z\r\n", true);
    t.press(t.allow, {"a", "b"}, move);
    EXPECT_EQ(t.read("allow.csv") + t.read("deny.csv"), "c|/c\r\na|/a\r\nb|/b\r\ny|/y\r\nz|/z\r\n");
    EXPECT_EQ(t.rows(t.allow), QStringList({"c|/c"}));
    EXPECT_EQ(t.rows(t.deny), QStringList({"a|/a", "b|/b", "y|/y", "z|/z"}));
    EXPECT_EQ(items(t.app.allowTmp), QStringList({"c|/c"}));
    t.files.writeBytes(t.path("allow.csv"), "c|/c\r\nd|/d\r\n", true);
    t.press(t.deny, {"b"}, del);
    t.press(t.allow, {"c"}, del);
    EXPECT_EQ(t.read("allow.csv") + t.read("deny.csv"), "d|/d\r\na|/a\r\ny|/y\r\nz|/z\r\n");
    EXPECT_EQ(items(t.app.allowTmp), QStringList({"d|/d"}));
    EXPECT_FALSE(items(t.app.denyTmp).contains("b|/b"));
    EXPECT_EQ(t.rows(t.allow), QStringList({"d|/d"}));
}

TEST(ListWindow, TheAdministratorsRecordsAndSettingsStayAndWhatMonitorModeSawIsAllowed)
{
    ListBed t({"mine|/bin/mine"}, {});
    t.program.policy = t.path("etc");
    t.write("etc/allow.d/site.csv", "site|/opt/site\r\n");
    t.write("etc/deny.d/site.csv", "sh|/bin/sh\r\n");
    t.write("etc/policy.ini", "check_interval=7\r\nguard_mode=monitor\r\n");
    mdLists::reloadPolicy(t.app);
    t.allow->listLoad();
    EXPECT_EQ(table(*t.allow), "Name;Path;Set by;\nmine;;;/bin/mine;;\nsite;;;/opt/site;;system");
    // Delete and Move leave the system's row; Add of a program the system denies says who decides.
    t.press(t.allow, {"mine", "site"}, del);
    t.press(t.allow, {"site"}, move);
    EXPECT_EQ(t.allow->shownRecords(), QStringList("site|/opt/site"));
    t.desktop.picked = "/bin/sh";
    t.allow->btnAddEntry_MouseUp();
    EXPECT_EQ(items(t.app.allowList) + items(t.app.denyList), QStringList());
    ASSERT_EQ(t.desktop.asked.size(), 3);
    EXPECT_TRUE(t.desktop.asked[0].startsWith("1 of the selected records is the administrator's"));
    EXPECT_EQ(t.desktop.asked[2], "The system decides about sh: the administrator denies it in " + t.path("etc/deny.d/site.csv:1: sh|/bin/sh") + ". Your lists do not change that.");
    // The settings window shows what policy.ini fixes, read only, and Save never writes it.
    frmSettings settings(t.app, t.main.guard);
    for (const char* key : {"check_interval", "guard_mode"}) {
        const auto row = std::ranges::find_if(settings.rows, [&](const auto& r) { return r.key == key; });
        ASSERT_NE(row, settings.rows.end());
        EXPECT_TRUE(row->field->isReadOnly());
        EXPECT_EQ(row->reason->text(), "fixed by the administrator in " + t.path("etc/policy.ini"));
    }
    const QString before = t.read("settings.ini");
    settings.btnSave_Click();
    EXPECT_EQ(t.read("settings.ini"), before);
    // In monitor mode the tray offers the seen window: Allow takes the selected.
    t.app.seenList.add("s1|/bin/s1");
    t.app.seenList.add("s2|/bin/s2");
    emit t.tray.PopupSys.aboutToShow();
    EXPECT_TRUE(t.tray.SeeSeen->isVisible());
    t.tray.SeeSeen_Click();
    EXPECT_EQ(t.tray.seenWindow->btnMoveEntry->text(), "Allow all");
    t.press(t.tray.seenWindow, {"s1"}, move);
    EXPECT_EQ(items(t.app.allowList), QStringList("s1|/bin/s1"));
    EXPECT_EQ(t.read("allow.csv").count("|/bin/s"), 1);
}
