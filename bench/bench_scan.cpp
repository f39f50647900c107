// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of one walk over the process table, against the least that any walk
// must do: list /proc, read each exe link and stat() its file.
#include "guard/frmMain.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/LinuxFiles.h"
#include "platform/linux/LinuxEnvironment.h"
#include "platform/linux/LinuxShell.h"
#include "platform/linux/LinuxDesktop.h"
#include "platform/linux/LinuxProgram.h"
#include "store/mdSettings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <functional>
#include <vector>

namespace {

// This thread's CPU time, system calls included: steadier than the wall
// clock on a machine that others load.
double cpuNow()
{
    timespec ts;
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

constexpr int kExtraRecords = 10000;

// Copies of sleep, so the table holds a few hundred more processes.
class Sleepers {
public:
    explicit Sleepers(int count)
    {
        const QString exe = dir_.path() + QStringLiteral("/mv-bench-sleep");
        QFile::copy(QFileInfo(QStringLiteral("/bin/sleep")).canonicalFilePath(), exe);
        QFile(exe).setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QByteArray path = QFile::encodeName(exe);
        QByteArray seconds("3600");
        char* argv[] = {path.data(), seconds.data(), nullptr};
        const pid_t parent = ::getpid();
        for (int i = 0; i < count; ++i) {
            int ready[2];
            if (::pipe2(ready, O_CLOEXEC) != 0)
                break;
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);   // never outlive a crashed benchmark
                if (::getppid() != parent)
                    ::_exit(0);
                ::execv(argv[0], argv);
                ::_exit(127);
            }
            ::close(ready[1]);
            char c;
            while (::read(ready[0], &c, 1) < 0 && errno == EINTR) {
            }
            ::close(ready[0]);
            if (pid > 0)
                pids_.push_back(pid);
        }
    }
    ~Sleepers()
    {
        for (const pid_t pid : pids_)
            ::kill(pid, SIGKILL);
        for (const pid_t pid : pids_)
            ::waitpid(pid, nullptr, 0);
    }
    Sleepers(const Sleepers&) = delete;
    Sleepers& operator=(const Sleepers&) = delete;
    int count() const { return static_cast<int>(pids_.size()); }

private:
    QTemporaryDir dir_;
    std::vector<pid_t> pids_;
};

// The floor: list /proc, readlink each exe, stat() the file. Gives the number
// of process entries listed. `throughLink` stats the exe link instead: what
// level 4 must pay to learn what runs rather than what the path holds now.
int floorWalk(bool throughLink = false)
{
    const int proc = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (proc < 0)
        return 0;
    alignas(dirent64) char entries[16384];
    char link[PATH_MAX + 1];
    char name[NAME_MAX + 8];
    int processes = 0;
    ssize_t bytes;
    while ((bytes = ::getdents64(proc, entries, sizeof entries)) > 0) {
        for (ssize_t at = 0; at < bytes;) {
            const auto* d = reinterpret_cast<const dirent64*>(entries + at);
            at += d->d_reclen;
            if (d->d_name[0] < '1' || d->d_name[0] > '9')
                continue;
            ++processes;
            std::snprintf(name, sizeof name, "%s/exe", d->d_name);
            const ssize_t n = ::readlinkat(proc, name, link, sizeof link - 1);
            if (n <= 0)
                continue;
            link[n] = '\0';
            struct stat st;
            if (throughLink)
                benchmark::DoNotOptimize(::fstatat(proc, name, &st, 0));
            else
                benchmark::DoNotOptimize(::stat(link, &st));
        }
    }
    ::close(proc);
    return processes;
}

// Counts what the scan visits, so a walk that ends early shows.
class CountingProcesses : public platform::LinuxProcesses {
public:
    int visits = 0;
    void walk(const std::function<bool(const platform::ProcessEntry&)>& visit) override
    {
        LinuxProcesses::walk([&](const platform::ProcessEntry& e) {
            ++visits;
            return visit(e);
        });
    }
};

class BenchProgram : public platform::LinuxProgram {
public:
    QString dir;
    Folders folders() override { return {dir, dir, dir}; }
};

// The real services around a program folder of its own.
struct Scan {
    QTemporaryDir tmp;
    CountingProcesses processes;
    platform::LinuxFiles files;
    platform::LinuxEnvironment env;
    platform::LinuxShell shell;
    platform::LinuxDesktop desktop;
    BenchProgram program;
    App app{{processes, files, env, shell, desktop, program}};
    std::unique_ptr<frmMain> main;

