// SPDX-License-Identifier: GPL-3.0-or-later
// The real program against real processes, each run in a PID namespace of its own: the guard sees only its own world.
#include "Fakes.h"
#include "guard/frmMain.h"

#include <QCryptographicHash>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>

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
    // The output of `script`, run as PID 1 of a new PID namespace with /proc of its own.
    QByteArray run(const char* platform, const QString& script, const std::function<void()>& meanwhile = [] {}) const
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("DIR", tmp.path());
        e.insert("QT_QPA_PLATFORM", platform);
        e.insert("XDG_CONFIG_HOME", path("config"));
        e.insert("XDG_RUNTIME_DIR", tmp.path());   // a lock of its own for each world, and no bus there
        if (!bus)
            e.remove("DBUS_SESSION_BUS_ADDRESS");
        QProcess p;
        p.setProcessEnvironment(e);
        p.start("unshare", {"--pid", "--fork", "--mount-proc", "sh", "-c", script});
        p.waitForStarted();
        meanwhile();
        p.waitForFinished(60000);
        return p.readAllStandardOutput();
    }
    bool bus = true;   // the test's session bus; without it Qt starts one of its own where it can
};

// The level-4 record the guard builds for `file` running as `name` from `at`.
QString runningRecord(const QString& name, const QString& file, const QString& at)
{
    TestBed t;
    frmMain m(t.app);
    QFile f(file);
    f.open(QIODevice::ReadOnly);
    const QFileInfo info(file);
    return name + "|" + info.lastModified().toLocalTime().toString("yyyy.MM.dd H:mm") + "|" + m.guard.fSize(info.size()) + "|"
        + at + "|sha256:" + QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex();
}

// A world at list_level 4 where the shell and sleep are allowed by their records.
struct Level4 : World {
    const QString dir = QDir(tmp.path()).canonicalPath();
    explicit Level4(const char* safe, const char* wait = "0")
    {
        settings({{"check_interval", "0.2"}, {"list_level", "4"}, {"safe_level", safe}, {"path_search", wait}});
        const QString sh = QFileInfo("/bin/sh").canonicalFilePath();
        const QString sleep = QFileInfo("/usr/bin/sleep").canonicalFilePath();
        allow << runningRecord(QFileInfo(sh).fileName(), sh, sh) << runningRecord("sleep", sleep, sleep);
    }
    void lists() const
    {
        write("allow.csv", (allow.join("\r\n") + "\r\n").toUtf8());
        write("deny.csv", (deny.join("\r\n") + "\r\n").toUtf8());
    }
    QStringList allow, deny;
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

// The X tools are slow: a look every 150 ms.
bool waitFor(int ms, const std::function<bool()>& done) { return waitUntil(ms, done, 150); }

void click(const QPoint& at) { run("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1", "sleep", "0.2"}); }

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

// The shown windows of class Mirvak over 50 pixels each way, as the X server places them.
QList<QRect> shownWindows()
{
    QList<QRect> shown;
    for (const QString& id : QString::fromUtf8(run("xdotool", {"search", "--onlyvisible", "--class", "Mirvak"})).split('\n')) {
        const QString at = QString::fromUtf8(run("xdotool", {"getwindowgeometry", "--shell", id}));
        const auto n = [&](const char* name) { return QRegularExpression(QString("%1=(-?\\d+)").arg(name)).match(at).captured(1).toInt(); };
        if (!id.isEmpty() && n("WIDTH") > 50 && n("HEIGHT") > 50)
            shown << QRect(n("X"), n("Y"), n("WIDTH"), n("HEIGHT"));
    }
    return shown;
}

// A notification area in the bottom-right corner.
const QStringList kPanel{"--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "100",
                         "--heighttype", "pixel", "--height", "32", "--SetDockType", "true"};

