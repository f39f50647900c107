// The real program on a real X display: its icon in a notification area,
// the menu on a click, and Disable turning the icon pale.
#include "Fakes.h"
#include "guard/frmMain.h"
#include "platform/linux/LinuxTray.h"
#include "tray/frmTray.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
#include <optional>

namespace {
QByteArray run(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return process.readAllStandardOutput();
}

// Polls until `probe` gives a value or the deadline passes.
template <class T>
std::optional<T> waitFor(int ms, const std::function<std::optional<T>()>& probe)
{
    QDeadlineTimer deadline(ms);
    for (;;) {
        if (auto value = probe())
            return value;
        if (deadline.hasExpired())
            return std::nullopt;
        QThread::msleep(150);
    }
}

struct XWindow {
    QString id;
    QRect rect;
};

// Windows named "Mirvak" in the window tree: the tray icon sits inside the
// panel, so it is nested; the menu is a top-level window.
std::vector<XWindow> mirvakWindows(bool nested)
{
    static const QRegularExpression line(
        R"(^( +)(0x[0-9a-f]+) "Mirvak": \("Mirvak" "Mirvak"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))");
    std::vector<XWindow> found;
    for (const QString& text : QString::fromUtf8(run("xwininfo", {"-root", "-tree"})).split('\n')) {
        const auto m = line.match(text);
        if (!m.hasMatch() || (m.captured(1).size() > 5) != nested)
            continue;
        found.push_back({m.captured(2), QRect(m.captured(5).toInt(), m.captured(6).toInt(), m.captured(3).toInt(),
                                              m.captured(4).toInt())});
    }
    return found;
}

QImage grab(const QString& window)
{
    return QImage::fromData(run("import", {"-window", window, "png:-"}), "PNG");
}

// The enabled icon has cyan bars; the pale disabled one has none, nor has
// the dark blue square.
int cyanPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.green() - c.red() > 60 && c.blue() > 150;
        }
    return count;
}

void stop(QProcess& process)
{
    process.kill();
    process.waitForFinished(3000);
}
} // namespace

TEST(DesktopTray, IconMenuAndDisableOnARealDisplay)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "no X display";
    QElapsedTimer clock;
    clock.start();

    // Where Disable sits in the menu, from the same menu built here.
    TestBed bed;
    frmMain main(bed.app);
    platform::LinuxTray unusedIcon;
    frmTray model(bed.app, main, unusedIcon);
    model.ExitProgram->setText("Exit Mirvak");
    const QSize modelSize = model.PopupSys.sizeHint();
    const QPoint disableAt = model.PopupSys.actionGeometry(model.Disable).center();
    ASSERT_GT(modelSize.height(), 0);

    // A program folder of its own and a runtime folder for its lock.
    QTemporaryDir folder;
    QTemporaryDir runtime;
    // The executable beside the shipped settings, and the icons when drawn
    // (else the program paints its own).
    const QDir built = QFileInfo(MIRVAK_EXE).dir();
    for (const char* name : {"Mirvak", "settings.ini", "mirvak.png", "mirvak-disabled.png"})
        QFile::copy(built.filePath(name), folder.filePath(name));
    ASSERT_TRUE(QFile::exists(folder.filePath("settings.ini")));

    QProcess guard;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    guard.setProcessEnvironment(env);
    guard.start(folder.filePath("Mirvak"), {});
    const bool started = guard.waitForStarted(3000);
    QProcess trayer;

    auto check = [&] {
        ASSERT_TRUE(started);
        // No notification area yet: the guard says so once and keeps running.
        QByteArray errors;
        QDeadlineTimer quiet(8000);
        while (!errors.contains("notification area") && !quiet.hasExpired()) {
            guard.waitForReadyRead(200);
            errors += guard.readAllStandardError();
        }
        ASSERT_TRUE(errors.contains("notification area")) << errors.constData();
        ASSERT_EQ(guard.state(), QProcess::Running);

        // A panel that starts later still gets the icon.
        trayer.start("trayer", {"--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "100",
                                "--heighttype", "pixel", "--height", "32", "--SetDockType", "true"});
        ASSERT_TRUE(trayer.waitForStarted(3000));
        // The icon docks in the notification area and shows the coloured look.
        const auto icon = waitFor<XWindow>(10000, []() -> std::optional<XWindow> {
            const auto windows = mirvakWindows(true);
            return windows.empty() ? std::nullopt : std::optional<XWindow>(windows.front());
        });
        ASSERT_TRUE(icon) << "the icon never docked";
        const auto before = waitFor<QImage>(5000, [&]() -> std::optional<QImage> {
            QImage image = grab(icon->id);
            return cyanPixels(image) > 0 ? std::optional<QImage>(image) : std::nullopt;
        });
        ASSERT_TRUE(before) << "the enabled icon never showed";

        // A real left click opens the menu.
        const QPoint centre = icon->rect.center();
        run("xdotool", {"mousemove", QString::number(centre.x()), QString::number(centre.y()), "click", "1"});
        const auto menu = waitFor<XWindow>(5000, []() -> std::optional<XWindow> {
            for (const auto& w : mirvakWindows(false))
                if (w.rect.width() > 50 && w.rect.height() > 50)
                    return w;
            return std::nullopt;
        });
        ASSERT_TRUE(menu) << "no menu after the click";

        // Click Disable; the menu closes and the icon turns pale.
        const int x = menu->rect.x() + disableAt.x() * menu->rect.width() / modelSize.width();
        const int y = menu->rect.y() + disableAt.y() * menu->rect.height() / modelSize.height();
        run("xdotool", {"mousemove", QString::number(x), QString::number(y), "click", "1"});
        const auto after = waitFor<QImage>(5000, [&]() -> std::optional<QImage> {
            QImage image = grab(icon->id);
            return !image.isNull() && cyanPixels(image) == 0 ? std::optional<QImage>(image) : std::nullopt;
        });
        ASSERT_TRUE(after) << "the icon kept its enabled look";
        EXPECT_NE(*before, *after);
        const auto open = mirvakWindows(false);
        EXPECT_TRUE(std::none_of(open.begin(), open.end(), [](const XWindow& w) { return w.rect.width() > 50; }))
            << "the menu stayed open";
        EXPECT_EQ(guard.state(), QProcess::Running);
        errors += guard.readAllStandardError();
        EXPECT_EQ(errors.count("notification area"), 1) << errors.constData();
    };
    check();
    stop(guard);
    stop(trayer);
    EXPECT_LT(clock.elapsed(), 30000);
}
