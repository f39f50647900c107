#include "Fakes.h"
#include "design/ImageButton.h"
#include "guard/frmMain.h"
#include "store/mdSettings.h"

namespace {

// A walk meets "app" (pid 500, file of 2006.03.07 9:05), started as "app\xff mirvak: 777" by "explorer" (pid 400). `lacks`
// names what is not there: parent, path (Find Path gives it once the alert is up), file, args, kill, remove.
struct Alert {
    TestBed t;
    frmMain main{t.app};
    QString exe = t.path("app"), record;
    platform::Launch launch{{"app\xff", "mirvak:", "777"}, "/w", QByteArrayList{"K=v"}};

    Alert(const char* safeLevel, const QString& lacks) : record(lacks.contains("path") ? "app" : "app|" + exe)
    {
        t.settings({{"safe_level", safeLevel}}), mdSettings::getSettings(t.app);
        FakeProcess& app = t.processes.add(500, "app", lacks.contains("path") ? "" : exe, 400);
        app.killable = !lacks.contains("kill"), app.launch = lacks.contains("args") ? std::nullopt : std::optional(launch);
        t.processes.add(400, "explorer", "/usr/bin/explorer").alive = !lacks.contains("parent"), t.write("app", "binary");
        QFile f(exe);
        EXPECT_TRUE(f.open(QFile::Append) && f.setFileTime({{2006, 3, 7}, {9, 5}}, QFile::FileModificationTime)
                    && (!lacks.contains("file") || f.remove()));
        t.files.failRemoves.insert(lacks.contains("remove") ? "app" : "");
        main.time.start(1000), main.tmpTicks = 7, main.findNotes = "notes", main.move(3, 3);
        main.appKilled = main.appStopped = true;   // left over from an earlier candidate
        main.TakeProcesses();
    }
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
        {"1", "path", {}, "0000", 7, 0, false, "opened by: explorer"},
        {"1", "parent", {}, "0000", 7, 1, false, details.mid(21)},
        {"1", "parent file kill", {}, "0000", 7, 1, false, "path: $"},
        {"1", "", {allow}, "1100", 7, 1, true, {}},
        {"1", "", {allowNow}, "0100", 0, 1, true, {}},
        {"1", "args", {allowNow}, "0100", 0, 1, false, {}},   // not without its arguments
        {"0", "", {deny}, "0011", 7, 1, false, {}},
        {"1", "", {deny}, "0011", 7, 1, false, {}},
        {"0", "kill", {deny, deny}, "0012", 7, 2, false, "can't deny app: it belongs to another user"},   // the save drops the twin
        {"0", "", {denyNow}, "0001", 0, 1, false, {}},
        {"1", "", {denyNow}, "0001", 0, 1, false, {}},
        {"0", "kill", {denyNow}, "0001", 0, 1, false, "can't deny app: it belongs to another user"},
        {"1", "", {close}, "0000", 7, 1, false, {}},
        {"0", "", {desktop}, "0000", 7, 0, false, {}},
        {"0", "", {del}, "0001", 0, 1, false, "confirm delete $"},
        {"0", "kill", {del}, "0001", 0, 1, false, "confirm delete $\ncan't deny app: it belongs to another user"},
        {"0", "", {del, close}, "0001", 0, 1, false, {}},
        {"0", "", {del, deny}, "0012", 0, 1, false, {}},
        {"0", "", {del, del}, "0001", 0, 1, false, {}},
        {"0", "remove", {del, del}, "0001", 0, 1, false, "can't delete app"},   // the next press tries again
        // Only what the alert stopped under safe_level 1 starts again, never what Delete ended.
        {"0", "", {del, allow}, "1101", 0, 1, false, {}},
        {"1", "", {del, allow}, "1101", 0, 1, true, {}},
        {"1", "path", {del, allow}, "1101", 0, 1, false, {}},
        {"1", "path args", {del, allow}, "1101", 0, 1, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        Alert a(c.safeLevel, c.lacks);
        const bool path = !c.lacks.contains("path"), stopped = !a.t.processes.table[0].alive;
        EXPECT_EQ(std::tuple(a.main.appKilled, a.main.appStopped, a.main.pos()),
                  std::tuple(stopped, stopped, QPoint(1024 - 280, 738 - 180)));   // back in the corner
        EXPECT_TRUE(a.main.btnDelete->isVisible() == path && a.main.btnFindPath->isVisible() != path);
        // Real arguments that read like the old "could not be read" are arguments all the same.
        EXPECT_EQ(a.main.appArgs, *c.safeLevel == '1' && !c.lacks.contains("args") ? "mirvak: 777" : "");
        a.main.appPath = a.exe;
        bool closeAccepted = false;
        for (auto button : c.presses)
            button ? emit (a.main.*button)->mouseUp() : void(closeAccepted = a.main.close());
        const Collection* lists[] = {&a.t.app.allowList, &a.t.app.allowTmp, &a.t.app.denyList, &a.t.app.denyTmp};
        for (int l = 0; l < 4; ++l)
            EXPECT_EQ(QStringList(lists[l]->begin(), lists[l]->end()), QStringList(c.records[l] - '0', a.record));
        for (const auto& [name, l] : {std::pair("allow.csv", 0), std::pair("deny.csv", 2)})
            EXPECT_EQ(a.t.read(name), c.records[l] > '0' ? (a.record + "\r\n").toUtf8() : "") << name;
        EXPECT_EQ(std::tuple(a.main.tmpTicks, int(a.t.processes.killed.size()), closeAccepted),
                  std::tuple(c.tmpTicks, c.kills, false));
        EXPECT_EQ(a.t.shell.started, decltype(a.t.shell.started)(c.restarted, {a.exe, a.launch}));
        const bool remove = c.lacks.contains("remove"), deleted = !remove && std::ranges::count(c.presses, del) == 2;
        EXPECT_EQ(QFile::exists(a.exe), !c.lacks.contains("file") && !deleted);
        EXPECT_EQ(a.t.read("error.log").split('\r')[0], remove ? "frmMain.btnDelete_MouseUp: Permission denied" : "");
        EXPECT_EQ(std::tuple(a.main.isVisible(), a.main.time.isActive(), a.main.deleteArmed),
                  std::tuple(!c.open.isNull(), true, c.open.contains("delete")));
        EXPECT_EQ(a.main.isVisible() ? a.main.txtPath->toPlainText() : a.main.findNotes,
                  QString(c.open).replace("$", a.exe));
    }
}
