// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "design/frmAbout.h"
#include "design/mdDesign.h"
#include "guard/frmMain.h"
#include "lists/frmList.h"
#include "platform/linux/LinuxDesktop.h"
#include "store/mdSettings.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

namespace {
const QStringList kPaths{"", "/x y/a&b.exe", "2006.03.07 9:05|1.25M|/x/a.exe"};
const QString kFacts = "&dir_system=/usr/bin&dir_windows=/usr&dir_programs=/opt&dir_tmp=/tmp"
                       "&dir_userprofile=/home/user&drive_windows=&os=Linux&version=1.9.0";
} // namespace

TEST(Skin, LayoutLinesUntilABadValue)
{
    const QByteArray layout = "  \r\nfrmMain|btnAllow|left|20\r\n"
                              "frmMain|btnAllow|top|7.5\n"   // LF alone; the half rounds to even
                              "frmMain|lblName|left|3\r\nfrmMain|lblName|left|4\r\n"   // the later line wins
                              "frmAbout|lblName|top|abc\r\n"   // another window's line is not read
                              "FRMMAIN|btnSearch|left|1\r\nfrmMain|btnSearch|Left|1\r\n"
                              "frmMain|btnSearch|width|600\r\nfrmMain|btnSearch|top\r\n"
                              "frmMain|btnClose|top|3\r\nfrmMain|btnDeny|left|";
    TestBed t;
    t.settings();
    mdSettings::getSettings(t.app);
    t.write("skin/data.csv", layout + "1e12\r\nfrmMain|btnDeny|top|5  \r\n  ");
    frmMain main(t.app);
    frmMain design(t.app);
    mdDesign::frmSkin(t.app, &main);
    EXPECT_TRUE(main.btnAllow->geometry() == QRect(20, 8, 110, 28) && main.lblName->x() == 4);
    // Lines in another case or without a value do nothing; the bad value ends the layout.
    for (const auto control : {&frmMain::btnSearch, &frmMain::btnDeny, &frmMain::btnClose})
        EXPECT_EQ((main.*control)->geometry(), (design.*control)->geometry());
    EXPECT_TRUE(t.read("error.log").startsWith("mdDesign.frmSkin: ") && t.read("error.log").count('\n') == 2);
}

TEST(WebLookup, RequestsCarryTheirTargetAndTheMachineFactsUnescapedOnlyToThePublishersSite)
{
    for (const QString base : {"https://mirvak.example/lookup.php", "HTTPS://MIRVAK.EXAMPLE/Lookup.php",
                               "https://www.example.org/lookup.php", ""}) {
        // About's report, a double-click on each row and on none of both list windows, the alert's Search.
        TestBed t;
        t.settings({{"web_search", base}});
        EXPECT_TRUE(mdSettings::getSettings(t.app));
        frmMain main(t.app);
        main.guard.dirSystem = "/usr/bin", main.guard.dirWindows = "/usr", frmAbout(t.app, main.guard).btnWeb_MouseUp();
        for (const QString& path : kPaths)
            for (Collection* list : {&t.app.allowList, &t.app.denyList})
                list->add(path.isEmpty() ? "a.exe" : "a.exe|" + path);
        for (frmList::Kind kind : {frmList::Kind::Allow, frmList::Kind::Deny}) {
            frmList window(t.app, main.guard, kind);
            window.listLoad();
            for (int row : {0, 1, 2, -1})
                window.List->setCurrentIndex(window.List->model()->index(row, 0)), window.List_DblClick();
        }
        t.env.vars["TMP"] = "", main.guard.appName = "tool", main.guard.appPath = "/a b/tool", main.btnSearch_MouseUp();
        const bool publisher = base.contains("mirvak", Qt::CaseInsensitive);
        QStringList expected{base + "?" + kFacts.mid(1) + "&str_errors="};   // the report goes anywhere
        for (const QString& path : publisher ? kPaths + kPaths : QStringList())
            expected << base + "?executable=a.exe&path=" + path + kFacts;
        if (publisher)
            expected << base + "?executable=tool&path=/a b/tool" + QString(kFacts).replace("tmp=/tmp", "tmp=");
        EXPECT_EQ(t.shell.opened, expected);   // no current row: nothing sent
        EXPECT_FALSE(t.exists("error.log"));
    }
}

