#include "Fakes.h"
#include "design/ImageButton.h"
#include "guard/frmMain.h"

#include <regex>
#include <sys/stat.h>

namespace {

std::string str(const QString& text) { return text.toStdString(); }

// Real files listed in name order, every folder noted; "/" fails, so the whole disk is never walked.
struct ListingFiles : FakeFiles {
    QStringList listed;
    std::vector<Entry> list(const QString& folder) override
    {
        listed << folder;
        if (folder == "/")
            throw std::runtime_error("Permission denied");
        auto entries = FakeFiles::list(folder);
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
        return entries;
    }
};

// An alert shown for "app" (pid 42, path unknown); roots: the test's folders sys, win, prog, tmp, drive.
struct SearchBed {
    TestBed t;
    ListingFiles files;
    App app{{t.processes, files, t.env, t.shell, t.desktop, t.program}};
    frmMain main{app};

    explicit SearchBed(const QString& name = "app")
    {
        main.dirSystem = t.path("sys"), main.dirWindows = t.path("win");
        t.env.vars = {{"ProgramFiles", t.path("prog")}, {"TMP", t.path("tmp")}, {"SystemDrive", t.path("drive")}};
        app.settingList.add("1", "list_level"), app.settingList.add("1", "error_log");
        main.appName = name, main.appPid = t.processes.add(42, "app").pid, main.show(), main.btnDelete->hide();
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
        s.app.allowTmp.add(("APP|" + s.t.path("sys/app")).toUpper());
        s.app.allowTmp.add("app|" + s.t.path("win/app")), s.app.denyTmp.add("app|" + s.t.path("drive/x/app"));
        for (const QString& file : c.files)
            file.startsWith('@') ? void(QFile::link(s.t.path("elsewhere/app"), s.t.path(file.mid(1)))) : void(s.copy(file));
        s.main.btnFindPath_MouseUp();
        const QString found = c.found.isEmpty() ? "" : s.t.path(c.found);
        EXPECT_EQ(s.text(), str(QString(c.text).replace("#", s.shown(found)).replace("@", s.t.path(""))));
        EXPECT_EQ(str(s.main.appPath + " " + s.main.appRecord),
                  str(found.isEmpty() ? " " : found + " " + s.main.strProcess(c.name, found)));
        EXPECT_EQ(std::tuple(s.main.btnDelete->isVisible(), s.main.btnFindPath->isVisible(), s.t.exists("error.log")),
                  std::tuple(!found.isEmpty(), found.isEmpty(), false));
        EXPECT_EQ(s.files.listed.contains(s.t.path("win/")), !c.found.startsWith("sys/"));
    }
}

TEST(Search, FreshPathNeedsNoWalkAndRootsAreSearchedApart)
{
    SearchBed s;
    s.t.processes.table[0].path = s.copy("bin/app"), s.main.btnFindPath_MouseUp();
    EXPECT_TRUE(s.text() == str(s.shown(s.t.path("bin/app"))) && s.files.listed.isEmpty());   // no progress dots

    // Another letter case; root 1 holds a lookalike of drive/b, root 3 is unset, root 4 ends with "/".
    s.t.processes.table[0].path = s.copy("bin/App");
    s.main.dirSystem = s.t.path("drive/nest") + s.t.path("drive/b"), s.main.dirWindows = s.t.path("drive/w");
    s.t.env.vars = {{"TMP", s.t.path("drive/home/u/tmp/")}, {"SystemDrive", s.t.path("drive")}};
    const QString found = (s.copy("drive/home/app"), s.copy("drive/b/app"));   // the first only on the way to a root
    s.main.btnFindPath_MouseUp();
    EXPECT_EQ(s.text(), str(s.shown(found)));
    const QStringList listed{s.main.dirSystem + "/", s.t.path("drive/w/"), "/", s.t.path("drive/home/u/tmp/"),
                             s.t.path("drive/"), s.t.path("drive/b/")};
    EXPECT_EQ(str(s.files.listed.join(' ')), str(listed.join(' ')));
    EXPECT_EQ(s.t.read("error.log").count("frmMain.DirSearch: Permission denied"), 1);
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
                s.main.hide(), s.main.setVisible(shownAgain), s.main.appName = "tool";
                if (shownAgain)
                    s.main.btnFindPath_MouseUp();
            }
        };
        s.main.btnFindPath_MouseUp();
        // The first search lists nothing after the close (sys holds 331 folders), and leaves no dots or result.
        EXPECT_EQ(s.files.listed.size(), shownAgain ? 249 + 331 + 1 : 249);
        const std::string expected = shownAgain ? str(s.shown(tool)) : "searching\\.+";
        EXPECT_TRUE(std::regex_match(s.text(), std::regex(expected))) << s.text();
        EXPECT_EQ(str(s.main.appPath), str(shownAgain ? tool : ""));
    }
}
