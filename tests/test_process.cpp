#include "Fakes.h"
#include "platform/ArgQuote.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/windows/WinPath.h"
#include "process/mdProcess.h"
#include "store/mdSettings.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A real child process: a copy of the shell under a name of its own, blocked
// reading a pipe that the test holds open.
struct Child {
    pid_t pid = -1;
    int input = -1;
    ~Child()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (input >= 0)
            ::close(input);
    }
    bool running() const { return pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0; }
    int reap()
    {
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
        return status;
    }
};

QString copyShell(const QTemporaryDir& dir, const QString& name)
{
    const QString target = dir.path() + "/" + name;
    QFile::copy(QFileInfo("/bin/sh").canonicalFilePath(), target);
    QFile(target).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return target;
}

// Starts `exe` with `args` and returns once it has replaced the forked copy.
std::unique_ptr<Child> spawn(const QString& exe, const QStringList& args)
{
    std::vector<QByteArray> bytes{QFile::encodeName(exe)};
    for (const QString& a : args)
        bytes.push_back(a.toUtf8());
    std::vector<char*> argv;
    for (auto& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    int in[2], ready[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(ready, O_CLOEXEC) != 0)
        return nullptr;
    auto child = std::make_unique<Child>();
    child->pid = ::fork();
    if (child->pid == 0) {
        ::dup2(in[0], 0);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(ready[1]);
    char c;
    while (::read(ready[0], &c, 1) < 0 && errno == EINTR) {
    }
    ::close(ready[0]);   // closed by the exec: the child now runs the copy
    child->input = in[1];
    return child;
}

std::optional<platform::ProcessEntry> findInWalk(platform::LinuxProcesses& procs, qint64 pid, int* visits = nullptr)
{
    std::optional<platform::ProcessEntry> found;
    int count = 0;
    procs.walk([&](const platform::ProcessEntry& e) {
        ++count;
        if (e.pid == pid)
            found = e;
        return true;
    });
    if (visits)
        *visits = count;
    return found;
}

// A pid that belonged to a process already reaped.
pid_t deadPid()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

} // namespace

TEST(LinuxProcesses, WalkPathNameAndArgumentsOfARealChild)
{
    QTemporaryDir dir;
    // A name with ") S 1 (" checks that stat is read from its last ')'.
    const QString exe = copyShell(dir, "mv-probe) S 1 (x");
    const QStringList args{"-c", "read line", "argv0", "a b", "say \"hi\"", "", "it's é"};
    auto child = spawn(exe, args);
    ASSERT_TRUE(child && child->running());

    platform::LinuxProcesses procs;
    int visits = 0;
    const auto entry = findInWalk(procs, child->pid, &visits);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->exeName, "mv-probe) S 1 (x");
    EXPECT_EQ(entry->parentPid, ::getpid());
    EXPECT_EQ(entry->moduleId, 0);
    EXPECT_EQ(procs.rememberedCount(), std::size_t(visits));
    EXPECT_EQ(procs.path(child->pid, 0), exe);
    EXPECT_EQ(procs.name(child->pid), "mv-probe) S 1 (x");
    EXPECT_EQ(platform::splitArgs(procs.commandArgs(child->pid)), args);

    // Our own process is no kernel thread and no zombie: the walk holds it.
    EXPECT_TRUE(findInWalk(procs, ::getpid()));
    // A second walk replaces what the first remembered.
    findInWalk(procs, 0, &visits);
    EXPECT_EQ(procs.rememberedCount(), std::size_t(visits));

    auto bare = spawn(copyShell(dir, "mv-bare"), {});
    ASSERT_TRUE(bare && bare->running());
    EXPECT_EQ(procs.commandArgs(bare->pid), "");

    const pid_t gone = deadPid();
    EXPECT_EQ(procs.path(gone, 0), "");
    EXPECT_EQ(procs.name(gone), "");
    EXPECT_EQ(procs.commandArgs(gone), platform::kArgsSentinel);
}

TEST(LinuxProcesses, DeletedExecutableKeepsItsPlainPath)
{
    QTemporaryDir dir;
    const QString exe = copyShell(dir, "mv-doomed");
    auto child = spawn(exe, {});
    ASSERT_TRUE(child && child->running());
    ASSERT_TRUE(QFile::remove(exe));
    platform::LinuxProcesses procs;
    EXPECT_EQ(procs.path(child->pid, 0), exe);
    EXPECT_EQ(procs.name(child->pid), "mv-doomed");
    const auto entry = findInWalk(procs, child->pid);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->exeName, "mv-doomed");
}

