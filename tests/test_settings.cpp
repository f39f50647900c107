#include "Fakes.h"
#include "store/mdSettings.h"

#include <gtest/gtest.h>

using namespace mdSettings;

TEST(Settings, LineGrammar)
{
    TestBed t;
    EXPECT_FALSE(getSettings(t.app));
    t.write("settings.ini", "' check_interval=9\r\nno equals sign\r\n\r\ncheck_interval =2\r\n"
                            "web_search=  x?b=c=d  \r\nALWAYS_TOP=1\n 'quoted=yes\nempty=\nlast=1");
    ASSERT_TRUE(getSettings(t.app));
    EXPECT_EQ(getSetting(t.app, "check_interval"), "");   // the key kept its blank
    EXPECT_EQ(getSetting(t.app, "check_interval "), "2");
    EXPECT_EQ(getSetting(t.app, "web_search"), "x?b=c=d");
    EXPECT_TRUE(isOn(t.app, "always_top"));
    EXPECT_EQ(getSetting(t.app, " 'quoted"), "yes");
    EXPECT_EQ(getSetting(t.app, "last"), "1");   // no line end after the last line
    EXPECT_EQ(t.app.settingList.count(), 6);
}

TEST(Settings, DuplicateKeyFailsAndLogsOnlyWhenLoggingCameEarlier)
{
    for (bool early : {false, true}) {
        TestBed t;
        t.write("settings.ini", early ? "error_log=1\r\na=1\r\nA=2\r\n" : "a=1\r\nA=2\r\nerror_log=1\r\n");
        EXPECT_FALSE(getSettings(t.app));
        EXPECT_EQ(t.read("error.log").startsWith("mdSettings.getSettings: "), early);
    }
}

TEST(Settings, NumbersAndSwitches)
{
    TestBed t;
    t.write("settings.ini", "one=1.0\r\ntwo=2\r\nhalf=0.5\r\nword=abc\r\nnone=\r\n");
    ASSERT_TRUE(getSettings(t.app));
    EXPECT_TRUE(isOn(t.app, "one"));
    EXPECT_FALSE(isOn(t.app, "two"));
    EXPECT_DOUBLE_EQ(numSetting(t.app, "half"), 0.5);
    for (const char* key : {"word", "none", "missing"})
        EXPECT_THROW(numSetting(t.app, key), std::runtime_error) << key;
    EXPECT_EQ(roundEven(3.5), 4);
}

TEST(Settings, FileExistsSeesOnlyPlainVisibleFiles)
{
    TestBed t;
    t.write("plain", "x");
    t.write(".h", "x");
    QDir(t.tmp.path()).mkdir("dir");
    EXPECT_TRUE(fileExists(t.app, t.path("plain")));
    for (const QString& path : {t.path(".h"), t.path("dir"), t.path("none"), QString(), QString("/dev/null")})
        EXPECT_FALSE(fileExists(t.app, path)) << path.toStdString();
}

TEST(ErrorLog, OnlyWhenOnNewestFirstGuardedAndKeptWholeOnFailure)
{
    TestBed t;
    t.settings();
    ASSERT_TRUE(getSettings(t.app));
    for (const char* value : {"0", "2", "", "yes"}) {
        setSetting(t.app, "error_log", value);
        error_log(t.app, "frmMain", "A", value);
    }
    EXPECT_FALSE(t.exists("error.log"));
    setSetting(t.app, "error_log", "1");
    error_log(t.app, "frmMain", "A", "first");
    EXPECT_EQ(t.read("error.log"), "frmMain.A: first\r\n\r\n");
    int reached = 0;
    EXPECT_FALSE(guarded(t.app, "frmTray", "Go", [&] {
        ++reached;
        numSetting(t.app, "nothing");
        ++reached;
    }));
    EXPECT_EQ(reached, 1);
    const QByteArray log = "frmTray.Go: Type mismatch: '' is not a number\r\nfrmMain.A: first\r\n\r\n";
    EXPECT_EQ(t.read("error.log"), log);
    t.files.failWrites.insert("error.log");
    error_log(t.app, "frmMain", "B", "lost");
    EXPECT_EQ(t.read("error.log"), log);
}

TEST(ErrorLog, ContentSkipsLeadingEmptyLinesAndAcceptsBothLineEnds)
{
    TestBed t;
    t.write("a.txt", "\r\n\nX\nY\r\n\r\nZ");
    EXPECT_EQ(getContent(t.app, "a.txt"), "X\r\nY\r\n\r\nZ");
    EXPECT_EQ(getContent(t.app, "missing.txt"), "");
}
