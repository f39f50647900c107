#include "Fakes.h"
#include "platform/ArgQuote.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/windows/WinPath.h"
#include "process/mdProcess.h"
#include "store/mdSettings.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A copy of the shell under a name of its own, blocked reading a pipe the test holds open.
struct Child {
    QString exe;
    pid_t pid = -1;
    int input[2] = {-1, -1};
    explicit Child(QString path, const QStringList& args = {}) : exe(std::move(path))
    {
        QFile::copy(QFileInfo("/bin/sh").canonicalFilePath(), exe);
        QByteArrayList bytes;
        std::vector<char*> argv;
        for (const QString& a : QStringList{exe} + args)
            argv.push_back((bytes << a.toUtf8()).last().data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        // posix_spawn returns once the copy runs in the child.
        if (::pipe2(input, O_CLOEXEC) == 0 && posix_spawn_file_actions_adddup2(&actions, input[0], 0) == 0
            && ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child()
    {
        if (pid > 0 && ::kill(pid, SIGKILL) == 0)
            ::waitpid(pid, nullptr, 0);
        for (int fd : input)
            ::close(fd);
    }
};

struct BrokenProcesses : FakeProcesses {
    QString path(qint64, qint64) override { throw std::runtime_error("path"); }
    QString commandArgs(qint64) override { throw std::runtime_error("args"); }
    QString name(qint64) override { throw std::runtime_error("name"); }
    int kill(qint64) override { throw std::runtime_error("kill"); }
};

} // namespace

TEST(LinuxProcesses, IdentityAndKillOfRealChildren)
{
    QTemporaryDir dir;
    const QString name = "mv-probe) S 1 (x";   // stat is read from its last ')'
    const QStringList args{"-c", "read line", "argv0", "a b", "say \"hi\"", "", "it's é"};
    Child child(dir.filePath(name), args);
    Child bare(dir.filePath("mv-bare"));
    ASSERT_TRUE(child.pid > 0 && bare.pid > 0);
    ASSERT_TRUE(QFile::remove(child.exe));

    platform::LinuxProcesses procs;
    std::optional<platform::ProcessEntry> entry;
    procs.walk([&](const platform::ProcessEntry& e) {
        if (e.pid == child.pid)
            entry = e;
        return true;
    });
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->exeName, name);
    EXPECT_EQ(entry->parentPid, ::getpid());
    EXPECT_EQ(procs.path(child.pid, 0), child.exe);
    EXPECT_EQ(procs.name(child.pid), name);
    EXPECT_EQ(platform::splitArgs(procs.commandArgs(child.pid)), args);
    EXPECT_EQ(procs.path(bare.pid, 0), bare.exe);
    EXPECT_EQ(procs.commandArgs(bare.pid), "");

    // Another start time means the id went to another process: it stays.
    EXPECT_EQ(procs.killExact(bare.pid, procs.startTime(bare.pid).value_or(0) + 1), 0);
    EXPECT_EQ(::waitpid(bare.pid, nullptr, WNOHANG), 0);
    EXPECT_NE(procs.kill(bare.pid), 0);
    const pid_t gone = std::exchange(bare.pid, -1);
    int status = 0;
    ::waitpid(gone, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_EQ(procs.commandArgs(gone), platform::kArgsSentinel);

    // Through the wrapper, a vanished id and ids that could reach a group give 0 and no log entry.
    TestBed t;
    App real{{procs, t.files, t.env, t.shell, t.desktop, t.program}};
    real.settingList.add("1", "error_log");
    for (qint64 pid : {qint64(gone), qint64(0), qint64(-1)})
        EXPECT_EQ(mdProcess::KillProcess(real, pid), 0) << pid;
    EXPECT_FALSE(t.exists("error.log"));
}

TEST(mdProcess, FailuresGiveDefaultsAndLogTheirOwnNames)
{
    TestBed t;
    BrokenProcesses broken;
    App app{{broken, t.files, t.env, t.shell, t.desktop, t.program}};
    app.settingList.add("1", "error_log");
    EXPECT_EQ(mdProcess::TakePath(app, 5, 0), "");
    EXPECT_EQ(mdProcess::TakeCmdArg(app, 5), platform::kArgsSentinel);
    EXPECT_EQ(mdProcess::TakeName(app, 5), "");
    EXPECT_EQ(mdProcess::KillProcess(app, 5), 0);
    EXPECT_EQ(t.read("error.log"), "mdProcess.KillProcess: kill\r\nmdProcess.TakeName: name\r\n"
                                   "mdProcess.TakeCmdArg: args\r\nmdProcess.TakePath: path\r\n\r\n");
}

TEST(WinPath, SystemRootAndDrivePrefix)
{
    using platform::windowsModulePath;
    const QString win = "C:\\WINDOWS";
    EXPECT_EQ(windowsModulePath("\\SystemRoot\\System32\\smss.exe", win), "C:\\WINDOWS\\System32\\smss.exe");
    EXPECT_EQ(windowsModulePath("\\systemroot\\x.exe", win), "\\systemroot\\x.exe");
    EXPECT_EQ(windowsModulePath("\\??\\C:\\WINDOWS\\csrss.exe", win), "C:\\WINDOWS\\csrss.exe");
    EXPECT_EQ(windowsModulePath("\\??\\c:\\a\\b.exe", win), "c:\\a\\b.exe");
    EXPECT_EQ(windowsModulePath("\\??\\D:\\x\\y.exe", win), "\\??\\D:\\x\\y.exe");
    EXPECT_EQ(windowsModulePath("c:\\tools\\app.exe", win), "c:\\tools\\app.exe");
    EXPECT_EQ(windowsModulePath("D:\\old\\C:\\new.exe", win), "C:\\new.exe");
}
