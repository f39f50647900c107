// SPDX-License-Identifier: GPL-3.0-or-later
// The real program against real processes, each run in a PID namespace of its own: the guard sees only its own world.
#include "Fakes.h"
#include "store/RecordText.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QImage>
#include <QStandardPaths>

namespace {

struct Child : QProcess {
    Child(const QString& program, const QStringList& args) { start(program, args); }
    ~Child() override
    {
        kill();
        waitForFinished(3000);
    }
};

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
    // The output of `script`, run as PID 1 of a new PID namespace with /proc of its own; its input ends with `meanwhile`.
    QByteArray run(const char* platform, const QString& script, const std::function<void()>& meanwhile = [] {}) const
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("DIR", tmp.path());
        e.insert("QT_QPA_PLATFORM", platform);
        e.insert("XDG_CONFIG_HOME", path("config"));
        e.insert("XDG_RUNTIME_DIR", tmp.path());   // a lock of its own for each world, and no bus there
        e.insert("DBUS_SESSION_BUS_ADDRESS", bus);
        if (bus.isEmpty())
            e.remove("DBUS_SESSION_BUS_ADDRESS");
        QProcess p;
        p.setProcessEnvironment(e);
        p.start("unshare", {"--pid", "--fork", "--mount-proc", "sh", "-c", script});
        p.waitForStarted();
        meanwhile();
        p.closeWriteChannel();
        p.waitForFinished(60000);
        return p.readAllStandardOutput();
    }
    // The test's session bus; without one Qt starts one of its own where it can.
    QString bus = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    // On the X display, with the icons, on a bus of its own where no notification area is yet.
    bool ownDesktop()
    {
        for (const char* name : {"mirvak.png", "mirvak-disabled.png"})
            QFile::copy(QFileInfo(MIRVAK_EXE).dir().filePath(name), path(name));
        daemon.emplace("dbus-daemon", QStringList{"--session", "--nofork", "--print-address=1"});
        bus = daemon->waitForReadyRead(10000) ? QString::fromUtf8(daemon->readLine()).trimmed() : QString();
        return !qEnvironmentVariableIsEmpty("DISPLAY") && !bus.isEmpty();
    }
    std::optional<Child> daemon;
    // How often the guard, started by kGuard, has said so far that it finds no notification area.
    qsizetype complaints() const { return read("err").count("notification area"); }
};

// The guard until the test is done; then whether it still ran.
const char* const kGuard = "\"$DIR/Mirvak.bin\" 2>\"$DIR/err\" & read x; kill -0 $! && echo alive; kill -9 -1";

// The level-4 record the guard builds for `file` running as `name` from `at`.
QString runningRecord(const QString& name, const QString& file, const QString& at)
{
    QFile f(file);
    f.open(QIODevice::ReadOnly);
    const QFileInfo info(file);
    return name + "|" + info.lastModified().toLocalTime().toString("yyyy.MM.dd H:mm") + "|" + recordText::size(info.size()) + "|"
        + at + "|sha256:" + QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex();
}

QByteArray run(const QString& program, const QStringList& args)
{
    Child process(program, args);
    return process.waitForFinished(30000) ? process.readAllStandardOutput() : QByteArray();
}

// The X tools are slow: a look every 150 ms.
bool waitFor(int ms, const std::function<bool()>& done) { return waitUntil(ms, done, 150); }

void click(const QPoint& at) { run("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1", "sleep", "0.2"}); }

// The shown windows of class Mirvak as the X server places them: over 50 pixels each way, or the smaller icon.
QList<QRect> shownWindows(bool icon = false)
{
    QList<QRect> shown;
    for (const QString& id : QString::fromUtf8(run("xdotool", {"search", "--onlyvisible", "--class", "Mirvak"})).split('\n')) {
        const QString at = QString::fromUtf8(run("xdotool", {"getwindowgeometry", "--shell", id}));
        const auto n = [&](const char* name) { return QRegularExpression(QString("%1=(-?\\d+)").arg(name)).match(at).captured(1).toInt(); };
        if (!id.isEmpty() && n("WIDTH") > 0 && (qMin(n("WIDTH"), n("HEIGHT")) <= 50) == icon)
            shown << QRect(n("X"), n("Y"), n("WIDTH"), n("HEIGHT"));
    }
    return shown;
}

// Cyan pixels in an area of the screen: the enabled icon's bars; the pale icon has none. -1: unreadable.
int cyanPixels(const QRect& r)
{
    const QString area = QString("%1x%2+%3+%4").arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y());
    const QImage image = QImage::fromData(run("import", {"-window", "root", "-crop", area, "png:-"}), "PNG").convertToFormat(QImage::Format_RGB32);
    const auto* pixels = reinterpret_cast<const QRgb*>(image.constBits());
    const auto cyan = [](QRgb c) { return qGreen(c) - qRed(c) > 60 && qBlue(c) > 150; };
    return image.isNull() ? -1 : int(std::count_if(pixels, pixels + image.width() * image.height(), cyan));
}

