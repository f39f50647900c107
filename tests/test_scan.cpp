// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "guard/frmMain.h"
#include "store/mdSettings.h"

#include <QLocale>
#include <limits>

namespace {

struct Scan {
    TestBed t;
    frmMain m{t.app};

    void start(const QList<QPair<QString, QString>>& settings = {}, const QByteArray& allow = {}, const QByteArray& deny = {})
    {
        t.settings(settings);
        t.write("allow.csv", allow);
        t.write("deny.csv", deny);
        ASSERT_EQ(m.Form_Load(), frmMain::Start::Running);
    }
    QString exe(const QString& name, int bytes = 10)
    {
        t.write("bin/" + name, QByteArray(bytes, 'x'));
        return t.path("bin/" + name);
    }
    void tick(int times = 1) { while (times-- > 0) m.guard.time_Timer(); }
    QString alert() const { return m.isVisible() ? m.guard.appRecord : "(none)"; }
};

// Level 4 with its hashes counted, run at once until defer() keeps them for the test to run.
struct Hashing : Scan {
    int computed = 0;
    std::vector<std::function<void()>> tasks;   // hashes started and not yet run
    const QString tool = exe("tool", 5000);
    explicit Hashing(const char* wait = "0")
    {
        start({{"list_level", "4"}, {"path_search", wait}});
        t.app.hashes.hash = [this, real = t.app.hashes.hash](qint64 pid, const QString& path, const auto& version) {
            ++computed;
            return real(pid, path, version);
        };
        t.app.hashes.run = [](std::function<void()> task) { task(); };
    }
    void defer() { t.app.hashes.run = [this](std::function<void()> task) { tasks.push_back(std::move(task)); }; }
    QString record() { return m.guard.strProcess("tool", tool); }
};

} // namespace

// Only the path the system gives this very process makes it the program itself: a copy elsewhere is another program.
// What it started for itself (a bus helper and its daemon) is neither asked about nor ended, even denied. HEAD and
// head are two programs: a deny record of one never ends the other.
TEST(Scan, OneCandidatePerTickInSnapshotOrder)
{
    Scan s;
    auto& procs = s.t.processes;
    s.t.program.name = "Mirvak.bin";
    const QString ok = s.exe("ok"), bad = s.exe("bad"), a = s.exe("a"), copy = s.exe("Mirvak.bin");
    const QString upper = s.exe("HEAD"), lower = s.exe("head");
    procs.self = 2;
    // Itself, known by its path; another user's copy, its path refused; a copy of it; another user's tool, matched by
    // name; ok under a name it chose, which proves nothing; what the guard started for itself (100 to 102).
    for (const auto& [pid, name, path, parent] : {std::tuple(1, "System", QString(), 1), {2, "Mirvak.bin", s.t.program.exePath(), 1},
             {3, "Mirvak.bin", "", 1}, {4, "Mirvak.bin", copy, 1}, {10, "ok", ok, 1}, {11, "tool", "", 1}, {12, "bad", bad, 1},
             {13, "a", a, 7}, {14, "tool2", "", 1}, {15, "system", "", 1}, {16, "ok", "", 1}, {100, "dbus-launch", "/usr/bin/dbus-launch", 2},
             {101, "dbus-daemon", "/usr/bin/dbus-daemon", 100}, {102, "helper", "/usr/bin/helper", 2},
             {103, "dbus-launch", "/usr/bin/dbus-launch", 1}, {104, "HEAD", upper, 1}, {105, "head", lower, 1}})
        procs.add(pid, name, path, parent);
    procs.find(12)->killable = false;
    procs.find(16)->missing = platform::PathState::Unreadable;
    const QString deny = "bad|" + bad + "\r\nMirvak.bin|" + copy + "\r\nMirvak.bin|" + s.t.program.exePath()
        + "\r\ndbus-launch\r\ndbus-daemon\r\nHEAD|" + upper + "\r\n";   // the bus programs are not on every machine
    s.start({}, ("ok|" + ok + "\r\ntool|/x/tool\r\n").toUtf8(), deny.toUtf8());
    // The next one comes once this one is settled; the denied process that would not end is tried again.
    for (const QString& record : {"a|" + a, QString("tool2"), QString("system"), QString("ok"), "head|" + lower}) {
        s.tick();
        EXPECT_EQ(std::pair(s.alert(), s.m.guard.appParent), std::pair(record, QString(record == "a|" + a ? "7" : "1")));
        s.m.btnAllowNow_MouseUp();
    }
    EXPECT_EQ(s.t.processes.killed, (std::vector<qint64>{4, 12, 103, 104, 12, 12, 12, 12}));
    EXPECT_FALSE(s.t.exists("error.log"));
}

