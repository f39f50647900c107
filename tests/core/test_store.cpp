// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "platform/SysText.h"
#include "store/mdCollection.h"
#include "store/mdLists.h"
#include "store/mdSettings.h"
#include "store/mdErrorLog.h"
#include "store/mdFailures.h"

#include <chrono>
#include <future>
#include <thread>

using namespace mdCollection;
using namespace mdSettings;
using namespace mdLists;
using namespace mdFailures;
using namespace mdErrorLog;
using platform::fromSys;

static QString text(const Collection& c) { return QStringList(c.begin(), c.end()).join(","); }

// Sorted, as a line.
static QString records(const Collection& c)
{
    QStringList all(c.begin(), c.end());
    all.sort();
    return all.join(",");
}

TEST(Collection, SortSearchDeleteAndKeysFollowEveryChange)
{
    TestBed t;
    t.app.settingList.add("1", "error_log");   // all the log needs
    Collection c;
    for (const char* item : {"notepad.exe2", "NOTEPAD.EXE|/usr/bin/notepad.exe", "b", "notepad.exe", "A", "a", "B", "b", "X\xe9"})
        c.add(platform::fromSys(item));
    // Items compare with letter case, as file names do; "|" also matches an item that begins with value + "|";
    // escaped bytes match only themselves.
    const auto search = [&](const char* v, const char* suffix) { return clnSearch(t.app, c, platform::fromSys(v), suffix); };
    EXPECT_EQ(QList<int>({search("notepad.exe", ""), search("Notepad.exe", ""), search("NOTEPAD.EXE", "|"),
                          search("notepad.exe", "|"), search("notepad", "|"), search("X\xe9", ""), search("x\xe9", ""),
                          search("X\xe8", "")}),
              QList<int>({4, 0, 2, 4, 0, 9, 0, 0}));
    c.remove(9);
    Collection all = clnEq(t.app, c);
    clnSort(t.app, all, false);
    clnSort(t.app, c, true);   // of equal items one stays; items that differ in case alone are two
    EXPECT_EQ(text(all), "A,B,NOTEPAD.EXE|/usr/bin/notepad.exe,a,b,b,notepad.exe,notepad.exe2");
    EXPECT_EQ(text(c), "A,B,NOTEPAD.EXE|/usr/bin/notepad.exe,a,b,notepad.exe,notepad.exe2");
    // The index follows removal, insertion and sorting; deletion takes the first of equals.
    c.remove(1);
    c.add("b|x", QString(), 1);
    clnDel(t.app, all, "b");
    EXPECT_EQ(QList<int>({search("NOTEPAD.EXE", "|"), search("b|x", ""), search("b|X", ""), search("b", "|")}),
              QList<int>({3, 2, 0, 2}));
    EXPECT_EQ(text(all), "A,B,NOTEPAD.EXE|/usr/bin/notepad.exe,a,b,notepad.exe,notepad.exe2");

    // Keys compare without letter case.
    c.add("1", "One");
    EXPECT_THROW(c.add("3", "ONE"), std::runtime_error);
}

