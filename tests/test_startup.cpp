#include "Fakes.h"
#include "guard/frmMain.h"
#include "platform/linux/LinuxServices.h"
#include "store/mdSettings.h"

#include <gtest/gtest.h>

using mdSettings::getSetting;

TEST(Startup, RewritesTimerPeriodAndTopmost)
{
    struct Case {
        const char *check, *tmp, *top, *stored;
        int interval, ticks;
        bool ticking, topmost;
    };
    // 120 s / 7 s rounds to 17 ticks, and 7 * 17 < 120: one more, so the first tick refills.
    for (const Case& c : {Case{"0", "60", "1.0", "0.1", 100, 36000, true, true},
                          Case{"-3", "60", "2", "0.1", 100, 36000, true, false},
                          Case{"2.5", "60", "0", "2.5", 2500, 1440, true, false},
                          Case{"0.0004", "0", "1", "0.0004", 0, 0, false, true},
                          Case{"7", "2", "1", "7", 7000, 18, true, true}}) {
        TestBed t;
        t.settings({{"check_interval", c.check}, {"path_search", "3"}, {"tmp_interval", c.tmp}, {"always_top", c.top}});
        frmMain main(t.app);
        ASSERT_EQ(main.Form_Load(), frmMain::Start::Running) << c.check;
        EXPECT_EQ(getSetting(t.app, "check_interval"), c.stored) << c.check;
        EXPECT_EQ(getSetting(t.app, "path_search"), "3000");
        EXPECT_EQ(main.time.interval(), c.interval) << c.check;
        EXPECT_EQ(main.time.isActive(), c.ticking) << c.check;
        EXPECT_EQ(main.tmpTicks, c.ticks) << c.check;
        EXPECT_EQ(main.windowFlags().testFlag(Qt::WindowStaysOnTopHint), c.topmost) << c.top;
        EXPECT_FALSE(t.exists("error.log")) << c.check;
        EXPECT_FALSE(main.isVisible());
    }
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
    TestBed none, second;
    second.settings();
    second.program.lockFree = false;
    frmMain first(none.app), copy(second.app);
    int trays = 0;
    first.loadTray = copy.loadTray = [&] { ++trays; };
    EXPECT_EQ(first.Form_Load(), frmMain::Start::NoSettings);
    EXPECT_EQ(copy.Form_Load(), frmMain::Start::SecondCopy);
    EXPECT_EQ(trays, 1);   // the tray comes up after the lock, before the settings
    EXPECT_FALSE(first.time.isActive());
    EXPECT_EQ(second.app.settingList.count(), 0);
    EXPECT_FALSE(second.exists("error.log"));
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