// Seen while its path was refused (a program that changes its user), then exec'ing another: the alert and the
// list name the program that runs. While a candidate waits the deny list holds; a path that never comes is waited
// for path_search, then asked about.
TEST(Scan, ReplacedOrLateCandidatesWaitWhileTheDenyListHolds)
{
    Scan s;
    s.start({{"check_interval", "0.1"}, {"path_search", "3"}}, {}, "bad\r\n");
    s.t.processes.add(30, "setpriv");
    s.tick();
    s.t.processes.add(21, "bad");
    s.tick();
    EXPECT_EQ(std::tuple(s.alert(), s.m.guard.waitTicks, s.t.processes.killed), std::tuple("(none)", 2, std::vector<qint64>{21}));
    FakeProcess& setpriv = s.t.processes.table[0];
    setpriv.name = "prog";
    setpriv.path = s.exe("prog");
    setpriv.execed = true;
    s.tick();
    EXPECT_EQ(std::pair(s.alert(), s.m.guard.appName), std::pair("prog|" + setpriv.path, QString("prog")));
    s.m.btnAllow_MouseUp();
    EXPECT_EQ(s.t.read("allow.csv"), ("prog|" + setpriv.path + "\r\n").toUtf8());
    s.t.processes.add(31, "slow");
    s.tick(30);
    EXPECT_EQ(std::pair(s.alert(), s.m.guard.waitTicks), std::pair(QString("(none)"), 30));
    s.tick();
    EXPECT_EQ(std::pair(s.alert(), s.m.guard.waitTicks), std::pair(QString("slow"), 0));
}

// list_level 2: matched until the file's size changes. An Allow Now holds for the period of tmp_interval ticks, then
// the program is asked about again.
TEST(Scan, RecordsSizesAndTheAllowNowPeriod)
{
    Scan s;
    const QString app = s.t.processes.add(53, "app", s.exe("app", 1536)).path;
    s.start({{"list_level", "2"}, {"tmp_interval", "1"}}, ("app|1.5K|" + app + "\r\n").toUtf8());
    s.tick();
    EXPECT_EQ(s.alert(), "(none)");
    s.exe("app", 2048);
    s.tick();
    EXPECT_EQ(s.alert(), "app|2K|" + app);
    s.m.btnAllowNow_MouseUp();
    s.tick(60);
    EXPECT_EQ(s.alert(), "(none)");
    s.tick();
    EXPECT_EQ(std::pair(s.alert(), s.m.guard.tmpTicks), std::pair("app|2K|" + app, 1));
    // A record must not change with the locale.
    const QLocale before;
    QLocale::setDefault(QLocale::German);
    const std::pair<qint64, const char*> cases[] = {{0, "0b"}, {1023, "1023b"}, {1024, "1K"}, {1152, "1.12K"}, {1408, "1.38K"},
        {1048575, "1024K"}, {1179648, "1.12M"}, {std::numeric_limits<qint64>::max(), "8796093022208M"}};
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(s.m.guard.fSize(bytes), text) << bytes;
    QLocale::setDefault(before);
}

