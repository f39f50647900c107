#include "Fakes.h"
#include "guard/frmMain.h"
#include "store/mdSettings.h"

#include <QLocale>
#include <gtest/gtest.h>
#include <limits>
#include <memory>

namespace {

// A started main window over a fake process table.
struct Scan {
    TestBed t;
    std::unique_ptr<frmMain> m;

    void start(const QList<QPair<QString, QString>>& settings = {}, const QByteArray& allow = {},
               const QByteArray& deny = {})
    {
        t.settings(settings);
        if (!allow.isEmpty())
            t.write("allow.csv", allow);
        if (!deny.isEmpty())
            t.write("deny.csv", deny);
        m = std::make_unique<frmMain>(t.app);
        ASSERT_EQ(m->Form_Load(), frmMain::Start::Running);
    }
    QString exe(const QString& name, int bytes = 10)
    {
        t.write("bin/" + name, QByteArray(bytes, 'x'));
        return t.path("bin/" + name);
    }
    void tick(int times = 1)
    {
        for (int i = 0; i < times; ++i)
            m->time_Timer();
    }
    bool alerted() const { return !m->time.isActive(); }
    // The user settles the alert for the present period.
    void allowNow()
    {
        t.app.allowTmp.add(m->appRecord);
        m->HideMsg();
    }
};

constexpr int kMax = std::numeric_limits<int>::max();

} // namespace

TEST(Scan, AllowedDeniedAndUnknownInSnapshotOrder)
{
    Scan s;
    const QString ok = s.exe("ok"), bad = s.exe("bad"), a = s.exe("a"), b = s.exe("b");
    s.t.processes.add(10, "ok", ok);
    s.t.processes.add(11, "bad", bad).killable = false;
    s.t.processes.add(12, "a", a, 7);
    s.t.processes.add(13, "b", b);
    s.start({}, ("ok|" + ok + "\r\n").toUtf8(), ("bad|" + bad + "\r\n").toUtf8());
    ASSERT_TRUE(s.m->time.isActive());

    s.tick();
    EXPECT_EQ(s.t.processes.killed, std::vector<qint64>({11}));
    EXPECT_TRUE(s.alerted());
    EXPECT_EQ(s.m->appPid, 12);
    EXPECT_EQ(s.m->appParent, "7");
    EXPECT_EQ(s.m->appRecord, "a|" + a);
    EXPECT_EQ(s.m->appArgs, "");
    EXPECT_EQ(s.m->waitTicks, 0);

    // The second unknown comes once the first is settled; the denied process
    // that would not end is tried again.
    s.allowNow();
    ASSERT_FALSE(s.alerted());
    s.tick();
    EXPECT_TRUE(s.alerted());
    EXPECT_EQ(s.m->appPid, 13);
    EXPECT_EQ(s.t.processes.killed, std::vector<qint64>({11, 11}));
    EXPECT_FALSE(s.t.exists("error.log"));
}

TEST(Scan, SkipsSystemEntriesAndItselfOnly)
{
    Scan s;
    s.t.processes.add(1, "System");
    s.t.processes.add(2, "[System Process]");
    s.t.processes.add(3, "");
    s.t.processes.add(4, "Mirvak", s.t.program.exePath());
    s.t.processes.add(5, "Mirvak");
    s.t.processes.add(6, QString("Mirvak") + QChar(0) + "junk");
    s.t.processes.add(7, "mirvak");
    s.t.processes.add(8, "Mirvak", s.exe("Mirvak"));   // a copy in another folder
    s.t.processes.add(9, "system");
    s.start();
    for (qint64 pid : {7, 8, 9}) {
        s.tick();
        EXPECT_TRUE(s.alerted()) << pid;
        EXPECT_EQ(s.m->appPid, pid);
        s.allowNow();
    }
    s.tick();
    EXPECT_FALSE(s.alerted());
    EXPECT_TRUE(s.t.processes.killed.empty());

    // Process id 0 ends the walk: what follows is not examined and the walk
    // does not count as complete.
    Scan z;
    z.t.processes.add(0, "idle");
    z.t.processes.add(5, "unknown");
    z.start();
    z.tick();
    EXPECT_FALSE(z.alerted());
    EXPECT_TRUE(z.t.app.seenPending);
}

