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

// A candidate "app" (pid 500) started by "explorer" (pid 400), its file in the
// program folder, and the alert around it with a ticking timer.
struct Alert {
    TestBed t;
    std::unique_ptr<frmMain> main;
    FakeProcess* app = nullptr;
    QString exe;

    explicit Alert(const char* safeLevel = "0", bool pathKnown = true)
    {
        t.settings({{"safe_level", safeLevel}});
        mdSettings::getSettings(t.app);
        t.processes.table.reserve(8);
        t.processes.add(400, "explorer", "/usr/bin/explorer");
        exe = t.path("app");
        t.write("app", "binary");
        app = &t.processes.add(500, "app", exe, 400);
        app->args = "-x 'a b'";
        main = std::make_unique<frmMain>(t.app);
        main->time.setInterval(1000);
        main->time.start();
        main->tmpTicks = 7;
        main->appName = "app";
        main->appPid = 500;
        main->appParent = "400";
        main->appPath = pathKnown ? exe : QString();
        main->appRecord = "app|" + main->appPath;
        main->appArgs = app->args;
    }
    QString text() const { return main->txtPath->toPlainText(); }
    bool open() const { return main->isVisible(); }
    // Hidden with the scan timer running again, or shown with it stopped.
    bool closed() const { return !main->isVisible() && main->time.isActive(); }
    bool waiting() const { return main->isVisible() && !main->time.isActive(); }
    QString log() const { return QString::fromUtf8(t.read("error.log")); }
};

// Any mouse button pressed and released on an image button.
void click(ImageButton* button, Qt::MouseButton which = Qt::LeftButton)
{
    QMouseEvent down(QEvent::MouseButtonPress, QPointF(1, 1), button->mapToGlobal(QPointF(1, 1)), which, which,
                     Qt::NoModifier);
    QApplication::sendEvent(button, &down);
    QMouseEvent up(QEvent::MouseButtonRelease, QPointF(1, 1), button->mapToGlobal(QPointF(1, 1)), which,
                   Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(button, &up);
}

QStringList items(const Collection& list)
{
    return QStringList(list.begin(), list.end());
}

} // namespace

TEST(Alert, DetailsText)
{
    const QDateTime stamp(QDate(2006, 3, 7), QTime(9, 5));
    {
        Alert a;
        QFile file(a.exe);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(stamp, QFileDevice::FileModificationTime));
        file.close();
        a.main->move(3, 3);
        a.main->ShowMsg();
        EXPECT_EQ(a.text(), "opened by: explorer; path: " + a.exe + "; date: 2006.03.07 9:05; size: "
                                + a.main->fSize(6));
        EXPECT_EQ(a.main->lblName->text(), "app");
        EXPECT_TRUE(a.waiting());
        EXPECT_EQ(a.main->pos(), QPoint(1024 - 280, 738 - 180));   // back in the corner
        EXPECT_TRUE(a.main->btnDelete->isVisible());
        EXPECT_FALSE(a.main->btnFindPath->isVisible());
    }
    {
        Alert a("0", false);
        a.main->ShowMsg();
        EXPECT_EQ(a.text(), "opened by: explorer");
        EXPECT_FALSE(a.main->btnDelete->isVisible());
        EXPECT_TRUE(a.main->btnFindPath->isVisible());
    }
    {
        Alert a;
        a.t.processes.find(400)->alive = false;
        QFile::remove(a.exe);
        a.main->ShowMsg();
        EXPECT_EQ(a.text(), "path: " + a.exe);
        EXPECT_TRUE(a.main->btnDelete->isVisible());
    }
    {
        Alert a("0", false);
        a.main->appParent = "999";
        a.main->ShowMsg();
        EXPECT_EQ(a.text(), "");
        EXPECT_TRUE(a.open());
        EXPECT_FALSE(a.t.exists("error.log"));
    }
}

TEST(Alert, SafeLevelTerminatesKnownPaths)
{
    {
        Alert a("1");
        a.main->appArgs = platform::kArgsSentinel;
        a.main->ShowMsg();
        EXPECT_TRUE(a.main->appKilled);
        EXPECT_FALSE(a.app->alive);
        EXPECT_EQ(a.main->appArgs, "");
    }
    {
        Alert a("1", false);
        a.main->ShowMsg();
        EXPECT_FALSE(a.main->appKilled);
        EXPECT_TRUE(a.t.processes.killed.empty());
    }
    {
        Alert a("1");
        a.app->killable = false;
        a.main->appArgs = platform::kArgsSentinel;
        a.main->ShowMsg();
        EXPECT_FALSE(a.main->appKilled);
        EXPECT_EQ(a.main->appArgs, platform::kArgsSentinel);
    }
    {
        Alert a("0");
        a.main->appKilled = true;   // left over from an earlier candidate
        a.main->ShowMsg();
        EXPECT_FALSE(a.main->appKilled);
        EXPECT_TRUE(a.app->alive);
        EXPECT_EQ(a.main->appArgs, "-x 'a b'");
    }
}

