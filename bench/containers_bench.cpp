// Name look-ups: the hashed list against the plain list's linear search.

#include "containers/VHashedStringList.h"
#include "containers/uStringList.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

QString NameOf(int I) {
    return QStringLiteral("setting.key.%1").arg(I);
}

void Fill(TStringList& L, int Lines) {
    L.BeginUpdate();
    for (int I = 0; I < Lines; ++I)
        L.Add(NameOf(I) + QStringLiteral("=value number %1").arg(I));
    L.EndUpdate();
}

// Names to look up: mostly present, one in ten absent.
std::vector<QString> Queries(int Lines, int N) {
    std::mt19937 Rng(42);
    std::vector<QString> R;
    R.reserve(N);
    for (int I = 0; I < N; ++I) {
        const int K = static_cast<int>(Rng() % static_cast<unsigned>(Lines + Lines / 10));
        R.push_back(NameOf(K));
    }
    return R;
}

// Filling 100,000 lines and answering the first look-up (which builds the table).
void BM_HashedFillAndFirstLookup(benchmark::State& State) {
    const int Lines = static_cast<int>(State.range(0));
    for (auto _ : State) {
        TVHashedStringList L(static_cast<quint32>(Lines));
        Fill(L, Lines);
        benchmark::DoNotOptimize(L.IndexOfName(NameOf(Lines / 2)));
    }
    State.SetItemsProcessed(State.iterations() * Lines);
}
BENCHMARK(BM_HashedFillAndFirstLookup)->Arg(100000)->Unit(benchmark::kMillisecond);

// 1,000,000 name look-ups in 100,000 lines per iteration.
void BM_HashedIndexOfName(benchmark::State& State) {
    const int Lines = static_cast<int>(State.range(0));
    const int Lookups = 1000000;
    TVHashedStringList L(static_cast<quint32>(Lines));
    Fill(L, Lines);
    const std::vector<QString> Q = Queries(Lines, Lookups);
    L.IndexOfName(Q.front());
    for (auto _ : State) {
        int Found = 0;
        for (const QString& Name : Q)
            Found += L.IndexOfName(Name) >= 0;
        benchmark::DoNotOptimize(Found);
    }
    State.SetItemsProcessed(State.iterations() * Lookups);
}
BENCHMARK(BM_HashedIndexOfName)->Arg(100000)->Unit(benchmark::kMillisecond);

// The plain list's linear IndexOfName over 10,000 lines.
void BM_LinearIndexOfName(benchmark::State& State) {
    const int Lines = static_cast<int>(State.range(0));
    const int Lookups = 1000;
    TStringList L;
    Fill(L, Lines);
    const std::vector<QString> Q = Queries(Lines, Lookups);
    for (auto _ : State) {
        int Found = 0;
        for (const QString& Name : Q)
            Found += L.IndexOfName(Name) >= 0;
        benchmark::DoNotOptimize(Found);
    }
    State.SetItemsProcessed(State.iterations() * Lookups);
}
BENCHMARK(BM_LinearIndexOfName)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