// The guard in a process table of its own, where it meets only what `before` starts, on a session bus of its own
// that the test also reaches; beside it the shipped settings, unless the test wrote its own.
struct OwnTable : TestBed {
    QTemporaryDir runtime;   // holds its lock
    std::optional<Child> bus;
    QString busAddress;
    std::optional<Child> guard;
    bool start(const QStringList& before = {}, bool firstStart = false)
    {
        const QStringList own{"unshare", "--pid", "--fork", "--mount-proc", "--kill-child"};
        if (qEnvironmentVariableIsEmpty("DISPLAY") || QProcess::execute("env", own + QStringList{"true"}) != 0)
            return false;
        bus.emplace("dbus-daemon", QStringList{"--session", "--nofork", "--print-address=1"});
        if (!bus->waitForReadyRead(10000))
            return false;
        busAddress = QString::fromUtf8(bus->readLine()).trimmed();
        for (const char* name : {"Mirvak", "settings.ini", "mirvak.png", "mirvak-disabled.png"})
            QFile::copy(QFileInfo(MIRVAK_EXE).dir().filePath(name), path(name));   // never over a file already there
        if (!firstStart)
            write("allow.csv", read("allow.csv"));   // not a first start: what runs before it is asked about
        const QStringList shell{"sh", "-c", before.join(' ') + " exec \"$0\"", path("Mirvak")};
        guard.emplace("env", QStringList{"QT_QPA_PLATFORM=xcb", "XDG_RUNTIME_DIR=" + runtime.path(),
                                         "DBUS_SESSION_BUS_ADDRESS=" + busAddress} + own + shell);
        return true;
    }
    // How often the guard has said so far that it finds no notification area.
    qsizetype complaints()
    {
        guard->waitForReadyRead(100);
        return (errors += guard->readAllStandardError()).count("notification area");
    }
    QByteArray errors;
};

// A notification area's StatusNotifierWatcher that takes each item's registration.
struct StandInWatcher : QDBusVirtualObject {
    QStringList items;
    QString introspect(const QString&) const override
    {
        return "<interface name=\"org.kde.StatusNotifierWatcher\"><method name=\"RegisterStatusNotifierItem\">"
               "<arg type=\"s\" direction=\"in\"/></method><property name=\"IsStatusNotifierHostRegistered\" type=\"b\" "
               "access=\"read\"/><property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/></interface>";
    }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() == "RegisterStatusNotifierItem")
            items << message.arguments().value(0).toString();
        else if (message.member() == "Get") {
            const QVariant value = message.arguments().value(1) == "ProtocolVersion" ? QVariant(0) : QVariant(true);
            return connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
        }
        else
            return false;
        return connection.send(message.createReply());
    }
};
} // namespace

