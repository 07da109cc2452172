#include "ResolveHarness.h"

#include "engine/uMainThread.h"
#include "support/LocalDnsServers.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

// A long run of the whole job against local servers: 500 workers, 50,000 lines
// of every kind, blocklists on. Not part of the normal test run; started by
// scripts/soak.sh, which passes --gtest_also_run_disabled_tests.

namespace {

constexpr int kLines = 50000;
constexpr int kThreads = 500;
constexpr int kHosts = 20000;

const QString kDBL = "dbl.vt-bl.test";
const QString kRBL1 = "rbl1.vt-bl.test";
const QString kRBL2 = "rbl2.vt-bl.test";

// Resident set size and its peak, in kB, of this process.
void MemoryKB(qint64& ARss, qint64& APeak) {
    ARss = APeak = -1;
    QFile F("/proc/self/status");
    if (!F.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray& L : F.readAll().split('\n')) {
        const QList<QByteArray> P = L.simplified().split(' ');
        if (P.size() >= 2 && P[0] == "VmRSS:")
            ARss = P[1].toLongLong();
        if (P.size() >= 2 && P[0] == "VmHWM:")
            APeak = P[1].toLongLong();
    }
}

QString HostAddress(int I) {
    // Every 25th host lies in 10.9.0.0/16, which both RBL zones list.
    if (I % 25 == 0)
        return QString("10.9.%1.%2").arg((I / 250) % 256).arg(I % 250 + 1);
    return QString("10.%1.%2.%3").arg(20 + I / 62500).arg((I / 250) % 250).arg(I % 250 + 1);
}

bool RblListed(const QString& AAddress) { return AAddress.startsWith("10.9."); }

struct TSoakInput {
    QStringList Lines;
    // The output lines ("%ip% %domain%") each input line must produce.
    QList<QStringList> Expected;
};

// Every line is unique, so each output line names the input line it came from.
TSoakInput BuildInput() {
    TSoakInput In;
    In.Lines.reserve(kLines);
    In.Expected.reserve(kLines);
    for (int I = 0; In.Lines.size() < kLines; ++I) {
        QString Line;
        QStringList Out;
        switch (I % 10) {
        case 0: case 1: case 2: case 3: {   // resolvable
            Line = QString("h%1.vt.test").arg(I);
            const QString A = HostAddress(I % kHosts);
            if (!RblListed(A))
                Out << A + ' ' + Line;
            break;
        }
        case 4: case 5:                      // NXDOMAIN
            Line = QString("nx%1.vt.test").arg(I);
            break;
        case 6: {                            // an address, every fourth one listed
            const int K = I / 10;
            const QString A = K % 4 == 0 ? QString("10.9.%1.%2").arg(K / 256).arg(K % 256)
                                         : QString("10.%1.%2.1").arg(100 + K % 100).arg(K / 100);
            Line = A;
            if (!RblListed(A))
                Out << A + ' ' + A;
            break;
        }
        case 7: {                            // a network, every fourth one listed
            const int K = I / 10;
            const QString A = K % 4 == 1 ? QString("10.9.%1.%2/24").arg(K / 256).arg(K % 256)
                                         : QString("10.%1.%2.0/24").arg(150 + K % 50).arg(K / 50);
            Line = A;
            if (!RblListed(A))
                Out << A + ' ' + A;
            break;
        }
        case 8:                              // listed in the DBL
            Line = QString("d%1.evil.example").arg(I);
            break;
        case 9:                              // blanks, or a blank-padded domain
            if (I % 20 == 9) {
                Line = "   ";
            } else {
                Line = QString("  nx%1.vt.test  ").arg(I);
            }
            break;
        }
        In.Lines << Line;
        In.Expected << Out;
    }
    return In;
}

QList<TLocalDnsServers::THostEntry> BuildHosts(const TSoakInput& AIn) {
    QList<TLocalDnsServers::THostEntry> Hosts;
    for (int I = 0; I < AIn.Lines.size(); ++I)
        if (AIn.Lines[I].startsWith('h'))
            Hosts << TLocalDnsServers::THostEntry{HostAddress(I % kHosts), AIn.Lines[I]};
    return Hosts;
}

// Accounts for every output line of a run over the input lines 0..ALast.
// A lookup the server leaves unanswered (or refuses) under load is a failed
// lookup by design: an A lookup yields no address, an RBL lookup lets its item
// through. So every output line must be the expected line of its input line,
// or the line of an RBL-listed item that passed unchecked; an expected line may
// be missing only when it came from a domain's A lookup. Nothing may appear
// twice, and address or network lines are never lost. Empty when all holds.
std::string Account(const TSoakInput& AIn, const QStringList& AGot, int ALast, int& ALostA, int& APassedUnchecked) {
    ALostA = APassedUnchecked = 0;
    QHash<QString, int> IndexOfLine;
    for (int I = 0; I < AIn.Lines.size(); ++I)
        IndexOfLine.insert(AIn.Lines[I].trimmed(), I);
    QHash<int, QString> Seen;
    QStringList Errors;
    for (const QString& S : AGot) {
        const QString Ip = S.section(' ', 0, 0), Domain = S.section(' ', 1);
        const int I = IndexOfLine.value(Domain, -1);
        if (I < 0 || I > ALast) {
            Errors << "unknown or out of range: " + S;
            continue;
        }
        if (Seen.contains(I)) {
            Errors << "twice: " + S;
            continue;
        }
        Seen.insert(I, S);
        if (AIn.Expected[I].contains(S))
            continue;
        if (RblListed(Ip) && AIn.Expected[I].isEmpty() && (Ip == Domain || Ip == HostAddress(I % kHosts)))
            ++APassedUnchecked;
        else
            Errors << "unexpected: " + S;
    }
    for (int I = 0; I <= ALast && I < AIn.Lines.size(); ++I) {
        if (AIn.Expected[I].isEmpty() || Seen.contains(I))
            continue;
        if (AIn.Lines[I].startsWith('h'))
            ++ALostA;
        else
            Errors << "lost: " + AIn.Expected[I].join(',');
    }
    return Errors.mid(0, 10).join("; ").toStdString();
}

void Report(const char* AWhat, qint64 AMSec, int ALines, const TResolveRun& R) {
    qint64 Rss, Peak;
    MemoryKB(Rss, Peak);
    std::printf("[soak] %-34s %7.1f s  %6d output lines  RSS %lld kB  peak RSS %lld kB  live threads %d\n", AWhat,
                AMSec / 1000.0, ALines, Rss, Peak, R.Log.ActiveThreads());
    std::fflush(stdout);
}

} // namespace

