#include "Fakes.h"
#include "lists/frmList.h"
#include "store/mdSettings.h"

#include <gtest/gtest.h>
#include <cmath>

namespace {
QStringList items(const Collection& c)
{
    return QStringList(c.begin(), c.end());
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
    frmList allow{app, main, frmList::Kind::Allow};
    frmList deny{app, main, frmList::Kind::Deny};
    ListBed(const QStringList& allowed, const QStringList& denied)
    {
        settings();
        EXPECT_TRUE(mdSettings::getSettings(app));
        for (const QString& record : allowed)
            app.allowList.add(record);
        for (const QString& record : denied)
            app.denyList.add(record);
        app.allowTmp = app.allowList;
        app.denyTmp = app.denyList;
        for (frmList* window : {&allow, &deny}) {
            window->show();
            window->listLoad();
        }
    }
    // Each window shows its list as a fresh load would: row i is item i + 1.
    void expectRowsMatch()
    {
        for (frmList* window : {&allow, &deny}) {
            const QStringList shown = rows(window->List);
            window->listLoad();
            EXPECT_EQ(shown, rows(window->List)) << window->objectName().toStdString();
        }
    }
};
} // namespace

TEST(ListWindow, RowLayoutAndTheExtentsOfTheTwins)
{
    const QString wide = QString("wide").repeated(30) + ".exe";
    ListBed t({"a.exe|x|y", wide}, {"a.exe|x|y", wide});
    const float tab = t.allow.W("\t");
    EXPECT_EQ(rows(t.allow.List), QStringList({"a.exe\t\tx\ty", wide}));
    // The widest row, a record without "|", sets the extent; the margin is half a tab, or half a space.
    EXPECT_EQ(t.allow.horizontalExtent, std::nearbyint(t.allow.W(wide) + tab / 2));
    EXPECT_EQ(t.deny.horizontalExtent, std::nearbyint(t.allow.W(wide) + t.allow.W(" ") / 2));

    // A name too wide is cut from its end to fit, with "..."; one that holds "..." itself loses it.
    for (const auto& [name, bare] : {std::pair{wide, wide}, std::pair{"a..." + wide, "a" + wide}}) {
        const QString cut = t.allow.rowText(name + "|p").chopped(2);
        EXPECT_TRUE(cut.endsWith("...") && bare.startsWith(cut.chopped(3))) << cut.toStdString();
        EXPECT_LE(t.allow.W(cut) - t.allow.W("   "), 2 * tab);
        EXPECT_GT(t.allow.W(bare.left(cut.size() - 2) + "...") - t.allow.W("   "), 2 * tab);
    }
}

TEST(ListWindow, MovesAndDeletesKeepListsFilesAndRowsTogether)
{
    ListBed t({"e.exe|/e", "a.exe|/a", "d.exe|/d", "c.exe|/c", "b.exe|/b"}, {"z.exe|/z", "B.EXE|/B"});
    // Nothing selected: the delete rewrites its own file, the move both; saving sorts, and the rows follow.
    t.allow.btnDelEntry_MouseUp();
    EXPECT_TRUE(t.exists("allow.csv") && !t.exists("deny.csv"));
    t.expectRowsMatch();
    QFile::remove(t.path("allow.csv"));
    t.deny.btnMoveEntry_MouseUp();
    EXPECT_TRUE(t.exists("allow.csv") && t.exists("deny.csv"));
    t.expectRowsMatch();

    // The second and fourth of five go over; of a record there already, in another case, the old copy stays.
    t.allow.List->item(1)->setSelected(true);
    t.allow.List->item(3)->setSelected(true);
    t.allow.btnMoveEntry_MouseUp();
    EXPECT_EQ(t.read("allow.csv"), "a.exe|/a\r\nc.exe|/c\r\ne.exe|/e\r\n");
    EXPECT_EQ(t.read("deny.csv"), "B.EXE|/B\r\nd.exe|/d\r\nz.exe|/z\r\n");
    EXPECT_EQ(items(t.app.allowTmp), QStringList({"e.exe|/e", "a.exe|/a", "c.exe|/c"}));
    EXPECT_EQ(items(t.app.denyTmp), QStringList({"z.exe|/z", "B.EXE|/B", "d.exe|/d", "b.exe|/b"}));
    t.expectRowsMatch();

    t.deny.List->item(1)->setSelected(true);
    t.deny.btnDelEntry_MouseUp();
    EXPECT_EQ(t.read("deny.csv"), "B.EXE|/B\r\nz.exe|/z\r\n");
    EXPECT_EQ(items(t.app.denyTmp), QStringList({"z.exe|/z", "B.EXE|/B", "b.exe|/b"}));
    t.expectRowsMatch();
}
