#include "Fakes.h"
#include "design/ImageButton.h"
#include "design/frmAbout.h"
#include "guard/frmMain.h"
#include "store/mdSettings.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <gtest/gtest.h>

namespace {
// A press and release of one mouse button on the widget.
void click(QWidget* widget, Qt::MouseButton button)
{
    const QPointF at(2, 2);
    QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), button, button, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), button, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &release);
}

struct AboutBed : TestBed {
    frmMain main{app};
    explicit AboutBed(const QString& webSearch = "https://www.mirvak.example/lookup.php")
    {
        settings({{"web_search", webSearch}});
        EXPECT_TRUE(mdSettings::getSettings(app));
        main.dirSystem = "/usr/bin";
        main.dirWindows = "/usr";
    }
};
} // namespace

TEST(About, TextsAndContactLink)
{
    AboutBed t;
    frmAbout about(t.app, t.main);
    EXPECT_EQ(about.lblAbout->text(), "Mirvak Process Manager 1.9");
    EXPECT_TRUE(about.txtAbout->toPlainText().startsWith("Guard.\n\nMirvak Software."));

    // One mail message per release of the button, whichever mouse button.
    click(about.btnContact, Qt::LeftButton);
    click(about.btnContact, Qt::RightButton);
    EXPECT_EQ(t.shell.opened, QStringList({"mailto:support@mirvak.example", "mailto:support@mirvak.example"}));
}

TEST(About, ErrorReportSendsTheLogOnceAndDeletesIt)
{
    AboutBed t("");   // no guard here: even an empty address is handed over
    t.write("error.log", "A\r\nB\r\n");
    frmAbout about(t.app, t.main);
    about.btnWeb_MouseUp();
    about.btnWeb_MouseUp();
    ASSERT_EQ(t.shell.opened.size(), 2);
    const QString facts = "?dir_system=/usr/bin&dir_windows=/usr&dir_programs=/opt&dir_tmp=/tmp"
                          "&dir_userprofile=/home/user&drive_windows=&os=Linux&version=1.9.0&str_errors=";
    EXPECT_EQ(t.shell.opened[0], facts + "A%0AB");
    EXPECT_EQ(t.shell.opened[1], facts);
    EXPECT_FALSE(t.exists("error.log"));
}
