// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Stand-ins for the platform services, and a fresh program folder per test.
#include "platform/Platform.h"
#include "platform/linux/LinuxFiles.h"
#include "platform/linux/LinuxProgram.h"
#include "platform/linux/LinuxShell.h"
#include "store/App.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

struct FakeProcess {
    qint64 pid = 0, parentPid = 0;
    QString name, path;                          // path empty: cannot be read, for the reason below
    platform::PathState missing = platform::PathState::Refused;
    std::optional<platform::Launch> launch{};    // what launch() gives
    bool killable = true, alive = true;
    bool execed = false;                         // runs another executable since it was examined; told once
    QString owner = "ann";
    qint64 uid = 1000;
};

class FakeProcesses : public platform::Processes {
public:
    std::vector<FakeProcess> table;
    std::vector<qint64> killed;   // every id a kill was asked for
    qint64 self = 0;              // the guard's own id, when its descendants are in the table

    FakeProcess& add(qint64 pid, const QString& name, const QString& path = QString(), qint64 parent = 1)
    {
        return table.emplace_back(FakeProcess{pid, parent, name, path});
    }
    FakeProcess* find(qint64 pid)
    {
        auto it = std::ranges::find_if(table, [&](auto& p) { return p.pid == pid && p.alive; });
        return it == table.end() ? nullptr : &*it;
    }
    void walk(const std::function<bool(const platform::ProcessEntry&)>& visit) override
    {
        for (const auto& p : table)
            if (p.alive && !visit({p.pid, p.name, 0, p.path.isEmpty() ? p.missing : platform::PathState::Read}))
                return;
    }
    QString path(qint64 pid, qint64) override { auto* p = find(pid); return p ? p->path : QString(); }
    std::optional<platform::Launch> launch(qint64 pid) override { auto* p = find(pid); return p ? p->launch : std::nullopt; }
    QString name(qint64 pid) override { auto* p = find(pid); return p ? p->name : QString(); }
    qint64 parent(qint64 pid) override { auto* p = find(pid); return p ? p->parentPid : 0; }
    QString owner(qint64 pid) override { auto* p = find(pid); return p ? p->owner : QString(); }
    qint64 ownerId(qint64 pid) override { auto* p = find(pid); return p ? p->uid : -1; }
    QString exePath(qint64 pid) override { return path(pid, 0); }
    bool ownDescendant(qint64 pid) override
    {
        std::size_t n = 0;
        for (auto* p = find(pid); p && self != 0 && n++ < table.size(); p = find(p->parentPid))
            if (p->parentPid == self)
                return true;
        return false;
    }
    bool replaced(qint64 pid) override
    {
        auto* p = find(pid);
        return p && std::exchange(p->execed, false);
    }
    int kill(qint64 pid, platform::KillFailure* why = nullptr) override
    {
        killed.push_back(pid);
        auto* p = find(pid);
        if (p && p->killable)
            return p->alive = false, 1;
        if (why)
            *why = p ? platform::KillFailure::Refused : platform::KillFailure::Gone;
        return 0;
    }
};

// Real files; writes to chosen names fail, as in a read-only folder for an ordinary user (tests run as root),
// and reads too, as for a file of another owner.
class FakeFiles : public platform::LinuxFiles {
public:
    QSet<QString> failWrites, failRemoves, failReads;
    static void fail(const QSet<QString>& names, const QString& path)
    {
        if (names.contains(QFileInfo(path).fileName()))
            throw std::runtime_error("Permission denied");
    }
    void writeBytes(const QString& path, const QByteArray& b, bool sync) override
    {
        fail(failWrites, path), LinuxFiles::writeBytes(path, b, sync);
    }
    void remove(const QString& path) override { fail(failRemoves, path), LinuxFiles::remove(path); }
    std::optional<QByteArray> readBytes(const QString& path) override { return fail(failReads, path), LinuxFiles::readBytes(path); }
    // The fake processes run the files at their paths.
    std::optional<Facts> lookRunning(qint64, const QString& path, bool dated) override { return look(path, dated); }
    std::optional<QByteArray> sha256(qint64, const QString& path, const Facts& version, const std::atomic_bool* cancel) override
    {
        return LinuxFiles::sha256(0, path, version, cancel);
    }
    // Folders listed, each in name order; "/" fails, so that no test walks the whole disk.
    QStringList listed;
    std::vector<Entry> list(const QString& folder) override
    {
        listed << folder;
        if (folder == "/")
            throw std::runtime_error("Permission denied");
        auto entries = LinuxFiles::list(folder);
        return std::ranges::sort(entries, {}, &Entry::name), entries;
    }
};

