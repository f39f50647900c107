#include "Fakes.h"
#include "platform/SysText.h"
#include "store/mdLists.h"
#include "store/mdSettings.h"

#include <gtest/gtest.h>

using namespace mdSettings;
using platform::fromSys;

namespace {
// save(): `records` into `file`, which held `before` (null: no file); gives the file's bytes after.
struct ListBed : TestBed {
    Collection list;
    explicit ListBed(const char* clean) { settings({{"clean_value", clean}}), getSettings(app); }
    QByteArray save(const QString& file, const QByteArray& before, const QStringList& records, bool update,
                    const QString& seen = "")
    {
        if (!before.isNull())
            write(file, before);
        app.seenRecords = seen;
        app.seenPending = false;
        for (const QString& r : records)
            list.add(r);
        putList(app, list, file, update);
        return read(file);
    }
};
} // namespace

TEST(Lists, LoadTakesNumericCountsAndTheFirstOfTwins)
{
    ListBed t("0");
    t.write("allow.csv", "notepad.exe|/opt/tools/notepad.exe|7\r\nNotepad.exe|/opt/tools/notepad.exe\r\n\r\n   \n"
                         "  spaced.exe|-3  \ntrailing.exe|\rword.exe|/x/word.exe|abc\r\nfrac.exe|2.5\r\n"
                         "caf\xe9|1\nCAF\xe9\nlast.exe|1");
    t.list.add("kept.exe");
    getList(t.app, t.list, "allow.csv");
    getList(t.app, t.list, "missing.csv");
    EXPECT_EQ(QStringList(t.list.begin(), t.list.end()),
              QStringList({"kept.exe", "notepad.exe|/opt/tools/notepad.exe", "spaced.exe", "trailing.exe|",
                           "word.exe|/x/word.exe|abc", "frac.exe", fromSys("caf\xe9"), "last.exe"}));
    EXPECT_EQ(t.read("error.log"), "mdSettings.getList: allow.csv repeats 2 record(s), letter case aside, first "
                                   "'Notepad.exe|/opt/tools/notepad.exe'; the first of each is kept\r\n\r\n");
}

TEST(Lists, SavesSortMergeAgeCreditAndPrune)
{
    struct Case {
        const char *clean, *file;
        QByteArray before;
        QStringList records;
        bool update;
        QString seen;
        QByteArray after;
    };
    // Counted: the file's case stays, the first of twins counts, the credit needs the exact case; deny.csv
    // earns none. At minus clean_value a record leaves the file, not the list. No line break reaches a file.
    const QStringList trio{"low", "old", "edge"};
    for (const Case& c : std::initializer_list<Case>{
             {"0", "allow.csv", "b|4\r\nold|2\r\n", {"b", "c|/x/c", "A", "a", "B", "q\nsleep", fromSys("\xe9")}, true,
              "b:", "A\r\nb\r\nc|/x/c\r\n\xe9\r\n"},
             {"0", "allow.csv", QByteArray(), {}, false, "", ""},
             {"5", "allow.csv", "Note|/N|2\r\nNOTE|/n|50\r\nseen|3\r\ntop|98\r\nnear|97\nUp|4\r\nbare|/b\r\ngone|9\r\ncaf\xe9|4\r\n",
              {"note|/n", "seen", "top", "near", "Up", "bare|/b", "new|/w", fromSys("caf\xe9"), "q\nseen"}, true,
              "seen:top:near:up:", "bare|/b|-1\r\ncaf\xe9|3\r\nnear|102\r\nnew|/w|1\r\nNote|/N|1\r\nseen|8\r\ntop|99\r\nUp|3\r\n"},
             {"5", "allow.csv", "seen|3\r\nUp|4\r\n", {"seen", "Up"}, false, "seen:", "seen|3\r\nUp|4\r\n"},
             {"5", "deny.csv", "bad|2\r\nhalf|2.5\r\nneg|-0.4\r\n", {"new", "bad", "half", "neg"}, true, "bad:",
              "bad|1\r\nhalf|1\r\nneg|-1\r\nnew|0\r\n"},
             {"5", "deny.csv", "low|-5\r\nold|-9\r\nedge|-4\r\n", trio, true, "", "edge|-5\r\n"},
             {"5", "deny.csv", "low|-5\r\nold|-9\r\nedge|-4\r\n", trio, false, "", "edge|-4\r\n"},
             {"5", "deny.csv", "edge|-5\r\n", trio, true, "", "low|0\r\nold|0\r\n"},
             {"5", "deny.csv", "edge|-4\r\n", trio, false, "", "edge|-4\r\nlow|0\r\nold|0\r\n"},
             {"5", "allow.csv", "back|-6\r\n", {"back"}, true, "back:", "back|-1\r\n"},
             {"5", "allow.csv", QByteArray(), {"app|/opt/app"}, true, "x:", "app|/opt/app|1\r\n"}}) {
        ListBed t(c.clean);
        EXPECT_EQ(t.save(c.file, c.before, c.records, c.update, c.seen), c.after) << c.after.constData();
        EXPECT_EQ(t.app.seenRecords + (t.app.seenPending ? "+" : ""), *c.clean == '0' ? c.seen : "+");
        EXPECT_TRUE(t.exists(c.file) && !t.exists("error.log"));
    }
}

TEST(Lists, FailedSaveKeepsTheFileAndStillSortsTheList)
{
    for (const char* clean : {"0", "5"}) {
        ListBed w(clean);
        w.files.failWrites << "allow.csv";
        EXPECT_EQ(w.save("allow.csv", "z|3\r\n", {"z", "m"}, true, "z:"), "z|3\r\n") << clean;
        EXPECT_EQ(w.read("error.log"), "mdSettings.putList: Permission denied\r\n\r\n") << clean;
        EXPECT_EQ(QStringList(w.list.begin(), w.list.end()).join(",") + " " + w.app.seenRecords, "m,z z:") << clean;
    }
}
