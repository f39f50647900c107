#include "Fakes.h"
#include "design/ImageButton.h"
#include "design/frmAbout.h"
#include "guard/frmMain.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <gtest/gtest.h>

TEST(About, TextsMailAndErrorReport)
{
    TestBed t;
    frmMain main(t.app);
    main.dirSystem = "/usr/bin";
    main.dirWindows = "/usr";
    t.write("error.log", "A\r\nB\r\n");
    frmAbout about(t.app, main);   // no settings: web_search reads empty, and the report goes all the same
    EXPECT_EQ(about.lblAbout->text(), "Mirvak Process Manager 1.9");
    EXPECT_TRUE(about.txtAbout->toPlainText().startsWith("Guard.\n\nMirvak Software."));

    // One mail message per release, whichever mouse button; a second Web press has no log left to send.
    const QPointF at(2, 2);
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
        QMouseEvent press(QEvent::MouseButtonPress, at, at, button, button, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, at, button, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(about.btnContact, &press);
        QCoreApplication::sendEvent(about.btnContact, &release);
    }
    about.btnWeb_MouseUp();
    EXPECT_FALSE(t.exists("error.log"));
    about.btnWeb_MouseUp();
    const QString report = "?dir_system=/usr/bin&dir_windows=/usr&dir_programs=/opt&dir_tmp=/tmp"
                           "&dir_userprofile=/home/user&drive_windows=&os=Linux&version=1.9.0&str_errors=";
    const QString mail = "mailto:support@mirvak.example";
    EXPECT_EQ(t.shell.opened, QStringList({mail, mail, report + "A%0AB", report}));
}
