// The duplicate test of the "New records" output: every output line is looked
// up among the preloaded lines and the lines of the run. The time per line
// must stay flat as the list grows.
#include "BenchMain.h"
#include "engine/uLog.h"
#include "engine/uProgress.h"
#include "resolve/QXUtilsUnit.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

namespace {

class TBenchQXUtils : public TQXUtils {
public:
    using TQXUtils::TQXUtils;
    using TQXUtils::CloseRun;
    using TQXUtils::OpenRun;
    using TQXUtils::WriteResult;
};

// Preloads N lines, then writes N new lines and N duplicates of them.
void BM_NewRecordsRun(benchmark::State& State) {
    const int N = int(State.range(0));
    QStringList Preload, Fresh;
    for (int I = 0; I < N; ++I) {
        Preload << QString("-A OUTPUT -d 10.%1.%2.%3 -j REJECT").arg(I >> 16).arg((I >> 8) & 255).arg(I & 255);
        Fresh << QString("-A OUTPUT -d 172.%1.%2.%3 -j REJECT").arg(I >> 16).arg((I >> 8) & 255).arg(I & 255);
    }
    TProgress Progress;
    TLog Log;
    TBenchQXUtils Utils(&Progress, &Log);
    Utils.SetResultMode(outListNew);
    for (auto _ : State) {
        State.PauseTiming();
        Utils.ResultList()->Clear();
        for (const QString& S : Preload)
            Utils.ResultList()->Add(S);
        State.ResumeTiming();
        Utils.OpenRun();
        for (const QString& S : Fresh)
            Utils.WriteResult(S);
        for (const QString& S : Fresh)
            Utils.WriteResult(S.toUpper());
        Utils.CloseRun();
        benchmark::DoNotOptimize(Utils.AddedList()->Count());
    }
    State.SetItemsProcessed(State.iterations() * 2 * N);
    State.counters["lines"] = double(Utils.ResultList()->Count());
}

} // namespace

BENCHMARK(BM_NewRecordsRun)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

VT_BENCHMARK_MAIN_WITH(QCoreApplication)
