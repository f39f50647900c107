// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fakes.h"
#include "platform/SysText.h"
#include "platform/linux/LinuxProcesses.h"
#include "process/mdProcess.h"
#include "store/mdSettings.h"

#include <pwd.h>
#include <sys/stat.h>

namespace {

// A copy of the shell as dir/name; the child enters `dir` part by part, as it may be deeper than a path can name.
QByteArrayList copyOfShell(const QByteArray& dir, const QByteArray& name)
{
    QByteArrayList parts{"/"};
    int at = ::open("/", O_RDONLY | O_DIRECTORY);
    for (const QByteArray& part : dir.mid(1).split('/')) {
        ::mkdirat(at, part, 0700);
        ::close(std::exchange(at, ::openat(at, part, O_RDONLY | O_DIRECTORY)));
        parts << part;
    }
    QFile sh("/bin/sh");
    QFile exe;
    sh.open(QIODevice::ReadOnly);
    exe.open(::openat(at, name, O_WRONLY | O_CREAT, 0700), QIODevice::WriteOnly, QFile::AutoCloseHandle);
    exe.write(sh.readAll());   // closed on return, before the child starts
    ::close(at);
    return parts;
}

struct Child : Spawned {
    Child(const QByteArray& dir, const QByteArray& name) : Spawned({"./" + name}, copyOfShell(dir, name)) {}
};

// Walks up to the process with that id and asks for its parent there, as the scan does for its candidate.
std::optional<std::pair<platform::ProcessEntry, qint64>> visit(platform::Processes& procs, qint64 pid)
{
    std::optional<std::pair<platform::ProcessEntry, qint64>> found;
    procs.walk([&](const platform::ProcessEntry& e) {
        if (e.pid != pid)
            return true;
        found.emplace(e, procs.parent(pid));
        return false;
    });
    return found;
}

} // namespace