TEST(LinuxProcesses, KillEndsOnlyTheExaminedProcess)
{
    QTemporaryDir dir;
    const QString exe = copyShell(dir, "mv-victim");
    platform::LinuxProcesses procs;

    auto stale = spawn(exe, {});
    ASSERT_TRUE(stale && stale->running());
    const auto start = procs.startTime(stale->pid);
    ASSERT_TRUE(start);
    EXPECT_EQ(procs.killExact(stale->pid, *start + 1), 0);
    EXPECT_TRUE(stale->running());
    EXPECT_NE(procs.killExact(stale->pid, *start), 0);
    int status = stale->reap();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    auto child = spawn(exe, {});
    ASSERT_TRUE(child && child->running());
    ASSERT_TRUE(findInWalk(procs, child->pid));
    EXPECT_NE(procs.kill(child->pid), 0);
    status = child->reap();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    // Through the guarded wrapper: a vanished id and ids that could reach a
    // process group (0, -1) give 0 and leave no log entry.
    TestBed t;
    t.settings();
    App real{{procs, t.files, t.env, t.shell, t.desktop, t.program}};
    mdSettings::getSettings(real);
    EXPECT_EQ(mdProcess::KillProcess(real, deadPid()), 0);
    EXPECT_EQ(mdProcess::KillProcess(real, 0), 0);
    EXPECT_EQ(mdProcess::KillProcess(real, -1), 0);
    EXPECT_FALSE(t.exists("error.log"));
}

namespace {
class BrokenProcesses : public FakeProcesses {
public:
    QString path(qint64, qint64) override { throw std::runtime_error("path broke"); }
    QString commandArgs(qint64) override { throw std::runtime_error("args broke"); }
    QString name(qint64) override { throw std::runtime_error("name broke"); }
    int kill(qint64) override { throw std::runtime_error("kill broke"); }
};
} // namespace

TEST(mdProcess, FailuresGiveDefaultsAndLogTheirOwnNames)
{
    TestBed t;
    t.settings();
    BrokenProcesses broken;
    App app{{broken, t.files, t.env, t.shell, t.desktop, t.program}};
    mdSettings::getSettings(app);
    EXPECT_EQ(mdProcess::TakePath(app, 5, 0), "");
    EXPECT_EQ(mdProcess::TakeCmdArg(app, 5), platform::kArgsSentinel);
    EXPECT_EQ(mdProcess::TakeName(app, 5), "");
    EXPECT_EQ(mdProcess::KillProcess(app, 5), 0);
    EXPECT_EQ(t.read("error.log"), "mdProcess.KillProcess: kill broke\r\nmdProcess.TakeName: name broke\r\n"
                                   "mdProcess.TakeCmdArg: args broke\r\nmdProcess.TakePath: path broke\r\n\r\n");
}

TEST(WinPath, SystemRootAndDrivePrefix)
{
    using platform::windowsModulePath;
    EXPECT_EQ(windowsModulePath("\\SystemRoot\\System32\\smss.exe", "C:\\WINDOWS"), "C:\\WINDOWS\\System32\\smss.exe");
    EXPECT_EQ(windowsModulePath("\\systemroot\\x.exe", "C:\\WINDOWS"), "\\systemroot\\x.exe");
    EXPECT_EQ(windowsModulePath("\\??\\C:\\WINDOWS\\system32\\csrss.exe", "C:\\WINDOWS"),
              "C:\\WINDOWS\\system32\\csrss.exe");
    EXPECT_EQ(windowsModulePath("\\??\\c:\\a\\b.exe", "C:\\WINDOWS"), "c:\\a\\b.exe");
    EXPECT_EQ(windowsModulePath("\\??\\D:\\x\\y.exe", "C:\\WINDOWS"), "\\??\\D:\\x\\y.exe");
    EXPECT_EQ(windowsModulePath("c:\\tools\\app.exe", "C:\\WINDOWS"), "c:\\tools\\app.exe");
    EXPECT_EQ(windowsModulePath("D:\\old\\C:\\new.exe", "C:\\WINDOWS"), "C:\\new.exe");
}
