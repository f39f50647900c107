// The real program on a real X display, with a notification area that starts after it.
#include "Fakes.h"

#include <QDeadlineTimer>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>
#include <algorithm>
#include <optional>

namespace {
// A child process that ends with the test, however the test ends.
struct Child : QProcess {
    Child(const QString& program, const QStringList& args) { start(program, args); }
    ~Child() override { kill(), waitForFinished(3000); }
};

QByteArray run(const QString& program, const QStringList& args)
{
    Child process(program, args);
    return process.waitForFinished(5000) ? process.readAllStandardOutput() : QByteArray();
}

bool waitUntil(int ms, const std::function<bool()>& done)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QThread::msleep(150);
    return done();
}

// The first window "Mirvak": nested, the icon in the panel; at the top, over 50 pixels each way, the menu.
std::optional<QRect> mirvakWindow(bool nested)
{
    static const QRegularExpression line(R"(^( +)0x[0-9a-f]+ "Mirvak": \("Mirvak" "Mirvak"\)\s+)"
                                         R"((\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))");
    for (const QString& text : QString::fromUtf8(run("xwininfo", {"-root", "-tree"})).split('\n')) {
        const auto m = line.match(text);
        const auto n = [&m](int i) { return m.captured(i).toInt(); };
        if (m.hasMatch() && (m.captured(1).size() > 5) == nested && (nested || qMin(n(2), n(3)) > 50))
            return QRect(n(4), n(5), n(2), n(3));
    }
    return std::nullopt;
}

// Cyan pixels in an area of the screen: the enabled icon's bars; the pale icon has none. -1: unreadable.
int cyanPixels(const QRect& r)
{
    const QString area = QString("%1x%2+%3+%4").arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y());
    const QImage image = QImage::fromData(run("import", {"-window", "root", "-crop", area, "png:-"}), "PNG")
                             .convertToFormat(QImage::Format_RGB32);
    const auto* pixels = reinterpret_cast<const QRgb*>(image.constBits());
    const auto cyan = [](QRgb c) { return qGreen(c) - qRed(c) > 60 && qBlue(c) > 150; };
    return image.isNull() ? -1 : int(std::count_if(pixels, pixels + image.width() * image.height(), cyan));
}
} // namespace

TEST(DesktopTray, IconMenuAndDisableOnARealDisplay)
{
    // The guard sees a process table of its own: it can neither ask about nor end a process it did not start.
    const QStringList ownTable{"unshare", "--pid", "--fork", "--mount-proc", "--kill-child"};
    if (qEnvironmentVariableIsEmpty("DISPLAY") || QProcess::execute("env", ownTable + QStringList{"true"}) != 0)
        GTEST_SKIP() << "no X display or no PID namespace";
    // The executable beside the shipped settings and icons; a runtime folder of its own for its lock.
    QTemporaryDir folder, runtime;
    for (const char* name : {"Mirvak", "settings.ini", "mirvak.png", "mirvak-disabled.png"})
        QFile::copy(QFileInfo(MIRVAK_EXE).dir().filePath(name), folder.filePath(name));
    Child guard("env", QStringList{"QT_QPA_PLATFORM=xcb", "XDG_RUNTIME_DIR=" + runtime.path()} + ownTable
                           + QStringList{folder.filePath("Mirvak")});
    // No notification area yet: the guard says so, once, and keeps running.
    QByteArray errors;
    const auto complaints = [&] { return guard.waitForReadyRead(100), (errors += guard.readAllStandardError()).count("notification area"); };
    ASSERT_TRUE(waitUntil(5000, [&] { return complaints() > 0; })) << errors.constData();

    // A panel that starts later still gets the icon, in its enabled look.
    Child trayer("trayer", {"--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "100",
                            "--heighttype", "pixel", "--height", "32", "--SetDockType", "true"});
    std::optional<QRect> icon, menu;
    ASSERT_TRUE(waitUntil(8000, [&] { return (icon = mirvakWindow(true)).has_value(); })) << "no icon";
    ASSERT_TRUE(waitUntil(4000, [&] { return cyanPixels(*icon) > 0; })) << "the enabled icon never showed";

    // A real left click opens the menu; its first item that can be chosen, Disable, closes it, the icon pale.
    const QPoint at = icon->center();
    run("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"});
    ASSERT_TRUE(waitUntil(4000, [&] { return (menu = mirvakWindow(false)).has_value(); })) << "no menu";
    run("xdotool", {"key", "Down", "Return"});
    EXPECT_TRUE(waitUntil(4000, [&] { return cyanPixels(*icon) == 0; })) << "still bright";
    EXPECT_FALSE(mirvakWindow(false)) << "the menu stayed open";
    EXPECT_EQ(guard.state(), QProcess::Running);
    EXPECT_EQ(complaints(), 1) << errors.constData();
}
