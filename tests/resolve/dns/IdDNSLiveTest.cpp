#include "resolve/dns/IdDNSResolver.h"
#include "support/LocalDnsServers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

QStringList Addresses(const TIdDNSResolver& R) {
    QStringList Out;
    for (int I = 0; I < R.QueryResult().Count(); ++I) {
        const TResultRecord* Rec = R.QueryResult().GetItem(I);
        if (Rec->RecType() == qtA)
            Out << static_cast<const TARecord*>(Rec)->IPAddress();
    }
    return Out;
}

class DnsLive : public ::testing::Test {
protected:
    void SetUp() override {
        VT_SKIP_WITHOUT_DNS_SERVERS();
        ASSERT_TRUE(FServers.Start()) << FServers.LastError().toStdString();
    }
    void Prepare(TIdDNSResolver& R) {
        R.SetIPVersion(Id_IPv4);
        R.SetQueryType({qtA});
        R.SetHost(FServers.DnsAddress());
        R.SetWaitingTime(3000);
        R.QueryResult().Clear();
    }
    TLocalDnsServers FServers;
};

} // namespace

TEST_F(DnsLive, HostsFileAddressesComeBackInReplyOrder) {
    TIdDNSResolver R;
    Prepare(R);
    R.Resolve("www.vt.test");
    const QStringList Got = Addresses(R);
    QStringList Sorted = Got;
    Sorted.sort();
    EXPECT_EQ(Sorted, QStringList({"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
    // The list follows the datagram: each address's RDATA stands later in it
    // than the one before.
    qsizetype Last = -1;
    for (const QString& A : Got) {
        QByteArray Raw;
        for (const QString& Octet : A.split('.'))
            Raw.append(char(Octet.toInt()));
        const qsizetype At = R.PlainTextResult().indexOf(QByteArray("\x00\x04", 2) + Raw);
        EXPECT_GT(At, Last) << A.toStdString();
        Last = At;
    }
    for (int I = 0; I < R.QueryResult().Count(); ++I)
        EXPECT_EQ(R.QueryResult().GetItem(I)->Name(), "www.vt.test");
}

TEST_F(DnsLive, UnknownLocalNameAndBlocklistZones) {
    TIdDNSResolver R;
    Prepare(R);
    try {
        R.Resolve("missing.vt.test");
        FAIL() << "no error for a name that does not exist";
    } catch (const EIdDnsResolverError& E) {
        EXPECT_EQ(E.Message(), "DNS Server Reports Query Name Error");
    }
    EXPECT_EQ(R.QueryResult().Count(), 0);

    R.QueryResult().Clear();
    R.Resolve("bad.example.dbl.vt-bl.test");
    EXPECT_EQ(Addresses(R), QStringList({"127.0.0.2"}));
    R.QueryResult().Clear();
    R.Resolve("3.2.1.10.rbl1.vt-bl.test");
    EXPECT_EQ(Addresses(R), QStringList({"127.0.0.2"}));
}

// Each thread owns its client; only the identifier source is shared.
TEST_F(DnsLive, ConcurrentClients) {
    const int Threads = 6, Lookups = 15;
    std::atomic<int> Good{0};
    std::vector<std::thread> Pool;
    for (int T = 0; T < Threads; ++T)
        Pool.emplace_back([&] {
            TIdDNSResolver R;
            Prepare(R);
            for (int I = 0; I < Lookups; ++I) {
                R.QueryResult().Clear();
                try {
                    R.Resolve(I % 2 ? "mail.vt.test" : "clean.vt.test");
                    if (Addresses(R) == QStringList({I % 2 ? "192.0.2.10" : "10.1.2.4"}))
                        ++Good;
                } catch (const EIdException&) {
                }
            }
        });
    for (std::thread& T : Pool)
        T.join();
    EXPECT_EQ(Good.load(), Threads * Lookups);
}
