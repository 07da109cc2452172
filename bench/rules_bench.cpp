// Loading a big nft document: the writer's file (elements about 1,000 to a
// command) against a file batched by hand (every element in one set
// declaration), both loaded by nft in a private network namespace. And the
// writer's own cost of sorting and aggregating the entries.
#include "resolve/uRuleWriter.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <unistd.h>

namespace {

const int kAddresses = 170000;

// Every other address from 10.0.0.0 on: no two merge into a block.
QString Address(int I) {
    const int V = I * 2;
    return QStringLiteral("10.%1.%2.%3").arg(V >> 16).arg((V >> 8) & 255).arg(V & 255);
}

TRuleWriter FilledWriter() {
    TRuleWriterSettings S;
    S.Preset = rpNft;
    S.Family = afBoth;
    TRuleWriter W(S);
    // Backwards: the writer sorts.
    for (int I = kAddresses - 1; I >= 0; --I)
        W.Add(Address(I), QString());
    return W;
}

// Seconds nft takes for AFile in a fresh namespace, or -1.
double NftLoadSeconds(const QString& AFile) {
    const auto Start = std::chrono::steady_clock::now();
    QProcess P;
    P.start(QStringLiteral("unshare"), {"-n", "nft", "-f", AFile});
    if (!P.waitForFinished(1800000) || P.exitCode() != 0)
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
}

void LoadInto(benchmark::State& AState, const QByteArray& AText) {
    if (geteuid() != 0) {
        AState.SkipWithError("needs root for unshare -n and nft");
        return;
    }
    QTemporaryDir Dir;
    const QString Name = Dir.filePath(QStringLiteral("rules.nft"));
    QFile F(Name);
    if (!F.open(QIODevice::WriteOnly) || F.write(AText) != AText.size()) {
        AState.SkipWithError("cannot write the file");
        return;
    }
    F.close();
    for (auto _ : AState) {
        const double S = NftLoadSeconds(Name);
        if (S < 0) {
            AState.SkipWithError("nft refused the file");
            return;
        }
        AState.SetIterationTime(S);
    }
    AState.counters["elements"] = kAddresses;
}

void BM_NftLoadWriterFile(benchmark::State& AState) {
    LoadInto(AState, TRuleWriter::Encode(FilledWriter().Render().Lines));
}

void BM_NftLoadHandBatchedFile(benchmark::State& AState) {
    QStringList L;
    for (int I = 0; I < kAddresses; ++I)
        L << Address(I);
    const QString Text = QStringLiteral("table inet hand {\n\tset hand4 { type ipv4_addr; flags interval; elements = { ") +
                         L.join(QStringLiteral(", ")) + QStringLiteral(" } }\n}\n");
    LoadInto(AState, Text.toUtf8());
}

void BM_WriterRender170k(benchmark::State& AState) {
    for (auto _ : AState) {
        const TRuleWriter W = FilledWriter();
        benchmark::DoNotOptimize(W.Render().Lines.size());
    }
}

} // namespace

BENCHMARK(BM_NftLoadWriterFile)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NftLoadHandBatchedFile)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriterRender170k)->Iterations(3)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
