// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of the store at the sizes a long-lived installation reaches: a list
// save with counts, one error log entry on a long log, the log read whole and
// a large list read without counts.
#include "bench/RealServices.h"
#include "store/mdLists.h"
#include "store/mdSettings.h"
#include "store/mdErrorLog.h"

#include <QCryptographicHash>
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

// The record of program `i` at `level`, as the scan builds it: from level 3
// on every record holds ":" (the time; at level 4 also "sha256:").
QString record(int i, int level = 1)
{
    const QString name = QStringLiteral("prog%1.exe").arg(i);
    const QString path = QStringLiteral("/opt/vendor%1/bin/prog%2.exe").arg(i % 97).arg(i);
    const QString size = QStringLiteral("%1.%2K").arg(i % 900 + 1).arg(i % 10);
    const QString date = QStringLiteral("2026.%1.%2 %3:%4")
                             .arg(i % 12 + 1, 2, 10, QLatin1Char('0'))
                             .arg(i % 28 + 1, 2, 10, QLatin1Char('0'))
                             .arg(i % 24)
                             .arg(i % 60, 2, 10, QLatin1Char('0'));
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(QByteArray::number(i), QCryptographicHash::Sha256).toHex());
    switch (level) {
    case 0: return name;
    case 1: return name + QLatin1Char('|') + path;
    case 2: return name + QLatin1Char('|') + size + QLatin1Char('|') + path;
    case 3: return name + QLatin1Char('|') + date + QLatin1Char('|') + size + QLatin1Char('|') + path;
    default: return record(i, 3) + QStringLiteral("|sha256:") + hash;
    }
}

// A list file of `count` records, each with a count when `counted`, and the same records in memory.
Collection listFile(Store& store, int count, bool counted, int level = 1)
{
    Collection list;
    QByteArray bytes;
    for (int i = 0; i < count; ++i) {
        const QString r = record(i, level);
        list.add(r);
        bytes += r.toUtf8() + (counted ? "|" + QByteArray::number(i % 13 - 3) : QByteArray()) + "\r\n";
    }
    store.write("allow.csv", bytes);
    return list;
}

// A counted save of records of one list_level (the second argument), 400 of them seen running.
void BM_PutListCounted(benchmark::State& state)
{
    Store store("5");
    const int level = static_cast<int>(state.range(1));
    const Collection records = listFile(store, static_cast<int>(state.range(0)), true, level);
    QSet<QString> seen;
    for (int i = 0; i < 400; ++i)
        seen.insert(record(i * 7, level));
    const QString path = store.app.file(QStringLiteral("allow.csv"));
    const QByteArray before = store.files.readBytes(path).value_or(QByteArray());
    for (auto _ : state) {
        state.PauseTiming();
        store.write("allow.csv", before);   // each save finds the same file
        Collection read;   // as at start-up: the save then finds the version it knows
        mdLists::getList(store.app, read, QStringLiteral("allow.csv"));
        Collection list = records;
        list.add(record(-1, level));
        store.app.seenRecords = seen;
        state.ResumeTiming();
        mdLists::putList(store.app, list, QStringLiteral("allow.csv"), true);
    }
    // Each seen record gains 5 at each save, and keeps its place.
    const QByteArray saved = store.files.readBytes(path).value_or(QByteArray());
    if (!saved.contains((record(7, level) + QLatin1Char('|')).toUtf8() + QByteArray::number(7 % 13 - 3 + 5)))
        state.SkipWithError("a seen record was not credited");
}
BENCHMARK(BM_PutListCounted)
    ->ArgsProduct({{10000, 100000}, {0, 1, 2, 3, 4}})
    ->ArgNames({"records", "level"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ErrorLogEntry(benchmark::State& state)
{
    Store store("0", "1");
    QByteArray log;
    for (int i = 0; i < state.range(0); ++i)
        log += "frmMain.TakeProcesses: Type mismatch: 'x" + QByteArray::number(i) + "' is not a number\r\n";
    store.write("error.log", log + "\r\n");
    for (auto _ : state)
        mdErrorLog::error_log(store.app, QStringLiteral("frmMain"), QStringLiteral("time_Timer"),
                              QStringLiteral("Type mismatch: '' is not a number"));
    if (!mdErrorLog::getContent(store.app, QStringLiteral("error.log")).startsWith(QLatin1String("frmMain.time_Timer")))
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
        size = mdErrorLog::getContent(store.app, QStringLiteral("error.log")).size();
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
        mdLists::getList(store.app, list, QStringLiteral("allow.csv"));
        count = list.count();
    }
    if (count != state.range(0))
        state.SkipWithError("records lost");
}
BENCHMARK(BM_GetList)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
