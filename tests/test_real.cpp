// SPDX-License-Identifier: GPL-3.0-or-later
// The real program against real processes, each run in a PID namespace of its own: the guard sees only its own world.
#include "Fakes.h"

#include <QDeadlineTimer>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

namespace {

struct World : TestBed {
    World()
    {
        QFile::copy(MIRVAK_EXE, path("Mirvak.bin"));   // a dot in its name: it still knows itself
        QFile::copy("/usr/bin/sleep", path("denied"));
        QFile::copy("/usr/bin/sleep", path("unknown"));
        settings({{"check_interval", "0.5"}, {"list_level", "0"}, {"always_top", "1"}});
        write("allow.csv", "dash\r\ngrep\r\nsh\r\nsleep\r\n");
        write("deny.csv", "denied\r\n");
    }
    void start(QProcess& p, const char* platform, const QString& program, const QStringList& args = {}) const
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("DIR", tmp.path());
        e.insert("QT_QPA_PLATFORM", platform);
        e.insert("XDG_CONFIG_HOME", path("config"));
        e.insert("XDG_RUNTIME_DIR", tmp.path());   // a lock of its own for each world
        p.setProcessEnvironment(e);
        p.start(program, args);
        p.waitForStarted();
    }
    // The output of `script`, run as PID 1 of a new PID namespace with /proc of its own.
    QByteArray run(const char* platform, const QString& script, const std::function<void()>& meanwhile = [] {}) const
    {
        QProcess p;
        start(p, platform, "unshare", {"--pid", "--fork", "--mount-proc", "sh", "-c", script});
        meanwhile();
        p.waitForFinished(60000);
        return p.readAllStandardOutput();
    }
};

struct Child : QProcess {
    Child(const QString& program, const QStringList& args) { start(program, args); }
    ~Child() override
    {
        kill();
        waitForFinished(3000);
    }
};

QByteArray run(const QString& program, const QStringList& args)
{
    Child process(program, args);
    return process.waitForFinished(30000) ? process.readAllStandardOutput() : QByteArray();
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

// A notification area in the bottom-right corner.
const QStringList kPanel{"--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "100",
                         "--heighttype", "pixel", "--height", "32", "--SetDockType", "true"};

// The guard in a process table of its own, where it meets only what `before` starts: it can neither
// ask about nor end a process the test did not start. Beside it the shipped settings, unless the test wrote its own.
struct OwnTable : TestBed {
    QTemporaryDir runtime;   // holds its lock
    std::optional<Child> guard;
    bool start(const QStringList& before = {})
    {
        const QStringList own{"unshare", "--pid", "--fork", "--mount-proc", "--kill-child"};
        if (qEnvironmentVariableIsEmpty("DISPLAY") || QProcess::execute("env", own + QStringList{"true"}) != 0)
            return false;
        for (const char* name : {"Mirvak", "settings.ini", "mirvak.png", "mirvak-disabled.png"})
            QFile::copy(QFileInfo(MIRVAK_EXE).dir().filePath(name), path(name));   // never over a file already there
        write("allow.csv", read("allow.csv"));   // not a first start: what runs before it is asked about
        const QStringList shell{"sh", "-c", before.join(' ') + " exec \"$0\"", path("Mirvak")};
        guard.emplace("env", QStringList{"QT_QPA_PLATFORM=xcb", "XDG_RUNTIME_DIR=" + runtime.path()} + own + shell);
        return true;
    }
};
} // namespace

// A denied program ends at once; then a real alert on a real X display, answered with a real click on Deny.
TEST(EndToEnd, AlertDenyClickKillsAndWritesTheList)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") || QStandardPaths::findExecutable("xdotool").isEmpty())
        GTEST_SKIP() << "needs an X display and xdotool";
    World w;
    const QByteArray out = w.run("xcb", "\"$DIR/Mirvak.bin\" & \"$DIR/denied\" 20; echo $?; \"$DIR/unknown\" 20; echo $?; "
        "until grep -q unknown \"$DIR/deny.csv\"; do sleep 0.1; done; kill -9 -1", [] {
        const QString window = run("xdotool", {"search", "--sync", "--onlyvisible", "--class", "Mirvak"}).split('\n')[0];
        const QString at = run("xdotool", {"getwindowgeometry", "--shell", window});
        const auto coordinate = [&](const char* name) {
            return QRegularExpression(name + QString("=(-?\\d+)")).match(at).captured(1).toInt();
        };
        // Without a skin the Deny button sits at its design place, 148,102 to 258,130.
        run("xdotool", {"mousemove", QString::number(coordinate("X") + 200), QString::number(coordinate("Y") + 115), "click", "1"});
    });
    EXPECT_EQ(out, "137\n137\n");
    EXPECT_EQ(w.read("deny.csv") + w.read("error.log"), "denied\r\nunknown\r\n");
}

