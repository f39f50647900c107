#include "Fakes.h"
#include "platform/SysText.h"
#include "store/mdCollection.h"

#include <gtest/gtest.h>

using namespace mdCollection;

static QString text(const Collection& c) { return QStringList(c.begin(), c.end()).join(","); }

TEST(Collection, SortSearchDeleteAndKeysFollowEveryChange)
{
    TestBed t;
    t.app.settingList.add("1", "error_log");   // all the log needs
    Collection c;
    for (const char* item : {"notepad.exe2", "NOTEPAD.EXE|/usr/bin/notepad.exe", "b", "notepad.exe", "A", "a", "B", "X\xe9"})
        c.add(platform::fromSys(item));
    // "|" also matches an item that begins with value + "|"; escaped bytes match only themselves.
    const auto search = [&](const char* v, const char* suffix) { return clnSearch(t.app, c, platform::fromSys(v), suffix); };
    EXPECT_EQ(QList<int>({search("Notepad.exe", ""), search("notepad.exe", "|"), search("notepad", "|"),
                          search("x\xe9", ""), search("x\xe8", "")}), QList<int>({4, 2, 0, 8, 0}));
    c.remove(8);
    Collection all = clnEq(t.app, c);
    clnSort(t.app, all, false);
    clnSort(t.app, c, true);   // stable: of equal items the first stays
    EXPECT_EQ(text(all), "A,a,b,B,notepad.exe,notepad.exe2,NOTEPAD.EXE|/usr/bin/notepad.exe");
    EXPECT_EQ(text(c), "A,b,notepad.exe,notepad.exe2,NOTEPAD.EXE|/usr/bin/notepad.exe");
    // The index follows removal, insertion and sorting; deletion takes the first of equals.
    c.remove(1);
    c.add("b|x", QString(), 1);
    clnDel(t.app, all, "B");
    EXPECT_EQ(QList<int>({search("NOTEPAD.EXE", ""), search("b|X", ""), search("b", "|")}), QList<int>({3, 2, 1}));
    EXPECT_EQ(text(all), "A,a,B,notepad.exe,notepad.exe2,NOTEPAD.EXE|/usr/bin/notepad.exe");

    Collection k;
    k.add("1", "One");
    k.add("2", "two");
    EXPECT_THROW(k.add("3", "ONE"), std::runtime_error);
    clnSetK(t.app, k, "one", "9");
    clnSetK(t.app, k, "three", "3");   // a missing key is logged and stays absent
    k.add("0", "zero", 1);   // in the middle: later keys move along
    k.add("4", "four");
    k.remove("two");
    EXPECT_EQ(text(k) + "|" + clnItem(k, "ONE") + clnItem(k, "Zero") + clnItem(k, "four") + clnItem(k, "two")
                  + clnItem(k, "three") + clnItem(k, 0) + clnItem(k, 4), "0,9,4|904");
    EXPECT_TRUE(t.read("error.log").startsWith("mdCollection.clnSetK: ") && !clnEq(t.app, k).hasKey("one"));
}
