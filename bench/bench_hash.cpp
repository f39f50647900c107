// SPDX-License-Identifier: GPL-3.0-or-later
// The SHA-256 cache at list_level 4: what the first sight of a large new
// executable costs the tick (the hash itself runs on the worker), the
// memory that 1,000 known versions hold, and what a 2 GiB executable that
// has just started costs a denied program and the first-start question.
#include "guard/frmMain.h"
#include "guard/frmTrust.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/LinuxFiles.h"
#include "platform/linux/LinuxEnvironment.h"
#include "platform/linux/LinuxShell.h"
#include "platform/linux/LinuxDesktop.h"
#include "platform/linux/LinuxProgram.h"
#include "store/HashCache.h"
#include "store/mdSettings.h"

#include <QApplication>

#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>

#include <chrono>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>

namespace {

class RealServicesProgram : public platform::LinuxProgram {
public:
    QString dir;
    Folders folders() override { return {dir, dir, dir}; }
    bool takeInstanceLock() override { return true; }   // beside any guard that runs here
};

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Each iteration gives a 100 MB file a new modification time, so the cache
// sees a new version: find() on the interface thread starts the hash and
// returns; the worker's time to the digest is counted apart.
void BM_HashFirstSight100MB(benchmark::State& state)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + QStringLiteral("/big");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.write(QByteArray(100 << 20, 'm'))) {
        state.SkipWithError("cannot write the file");
        return;
    }
    file.close();
    platform::LinuxFiles files;
    HashCache cache(files);
    double hashMs = 0;
    long second = 1;
    for (auto _ : state) {
        state.PauseTiming();
        const struct timespec times[2] = {{second, 0}, {second, 0}};
        ++second;
        ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
        const auto version = files.look(path, false);
        state.ResumeTiming();
        benchmark::DoNotOptimize(cache.find(0, path, *version));
        state.PauseTiming();
        const auto start = Clock::now();
        while (cache.find(0, path, *version).state == HashCache::State::Pending)
            QThread::usleep(200);
        hashMs += msSince(start);
        cache.sweep();
        state.ResumeTiming();
    }
    state.counters["hash_ms"] = hashMs / static_cast<double>(state.iterations());
}

// Heap held by the cache for 1,000 executable versions, each hash known.
void BM_HashCacheMemory1000(benchmark::State& state)
{
    QTemporaryDir tmp;
    platform::LinuxFiles files;
    std::vector<std::pair<QString, platform::Files::Facts>> versions;
    for (int i = 0; i < 1000; ++i) {
        const QString path = tmp.path() + QStringLiteral("/exe%1").arg(i);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray::number(i)) <= 0) {
            state.SkipWithError("cannot write the files");
            return;
        }
        file.close();
        versions.emplace_back(path, *files.look(path, false));
    }
    double bytes = 0;
    for (auto _ : state) {
        // On this thread, so every allocation is in the arena that mallinfo2 reads.
        const size_t before = ::mallinfo2().uordblks;
        auto* cache = new HashCache(files);
        cache->run = [](std::function<void()> task) { task(); };
        for (const auto& [path, version] : versions)
            benchmark::DoNotOptimize(cache->find(0, path, version));
        bytes = static_cast<double>(::mallinfo2().uordblks - before);
        delete cache;
    }
    state.counters["bytes"] = bytes;
    state.counters["bytes_per_version"] = bytes / 1000;
}

// A process table of the benchmark's own: its processes run the files at
// their paths, and a kill only marks one ended. Nothing real is signalled.
class Table : public platform::LinuxProcesses {
public:
    struct Entry {
        qint64 pid;
        QString path;
        bool alive = true;
    };
    std::vector<Entry> entries;
    Entry* find(qint64 pid)
    {
        for (Entry& e : entries)
            if (e.pid == pid && e.alive)
                return &e;
        return nullptr;
    }
    void walk(const std::function<bool(const platform::ProcessEntry&)>& visit) override
    {
        for (const Entry& e : entries)
            if (e.alive && !visit({e.pid, e.path.mid(e.path.lastIndexOf(QLatin1Char('/')) + 1), 0, platform::PathState::Read}))
                return;
    }
    QString path(qint64 pid, qint64) override { return find(pid) ? find(pid)->path : QString(); }
    std::optional<platform::Launch> launch(qint64) override { return std::nullopt; }
    QString name(qint64) override { return QString(); }
    qint64 parent(qint64) override { return 1; }
    QString owner(qint64) override { return QStringLiteral("me"); }
    QString exePath(qint64 pid) override { return path(pid, 0); }
    int kill(qint64 pid, platform::KillFailure*) override
    {
        Entry* e = find(pid);
        return e ? (e->alive = false, 1) : 0;
    }
    // The table's ids are made up: the real processes that may hold them
    // (the benchmark's own sleepers among them) are nothing to the guard.
    qint64 ownerId(qint64) override { return -1; }
    void hold(qint64) override {}
    bool replaced(qint64) override { return false; }
    bool ownDescendant(qint64) override { return false; }
};

