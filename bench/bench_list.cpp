// SPDX-License-Identifier: GPL-3.0-or-later
// A list window over a long list: opened and filled, and filtered as one
// types. The window is shown, so the table lays out and paints its rows.
#include "bench/RealServices.h"
#include "lists/frmList.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {

// A list of level-3 records in an empty program folder.
struct Lists : RealServices {
    frmMain main{app};

    explicit Lists(int count)
    {
        for (int i = 0; i < count; ++i)
            app.allowList.add(QStringLiteral("prog%1|2026.%2.%3 %4:%5|%6.%7K|/opt/vendor%8/bin/prog%1")
                                  .arg(i)
                                  .arg(i % 12 + 1, 2, 10, QLatin1Char('0'))
                                  .arg(i % 28 + 1, 2, 10, QLatin1Char('0'))
                                  .arg(i % 24)
                                  .arg(i % 60, 2, 10, QLatin1Char('0'))
                                  .arg(i % 900 + 1)
                                  .arg(i % 10)
                                  .arg(i % 97));
    }
};

void BM_ListWindowOpen(benchmark::State& state)
{
    Lists lists(int(state.range(0)));
    int rows = 0;
    for (auto _ : state) {
        frmList window(lists.app, lists.main, frmList::Kind::Allow);
        window.show();
        window.listLoad();
        QApplication::processEvents();
        rows = window.rows.rowCount();
    }
    if (rows != state.range(0))
        state.SkipWithError("rows lost");
}
BENCHMARK(BM_ListWindowOpen)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

// One keystroke after another: "v", "ve", ... "vendor4", then back to nothing.
void BM_ListWindowFilter(benchmark::State& state)
{
    Lists lists(int(state.range(0)));
    frmList window(lists.app, lists.main, frmList::Kind::Allow);
    window.show();
    window.listLoad();
    QApplication::processEvents();
    const QString typed = QStringLiteral("vendor4");
    qsizetype at = 0;
    for (auto _ : state) {
        at = (at + 1) % (typed.size() + 1);
        window.txtFilter->setText(typed.left(at));
        QApplication::processEvents();
    }
    window.txtFilter->setText(QStringLiteral("vendor42/"));
    if (window.rows.rowCount() != state.range(0) / 97 + (state.range(0) % 97 > 42))
        state.SkipWithError("the filter kept other rows");
}
BENCHMARK(BM_ListWindowFilter)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