TEST(LinuxProcesses, RealChildrenByPathNameArgumentsAndKill)
{
    QTemporaryDir tmp;   // the folders deeper than a path can name go by rm, as QTemporaryDir cannot remove them
    const std::shared_ptr<void> wipe(nullptr, [&](void*) { QProcess::execute("rm", {"-rf", tmp.path()}); });
    const QByteArray dir = QFile::encodeName(tmp.path());
    const QByteArray name = "mv-probe) S 1 (x\xe9";   // stat ends at its last ')'
    QByteArray far = dir;
    while (far.size() < 4200)
        far += "/" + QByteArray(250, 'd');
    Child child(dir, name);
    Child bare(dir, "mv-bare");
    Child deep(far, "mv-deep");
    Child late(dir, "mv-late");
    ASSERT_TRUE(child.pid > 0 && bare.pid > 0 && deep.pid > 0 && late.pid > 0);
    ASSERT_EQ(::unlink(dir + "/" + name), 0);

    const QString sleep = QFileInfo("/bin/sleep").canonicalFilePath();
    platform::LinuxProcesses procs;
    const auto entry = visit(procs, child.pid).value_or(std::pair(platform::ProcessEntry(), 0));
    EXPECT_EQ(std::pair(platform::toSys(entry.first.exeName), entry.second), std::pair(name, qint64(::getpid())));
    EXPECT_EQ(platform::toSys(procs.path(child.pid, 0)), dir + "/" + name);
    EXPECT_EQ(procs.name(bare.pid) + "|" + procs.launch(bare.pid).value_or(platform::Launch()).argv.join(' '), "mv-bare|./mv-bare");
    EXPECT_EQ(std::tuple(procs.owner(bare.pid), procs.exePath(bare.pid), procs.ownerId(bare.pid)),
              std::tuple(QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name), tmp.path() + "/mv-bare", qint64(::getuid())));
    // A path the link cannot hold leaves only the name the process chose: not another user's.
    const auto unnamed = visit(procs, deep.pid).value_or(std::pair(platform::ProcessEntry(), 0));
    EXPECT_EQ(std::tuple(unnamed.first.exeName, unnamed.first.pathState, procs.path(deep.pid, 0)),
              std::tuple(QString("mv-deep"), platform::PathState::Unreadable, QString()));

    // Only a process a walk examined may be ended: an id alone may belong to anyone by now, even one asked about.
    auto unpinned = platform::KillFailure::None;
    EXPECT_EQ(procs.parent(bare.pid), ::getpid());
    EXPECT_EQ(std::pair(procs.kill(bare.pid, &unpinned), unpinned), std::pair(0, platform::KillFailure::Gone));
    EXPECT_TRUE(bare.running());
    ASSERT_TRUE(visit(procs, bare.pid));
    EXPECT_NE(procs.kill(bare.pid), 0);
    const pid_t gone = std::exchange(bare.pid, -1);
    int status = 0;
    EXPECT_TRUE(::waitpid(gone, &status, 0) == gone && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_TRUE(!procs.launch(gone) && procs.owner(gone).isEmpty() && procs.ownerId(gone) == -1);
    // Ids that would reach a group or every process end nothing.
    for (qint64 pid : {qint64(0), qint64(-1)}) {
        auto why = platform::KillFailure::None;
        EXPECT_EQ(std::pair(procs.kill(pid, &why), why), std::pair(0, platform::KillFailure::Gone)) << pid;
    }
    // Pinned, then replaced by another program through exec: the pin tells so, once, and reads the new one.
    ASSERT_TRUE(visit(procs, child.pid));
    EXPECT_FALSE(procs.replaced(child.pid));
    child.type("exec /bin/sleep 600\n");
    EXPECT_TRUE(waitUntil(10000, [&] { return procs.exePath(child.pid) == sleep; }));
    EXPECT_TRUE(procs.replaced(child.pid));
    EXPECT_EQ(procs.path(child.pid, 0), sleep);
    EXPECT_FALSE(procs.replaced(child.pid));
    EXPECT_NE(procs.kill(child.pid), 0);   // still the process the walk examined

    // What the guard's libraries start (the deep shell's child stands in for a bus helper's daemon) is its own.
    deep.type("/bin/sleep 600 &\n");
    qint64 daemon = 0;
    const auto started = [&] {
        procs.walk([&](const platform::ProcessEntry& e) {
            daemon = procs.parent(e.pid) == deep.pid && e.exeName == "sleep" ? e.pid : 0;
            return daemon == 0;
        });
        return daemon != 0;
    };
    ASSERT_TRUE(waitUntil(10000, started));
    EXPECT_TRUE(procs.ownDescendant(daemon) && procs.ownDescendant(deep.pid));
    EXPECT_FALSE(procs.ownDescendant(::getppid()) || procs.ownDescendant(::getpid()));
    ASSERT_TRUE(visit(procs, daemon));
    EXPECT_NE(procs.kill(daemon), 0);   // the one the walk pinned: it would outlive the helper

    // Turned into another program between a walk's look and the first call about it, a process is not the one the
    // walk examined: nothing reaches it, whether that call pins it (as the scan's look at its parent does) or kills.
    for (Child* shell : {&deep, &late}) {
        platform::LinuxProcesses fresh;
        int killed = -1;
        fresh.walk([&](const platform::ProcessEntry& e) {
            if (e.pid != shell->pid)
                return true;
            EXPECT_TRUE(shell->type("exec /bin/sleep 600\n"));
            EXPECT_TRUE(waitUntil(10000, [&] { return shell->exe() == sleep; }));
            EXPECT_TRUE(shell == &deep || fresh.parent(e.pid) == 0);   // its pin holds no process
            killed = fresh.kill(e.pid);
            return false;
        });
        EXPECT_EQ(std::pair(killed, shell->running()), std::pair(0, true)) << shell->pid;
    }
}

