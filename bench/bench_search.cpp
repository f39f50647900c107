// SPDX-License-Identifier: GPL-3.0-or-later
// The disk search over a generated tree of 20,420 folders, and find(1) over
// the same kind of tree for comparison.
#include "guard/frmMain.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/LinuxFiles.h"
#include "platform/linux/LinuxShell.h"
#include "platform/linux/LinuxDesktop.h"
#include "platform/linux/LinuxProgram.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <algorithm>
#include <utility>

namespace {

constexpr int kTop = 20, kMiddle = 20, kLeaves = 50;
constexpr int kFolders = kTop + kTop * kMiddle + kTop * kMiddle * kLeaves + 1;   // with the tree's own
const char* const kAbsent = "no-such-program";

// A tree of kTop x kMiddle x kLeaves folders with a small file in each middle folder.
bool makeTree(const QString& root)
{
    for (int a = 0; a < kTop; ++a)
        for (int b = 0; b < kMiddle; ++b) {
            const QString middle = QStringLiteral("%1/t%2/m%3").arg(root).arg(a).arg(b);
            for (int c = 0; c < kLeaves; ++c)
                if (!QDir().mkpath(middle + QStringLiteral("/leaf%1").arg(c)))
                    return false;
            QFile file(middle + QStringLiteral("/readme.txt"));
            if (!file.open(QIODevice::WriteOnly))
                return false;
        }
    return true;
}

// The search's roots: the tree first, then four empty folders.
class TreeEnvironment : public platform::Environment {
public:
    explicit TreeEnvironment(const QString& base) : base_(base) {}
    QString windowsDirectory() override { return base_ + QStringLiteral("/e1"); }
    QString systemDirectory() override { return base_ + QStringLiteral("/tree"); }
    QString variable(const QString& name) override
    {
        if (name == QLatin1String("ProgramFiles"))
            return base_ + QStringLiteral("/e2");
        if (name == QLatin1String("TMP"))
            return base_ + QStringLiteral("/e3");
        if (name == QLatin1String("SystemDrive"))
            return base_ + QStringLiteral("/e4");
        return QString();
    }
    QString startupFolder() override { return base_; }

private:
    QString base_;
};

// Real event passes, timing the longest stretch between two of them.
class TimedDesktop : public platform::LinuxDesktop {
public:
    qint64 passes = 0;
    qint64 longestNs = 0;
    bool fresh = true;   // the next pass begins a run: no stretch before it
    void processEvents() override
    {
        ++passes;
        if (!std::exchange(fresh, false))
            longestNs = std::max(longestNs, clock_.nsecsElapsed());
        LinuxDesktop::processEvents();
        clock_.start();
    }

private:
    QElapsedTimer clock_;
};

void BM_SearchTreeWalk(benchmark::State& state)
{
    QTemporaryDir base;
    for (const char* dir : {"e1", "e2", "e3", "e4"})
        QDir().mkpath(base.filePath(QString::fromLatin1(dir)));
    if (!makeTree(base.filePath(QStringLiteral("tree")))) {
        state.SkipWithError("cannot build the tree");
        return;
    }
    platform::LinuxProcesses processes;
    platform::LinuxFiles files;
    TreeEnvironment env(base.path());
    platform::LinuxShell shell;
    TimedDesktop desktop;
    platform::LinuxProgram program;
    App app{{processes, files, env, shell, desktop, program}};
    frmMain main(app);
    main.guard.dirSystem = env.systemDirectory();
    main.guard.dirWindows = env.windowsDirectory();
    main.guard.appName = QString::fromLatin1(kAbsent);
    main.show();
    for (auto _ : state) {
        desktop.fresh = true;
        main.btnFindPath_MouseUp();
        if (main.txtPath->toPlainText() != QLatin1String("can't find the path")) {
            state.SkipWithError("the search did not run to its end");
            return;
        }
    }
    state.counters["folders"] = kFolders;
    state.counters["folders_per_s"] = benchmark::Counter(kFolders, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["passes_per_run"] = double(desktop.passes) / double(state.iterations());
    state.counters["longest_step_us"] = double(desktop.longestNs) / 1000.0;
}
BENCHMARK(BM_SearchTreeWalk)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void BM_SearchTreeFindCommand(benchmark::State& state)
{
    QTemporaryDir base;
    const QString tree = base.filePath(QStringLiteral("tree"));
    if (!makeTree(tree)) {
        state.SkipWithError("cannot build the tree");
        return;
    }
    for (auto _ : state) {
        QProcess find;
        find.start(QStringLiteral("find"), {tree, QStringLiteral("-name"), QString::fromLatin1(kAbsent)});
        if (!find.waitForFinished(60000) || find.exitCode() != 0 || !find.readAllStandardOutput().isEmpty()) {
            state.SkipWithError("find failed");
            return;
        }
    }
    state.counters["folders"] = kFolders;
    state.counters["folders_per_s"] = benchmark::Counter(kFolders, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SearchTreeFindCommand)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

} // namespace
