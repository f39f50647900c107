// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "design/ImageButton.h"
#include "design/frmAbout.h"
#include "design/mdDesign.h"
#include "guard/frmMain.h"
#include "guard/frmTrust.h"
#include "lists/frmList.h"
#include "store/mdSettings.h"
#include "widgets/Countdown.h"

#include <QApplication>
#include <QKeyEvent>
#include <QGraphicsEffect>
#include <QPlainTextEdit>
#include <QTest>
#include <regex>
#include <sys/stat.h>

namespace {

// A walk meets `name` (pid 500, its file of 2006.03.07 9:05 in the test's folder), started as "a b\xff mirvak: 777"
// by "explorer" (pid 400), under the settings given. `lacks` names what is not there: parent, path (Find Path gives it
// once the alert is up), file, args, kill, remove.
struct Alert {
    TestBed t;
    frmMain main{t.app};
    QString exe, record;
    QStringList told;   // what the tray icon tells
    platform::Launch launch{{"a b\xff", "mirvak:", "777"}, "/w", QByteArrayList{"K=v"}};

    explicit Alert(const QList<QPair<QString, QString>>& settings = {}, const QString& lacks = "",
                   const QString& name = "app")
        : exe(t.path(name)), record(lacks.contains("path") ? name : name + "|" + exe)
    {
        t.settings(settings), mdSettings::getSettings(t.app), t.app.notice = [this](const QString& text) { told << text; };
        FakeProcess& app = t.processes.add(500, name, lacks.contains("path") ? "" : exe, 400);
        app.killable = !lacks.contains("kill"), app.launch = lacks.contains("args") ? std::nullopt : std::optional(launch);
        t.processes.add(400, "explorer", "/usr/bin/explorer").alive = !lacks.contains("parent"), t.write(name, "binary");
        QFile f(exe);
        EXPECT_TRUE(f.open(QFile::Append) && f.setFileTime({{2006, 3, 7}, {9, 5}}, QFile::FileModificationTime)
                    && (!lacks.contains("file") || f.remove()));
        t.files.failRemoves.insert(lacks.contains("remove") ? name : "");
        main.guard.time.start(1000), main.guard.tmpTicks = 7, main.findNotes = "notes", main.move(3, 3);
        main.guard.appKilled = main.guard.appStopped = true;   // left over from an earlier candidate
        main.guard.TakeProcesses();
        // Its parent waits its turn too: these alerts ask about one program.
        main.guard.queued.clear();
        QApplication::processEvents();   // lays the details box out
    }
    // "bad" on the working deny list runs twice beside "other", which is unknown.
    void crowd() { t.app.denyTmp.add("bad"), t.processes.add(11, "other"), t.processes.add(12, "bad"), t.processes.add(13, "bad"); }
};

std::string str(const QString& text) { return text.toStdString(); }

// The button looks unready: keys do not press it yet.
bool dimmed(const QWidget* button) { return button->graphicsEffect() && button->graphicsEffect()->isEnabled(); }

// An alert for `name` (path unknown) whose Find Path searches the test's folders sys, win, prog, tmp and drive.
struct SearchBed : Alert {
    explicit SearchBed(const QString& name = "app") : Alert({}, "path", name)
    {
        main.guard.dirSystem = t.path("sys"), main.guard.dirWindows = t.path("win");
        t.env.vars = {{"ProgramFiles", t.path("prog")}, {"TMP", t.path("tmp")}, {"SystemDrive", t.path("drive")}};
    }
    QString copy(const QString& name)
    {
        t.write(name, QByteArray(1536, 'x'));
        QFile f(t.path(name));
        return f.open(QIODevice::ReadWrite) && f.setFileTime({{2006, 3, 7}, {9, 5}}, QFile::FileModificationTime) ? t.path(name) : "";
    }
    QString shown(const QString& path) { return "path: " + path + "; date: 2006.03.07 9:05; size: 1.5K"; }
    std::string text() const { return str(main.txtPath->toPlainText()); }
};

} // namespace