// A notification area in the bottom-right corner.
const QStringList kPanel{"--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "100",
                         "--heighttype", "pixel", "--height", "32", "--SetDockType", "true"};

// A notification area's StatusNotifierWatcher that takes each item's registration.
struct StandInWatcher : QDBusVirtualObject {
    QStringList items;
    QString introspect(const QString&) const override
    {
        return "<interface name=\"org.kde.StatusNotifierWatcher\"><method name=\"RegisterStatusNotifierItem\"><arg type=\"s\"/></method>"
               "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/><property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/></interface>";
    }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const bool get = message.member() == "Get";
        if (message.member() == "RegisterStatusNotifierItem")
            items << message.arguments().value(0).toString();
        else if (!get)
            return false;
        const QVariant value = message.arguments().value(1) == "ProtocolVersion" ? QVariant(0) : QVariant(true);
        return connection.send(get ? message.createReply(QVariant::fromValue(QDBusVariant(value))) : message.createReply());
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
        if (!bus)
            w.bus.clear();
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


TEST(Install, WritesOnlyTheUsersFoldersAndFindsItsFilesAgain)
{
    TestBed t;
    const QString r = t.tmp.path();
    const QString settings = "config/mirvak/settings.ini";
    const QStringList ns{"--pid", "--fork", "--mount-proc", "--kill-child", "env", "HOME=" + r + "/home", "XDG_CONFIG_HOME=" + r + "/config",
                         "XDG_DATA_HOME=" + r + "/data", "XDG_CACHE_HOME=" + r + "/cache", "XDG_RUNTIME_DIR=" + r, "sh", "-c"};
    if (QProcess::execute("unshare", ns + QStringList{"true"}) != 0)
        GTEST_SKIP() << "no PID namespace here";
    ASSERT_EQ(QProcess::execute(MIRVAK_CMAKE, {"--install", MIRVAK_BUILD_DIR, "--prefix", r + "/usr"}), 0);
    ASSERT_TRUE(QDir().mkpath(r + "/home") && QFile::copy("/usr/bin/sleep", r + "/target") && QProcess::execute("chmod", {"-R", "a-w", r + "/usr"}) == 0);
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

// No notification area yet: the guard says so, once, and keeps running. A panel that starts later still gets the
// icon, in its enabled look; a real left click opens the menu, whose first item that can be chosen, Disable, pales it.
TEST(DesktopTray, IconMenuAndDisableOnARealDisplay)
{
    World w;
    if (!w.ownDesktop())
        GTEST_SKIP() << "needs an X display and dbus-daemon";
    const QByteArray alive = w.run("xcb", kGuard, [&] {
        ASSERT_TRUE(waitFor(5000, [&] { return w.complaints() > 0; })) << w.read("err").constData();
        Child trayer("trayer", kPanel);
        QList<QRect> icon;
        ASSERT_TRUE(waitFor(8000, [&] { return !(icon = shownWindows(true)).isEmpty(); })) << "no icon";
        ASSERT_TRUE(waitFor(4000, [&] { return cyanPixels(icon[0]) > 0; })) << "the enabled icon never showed";
        click(icon[0].center());
        ASSERT_TRUE(waitFor(4000, [&] { return !shownWindows().isEmpty(); })) << "no menu";
        run("xdotool", {"key", "Down", "Return"});
        EXPECT_TRUE(waitFor(4000, [&] { return cyanPixels(icon[0]) == 0; })) << "still bright";
    });
    EXPECT_EQ(alive, "alive\n");
    EXPECT_EQ(w.complaints(), 1) << w.read("err").constData();
}

// The first-start question opens just above the icon, ending where it ends, though the panel takes the icon in late.
TEST(DesktopTray, FirstStartQuestionOpensBesideTheIcon)
{
    World w;
    Child trayer("trayer", kPanel);   // the panel is there before the guard
    const auto panelUp = [] { return !run("xdotool", {"search", "--onlyvisible", "--class", "trayer"}).isEmpty(); };
    if (!w.ownDesktop() || !waitFor(8000, panelUp))
        GTEST_SKIP() << "needs an X display, dbus-daemon and trayer";
    QFile::remove(w.path("allow.csv"));
    w.run("xcb", QString("\"$DIR/unknown\" 600 & ") + kGuard, [&] {
        QList<QRect> icon;
        QList<QRect> shown;
        ASSERT_TRUE(waitFor(8000, [&] { return !(icon = shownWindows(true)).isEmpty(); })) << "no icon";
        ASSERT_TRUE(waitFor(8000, [&] { return !(shown = shownWindows()).isEmpty(); })) << "no question";
        ASSERT_EQ(shown.size(), 1);
        EXPECT_EQ(std::pair(shown[0].right(), shown[0].bottom() + 1), std::pair(icon[0].right(), icon[0].top()))
            << "question at " << shown[0].x() << "," << shown[0].y() << ", icon at " << icon[0].x() << "," << icon[0].y();
    });
}

// A watcher that appears after the guard (a panel late at login) still gets the icon and its menu to draw.
TEST(DesktopTray, IconRegistersWithAWatcherThatComesLateAndExportsItsMenu)
{
    World w;
    if (!w.ownDesktop())
        GTEST_SKIP() << "needs an X display and dbus-daemon";
    QDBusConnection bus = QDBusConnection::connectToBus(w.bus, "panel");
    StandInWatcher watcher;
    const QByteArray alive = w.run("xcb", kGuard, [&] {
        ASSERT_TRUE(waitFor(8000, [&] { return w.complaints() > 0; })) << w.read("err").constData();
        ASSERT_TRUE(bus.registerVirtualObject("/StatusNotifierWatcher", &watcher));
        ASSERT_TRUE(bus.registerService("org.kde.StatusNotifierWatcher"));
        const auto registered = [&] {
            QCoreApplication::processEvents();
            return !watcher.items.isEmpty();
        };
        ASSERT_TRUE(waitFor(8000, registered)) << w.read("err").constData();
        QDBusMessage get = QDBusMessage::createMethodCall(watcher.items[0], "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get");
        get << "org.kde.StatusNotifierItem" << "Menu";
        const QDBusMessage menu = bus.call(get, QDBus::Block, 5000);
        const QString path = qvariant_cast<QDBusObjectPath>(menu.arguments().value(0).value<QDBusVariant>().variant()).path();
        EXPECT_TRUE(path.startsWith('/') && path != "/NO_DBUSMENU") << path.toStdString() << menu.errorMessage().toStdString();
        const auto introspect = QDBusMessage::createMethodCall(watcher.items[0], path, "org.freedesktop.DBus.Introspectable", "Introspect");
        EXPECT_TRUE(bus.call(introspect, QDBus::Block, 5000).arguments().value(0).toString().contains("com.canonical.dbusmenu"));
    });
    EXPECT_EQ(alive, "alive\n");
    QDBusConnection::disconnectFromBus("panel");
}

// Allowed A lives at bin/A; denied D is copied there, started, and A renamed back over it: what runs is D, and it
// ends. Behind a huge executable whose hash is pending, asked about at once or waited for, a denied program ends as alone.
TEST(Level4, ARenamedBackProgramIsKnownByWhatRunsAndAHugeExecutableShieldsNoDeniedProgram)
{
    // The guard starts once the path shows A again: it never sees D's file there.
    const char* const renamed = "\"$DIR/bin/A\" 8 & D=$!; sleep 0.3; mv -f \"$DIR/A.keep\" \"$DIR/bin/A\"; "
                                "\"$DIR/Mirvak.bin\" & wait $D; echo $?";
    const char* const huge = "\"$DIR/huge\" 30 & \"$DIR/Mirvak.bin\" & sleep 1.5; \"$DIR/denied\" 8; echo $?";
    const QString sh = QFileInfo("/bin/sh").canonicalFilePath();
    const QString sleep = QFileInfo("/usr/bin/sleep").canonicalFilePath();
    const QString shell = runningRecord(QFileInfo(sh).fileName(), sh, sh) + "\r\n" + runningRecord("sleep", sleep, sleep);
    for (const auto& [safe, wait, script] : {std::tuple("0", "0", renamed), {"1", "0", renamed}, {"0", "0", huge}, {"0", "60", huge}}) {
        SCOPED_TRACE(std::string("safe_level ") + safe + ", path_search " + wait + (script == huge ? ", huge" : ""));
        World w;
        w.settings({{"check_interval", "0.2"}, {"list_level", "4"}, {"safe_level", safe}, {"path_search", wait}});
        const QString dir = QDir(w.tmp.path()).canonicalPath();
        QString allow = shell;
        QString deny;
        if (script == renamed) {
            const QByteArray denied = w.read("denied");   // a copy of sleep
            w.write("A.keep", denied + "A");   // runs as sleep does, with other bytes
            w.write("bin/A", denied);
            QFile::setPermissions(w.path("A.keep"), QFile::ReadOwner | QFile::ExeOwner);
            QFile::setPermissions(w.path("bin/A"), QFile::ReadOwner | QFile::ExeOwner);
            allow += "\r\n" + runningRecord("A", w.path("A.keep"), dir + "/bin/A");
            deny = runningRecord("A", w.path("bin/A"), dir + "/bin/A");
        } else {
            QFile::copy(sleep, w.path("huge"));
            QFile::resize(w.path("huge"), qint64(1) << 40);   // sparse: a terabyte would take the better part of an hour to hash
            deny = runningRecord("denied", w.path("denied"), dir + "/denied");
        }
        w.write("allow.csv", (allow + "\r\n").toUtf8());
        w.write("deny.csv", (deny + "\r\n").toUtf8());
        EXPECT_EQ(w.run("offscreen", script), "137\n") << w.read("error.log").constData();
    }
}