namespace {
// save(): `records` into `file`, which held `before` (null: no file); gives the file's bytes after.
struct ListBed : TestBed {
    Collection list;
    explicit ListBed(const char* clean)
    {
        settings({{"clean_value", clean}});
        getSettings(app);
    }
    QByteArray save(const QString& file, const QByteArray& before, const QStringList& records, bool update, const QStringList& seen = {})
    {
        if (!before.isNull())
            write(file, before);
        app.seenRecords = QSet<QString>(seen.begin(), seen.end());
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
                         "notepad.exe|/opt/tools/notepad.exe|2\ncaf\xe9|1\nCAF\xe9\ncaf\xe9\nlast.exe|1");
    t.list.add("kept.exe");
    getList(t.app, t.list, "allow.csv");
    getList(t.app, t.list, "missing.csv");
    // Records that differ in letter case alone name two files: each is a record of its own.
    EXPECT_EQ(QStringList(t.list.begin(), t.list.end()),
              QStringList({"kept.exe", "notepad.exe|/opt/tools/notepad.exe", "Notepad.exe|/opt/tools/notepad.exe",
                           "spaced.exe", "trailing.exe|", "word.exe|/x/word.exe|abc", "frac.exe", fromSys("caf\xe9"),
                           fromSys("CAF\xe9"), "last.exe"}));
    EXPECT_EQ(t.read("error.log"), "mdSettings.getList: allow.csv repeats 2 record(s), first "
                                   "'notepad.exe|/opt/tools/notepad.exe'; the first of each is kept\r\n\r\n");
    // A list that exists but cannot be read is not written over until it has been read.
    Collection deny;
    t.files.failReads = {"deny.csv"};
    t.write("deny.csv", "kept\r\n");
    getList(t.app, deny, "deny.csv");
    deny.add("new");
    putList(t.app, deny, "deny.csv", false);
    EXPECT_EQ(t.read("deny.csv"), "kept\r\n");
    t.files.failReads.clear();
    getList(t.app, deny, "deny.csv");
    putList(t.app, deny, "deny.csv", false);
    EXPECT_EQ(t.read("deny.csv"), "kept\r\nnew\r\n");
}

TEST(Lists, SavesSortMergeAgeCreditAndPrune)
{
    struct Case { const char *clean, *file; QByteArray before; QStringList records; bool update; QStringList seen; QByteArray after;
                  bool fails = false; };
    // Counted: records that differ in letter case alone are two, the first of twins counts, the credit needs the
    // exact case, and only the very record earns it, colons and all; deny.csv
    // earns none. At minus clean_value a record leaves the file, not the list. No line break reaches a file, nor a
    // record that would read back as another.
    // A failed save keeps the file and the credits, and still sorts the list.
    const QStringList trio{"low", "old", "edge"};
    for (const Case& c : std::initializer_list<Case>{
             {"0", "allow.csv", "b|4\r\nold|2\r\n", {"b", "c|/x/c", "A", "a", "B", "q\nsleep", fromSys("\xe9"), "x|1"}, true,
              {"b"}, "A\r\nB\r\na\r\nb\r\nc|/x/c\r\n\xe9\r\n"},
             {"5", "allow.csv", "Note|/N|2\r\nNOTE|/n|50\r\nseen|3\r\ntop|98\r\nnear|97\nnear|5\r\nUp|4\r\nbare|/b\r\ngone|9\r\ncaf\xe9|4\r\n",
              {"note|/n", "seen", "top", "near", "Up", "bare|/b", "new|/w", fromSys("caf\xe9"), "q\nseen", "x|12"}, true,
              {"seen", "top", "near", "up"}, "Up|3\r\nbare|/b|-1\r\ncaf\xe9|3\r\nnear|102\r\nnew|/w|1\r\nnote|/n|1\r\nseen|8\r\ntop|99\r\n"},
             {"5", "deny.csv", "bad|2\r\nhalf|2.5\r\nneg|-0.4\r\n", {"new", "bad", "half", "neg"}, true, {"bad"},
              "bad|1\r\nhalf|1\r\nneg|-1\r\nnew|0\r\n"},
             {"5", "deny.csv", "low|-5\r\nold|-9\r\nedge|-4\r\n", trio, true, {}, "edge|-5\r\n"},
             {"5", "deny.csv", "low|-5\r\nold|-9\r\nedge|-4\r\n", trio, false, {}, "edge|-4\r\n"},
             {"5", "deny.csv", "edge|-5\r\n", trio, true, {}, "low|0\r\nold|0\r\n"},
             {"5", "allow.csv", QByteArray(), {"app|/opt/app"}, true, {"x"}, "app|/opt/app|1\r\n"},
             {"5", "allow.csv", "x|2026.01.02 7:35|1K|/x|3\r\nY|2026.01.02 8:00|2K|/y|3\r\ny|2026.01.02 8:00|2K|/y|sha256:ab|3\r\nz|2026.01.02 7:35|1K|/z|3\r\n",
              {"x|2026.01.02 7:35|1K|/x", "Y|2026.01.02 8:00|2K|/y", "y|2026.01.02 8:00|2K|/y|sha256:ab", "z|2026.01.02 7:35|1K|/z"}, true,
              {"x|2026.01.02 7:35|1K|/x", "y|2026.01.02 8:00|2K|/y|sha256:ab"},
              "Y|2026.01.02 8:00|2K|/y|2\r\nx|2026.01.02 7:35|1K|/x|8\r\ny|2026.01.02 8:00|2K|/y|sha256:ab|8\r\nz|2026.01.02 7:35|1K|/z|2\r\n"},
             {"5", "allow.csv", "z|3\r\n", {"z", "m"}, true, {"z"}, "z|3\r\n", true}}) {
        ListBed t(c.clean);
        t.files.failWrites << (c.fails ? c.file : "");
        EXPECT_EQ(t.save(c.file, c.before, c.records, c.update, c.seen), c.after) << c.after.constData();
        const bool kept = *c.clean == '0' || c.fails;
        EXPECT_EQ(std::pair(t.app.seenRecords, t.app.seenPending),
                  std::pair(kept ? QSet<QString>(c.seen.begin(), c.seen.end()) : QSet<QString>(), !kept));
        EXPECT_TRUE(t.exists(c.file) && (!c.fails || text(t.list) == "m,z"));
        EXPECT_EQ(t.read("error.log"), c.fails ? "mdSettings.putList: Permission denied\r\n\r\n" : "");
    }
}

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
    EXPECT_TRUE(t.app.settingList.count() == 12 && isOn(t.app, "always_top") && isOn(t.app, "one") && !isOn(t.app, "two"));
    EXPECT_DOUBLE_EQ(numSetting(t.app, "half"), 0.5);
    for (const char* key : {"word", "empty", "missing", "k", "comma"})   // a comma makes no number
        EXPECT_THROW(numSetting(t.app, key), std::runtime_error) << key;
    for (bool early : {false, true}) {   // a key twice fails, logged only once logging is read
        TestBed d;
        d.write("settings.ini", early ? "error_log=1\r\na=1\r\nA=2\r\n" : "a=1\r\nA=2\r\nerror_log=1\r\n");
        EXPECT_TRUE(!getSettings(d.app) && d.read("error.log").startsWith("mdSettings.getSettings: ") == early);
    }
}