TEST(Alert, AllowRestartsWhatTheAlertTerminated)
{
    {
        Alert a("1");
        a.main->ShowMsg();
        click(a.main->btnAllow);
        ASSERT_EQ(a.t.shell.started.size(), 1u);
        EXPECT_EQ(a.t.shell.started[0].program, a.exe);
        EXPECT_EQ(a.t.shell.started[0].args, QStringList({"-x", "a b"}));
        EXPECT_EQ(items(a.t.app.allowList), QStringList{a.main->appRecord});
        EXPECT_EQ(items(a.t.app.allowTmp), QStringList{a.main->appRecord});
        EXPECT_EQ(a.main->tmpTicks, 7);
        EXPECT_EQ(a.t.read("allow.csv"), (a.main->appRecord + "\r\n").toUtf8());
        EXPECT_FALSE(a.t.exists("deny.csv"));
        EXPECT_TRUE(a.closed());
    }
    {
        Alert a("0");
        a.main->ShowMsg();
        click(a.main->btnAllow, Qt::RightButton);
        EXPECT_TRUE(a.t.shell.started.empty());
        EXPECT_EQ(a.t.app.allowList.count(), 1);
        EXPECT_FALSE(a.open());
    }
    {
        Alert a("1");
        a.main->ShowMsg();
        click(a.main->btnAllowNow);
        ASSERT_EQ(a.t.shell.started.size(), 1u);
        EXPECT_EQ(a.t.shell.started[0].args, QStringList({"-x", "a b"}));
        EXPECT_EQ(a.t.app.allowList.count(), 0);
        EXPECT_EQ(items(a.t.app.allowTmp), QStringList{a.main->appRecord});
        EXPECT_EQ(a.main->tmpTicks, 0);
        EXPECT_FALSE(a.t.exists("allow.csv"));
        EXPECT_TRUE(a.closed());
    }
}

TEST(Alert, DenyTerminatesOrStaysOpen)
{
    {
        Alert a;
        a.main->ShowMsg();
        click(a.main->btnDeny);
        EXPECT_FALSE(a.app->alive);
        EXPECT_EQ(items(a.t.app.denyList), QStringList{a.main->appRecord});
        EXPECT_EQ(items(a.t.app.denyTmp), QStringList{a.main->appRecord});
        EXPECT_EQ(a.t.read("deny.csv"), (a.main->appRecord + "\r\n").toUtf8());
        EXPECT_FALSE(a.t.exists("allow.csv"));
        EXPECT_TRUE(a.closed());
    }
    {
        // A list file that cannot be written: logged, the decision goes on.
        Alert a;
        a.t.files.failWrites.insert("deny.csv");
        a.main->ShowMsg();
        click(a.main->btnDeny);
        EXPECT_TRUE(a.log().startsWith("mdSettings.putList: Permission denied"));
        EXPECT_EQ(a.t.app.denyTmp.count(), 1);
        EXPECT_FALSE(a.open());
    }
    {
        Alert a;
        a.app->killable = false;
        a.main->ShowMsg();
        click(a.main->btnDeny);
        EXPECT_EQ(a.text(), "can't deny app");
        EXPECT_EQ(a.t.app.denyTmp.count(), 1);
        EXPECT_TRUE(a.waiting());
        EXPECT_EQ(a.t.read("deny.csv"), (a.main->appRecord + "\r\n").toUtf8());
        click(a.main->btnDeny);
        EXPECT_EQ(a.t.app.denyTmp.count(), 2);
        EXPECT_EQ(a.t.app.denyList.count(), 1);   // the save drops the duplicate
        EXPECT_EQ(a.t.read("deny.csv"), (a.main->appRecord + "\r\n").toUtf8());
        EXPECT_TRUE(a.open());
        EXPECT_FALSE(a.t.exists("error.log"));
    }
    {
        // Already terminated by the alert: no second attempt, the alert closes.
        Alert a("1");
        a.main->ShowMsg();
        click(a.main->btnDenyNow);
        EXPECT_EQ(a.t.processes.killed.size(), 1u);
        EXPECT_EQ(items(a.t.app.denyTmp), QStringList{a.main->appRecord});
        EXPECT_EQ(a.t.app.denyList.count(), 0);
        EXPECT_EQ(a.main->tmpTicks, 0);
        EXPECT_FALSE(a.t.exists("deny.csv"));
        EXPECT_TRUE(a.closed());
    }
    {
        Alert a;
        a.app->killable = false;
        a.main->ShowMsg();
        click(a.main->btnDenyNow);
        EXPECT_EQ(a.text(), "can't deny app");
        EXPECT_EQ(a.t.app.denyTmp.count(), 1);
        EXPECT_EQ(a.main->tmpTicks, 0);
        EXPECT_TRUE(a.waiting());
    }
}