    explicit Scan(int level)
    {
        program.dir = tmp.path();
        QFile settings(tmp.path() + QStringLiteral("/settings.ini"));
        if (settings.open(QIODevice::WriteOnly))
            settings.write("startup_load=0\r\ncheck_interval=1\r\ntmp_interval=60\r\nlist_level=" + QByteArray::number(level)
                           + "\r\nsafe_level=0\r\npath_search=0\r\nclean_value=0\r\nalways_top=0\r\nerror_log=0\r\n");
        settings.close();
        mdSettings::getSettings(app);
        main = std::make_unique<frmMain>(app);
        main->guard.dirWindows = env.windowsDirectory();
        main->guard.dirSystem = env.systemDirectory();
    }

    // Every running process on the allow list, so the walk reaches the end.
    // Hashes are computed here, at once: the ticks find the cache warm.
    void allowAll()
    {
        app.hashes.run = [](std::function<void()> task) { task(); };
        app.allowTmp = Collection();
        app.denyTmp = Collection();
        platform::LinuxProcesses table;
        table.walk([&](const platform::ProcessEntry& e) {
            app.allowTmp.add(main->guard.strProcess(e.exeName, table.path(e.pid, 0)));
            return true;
        });
    }

    void addUnmatched(int count)
    {
        for (int i = 0; i < count; ++i) {
            const QString n = QStringLiteral("mv-none-%1").arg(i);
            app.allowTmp.add(n + QStringLiteral(".bin|/nowhere/") + n + QStringLiteral(".bin"));
            app.denyTmp.add(n + QStringLiteral(".exe|/nowhere/") + n + QStringLiteral(".exe"));
        }
    }
};

void report(benchmark::State& state, double seconds, double processes)
{
    const double perWalk = seconds / static_cast<double>(state.iterations());
    state.counters["processes"] = processes;
    state.counters["us_per_process"] = processes > 0 ? perWalk * 1e6 / processes : 0;
}

void benchFloor(benchmark::State& state)
{
    double seconds = 0;
    int processes = 0;
    for (auto _ : state) {
        const double t0 = cpuNow();
        processes = floorWalk();
        seconds += cpuNow() - t0;
    }
    report(state, seconds, processes);
}

// Runs `a` and `b` once each, `a` first when told, and adds the CPU time of
// each to its own sum: turn about, whatever else loads the machine weighs on
// both alike.
void turnAbout(bool aFirst, const std::function<void()>& a, const std::function<void()>& b, double& aTime, double& bTime)
{
    const double t0 = cpuNow();
    (aFirst ? a : b)();
    const double t1 = cpuNow();
    (aFirst ? b : a)();
    const double t2 = cpuNow();
    aTime += aFirst ? t1 - t0 : t2 - t1;
    bTime += aFirst ? t2 - t1 : t1 - t0;
}

// The floor with each stat() taken through the exe link, against the floor.
void benchLinkFloor(benchmark::State& state)
{
    double link = 0;
    double floor = 0;
    bool linkFirst = true;
    for (auto _ : state) {
        turnAbout(linkFirst, [] { floorWalk(true); }, [] { floorWalk(); }, link, floor);
        linkFirst = !linkFirst;
    }
    state.counters["x_floor"] = floor > 0 ? link / floor : 0;
}

void benchWalk(benchmark::State& state, bool withPath)
{
    platform::LinuxProcesses procs;
    double seconds = 0;
    int processes = 0;
    for (auto _ : state) {
        processes = 0;
        const double t0 = cpuNow();
        procs.walk([&](const platform::ProcessEntry& e) {
            ++processes;
            if (withPath)
                benchmark::DoNotOptimize(procs.path(e.pid, e.moduleId));
            return true;
        });
        seconds += cpuNow() - t0;
    }
    report(state, seconds, processes);
}

// A process started meanwhile became the candidate: allow it and walk on,
// as the user would. True when there was one.
bool settle(Scan& scan)
{
    if (scan.main->guard.waitTicks == 0 && !scan.main->isVisible())
        return false;
    scan.app.allowTmp.add(scan.main->guard.appRecord);
    scan.main->guard.waitTicks = 0;
    scan.main->hide();
    scan.main->guard.timerOff();
    return true;
}