TEST(Alert, DetailsAndDecisions)
{
    const auto allow = &frmMain::btnAllow, allowNow = &frmMain::btnAllowNow, del = &frmMain::btnDelete;
    const auto deny = &frmMain::btnDeny, denyNow = &frmMain::btnDenyNow, close = &frmMain::btnClose;
    const decltype(close) desktop = nullptr;   // the window manager's close
    const QString details = "opened by: explorer; path: $; date: 2006.03.07 9:05; size: 6b";
    const struct {
        const char* safeLevel;
        QString lacks;
        std::vector<ImageButton* frmMain::*> presses;
        const char* records;   // how often the record is in allowList, allowTmp, denyList, denyTmp
        int tmpTicks, kills;
        bool restarted;
        QString open;        // the text of an alert left open ($ stands for the path); null: closed
    } cases[] = {
        {"0", "", {}, "0000", 7, 0, false, details},
        {"1", "path", {}, "0000", 7, 0, false, "belongs to ann: can be listed, not ended\nopened by: explorer"},
        {"1", "parent", {}, "0000", 7, 1, false, details.mid(21)},
        {"1", "parent file kill", {}, "0000", 7, 1, false, "path: $"},
        {"1", "", {allow}, "1100", 7, 1, true, {}},
        {"1", "", {allowNow}, "0100", 0, 1, true, {}},
        {"1", "args", {allowNow}, "0100", 0, 1, false, {}},   // not without its arguments
        {"0", "", {deny}, "0011", 7, 1, false, {}},
        {"0", "kill", {deny, deny}, "0012", 7, 2, false, "can't deny app: it belongs to ann: can be listed, not ended"},   // the save drops the twin
        {"0", "", {denyNow}, "0001", 0, 1, false, {}},
        {"0", "kill", {denyNow}, "0001", 0, 1, false, "can't deny app: it belongs to ann: can be listed, not ended"},
        {"1", "", {close}, "0000", 7, 1, false, {}},
        {"0", "", {desktop}, "0000", 7, 0, false, {}},
        {"0", "", {del}, "0001", 0, 1, false, "confirm delete $"},
        {"0", "kill", {del}, "0001", 0, 1, false, "confirm delete $\ncan't deny app: it belongs to ann: can be listed, not ended"},
        {"0", "", {del, deny}, "0012", 0, 1, false, {}},
        {"0", "", {del, del}, "0001", 0, 1, false, {}},
        {"0", "remove", {del, del}, "0001", 0, 1, false, "can't delete app"},   // the next press tries again
        // Only what the alert stopped under safe_level 1 starts again, never what Delete ended.
        {"0", "", {del, allow}, "1101", 0, 1, false, {}},
        {"1", "", {del, allow}, "1101", 0, 1, true, {}},
        {"1", "path", {del, allow}, "1101", 0, 1, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        Alert a({{"safe_level", c.safeLevel}}, c.lacks);
        const bool path = !c.lacks.contains("path"), stopped = !a.t.processes.table[0].alive;
        EXPECT_EQ(std::tuple(a.main.guard.appKilled, a.main.guard.appStopped, a.main.lblStopped->isVisible(), a.main.pos()),
                  std::tuple(stopped, stopped, stopped, QPoint(1024 - 280, 738 - 180)));   // back in the corner
        EXPECT_TRUE(a.main.btnDelete->isVisible() == path && a.main.btnFindPath->isVisible() != path);
        // Real arguments that read like the old "could not be read" are arguments all the same.
        EXPECT_EQ(a.main.guard.appArgs, *c.safeLevel == '1' && !c.lacks.contains("args") ? "mirvak: 777" : "");
        const QString tip = "<p style='white-space:pre-wrap'>process id: 500<br>user: ann<br>command line: 'a b"
                            + QString(QChar(0xDCFF)) + "' mirvak: 777<br>working folder: /w<br>parent: 400 /usr/bin/explorer</p>";
        EXPECT_TRUE(!c.lacks.isEmpty() || a.main.txtPath->toolTip() == tip) << a.main.txtPath->toolTip().toStdString();
        a.main.guard.appPath = a.exe;
        bool closeAccepted = false;
        for (auto button : c.presses)
            button ? emit (a.main.*button)->mouseUp() : void(closeAccepted = a.main.close());
        const Collection* lists[] = {&a.t.app.allowList, &a.t.app.allowTmp, &a.t.app.denyList, &a.t.app.denyTmp};
        for (int l = 0; l < 4; ++l)
            EXPECT_EQ(QStringList(lists[l]->begin(), lists[l]->end()), QStringList(c.records[l] - '0', a.record));
        for (const auto& [name, l] : {std::pair("allow.csv", 0), std::pair("deny.csv", 2)})
            EXPECT_EQ(a.t.read(name), c.records[l] > '0' ? (a.record + "\r\n").toUtf8() : "") << name;
        EXPECT_EQ(std::tuple(a.main.guard.tmpTicks, a.t.processes.killed, closeAccepted),
                  std::tuple(c.tmpTicks, std::vector<qint64>(c.kills, 500), false));
        EXPECT_EQ(a.t.shell.started, decltype(a.t.shell.started)(c.restarted, {a.exe, a.launch}));
        const bool remove = c.lacks.contains("remove"), deleted = !remove && std::ranges::count(c.presses, del) == 2;
        EXPECT_EQ(QFile::exists(a.exe), !c.lacks.contains("file") && !deleted);
        EXPECT_EQ(a.t.read("error.log").split('\r')[0], remove ? "frmMain.btnDelete_MouseUp: Permission denied" : "");
        EXPECT_EQ(std::tuple(a.main.isVisible(), a.main.guard.time.isActive(), a.main.guard.deleteArmed),
                  std::tuple(!c.open.isNull(), true, c.open.contains("delete")));
        EXPECT_EQ(a.main.isVisible() ? a.main.txtPath->toPlainText() : a.main.findNotes,
                  QString(c.open).replace("$", a.exe));
    }
}

// Keys decide only on a button the user tabbed to, and only after a quiet second in the alert or a click into it (keys
// typed for another window decide nothing); until then the decision buttons look dimmed.
TEST(AlertView, KeysDecideOnlyAfterTabAndAQuietSecondOrAClick)
{
    // Steps from an alert that came up and took the focus at 0 ms: "<ms> <key> [<button that takes the focus>]", "click",
    // "again" (shown again); then the list file that holds it, whether it is still up, and whether the buttons look
    // dimmed at the end.
    const std::tuple<QStringList, std::string, bool, bool> runs[] = {
        {{"0 Tab", "600 Tab", "1200 Tab", "1200 Return"}, "", true, true},   // each key restarts the wait
        {{"999 Tab", "1998 Tab", "2998 Tab", "2998 Return"}, "allow.csv", false, false},
        {{"1000 Tab", "1000 Tab", "1000 Return"}, "deny.csv", false, false},
        {{"500 Escape", "500 Return"}, "", true, true},
        {{"click", "0 Return", "0 Space", "0 Enter"}, "", true, false},   // the window's own focus decides nothing
        {{"click", "0 Tab", "0 Space"}, "allow.csv", false, false},
        {{"click", "again", "0 Tab", "0 Return"}, "", true, true},
        {{"0 Tab", "1000 Escape"}, "", false, false},
        {{"click", "0 Tab btnAllow", "0 Tab btnDeny", "0 Tab btnAllowNow", "0 Tab btnDenyNow", "0 Tab btnSearch",
          "0 Tab btnDelete", "0 Tab btnClose", "0 Tab btnAllow", "0 Shift+Backtab btnClose", "0 Shift+Backtab btnDelete"},
         "", true, false},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(&run - runs);
        const auto& [steps, file, open, dim] = run;
        Alert v;
        QApplication::setActiveWindow(&v.main);
        EXPECT_TRUE(dimmed(v.main.btnAllow));
        for (const QString& step : steps) {
            if (step == "click")
                QTest::mouseClick(v.main.lblApp, Qt::LeftButton);
            else if (step == "again")
                v.main.guard.ShowMsg();
            else {
                v.t.desktop.clock = step.section(' ', 0, 0).toLongLong();
                const QKeyCombination key = QKeySequence::fromString(step.section(' ', 1, 1))[0];
                QTest::keyClick(static_cast<QWidget*>(nullptr), key.key(), key.keyboardModifiers());
            }
            if (step.count(' ') == 2) {
                const ImageButton* button = v.main.findChild<ImageButton*>(step.section(' ', 2));
                EXPECT_TRUE(button && QApplication::focusWidget() == button && button->keyReady()) << step.toStdString();
            }
        }
        EXPECT_EQ(v.main.isVisible(), open);
        EXPECT_EQ(dimmed(v.main.btnAllow) && dimmed(v.main.btnDeny), dim);
        for (const char* name : {"allow.csv", "deny.csv"})
            EXPECT_EQ(v.t.read(name), name == file ? (v.record + "\r\n").toUtf8() : "") << name;
    }
}

// While the alert asks only the deny list acts; its notices come once a minute for a program and at most one in ten
// seconds, and kill_notice=0 silences them.
TEST(AlertGuard, DenyListHoldsWhileTheAlertAsksAndItsNoticesAreLimited)
{
    const struct { qint64 at; const char* name; QStringList told; } steps[] = {
        {1000, "bad", {}}, {2000, "b2", {}}, {3000, "b3", {}},
        {10000, "bad", {"Ended b2 (/bin/b2): it is on the deny list, and 1 more."}},
        {59999, "b2", {}}, {60000, "bad", {"Ended bad: it is on the deny list."}}};
    Alert g({{"clean_value", "5"}}, "");
    g.crowd();
    g.t.processes.find(13)->killable = false;
    g.t.app.denyTmp.add("b2");
    g.t.app.denyTmp.add("b3");
    const auto state = [&g] { return std::tuple(g.main.guard.appRecord, g.main.guard.appPid, g.main.guard.tmpTicks, g.t.app.seenRecords); };
    const auto before = state();
    g.main.guard.time_Timer();
    EXPECT_TRUE(g.main.guard.time.isActive());
    EXPECT_EQ(g.t.processes.killed, std::vector<qint64>({12, 13}));
    EXPECT_EQ(std::exchange(g.told, {}), QStringList{"Ended bad: it is on the deny list."});
    for (const auto& s : steps) {   // a denied program started again (b2 with a path)
        g.t.desktop.clock = s.at;
        g.t.processes.add(20, s.name, QString(s.name) == "b2" ? "/bin/b2" : "");
        g.main.guard.time_Timer();
        EXPECT_EQ(std::exchange(g.told, {}), s.told) << s.at;
    }
    EXPECT_EQ(state(), before);
    // The candidate ended meanwhile: Deny and Deny Now say so.
    g.t.processes.table[0].alive = false;
    for (auto deny : {&frmMain::btnDeny_MouseUp, &frmMain::btnDenyNow_MouseUp}) {
        g.main.txtPath->clear();
        (g.main.*deny)();
        EXPECT_EQ(g.main.txtPath->toPlainText(), "can't deny app: it has already ended");
    }
    // A file without the key tells (above); 0 tells nothing; a bad value fails as other settings do.
    for (const char* value : {"0", "yes"}) {
        Alert off({{"kill_notice", value}}, "");
        off.crowd(), off.main.guard.time_Timer();
        EXPECT_EQ(off.told, QStringList());
        EXPECT_EQ(off.t.read("error.log").left(40), value[0] == '0' ? "" : "frmMain.tellKills: Type mismatch: 'yes' ");
    }
}

TEST(Placement, BesideTheTrayIconWhenTheAreaHoldsItElseInTheCornerOfTheAvailableArea)
{
    // No icon: panels on the left and right, and an area smaller than the window keeps its corner inside. Icons at the
    // bottom, top, left and in a corner: beside it and inside the screen, unless the area leaves the icon's panel out.
    const QRect screen(0, 0, 1024, 768);
    const QRect bottom(900, 744, 24, 24);
    Alert g;
    for (const auto& [available, tray, at] : {std::tuple(QRect(48, 0, 976, 768), QRect(), QPoint(744, 588)),
             {QRect(0, 0, 976, 768), QRect(), QPoint(696, 588)}, {QRect(10, 20, 200, 100), QRect(), QPoint(10, 20)},
             {screen, bottom, QPoint(644, 564)}, {screen, QRect(900, 0, 24, 24), QPoint(644, 24)},
             {screen, QRect(0, 300, 24, 24), QPoint(24, 144)}, {screen, QRect(1000, 744, 24, 24), QPoint(744, 564)},
             {QRect(0, 0, 1024, 738), bottom, QPoint(744, 558)}}) {
        g.t.desktop.available = available;
        g.t.desktop.tray = tray;
        mdDesign::frmBalloon(g.t.app, &g.main);
        EXPECT_EQ(g.main.pos(), at);
    }
    EXPECT_ANY_THROW(mdDesign::availablePlace(QRect(), {280, 180}));
}

TEST(Search, FirstUnlistedCopyLevelByLevelWithListedCopiesNoted)
{
    const struct {
        QStringList files;   // sys/app and win/app are on the working allow list, drive/x/app on the deny list
        QString found;       // empty: nothing found
        QString text;        // # stands for the line of the copy found, @ for the test's folder
        QString name = "app";
    } cases[] = {
        {{"sys/app", "sys/a/b/app", "sys/m/app", "sys/z/y/app"}, "sys/m/app", "#; find in allow: @sys/app"},
        {{"@win/app", "drive/x/app"}, "", "find in allow: @win/app; find in deny: @drive/x/app"},   // @: a link to a copy
        {{"prog/.App", "drive/.cache/.app"}, "drive/.cache/.app", "#", ".app"},
        {{}, "", "can't find the path"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(str(c.files.join(' ')));
        SearchBed s(c.name);
        // Never copies: a folder, a pipe and a dangling link of the name, and a copy behind a link to a folder.
        QDir().mkpath(s.t.path("tmp/d/app")), QDir().mkpath(s.t.path("win"));
        ASSERT_EQ(mkfifo(s.t.path("tmp/app").toLocal8Bit().constData(), 0600), 0);
        ASSERT_TRUE(!s.copy("elsewhere/app").isEmpty() && QFile::link(s.t.path("elsewhere"), s.t.path("tmp/link"))
                    && QFile::link("/none", s.t.path("tmp/d/app/app")));
        s.t.app.allowTmp.add("app|" + s.t.path("sys/app"));
        s.t.app.allowTmp.add("app|" + s.t.path("win/app")), s.t.app.denyTmp.add("app|" + s.t.path("drive/x/app"));
        for (const QString& file : c.files)
            file.startsWith('@') ? void(QFile::link(s.t.path("elsewhere/app"), s.t.path(file.mid(1)))) : void(s.copy(file));
        s.main.btnFindPath_MouseUp();
        const QString found = c.found.isEmpty() ? "" : s.t.path(c.found);
        EXPECT_EQ(s.text(), str(QString(c.text).replace("#", s.shown(found)).replace("@", s.t.path(""))));
        EXPECT_EQ(str(s.main.guard.appPath + " " + s.main.guard.appRecord),
                  str(found.isEmpty() ? " " + s.record : found + " " + s.main.guard.strProcess(c.name, found)));
        EXPECT_EQ(std::tuple(s.main.btnDelete->isVisible(), s.main.btnFindPath->isVisible(), s.t.exists("error.log")),
                  std::tuple(!found.isEmpty(), found.isEmpty(), false));
        EXPECT_EQ(s.t.files.listed.contains(s.t.path("win/")), !c.found.startsWith("sys/"));
    }
}

TEST(Search, ASearchEndsWithItsAlertAndANewAlertSearchesAfresh)
{
    for (bool shownAgain : {false, true}) {
        SearchBed s;
        for (int i = 0; i < 300; ++i)
            s.t.write(QString("sys/%1/%2/f").arg(i / 10).arg(i % 10), "x");
        const QString tool = (s.copy("win/app"), s.copy("win/tool"));
        s.t.desktop.onEvents = [&] {
            if (s.t.desktop.passes == 2)
                s.main.btnFindPath_MouseUp();   // pressed again while the search runs: nothing more
            if (s.t.desktop.passes == 250) {   // closed; perhaps a tick shows it for another program
                s.main.hide(), s.main.setVisible(shownAgain), s.main.guard.appName = "tool";
                if (shownAgain)
                    s.main.btnFindPath_MouseUp();
            }
        };
        s.main.btnFindPath_MouseUp();
        // The first search lists nothing after the close (sys holds 331 folders), and leaves no dots or result.
        EXPECT_EQ(s.t.files.listed.size(), shownAgain ? 249 + 331 + 1 : 249);
        const std::string expected = shownAgain ? str(s.shown(tool)) : "searching\\.+";
        EXPECT_TRUE(std::regex_match(s.text(), std::regex(expected))) << s.text();
        EXPECT_EQ(str(s.main.guard.appPath), str(shownAgain ? tool : ""));
    }
}

// A name that would not read back as itself: the alert says so, and Allow or Deny holds for the present period only.
TEST(Lists, TheAlertSaysWhenItsDecisionCannotBeKept)
{
    const QString count = "a number after its last \"|\", which reads back as a count";
    for (const auto& [name, why, decide, file] : {std::tuple("a|1", count, &frmMain::btnAllow_MouseUp, "allow.csv"),
             {"q\nsleep", QString("a line break in its name or path"), &frmMain::btnDeny_MouseUp, "deny.csv"}}) {
        Alert a({}, "", name);
        EXPECT_TRUE(a.main.txtPath->toPlainText().endsWith("\ncan't be kept in a list (" + why + "): Allow and Deny hold for "
                                                           "the present period")) << a.main.txtPath->toPlainText().toStdString();
        (a.main.*decide)();
        const Collection& tmp = *file == 'a' ? a.t.app.allowTmp : a.t.app.denyTmp;
        EXPECT_EQ(std::tuple(a.t.exists(file), tmp.search(a.record, ""), a.main.guard.tmpTicks), std::tuple(false, 1, 0));
        EXPECT_EQ(a.told, QStringList(QString("Can't keep %1 in %2: %3; the decision holds for the present period.")
                                          .arg(QString(name).simplified(), file, why)));
    }
}

// The default button counts down on the fake clock; at zero its decision is taken as if pressed, unless a click came first.
TEST(AlertView, CountsDownToTheDefaultDecisionUnlessTheUserActs)
{
    // alert_default, its button and caption, a click at 5 s, whether it stays up, then Deny Now's and Allow Now's records.
    const std::tuple<QString, ImageButton* frmMain::*, QString, bool, bool, int, int> runs[] = {
        {"close", &frmMain::btnClose, "Close", false, false, 0, 0},
        {"deny_now", &frmMain::btnDenyNow, "Deny now", false, false, 1, 0},
        {"allow_now", &frmMain::btnAllowNow, "Allow now", false, false, 0, 1},
        {"deny_now", &frmMain::btnDenyNow, "Deny now", true, true, 0, 0},
    };
    for (const auto& [decision, button, caption, click, open, denied, allowed] : runs) {
        SCOPED_TRACE(decision.toStdString() + (click ? " clicked" : ""));
        Alert v({{"alert_timeout", "12"}, {"alert_default", decision}});
        const QLabel* shown = v.main.findChild<QLabel*>("lblCountdown");
        const auto at = [&v](qint64 ms) {
            v.t.desktop.clock = ms;
            v.main.findChild<Countdown*>()->poll();
        };
        EXPECT_EQ((v.main.*button)->text(), caption + " (12)");
        at(5000);
        EXPECT_EQ(shown->text(), caption + " (7)");
        if (click)
            QTest::mouseClick(v.main.lblApp, Qt::LeftButton);
        at(11999);
        EXPECT_TRUE(v.main.isVisible());
        at(12000);
        EXPECT_EQ(std::tuple(v.main.isVisible(), (v.main.*button)->text(), shown->isVisible()), std::tuple(open, caption, false));
        EXPECT_EQ(std::pair(v.t.app.denyTmp.count(), v.t.app.allowTmp.count()), std::pair(denied, allowed));
    }
    // Without the settings, as in older files, nothing counts.
    Alert old;
    EXPECT_FALSE(old.main.findChild<Countdown*>()->running());
}

// The alert says how many more programs wait; the queue itself is the guard's own test.
TEST(AlertView, SaysHowManyMoreWait)
{
    Alert v({}, "parent");
    v.t.processes.add(11, "other");
    v.t.processes.add(12, "more");
    v.main.guard.time_Timer();
    const QLabel* line = v.main.findChild<QLabel*>("lblQueue");
    for (const char* waiting : {"2 more waiting", "1 more waiting", ""}) {
        EXPECT_EQ(line->isVisible() ? line->text() : "", waiting);
        v.main.btnAllow_MouseUp();
    }
}

// In a system font 1.5 times the default nothing is cut: the alert's caption and name, the first start's text, a list's
// tenth row, the About title.
TEST(Fonts, NothingIsCutInALargerFont)
{
    const QFont before = QApplication::font();
    QFont font = before;
    font.setPointSizeF(before.pointSizeF() * 1.5);
    QApplication::setFont(font);
    Alert v;
    EXPECT_GE(v.main.lblName->height(), v.main.lblName->fontMetrics().height());
    EXPECT_GT(v.main.lblName->x(), v.main.lblApp->geometry().right());
    v.main.offerTrust();
    ASSERT_TRUE(v.main.trust);
    const QLabel* text = v.main.trust->lblText;
    EXPECT_GE(text->height(), text->heightForWidth(text->width()));
    for (int i = 0; i < 12; ++i)
        v.t.app.allowList.add(QString("tool%1|/usr/bin/tool%1").arg(i));
    frmList list(v.t.app, v.main.guard, frmList::Kind::Allow);
    list.listLoad();
    list.show();
    EXPECT_LE(list.List->rowViewportPosition(9) + list.List->rowHeight(9), list.List->viewport()->height());
    frmAbout about(v.t.app, v.main.guard);
    EXPECT_LE(about.lblAbout->fontMetrics().horizontalAdvance(about.lblAbout->text()), about.lblAbout->width());
    QApplication::setFont(before);
}