class FakeEnvironment : public platform::Environment {
public:
    QHash<QString, QString> vars{{"ProgramFiles", "/opt"}, {"TMP", "/tmp"}, {"USERPROFILE", "/home/user"},
                                 {"SYSTEMDRIVE", ""}, {"SystemDrive", ""}, {"OS", "Linux"}};
    QString startup;
    QString windowsDirectory() override { return "/usr"; }
    QString systemDirectory() override { return "/usr/bin"; }
    QString variable(const QString& name) override { return vars.value(name); }
    QString startupFolder() override { return startup; }
};

class FakeShell : public platform::Shell {
public:
    QStringList opened;
    std::vector<std::pair<QString, platform::Launch>> started;
    bool handler = true;   // an application is set for every type
    // The longest argument Linux takes on 4 KiB pages.
    bool canOpen(const QString& target) override { return target.toLocal8Bit().size() <= 131071; }
    bool open(const QString& target) override { opened << target; return handler; }
    void restart(const QString& program, const platform::Launch& launch) override { started.emplace_back(program, launch); }
};

class FakeDesktop : public platform::Desktop {
public:
    QRect available{0, 0, 1024, 738}, tray;
    bool answer = false, quitCalled = false;
    int passes = 0;
    std::function<void()> onEvents;   // runs at each pass of pending events
    QRect screenGeometry() override { return {0, 0, 1024, 768}; }
    QRect availableGeometry() override { return available; }
    QRect trayGeometry() override { return tray; }
    qint64 clock = 0;
    qint64 clockMs() override { return clock; }
    void processEvents() override { ++passes, onEvents ? onEvents() : void(); }
    void startMove(QWidget*) override {}
    QStringList asked;   // questions and messages, in order
    QString picked;      // what pickFile gives
    bool askYesNo(const QString&, const QString& text) override { return asked << text, answer; }
    void message(const QString&, const QString& text) override { asked << text; }
    QString pickFile(const QString&, const QString&) override { return picked; }
    void quit() override { quitCalled = true; }
};

class FakeProgram : public platform::Program {
public:
    QString dir, name = "Mirvak";
    bool lockFree = true;
    std::optional<Folders> split;   // an installed program's folders; none: all in dir
    QString policy;                 // the administrator's folder; empty: none
    Folders folders() override { return split.value_or(Folders{dir, dir, dir, policy}); }
    QString exeName() override { return QFileInfo(name).completeBaseName(); }
    QString exePath() override { return dir + "/" + name; }
    int versionMajor() override { return 1; }
    int versionMinor() override { return 9; }
    int versionRevision() override { return 0; }
    QString productTitle() override { return "Mirvak Process Manager"; }
    QString description() override { return "Guard."; }
    bool takeInstanceLock() override { return lockFree; }
    bool otherCopyRuns() override { return !lockFree; }
    void hideFromTaskList() override {}
    unsigned uid = 1000;
    unsigned userId() override { return uid; }
};

// Keeps each entry; `running` false: no journal takes them.
class FakeJournal : public platform::Journal {
public:
    std::vector<QHash<QByteArray, QByteArray>> entries;
    bool running = true;
    bool send(const std::vector<Field>& fields, QString* why) override
    {
        if (!running)
            return *why = "No such file or directory", false;
        entries.emplace_back(fields.begin(), fields.end());
        return true;
    }
    // The values of one field, entry by entry, where it is there.
    QByteArrayList field(const QByteArray& name) const
    {
        QByteArrayList values;
        for (const auto& entry : entries)
            if (entry.contains(name))
                values << entry.value(name);
        return values;
    }
};

// Keeps each notice as "title: text".
class FakeNotices : public platform::Notices {
public:
    QStringList sent;
    void send(const QString& title, const QString& text) override { sent << title + ": " + text; }
};

