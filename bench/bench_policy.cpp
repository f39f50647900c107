// SPDX-License-Identifier: GPL-3.0-or-later
// The administrator's records beside the user's: the tick with both against
// the tick with the user's alone, timed turn about in the same loop. And one
// event sent to the system journal, against the journal turned off.
#include "bench/RealServices.h"
#include "guard/Events.h"
#include "guard/Guard.h"
#include "platform/linux/LinuxJournal.h"
#include "store/mdLists.h"
#include "store/mdSettings.h"

#include <QDir>
#include <QFile>
#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int kRecords = 10000;

double cpuNow()
{
    timespec ts;
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

// A guard over the real table, every process on the user's allow list, and
// half of `kRecords` user records in each list that match nothing; with
// `system`, as many such records in allow.d and deny.d.
struct Site : RealServices {
    Guard guard{app};

    Site(int level, bool system)
    {
        write(tmp.path() + QStringLiteral("/settings.ini"),
              "startup_load=0\r\ncheck_interval=1\r\ntmp_interval=60\r\nlist_level=" + QByteArray::number(level)
                  + "\r\nsafe_level=0\r\npath_search=0\r\nclean_value=0\r\nalways_top=0\r\nerror_log=0\r\n");
        mdSettings::getSettings(app);
        guard.dirWindows = env.windowsDirectory();
        guard.dirSystem = env.systemDirectory();
        app.hashes.run = [](std::function<void()> task) { task(); };
        platform::LinuxProcesses table;
        table.walk([&](const platform::ProcessEntry& e) {
            app.allowTmp.add(guard.strProcess(e.exeName, table.path(e.pid, 0)));
            return true;
        });
        QByteArray allow;
        QByteArray deny;
        for (int i = 0; i < kRecords / 2; ++i) {
            const QString n = QStringLiteral("mv-user-%1").arg(i);
            app.allowTmp.add(n + QStringLiteral(".bin|/nowhere/") + n + QStringLiteral(".bin"));
            app.denyTmp.add(n + QStringLiteral(".exe|/nowhere/") + n + QStringLiteral(".exe"));
            const QByteArray s = "mv-site-" + QByteArray::number(i);
            allow += s + ".bin|/nowhere/" + s + ".bin\r\n";
            deny += s + ".exe|/nowhere/" + s + ".exe\r\n";
        }
        if (!system)
            return;
        program.policy = tmp.path() + QStringLiteral("/policy");
        write(program.policy + QStringLiteral("/allow.d/site.csv"), allow);
        write(program.policy + QStringLiteral("/deny.d/site.csv"), deny);
        write(program.policy + QStringLiteral("/policy.ini"), "user_may_deny=1\r\n");
        mdLists::reloadPolicy(app);
    }

    // What time_Timer does for the rules and the walk.
    void tick()
    {
        mdLists::reloadPolicy(app);
        guard.TakeProcesses();
    }

    // A process started meanwhile became the candidate: allowed, as the user would.
    void settle()
    {
        if (guard.waitTicks == 0 && !guard.alertUp)
            return;
        app.allowTmp.add(guard.appRecord);
        guard.waitTicks = 0;
        guard.dropAlert();
        guard.timerOff();
    }
};

void benchPolicyTick(benchmark::State& state, int level)
{
    Site user(level, false);
    Site both(level, true);
    if (both.app.policy.records() != kRecords)
        state.SkipWithError("the administrator's records were not read");
    double userSeconds = 0;
    double bothSeconds = 0;
    bool userFirst = true;
    for (auto _ : state) {
        Site& first = userFirst ? user : both;
        Site& second = userFirst ? both : user;
        const double t0 = cpuNow();
        first.tick();
        const double t1 = cpuNow();
        second.tick();
        const double t2 = cpuNow();
        userSeconds += userFirst ? t1 - t0 : t2 - t1;
        bothSeconds += userFirst ? t2 - t1 : t1 - t0;
        userFirst = !userFirst;
        state.PauseTiming();
        user.settle();
        both.settle();
        state.ResumeTiming();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["user_ms"] = userSeconds / n * 1e3;
    state.counters["both_ms"] = bothSeconds / n * 1e3;
    state.counters["x_user"] = userSeconds > 0 ? bothSeconds / userSeconds : 0;
}

// A socket at the journal's path, seen by this thread alone: a mount
// namespace of its own with a tmpfs over /run/systemd. -1 when it cannot be
// made (not root).
int journalSocket(QString& why)
{
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || ::mount("tmpfs", "/run/systemd", "tmpfs", 0, "mode=0755") != 0 || !QDir().mkpath("/run/systemd/journal")) {
        why = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    const int socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "/run/systemd/journal/socket");
    if (socket < 0 || ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        why = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    return socket;
}

// An end as the scan tells it, the parent and owner read when sent; sent
// through libsystemd and against the journal turned off, turn about.
void benchEvent(benchmark::State& state)
{
    QString why;
    const int socket = journalSocket(why);
    if (socket < 0) {
        state.SkipWithError(qPrintable("no journal socket of our own: " + why));
        return;
    }
    RealServices services;
    platform::LinuxJournal journal;
    services.app.settingList.add(QStringLiteral("1"), QStringLiteral("journal"));
    services.app.settingList.add(QStringLiteral("0"), QStringLiteral("error_log"));
    const events::Event ended{events::Kind::Ended,
                              QStringLiteral("tool"),
                              QStringLiteral("/opt/vendor/bin/tool"),
                              QStringLiteral("tool|2026.01.02 03:04|1.5K|/opt/vendor/bin/tool|sha256:")
                                  + QString(64, QLatin1Char('a')),
                              ::getpid(),
                              -1,
                              -1,
                              QStringLiteral("/etc/mirvak/deny.d/site.csv:12: tool|/opt/vendor/bin/tool"),
                              {}};
    double on = 0;
    double off = 0;
    qint64 received = 0;
    QByteArray datagram(65536, '\0');
    for (auto _ : state) {
        services.app.sys.journal = nullptr;
        const double t0 = cpuNow();
        events::send(services.app, ended);
        const double t1 = cpuNow();
        services.app.sys.journal = &journal;
        events::send(services.app, ended);
        const double t2 = cpuNow();
        off += t1 - t0;
        on += t2 - t1;
        state.PauseTiming();
        while (::recv(socket, datagram.data(), datagram.size(), 0) > 0)
            ++received;
        state.ResumeTiming();
    }
    ::close(socket);
    const double n = static_cast<double>(state.iterations());
    if (received != state.iterations() || services.app.journalMissingTold)
        state.SkipWithError("the events did not reach the socket");
    state.counters["event_us"] = (on - off) / n * 1e6;
    state.counters["off_us"] = off / n * 1e6;
}

} // namespace

BENCHMARK(benchEvent)->Name("events::send/journal-vs-off")->Unit(benchmark::kMicrosecond);

namespace {
[[maybe_unused]] const bool registered = [] {
    for (const int level : {0, 1, 2, 3, 4}) {
        const std::string name = "TakeProcesses/list_level:" + std::to_string(level) + "/10k-user-vs-+10k-system";
        benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& s) { benchPolicyTick(s, level); })
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}();
} // namespace
