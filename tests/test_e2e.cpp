// The real program against real processes. Each run happens in a PID namespace
// of its own, so the guard sees only its own small world.
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace {

struct World {
    QTemporaryDir dir;
    World()
    {
        QFile::copy(MIRVAK_EXE, path("Mirvak.bin"));   // a dot in its name: it still knows itself
        for (const char* name : {"denied", "unknown"})
            QFile::copy("/usr/bin/sleep", path(name));
        write("settings.ini", "startup_load=0\r\ncheck_interval=0.5\r\npath_search=0\r\ntmp_interval=60\r\nlist_level=0\r\n"
                              "safe_level=0\r\nclean_value=0\r\nalways_top=1\r\nweb_search=https://a.example/\r\nerror_log=1\r\n");
        write("allow.csv", "dash\r\ngrep\r\nsh\r\nsleep\r\n");
        write("deny.csv", "denied\r\n");
    }
    QString path(const QString& name) const { return dir.path() + "/" + name; }
    void write(const QString& name, const QByteArray& bytes) const
    {
        QFile f(path(name));
        f.open(QIODevice::WriteOnly), f.write(bytes);
    }
    std::string read(const QString& name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
    }
    void start(QProcess& p, const char* platform, const QString& program, const QStringList& args = {}) const
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("DIR", dir.path()), e.insert("QT_QPA_PLATFORM", platform), e.insert("XDG_CONFIG_HOME", path("config"));
        e.insert("XDG_RUNTIME_DIR", dir.path());   // a lock of its own for each world
        p.setProcessEnvironment(e);
        p.start(program, args);
        p.waitForStarted();
    }
    // The output of `script`, run as PID 1 of a new PID namespace with /proc of its own.
    std::string run(const char* platform, const QString& script, const std::function<void()>& meanwhile = [] {}) const
    {
        QProcess p;
        start(p, platform, "unshare", {"--pid", "--fork", "--mount-proc", "sh", "-c", script});
        meanwhile();
        p.waitForFinished(60000);
        return p.readAllStandardOutput().toStdString();
    }
};

QString xdotool(const QStringList& args)
{
    QProcess p;
    p.start("xdotool", args);
    p.waitForFinished();
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

// A denied program ends at once; then a real alert on a real X display, answered with a real click on Deny.
TEST(EndToEnd, AlertDenyClickKillsAndWritesTheList)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") || QStandardPaths::findExecutable("xdotool").isEmpty())
        GTEST_SKIP() << "needs an X display and xdotool";
    World w;
    const std::string out = w.run("xcb", "\"$DIR/Mirvak.bin\" & \"$DIR/denied\" 20; echo $?; \"$DIR/unknown\" 20; echo $?; "
        "until grep -q unknown \"$DIR/deny.csv\"; do sleep 0.1; done; kill -9 -1", [] {
        const QString window = xdotool({"search", "--sync", "--onlyvisible", "--class", "Mirvak"}).section('\n', 0, 0);
        const QString at = xdotool({"getwindowgeometry", "--shell", window});
        const auto coordinate = [&](const char* name) {
            return QRegularExpression(name + QString("=(-?\\d+)")).match(at).captured(1).toInt();
        };
        // Without a skin the Deny button sits at its design place, 148,102 to 258,130.
        xdotool({"mousemove", QString::number(coordinate("X") + 200), QString::number(coordinate("Y") + 115), "click", "1"});
    });
    EXPECT_EQ(out, "137\n137\n");
    EXPECT_EQ(w.read("deny.csv") + w.read("error.log"), "denied\r\nunknown\r\n");
}

TEST(EndToEnd, ASecondCopyAndMissingSettingsEndAtOnce)
{
    World w;
    QLockFile lock(w.path("mirvak-Mirvak.lock"));   // as a first copy holds it
    ASSERT_TRUE(lock.tryLock(0));
    for (const bool second : {true, false}) {
        if (!second)
            lock.unlock(), QFile::remove(w.path("settings.ini"));
        QProcess p;
        w.start(p, "offscreen", w.path("Mirvak.bin"));
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode() == 0, second);
        const QString err = QString::fromUtf8(p.readAllStandardError()).trimmed();
        EXPECT_TRUE(second ? err.isEmpty() : !err.contains('\n') && err.contains(w.path("settings.ini"))) << err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(w.path("error.log")));
}
