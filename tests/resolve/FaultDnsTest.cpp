// Runs of the whole job against DNS servers that misbehave: one that dies in
// the middle of a run, and ones that answer garbage, with the wrong
// identifier, or with floods of datagrams. Whatever they do, the run must end,
// every input line must have been taken, and no address the server did not
// give for that very name may reach the output.
#include "ResolveHarness.h"

#include "engine/uMainThread.h"
#include "support/FakeUdpServer.h"
#include "support/LocalDnsServers.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <random>
#include <thread>

namespace {

// The address each test name stands for: hN.vt.test is 10.77.N/256.N%256.
QString HostName(int I) { return QString("h%1.vt.test").arg(I); }
QString HostAddress(int I) { return QString("10.77.%1.%2").arg(I / 256).arg(I % 256); }

// The question name of a query, dotted; empty when it does not parse.
QString QuestionName(const QByteArray& Q) {
    QStringList Labels;
    int P = 12;
    while (P < Q.size()) {
        const int Len = quint8(Q[P]);
        if (Len == 0)
            return Labels.join('.');
        if (Len > 63 || P + 1 + Len > Q.size())
            return QString();
        Labels << QString::fromLatin1(Q.mid(P + 1, Len));
        P += 1 + Len;
    }
    return QString();
}

// A well-formed answer to AQuery: one A record holding AAddress, with the
// query's identifier XOR-ed with AIdXor.
QByteArray AnswerA(const QByteArray& AQuery, const QString& AAddress, quint16 AIdXor = 0) {
    // Header and question of the query, up to the end of QTYPE and QCLASS.
    int P = 12;
    while (P < AQuery.size() && quint8(AQuery[P]) != 0)
        P += 1 + quint8(AQuery[P]);
    QByteArray R = AQuery.left(P + 5);
    R[2] = char(0x81);   // a response, recursion desired
    R[3] = char(0x80);   // recursion available, no error
    R[6] = 0, R[7] = 1;  // one answer
    R[8] = R[9] = R[10] = R[11] = 0;
    const quint16 Id = quint16((quint8(R[0]) << 8 | quint8(R[1])) ^ AIdXor);
    R[0] = char(Id >> 8), R[1] = char(Id & 0xFF);
    R += QByteArray::fromHex("c00c000100010000003c0004");
    for (const QString& Octet : AAddress.split('.'))
        R += char(Octet.toInt());
    return R;
}

// A loopback UDP server that answers each query with a burst of datagrams
// from a list the test builds per query; for floods a real server never sends.
class TFloodServer {
public:
    using TBurst = std::function<QList<QByteArray>(const QByteArray& AQuery, int AIndex)>;

    explicit TFloodServer(TBurst ABurst) : FBurst(std::move(ABurst)) {
        FSocket = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in A{};
        A.sin_family = AF_INET;
        A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(FSocket, reinterpret_cast<sockaddr*>(&A), sizeof A);
        socklen_t L = sizeof A;
        getsockname(FSocket, reinterpret_cast<sockaddr*>(&A), &L);
        FPort = ntohs(A.sin_port);
        FThread = std::thread([this] { Run(); });
    }
    ~TFloodServer() {
        FStop = true;
        FThread.join();
        close(FSocket);
    }
    QString Address() const { return QString("127.0.0.1:%1").arg(FPort); }
    int Queries() const { return FCount; }
    int Sent() const { return FSent; }

private:
    void Run() {
        char Buf[1500];
        while (!FStop) {
            pollfd P{FSocket, POLLIN, 0};
            if (poll(&P, 1, 50) <= 0)
                continue;
            sockaddr_in From{};
            socklen_t L = sizeof From;
            const ssize_t N = recvfrom(FSocket, Buf, sizeof Buf, 0, reinterpret_cast<sockaddr*>(&From), &L);
            if (N <= 0)
                continue;
            for (const QByteArray& D : FBurst(QByteArray(Buf, int(N)), FCount++)) {
                if (sendto(FSocket, D.constData(), size_t(D.size()), 0, reinterpret_cast<sockaddr*>(&From), L) > 0)
                    ++FSent;
            }
        }
    }

