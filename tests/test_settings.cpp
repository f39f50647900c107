#include "Fakes.h"
#include "store/mdSettings.h"

#include <gtest/gtest.h>

using namespace mdSettings;

TEST(Settings, LineGrammar)
{
    TestBed t;
    t.write("settings.ini",
            "' check_interval=9\r\n"
            "no equals sign\r\n"
            "\r\n"
            "check_interval =2\r\n"
            "web_search=  http://x/a.php?b=c=d  \r\n"
            "ALWAYS_TOP=1\n"
            " 'quoted=yes\n"
            "empty=\n"
            "last=1");
    ASSERT_TRUE(getSettings(t.app));
    EXPECT_EQ(getSetting(t.app, "check_interval"), "");        // the key kept its blank
    EXPECT_EQ(getSetting(t.app, "check_interval "), "2");
    EXPECT_EQ(getSetting(t.app, "web_search"), "http://x/a.php?b=c=d");
    EXPECT_TRUE(isOn(t.app, "always_top"));
    EXPECT_EQ(getSetting(t.app, " 'quoted"), "yes");
    EXPECT_EQ(getSetting(t.app, "empty"), "");
    EXPECT_EQ(getSetting(t.app, "last"), "1");                 // no line end after the last line
    EXPECT_EQ(t.app.settingList.count(), 6);
}

TEST(Settings, MissingFile)
{
    TestBed t;
    EXPECT_FALSE(getSettings(t.app));
    EXPECT_FALSE(t.exists("error.log"));
}

TEST(Settings, DuplicateKeyFailsAndLogsOnlyWhenLoggingCameEarlier)
{
    TestBed late;
    late.write("settings.ini", "a=1\r\nA=2\r\nerror_log=1\r\n");
    EXPECT_FALSE(getSettings(late.app));
    EXPECT_FALSE(late.exists("error.log"));

    TestBed early;
    early.write("settings.ini", "error_log=1\r\na=1\r\nA=2\r\n");
    EXPECT_FALSE(getSettings(early.app));
    EXPECT_TRUE(early.read("error.log").startsWith("mdSettings.getSettings: "));
}

TEST(Settings, NumbersAndSwitches)
{
    TestBed t;
    t.write("settings.ini", "one=1.0\r\ntwo=2\r\nhalf=0.5\r\nword=abc\r\nnone=\r\n");
    ASSERT_TRUE(getSettings(t.app));
    EXPECT_TRUE(isOn(t.app, "one"));
    EXPECT_FALSE(isOn(t.app, "two"));
    EXPECT_DOUBLE_EQ(numSetting(t.app, "half"), 0.5);
    EXPECT_THROW(numSetting(t.app, "word"), std::runtime_error);
    EXPECT_THROW(numSetting(t.app, "none"), std::runtime_error);
    EXPECT_THROW(numSetting(t.app, "missing"), std::runtime_error);
    EXPECT_EQ(numText(3 * 1000.0), "3000");
    EXPECT_EQ(numText(0.1), "0.1");
    EXPECT_EQ(roundEven(2.5), 2);
    EXPECT_EQ(roundEven(3.5), 4);
}

TEST(Settings, FileExistsSeesOnlyPlainVisibleFiles)
{
    TestBed t;
    t.write("plain", "x");
    t.write(".hidden", "x");
    QDir(t.tmp.path()).mkdir("folder");
    EXPECT_TRUE(fileExists(t.app, t.path("plain")));
    EXPECT_FALSE(fileExists(t.app, t.path(".hidden")));
    EXPECT_FALSE(fileExists(t.app, t.path("folder")));
    EXPECT_FALSE(fileExists(t.app, t.path("missing")));
    EXPECT_FALSE(fileExists(t.app, ""));
    EXPECT_FALSE(fileExists(t.app, "/dev/null"));
}

TEST(ErrorLog, NewestFirstWithAnEmptyLastLine)
{
    TestBed t;
    t.settings();
    ASSERT_TRUE(getSettings(t.app));
    error_log(t.app, "frmMain", "A", "first");
    EXPECT_EQ(t.read("error.log"), "frmMain.A: first\r\n\r\n");
    error_log(t.app, "mdSettings", "B", "second");
    EXPECT_EQ(t.read("error.log"), "mdSettings.B: second\r\nfrmMain.A: first\r\n\r\n");
    EXPECT_EQ(getContent(t.app, "error.log"), "mdSettings.B: second\r\nfrmMain.A: first\r\n");
}

TEST(ErrorLog, NothingWrittenUnlessSwitchedOn)
{
    for (const char* value : {"0", "2", "", "yes"}) {
        TestBed t;
        t.settings({{"error_log", value}});
        ASSERT_TRUE(getSettings(t.app));
        error_log(t.app, "frmMain", "A", "x");
        EXPECT_FALSE(t.exists("error.log")) << value;
    }
}

TEST(ErrorLog, FailedWriteLeavesTheOldLogWhole)
{
    TestBed t;
    t.settings();
    ASSERT_TRUE(getSettings(t.app));
    t.write("error.log", "old entry\r\n\r\n");
    t.files.failWrites.insert("error.log");
    error_log(t.app, "frmMain", "A", "lost");
    EXPECT_EQ(t.read("error.log"), "old entry\r\n\r\n");
}

TEST(ErrorLog, GuardedLogsAndGoesOn)
{
    TestBed t;
    t.settings();
    ASSERT_TRUE(getSettings(t.app));
    int reached = 0;
    const bool ok = guarded(t.app, "frmTray", "Enable_Click", [&] {
        ++reached;
        numSetting(t.app, "nothing");
        ++reached;
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(reached, 1);
    EXPECT_EQ(t.read("error.log"), "frmTray.Enable_Click: Type mismatch: '' is not a number\r\n\r\n");
}

TEST(ErrorLog, ContentSkipsLeadingEmptyLinesAndAcceptsBothLineEnds)
{
    TestBed t;
    t.write("a.txt", "\r\n\nX\nY\r\n\r\nZ");
    EXPECT_EQ(getContent(t.app, "a.txt"), "X\r\nY\r\n\r\nZ");
    EXPECT_EQ(getContent(t.app, "missing.txt"), "");
}
