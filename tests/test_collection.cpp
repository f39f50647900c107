#include "Fakes.h"
#include "store/mdCollection.h"

#include <gtest/gtest.h>

using namespace mdCollection;

namespace {
Collection of(std::initializer_list<const char*> items)
{
    Collection c;
    for (const char* i : items)
        c.add(QString::fromUtf8(i));
    return c;
}
QStringList items(const Collection& c) { return QStringList(c.begin(), c.end()); }
} // namespace

TEST(Collection, SortIsStableAndKeepsTheFirstOfEquals)
{
    TestBed t;
    Collection c = of({"b", "A", "a", "B"});
    clnSort(t.app, c, true);
    EXPECT_EQ(items(c), QStringList({"A", "b"}));
    c = of({"b", "A", "a", "B"});
    clnSort(t.app, c, false);
    EXPECT_EQ(items(c), QStringList({"A", "a", "b", "B"}));
    c = of({"z"});
    clnSort(t.app, c, true);
    EXPECT_EQ(items(c), QStringList({"z"}));
}

TEST(Collection, SearchWithAndWithoutSuffix)
{
    TestBed t;
    const Collection c = of({"notepad.exe2", "x.exe|/a/x.exe", "NOTEPAD.EXE|/usr/bin/notepad.exe", "notepad.exe"});
    EXPECT_EQ(clnSearch(t.app, Collection(), "a"), 0);
    // Without a suffix only an equal item matches, in any case.
    EXPECT_EQ(clnSearch(t.app, c, "Notepad.exe"), 4);
    // With "|" an item that begins with the value and a bar matches too; the first wins.
    EXPECT_EQ(clnSearch(t.app, c, "notepad.exe", "|"), 3);
    EXPECT_EQ(clnSearch(t.app, c, "notepad", "|"), 0);
    EXPECT_EQ(clnSearch(t.app, c, "x.exe|/a/x.exe"), 2);
    // A longer suffix compares item + suffix with value + suffix as written.
    EXPECT_EQ(clnSearch(t.app, of({"ab", "a"}), "a", "b|"), 2);
}

TEST(Collection, SearchFollowsChanges)
{
    TestBed t;
    Collection c = of({"a", "b", "c"});
    EXPECT_EQ(clnSearch(t.app, c, "c"), 3);
    c.remove(1);
    EXPECT_EQ(clnSearch(t.app, c, "c"), 2);
    c.add("C", QString(), 0);
    c.add("c|x", QString(), 1);
    EXPECT_EQ(clnSearch(t.app, c, "C", "|"), 2);
    clnSort(t.app, c, false);
    EXPECT_EQ(items(c), QStringList({"b", "c", "C", "c|x"}));
    EXPECT_EQ(clnSearch(t.app, c, "c"), 2);
    EXPECT_EQ(clnSearch(t.app, c, "c|X"), 4);
}

TEST(Collection, DeleteRemovesOnlyTheFirstOfTwo)
{
    TestBed t;
    Collection c = of({"a", "B", "c", "b"});
    clnDel(t.app, c, "b");
    EXPECT_EQ(items(c), QStringList({"a", "c", "b"}));
    clnDel(t.app, c, "zz");
    EXPECT_EQ(c.count(), 3);
}

TEST(Collection, KeysAndCopies)
{
    TestBed t;
    t.settings();
    Collection c;
    c.add("1", "One");
    c.add("2", "two");
    EXPECT_THROW(c.add("3", "ONE"), std::runtime_error);
    clnSetK(t.app, c, "one", "9");
    EXPECT_EQ(items(c), QStringList({"2", "9"}));
    EXPECT_EQ(clnItem(c, "ONE"), "9");
    EXPECT_EQ(clnItem(c, "three"), "");
    EXPECT_EQ(clnItem(c, 7), "");
    // A missing key is logged and stays absent; the log needs the settings.
    t.app.settingList.add("1", "error_log");
    clnSetK(t.app, c, "three", "3");
    EXPECT_FALSE(c.hasKey("three"));
    EXPECT_TRUE(t.read("error.log").startsWith("mdCollection.clnSetK: "));
    const Collection copy = clnEq(t.app, c);
    EXPECT_EQ(items(copy), items(c));
    EXPECT_FALSE(copy.hasKey("one"));
}
