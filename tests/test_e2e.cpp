// The real program against real processes. Each run happens in a fresh PID
// namespace, so the guard sees only its own small world and no stray program
// on the machine raises an alert that would stop its scan.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct World {
    QTemporaryDir dir;
    QString target;   // a copy of sleep under a name nothing else has

    explicit World(const QByteArray& settingsExtra = QByteArray())
    {
        QFile::copy(MIRVAK_EXE, path("Mirvak"));
        target = path(QStringLiteral("e2e-target-%1").arg(QCoreApplication::applicationPid()));
        QFile::copy("/usr/bin/sleep", target);
        write("settings.ini", "startup_load=0\r\ncheck_interval=0.5\r\npath_search=0\r\ntmp_interval=60\r\n"
                              "list_level=0\r\nsafe_level=0\r\nclean_value=0\r\nalways_top=1\r\n"
                              "web_search=https://www.mirvak.example/lookup.php\r\nerror_log=1\r\n"
                              + settingsExtra);
    }
    QString path(const QString& name) const { return dir.path() + "/" + name; }
    QString name() const { return QFileInfo(target).fileName(); }
    void write(const QString& name, const QByteArray& bytes) const
    {
        QFile f(path(name));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
    }
    QByteArray read(const QString& name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // Runs `script` as PID 1 of a new PID namespace with /proc of its own.
    void start(QProcess& p, const QString& script, const QStringList& env = {}) const
    {
        QStringList args;
        if (geteuid() != 0)
            args << "--user" << "--map-root-user";
        args << "--pid" << "--fork" << "--mount-proc" << "sh" << "-c" << script;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("DIR", dir.path());
        e.insert("TARGET", target);
        e.insert("XDG_CONFIG_HOME", dir.path() + "/config");
        e.insert("XDG_RUNTIME_DIR", dir.path());   // a lock of its own for each world
        for (const QString& kv : env)
            e.insert(kv.section('=', 0, 0), kv.section('=', 1));
        p.setProcessEnvironment(e);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start("unshare", args);
        ASSERT_TRUE(p.waitForStarted());
    }
};

bool waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QThread::msleep(50);
    }
    return true;
}

// The shell, its sleeps and subshells are this world's own programs.
const QByteArray kHelpers = "dash\r\nsh\r\nsleep\r\ntouch\r\n";

// Starts the guard, then the target once the guard runs; the target's exit
// status lands in $DIR/status.
const char* kScanScript =
    "\"$DIR/Mirvak\" & sleep 1; touch \"$DIR/started\"; "
    "( \"$TARGET\" 30; echo $? > \"$DIR/status\" ) & sleep 3; kill -9 -1";

} // namespace

TEST(EndToEnd, DeniedProgramIsKilledAndAllowedOneRuns)
{
    {
        World w("");
        w.write("allow.csv", kHelpers);
        w.write("deny.csv", w.name().toUtf8() + "\r\n");
        QProcess p;
        w.start(p, kScanScript, {"QT_QPA_PLATFORM=offscreen"});
        ASSERT_TRUE(waitFor([&] { return QFile::exists(w.path("started")); }, 10000));
        QElapsedTimer clock;
        clock.start();
        // Two ticks of 0.5 s, with room for a loaded machine.
        EXPECT_TRUE(waitFor([&] { return QFile::exists(w.path("status")); }, 2500)) << "still running";
        EXPECT_EQ(w.read("status").trimmed(), "137");   // SIGKILL
        p.waitForFinished(10000);
        EXPECT_EQ(w.read("error.log"), "");
    }
    {
        World w("");
        w.write("allow.csv", kHelpers + w.name().toUtf8() + "\r\n");
        QProcess p;
        w.start(p, kScanScript, {"QT_QPA_PLATFORM=offscreen"});
        ASSERT_TRUE(waitFor([&] { return QFile::exists(w.path("started")); }, 10000));
        QThread::msleep(2000);
        EXPECT_FALSE(QFile::exists(w.path("status"))) << "killed: " << w.read("status").toStdString();
        p.waitForFinished(10000);
        EXPECT_EQ(w.read("deny.csv"), "");
    }
}

// A real alert on a real X display, answered with a real click on Deny.
TEST(EndToEnd, AlertDenyClickKillsAndWritesTheList)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") || QStandardPaths::findExecutable("xdotool").isEmpty())
        GTEST_SKIP() << "needs an X display and xdotool";
    World w("");
    w.write("allow.csv", kHelpers);
    QDir().mkpath(w.path("skin"));
    QProcess p;
    // The target starts first, so the guard's first walk meets it.
    w.start(p,
            "( \"$TARGET\" 30; echo $? > \"$DIR/status\" ) & sleep 0.3; \"$DIR/Mirvak\" & "
            "while [ ! -e \"$DIR/done\" ]; do sleep 0.2; done; kill -9 -1",
            {"QT_QPA_PLATFORM=xcb"});
    // The alert is the guard's only mapped window of its size.
    QString window;
    ASSERT_TRUE(waitFor([&] {
        QProcess x;
        x.start("xdotool", {"search", "--onlyvisible", "--class", "Mirvak"});
        x.waitForFinished();
        const auto ids = QString::fromUtf8(x.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        window = ids.isEmpty() ? QString() : ids.last();
        return !window.isEmpty();
    }, 15000)) << "no alert appeared";
    QProcess geo;
    geo.start("xdotool", {"getwindowgeometry", "--shell", window});
    geo.waitForFinished();
    const QString shell = QString::fromUtf8(geo.readAllStandardOutput());
    const int x = QRegularExpression("X=(-?\\d+)").match(shell).captured(1).toInt();
    const int y = QRegularExpression("Y=(-?\\d+)").match(shell).captured(1).toInt();
    EXPECT_TRUE(QFile::exists(w.path("Mirvak")));
    EXPECT_FALSE(QFile::exists(w.path("status"))) << "the target ended before the alert";
    // Without a skin the Deny button sits at its design place, 148,102 to 258,130.
    QProcess::execute("xdotool", {"mousemove", QString::number(x + 200), QString::number(y + 115), "click", "1"});
    EXPECT_TRUE(waitFor([&] { return QFile::exists(w.path("status")); }, 5000)) << "target still running";
    EXPECT_EQ(w.read("status").trimmed(), "137");
    EXPECT_TRUE(waitFor([&] { return w.read("deny.csv").contains(w.name().toUtf8()); }, 3000));
    w.write("done", "");
    p.waitForFinished(10000);
}

TEST(EndToEnd, MissingSettingsAndASecondCopyEndAtOnce)
{
    World w;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", w.dir.path());
    env.insert("XDG_CONFIG_HOME", w.path("config"));
    const auto run = [&](QProcess& p) {
        p.setProcessEnvironment(env);
        p.start(w.path("Mirvak"), {});
        ASSERT_TRUE(p.waitForStarted());
    };

    QProcess first;
    run(first);
    ASSERT_FALSE(first.waitForFinished(1500)) << "the first copy ended";
    QProcess second;
    run(second);
    EXPECT_TRUE(second.waitForFinished(5000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(second.readAllStandardError(), "");
    first.kill();
    first.waitForFinished();

    QFile::remove(w.path("settings.ini"));
    QProcess alone;
    run(alone);
    EXPECT_TRUE(alone.waitForFinished(5000));
    EXPECT_NE(alone.exitCode(), 0);
    const QStringList lines = QString::fromUtf8(alone.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1) << lines.join('|').toStdString();
    EXPECT_TRUE(lines[0].contains(w.path("settings.ini")));
    EXPECT_FALSE(QFile::exists(w.path("error.log")));
}
