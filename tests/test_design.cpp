#include "Fakes.h"
#include "design/ImageButton.h"
#include "design/mdDesign.h"
#include "guard/frmMain.h"
#include "store/mdSettings.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <gtest/gtest.h>
#include <limits>

namespace {

// A skin image of the given size and colour.
void image(TestBed& t, const QString& name, QSize size, Qt::GlobalColor colour = Qt::red)
{
    QDir().mkpath(t.path("skin/images"));
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(colour);
    ASSERT_TRUE(picture.save(t.path("skin/images/" + name), "JPG"));
}

void press(QWidget* widget, Qt::MouseButton button = Qt::LeftButton)
{
    QMouseEvent event(QEvent::MouseButtonPress, QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)), button, button,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void release(QWidget* widget, Qt::MouseButton button = Qt::LeftButton)
{
    QMouseEvent event(QEvent::MouseButtonRelease, QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)), button,
                      Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

QLabel* background(QWidget* window)
{
    return window->findChild<QLabel*>(mdDesign::kBackgroundName, Qt::FindDirectChildrenOnly);
}

} // namespace

TEST(Skin, LayoutLines)
{
    TestBed t;
    t.settings();
    mdSettings::getSettings(t.app);
    t.write("skin/data.csv", "  \r\n"
                             "frmMain|btnAllow|left|20\r\n"
                             "frmMain|btnAllow|top|7.5\n"        // LF alone, half rounds to even
                             "frmMain|lblName|left|3\r\n"
                             "frmMain|lblName|left|4.5\r\n"      // the later line wins
                             "FRMMAIN|btnDeny|left|1\r\n"
                             "frmMain|btnDeny|Left|1\r\n"
                             "frmMain|btnDeny|width|600\r\n"
                             "frmMain|btnDeny|top\r\n"
                             "frmAbout|btnClose|top|abc\r\n"    // another window's line is never read
                             "frmMain|btnClose|top|6  \r\n  ");
    frmMain main(t.app);
    const QRect deny = main.btnDeny->geometry();
    mdDesign::frmSkin(t.app, &main);
    EXPECT_EQ(main.btnAllow->pos(), QPoint(20, 8));
    EXPECT_EQ(main.btnAllow->size(), QSize(110, 28));
    EXPECT_EQ(main.lblName->x(), 4);
    EXPECT_EQ(main.btnDeny->geometry(), deny);
    EXPECT_EQ(main.btnClose->y(), 6);
    EXPECT_EQ(main.size(), QSize(280, 180));
    EXPECT_FALSE(t.exists("error.log"));
}

TEST(Skin, BadValueStopsTheRestOfTheFile)
{
    for (const char* value : {"abc", "1|2", "", "1e12"}) {
        TestBed t;
        t.settings();
        mdSettings::getSettings(t.app);
        t.write("skin/data.csv", QByteArray("frmMain|btnAllow|left|20\r\n"
                                            "frmMain|btnDeny|left|")
                                     + value
                                     + "\r\n"
                                       "frmMain|btnDeny|top|5\r\n"
                                       "frmMain|btnClose|top|3\r\n");
        frmMain main(t.app);
        const QPoint deny = main.btnDeny->pos();
        const QPoint close = main.btnClose->pos();
        mdDesign::frmSkin(t.app, &main);
        EXPECT_EQ(main.btnAllow->x(), 20) << value;
        EXPECT_EQ(main.btnDeny->pos(), deny) << value;
        EXPECT_EQ(main.btnClose->pos(), close) << value;
        EXPECT_TRUE(t.read("error.log").startsWith("mdDesign.frmSkin: ")) << value;
        EXPECT_EQ(t.read("error.log").count('\n'), 2) << value;
    }
}

TEST(Skin, NoSkinFolderKeepsTheDesign)
{
    TestBed t;
    t.settings();
    mdSettings::getSettings(t.app);
    frmMain main(t.app);
    mdDesign::frmSkin(t.app, &main);
    EXPECT_EQ(main.btnAllow->geometry(), QRect(23, 102, 110, 28));
    EXPECT_EQ(main.btnClose->geometry(), QRect(259, 3, 18, 18));
    EXPECT_TRUE(main.btnAllow->pixmap().isNull());
    EXPECT_EQ(background(&main), nullptr);
    press(main.btnClose);
    EXPECT_TRUE(main.btnClose->pixmap().isNull());
    release(main.btnClose);
    EXPECT_FALSE(t.exists("error.log"));
}

