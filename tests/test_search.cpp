#include "Fakes.h"
#include "design/ImageButton.h"
#include "guard/frmMain.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// Texts compared as standard strings, for readable failures.
std::string str(const QString& text) { return text.toStdString(); }
std::string str(const QStringList& list) { return list.join('\n').toStdString(); }

// Real files that note every folder listed, and may act when one is.
class ListingFiles : public FakeFiles {
public:
    QStringList listed;
    std::function<void(const QString&)> onList;
    std::vector<Entry> list(const QString& folder) override
    {
        listed << folder;
        if (onList)
            onList(folder);
        return FakeFiles::list(folder);
    }
};

// An alert shown for "app" (pid 42, path unknown); the five roots are the
// test's folders sys, win, prog, tmp and drive.
struct SearchBed {
    TestBed t;
    ListingFiles files;
    App app{{t.processes, files, t.env, t.shell, t.desktop, t.program}};
    frmMain main{app};

    SearchBed()
    {
        for (const char* root : {"sys", "win", "prog", "tmp", "drive"})
            QDir().mkpath(t.path(root));
        t.env.system = main.dirSystem = t.path("sys");
        t.env.windows = main.dirWindows = t.path("win");
        t.env.vars["ProgramFiles"] = t.path("prog");
        t.env.vars["TMP"] = t.path("tmp");
        t.env.vars["SystemDrive"] = t.path("drive");
        app.settingList.add("1", "list_level");
        app.settingList.add("1", "error_log");
        t.processes.add(42, "app");
        main.appName = "app";
        main.appPid = 42;
        main.show();
        main.btnDelete->hide();
    }
    // A 1536-byte file last changed on 2006.03.07 9:05.
    QString copy(const QString& name)
    {
        t.write(name, QByteArray(1536, 'x'));
        QFile f(t.path(name));
        f.open(QIODevice::ReadWrite);
        f.setFileTime(QDateTime(QDate(2006, 3, 7), QTime(9, 5)), QFileDevice::FileModificationTime);
        return t.path(name);
    }
    std::string shown(const QString& path) { return str("path: " + path + "; date: 2006.03.07 9:05; size: 1.5K"); }
    std::string text() const { return str(main.txtPath->toPlainText()); }
    bool foundShown() const { return main.btnDelete->isVisible() && !main.btnFindPath->isVisible(); }
    QStringList roots(const QString& last) { return {t.path("sys/"), t.path("win/"), t.path("prog/"), t.path("tmp/"), last}; }
};

} // namespace

TEST(Search, BreadthFirstInTheFirstRootBeforeTheNextIsListed)
{
    SearchBed s;
    s.copy("sys/a/b/app");
    const QString near = s.copy("sys/z/app");
    s.copy("win/app");
    s.main.btnFindPath_MouseUp();
    EXPECT_EQ(s.text(), s.shown(near));
    EXPECT_EQ(str(s.main.appRecord), str("app|" + near));
    EXPECT_EQ(str(s.main.appPath), str(near));
    EXPECT_TRUE(s.foundShown());
    EXPECT_FALSE(s.files.listed.contains(s.t.path("win/")));
    EXPECT_FALSE(s.t.exists("error.log"));
}

TEST(Search, ListedCopiesAreNotedAndPassedOver)
{
    SearchBed s;
    const QString allowed = s.copy("sys/app"), deep = s.copy("sys/d/app");
    s.app.allowTmp.add("APP|" + allowed.toUpper());
    s.main.btnFindPath_MouseUp();
    EXPECT_EQ(s.text(), s.shown(deep) + str("; find in allow: " + allowed));

    SearchBed only;
    const QString a = only.copy("win/app"), d = only.copy("drive/x/app");
    only.app.allowTmp.add("app|" + a);
    only.app.denyTmp.add("app|" + d);
    only.main.btnFindPath_MouseUp();
    EXPECT_EQ(only.text(), str("find in allow: " + a + "; find in deny: " + d));
    EXPECT_TRUE(only.main.appPath.isEmpty());
    EXPECT_FALSE(only.foundShown());
}

TEST(Search, FreshPathNeedsNoWalkAndAFailingRootIsLoggedAndPassed)
{
    SearchBed s;
    const QString exe = s.copy("bin/app");
    s.t.processes.table[0].path = exe;
    s.main.btnFindPath_MouseUp();
    EXPECT_EQ(s.text(), s.shown(exe));   // no progress dots
    EXPECT_EQ(s.t.desktop.passes, 0);
    EXPECT_TRUE(s.files.listed.isEmpty());

    SearchBed other;   // the name ends the path only in its own letter case
    other.t.processes.table[0].path = other.copy("bin/App");
    other.copy("sys/a/app");
    other.files.onList = [](const QString& folder) {
        if (folder.endsWith("sys/a/"))
            throw std::runtime_error("Permission denied");
    };
    other.main.btnFindPath_MouseUp();
    EXPECT_EQ(other.text(), "can't find the path");
    EXPECT_EQ(str(other.files.listed.mid(2)), str(other.roots(other.t.path("drive/")).mid(1)));
    EXPECT_EQ(other.t.read("error.log").count("frmMain.DirSearch: Permission denied"), 1);
}