// Real files, each the executable of the table's process that names it.
class TableFiles : public platform::LinuxFiles {
public:
    std::optional<Facts> lookRunning(qint64, const QString& path, bool dated) override { return look(path, dated); }
    std::optional<QByteArray> sha256(qint64, const QString& path, const Facts& version, const std::atomic_bool* cancel) override
    {
        return LinuxFiles::sha256(0, path, version, cancel);
    }
};

// A guard at a list level beside a 2 GiB executable that has just started
// (a sparse file given a new date, so no cache knows it) and a denied program.
struct Beside {
    QTemporaryDir tmp;
    Table processes;
    TableFiles files;
    platform::LinuxEnvironment env;
    platform::LinuxShell shell;
    platform::LinuxDesktop desktop;
    RealServicesProgram program;
    std::optional<App> app;
    std::unique_ptr<frmMain> main;
    QString huge, denied;

    Beside(int level, bool withHuge, bool firstStart)
    {
        program.dir = tmp.path();
        huge = tmp.path() + QStringLiteral("/huge");
        denied = tmp.path() + QStringLiteral("/denied");
        QFile::copy(QStringLiteral("/usr/bin/sleep"), denied);
        QFile::copy(QStringLiteral("/usr/bin/sleep"), huge);
        QFile::resize(huge, qint64(2) << 30);
        write("settings.ini", "startup_load=0\r\ncheck_interval=0.1\r\ntmp_interval=60\r\nlist_level=" + QByteArray::number(level)
                                  + "\r\nsafe_level=0\r\npath_search=0\r\nclean_value=0\r\nalways_top=0\r\nerror_log=0\r\n");
        if (withHuge)
            processes.entries.push_back({100, huge});
        processes.entries.push_back({101, denied});
        app.emplace(platform::Services{processes, files, env, shell, desktop, program});
        main = std::make_unique<frmMain>(*app);
        if (!firstStart) {
            // The denied program's record as this level builds it.
            mdSettings::getSettings(*app);
            HashCache::State hash;
            QString record = main->guard.hashedRecord(0, QStringLiteral("denied"), denied, hash);
            while (hash == HashCache::State::Pending) {
                QThread::msleep(1);
                record = main->guard.hashedRecord(0, QStringLiteral("denied"), denied, hash);
            }
            write("allow.csv", "");
            write("deny.csv", (record + QStringLiteral("\r\n")).toUtf8());
            // Forgotten again: the denied program is new to the guard too.
            app->hashes.sweep();
            app->hashes.sweep();
            app->settingList = Collection();
        }
    }
    void write(const QString& name, const QByteArray& bytes) const
    {
        QFile f(tmp.path() + QLatin1Char('/') + name);
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
    }
    bool deniedRuns() { return processes.find(101) != nullptr; }
};

// Ticks of check_interval 0.1 until the denied program ends, at level 3 and
// at level 4 with the huge executable started just before it, interleaved.
void BM_DeniedBesideHugeExecutable(benchmark::State& state)
{
    double ticks3 = 0, ticks4 = 0, ms4 = 0;
    for (auto _ : state) {
        for (const int level : {3, 4}) {
            Beside b(level, true, false);
            if (b.main->Form_Load() != frmMain::Start::Running) {
                state.SkipWithError("no start");
                return;
            }
            const auto start = Clock::now();
            int ticks = 0;
            while (b.deniedRuns() && ticks < 100) {
                if (ticks > 0)
                    QThread::msleep(100);
                b.main->guard.time_Timer();
                ++ticks;
            }
            (level == 3 ? ticks3 : ticks4) += ticks;
            if (level == 4)
                ms4 += msSince(start);
        }
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["level3_ticks"] = ticks3 / n;
    state.counters["level4_ticks"] = ticks4 / n;
    state.counters["level4_ms"] = ms4 / n;
}

// From the start of the guard to the first-start question on screen, at
// level 4, with and without the huge executable running, interleaved.
void BM_FirstStartQuestionBesideHugeExecutable(benchmark::State& state)
{
    double alone = 0, beside = 0;
    for (auto _ : state) {
        for (const bool withHuge : {false, true}) {
            Beside b(4, withHuge, true);
            const auto start = Clock::now();
            b.main->Form_Load();
            const bool shown = b.main->trust && b.main->trust->isVisible();
            (withHuge ? beside : alone) += msSince(start);
            if (!shown) {
                state.SkipWithError("no question");
                return;
            }
        }
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["alone_ms"] = alone / n;
    state.counters["beside_2GiB_ms"] = beside / n;
}

} // namespace

BENCHMARK(BM_DeniedBesideHugeExecutable)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FirstStartQuestionBesideHugeExecutable)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_HashFirstSight100MB)->Unit(benchmark::kMicrosecond)->Iterations(5);
BENCHMARK(BM_HashCacheMemory1000)->Unit(benchmark::kMillisecond)->Iterations(3);