struct TestBed {
    QTemporaryDir tmp;
    FakeProcesses processes;
    FakeFiles files;
    FakeEnvironment env;
    FakeShell shell;
    FakeDesktop desktop;
    FakeProgram program;
    FakeJournal journal;
    App app{{processes, files, env, shell, desktop, program, &journal}};

    TestBed() { program.dir = tmp.path(); }
    QString path(const QString& name) const { return tmp.path() + "/" + name; }
    void write(const QString& name, const QByteArray& bytes) const
    {
        QFile f(path(name));
        QDir().mkpath(QFileInfo(f).absolutePath()), f.open(QIODevice::WriteOnly), f.write(bytes);
    }
    QByteArray read(const QString& name) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool exists(const QString& name) const { return QFile::exists(path(name)); }
    // A settings file with error logging on; `changes` replace or add keys.
    void settings(const QList<QPair<QString, QString>>& changes = {})
    {
        QString text = "startup_load=0\ncheck_interval=1\npath_search=0\ntmp_interval=60\nlist_level=1\nsafe_level=0\n"
                       "clean_value=0\nalways_top=0\nweb_search=https://www.mirvak.example/lookup.php\nerror_log=1\n";
        for (const auto& [key, value] : changes)
            text.remove(QRegularExpression("(?m)^" + key + "=.*\n")) += key + "=" + value + "\n";
        write("settings.ini", text.replace("\n", "\r\n").toUtf8());
    }
};

// Runs `test` of this binary again in a child on the X display, with `env` added; the child's exit code.
inline int rerunOnDisplay(const QString& test, const QList<QPair<QString, QString>>& env)
{
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const auto& [key, value] : env)
        e.insert(key, value);
    e.insert("QT_QPA_PLATFORM", "xcb");
    QProcess child;
    child.setProcessEnvironment(e);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=" + test});
    return child.waitForFinished(120000) ? child.exitCode() : -1;
}

// Polls `done` every `step` ms until it holds or `ms` have passed.
inline bool waitUntil(int ms, const std::function<bool()>& done, int step = 10)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QThread::msleep(step);
    return done();
}

// A real child of the test, reading its input from a pipe the test holds. It enters `dirs` one by one before it
// starts, so that its folder may be deeper than a path can name.
struct Spawned {
    pid_t pid = -1;
    int input[2] = {-1, -1};
    explicit Spawned(QByteArrayList argv, const QByteArrayList& dirs = {})
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (const QByteArray& dir : dirs)
            posix_spawn_file_actions_addchdir_np(&actions, dir.constData());
        std::vector<char*> args;
        for (QByteArray& arg : argv)
            args.push_back(arg.data());
        args.push_back(nullptr);
        if (::pipe2(input, O_CLOEXEC) != 0 || posix_spawn_file_actions_adddup2(&actions, input[0], 0) != 0
            || ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Spawned()
    {
        if (pid > 0 && ::kill(pid, SIGKILL) == 0)
            ::waitpid(pid, nullptr, 0);
        ::close(input[0]);
        ::close(input[1]);
    }
    bool running() const { return pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0; }
    QString exe() const { return QFileInfo(QString("/proc/%1/exe").arg(pid)).symLinkTarget(); }
    bool type(const QByteArray& text) const { return ::write(input[1], text.data(), text.size()) == text.size(); }
};

// A guard, or the window that holds one, over two programs whose bytes are their names:
// tool (pid 10, parent 4) and other (pid 11).
template <typename Guarded>
struct TwoPrograms {
    TestBed t;
    Guarded m{t.app};
    QString tool = exe("tool");
    QString other = exe("other");

    QString exe(const QString& name)
    {
        t.write("bin/" + name, name.toUtf8());
        return t.path("bin/" + name);
    }
    static QByteArray record(const QString& path) { return (QFileInfo(path).fileName() + "|" + path).toUtf8(); }
    void start(const QByteArray& allow, const QByteArray& deny, const QList<QPair<QString, QString>>& settings = {})
    {
        t.settings(settings);
        t.write("allow.csv", allow);
        t.write("deny.csv", deny);
        t.processes.add(10, "tool", tool, 4);
        t.processes.add(11, "other", other);
        ASSERT_EQ(m.Form_Load(), Guarded::Start::Running);
    }
    bool killed(qint64 pid) const { return std::ranges::count(t.processes.killed, pid) > 0; }
};
