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
        t.settings(settings), t.write("allow.csv", allow), t.write("deny.csv", deny);
        ASSERT_EQ(m.Form_Load(), frmMain::Start::Running);
    }
    QString exe(const QString& name, int bytes = 10) { return t.write("bin/" + name, QByteArray(bytes, 'x')), t.path("bin/" + name); }
    void tick(int times = 1) { while (times-- > 0) m.time_Timer(); }
    QString alert() const { return m.isVisible() ? m.appRecord : "(none)"; }
    std::pair<std::string, bool> seen() const { return {t.app.seenRecords.toStdString(), t.app.seenPending}; }
};

} // namespace

TEST(Scan, OneCandidatePerTickInSnapshotOrder)
{
    Scan s;
    auto& procs = s.t.processes;
    s.t.program.name = "Mirvak.bin";
    const QString ok = s.exe("ok"), bad = s.exe("bad"), a = s.exe("a");
    procs.add(1, "System");
    procs.add(2, "Mirvak.bin", s.t.program.exePath());   // itself, known by its path
    procs.add(3, "Mirvak.bin");   // another user's copy: its path is refused
    procs.add(10, "ok", ok);
    procs.add(11, "tool");   // another user's: matched by name
    procs.add(12, "bad", bad).killable = false, procs.add(13, "a", a, 7), procs.add(14, "tool2"), procs.add(15, "system");
    procs.add(16, "ok").missing = platform::PathState::Unreadable;   // a name it chose proves nothing
    s.start({}, ("ok|" + ok + "\r\ntool|/x/tool\r\n").toUtf8(), ("bad|" + bad + "\r\n").toUtf8());
    // The next one comes once this one is settled; the denied process that would not end is tried again.
    for (const QString& record : {"a|" + a, QString("tool2"), QString("system"), QString("ok")}) {
        s.tick();
        EXPECT_EQ(std::pair(s.alert(), s.m.appParent), std::pair(record, QString(record == "a|" + a ? "7" : "1")));
        s.m.btnAllowNow_MouseUp();
    }
    EXPECT_TRUE(s.t.processes.killed == std::vector<qint64>(4, 12) && !s.t.exists("error.log"));
}

TEST(Scan, PendingCandidateSettledByItsLatePath)
{
    for (const bool denied : {true, false}) {
        Scan s;
        const QByteArray record = ("late|" + s.exe("late") + "\r\n").toUtf8();
        s.t.processes.add(20, "late").missing = platform::PathState::Unreadable;
        s.start({{"path_search", "3"}}, denied ? "" : record, denied ? record : ""), s.tick();
        s.t.processes.table[0].path = s.t.path("bin/late"), s.tick();
        EXPECT_EQ(std::pair(s.alert(), s.t.processes.table[0].alive), std::pair(QString("(none)"), !denied));
    }
}

TEST(Scan, WaitAndTickCounters)
{
    Scan s;
    s.t.processes.add(20, "slow"), s.start({{"check_interval", "0.1"}, {"path_search", "3"}}, {}, "bad\r\n"), s.tick();
    s.t.processes.add(21, "bad"), s.tick(29);   // not looked at while the candidate is pending
    EXPECT_EQ(std::tuple(s.alert(), s.m.waitTicks, s.t.processes.killed.size()), std::tuple("(none)", 30, 0u));
    s.tick();
    EXPECT_EQ(std::pair(s.alert(), s.m.waitTicks), std::pair(QString("slow"), 0));

    // A zero interval cannot divide the wait; the tick still counts.
    s.m.hide(), s.m.time.setInterval(0), s.tick();
    EXPECT_TRUE(s.m.tmpTicks == 32 && s.t.read("error.log").startsWith("frmMain.TakeProcesses: Division by zero"));
    mdSettings::setSetting(s.t.app, "tmp_interval", "1e12");
    s.m.tmpTicks = std::numeric_limits<int>::max(), s.t.app.allowTmp.add("slow"), s.tick();
    EXPECT_TRUE(s.m.tmpTicks == std::numeric_limits<int>::max() && s.t.read("error.log").startsWith("frmMain.time_Timer: Overflow"));
}

TEST(Scan, PeriodAndUsageTracking)
{
    const struct {
        const char *clean, *minutes;   // minutes 0: the working lists are rebuilt at every tick
        int quiet, counted;   // ticks until the present period's decision is forgotten; tmpTicks after that
        std::string seenFirst, seenLater;
        bool pendingLater;
    } cases[] = {{"5", "1", 60, 1, "perm:d:", "perm:d:perm:d:tmp:", false}, {"0", "0", 0, 0, "", "", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.minutes);
        Scan s;
        s.t.processes.add(30, "perm"), s.t.processes.add(31, "d").killable = false, s.t.processes.add(32, "tmp");
        s.start({{"tmp_interval", c.minutes}, {"clean_value", c.clean}}, "perm\r\n", "d\r\n"), s.tick();
        EXPECT_EQ(s.seen(), std::pair(c.seenFirst, true));   // a walk that ends at a candidate leaves it open
        s.m.btnAllowNow_MouseUp(), s.tick(c.quiet);
        EXPECT_EQ(std::pair(s.alert(), s.seen()), std::pair(QString("(none)"), std::pair(c.seenLater, c.pendingLater)));
        s.tick();
        EXPECT_EQ(std::pair(s.alert(), s.m.tmpTicks), std::pair(QString("tmp"), c.counted));
    }
}

TEST(Scan, RecordsAndSizes)
{
    // list_level 2: matched in any letter case until the file's size changes.
    Scan s;
    const QString app = s.t.processes.add(53, "app", s.exe("app", 1536)).path;
    s.start({{"list_level", "2"}}, ("APP|1.5K|" + app.toUpper() + "\r\n").toUtf8()), s.tick();
    EXPECT_EQ(s.alert(), "(none)");
    s.exe("app", 2048), s.tick();
    EXPECT_EQ(s.alert(), "app|2K|" + app);
    ASSERT_TRUE(QFile::resize(s.exe("big"), 3LL << 30));   // sparse
    EXPECT_EQ(s.m.strProcess("big", s.t.path("bin/big")), "big|3072M|" + s.t.path("bin/big"));
    // Level 3 adds the date (hour without a leading zero); a hidden file is known by its name alone.
    QFile f(app);
    mdSettings::setSetting(s.t.app, "list_level", "3");
    ASSERT_TRUE(f.open(QFile::ReadWrite) && f.setFileTime({{2006, 3, 7}, {9, 5}}, QFile::FileModificationTime));
    EXPECT_EQ(s.m.strProcess("app", app), "app|2006.03.07 9:05|2K|" + app);
    EXPECT_EQ(s.m.strProcess(".app", s.exe(".app")), ".app");

    // A record must not change with the locale.
    const QLocale before;
    QLocale::setDefault(QLocale::German);
    const std::pair<qint64, const char*> cases[] = {
        {0, "0b"}, {1023, "1023b"}, {1024, "1K"}, {1536, "1.5K"}, {1152, "1.12K"}, {1408, "1.38K"},
        {1000000, "976.56K"}, {1048575, "1024K"}, {1048576, "1M"}, {1179648, "1.12M"}, {1572864, "1.5M"},
        {3221225472LL, "3072M"}, {std::numeric_limits<qint64>::max(), "8796093022208M"}};
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(s.m.fSize(bytes), text) << bytes;
    QLocale::setDefault(before);
}
