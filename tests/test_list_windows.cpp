#include "Fakes.h"
#include "guard/frmMain.h"
#include "lists/frmList.h"
#include "store/mdSettings.h"

#include <gtest/gtest.h>
#include <QScrollBar>
#include <cmath>

namespace {
QStringList items(const Collection& c)
{
    QStringList out;
    for (const QString& item : c)
        out << item;
    return out;
}

QStringList rows(const QListWidget* list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

struct ListBed : TestBed {
    frmMain main{app};
    ListBed()
    {
        settings();
        EXPECT_TRUE(mdSettings::getSettings(app));
    }
    void fill(Collection& list, Collection& tmp, const QStringList& records)
    {
        for (const auto& r : records) {
            list.add(r);
            tmp.add(r);
        }
    }
};
} // namespace

TEST(ListWindow, RowLayout)
{
    ListBed t;
    frmList w(t.app, t.main, frmList::Kind::Allow);
    const float tab = w.W("\t");
    EXPECT_GT(tab, w.W(" "));
    // A tab counts the same wherever it stands.
    EXPECT_FLOAT_EQ(w.W("a\tb"), w.W("ab") + tab);

    EXPECT_EQ(w.rowText("plain name.exe"), "plain name.exe");
    EXPECT_EQ(w.rowText("a.exe|x|y"), "a.exe\t\tx\ty");

    const QString wide = QString("wide").repeated(30) + ".exe";
    const QString cut = w.rowText(wide + "|/p|q").section('\t', 0, 0);
    EXPECT_EQ(w.rowText(wide + "|/p|q"), cut + "\t/p\tq");
    EXPECT_TRUE(cut.endsWith("..."));
    EXPECT_TRUE(wide.startsWith(cut.chopped(3)));
    EXPECT_LE(w.W(cut) - w.W("   "), 2 * tab);
    // One character less than the cut left would still be too wide.
    EXPECT_GT(w.W(wide.left(cut.size() - 2) + "...") - w.W("   "), 2 * tab);

    // A name holding "..." itself loses it in the cutting.
    const QString dotted = "ab..." + wide;
    const QString dottedCut = w.rowText(dotted + "|p").section('\t', 0, 0);
    EXPECT_EQ(dottedCut.count("..."), 1);
    EXPECT_TRUE(dottedCut.endsWith("..."));
    EXPECT_TRUE(("ab" + wide).startsWith(dottedCut.chopped(3)));

    // Rows in collection order; a record without "|" counts for the extent.
    t.app.allowList.add("a.exe|x|y");
    t.app.allowList.add(wide);
    w.listLoad();
    EXPECT_EQ(rows(w.List), QStringList({"a.exe\t\tx\ty", wide}));
    EXPECT_EQ(w.horizontalExtent, static_cast<int>(std::nearbyint(w.W(wide) + tab / 2)));
}

TEST(ListWindow, ExtentsOfTheTwinsDifferByHalfTabMinusSpace)
{
    ListBed t;
    for (const QString r : {"a.exe|x|y", "longer-name.exe|/usr/lib/longer/longer-name.exe", "b"}) {
        t.app.allowList.add(r);
        t.app.denyList.add(r);
    }
    frmList allow(t.app, t.main, frmList::Kind::Allow);
    frmList deny(t.app, t.main, frmList::Kind::Deny);
    allow.listLoad();
    deny.listLoad();
    EXPECT_EQ(rows(allow.List), rows(deny.List));
    const double half = (allow.W("\t") - allow.W(" ")) / 2;
    EXPECT_GT(half, 1);
    EXPECT_NEAR(allow.horizontalExtent - deny.horizontalExtent, half, 1.0);
    EXPECT_GE(allow.List->horizontalScrollBar()->maximum() + allow.List->viewport()->width(),
              allow.horizontalExtent);
}

TEST(ListWindow, MoveSecondAndFourthOfFive)
{
    ListBed t;
    t.fill(t.app.allowList, t.app.allowTmp, {"a.exe|/a", "b.exe|/b", "c.exe|/c", "d.exe|/d", "e.exe|/e"});
    t.fill(t.app.denyList, t.app.denyTmp, {"z.exe|/z", "c2.exe|/c2"});
    frmList allow(t.app, t.main, frmList::Kind::Allow);
    frmList deny(t.app, t.main, frmList::Kind::Deny);
    allow.show();
    deny.show();
    allow.listLoad();
    deny.listLoad();
    allow.List->item(1)->setSelected(true);
    allow.List->item(3)->setSelected(true);
    allow.btnMoveEntry_MouseUp();

    EXPECT_EQ(items(t.app.allowList), QStringList({"a.exe|/a", "c.exe|/c", "e.exe|/e"}));
    EXPECT_EQ(items(t.app.allowTmp), QStringList({"a.exe|/a", "c.exe|/c", "e.exe|/e"}));
    EXPECT_EQ(rows(allow.List), QStringList({"a.exe\t\t/a", "c.exe\t\t/c", "e.exe\t\t/e"}));
    EXPECT_EQ(items(t.app.denyList), QStringList({"b.exe|/b", "c2.exe|/c2", "d.exe|/d", "z.exe|/z"}));
    EXPECT_TRUE(t.app.denyTmp.search("b.exe|/b", QString()) > 0 && t.app.denyTmp.search("d.exe|/d", QString()) > 0);
    EXPECT_EQ(rows(deny.List).size(), 4);
    EXPECT_EQ(rows(deny.List).first(), "b.exe\t\t/b");
    EXPECT_EQ(t.read("allow.csv"), "a.exe|/a\r\nc.exe|/c\r\ne.exe|/e\r\n");
    EXPECT_EQ(t.read("deny.csv"), "b.exe|/b\r\nc2.exe|/c2\r\nd.exe|/d\r\nz.exe|/z\r\n");

    // Back from the deny window: rows stay matched to the sorted list.
    deny.List->item(0)->setSelected(true);
    deny.btnMoveEntry_MouseUp();
    EXPECT_EQ(items(t.app.allowList), QStringList({"a.exe|/a", "b.exe|/b", "c.exe|/c", "e.exe|/e"}));
    EXPECT_EQ(rows(allow.List).size(), 4);
    EXPECT_EQ(rows(allow.List)[1], "b.exe\t\t/b");
    EXPECT_EQ(items(t.app.denyList), QStringList({"c2.exe|/c2", "d.exe|/d", "z.exe|/z"}));
    EXPECT_FALSE(t.exists("error.log"));
}

TEST(ListWindow, MovingARecordTheOtherListHoldsKeepsTheOldCopy)
{
    ListBed t;
    t.fill(t.app.allowList, t.app.allowTmp, {"b.exe|/x/b.exe"});
    t.fill(t.app.denyList, t.app.denyTmp, {"B.EXE|/X/B.EXE"});
    frmList allow(t.app, t.main, frmList::Kind::Allow);
    allow.listLoad();
    allow.List->item(0)->setSelected(true);
    allow.btnMoveEntry_MouseUp();
    EXPECT_EQ(items(t.app.denyList), QStringList({"B.EXE|/X/B.EXE"}));
    EXPECT_EQ(t.read("deny.csv"), "B.EXE|/X/B.EXE\r\n");
    EXPECT_EQ(t.app.allowList.count(), 0);
    EXPECT_EQ(t.app.allowTmp.count(), 0);
}

TEST(ListWindow, NothingSelectedStillRewritesTheFiles)
{
    ListBed t;
    t.fill(t.app.allowList, t.app.allowTmp, {"b.exe", "a.exe"});
    t.fill(t.app.denyList, t.app.denyTmp, {"z.exe"});
    frmList deny(t.app, t.main, frmList::Kind::Deny);
    deny.listLoad();
    deny.btnMoveEntry_MouseUp();
    EXPECT_EQ(t.read("allow.csv"), "a.exe\r\nb.exe\r\n");
    EXPECT_EQ(t.read("deny.csv"), "z.exe\r\n");
    EXPECT_EQ(rows(deny.List), QStringList({"z.exe"}));

    QFile::remove(t.path("deny.csv"));
    QFile::remove(t.path("allow.csv"));
    deny.btnDelEntry_MouseUp();
    EXPECT_EQ(t.read("deny.csv"), "z.exe\r\n");
    EXPECT_FALSE(t.exists("allow.csv"));
    EXPECT_EQ(items(t.app.denyList), QStringList({"z.exe"}));
}

TEST(ListWindow, DeleteTakesTheRecordOffBothLists)
{
    ListBed t;
    t.fill(t.app.denyList, t.app.denyTmp, {"x.exe|/x", "y.exe|/y"});
    t.app.denyTmp.add("now.exe|/now");   // a decision for the present period only
    frmList deny(t.app, t.main, frmList::Kind::Deny);
    deny.listLoad();
    deny.List->item(0)->setSelected(true);
    deny.btnDelEntry_MouseUp();
    EXPECT_EQ(items(t.app.denyList), QStringList({"y.exe|/y"}));
    EXPECT_EQ(items(t.app.denyTmp), QStringList({"y.exe|/y", "now.exe|/now"}));
    EXPECT_EQ(rows(deny.List), QStringList({"y.exe\t\t/y"}));
    EXPECT_EQ(t.app.allowList.count(), 0);
    EXPECT_EQ(t.read("deny.csv"), "y.exe|/y\r\n");
}