TEST(LinuxProcesses, ReusedIdIsNotTheExaminedProcess)
{
    if (!qEnvironmentVariableIsSet("MIRVAK_PIDNS")) {
        // Only in a PID namespace of its own can the test choose the next id.
        QProcess inner;
        inner.start("env", {"MIRVAK_PIDNS=1", "unshare", "--pid", "--fork", "--mount-proc",
                            QCoreApplication::applicationFilePath(), "--gtest_filter=LinuxProcesses.ReusedIdIsNotTheExaminedProcess"});
        const QByteArray out = inner.waitForFinished(-1) ? inner.readAllStandardOutput() : "";
        if (!out.contains("[ RUN      ]"))
            GTEST_SKIP() << "no PID namespace here: " << out.toStdString();
        EXPECT_EQ(inner.exitCode(), 0) << out.toStdString();
        return;
    }
    QTemporaryDir tmp;
    const QByteArray dir = QFile::encodeName(tmp.path());
    // Held, the examined process stays pinned through a later walk.
    for (const bool held : {false, true}) {
        auto examined = std::make_optional<Child>(dir, "mv-examined");
        const pid_t id = examined->pid;
        platform::LinuxProcesses procs;
        ASSERT_TRUE(visit(procs, id));
        if (held) {
            procs.hold(id);
            visit(procs, 1);
        }
        examined.reset();
        QFile last("/proc/sys/kernel/ns_last_pid");
        ASSERT_TRUE(last.open(QIODevice::WriteOnly) && last.write(QByteArray::number(id - 1)) > 0 && last.flush());
        Child newcomer(dir, "mv-newcomer");
        ASSERT_EQ(newcomer.pid, id);
        // The kill first: no read since the walk has told the pin that its process ended.
        auto why = platform::KillFailure::None;
        EXPECT_EQ(std::pair(procs.kill(id, &why), why), std::pair(0, platform::KillFailure::Gone));
        EXPECT_TRUE(newcomer.running());
        EXPECT_TRUE(procs.path(id, 0).isEmpty() && !procs.launch(id));
    }
}

// Exec is quoted, then escaped as a string; the icon is the installed one. Off, every version's entry of this very
// program goes, and only those.
TEST(StartupEntry, WrittenWhenMissingAndOffRemovesOnlyThisProgramsEntries)
{
    for (const char* load : {"1", "0"}) {
        TestBed e;
        e.settings({{"startup_load", load}});
        mdSettings::getSettings(e.app);
        e.env.startup = e.path("config/autostart");
        e.program.dir = e.path("we \"ird $x %y\\z`");
        e.program.split = {{e.tmp.path(), e.tmp.path(), "/usr/share/mirvak"}};
        const QByteArray exec = "[Desktop Entry]\nExec=\"" + e.tmp.path().toUtf8() + "/we \\\\\"ird \\\\$x %%y\\\\\\\\z\\\\`/Mirvak";
        const std::vector<std::pair<const char*, QByteArray>> entries{{"Mirvak 1.8.desktop", exec + "\"\n"},
            {"Mirvak 1.7.desktop", exec + "\" --x\n"}, {"Mirvak 1.6.desktop", exec + "2\"\n"}, {"mine.desktop", exec + "\"\n"}};
        for (const auto& [name, text] : entries)
            e.write(QString("config/autostart/") + name, text);
        mdProcess::startupApp(e.app, *load == '1');
        const QStringList on{"Mirvak 1.6.desktop", "Mirvak 1.7.desktop", "Mirvak 1.8.desktop", "Mirvak 1.9.desktop", "mine.desktop"};
        EXPECT_EQ(QDir(e.env.startup).entryList(QDir::Files, QDir::Name), *load == '1' ? on : QStringList({on[0], on[4]}));
        const QByteArray dir = QString(e.program.dir).replace("\\", "\\\\").toUtf8();   // as TryExec and Path take it
        const QByteArray entry = e.read("config/autostart/Mirvak 1.9.desktop");
        EXPECT_TRUE(*load == '0' || entry.contains(exec.mid(16) + "\"\nTryExec=" + dir + "/Mirvak\nPath=" + dir + "\nIcon=/usr/share/mirvak/mirvak.png\n"))
            << entry.constData();
        EXPECT_FALSE(e.exists("error.log"));
    }
}

// A restarted program comes back with the same bytes of argv, folder and environment, argv[0] included.
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
    const QByteArray end("\0\n", 2);
    const QByteArray facts = launch.argv.join('\0') + end + launch.env->join('\0') + end + folder + '\n';
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
    ASSERT_EQ(read, launch);
    QFile(dir.filePath("go")).open(QIODevice::WriteOnly);
    shell.restart(exe, *read);
    EXPECT_EQ(report().second, facts);
}
