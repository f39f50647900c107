// The real program on a real X display, with a notification area that starts after it.
#include "Fakes.h"

#include <QDeadlineTimer>
#include <QDir>
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
    for (QDeadlineTimer deadline(ms); !done(); QThread::msleep(150))
        if (deadline.hasExpired())
            return false;
    return true;
}

// Where the first window named "Mirvak" is on the screen: nested, the icon inside the panel; at the
// top, one over 50 pixels each way, the menu.
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
// A notification area in the bottom-right corner.
const QStringList kPanel{"--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "100",
                         "--heighttype", "pixel", "--height", "32", "--SetDockType", "true"};

// The guard in a process table of its own, where it meets only what `before` starts: it can neither
// ask about nor end a process the test did not start. Beside it the shipped settings, or `settings`.
struct OwnTable {
    QTemporaryDir folder, runtime;   // the runtime folder holds its lock
    std::optional<Child> guard;
    bool start(const QStringList& before = {}, const QString& settings = {})
    {
        const QStringList own{"unshare", "--pid", "--fork", "--mount-proc", "--kill-child"};
        if (qEnvironmentVariableIsEmpty("DISPLAY") || QProcess::execute("env", own + QStringList{"true"}) != 0)
            return false;
        for (const char* name : {"Mirvak", "settings.ini", "mirvak.png", "mirvak-disabled.png"})
            QFile::copy(QFileInfo(MIRVAK_EXE).dir().filePath(name), folder.filePath(name));
        if (!settings.isEmpty())
            QFile::remove(folder.filePath("settings.ini")), QFile::copy(settings, folder.filePath("settings.ini"));
        const QStringList shell{"sh", "-c", before.join(' ') + " exec \"$0\"", folder.filePath("Mirvak")};
        guard.emplace("env", QStringList{"QT_QPA_PLATFORM=xcb", "XDG_RUNTIME_DIR=" + runtime.path()} + own + shell);
        return true;
    }
};
} // namespace

TEST(DesktopTray, IconMenuAndDisableOnARealDisplay)
{
    OwnTable table;
    if (!table.start())
        GTEST_SKIP() << "no X display or no PID namespace";
    Child& guard = *table.guard;
    // No notification area yet: the guard says so, once, and keeps running.
    QByteArray errors;
    const auto complaints = [&] {
        guard.waitForReadyRead(100);
        return (errors += guard.readAllStandardError()).count("notification area");
    };
    ASSERT_TRUE(waitUntil(5000, [&] { return complaints() > 0; })) << errors.constData();

    // A panel that starts later still gets the icon, in its enabled look.
    Child trayer("trayer", kPanel);
    std::optional<QRect> icon, menu;
    ASSERT_TRUE(waitUntil(8000, [&] { return (icon = mirvakWindow(true)).has_value(); })) << "no icon";
    ASSERT_TRUE(waitUntil(4000, [&] { return cyanPixels(*icon) > 0; })) << "the enabled icon never showed";

    // A real left click opens the menu; its first item that can be chosen, Disable, closes it and turns
    // the icon pale.
    const QPoint at = icon->center();
    run("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"});
    ASSERT_TRUE(waitUntil(4000, [&] { return (menu = mirvakWindow(false)).has_value(); })) << "no menu";
    run("xdotool", {"key", "Down", "Return"});
    EXPECT_TRUE(waitUntil(4000, [&] { return cyanPixels(*icon) == 0; })) << "still bright";
    EXPECT_FALSE(mirvakWindow(false)) << "the menu stayed open";
    EXPECT_EQ(guard.state(), QProcess::Running);
    EXPECT_EQ(complaints(), 1) << errors.constData();
}

TEST(DesktopTray, AlertDecidedFromTheKeyboard)
{
    // The one stranger in its table: a copy of sleep.
    OwnTable table;
    const QString tool = table.folder.filePath("unknowntool");
    TestBed bed;
    bed.settings({{"path_search", "0"}, {"check_interval", "0.2"}});
    if (!QFile::copy("/bin/sleep", tool) || !table.start({tool, "600", "&"}, bed.path("settings.ini")))
        GTEST_SKIP() << "no X display or no PID namespace";
    Child trayer("trayer", kPanel);
    std::optional<QRect> alert;
    ASSERT_TRUE(waitUntil(8000, [&] { return (alert = mirvakWindow(false)).has_value(); })) << "no alert";
    // A click on the details gives the alert the focus; Tab, Tab reach Deny.
    const QPoint at = alert->topLeft() + QPoint(100, 70);
    const auto focused = [&] {
        run("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1", "sleep", "0.2"});
        return run("xdotool", {"getwindowfocus", "getwindowname"}) == "Mirvak\n";
    };
    ASSERT_TRUE(waitUntil(4000, focused)) << "the alert never took the focus";
    run("xdotool", {"key", "Tab", "Tab", "Return"});
    const auto running = [&] {
        const auto entries = QDir("/proc").entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot);
        return std::any_of(entries.begin(), entries.end(),
                           [&](const QFileInfo& e) { return QFileInfo(e.filePath() + "/exe").symLinkTarget() == tool; });
    };
    const auto listed = [&] {
        QFile deny(table.folder.filePath("deny.csv"));
        return deny.open(QIODevice::ReadOnly) ? deny.readAll() : "none";
    };
    EXPECT_TRUE(waitUntil(6000, [&] { return !running() && listed() != "none"; })) << "still running or not listed";
    EXPECT_EQ(listed(), ("unknowntool|" + tool + "\r\n").toUtf8());
}
