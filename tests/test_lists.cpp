#include "Fakes.h"
#include "store/mdLists.h"
#include "store/mdSettings.h"

#include <gtest/gtest.h>

using namespace mdSettings;

namespace {
QStringList items(const Collection& c)
{
    QStringList out;
    for (const QString& item : c)
        out << item;
    return out;
}

Collection listOf(const QStringList& records)
{
    Collection c;
    for (const QString& r : records)
        c.add(r);
    return c;
}

// A test folder with settings loaded; clean_value as given.
void load(TestBed& t, const char* cleanValue)
{
    t.settings({{"clean_value", cleanValue}});
    ASSERT_TRUE(getSettings(t.app));
}
} // namespace

TEST(Lists, LoadTakesOnlyNumericTrailingCounts)
{
    TestBed t;
    load(t, "0");
    t.write("allow.csv",
            "notepad.exe|/opt/tools/notepad.exe|7\r\n"
            "notepad.exe|/opt/tools/notepad.exe\r\n"
            "\r\n"
            "   \n"
            "  spaced.exe|-3  \n"
            "trailing.exe|\r\n"
            "plain.exe\n"
            "word.exe|/x/word.exe|abc\r\n"
            "frac.exe|2.5\r\n"
            "last.exe|1");
    Collection list = listOf({"kept.exe"});
    getList(t.app, list, "allow.csv");
    EXPECT_EQ(items(list), QStringList({"kept.exe", "notepad.exe|/opt/tools/notepad.exe",
                                        "notepad.exe|/opt/tools/notepad.exe", "spaced.exe", "trailing.exe|",
                                        "plain.exe", "word.exe|/x/word.exe|abc", "frac.exe", "last.exe"}));

    // Twins in letter case are both loaded; a missing file loads nothing and is no failure.
    t.write("deny.csv", "a.exe\r\nA.EXE|0\r\n");
    Collection deny;
    getList(t.app, deny, "deny.csv");
    getList(t.app, deny, "missing.csv");
    EXPECT_EQ(items(deny), QStringList({"a.exe", "A.EXE"}));
    EXPECT_FALSE(t.exists("error.log"));
}

TEST(Lists, SimpleSaveWritesSortedRecordsWithoutCounts)
{
    TestBed t;
    load(t, "0");
    t.write("allow.csv", "b.exe|4\r\nold.exe|2\r\n");
    t.app.seenRecords = "b.exe:";
    t.app.seenPending = false;
    Collection list = listOf({"b.exe", "c.exe|/x/c.exe", "A.exe", "a.EXE", "B.EXE"});
    putList(t.app, list, "allow.csv", true);
    EXPECT_EQ(t.read("allow.csv"), "A.exe\r\nb.exe\r\nc.exe|/x/c.exe\r\n");
    EXPECT_EQ(items(list), QStringList({"A.exe", "b.exe", "c.exe|/x/c.exe"}));
    EXPECT_EQ(t.app.seenRecords, "b.exe:");   // only a counted save uses the tracking
    EXPECT_FALSE(t.app.seenPending);

    // A list whose last entry went is saved as an empty file.
    Collection empty;
    putList(t.app, empty, "allow.csv", false);
    EXPECT_TRUE(t.exists("allow.csv"));
    EXPECT_EQ(t.read("allow.csv"), "");
    EXPECT_FALSE(t.exists("error.log"));
}

TEST(Lists, CountedSaveAgesCreditsAndAddsNewRecords)
{
    TestBed t;
    load(t, "5");
    t.write("allow.csv",
            "Note.exe|/x/Note.exe|2\r\n"
            "seen.exe|3\r\n"
            "top.exe|98\r\n"
            "near.exe|97\n"
            "Upper.exe|4\r\n"
            "nocount.exe|/x/nocount.exe\r\n"
            "gone.exe|9\r\n");
    t.app.seenRecords = "seen.exe:top.exe:near.exe:upper.exe:";
    t.app.seenPending = false;
    Collection list = listOf({"note.exe|/x/note.exe", "seen.exe", "top.exe", "near.exe", "Upper.exe",
                              "nocount.exe|/x/nocount.exe", "new.exe|/x/new.exe"});
    putList(t.app, list, "allow.csv", true);
    // The file's letter case stays; the seen credit needs the exact case;
    // records no longer in the list leave the file.
    EXPECT_EQ(t.read("allow.csv"), "near.exe|102\r\n"
                                   "new.exe|/x/new.exe|1\r\n"
                                   "nocount.exe|/x/nocount.exe|-1\r\n"
                                   "Note.exe|/x/Note.exe|1\r\n"
                                   "seen.exe|8\r\n"
                                   "top.exe|99\r\n"
                                   "Upper.exe|3\r\n");
    EXPECT_EQ(t.app.seenRecords, "");
    EXPECT_TRUE(t.app.seenPending);

    // Without ageing the counts stay, seen or not.
    t.app.seenRecords = "seen.exe:";
    putList(t.app, list, "allow.csv", false);
    EXPECT_TRUE(t.read("allow.csv").contains("seen.exe|8\r\n"));
    EXPECT_TRUE(t.read("allow.csv").contains("near.exe|102\r\n"));
    EXPECT_TRUE(t.read("allow.csv").contains("Upper.exe|3\r\n"));

    // deny.csv earns no credit and new records start at 0.
    t.write("deny.csv", "bad.exe|2\r\nhalf.exe|2.5\r\nneg.exe|-0.4\r\n");
    t.app.seenRecords = "bad.exe:";
    Collection deny = listOf({"worse.exe", "bad.exe", "half.exe", "neg.exe"});
    putList(t.app, deny, "deny.csv", true);
    EXPECT_EQ(t.read("deny.csv"), "bad.exe|1\r\nhalf.exe|1\r\nneg.exe|-1\r\nworse.exe|0\r\n");
    EXPECT_EQ(t.app.seenRecords, "");
    EXPECT_FALSE(t.exists("error.log"));
}