TEST(EndToEnd, ASecondCopyAndMissingSettingsEndAtOnce)
{
    World w;
    // Beside a running first copy a second one ends at once, quietly.
    const QByteArray second = w.run("offscreen", "\"$DIR/Mirvak.bin\" & until [ -e \"$DIR/mirvak-Mirvak.lock\" ]; "
                                                 "do sleep 0.1; done; \"$DIR/Mirvak.bin\" 2>&1; echo $?; kill -9 -1");
    EXPECT_EQ(second, "0\n");
    // Without its settings file it ends with one line that tells where the file was looked for.
    QFile::remove(w.path("settings.ini"));
    // Run as root, as the tests are, it first says that it guards as root.
    const QList<QByteArray> lines = w.run("offscreen", "\"$DIR/Mirvak.bin\" 2>\"$DIR/err\"; s=$?; grep -v 'as root' \"$DIR/err\"; echo $s").split('\n');
    ASSERT_EQ(lines.size(), 3) << lines.join('\n').constData();
    EXPECT_TRUE(lines[0].contains(w.path("settings.ini").toUtf8()) && lines[1] != "0") << lines.join('\n').constData();
    EXPECT_FALSE(w.exists("error.log"));
}

TEST(Install, WritesOnlyTheUsersFoldersAndFindsItsFilesAgain)
{
    TestBed t;
    const QString r = t.tmp.path(), settings = "config/mirvak/settings.ini";
    const QStringList ns{"--pid", "--fork", "--mount-proc", "--kill-child", "env", "HOME=" + r + "/home",
        "XDG_CONFIG_HOME=" + r + "/config", "XDG_DATA_HOME=" + r + "/data", "XDG_CACHE_HOME=" + r + "/cache",
        "XDG_RUNTIME_DIR=" + r, "sh", "-c"};
    if (QProcess::execute("unshare", ns + QStringList{"true"}) != 0)
        GTEST_SKIP() << "no PID namespace here";
    ASSERT_EQ(QProcess::execute(MIRVAK_CMAKE, {"--install", MIRVAK_BUILD_DIR, "--prefix", r + "/usr"}), 0);
    ASSERT_TRUE(QDir().mkpath(r + "/home") && QFile::copy("/usr/bin/sleep", r + "/target")
                && QProcess::execute("chmod", {"-R", "a-w", r + "/usr"}) == 0);
    QProcess p;
    const auto guard = [&](const QString& until) {   // the guard, and the target whose exit status lands in status
        p.start("unshare", ns + QStringList{QString("cd %1/home; ../usr/bin/mirvak & ../target 30; echo $? >../status").arg(r)});
        waitUntil(15000, [&] { return t.exists(until); });
        p.close();   // ends unshare, and with it every process of the namespace
    };
    guard("mirvak-mirvak.lock");   // the first start copies the shipped settings and runs
    ASSERT_EQ(t.read(settings), t.read("usr/share/mirvak/settings.ini"));
    t.write(settings, t.read(settings).replace("startup_load=0", "startup_load=1").replace("list_level=1", "list_level=0"));
    t.write("data/mirvak/allow.csv", "dash\r\nsh\r\n");
    t.write("data/mirvak/deny.csv", "target\r\n");
    guard("status");   // the second reads the user's settings and lists, and puts its start-up entry beside them
    EXPECT_EQ(t.read("status"), "137\n");
    EXPECT_TRUE(t.read("config/autostart/mirvak 1.9.desktop").contains("\nExec=\"" + r.toUtf8() + "/usr/bin/mirvak\"\n"));
    p.start("find", {r + "/usr", r + "/home", "-newer", r + "/target"});   // nothing written there since
    EXPECT_TRUE(p.waitForFinished() && p.readAll().isEmpty());
}

TEST(DesktopTray, IconMenuAndDisableOnARealDisplay)
{
    OwnTable table;
    if (!table.start())
        GTEST_SKIP() << "no X display or no PID namespace";
    Child& guard = *table.guard;
    // No notification area yet: the guard says so, once, and keeps running.
    QByteArray errors;
    const auto complaints = [&] {
        return guard.waitForReadyRead(100), (errors += guard.readAllStandardError()).count("notification area");
    };
    ASSERT_TRUE(waitUntil(5000, [&] { return complaints() > 0; })) << errors.constData();

    // A panel that starts later still gets the icon, in its enabled look.
    Child trayer("trayer", kPanel);
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

TEST(DesktopTray, AlertDecidedFromTheKeyboard)
{
    // The one stranger in its table: a copy of sleep.
    OwnTable table;
    const QString tool = table.path("unknowntool");
    table.settings({{"path_search", "0"}, {"check_interval", "0.2"}});
    if (!QFile::copy("/bin/sleep", tool) || !table.start({tool, "600", "&"}))
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
    EXPECT_TRUE(waitUntil(6000, [&] { return !running() && table.exists("deny.csv"); })) << "still running or not listed";
    EXPECT_EQ(table.read("deny.csv"), ("unknowntool|" + tool + "\r\n").toUtf8());
}