TEST(Alert, DeleteNeedsTwoPresses)
{
    {
        // Once, then Close: the file stays, the denial for the period stays.
        Alert a;
        FakeList denyWindow;
        denyWindow.visible = true;
        a.main->denyWindow = &denyWindow;
        a.main->ShowMsg();
        click(a.main->btnDelete);
        EXPECT_EQ(a.text(), "confirm delete " + a.exe);
        EXPECT_TRUE(a.main->deleteArmed);
        EXPECT_FALSE(a.app->alive);
        EXPECT_EQ(items(a.t.app.denyTmp), QStringList{a.main->appRecord});
        EXPECT_EQ(a.main->tmpTicks, 0);
        EXPECT_EQ(denyWindow.loads, 1);
        EXPECT_TRUE(a.waiting());
        click(a.main->btnClose);
        EXPECT_TRUE(QFile::exists(a.exe));
        EXPECT_FALSE(a.main->deleteArmed);
        EXPECT_EQ(a.t.app.denyTmp.count(), 1);
        EXPECT_FALSE(a.t.exists("deny.csv"));
        EXPECT_TRUE(a.closed());
    }
    {
        Alert a;
        a.app->killable = false;
        a.main->ShowMsg();
        click(a.main->btnDelete);
        EXPECT_EQ(a.text(), "confirm delete " + a.exe + "\ncan't deny app");
        click(a.main->btnDelete);
        EXPECT_FALSE(QFile::exists(a.exe));
        EXPECT_FALSE(a.main->deleteArmed);
        EXPECT_TRUE(a.closed());
    }
    {
        // A file that cannot be deleted: the next press tries again.
        Alert a;
        a.t.files.failRemoves.insert("app");
        a.main->ShowMsg();
        click(a.main->btnDelete);
        click(a.main->btnDelete);
        EXPECT_EQ(a.text(), "can't delete app");
        EXPECT_TRUE(a.main->deleteArmed);
        EXPECT_TRUE(a.waiting());
        EXPECT_TRUE(a.log().startsWith("frmMain.btnDelete_MouseUp: Permission denied"));
        EXPECT_TRUE(QFile::exists(a.exe));
        a.t.files.failRemoves.clear();
        click(a.main->btnDelete);
        EXPECT_FALSE(QFile::exists(a.exe));
        EXPECT_FALSE(a.open());
    }
}

TEST(Alert, DeleteTerminationCountsForLaterDecisions)
{
    {
        Alert a;
        a.main->ShowMsg();
        click(a.main->btnDelete);
        click(a.main->btnDeny);
        EXPECT_EQ(a.t.processes.killed.size(), 1u);
        EXPECT_FALSE(a.open());
    }
    {
        Alert a;
        a.main->ShowMsg();
        click(a.main->btnDelete);
        click(a.main->btnAllow);
        ASSERT_EQ(a.t.shell.started.size(), 1u);
        EXPECT_EQ(a.t.shell.started[0].program, a.exe);
    }
}

TEST(Alert, CloseRefreshesOpenListWindows)
{
    Alert a("1");
    FakeList allowWindow;
    FakeList denyWindow;
    allowWindow.visible = true;
    a.main->allowWindow = &allowWindow;
    a.main->denyWindow = &denyWindow;
    a.main->findNotes = "notes";
    a.main->ShowMsg();
    click(a.main->btnClose);
    EXPECT_EQ(allowWindow.loads, 1);
    EXPECT_EQ(denyWindow.loads, 0);
    EXPECT_EQ(a.main->findNotes, "");
    EXPECT_EQ(a.t.app.allowTmp.count() + a.t.app.denyTmp.count(), 0);
    EXPECT_TRUE(a.t.shell.started.empty());   // what the alert terminated stays terminated
    EXPECT_TRUE(a.closed());
}
