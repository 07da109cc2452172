// Line reading and writing over a 50 MB file of domain names, beside plain
// std::getline / std::ofstream loops over the same data.
#include "text/uLineReaderWriter.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr qint64 TargetBytes = 50LL * 1024 * 1024;

// A pool of plausible domain names; the file and the writers cycle through it.
const std::vector<QString>& DomainPool() {
    static const std::vector<QString> Pool = [] {
        static const char* Tlds[] = {"com", "net", "org", "de", "co.uk", "info", "io", "ru"};
        QRandomGenerator Rng(20261208);
        std::vector<QString> Names;
        Names.reserve(65536);
        for (int I = 0; I < 65536; ++I) {
            QString Name;
            if (Rng.bounded(3) == 0)
                Name += QStringLiteral("www.");
            const int Len = Rng.bounded(4, 18);
            for (int C = 0; C < Len; ++C)
                Name += QChar(u'a' + Rng.bounded(26));
            if (Rng.bounded(8) == 0)
                Name += QStringLiteral("-%1").arg(Rng.bounded(1000));
            Name += QLatin1Char('.') + QLatin1String(Tlds[Rng.bounded(8)]);
            Names.push_back(Name);
        }
        return Names;
    }();
    return Pool;
}

struct TBenchFile {
    QTemporaryDir Dir;
    QString Name;
    qint64 Size = 0;
    qint64 Lines = 0;
};

const TBenchFile& InputFile() {
    static TBenchFile File = [] {
        TBenchFile F;
        F.Name = F.Dir.filePath(QStringLiteral("domains.txt"));
        QFile Out(F.Name);
        if (!Out.open(QIODevice::WriteOnly))
            qFatal("cannot create %s", qPrintable(F.Name));
        const auto& Pool = DomainPool();
        QRandomGenerator Rng(42);
        QByteArray Chunk;
        while (F.Size < TargetBytes) {
            Chunk = Pool[Rng.bounded(int(Pool.size()))].toUtf8() + '\n';
            Out.write(Chunk);
            F.Size += Chunk.size();
            ++F.Lines;
        }
        return F;
    }();
    return File;
}

void BM_LineReader(benchmark::State& State) {
    const TBenchFile& F = InputFile();
    for (auto _ : State) {
        TLineReader Reader(F.Name, 1024);
        qint64 Chars = 0;
        while (!Reader.EndOfLines())
            Chars += Reader.ReadLine().size();
        benchmark::DoNotOptimize(Chars);
        if (Reader.LineIndex() != F.Lines)
            State.SkipWithError("line count differs");
    }
    State.SetBytesProcessed(State.iterations() * F.Size);
}

void BM_StdGetline(benchmark::State& State) {
    const TBenchFile& F = InputFile();
    for (auto _ : State) {
        std::ifstream In(F.Name.toStdString());
        std::string Line;
        qint64 Chars = 0, Lines = 0;
        while (std::getline(In, Line)) {
            Chars += qint64(Line.size());
            ++Lines;
        }
        benchmark::DoNotOptimize(Chars);
        if (Lines != F.Lines)
            State.SkipWithError("line count differs");
    }
    State.SetBytesProcessed(State.iterations() * F.Size);
}

void BM_LineWriter(benchmark::State& State) {
    const TBenchFile& F = InputFile();
    const auto& Pool = DomainPool();
    const QString Out = F.Dir.filePath(QStringLiteral("out.txt"));
    qint64 Bytes = 0;
    for (auto _ : State) {
        TLineWriter Writer(Out, false);
        Writer.SetLineBreak(QStringLiteral("\n"));
        for (qint64 I = 0; I < F.Lines; ++I)
            Writer.WriteLine(Pool[size_t(I) % Pool.size()]);
        Writer.Close();
        Bytes = QFile(Out).size();
    }
    State.SetBytesProcessed(State.iterations() * Bytes);
}

void BM_StdOfstream(benchmark::State& State) {
    const TBenchFile& F = InputFile();
    const auto& Pool = DomainPool();
    std::vector<std::string> Utf8;
    for (const QString& S : Pool)
        Utf8.push_back(S.toStdString());
    const std::string Out = F.Dir.filePath(QStringLiteral("out_std.txt")).toStdString();
    qint64 Bytes = 0;
    for (auto _ : State) {
        std::ofstream Stream(Out, std::ios::trunc);
        for (qint64 I = 0; I < F.Lines; ++I)
            Stream << Utf8[size_t(I) % Utf8.size()] << '\n';
        Stream.close();
        Bytes = QFile(QString::fromStdString(Out)).size();
    }
    State.SetBytesProcessed(State.iterations() * Bytes);
}

// The resolve job's pattern: read a domain list, write one line per entry.
void BM_ReadAndWrite(benchmark::State& State) {
    const TBenchFile& F = InputFile();
    const QString Out = F.Dir.filePath(QStringLiteral("copy.txt"));
    for (auto _ : State) {
        TLineReader Reader(F.Name, 1024);
        TLineWriter Writer(Out, false);
        Writer.SetLineBreak(QStringLiteral("\n"));
        while (!Reader.EndOfLines())
            Writer.WriteLine(Reader.ReadLine());
        Writer.Close();
    }
    State.SetBytesProcessed(State.iterations() * F.Size);
}

}  // namespace

BENCHMARK(BM_LineReader)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_StdGetline)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LineWriter)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_StdOfstream)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReadAndWrite)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
