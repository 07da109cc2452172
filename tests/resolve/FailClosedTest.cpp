// Break during runs whose blocklist checks wait on a server that stays
// silent for some of them: nothing whose check was cut short is written, in
// either mode, and nothing a Break cut short counts as failed.
#include "ResolveHarness.h"

#include "engine/uMainThread.h"
#include "support/FakeUdpServer.h"

#include <QElapsedTimer>
#include <QtEndian>

#include <gtest/gtest.h>

#include <random>

namespace {

constexpr int kThreads = 500;
constexpr int kDomains = 6000;
const QString kRBL = QStringLiteral("rbl.vt.test");
const QString kDBL = QStringLiteral("dbl.vt.test");

// The labels of the question of a DNS query, and the offset past its class.
QStringList QuestionLabels(const QByteArray& AQuery, int& AEnd) {
    QStringList Labels;
    int Pos = 12;
    while (Pos < AQuery.size() && quint8(AQuery[Pos]) != 0) {
        const int Len = quint8(AQuery[Pos]);
        Labels << QString::fromLatin1(AQuery.mid(Pos + 1, Len));
        Pos += Len + 1;
    }
    AEnd = Pos + 5;
    return Labels;
}

// A reply to AQuery: its question, then one A record per address; without
// addresses an NXDOMAIN.
QByteArray Reply(const QByteArray& AQuery, int AQuestionEnd, const QList<quint32>& AAddresses) {
    QByteArray R = AQuery.left(2);
    R += TFakeUdpServer::Hex(AAddresses.isEmpty() ? "81 83 00 01" : "81 80 00 01");
    char Count[2];
    qToBigEndian<quint16>(quint16(AAddresses.size()), Count);
    R += QByteArray(Count, 2) + TFakeUdpServer::Hex("00 00 00 00");
    R += AQuery.mid(12, AQuestionEnd - 12);
    for (const quint32 A : AAddresses) {
        R += TFakeUdpServer::Hex("c0 0c 00 01 00 01 00 00 00 3c 00 04");
        char Bytes[4];
        qToBigEndian<quint32>(A, Bytes);
        R += QByteArray(Bytes, 4);
    }
    return R;
}

// Domain dN has the addresses 10.(N / 256).(N % 256).1 and .2. The zones'
// listings and their silences follow from N alone, so the test can tell
// from a written line what its checks answered.
quint32 AddressOf(int N, int AHost) { return (10u << 24) | (quint32(N) << 8) | quint32(AHost); }
bool DBLListed(int N) { return N % 5 == 0; }
bool DBLSilent(int N) { return N % 7 == 6; }
bool RBLListed(int N, int AHost) { return AHost == 1 ? N % 3 == 0 : N % 4 == 0; }
// The second address of some domains is never answered: a Break finds their
// workers waiting on it, after the first address was checked.
bool RBLSilent(int N, int AHost) { return AHost == 2 && N % 4 == 3; }

std::optional<QByteArray> Answer(const QByteArray& AQuery) {
    int End = 0;
    const QStringList L = QuestionLabels(AQuery, End);
    if (End > AQuery.size())
        return std::nullopt;
    const QString Name = L.join('.');
    if (Name.endsWith('.' + kDBL)) {
        const int N = L.value(0).mid(1).toInt();
        if (DBLSilent(N))
            return std::nullopt;
        return Reply(AQuery, End, DBLListed(N) ? QList<quint32>{0x7F000002u} : QList<quint32>{});
    }
    if (Name.endsWith('.' + kRBL)) {
        // "host.c.b.10.rbl.vt.test"
        const int N = L.value(2).toInt() * 256 + L.value(1).toInt();
        const int Host = L.value(0).toInt();
        if (RBLSilent(N, Host))
            return std::nullopt;
        return Reply(AQuery, End, RBLListed(N, Host) ? QList<quint32>{0x7F000002u} : QList<quint32>{});
    }
    const int N = L.value(0).mid(1).toInt();
    return Reply(AQuery, End, {AddressOf(N, 1), AddressOf(N, 2)});
}

} // namespace

