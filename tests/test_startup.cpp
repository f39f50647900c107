#include "Fakes.h"
#include "guard/frmMain.h"
#include "platform/linux/LinuxServices.h"
#include "store/mdSettings.h"

#include <gtest/gtest.h>

using mdSettings::getSetting;

TEST(Startup, IntervalRewritesAndTimer)
{
    struct Case {
        const char* check;
        const char* stored;
        int interval;
        bool ticking;
    };
    for (const Case& c : {Case{"0", "0.1", 100, true}, Case{"-3", "0.1", 100, true}, Case{"2.5", "2.5", 2500, true},
                          Case{"0.0004", "0.0004", 0, false}}) {
        TestBed t;
        t.settings({{"check_interval", c.check}, {"path_search", "3"}});
        frmMain main(t.app);
        ASSERT_EQ(main.Form_Load(), frmMain::Start::Running) << c.check;
        EXPECT_EQ(getSetting(t.app, "check_interval"), c.stored) << c.check;
        EXPECT_EQ(getSetting(t.app, "path_search"), "3000");
        EXPECT_EQ(main.time.interval(), c.interval) << c.check;
        EXPECT_EQ(main.time.isActive(), c.ticking) << c.check;
        EXPECT_FALSE(t.exists("error.log")) << c.check;
        EXPECT_FALSE(main.isVisible());
    }
}

TEST(Startup, PeriodPresetMakesTheFirstTickRefill)
{
    TestBed t;
    t.settings({{"check_interval", "7"}, {"tmp_interval", "2"}});
    frmMain main(t.app);
    ASSERT_EQ(main.Form_Load(), frmMain::Start::Running);
    EXPECT_EQ(main.tmpTicks, 18);   // 120 / 7 rounds to 17, and 7 * 17 < 120
    EXPECT_TRUE(t.app.seenPending);
    EXPECT_EQ(main.dirWindows, "/usr");
    EXPECT_EQ(main.dirSystem, "/usr/bin");
}

TEST(Startup, MissingKeyLogsAndLeavesTheTimerOff)
{
    for (const char* key : {"check_interval", "always_top", "tmp_interval"}) {
        TestBed t;
        QByteArray text;
        for (const char* line : {"error_log=1", "startup_load=0", "check_interval=1", "path_search=3",
                                 "tmp_interval=60", "always_top=1"})
            if (!QByteArray(line).startsWith(key))
                text += QByteArray(line) + "\r\n";
        t.write("settings.ini", text);
        frmMain main(t.app);
        EXPECT_EQ(main.Form_Load(), frmMain::Start::Running);
        EXPECT_FALSE(main.time.isActive()) << key;
        EXPECT_TRUE(t.read("error.log").startsWith("frmMain.Form_Load: Type mismatch")) << key;
    }
}

TEST(Startup, EndsWithoutSettingsOrWhenAnotherCopyRuns)
{
    TestBed none;
    frmMain first(none.app);
    int trays = 0;
    first.loadTray = [&] { ++trays; };
    EXPECT_EQ(first.Form_Load(), frmMain::Start::NoSettings);
    EXPECT_EQ(trays, 1);
    EXPECT_FALSE(first.time.isActive());

    TestBed second;
    second.settings();
    second.program.lockFree = false;
    frmMain copy(second.app);
    copy.loadTray = [&] { ++trays; };
    EXPECT_EQ(copy.Form_Load(), frmMain::Start::SecondCopy);
    EXPECT_EQ(trays, 1);
    EXPECT_EQ(second.app.settingList.count(), 0);
    EXPECT_FALSE(second.exists("error.log"));
}

TEST(Startup, AlwaysTopOnlyForExactlyOne)
{
    for (const auto& [value, top] : {std::pair{"1.0", true}, std::pair{"2", false}, std::pair{"0", false}}) {
        TestBed t;
        t.settings({{"always_top", value}});
        frmMain main(t.app);
        main.Form_Load();
        EXPECT_EQ(main.windowFlags().testFlag(Qt::WindowStaysOnTopHint), top) << value;
    }
}

TEST(Startup, LockLeftWithThisProcessIdIsTakenOver)
{
    // A copy that crashed leaves its lock; a new session may give the next
    // copy the same process id, which must not read as "another copy runs".
    QTemporaryDir runtime;
    const QByteArray old = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    platform::LinuxProgram program;
    const QString path = runtime.path() + "/mirvak-" + program.exeName() + ".lock";
    QByteArray contents;
    {
        QLockFile left(path);
        ASSERT_TRUE(left.tryLock(0));
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        contents = f.readAll();
    }
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(contents);
    f.close();
    EXPECT_TRUE(program.takeInstanceLock());
    qputenv("XDG_RUNTIME_DIR", old);
}
