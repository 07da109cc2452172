// Lines per second of the input-line normalizer on the kinds of list people
// feed: plain names (which must not get slower), hosts files, filter lists,
// and the slow paths (URLs, international names). The job's own address
// classification of the same plain names is the yardstick: it runs on every
// line anyway.
#include "resolve/QXUtilsUnit.h"
#include "resolve/uDomainLines.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int kLines = 100000;

QStringList MakeLines(const char* AFormat) {
    QStringList Lines;
    Lines.reserve(kLines);
    for (int I = 0; I < kLines; ++I)
        Lines << QString::fromUtf8(AFormat).arg(I).arg(I % 97);
    return Lines;
}

bool JobAddressTest(const QString& ALine) {
    quint32 Value = 0;
    return TQXUtils::ParseIPEntry(ALine, Value);
}

void RunNormalizer(benchmark::State& AState, const QStringList& ALines) {
    const TDomainLineNormalizer Normalizer(JobAddressTest);
    TNormalizedLine Result;
    qint64 Items = 0;
    for (auto _ : AState) {
        for (const QString& Line : ALines) {
            Normalizer.Normalize(Line, Result);
            Items += Result.Items.size();
        }
    }
    benchmark::DoNotOptimize(Items);
    AState.SetItemsProcessed(AState.iterations() * ALines.size());
    AState.counters["items/line"] = double(Items) / double(AState.iterations() * ALines.size());
}

void BM_JobClassifyPlainNames(benchmark::State& AState) {
    const QStringList Lines = MakeLines("host%1.cdn%2.example.com");
    int Addresses = 0;
    for (auto _ : AState)
        for (const QString& Line : Lines)
            Addresses += JobAddressTest(Line);
    benchmark::DoNotOptimize(Addresses);
    AState.SetItemsProcessed(AState.iterations() * Lines.size());
}

void BM_NormalizePlainNames(benchmark::State& AState) {
    RunNormalizer(AState, MakeLines("host%1.cdn%2.example.com"));
}

void BM_NormalizeAddressLines(benchmark::State& AState) {
    QStringList Lines;
    for (int I = 0; I < kLines; ++I)
        Lines << QString("10.%1.%2.%3/32").arg(I >> 16).arg((I >> 8) & 255).arg(I & 255);
    RunNormalizer(AState, Lines);
}

void BM_NormalizeHostsLines(benchmark::State& AState) {
    RunNormalizer(AState, MakeLines("0.0.0.0 ads%1.tracker%2.example.com"));
}

void BM_NormalizeHostsLinesThreeNames(benchmark::State& AState) {
    RunNormalizer(AState, MakeLines("127.0.0.1\ta%1.example.com b%1.example.net c%2.example.org  # group"));
}

void BM_NormalizeFilterRules(benchmark::State& AState) {
    RunNormalizer(AState, MakeLines("||ads%1.tracker%2.example.com^$third-party"));
}

void BM_NormalizeUrls(benchmark::State& AState) {
    RunNormalizer(AState, MakeLines("https://www%1.example.com:8443/path/%2?q=1"));
}

void BM_NormalizeInternationalNames(benchmark::State& AState) {
    RunNormalizer(AState, MakeLines("bücher%1.straße%2.example"));
}

void BM_NormalizeComments(benchmark::State& AState) {
    RunNormalizer(AState, MakeLines("# comment %1 of %2"));
}

} // namespace

BENCHMARK(BM_JobClassifyPlainNames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NormalizePlainNames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NormalizeAddressLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NormalizeHostsLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NormalizeHostsLinesThreeNames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NormalizeFilterRules)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NormalizeUrls)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NormalizeInternationalNames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NormalizeComments)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
