// The real program against real processes. Each run happens in a fresh PID
// namespace, so the guard sees only its own small world and no stray program
// on the machine raises an alert that would stop its scan.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct World {
    QTemporaryDir dir;
    QString target = path(QStringLiteral("e2e-target-%1").arg(QCoreApplication::applicationPid()));

    World()
    {
        QFile::copy(MIRVAK_EXE, path("Mirvak"));
        QFile::copy("/usr/bin/sleep", target);   // a program under a name nothing else has
        write("settings.ini", "startup_load=0\r\ncheck_interval=0.5\r\npath_search=0\r\ntmp_interval=60\r\n"
                              "list_level=0\r\nsafe_level=0\r\nclean_value=0\r\nalways_top=1\r\n"
                              "web_search=https://www.mirvak.example/lookup.php\r\nerror_log=1\r\n");
        // The shell, its sleeps and subshells are this world's own programs.
        write("allow.csv", "dash\r\nsh\r\nsleep\r\ntouch\r\n");
    }
    QString path(const QString& name) const { return dir.path() + "/" + name; }
    QByteArray name() const { return QFileInfo(target).fileName().toUtf8(); }
    void write(const QString& name, const QByteArray& bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly) const
    {
        QFile f(path(name));
        f.open(mode);
        f.write(bytes);
    }
    QByteArray read(const QString& name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QProcessEnvironment environment(const char* platform) const
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("DIR", dir.path());
        e.insert("TARGET", target);
        e.insert("QT_QPA_PLATFORM", platform);
        e.insert("XDG_CONFIG_HOME", path("config"));
        e.insert("XDG_RUNTIME_DIR", dir.path());   // a lock of its own for each world
        return e;
    }
    // Runs `script` as PID 1 of a new PID namespace with /proc of its own.
    void start(QProcess& p, const QString& script, const char* platform) const
    {
        QStringList args;
        if (geteuid() != 0)
            args << "--user" << "--map-root-user";
        p.setProcessEnvironment(environment(platform));
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start("unshare", args << "--pid" << "--fork" << "--mount-proc" << "sh" << "-c" << script);
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

QString output(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished();
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

TEST(EndToEnd, DeniedProgramIsKilledAndAllowedOneRuns)
{
    for (const bool denied : {true, false}) {
        World w;
        w.write(denied ? "deny.csv" : "allow.csv", w.name() + "\r\n", QIODevice::Append);
        QProcess p;
        // The guard first, then the target; its exit status lands in $DIR/status.
        w.start(p, "\"$DIR/Mirvak\" & sleep 1; touch \"$DIR/started\"; "
                   "( \"$TARGET\" 30; echo $? > \"$DIR/status\" ) & sleep 3; kill -9 -1", "offscreen");
        ASSERT_TRUE(waitFor([&] { return QFile::exists(w.path("started")); }, 10000));
        // Two ticks of 0.5 s, with room for a loaded machine.
        EXPECT_EQ(waitFor([&] { return QFile::exists(w.path("status")); }, 2500), denied);
        EXPECT_EQ(w.read("status").trimmed(), denied ? "137" : "");   // SIGKILL
        p.waitForFinished(10000);
        EXPECT_EQ(w.read("error.log"), "");
    }
}

// A real alert on a real X display, answered with a real click on Deny.
TEST(EndToEnd, AlertDenyClickKillsAndWritesTheList)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") || QStandardPaths::findExecutable("xdotool").isEmpty())
        GTEST_SKIP() << "needs an X display and xdotool";
    World w;
    QDir().mkpath(w.path("skin"));
    QProcess p;
    // The target starts first, so the guard's first walk meets it.
    w.start(p, "( \"$TARGET\" 30; echo $? > \"$DIR/status\" ) & sleep 0.3; \"$DIR/Mirvak\" & "
               "while [ ! -e \"$DIR/done\" ]; do sleep 0.2; done; kill -9 -1", "xcb");
    QString window;
    ASSERT_TRUE(waitFor([&] {
        window = output("xdotool", {"search", "--onlyvisible", "--class", "Mirvak"}).section('\n', 0, 0);
        return !window.isEmpty();
    }, 15000)) << "no alert appeared";
    const QString geometry = output("xdotool", {"getwindowgeometry", "--shell", window});
    const int x = QRegularExpression("X=(-?\\d+)").match(geometry).captured(1).toInt();
    const int y = QRegularExpression("Y=(-?\\d+)").match(geometry).captured(1).toInt();
    EXPECT_FALSE(QFile::exists(w.path("status"))) << "the target ended before the alert";
    // Without a skin the Deny button sits at its design place, 148,102 to 258,130.
    QProcess::execute("xdotool", {"mousemove", QString::number(x + 200), QString::number(y + 115), "click", "1"});
    EXPECT_TRUE(waitFor([&] { return QFile::exists(w.path("status")); }, 5000)) << "target still running";
    EXPECT_EQ(w.read("status").trimmed(), "137");
    EXPECT_TRUE(waitFor([&] { return w.read("deny.csv") == w.name() + "\r\n"; }, 3000)) << w.read("deny.csv").data();
    w.write("done", "");
    p.waitForFinished(10000);
}

TEST(EndToEnd, MissingSettingsAndASecondCopyEndAtOnce)
{
    World w;
    QProcess first, second, alone;
    for (QProcess* p : {&first, &second, &alone}) {
        if (p == &alone)
            QFile::remove(w.path("settings.ini"));
        p->setProcessEnvironment(w.environment("offscreen"));
        p->start(w.path("Mirvak"), {});
        ASSERT_TRUE(p->waitForStarted());
        EXPECT_EQ(p->waitForFinished(p == &first ? 1500 : 5000), p != &first);
        if (p == &second)
            first.kill();
    }
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(second.readAllStandardError(), "");
    EXPECT_NE(alone.exitCode(), 0);
    const QStringList lines = QString::fromUtf8(alone.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1) << lines.join('|').toStdString();
    EXPECT_TRUE(lines[0].contains(w.path("settings.ini")));
    EXPECT_FALSE(QFile::exists(w.path("error.log")));
}
