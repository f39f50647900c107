// SPDX-License-Identifier: GPL-3.0-or-later
// What the exec gate adds to an exec of an allowed program by a guarded user,
// with 10,000 records in each list, at list_level 1 and 4 (the hash cached):
// vfork, exec and reap of a copy of true on the marked tmpfs against the same
// on an unmarked one, interleaved in the same run. Needs root; each level runs
// in a mount and PID namespace of its own.
#include "gate/ExecRecord.h"
#include "platform/linux/LinuxExecFiles.h"
#include "tests/GateHarness.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Microseconds from vfork to reap of `path`, in a child of one thread that
// runs as the guard's user: vfork copies no page tables, so the exec's own
// cost, not the copy of this large process, is what is timed.
double execOnce(const char* path)
{
    const auto start = Clock::now();
    const pid_t child = ::vfork();
    if (child == 0) {
        char* const argv[] = {const_cast<char*>(path), nullptr};
        ::execve(path, argv, environ);
        ::_exit(121);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// `rounds` interleaved execs of `marked` and `plain` as the guard's user; the
// times in pairs, or nothing when one failed.
std::vector<double> execPairs(const char* marked, const char* plain, int rounds)
{
    // The runner writes its times straight into memory it shares with this process.
    const std::size_t size = std::size_t(rounds) * 2 * sizeof(double);
    void* shared = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED)
        return {};
    auto* times = static_cast<double*>(shared);
    const pid_t runner = ::fork();
    if (runner == 0) {
        const gid_t group = gateharness::kGuardUser;
        if (::setgroups(1, &group) != 0 || ::setresgid(group, group, group) != 0
            || ::setresuid(gateharness::kGuardUser, gateharness::kGuardUser, gateharness::kGuardUser) != 0)
            ::_exit(120);
        for (int i = 0; i < rounds; ++i) {
            times[2 * i] = execOnce(marked);
            times[2 * i + 1] = execOnce(plain);
        }
        ::_exit(0);
    }
    int status = 0;
    const bool ran = runner > 0 && ::waitpid(runner, &status, 0) == runner && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::vector<double> out(times, times + 2 * rounds);
    ::munmap(shared, size);
    if (!ran || std::ranges::count(out, -1.0) > 0)
        return {};
    return out;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QString recordOf(const QString& path, int level)
{
    platform::LinuxExecFiles files;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const auto facts = files.facts(fd);
    ::close(fd);
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QString hex = QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
    return execRecord(level, execName(path), *facts, QTimeZone::systemTimeZone(), hex);
}

void BM_GateExecAllowed(benchmark::State& state)
{
    const int level = int(state.range(0));
    const auto outcome = gateharness::runInNamespace(
        {QCoreApplication::applicationFilePath(), QStringLiteral("--benchmark_filter=^BM_GateExecAllowed/%1/").arg(level)});
    if (!outcome.inside) {
        std::printf("%s\n", qPrintable(outcome.output));
        state.SkipWithError(outcome.skipped.isEmpty() ? "measured in a namespace of its own: see above"
                                                      : qPrintable(outcome.skipped));
        for (auto _ : state) {
        }
        return;
    }
    gateharness::Rig rig;
    if (!rig.ready()) {
        state.SkipWithError(qPrintable(rig.error));
        return;
    }
    const QString marked = rig.program(QStringLiteral("fast"));
    const QString plain = rig.program(QStringLiteral("fast"), false);
    QFile::remove(marked);
    QFile::remove(plain);
    QFile::copy(QStringLiteral("/usr/bin/true"), marked);
    QFile::copy(QStringLiteral("/usr/bin/true"), plain);
    gateharness::Rig::Guard guard;
    guard.listLevel = level;
    guard.safe = true;
    const QString filler = level > 3 ? QStringLiteral("prog%1|2024.01.01 0:00|1K|/usr/lib/some/prog%1|sha256:") + QString(64, QLatin1Char('0'))
                                     : QStringLiteral("prog%1|/usr/lib/some/prog%1");
    for (int i = 0; i < 10000; ++i) {
        guard.allow.append(filler.arg(i));
        guard.deny.append(filler.arg(i + 10000));
    }
    guard.allow.append(recordOf(marked, level));
    if (!rig.startGuard(guard)) {
        state.SkipWithError("the guard did not connect");
        return;
    }
    const QByteArray markedPath = QFile::encodeName(marked);
    const QByteArray plainPath = QFile::encodeName(plain);
    execPairs(markedPath.constData(), plainPath.constData(), 50);
    std::vector<double> onMarked, onPlain;
    for (auto _ : state) {
        const std::vector<double> times = execPairs(markedPath.constData(), plainPath.constData(), 2000);
        if (times.empty()) {
            state.SkipWithError("an exec failed");
            return;
        }
        for (std::size_t i = 0; i < times.size(); i += 2) {
            onMarked.push_back(times[i]);
            onPlain.push_back(times[i + 1]);
        }
    }
    const double added = median(onMarked) - median(onPlain);
    state.counters["marked_us"] = median(onMarked);
    state.counters["unmarked_us"] = median(onPlain);
    state.counters["added_us"] = added;
    std::printf("list_level %d: exec %.1f us marked, %.1f us unmarked: the gate adds %.1f us (target at most 100)\n",
                level, median(onMarked), median(onPlain), added);
}

} // namespace

BENCHMARK(BM_GateExecAllowed)->Arg(1)->Arg(4)->Iterations(1)->Unit(benchmark::kMillisecond);
