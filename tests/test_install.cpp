// The installed program in a PID namespace where it sees only itself, a shell and a target.
#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

TEST(Install, WritesOnlyTheUsersFoldersAndFindsItsFilesAgain)
{
    QTemporaryDir tmp;
    const QString r = tmp.path(), settings = r + "/config/mirvak/settings.ini";
    const QStringList ns{"--pid", "--fork", "--mount-proc", "--kill-child", "env", "HOME=" + r + "/home",
        "XDG_CONFIG_HOME=" + r + "/config", "XDG_DATA_HOME=" + r + "/data", "XDG_CACHE_HOME=" + r + "/cache",
        "XDG_RUNTIME_DIR=" + r, "sh", "-c"};
    if (QProcess::execute("unshare", ns + QStringList{"true"}) != 0)
        GTEST_SKIP() << "no PID namespace here";
    ASSERT_EQ(QProcess::execute(MIRVAK_CMAKE, {"--install", MIRVAK_BUILD_DIR, "--prefix", r + "/usr"}), 0);
    ASSERT_TRUE(QDir().mkpath(r + "/home") && QFile::copy("/usr/bin/sleep", r + "/target")
                && QProcess::execute("chmod", {"-R", "a-w", r + "/usr"}) == 0);
    QProcess p;
    const auto run = [&](const QString& until) {   // the guard, and the target whose exit status lands in status
        p.start("unshare", ns + QStringList{QString("cd %1/home; ../usr/bin/mirvak & ../target 30; echo $? >../status").arg(r)});
        for (QDeadlineTimer limit(15000); !QFile::exists(r + until) && !limit.hasExpired();)
            QThread::msleep(50);
        p.close();   // ends unshare, and with it every process of the namespace
    };
    const auto read = [](const QString& path) { QFile f(path); return f.open(QIODevice::ReadOnly) ? f.readAll() : ""; };
    const auto put = [](const QString& path, const QByteArray& text) { QFile f(path); return f.open(QIODevice::WriteOnly) && f.write(text) > 0; };
    run("/mirvak-mirvak.lock");   // the first start copies the shipped settings and runs
    ASSERT_EQ(read(settings), read(r + "/usr/share/mirvak/settings.ini"));
    ASSERT_TRUE(put(settings, read(settings).replace("startup_load=0", "startup_load=1").replace("list_level=1", "list_level=0"))
                && put(r + "/data/mirvak/allow.csv", "dash\r\nsh\r\n") && put(r + "/data/mirvak/deny.csv", "target\r\n"));
    run("/status");   // the second reads the user's settings and lists, and puts its start-up entry beside them
    EXPECT_EQ(read(r + "/status"), "137\n");
    EXPECT_TRUE(read(r + "/config/autostart/mirvak 1.9.desktop").contains("\nExec=\"" + r.toUtf8() + "/usr/bin/mirvak\"\n"));
    p.start("find", {r + "/usr", r + "/home", "-newer", r + "/target"});   // nothing written there since
    EXPECT_TRUE(p.waitForFinished() && p.readAll().isEmpty());
}
