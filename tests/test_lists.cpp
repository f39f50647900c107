#include "Fakes.h"
#include "store/mdLists.h"
#include "store/mdSettings.h"

#include <gtest/gtest.h>

using namespace mdSettings;

namespace {
QStringList items(const Collection& c) { return QStringList(c.begin(), c.end()); }

// A program folder with clean_value as given, and the list last saved.
struct ListBed : TestBed {
    Collection list;
    explicit ListBed(const char* clean)
    {
        settings({{"clean_value", clean}});
        getSettings(app);
    }
    // Saves `records` into `file`, which held `before` (null: none), and gives the file's bytes after.
    QByteArray save(const QString& file, const QByteArray& before, const QStringList& records, bool update,
                    const QString& seen = "")
    {
        if (!before.isNull())
            write(file, before);
        app.seenRecords = seen;
        app.seenPending = false;
        list = Collection();
        for (const QString& r : records)
            list.add(r);
        putList(app, list, file, update);
        return read(file);
    }
};
} // namespace

TEST(Lists, LoadTakesOnlyNumericTrailingCounts)
{
    ListBed t("0");
    t.write("allow.csv", "notepad.exe|/opt/tools/notepad.exe|7\r\nnotepad.exe|/opt/tools/notepad.exe\r\n"
                         "\r\n   \n  spaced.exe|-3  \ntrailing.exe|\r\nword.exe|/x/word.exe|abc\r\n"
                         "frac.exe|2.5\r\nlast.exe|1");
    t.list.add("kept.exe");
    getList(t.app, t.list, "allow.csv");
    getList(t.app, t.list, "missing.csv");
    EXPECT_EQ(items(t.list), QStringList({"kept.exe", "notepad.exe|/opt/tools/notepad.exe",
                                          "notepad.exe|/opt/tools/notepad.exe", "spaced.exe", "trailing.exe|",
                                          "word.exe|/x/word.exe|abc", "frac.exe", "last.exe"}));
    EXPECT_FALSE(t.exists("error.log"));
}

TEST(Lists, PlainSaveWritesSortedRecordsWithoutCounts)
{
    ListBed t("0");
    EXPECT_EQ(t.save("allow.csv", "b|4\r\nold|2\r\n", {"b", "c|/x/c", "A", "a", "B"}, true, "b:"),
              "A\r\nb\r\nc|/x/c\r\n");
    EXPECT_EQ(items(t.list), QStringList({"A", "b", "c|/x/c"}));
    EXPECT_EQ(t.app.seenRecords, "b:");   // only a counted save uses the tracking
    EXPECT_EQ(t.save("allow.csv", QByteArray(), {}, false), "");
    EXPECT_TRUE(t.exists("allow.csv"));
    EXPECT_FALSE(t.exists("error.log"));
}

TEST(Lists, CountedSaveAgesCreditsPrunesAndAddsNewRecords)
{
    ListBed t("5");
    // The file's case stays, the credit needs the exact case, records gone from the list leave the file.
    EXPECT_EQ(t.save("allow.csv",
                     "Note|/N|2\r\nseen|3\r\ntop|98\r\nnear|97\nUp|4\r\nbare|/b\r\ngone|9\r\n",
                     {"note|/n", "seen", "top", "near", "Up", "bare|/b", "new|/w"}, true, "seen:top:near:up:"),
              "bare|/b|-1\r\nnear|102\r\nnew|/w|1\r\nNote|/N|1\r\nseen|8\r\ntop|99\r\nUp|3\r\n");
    EXPECT_EQ(t.save("allow.csv", "seen|3\r\nUp|4\r\n", {"seen", "Up"}, false, "seen:"),
              "seen|3\r\nUp|4\r\n");
    // deny.csv earns no credit and starts new records at 0; fractions round to even.
    EXPECT_EQ(t.save("deny.csv", "bad|2\r\nhalf|2.5\r\nneg|-0.4\r\n", {"new", "bad", "half", "neg"},
                     true, "bad:"),
              "bad|1\r\nhalf|1\r\nneg|-1\r\nnew|0\r\n");
    // At minus clean_value a record leaves the file but not the list, so the
    // next save writes it again as new; a seen record is credited instead.
    for (bool update : {true, false}) {
        EXPECT_EQ(t.save("deny.csv", "low|-5\r\nold|-9\r\nedge|-4\r\n", {"low", "old", "edge"}, update),
                  update ? "edge|-5\r\n" : "edge|-4\r\n");
        putList(t.app, t.list, "deny.csv", update);
        EXPECT_EQ(t.read("deny.csv"), (update ? "" : "edge|-4\r\n") + QByteArray("low|0\r\nold|0\r\n"));
    }
    EXPECT_EQ(t.save("allow.csv", "back|-6\r\n", {"back"}, true, "back:"), "back|-1\r\n");
    // A missing file is created; the credit is used up all the same.
    QFile::remove(t.path("allow.csv"));
    EXPECT_EQ(t.save("allow.csv", QByteArray(), {"app|/opt/app"}, true, "x:"), "app|/opt/app|1\r\n");
    EXPECT_EQ(t.app.seenRecords, "");
    EXPECT_TRUE(t.app.seenPending);
    EXPECT_FALSE(t.exists("error.log"));
}

TEST(Lists, FailedSavesKeepTheFileAndSortTheList)
{
    // Two lines differing only in case fail the counted save while reading;
    // the plain save keeps the first of them.
    ListBed t("5");
    EXPECT_EQ(t.save("allow.csv", "a|1\r\nA|2\r\n", {"b", "A", "a"}, true, "a:"), "a|1\r\nA|2\r\n");
    EXPECT_TRUE(t.read("error.log").startsWith("mdSettings.putList: ")) << t.read("error.log").constData();
    EXPECT_EQ(items(t.list), QStringList({"A", "b"}));
    EXPECT_EQ(t.app.seenRecords, "a:");   // the credit waits for a save that works
    setSetting(t.app, "clean_value", "0");
    Collection twins;
    getList(t.app, twins, "allow.csv");
    putList(t.app, twins, "allow.csv", true);
    EXPECT_EQ(t.read("allow.csv"), "a\r\n");

    for (const char* clean : {"0", "5"}) {
        ListBed w(clean);
        w.files.failWrites << "allow.csv";
        EXPECT_EQ(w.save("allow.csv", "z|3\r\n", {"z", "m"}, true, "z:"), "z|3\r\n") << clean;
        EXPECT_EQ(w.read("error.log"), "mdSettings.putList: Permission denied\r\n\r\n") << clean;
        EXPECT_EQ(items(w.list), QStringList({"m", "z"})) << clean;
        EXPECT_EQ(w.app.seenRecords, "z:") << clean;
    }
}