TEST(Skin, ImagesBackgroundAndPressedLook)
{
    TestBed t;
    t.settings();
    mdSettings::getSettings(t.app);
    image(t, "frmMain.jpg", {100, 60}, Qt::blue);
    image(t, "btnClose.jpg", {30, 20});
    image(t, "btnClose_p.jpg", {32, 22}, Qt::green);
    image(t, "btnAllow.jpg", {120, 40});
    t.write("skin/data.csv", "frmMain|btnClose|left|200\r\n");
    frmMain main(t.app);
    main.time.setInterval(1000);
    mdDesign::frmSkin(t.app, &main);

    // The background sits under every control at its own size; the window keeps its size.
    QLabel* back = background(&main);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->geometry(), QRect(0, 0, 100, 60));
    EXPECT_EQ(main.children().indexOf(back), 0);
    EXPECT_TRUE(back->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_EQ(main.size(), QSize(280, 180));
    // Buttons take their image's size; the layout file still moves them.
    EXPECT_EQ(main.btnClose->geometry(), QRect(200, 3, 30, 20));
    EXPECT_EQ(main.btnAllow->size(), QSize(120, 40));
    EXPECT_TRUE(main.btnDeny->pixmap().isNull());

    // A second skinning reuses the background label.
    mdDesign::frmSkin(t.app, &main);
    EXPECT_EQ(main.findChildren<QLabel*>(mdDesign::kBackgroundName).size(), 1);

    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
        press(main.btnClose, button);
        EXPECT_EQ(main.btnClose->size(), QSize(32, 22));
        EXPECT_GT(main.btnClose->pixmap().toImage().pixelColor(5, 5).green(), 200);
        release(main.btnClose, button);
        EXPECT_EQ(main.btnClose->size(), QSize(30, 20));
        EXPECT_GT(main.btnClose->pixmap().toImage().pixelColor(5, 5).red(), 200);
    }

    // No pressed image: the normal one stays while the button is held.
    press(main.btnAllow);
    EXPECT_EQ(main.btnAllow->size(), QSize(120, 40));
    EXPECT_FALSE(main.btnAllow->pixmap().isNull());
    EXPECT_FALSE(t.exists("error.log"));
}

TEST(Skin, RejectedImagesAreLoggedAndSkipped)
{
    TestBed t;
    t.settings();
    mdSettings::getSettings(t.app);
    t.write("skin/images/btnDeny.jpg", "not a picture");
    t.write("skin/images/btnDeny_p.jpg", "not a picture either");
    t.write("skin/data.csv", "frmMain|btnClose|top|9\r\n");
    frmMain main(t.app);
    mdDesign::frmSkin(t.app, &main);
    EXPECT_TRUE(main.btnDeny->pixmap().isNull());
    EXPECT_EQ(main.btnClose->y(), 9);   // the layout goes on
    EXPECT_TRUE(t.read("error.log").startsWith("mdDesign.loadImage: Invalid picture"));
    mdDesign::loadImageP(t.app, main.btnDeny);
    EXPECT_TRUE(t.read("error.log").startsWith("mdDesign.loadImageP: Invalid picture"));
}

TEST(Placement, TaskbarFormula)
{
    using mdDesign::taskbarPlace;
    const QSize screen(1024 * 15, 768 * 15);
    EXPECT_EQ(taskbarPlace(screen, 738, 770, {3000, 2000}, 15), QPoint(12360, 9060));
    // A failed query leaves the rectangle at zero.
    EXPECT_EQ(taskbarPlace(screen, 0, 0, {3000, 2000}, 15), QPoint(12360, 9540));
    // Larger than the screen: negative, not clamped.
    EXPECT_EQ(taskbarPlace(screen, 738, 770, {20000, 15000}, 15), QPoint(-4640, -3940));
    constexpr int big = std::numeric_limits<int>::max();
    EXPECT_ANY_THROW(taskbarPlace(screen, -big, big, {3000, 2000}, 15));
}

TEST(Placement, AvailableAreaCorner)
{
    using mdDesign::availablePlace;
    const QSize window(280, 180);
    EXPECT_EQ(availablePlace({0, 0, 1024, 738}, window), QPoint(744, 558));     // panel at the bottom
    EXPECT_EQ(availablePlace({48, 0, 976, 768}, window), QPoint(744, 588));     // on the left
    EXPECT_EQ(availablePlace({0, 32, 1024, 736}, window), QPoint(744, 588));    // at the top
    EXPECT_EQ(availablePlace({0, 0, 976, 768}, window), QPoint(696, 588));      // on the right
    EXPECT_EQ(availablePlace({1920, 0, 1280, 1000}, window), QPoint(2920, 820));  // second screen
    EXPECT_EQ(availablePlace({48, 32, 976, 736}, {1200, 900}), QPoint(48, 32));   // larger than the area
    EXPECT_ANY_THROW(availablePlace(QRect(), window));

    TestBed t;
    t.settings();
    mdSettings::getSettings(t.app);
    frmMain main(t.app);
    main.move(5, 5);
    t.desktop.available = QRect(0, 0, 976, 768);
    mdDesign::frmBalloon(t.app, &main);
    EXPECT_EQ(main.pos(), QPoint(696, 588));
    EXPECT_EQ(main.size(), window);
    EXPECT_FALSE(t.exists("error.log"));
    t.desktop.available = QRect();
    mdDesign::frmBalloon(t.app, &main);
    EXPECT_EQ(main.pos(), QPoint(696, 588));
    EXPECT_TRUE(t.read("error.log").startsWith("mdDesign.frmBalloon: "));
}
