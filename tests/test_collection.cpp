#include "Fakes.h"
#include "store/mdCollection.h"

#include <gtest/gtest.h>

using namespace mdCollection;

static Collection of(const QStringList& items)
{
    Collection c;
    for (const QString& i : items)
        c.add(i);
    return c;
}

static QStringList items(const Collection& c) { return QStringList(c.begin(), c.end()); }

TEST(Collection, SortSearchIndexAndDelete)
{
    TestBed t;
    for (bool unique : {true, false}) {
        Collection c = of({"b", "A", "a", "B"});
        clnSort(t.app, c, unique);
        EXPECT_EQ(items(c), unique ? QStringList({"A", "b"}) : QStringList({"A", "a", "b", "B"}));
    }

    // With "|" an item that begins with the value and a bar matches too; the first match wins.
    const Collection records = of({"notepad.exe2", "NOTEPAD.EXE|/usr/bin/notepad.exe", "notepad.exe"});
    EXPECT_EQ(clnSearch(t.app, records, "Notepad.exe"), 3);
    EXPECT_EQ(clnSearch(t.app, records, "notepad.exe", "|"), 2);
    EXPECT_EQ(clnSearch(t.app, records, "notepad", "|"), 0);

    // The index follows removal, insertion and sorting; deletion takes the first of equals.
    Collection c = of({"a", "b", "c", "B"});
    EXPECT_EQ(clnSearch(t.app, c, "c"), 3);
    c.remove(1);
    EXPECT_EQ(clnSearch(t.app, c, "c"), 2);
    c.add("c|x", QString(), 1);
    EXPECT_EQ(clnSearch(t.app, c, "c"), 3);
    clnSort(t.app, c, false);
    EXPECT_EQ(clnSearch(t.app, c, "C|X"), 4);
    clnDel(t.app, c, "B");
    EXPECT_EQ(items(c), QStringList({"B", "c", "c|x"}));
}

TEST(Collection, KeysItemsAndCopies)
{
    TestBed t;
    t.app.settingList.add("1", "error_log");   // all the log needs
    Collection c;
    c.add("1", "One");
    c.add("2", "two");
    EXPECT_THROW(c.add("3", "ONE"), std::runtime_error);
    clnSetK(t.app, c, "one", "9");
    clnSetK(t.app, c, "three", "3");   // a missing key is logged and stays absent
    EXPECT_EQ(items(c), QStringList({"2", "9"}));
    EXPECT_TRUE(t.read("error.log").startsWith("mdCollection.clnSetK: "));
    EXPECT_EQ(clnItem(c, "ONE"), "9");
    EXPECT_EQ(clnItem(c, "three") + clnItem(c, 0) + clnItem(c, 3), "");
    const Collection copy = clnEq(t.app, c);
    EXPECT_EQ(items(copy), items(c));
    EXPECT_FALSE(copy.hasKey("one"));
}