// One tick against the floor, both timed in the same loop, turn about.
void benchTick(benchmark::State& state, int level, int extraRecords)
{
    Scan scan(level);
    scan.allowAll();
    scan.addUnmatched(extraRecords);
    double tick = 0;
    double floor = 0;
    double visits = 0;
    int candidates = 0;
    bool floorFirst = true;
    for (auto _ : state) {
        scan.processes.visits = 0;
        turnAbout(floorFirst, [] { floorWalk(); }, [&scan] { scan.main->guard.TakeProcesses(); }, floor, tick);
        floorFirst = !floorFirst;
        visits += scan.processes.visits;
        state.PauseTiming();
        candidates += settle(scan);
        state.ResumeTiming();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["processes"] = visits / n;
    state.counters["tick_ms"] = tick / n * 1e3;
    state.counters["floor_ms"] = floor / n * 1e3;
    state.counters["x_floor"] = floor > 0 ? tick / floor : 0;
    state.counters["candidates"] = candidates;
}

double processNow()
{
    timespec ts;
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// CPU time of this process over the wall time, in percent of one core, while
// the event loop runs `tick` once a second for `seconds`.
double idlePercent(int seconds, const std::function<void()>& tick)
{
    QTimer timer;
    timer.setInterval(1000);
    QObject::connect(&timer, &QTimer::timeout, tick);
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    const double cpu0 = processNow();
    QElapsedTimer wall;
    wall.start();
    timer.start();
    loop.exec();
    return (processNow() - cpu0) / (static_cast<double>(wall.nsecsElapsed()) * 1e-9) * 100;
}

struct Idle {
    double percent = 0;        // the guard's own timer at check_interval 1
    double floorPercent = 0;   // the floor walk, once a second in the same loop
    int candidates = 0;
};

// The guard idling with every process allowed, in the real event loop,
// against the floor walk done at the same rate. A process that starts
// meanwhile is allowed at once, as the user would, and counted.
Idle idleCpu(int seconds)
{
    Idle idle;
    Scan scan(1);
    scan.allowAll();
    scan.addUnmatched(kExtraRecords);
    idle.floorPercent = idlePercent(seconds, [] { floorWalk(); });
    idle.percent = idlePercent(seconds, [&] {
        scan.main->guard.time_Timer();
        idle.candidates += settle(scan);
    });
    return idle;
}

} // namespace

int main(int argc, char** argv)
{
    // The one entry point of all benchmarks. Children first: forking before
    // Qt starts its threads.
    // MIRVAK_BENCH_PROCESSES sets how many (400 unless told); the tick is
    // compared with the floor at 100, 400 and 4000.
    const int extra = qEnvironmentVariableIsSet("MIRVAK_BENCH_PROCESSES") ? qEnvironmentVariableIntValue("MIRVAK_BENCH_PROCESSES") : 400;
    Sleepers sleepers(extra);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    benchmark::RegisterBenchmark("floor/list+readlink+stat", benchFloor)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("floor/list+readlink+stat-through-exe-link", benchLinkFloor)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("LinuxProcesses::walk", [](benchmark::State& s) { benchWalk(s, false); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("LinuxProcesses::walk+path", [](benchmark::State& s) { benchWalk(s, true); })
        ->Unit(benchmark::kMillisecond);
    for (const int level : {1, 3, 4}) {
        for (const int records : {0, kExtraRecords}) {
            if (level == 4 && records)
                continue;   // the records cost at level 4 what they cost at 3
            const std::string name = "TakeProcesses/list_level:" + std::to_string(level)
                                     + (records ? "/all-allowed+10k-records" : "/all-allowed");
            benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& s) { benchTick(s, level, records); })
                ->Unit(benchmark::kMillisecond);
        }
    }

    benchmark::Initialize(&argc, argv);
    std::printf("extra processes: %d\n", sleepers.count());
    benchmark::RunSpecifiedBenchmarks();
    // MIRVAK_IDLE_SECONDS=0 leaves the idle measure out.
    const int seconds = qEnvironmentVariableIsSet("MIRVAK_IDLE_SECONDS") ? qEnvironmentVariableIntValue("MIRVAK_IDLE_SECONDS") : 30;
    if (seconds > 0) {
        const Idle idle = idleCpu(seconds);
        std::printf("idle CPU at check_interval 1 over %d s: %.3f %% of a core (floor walk at the same rate: "
                    "%.3f %%; %d new processes allowed meanwhile)\n",
                    seconds, idle.percent, idle.floorPercent, idle.candidates);
    }
    benchmark::Shutdown();
    return 0;
}
