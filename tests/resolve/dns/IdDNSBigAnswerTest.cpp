// Names with more addresses than a plain 512-byte datagram holds, and servers
// on IPv6, against a real dnsmasq.
#include "resolve/dns/IdDNSResolver.h"
#include "support/LocalDnsServers.h"

#include <gtest/gtest.h>

#include <QSet>

namespace {

QSet<QString> AddressesOf(const TIdDNSResolver& R, TQueryRecordTypes AType) {
    QSet<QString> Out;
    for (int I = 0; I < R.QueryResult().Count(); ++I) {
        const TResultRecord* Rec = R.QueryResult().GetItem(I);
        if (Rec->RecType() == qtA && AType == qtA)
            Out << static_cast<const TARecord*>(Rec)->IPAddress();
        if (Rec->RecType() == qtAAAA && AType == qtAAAA)
            Out << static_cast<const TAAAARecord*>(Rec)->Address();
    }
    return Out;
}

class DnsBigAnswers : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!TLocalDnsServers::BinariesAvailable())
            return;
        TLocalDnsServers::TOptions Options;
        Options.ListenIPv6 = true;
        for (int I = 0; I < 45; ++I)
            Options.Hosts.append({QString("10.45.0.%1").arg(I + 1), "many45.vt.test"});
        for (int I = 0; I < 120; ++I)
            Options.Hosts.append({QString("10.120.0.%1").arg(I + 1), "many120.vt.test"});
        for (int I = 0; I < 30; ++I)
            Options.Hosts.append({QString("2001:db8::%1").arg(I + 1, 0, 16), "many6.vt.test"});
        QString Error;
        FServers = TLocalDnsServers::StartShared(Options, 0, Error).release();
        FError = Error;
    }
    static void TearDownTestSuite() {
        delete FServers;
        FServers = nullptr;
    }
    void SetUp() override {
        VT_SKIP_WITHOUT_DNS_SERVERS();
        ASSERT_NE(FServers, nullptr) << FError.toStdString();
    }
    static void Ask(TIdDNSResolver& R, const QString& AHost, const QString& AName, TQueryRecordTypes AType) {
        R.SetQueryType({AType});
        R.SetHost(AHost);
        R.SetWaitingTime(3000);
        R.QueryResult().Clear();
        R.Resolve(AName);
    }
    static inline TLocalDnsServers* FServers = nullptr;
    static inline QString FError;
};

} // namespace

TEST_F(DnsBigAnswers, EveryAddressComesBack) {
    const QString Host = FServers->DnsAddress();
    struct TCase {
        const char* Name;
        TQueryRecordTypes Type;
        int Count;
        bool OverTcp;   // 120 A records need 1.9 KB: more than the 1232 offered
    } Cases[] = {{"many45.vt.test", qtA, 45, false},
                 {"many120.vt.test", qtA, 120, true},
                 {"many6.vt.test", qtAAAA, 30, false}};
    for (const TCase& C : Cases) {
        TIdDNSResolver R;
        Ask(R, Host, C.Name, C.Type);
        EXPECT_EQ(AddressesOf(R, C.Type).size(), C.Count) << C.Name;
        EXPECT_EQ(R.UsedTCP(), C.OverTcp) << C.Name;
        EXPECT_FALSE(R.DNSHeader().TC()) << C.Name;
        if (!C.OverTcp) {   // one datagram, past the old 512-byte limit
            EXPECT_GT(R.PlainTextResult().size(), 512) << C.Name;
        }
    }
}

TEST_F(DnsBigAnswers, ServersOnIPv6InEveryForm) {
    const quint16 Port = FServers->DnsPort();
    const QSet<QString> Expected = [] {
        QSet<QString> S;
        for (int I = 0; I < 45; ++I)
            S << QString("10.45.0.%1").arg(I + 1);
        return S;
    }();
    TIdDNSResolver R;
    // Bare, with the client's port.
    R.SetPort(Port);
    Ask(R, "::1", "many45.vt.test", qtA);
    EXPECT_EQ(AddressesOf(R, qtA), Expected);
    R.SetPort(53);
    // Bracketed with a port, and a rotation that mixes the families, twice
    // round so each family's socket is used again.
    const QStringList Rotation{QString("[::1]:%1").arg(Port), QString("127.0.0.1:%1").arg(Port),
                               QString("[0:0:0:0:0:0:0:1]:%1").arg(Port), QString("localhost:%1").arg(Port)};
    for (int Round = 0; Round < 2; ++Round)
        for (const QString& Host : Rotation) {
            Ask(R, Host, "many45.vt.test", qtA);
            EXPECT_EQ(AddressesOf(R, qtA), Expected) << Host.toStdString();
            Ask(R, Host, "many120.vt.test", qtA);
            EXPECT_EQ(AddressesOf(R, qtA).size(), 120) << Host.toStdString();
        }
}
