#include "Fakes.h"
#include "guard/WebLookup.h"
#include "guard/frmMain.h"
#include "lists/frmList.h"
#include "store/mdSettings.h"

#include <gtest/gtest.h>

namespace {
const QString kBase = "https://www.mirvak.example/lookup.php";
const QString kFacts = "&dir_system=/usr/bin&dir_windows=/usr&dir_programs=/opt&dir_tmp=/tmp"
                       "&dir_userprofile=/home/user&drive_windows=&os=Linux&version=1.9.0";

// A program folder with settings loaded and the start-up directories noted.
struct WebBed : TestBed {
    frmMain main{app};
    explicit WebBed(const QString& webSearch = kBase)
    {
        settings({{"web_search", webSearch}});
        EXPECT_TRUE(mdSettings::getSettings(app));
        main.dirSystem = env.systemDirectory();
        main.dirWindows = env.windowsDirectory();
    }
};
} // namespace

TEST(WebLookup, ListRecordsSplitAtTheFirstBarInBothWindows)
{
    WebBed t;
    const QStringList records{"a.exe", "a.exe|/x y/a&b.exe", "a.exe|2006.03.07 9:05|1.25M|/x/a.exe"};
    for (const auto& r : records) {
        t.app.allowList.add(r);
        t.app.denyList.add(r);
    }
    frmList allow(t.app, t.main, frmList::Kind::Allow);
    frmList deny(t.app, t.main, frmList::Kind::Deny);
    allow.listLoad();
    deny.listLoad();
    for (int row = 0; row < records.size(); ++row) {
        allow.List->setCurrentRow(row);
        allow.List_DblClick();
        deny.List->setCurrentRow(row);
        deny.List_DblClick();
    }
    const QStringList expected{
        kBase + "?executable=a.exe&path=" + kFacts,
        kBase + "?executable=a.exe&path=/x y/a&b.exe" + kFacts,
        kBase + "?executable=a.exe&path=2006.03.07 9:05|1.25M|/x/a.exe" + kFacts,
    };
    ASSERT_EQ(t.shell.opened.size(), 6);
    for (int row = 0; row < records.size(); ++row) {
        EXPECT_EQ(t.shell.opened[2 * row], expected[row]);
        EXPECT_EQ(t.shell.opened[2 * row + 1], expected[row]);
    }
    EXPECT_FALSE(t.exists("error.log"));

    // No current row: entry 0 does not exist; the failure is logged and nothing is sent.
    allow.List->setCurrentRow(-1);
    allow.List_DblClick();
    EXPECT_EQ(t.shell.opened.size(), 6);
    EXPECT_TRUE(t.read("error.log").startsWith("frmAllowList.List_DblClick: "));
}

TEST(WebLookup, SearchButtonSendsTheAlertProcessWithUnsetVariablesEmpty)
{
    WebBed t;
    t.env.vars["TMP"] = "";
    t.main.appName = "tool";
    t.main.appPath = "/opt/my tools/tool";
    t.main.btnSearch_MouseUp();
    ASSERT_EQ(t.shell.opened.size(), 1);
    EXPECT_EQ(t.shell.opened[0], kBase + "?executable=tool&path=/opt/my tools/tool&dir_system=/usr/bin"
                                         "&dir_windows=/usr&dir_programs=/opt&dir_tmp=&dir_userprofile=/home/user"
                                         "&drive_windows=&os=Linux&version=1.9.0");
}

TEST(WebLookup, DomainGuardIsCaseBlindAndSilent)
{
    {
        WebBed t("https://www.example.org/lookup.php");
        t.app.allowList.add("a.exe");
        frmList allow(t.app, t.main, frmList::Kind::Allow);
        allow.listLoad();
        allow.List->setCurrentRow(0);
        allow.List_DblClick();
        allow.List->setCurrentRow(-1);
        allow.List_DblClick();   // no row and no domain: the guard comes first
        t.main.appName = "a.exe";
        t.main.btnSearch_MouseUp();
        EXPECT_TRUE(t.shell.opened.isEmpty());
        EXPECT_FALSE(t.exists("error.log"));
        // The error report has no guard.
        EXPECT_EQ(WebLookup::url(t.app, t.main, std::nullopt),
                  "https://www.example.org/lookup.php?dir_system=/usr/bin&dir_windows=/usr&dir_programs=/opt"
                  "&dir_tmp=/tmp&dir_userprofile=/home/user&drive_windows=&os=Linux&version=1.9.0&str_errors=");
    }
    {
        WebBed t("HTTPS://WWW.MIRVAK.EXAMPLE/Lookup.php");
        t.main.appName = "a.exe";
        t.main.btnSearch_MouseUp();
        ASSERT_EQ(t.shell.opened.size(), 1);
        EXPECT_TRUE(t.shell.opened[0].startsWith("HTTPS://WWW.MIRVAK.EXAMPLE/Lookup.php?executable=a.exe&path=&"));
    }
    {
        // A missing key reads as empty and disables the lookup.
        WebBed t;
        t.write("settings.ini", "error_log=1\r\n");
        t.app.settingList = Collection();
        ASSERT_TRUE(mdSettings::getSettings(t.app));
        t.main.btnSearch_MouseUp();
        EXPECT_TRUE(t.shell.opened.isEmpty());
    }
}
