#include "Fakes.h"
#include "design/ImageButton.h"
#include "guard/frmMain.h"
#include "store/mdSettings.h"

#include <QApplication>
#include <QMouseEvent>
#include <gtest/gtest.h>

namespace {

// A candidate "app" (pid 500, arguments -x 'a b') started by "explorer" (pid 400), its file in the program
// folder, and the alert around it with a ticking timer.
struct Alert {
    TestBed t;
    frmMain main{t.app};
    QString exe = t.path("app");

    explicit Alert(const char* safeLevel = "0", bool path = true, bool parent = true, bool killable = true)
    {
        t.settings({{"safe_level", safeLevel}});
        mdSettings::getSettings(t.app);
        t.processes.add(400, "explorer", "/usr/bin/explorer").alive = parent;
        t.processes.add(500, "app", exe, 400).killable = killable;
        t.write("app", "binary");
        main.time.start(1000);
        main.tmpTicks = 7;
        main.appName = "app";
        main.appPid = 500;
        main.appParent = "400";
        main.appPath = path ? exe : QString();
        main.appRecord = "app|" + main.appPath;
        main.appArgs = "-x 'a b'";
        main.findNotes = "notes";
    }
    bool closed() const { return !main.isVisible() && main.time.isActive(); }
    bool waiting() const { return main.isVisible() && !main.time.isActive(); }
    QByteArray file(const char* name) const { return t.exists(name) ? t.read(name) : "(none)"; }
};

void click(ImageButton* button, Qt::MouseButton which = Qt::LeftButton)
{
    const QPointF at(1, 1), global = button->mapToGlobal(at);
    for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, global, which, type == QEvent::MouseButtonPress ? which : Qt::NoButton, {});
        QApplication::sendEvent(button, &event);
    }
}

} // namespace