TEST(FailClosedTest, BreakAtRandomMomentsWritesOnlyFullyCheckedAddresses) {
    TFakeUdpServer Server(&Answer);
    ASSERT_TRUE(Server.IsListening());
    QStringList Domains;
    for (int N = 0; N < kDomains; ++N)
        Domains << QStringLiteral("d%1.vt.test").arg(N);
    TResolveRun R;
    R.SetDomains(Domains);
    R.SetDNS({Server.Address()});
    R.Utils.SetThreads(kThreads);
    // No silent check may time out before the Break: every one still waiting
    // then was cut short by it.
    R.Utils.SetDNSTimeoutMSec(30000);
    R.Utils.SetPauseMSec(0);

    const unsigned Seed = std::random_device()();
    std::mt19937 Random(Seed);
    qint64 CutShort = 0;
    for (int Run = 0; Run < 20; ++Run) {
        const TBLMode Mode = Run % 2 == 0 ? blSuppress : blSave;
        R.SetDBL(Mode, {kDBL});
        R.SetRBL(Mode, {kRBL});
        const int Before = Server.QueryCount();
        const int BreakAt = std::uniform_int_distribution<int>(50, 1000)(Random);
        R.Start();
        // The run cannot end by itself: silent checks hold some workers. When
        // every worker waits before BreakAt queries were asked, the Break
        // comes then.
        int Seen = -1;
        QElapsedTimer Still;
        WaitServing(
            [&] {
                const int Count = Server.QueryCount() - Before;
                if (Count >= BreakAt)
                    return true;
                // Settled: the same count over 200 ms.
                if (Count != Seen) {
                    Seen = Count;
                    Still.start();
                }
                return Still.elapsed() > 200;
            },
            30000);
        R.Progress.BreakClick();
        ASSERT_TRUE(R.WaitEnd(20000)) << "seed " << Seed << " run " << Run;

        const TQXRunCounters C = R.Utils.RunCounters();
        EXPECT_EQ(C.LookupsFailed, 0) << "seed " << Seed << " run " << Run;
        EXPECT_EQ(C.BLChecksFailed, 0) << "seed " << Seed << " run " << Run;
        CutShort += C.CutShort;
        const QStringList Written = R.SortedResult();
        EXPECT_EQ(C.Written, Written.size());
        for (const QString& Line : Written) {
            const QStringList Parts = Line.split('.');
            ASSERT_EQ(Parts.size(), 4) << Line.toStdString();
            const int N = Parts[1].toInt() * 256 + Parts[2].toInt();
            const int Host = Parts[3].toInt();
            const std::string Where = "seed " + std::to_string(Seed) + " run " + std::to_string(Run) + ": " +
                                      Line.toStdString();
            // Both checks of a written line were answered, and say it belongs.
            EXPECT_FALSE(DBLSilent(N)) << Where;
            EXPECT_FALSE(RBLSilent(N, Host)) << Where;
            if (Mode == blSuppress) {
                EXPECT_FALSE(DBLListed(N)) << Where;
                EXPECT_FALSE(RBLListed(N, Host)) << Where;
            } else {
                EXPECT_TRUE(DBLListed(N)) << Where;
                EXPECT_TRUE(RBLListed(N, Host)) << Where;
            }
        }
        if (::testing::Test::HasFailure())
            break;
    }
    // The silences were met: the Breaks did cut checks short.
    EXPECT_GT(CutShort, 0) << "seed " << Seed;
    EXPECT_TRUE(R.LogLines().last().contains(" cut short by Break.")) << R.LogLines().last().toStdString();
}

// A domain whose first address was checked and whose second one waits: the
// first is written, the second not, and the loop asks no more after Break.
TEST(FailClosedTest, TheRemainingAddressesOfADomainAreNotWorkedAfterBreak) {
    TFakeUdpServer Server(&Answer);
    ASSERT_TRUE(Server.IsListening());
    TResolveRun R;
    // d7: 10.0.7.1 not listed, 10.0.7.2 silent; d11 the same.
    R.SetDomains({"d7.vt.test", "d11.vt.test"});
    R.SetDNS({Server.Address()});
    R.Utils.SetThreads(1);
    R.Utils.SetDNSTimeoutMSec(30000);
    R.Utils.SetPauseMSec(0);
    R.SetRBL(blSuppress, {kRBL});
    R.Start();
    // The lookup, the first check and the second one that waits.
    ASSERT_TRUE(WaitServing([&] { return Server.QueryCount() >= 3; }, 10000));
    R.Progress.BreakClick();
    ASSERT_TRUE(R.WaitEnd(10000));
    EXPECT_EQ(R.SortedResult(), QStringList({"10.0.7.1"}));
    const TQXRunCounters C = R.Utils.RunCounters();
    EXPECT_EQ(C.BLChecksFailed, 0);
    EXPECT_EQ(C.LookupsFailed, 0);
    EXPECT_EQ(C.CutShort, 1);
    EXPECT_EQ(C.Written, 1);
    EXPECT_EQ(Server.QueryCount(), 3) << "d11.vt.test was asked after the Break";
}
