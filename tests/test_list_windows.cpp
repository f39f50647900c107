#include "Fakes.h"
#include "store/mdSettings.h"
#include "tray/frmTray.h"

#include <gtest/gtest.h>
#include <cmath>

namespace {
QStringList items(const Collection& c)
{
    return QStringList(c.begin(), c.end());
}

struct NoTray : platform::Tray {
    void add(const QIcon&, const QString&) override {}
    void modify(const QIcon&, const QString&) override {}
    void remove() override {}
};

// Both list windows, opened from the tray over the given lists.
struct ListBed : TestBed {
    NoTray icon;
    frmMain main{app};
    frmTray tray{app, main, icon};
    frmList* allow;
    frmList* deny;
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
        tray.SeeAllow_Click();
        tray.SeeDeny_Click();
        allow = tray.allowWindow;
        deny = tray.denyWindow;
    }
    // The rows of a window, which must be those of its list as it stands.
    QStringList rows(frmList* window)
    {
        QStringList shown, fresh;
        for (int i = 0; i < window->List->count(); ++i)
            shown << window->List->item(i)->text();
        for (const QString& record : app.*(window->t.own))
            fresh << window->rowText(record);
        EXPECT_EQ(shown, fresh) << window->objectName().toStdString();
        return shown;
    }
    void select(frmList* window, const QStringList& names)
    {
        for (int i = 0; i < window->List->count(); ++i)
            window->List->item(i)->setSelected(names.contains(window->List->item(i)->text().section('\t', 0, 0)));
    }
};
} // namespace

TEST(ListWindow, RowLayoutAndTheExtentsOfTheTwins)
{
    const QString wide = QString("wide").repeated(30) + ".exe";
    ListBed t({"a.exe|x|y", wide}, {"a.exe|x|y", wide});
    const float tab = t.allow->W("\t");
    EXPECT_EQ(t.rows(t.allow), QStringList({"a.exe\t\tx\ty", wide}));
    // The widest row, a record without "|", sets the extent; the margin is half a tab, or half a space.
    EXPECT_EQ(t.allow->horizontalExtent, std::nearbyint(t.allow->W(wide) + tab / 2));
    EXPECT_EQ(t.deny->horizontalExtent, std::nearbyint(t.allow->W(wide) + t.allow->W(" ") / 2));

    // A name too wide is cut from its end to fit, with "..."; one that holds "..." itself loses it.
    for (const auto& [name, bare] : {std::pair{wide, wide}, std::pair{"a..." + wide, "a" + wide}}) {
        const QString cut = t.allow->rowText(name + "|p").chopped(2);
        EXPECT_TRUE(cut.endsWith("...") && bare.startsWith(cut.chopped(3))) << cut.toStdString();
        EXPECT_LE(t.allow->W(cut) - t.allow->W("   "), 2 * tab);
        EXPECT_GT(t.allow->W(bare.left(cut.size() - 2) + "...") - t.allow->W("   "), 2 * tab);
    }
}

TEST(ListWindow, MovesAndDeletesKeepListsFilesAndRowsTogether)
{
    ListBed t({"e.exe|/e", "a.exe|/a", "d.exe|/d", "c.exe|/c", "b.exe|/b"}, {"z.exe|/z", "B.EXE|/B"});
    // Nothing selected: the delete rewrites its own file, the move both; saving sorts, and the rows follow.
    t.allow->btnDelEntry_MouseUp();
    EXPECT_TRUE(t.exists("allow.csv") && !t.exists("deny.csv"));
    t.deny->btnMoveEntry_MouseUp();
    EXPECT_TRUE(t.exists("deny.csv"));

    // Two of five go over; of a record there already, in another case, the old copy stays.
    t.select(t.allow, {"b.exe", "d.exe"});
    t.allow->btnMoveEntry_MouseUp();
    EXPECT_EQ(t.read("allow.csv"), "a.exe|/a\r\nc.exe|/c\r\ne.exe|/e\r\n");
    EXPECT_EQ(t.read("deny.csv"), "B.EXE|/B\r\nd.exe|/d\r\nz.exe|/z\r\n");
    EXPECT_EQ(items(t.app.allowTmp), QStringList({"e.exe|/e", "a.exe|/a", "c.exe|/c"}));
    EXPECT_EQ(items(t.app.denyTmp), QStringList({"z.exe|/z", "B.EXE|/B", "b.exe|/b", "d.exe|/d"}));
    EXPECT_EQ(t.rows(t.allow).size() + t.rows(t.deny).size(), 6);

    t.select(t.deny, {"d.exe"});
    t.deny->btnDelEntry_MouseUp();
    EXPECT_EQ(t.read("deny.csv"), "B.EXE|/B\r\nz.exe|/z\r\n");
    EXPECT_EQ(items(t.app.denyTmp), QStringList({"z.exe|/z", "B.EXE|/B", "b.exe|/b"}));
    EXPECT_EQ(t.rows(t.deny).size(), 2);
}

TEST(ListWindow, ButtonsActOnTheRecordTheirRowShowsWhoeverChangedTheList)
{
    // Each change puts d.exe between a.exe and e.exe in the deny list under its open window.
    const std::function<void(ListBed&)> changes[] = {
        [](ListBed& t) { t.main.btnDeny_MouseUp(); },   // the alert's Deny cannot end the process
        [](ListBed& t) {
            t.files.failWrites << "deny.csv";   // the save fails, the sorted list stays
            t.main.btnDeny_MouseUp();
            t.files.failWrites.clear();
        },
        [](ListBed& t) {
            t.select(t.allow, {"d.exe"});
            t.allow->btnMoveEntry_MouseUp();
        },
        [](ListBed& t) {
            t.app.denyList.add("d.exe|/d");   // not saved: the rows stay as they were
            t.app.denyList.sort(true);
        },
    };
    for (const auto& change : changes) {
        ListBed t({"d.exe|/d"}, {"e.exe|/e", "a.exe|/a"});
        t.processes.add(7, "d.exe", "/d").killable = false;
        t.main.appName = "d.exe";
        t.main.appPid = 7;
        t.main.appRecord = "d.exe|/d";
        change(t);
        // The row of e.exe goes to the allow list, and e.exe is what goes.
        t.select(t.deny, {"e.exe"});
        t.deny->btnMoveEntry_MouseUp();
        EXPECT_EQ(t.read("deny.csv"), "a.exe|/a\r\nd.exe|/d\r\n");
        EXPECT_TRUE(t.read("allow.csv").endsWith("e.exe|/e\r\n")) << t.read("allow.csv").constData();
        t.rows(t.allow);
        t.rows(t.deny);
    }
}
