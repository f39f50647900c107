#include "Fakes.h"
#include "design/ImageButton.h"
#include "design/mdDesign.h"
#include "guard/frmMain.h"
#include "store/mdSettings.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <gtest/gtest.h>

namespace {

// A skin image of the given size, in a skin folder that exists already.
void image(TestBed& t, const QString& name, QSize size)
{
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(t.path("skin/images/" + name), "JPG"));
}

void mouse(QWidget* widget, QEvent::Type type, Qt::MouseButton button)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
    QMouseEvent event(type, QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)), button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

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
    for (const char* value : {"abc", "1|2", "", "1e12"}) {
        SCOPED_TRACE(value);
        TestBed t;
        t.settings(), mdSettings::getSettings(t.app);
        t.write("skin/data.csv", layout + value + "\r\nfrmMain|btnDeny|top|5  \r\n  ");
        frmMain main(t.app), design(t.app);
        mdDesign::frmSkin(t.app, &main);
        EXPECT_EQ(main.btnAllow->geometry(), QRect(20, 8, 110, 28));
        EXPECT_EQ(main.lblName->x(), 4);
        // Lines in another case or without a value do nothing; the bad value ends the layout.
        for (const auto control : {&frmMain::btnSearch, &frmMain::btnDeny, &frmMain::btnClose})
            EXPECT_EQ((main.*control)->geometry(), (design.*control)->geometry());
        EXPECT_TRUE(t.read("error.log").startsWith("mdDesign.frmSkin: ") && t.read("error.log").count('\n') == 2);
    }
}

TEST(Skin, ImagesAndPressedLook)
{
    TestBed t;
    t.settings(), mdSettings::getSettings(t.app);
    frmMain main(t.app);
    // No skin folder: the design layout, no background, blank buttons, nothing logged.
    mdDesign::frmSkin(t.app, &main);
    EXPECT_EQ(main.btnClose->geometry(), QRect(259, 3, 18, 18));
    EXPECT_EQ(main.findChild<QLabel*>(mdDesign::kBackgroundName), nullptr);
    mouse(main.btnClose, QEvent::MouseButtonPress, Qt::LeftButton);
    EXPECT_TRUE(main.btnClose->pixmap().isNull() && !t.exists("error.log"));

    t.write("skin/images/btnDeny.jpg", "not a picture");
    for (const auto& [name, size] : std::initializer_list<std::pair<const char*, QSize>>{
             {"frmMain", {100, 60}}, {"btnClose", {30, 20}}, {"btnClose_p", {32, 22}}, {"btnAllow", {120, 40}}})
        image(t, name + QString(".jpg"), size);
    mdDesign::frmSkin(t.app, &main);
    const auto* background = main.findChild<QLabel*>(mdDesign::kBackgroundName);
    ASSERT_NE(background, nullptr);
    EXPECT_EQ(background->geometry(), QRect(0, 0, 100, 60));
    EXPECT_EQ(main.children().indexOf(background), 0);   // under every control
    EXPECT_EQ(main.btnClose->geometry(), QRect(259, 3, 30, 20));   // buttons take their image's size
    EXPECT_TRUE(main.btnDeny->pixmap().isNull() && t.read("error.log").startsWith("mdDesign.loadImage: Invalid picture"));
    mouse(main.btnClose, QEvent::MouseButtonPress, Qt::RightButton);
    EXPECT_EQ(main.btnClose->size(), QSize(32, 22));
    mouse(main.btnClose, QEvent::MouseButtonRelease, Qt::RightButton);
    EXPECT_EQ(main.btnClose->size(), QSize(30, 20));
    // No pressed image: the normal one stays while the button is held.
    mouse(main.btnAllow, QEvent::MouseButtonPress, Qt::MiddleButton);
    EXPECT_TRUE(main.btnAllow->size() == QSize(120, 40) && !main.btnAllow->pixmap().isNull());
}

TEST(Placement, BottomRightOfTheAvailableArea)
{
    // Panels at the bottom, left, top and right; a window larger than the area keeps its corner inside.
    const std::pair<QRect, QPoint> cases[] = {{{0, 0, 1024, 738}, {744, 558}}, {{48, 0, 976, 768}, {744, 588}},
        {{0, 32, 1024, 736}, {744, 588}}, {{0, 0, 976, 768}, {696, 588}}, {{10, 20, 200, 100}, {10, 20}}};
    for (const auto& [area, place] : cases)
        EXPECT_EQ(mdDesign::availablePlace(area, {280, 180}), place);
    EXPECT_ANY_THROW(mdDesign::availablePlace(QRect(), {280, 180}));
}
