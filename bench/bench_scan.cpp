// Cost of one walk over the process table, against the least that any walk
// must do: list /proc, read each exe link and stat() its file.
#include "guard/frmMain.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/LinuxServices.h"
#include "store/mdSettings.h"

#include <QApplication>
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

constexpr int kExtraProcesses = 400;
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
// of process entries listed.
int floorWalk()
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

    Scan()
    {
        program.dir = tmp.path();
        QFile settings(tmp.path() + QStringLiteral("/settings.ini"));
        if (settings.open(QIODevice::WriteOnly))
            settings.write("startup_load=0\r\ncheck_interval=1\r\ntmp_interval=60\r\nlist_level=1\r\n"
                           "safe_level=0\r\npath_search=0\r\nclean_value=0\r\nalways_top=0\r\nerror_log=0\r\n");
        settings.close();
        mdSettings::getSettings(app);
        main = std::make_unique<frmMain>(app);
        main->dirWindows = env.windowsDirectory();
        main->dirSystem = env.systemDirectory();
    }

    // Every running process on the allow list, so the walk reaches the end.
    void allowAll()
    {
        app.allowTmp = Collection();
        app.denyTmp = Collection();
        platform::LinuxProcesses table;
        table.walk([&](const platform::ProcessEntry& e) {
            app.allowTmp.add(main->strProcess(e.exeName, table.path(e.pid, 0)));
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

struct Context {
    double floorSeconds = 0;   // CPU time of one floor walk, median
};

void report(benchmark::State& state, const Context& ctx, double seconds, double processes)
{
    const double perWalk = seconds / static_cast<double>(state.iterations());
    state.counters["processes"] = processes;
    state.counters["us_per_process"] = processes > 0 ? perWalk * 1e6 / processes : 0;
    state.counters["x_floor"] = ctx.floorSeconds > 0 ? perWalk / ctx.floorSeconds : 0;
}

void benchFloor(benchmark::State& state, const Context& ctx)
{
    double seconds = 0;
    int processes = 0;
    for (auto _ : state) {
        const double t0 = cpuNow();
        processes = floorWalk();
        seconds += cpuNow() - t0;
    }
    report(state, ctx, seconds, processes);
}

void benchWalk(benchmark::State& state, const Context& ctx, bool withPath)
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
    report(state, ctx, seconds, processes);
}

void benchTakeProcesses(benchmark::State& state, const Context& ctx, int extraRecords)
{
    Scan scan;
    scan.allowAll();
    scan.addUnmatched(extraRecords);
    double seconds = 0;
    double visits = 0;
    int candidates = 0;
    for (auto _ : state) {
        scan.processes.visits = 0;
        const double t0 = cpuNow();
        scan.main->TakeProcesses();
        seconds += cpuNow() - t0;
        visits += scan.processes.visits;
        if (scan.main->waitTicks > 0 || scan.main->isVisible()) {
            // A process started meanwhile became the candidate: allow it and
            // walk on, as the user would.
            state.PauseTiming();
            ++candidates;
            scan.app.allowTmp.add(scan.main->appRecord);
            scan.main->waitTicks = 0;
            scan.main->hide();
            scan.main->timerOff();
            state.ResumeTiming();
        }
    }
    report(state, ctx, seconds, visits / static_cast<double>(state.iterations()));
    state.counters["candidates"] = candidates;
}

} // namespace

int main(int argc, char** argv)
{
    // The one entry point of all benchmarks. Children first: forking before
    // Qt starts its threads.
    Sleepers sleepers(kExtraProcesses);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    Context ctx;
    std::vector<double> samples;
    for (int i = 0; i < 101; ++i) {
        const double t0 = cpuNow();
        floorWalk();
        samples.push_back(cpuNow() - t0);
    }
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    ctx.floorSeconds = samples[samples.size() / 2];

    benchmark::RegisterBenchmark("floor/list+readlink+stat", [&](benchmark::State& s) { benchFloor(s, ctx); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("LinuxProcesses::walk", [&](benchmark::State& s) { benchWalk(s, ctx, false); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("LinuxProcesses::walk+path", [&](benchmark::State& s) { benchWalk(s, ctx, true); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("TakeProcesses/all-allowed",
                                 [&](benchmark::State& s) { benchTakeProcesses(s, ctx, 0); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("TakeProcesses/all-allowed+10k-records",
                                 [&](benchmark::State& s) { benchTakeProcesses(s, ctx, kExtraRecords); })
        ->Unit(benchmark::kMillisecond);

    benchmark::Initialize(&argc, argv);
    std::printf("extra processes: %d, floor walk (median CPU time): %.3f ms\n", sleepers.count(), ctx.floorSeconds * 1e3);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