// A denied program ends at once; a real alert is answered from the keyboard with a session bus, by a click on Deny
// without one. Then Qt starts a bus of its own through dbus-launch, which the guard neither asks about nor ends, and
// leaves no zombie; the guard is not the namespace's first process, which would take in every orphan anyway.
TEST(EndToEnd, AlertDenyClickKillsAndWritesTheList)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") || QStandardPaths::findExecutable("xdotool").isEmpty())
        GTEST_SKIP() << "needs an X display and xdotool";
    const QByteArray helpers = QStandardPaths::findExecutable("dbus-launch").isEmpty() ? "" : "dbus-daemon dbus-launch";
    for (const bool bus : {true, false}) {
        World w;
        w.bus = bus;
        const QByteArray out = w.run("xcb", "\"$DIR/Mirvak.bin\" & \"$DIR/denied\" 20; echo $?; \"$DIR/unknown\" 20; echo $?; "
            "until grep -q unknown \"$DIR/deny.csv\"; do sleep 0.1; done; cat /proc/[0-9]*/comm | grep ^dbus- | sort | paste -sd' '; "
            "grep -l '^State:.Z' /proc/[0-9]*/status | wc -l; kill -9 -1", [bus] {
            QList<QRect> shown;
            waitFor(30000, [&] { return !(shown = shownWindows()).isEmpty(); });
            const auto focused = [&] {
                click(shown.value(0).topLeft() + QPoint(100, 70));
                return run("xdotool", {"getwindowfocus", "getwindowname"}).startsWith("Mirvak");
            };
            if (bus) {
                EXPECT_TRUE(waitFor(4000, focused)) << "the alert never took the focus";
                run("xdotool", {"key", "Tab", "Tab", "Return"});
            }
            else   // without a skin the Deny button sits at its design place, 148,102 to 258,130
                click(shown.value(0).topLeft() + QPoint(200, 115));
        });
        EXPECT_EQ(out, "137\n137\n" + (bus ? "" : helpers) + "\n0\n") << "bus " << bus;
        EXPECT_EQ(w.read("deny.csv"), "denied\r\nunknown\r\n") << "bus " << bus;
        // Neither a notification area nor a server took the kill notice: error.log says so, in its one entry.
        const QByteArray log = w.read("error.log");
        EXPECT_TRUE(log.startsWith("frmTray.notice: No notification server took a notice") && log.count("\r\n") == 2) << log.constData();
    }
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
    const QString r = t.tmp.path();
    const QString settings = "config/mirvak/settings.ini";
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
        waitFor(15000, [&] { return t.exists(until); });
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
    // No notification area yet: the guard says so, once, and keeps running.
    ASSERT_TRUE(waitFor(5000, [&] { return table.complaints() > 0; })) << table.errors.constData();

    // A panel that starts later still gets the icon, in its enabled look.
    Child trayer("trayer", kPanel);
    std::optional<QRect> icon, menu;
    ASSERT_TRUE(waitFor(8000, [&] { return (icon = mirvakWindow(true)).has_value(); })) << "no icon";
    ASSERT_TRUE(waitFor(4000, [&] { return cyanPixels(*icon) > 0; })) << "the enabled icon never showed";

    // A real left click opens the menu; its first item that can be chosen, Disable, closes it, the icon pale.
    click(icon->center());
    ASSERT_TRUE(waitFor(4000, [&] { return (menu = mirvakWindow(false)).has_value(); })) << "no menu";
    run("xdotool", {"key", "Down", "Return"});
    EXPECT_TRUE(waitFor(4000, [&] { return cyanPixels(*icon) == 0; })) << "still bright";
    EXPECT_FALSE(mirvakWindow(false)) << "the menu stayed open";
    EXPECT_EQ(table.guard->state(), QProcess::Running);
    EXPECT_EQ(table.complaints(), 1) << table.errors.constData();
}

// The first-start question opens just above the icon, ending where it ends, though the panel takes the icon in late.
TEST(DesktopTray, FirstStartQuestionOpensBesideTheIcon)
{
    OwnTable table;
    Child trayer("trayer", kPanel);   // the panel is there before the guard
    const auto panelUp = [] { return !run("xdotool", {"search", "--onlyvisible", "--class", "trayer"}).isEmpty(); };
    if (!waitFor(8000, panelUp) || !table.start({"sleep", "600", "&"}, true))
        GTEST_SKIP() << "no X display, no PID namespace or no trayer";
    std::optional<QRect> icon;
    QList<QRect> shown;
    ASSERT_TRUE(waitFor(8000, [&] { return (icon = mirvakWindow(true)).has_value(); })) << "no icon";
    ASSERT_TRUE(waitFor(8000, [&] { return !(shown = shownWindows()).isEmpty(); })) << "no question";
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(std::pair(shown[0].right(), shown[0].bottom() + 1), std::pair(icon->right(), icon->top()))
        << "question at " << shown[0].x() << "," << shown[0].y() << ", icon at " << icon->x() << "," << icon->y();
}