TEST(Alert, DetailsButtonsAndSafeLevel)
{
    const struct {
        const char* safeLevel;
        bool parent, path, file, killable, killed;
        QString text;   // $ stands for the path
    } cases[] = {
        {"0", true, true, true, true, false, "opened by: explorer; path: $; date: 2006.03.07 9:05; size: 6b"},
        {"1", true, false, true, true, false, "opened by: explorer"},
        {"1", false, true, true, true, true, "path: $; date: 2006.03.07 9:05; size: 6b"},
        {"1", false, true, false, false, false, "path: $"},
        {"0", false, false, true, true, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        Alert a(c.safeLevel, c.path, c.parent, c.killable);
        QFile f(a.exe);
        ASSERT_TRUE(f.open(QFile::Append) && f.setFileTime({{2006, 3, 7}, {9, 5}}, QFile::FileModificationTime));
        ASSERT_TRUE(c.file || QFile::remove(a.exe));
        a.main.appArgs = platform::kArgsSentinel;
        a.main.appKilled = true;   // left over from an earlier candidate
        a.main.move(3, 3);
        a.main.ShowMsg();
        EXPECT_EQ(a.main.txtPath->toPlainText(), QString(c.text).replace("$", a.exe));
        EXPECT_TRUE(a.main.btnDelete->isVisible() == c.path && a.main.btnFindPath->isVisible() != c.path);
        EXPECT_TRUE(a.waiting());
        EXPECT_EQ(a.main.pos(), QPoint(1024 - 280, 738 - 180));   // back in the corner
        EXPECT_EQ(std::pair(a.main.appKilled, a.t.processes.table[1].alive), std::pair(c.killed, !c.killed));
        EXPECT_EQ(a.main.appArgs, c.killed ? "" : platform::kArgsSentinel);
    }
}

TEST(Alert, Decisions)
{
    const auto allow = &frmMain::btnAllow, allowNow = &frmMain::btnAllowNow, del = &frmMain::btnDelete;
    const auto deny = &frmMain::btnDeny, denyNow = &frmMain::btnDenyNow, close = &frmMain::btnClose;
    const struct {
        const char* safeLevel;
        bool killable, restarted;
        std::vector<ImageButton* frmMain::*> presses;
        int records[4];   // in allowList, allowTmp, denyList, denyTmp
        int tmpTicks, kills;
        const char* open;   // the text of an alert left open ($ stands for the path); null: closed
    } cases[] = {
        {"1", true, true, {allow}, {1, 1, 0, 0}, 7, 1, nullptr},
        {"0", true, false, {allow}, {1, 1, 0, 0}, 7, 0, nullptr},
        {"1", true, true, {allowNow}, {0, 1, 0, 0}, 0, 1, nullptr},
        {"0", true, false, {deny}, {0, 0, 1, 1}, 7, 1, nullptr},
        {"1", true, false, {deny}, {0, 0, 1, 1}, 7, 1, nullptr},
        {"0", false, false, {deny, deny}, {0, 0, 1, 2}, 7, 2, "can't deny app"},   // the save drops the twin
        {"0", true, false, {denyNow}, {0, 0, 0, 1}, 0, 1, nullptr},
        {"1", true, false, {denyNow}, {0, 0, 0, 1}, 0, 1, nullptr},
        {"0", false, false, {denyNow}, {0, 0, 0, 1}, 0, 1, "can't deny app"},
        {"1", true, false, {close}, {0, 0, 0, 0}, 7, 1, nullptr},
        {"0", true, false, {close}, {0, 0, 0, 0}, 7, 0, nullptr},
        {"0", true, false, {del}, {0, 0, 0, 1}, 0, 1, "confirm delete $"},
        {"0", false, false, {del}, {0, 0, 0, 1}, 0, 1, "confirm delete $\ncan't deny app"},
        {"0", true, false, {del, close}, {0, 0, 0, 1}, 0, 1, nullptr},
        {"0", true, false, {del, deny}, {0, 0, 1, 2}, 0, 1, nullptr},
        {"0", true, true, {del, allow}, {1, 1, 0, 1}, 0, 1, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        Alert a(c.safeLevel, true, true, c.killable);
        a.main.ShowMsg();
        for (auto button : c.presses)
            click(a.main.*button, (&c - cases) % 2 ? Qt::RightButton : Qt::LeftButton);
        const Collection* lists[] = {&a.t.app.allowList, &a.t.app.allowTmp, &a.t.app.denyList, &a.t.app.denyTmp};
        for (int l = 0; l < 4; ++l)
            EXPECT_EQ(QStringList(lists[l]->begin(), lists[l]->end()), QStringList(c.records[l], "app|" + a.exe));
        EXPECT_EQ(a.file("allow.csv"), c.records[0] ? (a.main.appRecord + "\r\n").toUtf8() : "(none)");
        EXPECT_EQ(a.file("deny.csv"), c.records[2] ? (a.main.appRecord + "\r\n").toUtf8() : "(none)");
        EXPECT_EQ(std::pair(a.main.tmpTicks, int(a.t.processes.killed.size())), std::pair(c.tmpTicks, c.kills));
        ASSERT_EQ(a.t.shell.started.size(), c.restarted ? 1u : 0u);
        for (const auto& start : a.t.shell.started)
            EXPECT_EQ(QStringList{start.program} + start.args, QStringList({a.exe, "-x", "a b"}));
        EXPECT_TRUE(QFile::exists(a.exe));
        EXPECT_TRUE(c.open ? a.waiting() : a.closed() && !a.main.deleteArmed && a.main.findNotes.isEmpty());
        EXPECT_EQ(c.open ? a.main.txtPath->toPlainText() : "", QString(c.open).replace("$", a.exe));
    }
}

TEST(Alert, DeleteRetries)
{
    Alert a;
    a.t.files.failRemoves.insert("app");
    a.main.ShowMsg();
    click(a.main.btnDelete);
    click(a.main.btnDelete);
    EXPECT_EQ(a.main.txtPath->toPlainText(), "can't delete app");
    EXPECT_TRUE(a.main.deleteArmed && a.waiting() && QFile::exists(a.exe));
    EXPECT_TRUE(a.t.read("error.log").startsWith("frmMain.btnDelete_MouseUp: Permission denied"));
    a.t.files.failRemoves.clear();
    click(a.main.btnDelete);
    EXPECT_TRUE(!QFile::exists(a.exe) && a.closed());
}

TEST(Alert, ClosedByTheDesktopItEndsLikeClose)
{
    // A window manager's close must not leave the guard with its timer off.
    Alert a;
    a.main.ShowMsg();
    EXPECT_FALSE(a.main.close());
    EXPECT_TRUE(a.closed());
    EXPECT_EQ(a.main.findNotes, "");
}