    TBurst FBurst;
    int FSocket = -1;
    quint16 FPort = 0;
    std::atomic<bool> FStop{false};
    std::atomic<int> FCount{0};
    std::atomic<int> FSent{0};
    std::thread FThread;
};

class FaultDnsTest : public ::testing::Test {
protected:
    void SetUp() override {
        R.Utils.SetOutFormat("%ip% %domain%");
        R.Utils.SetDNSTimeoutMSec(300);
        R.Utils.SetDetailedLog(true);
    }

    // Domain lines h0..h(N-1) with an address line after every tenth.
    QStringList Input(int N) {
        QStringList L;
        for (int I = 0; I < N; ++I) {
            L << HostName(I);
            if (I % 10 == 0)
                L << QString("192.0.2.%1").arg(I / 10);
        }
        return L;
    }

    // Every output line must be an address of the name it names, or an
    // address line passed through; no line twice.
    void ExpectOnlyTrueAddresses() {
        QSet<QString> Seen;
        static const QRegularExpression Host("^h(\\d+)\\.vt\\.test$");
        for (const QString& Line : ToQStringList(R.Utils.ResultList())) {
            EXPECT_FALSE(Seen.contains(Line)) << "twice: " << Line.toStdString();
            Seen.insert(Line);
            const QStringList P = Line.split(' ');
            ASSERT_EQ(P.size(), 2) << Line.toStdString();
            const QRegularExpressionMatch M = Host.match(P[1]);
            if (M.hasMatch())
                EXPECT_EQ(P[0], HostAddress(M.captured(1).toInt())) << Line.toStdString();
            else
                EXPECT_EQ(P[0], P[1]) << Line.toStdString();
        }
    }

    // Every input line was taken once: each domain reached its lookup, each
    // address line reached the output.
    void ExpectEveryLineTaken(const QStringList& AInput) {
        QHash<QString, int> Looked;
        static const QRegularExpression Resolving("^Resolving domain \"([^\"]+)\"");
        for (const QString& S : R.LogLines()) {
            const QRegularExpressionMatch M = Resolving.match(S);
            if (M.hasMatch())
                ++Looked[M.captured(1)];
        }
        const QStringList Out = ToQStringList(R.Utils.ResultList());
        for (const QString& Line : AInput) {
            if (Line.startsWith("192.0.2."))
                EXPECT_TRUE(Out.contains(Line + ' ' + Line)) << "address line lost: " << Line.toStdString();
            else
                EXPECT_EQ(Looked.value(Line), 1) << "domain not looked up once: " << Line.toStdString();
        }
    }

    void ExpectNoThreadLeft() {
        EXPECT_EQ(R.Utils.LiveThreads(), 0);
        EXPECT_EQ(R.Log.ActiveThreads(), 0);
        EXPECT_EQ(R.AfterStopCount, 1);
    }

    TResolveRun R;
};

} // namespace

TEST_F(FaultDnsTest, ServerDyingMidRunEndsTheRunWithEveryLineTaken) {
    VT_SKIP_WITHOUT_DNS_SERVERS();
    constexpr int N = 300;
    TLocalDnsServers Servers;
    TLocalDnsServers::TOptions Options;
    Options.Zones.clear();
    for (int I = 0; I < N; ++I)
        Options.Hosts << TLocalDnsServers::THostEntry{HostAddress(I), HostName(I)};
    ASSERT_TRUE(Servers.Start(Options)) << Servers.LastError().toStdString();

    const QStringList In = Input(N);
    R.SetDomains(In);
    R.SetDNS({Servers.DnsAddress()});
    R.Utils.SetThreads(8);
    // Slow enough that the server dies with most names still to do.
    R.Utils.SetPauseMSec(20);
    R.Start();
    ASSERT_TRUE(WaitServing([this] { return R.Utils.LockedResultCount() >= 40; }, 20000));
    Servers.StopDnsmasq(0);
    const int AtDeath = R.Utils.LockedResultCount();
    ASSERT_TRUE(R.WaitEnd(30000)) << "the run did not end after the server died";

    ExpectNoThreadLeft();
    ExpectOnlyTrueAddresses();
    ExpectEveryLineTaken(In);
    // The server really died mid-run: names after its death found nothing.
    const int Resolved = R.Utils.ResultList()->Count() - (N / 10);
    EXPECT_LT(Resolved, N - 20) << "at death " << AtDeath;
}