TEST(SoakTest, DISABLED_FiveHundredWorkersFiftyThousandLines) {
    VT_SKIP_WITHOUT_DNS_SERVERS();
    const TSoakInput In = BuildInput();
    TLocalDnsServers Servers;
    TLocalDnsServers::TOptions Options;
    Options.Hosts = BuildHosts(In);
    Options.Zones = {{kDBL, "dnset", {"*.evil.example"}},
                     {kRBL1, "ip4set", {"10.9.0.0/16"}},
                     {kRBL2, "ip4set", {"10.9.0.0/16"}}};
    Options.StartTimeoutMs = 20000;
    ASSERT_TRUE(Servers.Start(Options)) << Servers.LastError().toStdString();
    ASSERT_EQ(Servers.StartAnotherDnsmasq(), 1) << Servers.LastError().toStdString();

    qint64 Rss, Peak;
    MemoryKB(Rss, Peak);
    int Expected = 0;
    for (const QStringList& E : In.Expected)
        Expected += int(E.size());
    std::printf("[soak] %d lines, %d workers, %d hosts, %d expected output lines; RSS before %lld kB\n", kLines,
                kThreads, int(Options.Hosts.size()), Expected, Rss);

    TResolveRun R;
    R.SetDomains(In.Lines);
    R.SetDNS({Servers.DnsAddress(0), Servers.DnsAddress(1)});
    R.SetDBL(blSuppress, {kDBL});
    R.SetRBL(blSuppress, {kRBL1, kRBL2});
    R.Utils.SetOutFormat("%ip% %domain%");
    R.Utils.SetThreads(kThreads);
    R.Utils.SetDNSTimeoutMSec(5000);

    auto Check = [&](const char* AWhat, qint64 AMSec, int ALast) {
        int LostA = 0, Passed = 0;
        const QStringList Got = R.SortedResult();
        const std::string Errors = Account(In, Got, ALast, LostA, Passed);
        Report(AWhat, AMSec, int(Got.size()), R);
        std::printf("[soak]   input lines 0..%d; addresses lost to unanswered A lookups: %d; listed items "
                    "passed by unanswered RBL lookups: %d\n",
                    ALast, LostA, Passed);
        EXPECT_EQ(Errors, "");
        EXPECT_EQ(R.Log.ActiveThreads(), 0);
        EXPECT_EQ(R.Utils.LiveThreads(), 0);
        // A quiet run logs its summary line only.
        EXPECT_EQ(R.LogLines().size(), 1) << R.LogLines().mid(0, 10).join('\n').toStdString();
        EXPECT_TRUE(R.LogLines().value(0).startsWith("Done: ")) << R.LogLines().value(0).toStdString();
    };

    // 1. No pause.
    R.Utils.SetPauseMSec(0);
    QElapsedTimer T;
    T.start();
    ASSERT_TRUE(R.Run(600000));
    Check("full run, pause 0 ms", T.elapsed(), kLines - 1);

    // 2. The window's pause.
    R.Utils.SetPauseMSec(200);
    T.restart();
    ASSERT_TRUE(R.Run(600000));
    Check("full run, pause 200 ms", T.elapsed(), kLines - 1);

    // 3. Break half way: the run ends within a pause or a lookup, and every
    // line taken is finished, so the output is that of a prefix of the input.
    T.restart();
    R.Start();
    ASSERT_TRUE(WaitServing([&] { return R.Utils.LockedResultCount() >= Expected / 2; }, 600000));
    const qint64 BreakAt = T.elapsed();
    R.Progress.BreakClick();
    QElapsedTimer Stop;
    Stop.start();
    ASSERT_TRUE(R.WaitEnd(30000));
    const qint64 StopMSec = Stop.elapsed();
    QHash<QString, int> IndexOfLine;
    for (int I = 0; I < In.Lines.size(); ++I)
        IndexOfLine.insert(In.Lines[I].trimmed(), I);
    int Last = -1;
    for (int I = 0; I < R.Utils.ResultList()->Count(); ++I)
        Last = qMax(Last, IndexOfLine.value(R.Utils.ResultList()->Get(I).section(' ', 1), -1));
    Check("run broken half way", T.elapsed(), Last);
    std::printf("[soak]   break after %.1f s; all threads gone %lld ms after the break\n", BreakAt / 1000.0,
                StopMSec);
    EXPECT_LT(Last, kLines - 1000);
}
