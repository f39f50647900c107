#include "Fakes.h"
#include "platform/ArgQuote.h"
#include "platform/SysText.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/windows/WinPath.h"
#include "process/mdProcess.h"

#include <QCoreApplication>
#include <QProcess>
#include <gtest/gtest.h>
#include <pwd.h>

#include <csignal>
#include <fcntl.h>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A copy of the shell as dir/name, blocked reading a pipe the test holds open.
// The folders are entered one at a time, so `dir` may lie deeper than a path can name.
struct Child {
    pid_t pid = -1;
    int input[2] = {-1, -1};
    Child(const QByteArray& dir, const QByteArray& name, QByteArrayList args = {})
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, "/");
        int at = ::open("/", O_RDONLY | O_DIRECTORY);
        for (const QByteArray& part : dir.mid(1).split('/')) {
            ::mkdirat(at, part, 0700);
            ::close(std::exchange(at, ::openat(at, part, O_RDONLY | O_DIRECTORY)));
            posix_spawn_file_actions_addchdir_np(&actions, part);
        }
        QFile sh("/bin/sh"), exe;
        if (sh.open(QIODevice::ReadOnly) && exe.open(::openat(at, name, O_WRONLY | O_CREAT, 0700), QIODevice::WriteOnly,
                                                     QFileDevice::AutoCloseHandle))
            exe.write(sh.readAll());
        exe.close();
        ::close(at);
        args.prepend("./" + name);
        std::vector<char*> argv;
        for (QByteArray& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        // posix_spawn returns once the copy runs in the child.
        if (::pipe2(input, O_CLOEXEC) != 0 || posix_spawn_file_actions_adddup2(&actions, input[0], 0) != 0
            || ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
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
    bool running() const { return ::waitpid(pid, nullptr, WNOHANG) == 0; }
};

// Walks up to the process with that id and asks for its parent there, as the
// scan does for its candidate; the entry and the parent's id.
std::optional<std::pair<platform::ProcessEntry, qint64>> visit(platform::Processes& procs, qint64 pid)
{
    std::optional<std::pair<platform::ProcessEntry, qint64>> found;
    procs.walk([&](const platform::ProcessEntry& e) {
        if (e.pid == pid)
            found.emplace(e, procs.parent(pid));
        return e.pid != pid;
    });
    return found;
}

// Removes what QTemporaryDir cannot: folders deeper than a path can name.
struct Wipe {
    QString dir;
    ~Wipe() { QProcess::execute("rm", {"-rf", dir}); }
};

struct BrokenProcesses : FakeProcesses {
    QString path(qint64, qint64) override { throw std::runtime_error("path"); }
    QString commandArgs(qint64) override { throw std::runtime_error("args"); }
    QString name(qint64) override { throw std::runtime_error("name"); }
    int kill(qint64) override { throw std::runtime_error("kill"); }
};

} // namespace