// Level 4 adds the content's SHA-256 to level 3, which cannot tell apart two files of the same size and
// date; each version is hashed once, and its record keeps the hash.
TEST(Hash, OneSha256PerVersionAndARewriteInPlaceNoLongerMatches)
{
    Hashing h;
    const QString first = h.record();
    EXPECT_EQ(h.record(), first);
    mdSettings::setSetting(h.t.app, "list_level", "3");
    const QString dated = h.record();
    EXPECT_EQ(first, dated + "|sha256:c59d3c0480cc2d71d8f646e735e92da65450311eec46e81a5db8c7e6e8a92054");
    // Rewritten in place with other bytes of the same size, its date set back.
    const QDateTime date = QFileInfo(h.tool).lastModified();
    QFile f(h.tool);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite) && f.write(QByteArray(5000, 'b')) == 5000 && f.flush()
                && f.setFileTime(date, QFileDevice::FileModificationTime));
    EXPECT_EQ(h.record(), dated);
    mdSettings::setSetting(h.t.app, "list_level", "4");
    const QString rewritten = h.record();
    EXPECT_NE(rewritten, first);
    // The record keeps its hash: the sweeps let the cache's copy go, and it is not hashed again.
    h.t.app.hashes.sweep();
    h.t.app.hashes.sweep();
    EXPECT_EQ(std::tuple(h.record(), h.computed, h.t.app.hashes.size()), std::tuple(rewritten, 2, 0));
}

// A denied process ends at the tick after its hash is known, or at once when its alert is already up. What runs that
// cannot be hashed is asked about: the level-3 record of its file, which any file of the same name, date and size
// shares, neither allows nor ends it.
TEST(Hash, PendingHashNeitherBlocksTheTickNorSparesADeniedProgramAndAnUnhashedOneIsAsked)
{
    for (const auto& [wait, list, hashed] : {std::tuple("0", "deny", true), {"3000", "deny", true}, {"0", "allow", false},
             {"0", "deny", false}, {"3000", "allow", false}, {"3000", "deny", false}}) {
        SCOPED_TRACE(std::string(wait) + " " + list + (hashed ? "" : " unhashed"));
        Hashing h(wait);
        mdSettings::setSetting(h.t.app, "list_level", hashed ? "4" : "3");
        const QString record = h.record();
        mdSettings::setSetting(h.t.app, "list_level", "4");
        for (Collection* c : *list == 'a' ? std::vector{&h.t.app.allowList, &h.t.app.allowTmp} : std::vector{&h.t.app.denyList, &h.t.app.denyTmp})
            c->add(record);
        // The sweeps and the cleared cache forget the record's hash: the process's own waits for the test.
        h.t.app.hashes.sweep();
        h.t.app.hashes.sweep();
        h.t.app.knownFiles.clear();
        if (!hashed)
            h.t.app.hashes.hash = [](qint64, const QString&, const auto&) { return std::optional<QByteArray>(); };
        h.defer();
        h.t.processes.add(20, "tool", h.tool);
        h.m.guard.time_Timer();
        ASSERT_EQ(h.tasks.size(), 1u);
        EXPECT_EQ(std::pair(h.t.processes.table[0].alive, h.m.isVisible()), std::pair(true, *wait == '0'));
        h.tasks.front()();
        h.m.guard.time_Timer();
        EXPECT_EQ(std::pair(h.t.processes.table[0].alive, h.m.isVisible()), std::pair(!hashed, !hashed));
    }
    // Allow or Deny, for good or for now, pressed before the hash is known: the record with its hash holds once it is.
    for (const auto& [press, file, denied] : {std::tuple(&frmMain::btnAllow_MouseUp, "allow.csv", false),
             {&frmMain::btnDeny_MouseUp, "deny.csv", true}, {&frmMain::btnAllowNow_MouseUp, "-", false},
             {&frmMain::btnDenyNow_MouseUp, "-", true}}) {
        Hashing h;
        h.defer();
        h.t.processes.add(20, "tool", h.tool);
        h.m.guard.time_Timer();
        ASSERT_TRUE(h.m.isVisible() && h.m.guard.appHashPending);
        (h.m.*press)();
        h.m.guard.time_Timer();   // not asked about again while its hash is pending
        EXPECT_FALSE(h.t.read(file).contains("tool") || h.m.isVisible());
        h.tasks.front()();
        h.t.processes.add(21, "tool", h.tool);
        h.m.guard.time_Timer();   // the same program again, in the same period
        EXPECT_EQ(std::tuple(h.t.read(file), h.m.isVisible(), h.t.processes.table.back().alive),
                  std::tuple(*file == '-' ? QByteArray() : (h.record() + "\r\n").toUtf8(), false, !denied)) << file;
    }
}

