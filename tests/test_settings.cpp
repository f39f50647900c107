#include "Fakes.h"
#include "platform/SysText.h"
#include "store/mdSettings.h"

#include <sys/stat.h>
#include <gtest/gtest.h>

using namespace mdSettings;
using platform::fromSys;

TEST(Settings, LineGrammarLineEndsNumbersAndTwins)
{
    TestBed t;
    EXPECT_FALSE(getSettings(t.app));
    t.write("settings.ini", "' check_interval=9\r\nno equals sign\r\rcheck_interval =2\rweb_search=  x?b=c=d  \r\n"
                            "ALWAYS_TOP=1\n 'quoted=yes\nempty=\rone=1.0\r\ntwo=2\nhalf=0.5\nword=abc\nk=1,000\n"
                            "comma=0,5\nlast=1");
    ASSERT_TRUE(getSettings(t.app));
    QString values;   // a blank before "=" stays in the key; the last line needs no end
    for (const char* key : {"check_interval", "check_interval ", "web_search", " 'quoted", "empty", "last"})
        values += getSetting(t.app, key) + "|";
    EXPECT_EQ(values, "|2|x?b=c=d|yes||1|");
    EXPECT_EQ(t.app.settingList.count(), 12);
    EXPECT_TRUE(isOn(t.app, "always_top") && isOn(t.app, "one") && !isOn(t.app, "two"));
    EXPECT_DOUBLE_EQ(numSetting(t.app, "half"), 0.5);
    for (const char* key : {"word", "empty", "missing", "k", "comma"})   // a comma makes no number
        EXPECT_THROW(numSetting(t.app, key), std::runtime_error) << key;
    for (bool early : {false, true}) {   // a key twice fails, logged only once logging is read
        TestBed d;
        d.write("settings.ini", early ? "error_log=1\r\na=1\r\nA=2\r\n" : "a=1\r\nA=2\r\nerror_log=1\r\n");
        EXPECT_FALSE(getSettings(d.app));
        EXPECT_EQ(d.read("error.log").startsWith("mdSettings.getSettings: "), early);
    }
}

TEST(Files, KeepEveryByteOfNamesAndLines)
{
    TestBed t;
    const QByteArray name = t.tmp.path().toUtf8() + "/caf\xe9";
    const QString path = fromSys(name);
    t.write(".h", "x");
    QDir(t.tmp.path()).mkdir("dir");
    t.files.writeText(path, fromSys("a\xff\r\nb\rc\nd"));
    for (const QString& p : {path, t.path(".h"), t.path("dir"), t.path("none"), QString(), QString("/dev/null")})
        EXPECT_EQ(fileExists(t.app, p), p == path) << p.toStdString();
    struct stat info;
    ASSERT_EQ(::stat(name.constData(), &info), 0);
    EXPECT_EQ(t.files.modified(path).toSecsSinceEpoch() * 100 + t.files.size(path), info.st_mtime * 100 + 9);
    EXPECT_EQ(t.files.readLines(path), QStringList({fromSys("a\xff"), "b", "c", "d"}));
    const auto entries = t.files.list(t.tmp.path());
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [&](auto& e) { return path.endsWith("/" + e.name); }));
    t.files.remove(path);
    EXPECT_NE(::stat(name.constData(), &info), 0);
}

TEST(ErrorLog, OnlyWhenOnNewestFirstGuardedKeptWholeOnFailureEveryByteKept)
{
    TestBed t;
    t.settings({{"error_log", "0"}});
    ASSERT_TRUE(getSettings(t.app));
    for (const char* value : {"0", "2", "", "yes", "1"}) {
        setSetting(t.app, "error_log", value);
        error_log(t.app, "frmMain", "A", fromSys(QByteArray("f\xe9") + value));
    }
    int reached = 0;
    EXPECT_FALSE(guarded(t.app, "frmTray", "Go", [&] { ++reached, numSetting(t.app, "nothing"), ++reached; }));
    t.files.failWrites.insert("error.log");
    error_log(t.app, "frmMain", "B", "lost");
    EXPECT_EQ(t.read("error.log") + QByteArray::number(reached),
              "frmTray.Go: Type mismatch: '' is not a number\r\nfrmMain.A: f\xe9" "1\r\n\r\n1");
    // A hand-edited log is read as lines: leading empty ones go, every end becomes CR LF.
    t.files.failWrites.clear();
    t.write("error.log", "\n\r\nx\xff\ny\r\rz");
    error_log(t.app, "m", "p", "d\ne");
    EXPECT_EQ(t.read("error.log"), "m.p: d e\r\nx\xff\r\ny\r\n\r\nz\r\n");
    EXPECT_EQ(getContent(t.app, "error.log") + getContent(t.app, "missing.txt"), fromSys("m.p: d e\r\nx\xff\r\ny\r\n\r\nz"));
}
