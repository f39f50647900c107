// A real process read, ended and started again through the Linux backend.
#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/LinuxServices.h"

#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

TEST(LinuxRestart, ComesBackWithItsBytesFolderEnvironmentAndArgv0)
{
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(QDir(dir.path()).canonicalPath()) + "/w\xe9";
    const std::shared_ptr<void> cleanup(nullptr, [&](void*) { ::rmdir(folder); });   // a name Qt cannot remove
    ASSERT_TRUE(::mkdir(folder, 0700) == 0 && ::mkfifo(QFile::encodeName(dir.filePath("report")), 0600) == 0
                && ::mkfifo(QFile::encodeName(dir.filePath("gate")), 0600) == 0);
    // Each start reports its id and how it was started; the first then waits until it is ended.
    const QByteArray script = "D='" + QFile::encodeName(dir.path()) + "'; { echo $$; cat /proc/$$/cmdline; echo; "
                              "cat /proc/$$/environ; echo; pwd -P; } >\"$D/report\"; "
                              "[ -e \"$D/go\" ] || read x <\"$D/gate\"";
    const platform::Launch launch{{"my\xffsh", "-c", script, "zero", "a\xe9 b", "", "mirvak:", "777"}, folder,
                                  QByteArrayList{"PATH=/usr/bin:/bin", "K=v\xfe"}};
    const QByteArray facts = launch.argv.join('\0') + "\0\n"_qba + launch.env->join('\0') + "\0\n"_qba + folder + '\n';
    const auto report = [&] {   // blocks until a start has written it all
        QFile pipe(dir.filePath("report"));
        const QByteArray got = pipe.open(QIODevice::ReadOnly) ? pipe.readAll() : QByteArray();
        return std::pair(pid_t(got.left(got.indexOf('\n')).toInt()), got.mid(got.indexOf('\n') + 1));
    };
    platform::LinuxProcesses procs;
    platform::LinuxShell shell;
    shell.restart("/bin/sh", launch);
    const pid_t pid = report().first;
    ASSERT_GT(pid, 1);
    const std::optional<platform::Launch> read = procs.launch(pid);
    const QString exe = procs.path(pid, 0);
    ::kill(pid, SIGKILL);
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, launch);
    QFile(dir.filePath("go")).open(QIODevice::WriteOnly);
    shell.restart(exe, *read);
    EXPECT_EQ(report().second, facts);
}
