#include "Fakes.h"
#include "design/ImageButton.h"
#include "guard/frmMain.h"
#include "store/mdSettings.h"

#include <QApplication>
#include <QMouseEvent>
#include <gtest/gtest.h>
#include <memory>

namespace {

struct FakeList : ListRefresh {
    bool visible = false;
    int loads = 0;
    bool listVisible() const override { return visible; }
    void listLoad() override { ++loads; }
};

// A candidate "app" (pid 500, arguments -x 'a b') started by "explorer" (pid 400), its
// file in the program folder, and the alert around it with a ticking timer.
struct Alert {
    TestBed t;
    std::unique_ptr<frmMain> main;
    FakeProcess* app = nullptr;
    QString exe = t.path("app");

    explicit Alert(const char* safeLevel = "0", bool pathKnown = true)
    {
        t.settings({{"safe_level", safeLevel}});
        mdSettings::getSettings(t.app);
        t.processes.add(400, "explorer", "/usr/bin/explorer");
        t.write("app", "binary");
        app = &t.processes.add(500, "app", exe, 400);
        main = std::make_unique<frmMain>(t.app);
        main->time.start(1000);
        main->tmpTicks = 7;
        main->appName = "app";
        main->appPid = 500;
        main->appParent = "400";
        main->appPath = pathKnown ? exe : QString();
        main->appRecord = "app|" + main->appPath;
        main->appArgs = "-x 'a b'";
        main->findNotes = "notes";
    }
    QString text() const { return main->txtPath->toPlainText(); }
    // Hidden with the scan timer running again, or shown with it stopped.
    bool closed() const { return !main->isVisible() && main->time.isActive(); }
    bool waiting() const { return main->isVisible() && !main->time.isActive(); }
    QByteArray file(const char* name) const { return t.exists(name) ? t.read(name) : "(none)"; }
};

void click(ImageButton* button, Qt::MouseButton which = Qt::LeftButton)
{
    const QPointF at(1, 1), global = button->mapToGlobal(at);
    QMouseEvent down(QEvent::MouseButtonPress, at, global, which, which, Qt::NoModifier);
    QApplication::sendEvent(button, &down);
    QMouseEvent up(QEvent::MouseButtonRelease, at, global, which, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(button, &up);
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
    const QDateTime stamp(QDate(2006, 3, 7), QTime(9, 5));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        Alert a(c.safeLevel, c.path);
        QFile file(a.exe);
        ASSERT_TRUE(file.open(QFile::Append) && file.setFileTime(stamp, QFileDevice::FileModificationTime));
        if (!c.file)
            QFile::remove(a.exe);
        a.t.processes.find(400)->alive = c.parent;
        a.app->killable = c.killable;
        a.main->appArgs = platform::kArgsSentinel;
        a.main->appKilled = true;   // left over from an earlier candidate
        a.main->move(3, 3);
        a.main->ShowMsg();
        EXPECT_EQ(a.text(), QString(c.text).replace("$", a.exe));
        EXPECT_EQ(a.main->btnDelete->isVisible(), c.path);
        EXPECT_EQ(a.main->btnFindPath->isVisible(), !c.path);
        EXPECT_TRUE(a.waiting());
        EXPECT_EQ(a.main->pos(), QPoint(1024 - 280, 738 - 180));   // back in the corner
        EXPECT_EQ(a.main->appKilled, c.killed);
        EXPECT_EQ(a.app->alive, !c.killed);
        EXPECT_EQ(a.main->appArgs, c.killed ? "" : platform::kArgsSentinel);
    }
}

TEST(Alert, Decisions)
{
    const auto allow = &frmMain::btnAllow, allowNow = &frmMain::btnAllowNow, del = &frmMain::btnDelete;
    const auto deny = &frmMain::btnDeny, denyNow = &frmMain::btnDenyNow, close = &frmMain::btnClose;
    const struct {
        const char* safeLevel;
        bool killable;
        std::vector<ImageButton* frmMain::*> presses;
        int records[4];   // in allowList, allowTmp, denyList, denyTmp
        int tmpTicks, kills;
        bool restarted;
        const char* open;   // the text of an alert left open ($ stands for the path); null: closed
    } cases[] = {
        {"1", true, {allow}, {1, 1, 0, 0}, 7, 1, true, nullptr},
        {"0", true, {allow}, {1, 1, 0, 0}, 7, 0, false, nullptr},
        {"1", true, {allowNow}, {0, 1, 0, 0}, 0, 1, true, nullptr},
        {"0", true, {deny}, {0, 0, 1, 1}, 7, 1, false, nullptr},
        {"1", true, {deny}, {0, 0, 1, 1}, 7, 1, false, nullptr},
        {"0", false, {deny, deny}, {0, 0, 1, 2}, 7, 2, false, "can't deny app"},   // the save drops the twin
        {"0", true, {denyNow}, {0, 0, 0, 1}, 0, 1, false, nullptr},
        {"1", true, {denyNow}, {0, 0, 0, 1}, 0, 1, false, nullptr},
        {"0", false, {denyNow}, {0, 0, 0, 1}, 0, 1, false, "can't deny app"},
        {"1", true, {close}, {0, 0, 0, 0}, 7, 1, false, nullptr},
        {"0", true, {close}, {0, 0, 0, 0}, 7, 0, false, nullptr},
        {"0", true, {del}, {0, 0, 0, 1}, 0, 1, false, "confirm delete $"},
        {"0", false, {del}, {0, 0, 0, 1}, 0, 1, false, "confirm delete $\ncan't deny app"},
        {"0", true, {del, close}, {0, 0, 0, 1}, 0, 1, false, nullptr},
        {"0", true, {del, deny}, {0, 0, 1, 2}, 0, 1, false, nullptr},
        {"0", true, {del, allow}, {1, 1, 0, 1}, 0, 1, true, nullptr},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const auto& c = cases[i];
        Alert a(c.safeLevel);
        a.app->killable = c.killable;
        a.main->ShowMsg();
        for (auto button : c.presses)
            click(a.main.get()->*button, i % 2 ? Qt::RightButton : Qt::LeftButton);
        const QString record = a.main->appRecord;
        const Collection* lists[] = {&a.t.app.allowList, &a.t.app.allowTmp, &a.t.app.denyList,
                                     &a.t.app.denyTmp};
        for (int l = 0; l < 4; ++l)
            EXPECT_EQ(QStringList(lists[l]->begin(), lists[l]->end()), QStringList(c.records[l], record));
        // A list file is written exactly when a lasting decision was taken.
        const QByteArray line = (record + "\r\n").toUtf8();
        EXPECT_EQ(a.file("allow.csv"), c.records[0] ? line : "(none)");
        EXPECT_EQ(a.file("deny.csv"), c.records[2] ? line : "(none)");
        EXPECT_EQ(a.main->tmpTicks, c.tmpTicks);
        EXPECT_EQ(int(a.t.processes.killed.size()), c.kills);
        ASSERT_EQ(a.t.shell.started.size(), c.restarted ? 1u : 0u);
        for (const auto& start : a.t.shell.started)
            EXPECT_EQ(QStringList{start.program} + start.args, QStringList({a.exe, "-x", "a b"}));
        EXPECT_TRUE(QFile::exists(a.exe));
        EXPECT_TRUE(c.open ? a.waiting() : a.closed() && !a.main->deleteArmed && a.main->findNotes.isEmpty());
        EXPECT_EQ(c.open ? a.text() : "", QString(c.open).replace("$", a.exe));
    }
}

TEST(Alert, DeleteRetriesAndClosingRefreshesListWindows)
{
    Alert a;
    FakeList allowWindow, denyWindow;
    a.main->allowWindow = &allowWindow;
    a.main->denyWindow = &denyWindow;
    denyWindow.visible = true;
    a.t.files.failRemoves.insert("app");
    a.main->ShowMsg();
    click(a.main->btnDelete);
    click(a.main->btnDelete);
    EXPECT_EQ(a.text(), "can't delete app");
    EXPECT_TRUE(a.main->deleteArmed);
    EXPECT_TRUE(a.waiting());
    EXPECT_TRUE(a.t.read("error.log").startsWith("frmMain.btnDelete_MouseUp: Permission denied"));
    EXPECT_TRUE(QFile::exists(a.exe));
    a.t.files.failRemoves.clear();
    denyWindow.visible = false;
    allowWindow.visible = true;
    click(a.main->btnDelete);
    EXPECT_FALSE(QFile::exists(a.exe));
    EXPECT_TRUE(a.closed());
    EXPECT_EQ(allowWindow.loads, 1);
    EXPECT_EQ(denyWindow.loads, 1);   // at the first press, while it was open
}
