// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of the store at the sizes a long-lived installation reaches: a list
// save with counts, one error log entry on a long log, the log read whole and
// a large list read without counts.
#include "bench/RealServices.h"
#include "store/mdLists.h"
#include "store/mdSettings.h"

#include <QFile>
#include <benchmark/benchmark.h>

namespace {

// Settings of its own in the benchmark's folder.
struct Store : RealServices {
    explicit Store(const char* clean, const char* log = "0")
    {
        write("settings.ini", QByteArray("check_interval=1\r\nclean_value=") + clean + "\r\nerror_log=" + log + "\r\n");
        mdSettings::getSettings(app);
    }
    void write(const char* name, const QByteArray& bytes) const
    {
        QFile f(app.file(QString::fromLatin1(name)));
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
    }
};

QString record(int i)
{
    return QStringLiteral("prog%1.exe|/opt/vendor%2/bin/prog%1.exe").arg(i).arg(i % 97);
}

// A list file of `count` records, each with a count when `counted`, and the same records in memory.
Collection listFile(Store& store, int count, bool counted)
{
    Collection list;
    QByteArray bytes;
    for (int i = 0; i < count; ++i) {
        const QString r = record(i);
        list.add(r);
        bytes += r.toUtf8() + (counted ? "|" + QByteArray::number(i % 13 - 3) : QByteArray()) + "\r\n";
    }
    store.write("allow.csv", bytes);
    return list;
}

void BM_PutListCounted(benchmark::State& state)
{
    Store store("5");
    const Collection records = listFile(store, static_cast<int>(state.range(0)), true);
    QString seen;
    for (int i = 0; i < 400; ++i)
        seen += record(i * 7) + QLatin1Char(':');
    for (auto _ : state) {
        state.PauseTiming();
        Collection list = records;
        list.add(QStringLiteral("new.exe|/opt/new/new.exe"));
        store.app.seenRecords = seen;
        state.ResumeTiming();
        mdSettings::putList(store.app, list, QStringLiteral("allow.csv"), true);
    }
    if (!store.files.exists(store.app.file(QStringLiteral("allow.csv"))))
        state.SkipWithError("no allow.csv written");
}
BENCHMARK(BM_PutListCounted)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ErrorLogEntry(benchmark::State& state)
{
    Store store("0", "1");
    QByteArray log;
    for (int i = 0; i < state.range(0); ++i)
        log += "frmMain.TakeProcesses: Type mismatch: 'x" + QByteArray::number(i) + "' is not a number\r\n";
    store.write("error.log", log + "\r\n");
    for (auto _ : state)
        mdSettings::error_log(store.app, QStringLiteral("frmMain"), QStringLiteral("time_Timer"),
                              QStringLiteral("Type mismatch: '' is not a number"));
    if (!mdSettings::getContent(store.app, QStringLiteral("error.log")).startsWith(QLatin1String("frmMain.time_Timer")))
        state.SkipWithError("the entry did not reach the top of the log");
}
BENCHMARK(BM_ErrorLogEntry)->Arg(40000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GetContent(benchmark::State& state)
{
    Store store("0");
    QByteArray log;
    for (int i = 0; i < state.range(0); ++i)
        log += "mdSettings.putList: Can't write '/opt/mirvak/allow.csv': No space left " + QByteArray::number(i) + "\r\n";
    store.write("error.log", log + "\r\n");
    qsizetype size = 0;
    for (auto _ : state)
        size = mdSettings::getContent(store.app, QStringLiteral("error.log")).size();
    if (size == 0)
        state.SkipWithError("nothing read");
}
BENCHMARK(BM_GetContent)->Arg(40000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GetList(benchmark::State& state)
{
    Store store("0");
    listFile(store, static_cast<int>(state.range(0)), false);
    int count = 0;
    for (auto _ : state) {
        Collection list;
        mdSettings::getList(store.app, list, QStringLiteral("allow.csv"));
        count = list.count();
    }
    if (count != state.range(0))
        state.SkipWithError("records lost");
}
BENCHMARK(BM_GetList)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
