#include "Fakes.h"
#include "design/frmAbout.h"
#include "guard/frmMain.h"
#include "lists/frmList.h"
#include "store/mdSettings.h"

#include <gtest/gtest.h>

namespace {
const QStringList kPaths{"", "/x y/a&b.exe", "2006.03.07 9:05|1.25M|/x/a.exe"};
const QString kFacts = "&dir_system=/usr/bin&dir_windows=/usr&dir_programs=/opt&dir_tmp=/tmp"
                       "&dir_userprofile=/home/user&drive_windows=&os=Linux&version=1.9.0";

// Every request in turn on one web_search value: About's error report, a double-click on each row and on
// no row of both list windows (a.exe with the paths above), the alert's Search with TMP unset.
QStringList lookUpAll(TestBed& t, const QString& webSearch)
{
    t.settings({{"web_search", webSearch}});
    EXPECT_TRUE(mdSettings::getSettings(t.app));
    frmMain main(t.app);
    main.dirSystem = "/usr/bin";
    main.dirWindows = "/usr";
    frmAbout(t.app, main).btnWeb_MouseUp();
    for (const QString& path : kPaths)
        for (Collection* list : {&t.app.allowList, &t.app.denyList})
            list->add(path.isEmpty() ? "a.exe" : "a.exe|" + path);
    for (frmList::Kind kind : {frmList::Kind::Allow, frmList::Kind::Deny}) {
        frmList window(t.app, main, kind);
        window.listLoad();
        for (int row : {0, 1, 2, -1}) {
            window.List->setCurrentRow(row);
            window.List_DblClick();
        }
    }
    t.env.vars["TMP"] = "";
    main.appName = "tool";
    main.appPath = "/a b/tool";
    main.btnSearch_MouseUp();
    return t.shell.opened;
}
} // namespace

TEST(WebLookup, RequestsCarryTheirTargetAndTheMachineFactsUnescaped)
{
    for (const QString base : {"https://mirvak.example/lookup.php", "HTTPS://MIRVAK.EXAMPLE/Lookup.php"}) {
        TestBed t;
        QStringList expected{base + "?" + kFacts.mid(1) + "&str_errors="};
        for (const QString& path : kPaths + kPaths)
            expected << base + "?executable=a.exe&path=" + path + kFacts;
        expected << base + "?executable=tool&path=/a b/tool" + QString(kFacts).replace("tmp=/tmp", "tmp=");
        EXPECT_EQ(lookUpAll(t, base), expected);   // no current row: nothing sent
        EXPECT_FALSE(t.exists("error.log"));
    }
}

TEST(WebLookup, OffThePublishersSiteOnlyTheReportGoesAndNothingIsLogged)
{
    for (const QString base : {"https://www.example.org/lookup.php", ""}) {
        TestBed t;
        EXPECT_EQ(lookUpAll(t, base), QStringList({base + "?" + kFacts.mid(1) + "&str_errors="}));
        EXPECT_FALSE(t.exists("error.log"));
    }
}