TEST_F(FaultDnsTest, GarbageRepliesNeverBecomeAddresses) {
    std::mt19937 Rng(20260);
    std::mutex RngLock;
    TFakeUdpServer Server([&](const QByteArray& Q) -> std::optional<QByteArray> {
        std::lock_guard<std::mutex> Lock(RngLock);
        QByteArray G(int(Rng() % 600), Qt::Uninitialized);
        for (char& C : G)
            C = char(Rng());
        // Half of them carry the query's identifier and so reach the decoder;
        // some of those also look like an answer with records.
        if (Rng() % 2 == 0 && G.size() >= 12) {
            G = TFakeUdpServer::WithIdOf(Q, G);
            G[2] = char(0x81), G[3] = char(0x80);
        }
        return G;
    });
    ASSERT_TRUE(Server.IsListening());
    const QStringList In = Input(150);
    R.SetDomains(In);
    R.SetDNS({Server.Address()});
    R.Utils.SetThreads(16);
    ASSERT_TRUE(R.Run(30000));
    ExpectNoThreadLeft();
    // Only the address lines come out.
    EXPECT_EQ(R.Utils.ResultList()->Count(), 15) << ToQStringList(R.Utils.ResultList()).join('\n').toStdString();
    ExpectOnlyTrueAddresses();
    ExpectEveryLineTaken(In);
    EXPECT_GE(Server.QueryCount(), 150);
}

TEST_F(FaultDnsTest, RepliesWithAnotherIdentifierAreRefused) {
    TFakeUdpServer Server([](const QByteArray& Q) -> std::optional<QByteArray> {
        // A perfect answer, but to some other query.
        return AnswerA(Q, "6.6.6.6", 0x0101);
    });
    ASSERT_TRUE(Server.IsListening());
    const QStringList In = Input(60);
    R.SetDomains(In);
    R.SetDNS({Server.Address()});
    R.Utils.SetThreads(8);
    ASSERT_TRUE(R.Run(30000));
    ExpectNoThreadLeft();
    EXPECT_FALSE(ToQStringList(R.Utils.ResultList()).join('\n').contains("6.6.6.6"));
    EXPECT_EQ(R.Utils.ResultList()->Count(), 6);
    ExpectEveryLineTaken(In);
    // Not the reply: passed over until the time-out, and the lookup failed.
    EXPECT_EQ(R.Utils.RunCounters().LookupsFailed, 60) << R.LogText().toStdString();
}

TEST_F(FaultDnsTest, FloodsOfRepliesGiveEachNameOnlyItsOwnAddressOnce) {
    // Every query gets 40 datagrams: copies of the true answer, answers of
    // other identifiers with a false address, and garbage. Every other query
    // gets a false one first, which the client must refuse rather than take
    // a later datagram or the false address.
    TFloodServer Server([](const QByteArray& Q, int AIndex) {
        const QString Name = QuestionName(Q);
        static const QRegularExpression Host("^h(\\d+)\\.vt\\.test$");
        const QRegularExpressionMatch M = Host.match(Name);
        const QByteArray True = AnswerA(Q, M.hasMatch() ? HostAddress(M.captured(1).toInt()) : "0.0.0.0");
        QList<QByteArray> Burst;
        if (AIndex % 2 == 1)
            Burst << AnswerA(Q, "6.6.6.6", quint16(AIndex + 1));
        for (int I = 0; I < 13; ++I)
            Burst << True << AnswerA(Q, "6.6.6.6", quint16(I + 1)) << QByteArray(I * 7, char(0xA5));
        return Burst;
    });
    const QStringList In = Input(200);
    R.SetDomains(In);
    R.SetDNS({Server.Address()});
    R.Utils.SetThreads(32);
    ASSERT_TRUE(R.Run(30000));
    ExpectNoThreadLeft();
    ExpectOnlyTrueAddresses();
    ExpectEveryLineTaken(In);
    EXPECT_FALSE(ToQStringList(R.Utils.ResultList()).join('\n').contains("6.6.6.6"));
    // The queries answered true first did resolve.
    EXPECT_GE(R.Utils.ResultList()->Count(), 20 + 100 - 10) << Server.Queries() << " queries";
    EXPECT_GE(Server.Sent(), 200 * 38);
}