TEST(About, TextsMailAndTheErrorReportInPiecesThatFit)
{
    TestBed t;
    frmMain main(t.app);
    main.guard.dirSystem = "/usr/bin", main.guard.dirWindows = "/usr";
    QStringList entries;   // 3,000 entries, newest first, and the empty last line the log ends with: 150 KiB
    for (int i = 3000; i > 0; --i)
        entries << QString("frmMain.time_Timer: Can't read /proc/%1/exe (é)").arg(i);
    const QByteArray log = platform::joinLinesCrlf(entries << "").toUtf8();
    t.write("error.log", log);
    frmAbout about(t.app, main.guard);   // no settings: web_search reads empty, and the report goes all the same
    EXPECT_EQ(about.lblAbout->text() + " " + about.txtAbout->toPlainText().left(57),
              "Mirvak Process Manager 1.9 Guard.\n\nexec gate: off in this session.\n\nMirvak Software.");

    // The newest entries that fit in one argument go, and only they leave the log.
    about.btnContact_MouseUp(), about.btnWeb_MouseUp();
    const QString report = "?" + kFacts.mid(1) + "&str_errors=";
    const qsizetype sent = t.shell.opened.last().count("%0A") + 1;
    const auto url = [&](qsizetype from, qsizetype to) { return report + entries.mid(from, to - from).join("%0A"); };
    ASSERT_TRUE(url(0, sent).toUtf8().size() <= 131071 && url(0, sent + 1).toUtf8().size() > 131071);
    const QByteArray kept = t.read("error.log");
    EXPECT_TRUE(kept.startsWith(entries[sent].toUtf8() + "\r\n") && log.endsWith(kept));
    // The next press sends the rest, and a third has no log left to send.
    about.btnWeb_MouseUp();
    EXPECT_FALSE(t.exists("error.log"));
    about.btnWeb_MouseUp();
    EXPECT_EQ(t.shell.opened, QStringList({"mailto:support@mirvak.example", url(0, sent), url(sent, entries.size()), report}));
}

// The questions that end something wait for the user's keys: a key in the first second does nothing and
// restarts the wait; a click into the question lets keys count at once.
TEST(Question, KeysWaitForAQuietSecondOrAClick)
{
    struct Clocked : platform::LinuxDesktop {
        qint64 now = 0;
        qint64 clockMs() override { return now; }
    } desktop;
    // Steps once the question is up ("<ms> <key>", or "click" into its text), and the answer they give.
    const std::pair<QStringList, bool> runs[] = {
        {{"0 N", "500 N", "1400 N", "click", "1400 Y"}, true},
        {{"0 Y", "1000 Return"}, false},   // a stray Enter answers No
    };
    for (const auto& [steps, yes] : runs) {
        SCOPED_TRACE(steps.join(", ").toStdString());
        desktop.now = 0;
        const auto take = [&desktop](const QStringList& keys) {
            for (const QString& step : keys) {
                QWidget* box = QApplication::activeModalWidget();
                ASSERT_TRUE(box) << "answered before " << step.toStdString();
                if (step == "click") {
                    QTest::mouseClick(box->findChild<QLabel*>("qt_msgbox_label"), Qt::LeftButton);
                    continue;
                }
                desktop.now = step.section(' ', 0, 0).toLongLong();
                QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, QKeySequence::fromString(step.section(' ', 1))[0].key());
            }
        };
        const QObject asking;   // its timers go with it
        QTimer::singleShot(0, &asking, [&] { take(steps); });
        // The other answer, long after, should nothing have answered.
        QTimer::singleShot(5000, &asking, [&] { take({yes ? "100000 N" : "100000 Y"}); });
        EXPECT_EQ(desktop.askYesNo("Mirvak", "Exit?"), yes);
    }
}
