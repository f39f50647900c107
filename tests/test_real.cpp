// SPDX-License-Identifier: GPL-3.0-or-later
// The real program against real processes, each run in a PID namespace of its own: the guard sees only its own world.
#include "Fakes.h"
#include "guard/frmMain.h"

#include <QCryptographicHash>
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
            QFile bytes(sleep);
            ASSERT_TRUE(bytes.open(QIODevice::ReadOnly));
            const QByteArray denied = bytes.readAll();
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