TEST(Files, KeepEveryByteOfNamesAndLines)
{
    TestBed t;
    const QByteArray name = t.tmp.path().toUtf8() + "/caf\xe9";
    const QString path = fromSys(name);
    t.files.writeText(path, fromSys("a\xff\r\nb\rc\nd"));
    EXPECT_TRUE(fileExists(t.app, path));
    EXPECT_FALSE(fileExists(t.app, t.tmp.path()));   // a folder
    EXPECT_EQ(t.files.size(path), 9);
    EXPECT_EQ(t.files.readLines(path), QStringList({fromSys("a\xff"), "b", "c", "d"}));
    const auto entries = t.files.list(t.tmp.path());
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [&](auto& e) { return path.endsWith("/" + e.name); }));
    t.files.remove(path);
    EXPECT_FALSE(fileExists(t.app, path));
}

TEST(ErrorLog, OnlyWhenOnNewestFirstGuardedKeptWholeOnFailureEveryByteKept)
{
    ListBed t("0");
    for (const char* value : {"0", "2", "", "yes", "1"}) {
        setSetting(t.app, "error_log", value);
        error_log(t.app, "frmMain", "A", fromSys(QByteArray("f\xe9") + value));
    }
    int reached = 0;
    EXPECT_FALSE(guarded(t.app, "frmTray", "Go", [&] {
        ++reached;
        numSetting(t.app, "nothing");
        ++reached;
    }));
    t.files.failWrites.insert("error.log");
    error_log(t.app, "frmMain", "B", "lost");
    EXPECT_EQ(t.read("error.log") + QByteArray::number(reached),
              "frmTray.Go: Type mismatch: '' is not a number\r\nfrmMain.A: f\xe9" "1\r\n\r\n1");
}