TEST(Search, UnsetRootIsTheRootFolderAndRootsSkipTheWayToOthers)
{
    SearchBed s;
    s.t.env.vars["SystemDrive"] = "";
    s.t.env.vars["ProgramFiles"] = s.t.path("prog/");   // no second "/"
    s.files.onList = [&](const QString& folder) { if (folder == "/") s.main.hide(); };
    EXPECT_EQ(str(s.main.trgSearch("app")), "");   // "/" ends at its first entry, hidden
    EXPECT_EQ(str(s.files.listed), str(s.roots("/")));

    // Root 1 ends in a copy of the path of drive/b: drive/b is still searched.
    SearchBed n;
    n.t.env.system = n.main.dirSystem = n.t.path("drive/nest") + n.t.path("drive/b");
    n.t.env.windows = n.main.dirWindows = n.t.path("drive/w");
    n.t.env.vars["TMP"] = n.t.path("drive/home/u/tmp");
    for (const QString& dir : {n.main.dirSystem, n.main.dirWindows, n.t.env.vars["TMP"]})
        QDir().mkpath(dir);
    n.copy("drive/home/app");   // only on the way to a root
    const QString found = n.copy("drive/b/app");
    n.main.btnFindPath_MouseUp();
    EXPECT_EQ(str(n.main.appPath), str(found));
    for (const char* dir : {"drive/home/", "drive/home/u/", "drive/nest/"})
        EXPECT_FALSE(n.files.listed.contains(n.t.path(dir))) << dir;
    EXPECT_EQ(n.files.listed.count(n.t.path("drive/w/")), 1);
}

TEST(Search, ClosingTheAlertStopsWithoutAMessage)
{
    SearchBed s;
    for (int i = 0; i < 300; ++i)
        s.t.write(QString("sys/%1/%2/f").arg(i / 10).arg(i % 10), "x");
    s.copy("win/app");   // a top folder is still looked at after the close
    s.t.desktop.onEvents = [&] { if (s.t.desktop.passes == 250) s.main.hide(); };
    s.main.btnFindPath_MouseUp();
    // Progress dots only, about one in 15 folders; no result, no message.
    const std::string dots = s.text().substr(std::min<size_t>(12, s.text().size()));
    EXPECT_TRUE(s.text().starts_with("searching...") && dots.size() > 2 && dots.find_first_not_of('.') == dots.npos)
        << s.text();
    EXPECT_TRUE(s.main.appPath.isEmpty());
    EXPECT_FALSE(s.main.btnDelete->isVisibleTo(&s.main));
    EXPECT_EQ(s.files.listed.size(), 250 + 1);   // root 1 up to the close, then root 2's top
}

TEST(Search, OnlyRegularFilesOfTheExactNameAndNoLinkedFolders)
{
    SearchBed s;
    s.copy("sys/App");
    QDir().mkpath(s.t.path("sys/d/app"));
    ASSERT_EQ(mkfifo(s.t.path("win/app").toLocal8Bit().constData(), 0600), 0);
    s.copy("elsewhere/app");
    QFile::link(s.t.path("elsewhere"), s.t.path("tmp/link"));
    s.main.btnFindPath_MouseUp();
    EXPECT_EQ(s.text(), "can't find the path");
    EXPECT_FALSE(s.files.listed.contains(s.t.path("tmp/link/")));

    const QString hidden = s.copy("drive/.cache/app");
    s.main.btnFindPath_MouseUp();
    EXPECT_EQ(str(s.main.appPath), str(hidden));
    s.main.appName = ".app";
    const QString dotted = s.copy("tmp/.app");
    s.main.btnFindPath_MouseUp();
    EXPECT_EQ(str(s.main.appPath), str(dotted));
}

TEST(Search, SecondPressDuringASearchDoesNothing)
{
    SearchBed s;
    QDir().mkpath(s.t.path("sys/a/b"));
    std::string during;
    s.t.desktop.onEvents = [&] {
        if (s.t.desktop.passes != 2)
            return;
        s.main.findNotes = "kept";
        s.main.btnFindPath_MouseUp();
        during = s.text() + "|" + str(s.main.findNotes);
    };
    s.main.btnFindPath_MouseUp();
    EXPECT_TRUE(during.starts_with("searching...") && during.ends_with("|kept")) << during;
    EXPECT_EQ(s.files.listed.removeDuplicates(), 0);
    EXPECT_EQ(s.text(), "kept");
}

TEST(SearchFiles, ListingGivesKindsWithoutFollowingFolderLinks)
{
    TestBed t;
    t.write("d/file", "x");
    t.write("d/.hidden", "x");
    QDir().mkpath(t.path("d/sub"));
    QFile::link(t.path("d/sub"), t.path("d/tosub"));
    QFile::link(t.path("d/file"), t.path("d/tofile"));
    QFile::link(t.path("d/none"), t.path("d/dangling"));
    mkfifo(t.path("d/fifo").toLocal8Bit().constData(), 0600);
    platform::LinuxFiles files;
    QStringList kinds;
    for (const auto& e : files.list(t.path("d")))
        kinds << e.name + ":" + (e.folder ? "D" : "") + (e.regular ? "F" : "");
    kinds.sort();
    EXPECT_EQ(str(kinds), str(QStringList({".hidden:F", "dangling:", "fifo:", "file:F", "sub:D", "tofile:F", "tosub:"})));
    EXPECT_TRUE(files.list(t.path("missing")).empty());
}