// Start-up takes what the settings window takes; it names what it refuses, and nothing is guarded then.
TEST(Startup, RewritesTimerPeriodAndTopmostOrLogsWhyNothingIsGuarded)
{
    // check_interval, tmp_interval, always_top and one more setting in; stored check_interval and path_search, interval,
    // ticks (120 s / 7 s: 18) and topmost out, or what error.log says.
    const QString refused = "frmMain.Form_Load: settings.ini: ";
    for (const QStringList& c : {QStringList{"0", "60", "1.0", "list_level", "1", "0.1 3000 100 36000 top"},
             {"-3", "60", "0", "list_level", "1", "0.1 3000 100 36000"}, {"7", "2", "1", "list_level", "1", "7 3000 7000 18 top"},
             {"1", "60", "0", "list_level", " 4 ", "1 3000 1000 3600"}, {"1", "60", "0", "list_level", "5", refused + "list_level=5: a whole number from 0 to 4"},
             {"1", "60", "0", "list_level", "2.5", refused + "list_level=2.5: a whole number from 0 to 4"},
             {"1", "60", "0", "path_search", "1e300", refused + "path_search=1e300: too long for a check every 1 seconds"},
             {"1", "60", "0", "check_interval", "0.0004", refused + "check_interval=0.0004: at least 0.001 (a millisecond)"},
             {"1", "60", "0", "check_interval", "", refused + "check_interval=: not a number: digits, with \".\" before a fraction"}}) {
        Scan s;
        bool told = false;
        QObject::connect(&s.m.guard, &Guard::notGuarding, [&] { told = true; });
        s.start({{"check_interval", c[0]}, {"path_search", "3"}, {"tmp_interval", c[1]}, {"always_top", c[2]}, {c[3], c[4]}});
        const QString guarded = QString("%1 %2 %3 %4%5").arg(mdSettings::getSetting(s.t.app, "check_interval"), mdSettings::getSetting(s.t.app, "path_search"))
                                    .arg(s.m.guard.time.interval()).arg(s.m.guard.tmpTicks).arg(s.m.windowFlags() & Qt::WindowStaysOnTopHint ? " top" : "");
        const QString log = s.t.read("error.log").split('\r')[0];
        EXPECT_EQ(std::tuple(told ? log : guarded + log, s.m.guard.time.isActive(), told, s.m.isVisible()),
                  std::tuple(c[5], !told, c[5].startsWith(refused), false)) << c.join(" ").toStdString();
    }
}

TEST(Startup, EndsWithoutSettingsOrWhenAnotherCopyRunsAndOnlyTheOwnerClearsLeftovers)
{
    TestBed none, second;
    second.settings();
    second.program.lockFree = false;
    // Temporary copies of the own files go; suffixes that people type stay.
    const QStringList files{"allow.csv.gKsdij", "deny.csv.ZZaaZZ", "error.log.aBcDeF", "settings.ini.QwErTy", "allow.csv.backup",
                            "allow.csvXgKsdij", "deny.csv.BACKUP", "other.txt.gKsdij", "settings.ini.backup"};
    for (TestBed* t : {&none, &second})
        for (const QString& name : files)
            t->write(name, "x");
    frmMain first(none.app), copy(second.app);
    int trays = 0;
    first.guard.loadTray = copy.guard.loadTray = [&] { ++trays; };
    EXPECT_EQ(std::tuple(first.Form_Load(), copy.Form_Load()), std::tuple(frmMain::Start::NoSettings, frmMain::Start::SecondCopy));
    EXPECT_EQ(trays, 1);   // the tray comes up after the lock, before the settings
    EXPECT_EQ(QDir(none.tmp.path()).entryList(QDir::Files), files.mid(4));
    EXPECT_EQ(QDir(second.tmp.path()).entryList(QDir::Files).size(), files.size() + 1);
    EXPECT_FALSE(first.guard.time.isActive() || second.app.settingList.count() || second.exists("error.log"));
}