// Allowed A lives at bin/A; denied D is copied there, started, and A renamed back over it: what runs is D, and it
// ends. Behind a huge executable whose hash is pending, asked about at once or waited for, a denied program ends as alone.
TEST(Level4, ARenamedBackProgramIsKnownByWhatRunsAndAHugeExecutableShieldsNoDeniedProgram)
{
    // The guard starts once the path shows A again: it never sees D's file there.
    const char* const renamed = "\"$DIR/bin/A\" 8 & D=$!; sleep 0.3; mv -f \"$DIR/A.keep\" \"$DIR/bin/A\"; "
                                "\"$DIR/Mirvak.bin\" & wait $D; echo $?";
    const char* const huge = "\"$DIR/huge\" 30 & \"$DIR/Mirvak.bin\" & sleep 1.5; \"$DIR/denied\" 8; echo $?";
    for (const auto& [safe, wait, script] : {std::tuple("0", "0", renamed), {"1", "0", renamed}, {"0", "0", huge}, {"0", "60", huge}}) {
        SCOPED_TRACE(std::string("safe_level ") + safe + ", path_search " + wait + (script == huge ? ", huge" : ""));
        Level4 w(safe, wait);
        if (script == renamed) {
            QDir().mkpath(w.path("bin"));
            QFile sleep("/usr/bin/sleep");
            ASSERT_TRUE(sleep.open(QIODevice::ReadOnly));
            const QByteArray denied = sleep.readAll();
            w.write("A.keep", denied + "A");   // runs as sleep does, with other bytes
            w.write("bin/A", denied);
            QFile::setPermissions(w.path("A.keep"), QFile::ReadOwner | QFile::ExeOwner);
            QFile::setPermissions(w.path("bin/A"), QFile::ReadOwner | QFile::ExeOwner);
            w.allow << runningRecord("A", w.path("A.keep"), w.dir + "/bin/A");
            w.deny << runningRecord("A", w.path("bin/A"), w.dir + "/bin/A");
        } else {
            QFile::copy("/usr/bin/sleep", w.path("huge"));
            QFile::resize(w.path("huge"), qint64(1) << 40);   // sparse: a terabyte would take the better part of an hour to hash
            w.deny << runningRecord("denied", w.path("denied"), w.dir + "/denied");
        }
        w.lists();
        EXPECT_EQ(w.run("offscreen", script), "137\n") << w.read("error.log").constData();
    }
}

// A watcher that appears after the guard (a panel late at login) still gets the icon and its menu to draw.
TEST(DesktopTray, IconRegistersWithAWatcherThatComesLateAndExportsItsMenu)
{
    OwnTable table;
    if (!table.start())
        GTEST_SKIP() << "no X display, no PID namespace or no dbus-daemon";
    ASSERT_TRUE(waitFor(8000, [&] { return table.complaints() > 0; })) << table.errors.constData();
    QDBusConnection bus = QDBusConnection::connectToBus(table.busAddress, "panel");
    StandInWatcher watcher;
    ASSERT_TRUE(bus.registerVirtualObject("/StatusNotifierWatcher", &watcher));
    ASSERT_TRUE(bus.registerService("org.kde.StatusNotifierWatcher"));
    ASSERT_TRUE(waitFor(8000, [&] {
        QCoreApplication::processEvents();
        table.complaints();
        return !watcher.items.isEmpty();
    })) << table.errors.constData();
    const QString item = watcher.items.first();
    QDBusMessage get = QDBusMessage::createMethodCall(item, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get");
    get << "org.kde.StatusNotifierItem" << "Menu";
    const QDBusMessage menu = bus.call(get, QDBus::Block, 5000);
    const QString path = qvariant_cast<QDBusObjectPath>(menu.arguments().value(0).value<QDBusVariant>().variant()).path();
    EXPECT_TRUE(path.startsWith('/') && path != "/NO_DBUSMENU") << path.toStdString() << menu.errorMessage().toStdString();
    const QDBusMessage layout = bus.call(QDBusMessage::createMethodCall(item, path, "org.freedesktop.DBus.Introspectable",
                                                                        "Introspect"), QDBus::Block, 5000);
    EXPECT_TRUE(layout.arguments().value(0).toString().contains("com.canonical.dbusmenu")) << path.toStdString();
    EXPECT_EQ(table.guard->state(), QProcess::Running);
    bus.unregisterService("org.kde.StatusNotifierWatcher");
    QDBusConnection::disconnectFromBus("panel");
}