TEST(Lists, CountedSaveCreatesAMissingFile)
{
    TestBed t;
    load(t, "5");
    t.app.seenRecords = "x.exe:";
    t.app.seenPending = false;
    Collection list = listOf({"app.exe|/opt/app.exe"});
    putList(t.app, list, "allow.csv", true);
    EXPECT_EQ(t.read("allow.csv"), "app.exe|/opt/app.exe|1\r\n");
    EXPECT_EQ(t.app.seenRecords, "");
    EXPECT_TRUE(t.app.seenPending);
}

TEST(Lists, PruningAtMinusCleanValue)
{
    for (bool update : {true, false}) {
        TestBed t;
        load(t, "5");
        t.write("deny.csv", "low.exe|-5\r\nlower.exe|-9\r\nedge.exe|-4\r\n");
        Collection deny = listOf({"low.exe", "lower.exe", "edge.exe"});
        putList(t.app, deny, "deny.csv", update);
        EXPECT_EQ(t.read("deny.csv"), update ? "edge.exe|-5\r\n" : "edge.exe|-4\r\n") << update;
        // Pruned from the file only: the list keeps them, and the next save
        // writes them again as new records.
        EXPECT_EQ(deny.count(), 3);
        putList(t.app, deny, "deny.csv", update);
        EXPECT_EQ(t.read("deny.csv"), update ? "low.exe|0\r\nlower.exe|0\r\n" : "edge.exe|-4\r\nlow.exe|0\r\nlower.exe|0\r\n")
            << update;
    }

    // A seen record is credited instead of pruned.
    TestBed t;
    load(t, "5");
    t.write("allow.csv", "back.exe|-6\r\n");
    t.app.seenRecords = "back.exe:";
    Collection allow = listOf({"back.exe"});
    putList(t.app, allow, "allow.csv", true);
    EXPECT_EQ(t.read("allow.csv"), "back.exe|-1\r\n");
}

TEST(Lists, FailedCountedSaveKeepsTheFile)
{
    // Two lines differing only in case fail while reading.
    {
        TestBed t;
        load(t, "5");
        const QByteArray old = "a.exe|1\r\nA.EXE|2\r\n";
        t.write("allow.csv", old);
        t.app.seenRecords = "a.exe:";
        t.app.seenPending = false;
        Collection list = listOf({"b.exe", "A.EXE", "a.exe"});
        putList(t.app, list, "allow.csv", true);
        EXPECT_EQ(t.read("allow.csv"), old);
        EXPECT_TRUE(t.read("error.log").startsWith("mdSettings.putList: ")) << t.read("error.log").constData();
        EXPECT_EQ(items(list), QStringList({"A.EXE", "b.exe"}));
        EXPECT_EQ(t.app.seenRecords, "a.exe:");   // the credit waits for a save that works
        EXPECT_FALSE(t.app.seenPending);

        // The simple save keeps the first twin and succeeds.
        t.settings({{"clean_value", "0"}});
        t.app.settingList = Collection();
        ASSERT_TRUE(getSettings(t.app));
        Collection twins;
        getList(t.app, twins, "allow.csv");
        putList(t.app, twins, "allow.csv", true);
        EXPECT_EQ(t.read("allow.csv"), "a.exe\r\n");
    }
    // A file that cannot be written.
    for (const char* clean : {"0", "5"}) {
        TestBed t;
        load(t, clean);
        const QByteArray old = "z.exe|3\r\n";
        t.write("allow.csv", old);
        t.files.failWrites << "allow.csv";
        t.app.seenRecords = "z.exe:";
        Collection list = listOf({"z.exe", "m.exe"});
        putList(t.app, list, "allow.csv", true);
        EXPECT_EQ(t.read("allow.csv"), old) << clean;
        EXPECT_EQ(t.read("error.log"), "mdSettings.putList: Permission denied\r\n\r\n") << clean;
        EXPECT_EQ(items(list), QStringList({"m.exe", "z.exe"})) << clean;
        EXPECT_EQ(t.app.seenRecords, "z.exe:") << clean;
    }
    // A missing clean_value is logged after the sort; the file stays.
    TestBed t;
    t.write("settings.ini", "error_log=1\r\n");
    ASSERT_TRUE(getSettings(t.app));
    t.write("deny.csv", "q.exe\r\n");
    Collection list = listOf({"r.exe", "q.exe"});
    putList(t.app, list, "deny.csv", true);
    EXPECT_EQ(t.read("deny.csv"), "q.exe\r\n");
    EXPECT_TRUE(t.read("error.log").startsWith("mdSettings.putList: Type mismatch"));
    EXPECT_EQ(items(list), QStringList({"q.exe", "r.exe"}));
}
