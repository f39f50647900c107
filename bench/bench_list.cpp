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
    Guard guard{app};

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
        frmList window(lists.app, lists.guard, frmList::Kind::Allow);
        window.show();
        window.listLoad();
        QApplication::processEvents();
        rows = window.rows.rowCount();
    }
    if (rows != state.range(0))
        state.SkipWithError("rows lost");
}
BENCHMARK(BM_ListWindowOpen)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// One keystroke after another: "v", "ve", ... "vendor4", then back to nothing.
void BM_ListWindowFilter(benchmark::State& state)
{
    Lists lists(int(state.range(0)));
    frmList window(lists.app, lists.guard, frmList::Kind::Allow);
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
BENCHMARK(BM_ListWindowFilter)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// One click on a header after another: each column up, then down. With the
// second argument 1 the rows are filled afresh before each click (as after a
// save), so no column's order is known yet.
void BM_ListWindowSort(benchmark::State& state)
{
    Lists lists(int(state.range(0)));
    frmList window(lists.app, lists.guard, frmList::Kind::Allow);
    window.show();
    window.listLoad();
    QApplication::processEvents();
    const int columns[] = {ListModel::Date, ListModel::Size, ListModel::Path, ListModel::Name};
    int click = 0;
    for (auto _ : state) {
        if (state.range(1)) {
            state.PauseTiming();
            window.listLoad();
            QApplication::processEvents();
            state.ResumeTiming();
        }
        const int column = columns[click % 4];
        window.List->sortByColumn(column, click / 4 % 2 ? Qt::DescendingOrder : Qt::AscendingOrder);
        QApplication::processEvents();
        ++click;
    }
    window.List->sortByColumn(ListModel::Size, Qt::AscendingOrder);
    const QString first = window.rows.index(0, ListModel::Size).data().toString();
    const QString last = window.rows.index(window.rows.rowCount() - 1, ListModel::Size).data().toString();
    if (window.rows.rowCount() != state.range(0) || first != QLatin1String("1.0K") || last != QLatin1String("900.9K"))
        state.SkipWithError("rows lost or out of order");
}
BENCHMARK(BM_ListWindowSort)->Args({100000, 0})->Args({100000, 1})->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
