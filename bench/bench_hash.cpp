// SPDX-License-Identifier: GPL-3.0-or-later
// The SHA-256 cache at list_level 4: what the first sight of a large new
// executable costs the tick (the hash itself runs on the worker), and the
// memory that 1,000 known versions hold.
#include "platform/linux/LinuxServices.h"
#include "process/HashCache.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>

#include <chrono>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>

namespace {

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

} // namespace

BENCHMARK(BM_HashFirstSight100MB)->Unit(benchmark::kMicrosecond)->Iterations(5);
BENCHMARK(BM_HashCacheMemory1000)->Unit(benchmark::kMillisecond)->Iterations(3);