TEST(Scan, PendingCandidateWaitsForItsPath)
{
    Scan s;
    s.t.processes.add(20, "slow");
    s.start({{"check_interval", "0.1"}, {"path_search", "3"}}, {}, "bad\r\n");
    ASSERT_EQ(s.m->time.interval(), 100);
    s.tick();
    s.t.processes.add(21, "bad");   // not looked at while the candidate is pending
    s.tick(29);
    EXPECT_FALSE(s.alerted());
    EXPECT_EQ(s.m->waitTicks, 30);
    EXPECT_TRUE(s.t.processes.killed.empty());
    s.tick();
    EXPECT_TRUE(s.alerted());
    EXPECT_EQ(s.m->waitTicks, 0);
    EXPECT_EQ(s.m->appRecord, "slow");

    // Settled early once the arguments are readable; denied meanwhile, it is ended.
    Scan e;
    const QString app = e.exe("app");
    e.t.processes.add(22, "app", app);
    e.start({{"check_interval", "0.1"}, {"path_search", "3"}, {"safe_level", "1"}});
    e.tick();
    EXPECT_EQ(e.m->waitTicks, 1);
    EXPECT_EQ(e.m->appArgs, platform::kArgsSentinel);
    e.t.processes.table[0].args = "-x";
    e.t.app.denyTmp.add("APP|" + app);
    e.tick();
    EXPECT_EQ(e.m->waitTicks, 0);
    EXPECT_EQ(e.m->appArgs, "-x");
    EXPECT_EQ(e.t.processes.killed, std::vector<qint64>({22}));
    EXPECT_FALSE(e.alerted());

    // Without path_search there is no waiting.
    Scan n;
    n.t.processes.add(23, "now");
    n.start({{"check_interval", "0.1"}});
    n.tick();
    EXPECT_TRUE(n.alerted());
}

TEST(Scan, TemporaryDecisionsEndWithThePeriod)
{
    Scan s;
    s.t.processes.add(30, "perm");
    s.t.processes.add(31, "tmp");
    s.start({{"tmp_interval", "1"}}, "perm\r\n");
    s.tick();
    ASSERT_TRUE(s.alerted());
    ASSERT_EQ(s.m->appRecord, "tmp");
    s.allowNow();
    s.tick(59);
    EXPECT_FALSE(s.alerted());
    EXPECT_EQ(s.m->tmpTicks, 60);
    s.tick();
    EXPECT_TRUE(s.alerted());
    EXPECT_EQ(s.m->appRecord, "tmp");
    EXPECT_EQ(s.t.app.allowTmp.count(), 1);

    // tmp_interval 0: a decision lasts until the next tick.
    Scan z;
    z.t.processes.add(32, "tmp");
    z.start({{"tmp_interval", "0"}});
    z.tick();
    z.allowNow();
    z.tick();
    EXPECT_TRUE(z.alerted());
    EXPECT_EQ(z.m->tmpTicks, 0);
}

TEST(Scan, CounterFailuresAreLogged)
{
    Scan s;
    s.t.processes.add(40, "x");
    s.start({{"path_search", "3"}});
    mdSettings::setSetting(s.t.app, "tmp_interval", "1e12");
    s.m->tmpTicks = kMax;
    s.t.app.allowTmp.add("x");
    s.tick();
    EXPECT_EQ(s.m->tmpTicks, kMax);
    EXPECT_TRUE(s.t.read("error.log").startsWith("frmMain.time_Timer: Overflow"));

    // A zero interval cannot divide the wait; the tick's count still goes on.
    s.m->tmpTicks = 5;
    s.t.app.allowTmp = Collection();
    s.m->time.setInterval(0);
    s.tick();
    EXPECT_EQ(s.m->tmpTicks, 6);
    EXPECT_EQ(s.m->waitTicks, 0);
    EXPECT_TRUE(s.t.read("error.log").startsWith("frmMain.TakeProcesses: Division by zero"));

    s.m->time.setInterval(1000);
    mdSettings::setSetting(s.t.app, "path_search", "1e300");
    s.m->waitTicks = kMax;
    s.tick();
    EXPECT_EQ(s.m->waitTicks, kMax);
    EXPECT_TRUE(s.t.read("error.log").startsWith("frmMain.TakeProcesses: Overflow"));
}

