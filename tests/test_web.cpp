#include "Fakes.h"
#include "design/frmAbout.h"
#include "guard/frmMain.h"
#include "lists/frmList.h"
#include "store/mdSettings.h"

#include <QProcess>
#include <gtest/gtest.h>
#include <ranges>

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
    main.dirSystem = "/usr/bin", main.dirWindows = "/usr";
    frmAbout(t.app, main).btnWeb_MouseUp();
    for (const QString& path : kPaths)
        for (Collection* list : {&t.app.allowList, &t.app.denyList})
            list->add(path.isEmpty() ? "a.exe" : "a.exe|" + path);
    for (frmList::Kind kind : {frmList::Kind::Allow, frmList::Kind::Deny}) {
        frmList window(t.app, main, kind);
        window.listLoad();
        for (int row : {0, 1, 2, -1})
            window.List->setCurrentRow(row), window.List_DblClick();
    }
    t.env.vars["TMP"] = "", main.appName = "tool", main.appPath = "/a b/tool";
    main.btnSearch_MouseUp();
    return t.shell.opened;
}
} // namespace

TEST(WebLookup, RequestsCarryTheirTargetAndTheMachineFactsUnescapedOnlyToThePublishersSite)
{
    for (const QString base : {"https://mirvak.example/lookup.php", "HTTPS://MIRVAK.EXAMPLE/Lookup.php",
                               "https://www.example.org/lookup.php", ""}) {
        TestBed t;
        QStringList expected{base + "?" + kFacts.mid(1) + "&str_errors="};   // the report goes anywhere
        for (const QString& path : base.contains("mirvak", Qt::CaseInsensitive) ? kPaths + kPaths : QStringList())
            expected << base + "?executable=a.exe&path=" + path + kFacts;
        if (base.contains("mirvak", Qt::CaseInsensitive))
            expected << base + "?executable=tool&path=/a b/tool" + QString(kFacts).replace("tmp=/tmp", "tmp=");
        EXPECT_EQ(lookUpAll(t, base), expected);   // no current row: nothing sent
        EXPECT_FALSE(t.exists("error.log"));
    }
}

TEST(About, TextsMailAndTheErrorReportInPiecesThatFit)
{
    TestBed t;
    frmMain main(t.app);
    main.dirSystem = "/usr/bin", main.dirWindows = "/usr";
    QStringList entries;   // 3,000 entries, newest first, and the empty last line the log ends with: 150 KiB
    for (int i = 3000; i > 0; --i)
        entries << QString("frmMain.time_Timer: Can't read /proc/%1/exe (é)").arg(i);
    const QByteArray log = platform::joinLinesCrlf(entries << "").toUtf8();
    t.write("error.log", log);
    frmAbout about(t.app, main);   // no settings: web_search reads empty, and the report goes all the same
    EXPECT_EQ(about.lblAbout->text() + " " + about.txtAbout->toPlainText().left(24),
              "Mirvak Process Manager 1.9 Guard.\n\nMirvak Software.");

    // The newest entries that fit in one argument go, and only they leave the log.
    about.btnContact_MouseUp(), about.btnWeb_MouseUp();
    const QString report = "?" + kFacts.mid(1) + "&str_errors=";
    const qsizetype sent = t.shell.opened.last().count("%0A") + 1;
    const auto url = [&](qsizetype from, qsizetype to) { return report + entries.mid(from, to - from).join("%0A"); };
    ASSERT_LE(url(0, sent).toUtf8().size(), 131071);
    EXPECT_GT(url(0, sent + 1).toUtf8().size(), 131071);
    const QByteArray kept = t.read("error.log");
    EXPECT_TRUE(kept.startsWith(entries[sent].toUtf8() + "\r\n") && log.endsWith(kept));
    // The next press sends the rest, and a third has no log left to send.
    about.btnWeb_MouseUp();
    EXPECT_FALSE(t.exists("error.log"));
    about.btnWeb_MouseUp();
    const QString mail = "mailto:support@mirvak.example";
    EXPECT_EQ(t.shell.opened, QStringList({mail, url(0, sent), url(sent, entries.size()), report}));
}

TEST(About, TheShellHandsOverTheLongestArgumentANewProgramTakes)
{
    platform::LinuxShell shell;
    const auto lengths = std::views::iota(0, 1 << 24);
    const auto fits = [&](int n) { return shell.canOpen(QString(n, 'x')); };
    const int longest = int(std::ranges::partition_point(lengths, fits) - lengths.begin()) - 1;
    EXPECT_EQ(QProcess::execute("/bin/true", {QString(longest, 'x')}), 0);
    EXPECT_EQ(QProcess::execute("/bin/true", {QString(longest + 1, 'x')}), -2);   // could not start
}
