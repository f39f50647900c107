#pragma once
// Stand-ins for the platform services, and a fresh program folder per test.
#include "platform/Platform.h"
#include "platform/linux/LinuxServices.h"
#include "store/App.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>
#include <optional>
#include <stdexcept>
#include <vector>

struct FakeProcess {
    qint64 pid = 0;
    qint64 parentPid = 0;
    QString name;
    QString path;                                // empty: cannot be read, for the reason below
    platform::PathState missing = platform::PathState::Refused;
    QString args = platform::kArgsSentinel;      // what commandArgs() gives
    std::optional<platform::Launch> launch;      // what launch() gives
    bool killable = true;
    bool alive = true;
    QString owner = "ann";
};

class FakeProcesses : public platform::Processes {
public:
    std::vector<FakeProcess> table;
    std::vector<qint64> killed;   // every id a kill was asked for

    FakeProcess& add(qint64 pid, const QString& name, const QString& path = QString(), qint64 parent = 1)
    {
        FakeProcess p;
        p.pid = pid;
        p.parentPid = parent;
        p.name = name;
        p.path = path;
        table.push_back(p);
        return table.back();
    }
    FakeProcess* find(qint64 pid)
    {
        for (auto& p : table)
            if (p.pid == pid && p.alive)
                return &p;
        return nullptr;
    }
    void walk(const std::function<bool(const platform::ProcessEntry&)>& visit) override
    {
        for (const auto& p : table)
            if (p.alive && !visit({p.pid, p.name, 0, p.path.isEmpty() ? p.missing : platform::PathState::Read}))
                return;
    }
    QString path(qint64 pid, qint64) override { auto* p = find(pid); return p ? p->path : QString(); }
    QString commandArgs(qint64 pid) override { auto* p = find(pid); return p ? p->args : platform::kArgsSentinel; }
    std::optional<platform::Launch> launch(qint64 pid) override { auto* p = find(pid); return p ? p->launch : std::nullopt; }
    QString name(qint64 pid) override { auto* p = find(pid); return p ? p->name : QString(); }
    qint64 parent(qint64 pid) override { auto* p = find(pid); return p ? p->parentPid : 0; }
    QString owner(qint64 pid) override { auto* p = find(pid); return p ? p->owner : QString(); }
    QString exePath(qint64 pid) override { return path(pid, 0); }
    int kill(qint64 pid) override
    {
        killed.push_back(pid);
        auto* p = find(pid);
        if (!p || !p->killable)
            return 0;
        p->alive = false;
        return 1;
    }
};

// Real files in the test's folder; writes to chosen paths fail, as they do in a
// read-only folder for an ordinary user (tests run as root, too).
class FakeFiles : public platform::LinuxFiles {
public:
    QSet<QString> failWrites;
    QSet<QString> failRemoves;
    void writeBytes(const QString& path, const QByteArray& bytes, bool sync) override
    {
        if (failWrites.contains(QFileInfo(path).fileName()))
            throw std::runtime_error("Permission denied");
        LinuxFiles::writeBytes(path, bytes, sync);
    }
    void remove(const QString& path) override
    {
        if (failRemoves.contains(QFileInfo(path).fileName()))
            throw std::runtime_error("Permission denied");
        LinuxFiles::remove(path);
    }
};

class FakeEnvironment : public platform::Environment {
public:
    QHash<QString, QString> vars{{"ProgramFiles", "/opt"}, {"TMP", "/tmp"}, {"USERPROFILE", "/home/user"},
                                 {"SYSTEMDRIVE", ""}, {"SystemDrive", ""}, {"OS", "Linux"}};
    QString windows = "/usr";
    QString system = "/usr/bin";
    QString startup;
    QString windowsDirectory() override { return windows; }
    QString systemDirectory() override { return system; }
    QString variable(const QString& name) override { return vars.value(name); }
    QString startupFolder() override { return startup; }
};

class FakeShell : public platform::Shell {
public:
    QStringList opened;
    qsizetype openLimit = 131071;   // the longest argument Linux takes on 4 KiB pages
    bool canOpen(const QString& target) override { return target.toLocal8Bit().size() <= openLimit; }
    std::vector<std::pair<QString, platform::Launch>> started;
    void open(const QString& target) override { opened << target; }
    void restart(const QString& program, const platform::Launch& launch) override { started.emplace_back(program, launch); }
};

class FakeDesktop : public platform::Desktop {
public:
    QRect available{0, 0, 1024, 738};
    bool answer = false;
    int passes = 0;
    bool quitCalled = false;
    std::function<void()> onEvents;   // runs at each pass of pending events
    QRect screenGeometry() override { return {0, 0, 1024, 768}; }
    QRect availableGeometry() override { return available; }
    void processEvents() override
    {
        ++passes;
        if (onEvents)
            onEvents();
    }
    void startMove(QWidget*) override {}
    bool askYesNo(const QString&, const QString&) override { return answer; }
    void quit() override { quitCalled = true; }
};

class FakeProgram : public platform::Program {
public:
    QString dir;
    QString name = "Mirvak";
    bool lockFree = true;
    std::optional<Folders> split;   // an installed program's folders; none: all in dir
    Folders folders() override { return split.value_or(Folders{dir, dir, dir}); }
    QString exeName() override { return QFileInfo(name).completeBaseName(); }
    QString exePath() override { return dir + "/" + name; }
    int versionMajor() override { return 1; }
    int versionMinor() override { return 9; }
    int versionRevision() override { return 0; }
    QString productTitle() override { return "Mirvak Process Manager"; }
    QString description() override { return "Guard."; }
    bool takeInstanceLock() override { return lockFree; }
    void hideFromTaskList() override {}
};

// A program folder of its own with fake services around it.
struct TestBed {
    QTemporaryDir tmp;
    FakeProcesses processes;
    FakeFiles files;
    FakeEnvironment env;
    FakeShell shell;
    FakeDesktop desktop;
    FakeProgram program;
    App app{{processes, files, env, shell, desktop, program}};

    TestBed() { program.dir = tmp.path(); }

    QString path(const QString& name) const { return tmp.path() + "/" + name; }
    void write(const QString& name, const QByteArray& bytes) const
    {
        QFile f(path(name));
        QDir().mkpath(QFileInfo(f).absolutePath());
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
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
        QList<QPair<QString, QString>> keys{{"startup_load", "0"}, {"check_interval", "1"}, {"path_search", "0"},
            {"tmp_interval", "60"}, {"list_level", "1"}, {"safe_level", "0"}, {"clean_value", "0"},
            {"always_top", "0"}, {"web_search", "https://www.mirvak.example/lookup.php"}, {"error_log", "1"}};
        for (const auto& change : changes) {
            auto it = std::find_if(keys.begin(), keys.end(), [&](const auto& k) { return k.first == change.first; });
            if (it != keys.end())
                it->second = change.second;
            else
                keys << change;
        }
        QByteArray text;
        for (const auto& k : keys)
            text += (k.first + "=" + k.second + "\r\n").toUtf8();
        write("settings.ini", text);
    }
};