TEST(Scan, MatchingByNameAndBySize)
{
    // A process whose path cannot be read matches records of its name.
    Scan s;
    s.t.processes.add(50, "app");
    s.t.processes.add(51, "tool");
    s.t.processes.add(52, "app2");
    s.start({}, "app|/x/app\r\ntool\r\n");
    s.tick();
    EXPECT_TRUE(s.alerted());
    EXPECT_EQ(s.m->appRecord, "app2");

    // list_level 2: matched in any letter case until the file's size changes.
    Scan l;
    const QString app = l.exe("app", 1536);
    l.t.processes.add(53, "app", app);
    l.start({{"list_level", "2"}}, ("APP|1.5K|" + app.toUpper() + "\r\n").toUtf8());
    l.tick();
    EXPECT_FALSE(l.alerted());
    l.exe("app", 2048);
    l.tick();
    EXPECT_TRUE(l.alerted());
    EXPECT_EQ(l.m->appRecord, "app|2K|" + app);
}

TEST(Scan, UsageTracking)
{
    Scan s;
    s.t.processes.add(60, "a");
    s.t.processes.add(61, "d").killable = false;
    s.start({{"clean_value", "5"}}, "a\r\n", "d\r\n");
    s.tick();
    EXPECT_EQ(s.t.app.seenRecords, "a:d:");
    EXPECT_FALSE(s.t.app.seenPending);
    s.tick();
    EXPECT_EQ(s.t.app.seenRecords, "a:d:");

    // A walk that ends at a candidate leaves the tracking open.
    s.t.app.seenPending = true;
    s.t.processes.add(62, "u");
    s.tick();
    EXPECT_TRUE(s.alerted());
    EXPECT_EQ(s.t.app.seenRecords, "a:d:a:d:");
    EXPECT_TRUE(s.t.app.seenPending);

    Scan off;
    off.t.processes.add(63, "a");
    off.start({}, "a\r\n");
    off.tick();
    EXPECT_EQ(off.t.app.seenRecords, "");
    EXPECT_FALSE(off.t.app.seenPending);
}

TEST(Scan, RecordFields)
{
    Scan s;
    s.start({{"list_level", "3"}});
    const QString app = s.exe("app", 1536);
    QFile file(app);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime(QDate(2024, 3, 5), QTime(7, 8)), QFileDevice::FileModificationTime));
    file.close();
    EXPECT_EQ(s.m->strProcess("app", app), "app|2024.03.05 7:08|1.5K|" + app);
    const QString hidden = s.exe(".app");
    EXPECT_EQ(s.m->strProcess(".app", hidden), ".app");
    EXPECT_EQ(s.m->strProcess("app", s.t.path("bin/none")), "app");
    EXPECT_EQ(s.m->strProcess("app", ""), "app");

    // Files of 2 GiB and more show their real size (a sparse file).
    const QString big = s.exe("big");
    ASSERT_TRUE(QFile::resize(big, 3LL << 30));
    mdSettings::setSetting(s.t.app, "list_level", "2");
    EXPECT_EQ(s.m->strProcess("big", big), "big|3072M|" + big);
    mdSettings::setSetting(s.t.app, "list_level", "0");
    EXPECT_EQ(s.m->strProcess("big", big), "big");
    EXPECT_FALSE(s.t.exists("error.log"));

    // A failure returns the record built so far.
    mdSettings::setSetting(s.t.app, "list_level", "");
    EXPECT_EQ(s.m->strProcess("app", app), "app");
    EXPECT_TRUE(s.t.read("error.log").startsWith("frmMain.strProcess: Type mismatch"));
}

TEST(Scan, SizeText)
{
    TestBed t;
    frmMain m(t.app);
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German));
    const std::pair<qint64, const char*> cases[] = {
        {0, "0b"},          {1023, "1023b"},     {1024, "1K"},          {1536, "1.5K"},
        {1152, "1.12K"},    {1408, "1.38K"},     {1000000, "976.56K"},  {1048575, "1024K"},
        {1048576, "1M"},    {1179648, "1.12M"},  {1572864, "1.5M"},     {3221225472LL, "3072M"},
        {std::numeric_limits<qint64>::max(), "8796093022208M"}};
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(m.fSize(bytes), text) << bytes;
    QLocale::setDefault(before);
}