TEST(LinuxProcesses, RealChildrenByPathNameArgumentsAndKill)
{
    QTemporaryDir tmp;
    Wipe wipe{tmp.path()};
    const QByteArray dir = QFile::encodeName(tmp.path()), name = "mv-probe) S 1 (x\xe9";   // stat ends at its last ')'
    const QByteArrayList args{"-c", "read line", "argv0", "a b", "say \"hi\"", "", "it's \xe9"};
    QByteArray far = dir;
    while (far.size() < 4200)
        far += "/" + QByteArray(250, 'd');
    Child child(dir, name, args), bare(dir, "mv-bare"), deep(far, "mv-deep");
    ASSERT_TRUE(child.pid > 0 && bare.pid > 0 && deep.pid > 0);
    ASSERT_EQ(::unlink(dir + "/" + name), 0);

    platform::LinuxProcesses procs;
    const auto entry = visit(procs, child.pid);
    ASSERT_TRUE(entry);
    EXPECT_EQ(platform::toSys(entry->first.exeName), name);
    EXPECT_EQ(entry->second, ::getpid());
    EXPECT_EQ(platform::toSys(procs.path(child.pid, 0)), dir + "/" + name);
    QByteArrayList read;
    for (const QString& a : platform::splitArgs(procs.commandArgs(child.pid)))
        read << platform::toSys(a);
    EXPECT_EQ(read, args);
    EXPECT_EQ(procs.name(bare.pid), "mv-bare");
    EXPECT_EQ(procs.commandArgs(bare.pid), "");
    EXPECT_EQ(std::pair(procs.owner(bare.pid), procs.exePath(bare.pid)),
              std::pair(QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name), tmp.path() + "/mv-bare"));
    // A path the link cannot hold leaves only the name the process chose: not another user's.
    const auto unnamed = visit(procs, deep.pid).value_or(std::pair(platform::ProcessEntry(), 0));
    EXPECT_EQ(std::pair(unnamed.first.exeName, unnamed.first.pathState), std::pair(QString("mv-deep"), platform::PathState::Unreadable));
    EXPECT_EQ(procs.path(deep.pid, 0), "");

    EXPECT_NE(procs.kill(bare.pid), 0);
    const pid_t gone = std::exchange(bare.pid, -1);
    int status = 0;
    ::waitpid(gone, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_EQ(std::pair(procs.commandArgs(gone), procs.owner(gone)), std::pair(platform::kArgsSentinel, QString()));
    // A vanished id, and ids that would reach a group or every process, end nothing.
    for (qint64 pid : {qint64(gone), qint64(0), qint64(-1)})
        EXPECT_EQ(procs.kill(pid), 0) << pid;
}

// A newcomer handed the id of the process the scan examined is not that process.
TEST(LinuxProcesses, ReusedIdIsNotTheExaminedProcess)
{
    if (!qEnvironmentVariableIsSet("MIRVAK_PIDNS")) {
        // Only in a PID namespace of its own can the test choose the next id.
        QProcess inner;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("MIRVAK_PIDNS", "1");
        inner.setProcessEnvironment(env);
        inner.setProcessChannelMode(QProcess::MergedChannels);
        inner.start("unshare", {"--pid", "--fork", "--mount-proc", QCoreApplication::applicationFilePath(),
                                "--gtest_filter=LinuxProcesses.ReusedIdIsNotTheExaminedProcess"});
        inner.waitForFinished(-1);
        const QByteArray out = inner.readAll();
        if (!out.contains("[ RUN      ]"))
            GTEST_SKIP() << "no PID namespace here: " << out.toStdString();
        EXPECT_EQ(inner.exitCode(), 0) << out.toStdString();
        return;
    }
    QTemporaryDir tmp;
    const QByteArray dir = QFile::encodeName(tmp.path());
    auto examined = std::make_optional<Child>(dir, "mv-examined");
    const pid_t id = examined->pid;
    platform::LinuxProcesses procs;
    ASSERT_TRUE(visit(procs, id));
    examined.reset();
    QFile last("/proc/sys/kernel/ns_last_pid");
    ASSERT_TRUE(last.open(QIODevice::WriteOnly) && last.write(QByteArray::number(id - 1)) > 0);
    last.close();
    Child newcomer(dir, "mv-newcomer");
    ASSERT_EQ(newcomer.pid, id);
    EXPECT_EQ(procs.path(id, 0), "");
    EXPECT_EQ(procs.commandArgs(id), platform::kArgsSentinel);
    EXPECT_EQ(procs.kill(id), 0);
    EXPECT_TRUE(newcomer.running());
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
    const char* cases[][2] = {{"\\SystemRoot\\System32\\smss.exe", "C:\\WINDOWS\\System32\\smss.exe"},
        {"\\systemroot\\x.exe", "\\systemroot\\x.exe"}, {"\\??\\C:\\WINDOWS\\csrss.exe", "C:\\WINDOWS\\csrss.exe"},
        {"\\??\\c:\\a\\b.exe", "c:\\a\\b.exe"}, {"\\??\\D:\\x\\y.exe", "\\??\\D:\\x\\y.exe"},
        {"c:\\tools\\app.exe", "c:\\tools\\app.exe"}, {"D:\\old\\C:\\new.exe", "C:\\new.exe"}};
    for (const auto& [in, out] : cases)
        EXPECT_EQ(platform::windowsModulePath(in, "C:\\WINDOWS"), out) << in;
}