// Another program saves between this program's read and its reload: what it added comes in, what it removed goes,
// and what this program added or deleted meanwhile stays as it is here. A second reload of the first file takes in
// against what the reload before read. A save takes in the same way (the list window's moves and deletes).
TEST(Lists, ReloadsTakeInWhatAnotherWriterChanged)
{
    // What the other program saves, what this one added and deleted meanwhile; the list after the reload, and after
    // the second one.
    for (const auto& [other, added, deleted, after, again] :
         {std::tuple(QByteArray("a\r\nb\r\nc\r\n"), "d", "", "a,b,c,d", "a,b,d"), {"a\r\n", "d", "", "a,d", "a,b,d"},
          {"a\r\nb\r\nc\r\n", "", "a", "b,c", "b"}, {"b\r\nc\r\n", "e", "b", "c,e", "a,e"}, {"", "", "", "", "a,b"}}) {
        SCOPED_TRACE(after);
        ListBed t("5");
        t.write("allow.csv", "a\r\nb\r\n");
        getList(t.app, t.app.allowList, "allow.csv");
        t.app.allowTmp = clnEq(t.app, t.app.allowList);
        t.app.allowTmp.add("now");   // allowed for the present period only
        for (Collection* list : {&t.app.allowList, &t.app.allowTmp}) {
            if (*added)
                list->add(added);
            clnDel(t.app, *list, deleted);
        }
        t.files.writeBytes(t.path("allow.csv"), other, true);
        reloadChanged(t.app);
        EXPECT_EQ(records(t.app.allowList), after);
        EXPECT_EQ(records(t.app.allowTmp), QString(*after ? "%1,now" : "now").arg(after));
        EXPECT_EQ(t.read("allow.csv"), other);
        t.files.writeBytes(t.path("allow.csv"), "a\r\nb\r\n", true);
        reloadChanged(t.app);
        EXPECT_EQ(records(t.app.allowList), again);
    }
}

// The save that finds the lock of another writer waits for it, and then takes in what that one wrote.
TEST(Lists, ASaveWaitsWhileAnotherWriterHoldsTheLock)
{
    ListBed t("0");
    t.write("allow.csv", "a\r\n");
    getList(t.app, t.list, "allow.csv");
    t.list.add("mine");
    std::promise<void> locked;
    std::thread other([&t, &locked] {
        platform::LinuxFiles files;
        const auto lock = files.lock(t.path("lists.lock"), 1000);
        locked.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        files.writeBytes(t.path("allow.csv"), "a\r\ntheirs\r\n", true);
    });
    locked.get_future().wait();
    putList(t.app, t.list, "allow.csv", false);
    other.join();
    EXPECT_EQ(t.read("allow.csv"), "a\r\nmine\r\ntheirs\r\n");
}

// A record that the file would give back as another one is not stored: each save, in either form of the file, leaves
// out what storable() refuses (SavesSortMergeAgeCreditAndPrune).
TEST(Lists, RecordsThatWouldNotReadBackAsThemselvesAreNotStored)
{
    const std::pair<const char*, bool> cases[] = {
        {"a|1", false}, {"a|12", false}, {"a|1|/p/a|1", false}, {"a|-3", false}, {"a ", false}, {" a", false},
        {"a |/p/a ", false}, {"a\nb|/p", false}, {"a|1x", true}, {"b|", true}, {"c |/p/c |sha256:ff", true},
        {"d|/p/d", true}, {"e|2026.01.02 7:35|1K|/p:e", true}};
    for (const auto& [record, ok] : cases)
        EXPECT_EQ(storable(record), ok) << record;
}
