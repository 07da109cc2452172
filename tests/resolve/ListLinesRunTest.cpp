// Runs over lists as people have them: hosts files, filter rules, URLs,
// international names and comments, worked as the lines they stand for.
#include "ResolveHarness.h"

#include "engine/uMainThread.h"
#include "support/FakeUdpServer.h"
#include "support/LocalDnsServers.h"

#include <gtest/gtest.h>

TEST(ListLinesRunTest, HostsFilterUrlAndInternationalLinesGiveTheirNames) {
    VT_SKIP_WITHOUT_DNS_SERVERS();
    TLocalDnsServers Servers;
    TLocalDnsServers::TOptions Options;
    Options.Hosts << TLocalDnsServers::THostEntry{"10.5.5.5", "xn--bcher-kva.vt.test"};
    ASSERT_TRUE(Servers.Start(Options)) << Servers.LastError().toStdString();
    TResolveRun R;
    R.SetDNS({Servers.DnsAddress()});
    R.Utils.SetDetailedLog(true);
    R.Utils.SetOutFormat("%ip% %domain%");
    R.SetDomains({"# blocking hosts", "! filter title", "127.0.0.1 localhost ip6-localhost",
                  "0.0.0.0 www.vt.test mail.vt.test bad%name.vt.test   # two good, one bad",
                  "||clean.vt.test^$third-party", QString::fromUtf8("https://B\xC3\xBC" "cher.vt.test:8443/katalog"),
                  "*.mail.vt.test", QString::fromUtf16(u"0.0.0.0 b\u0378.vt.test"), "@@||listed.vt.test^"});
    ASSERT_TRUE(R.Run(20000));
    EXPECT_EQ(R.SortedResult(),
              QStringList({"10.0.0.1 www.vt.test", "10.0.0.2 www.vt.test", "10.0.0.3 www.vt.test",
                           "10.1.2.4 clean.vt.test", "10.5.5.5 xn--bcher-kva.vt.test", "192.0.2.10 mail.vt.test",
                           "192.0.2.10 mail.vt.test"}));
    const TQXRunCounters C = R.Utils.RunCounters();
    EXPECT_EQ(C.Lines, 9);
    EXPECT_EQ(C.Domains, 5);
    // Comments, hosts-file furniture and the exception rule are no skipped
    // lines; the bad name and the name IDNA refuses are.
    EXPECT_EQ(C.Skipped, 2);
    EXPECT_EQ(C.Written, 7);
    const QStringList L = R.LogLines();
    EXPECT_TRUE(L.contains("Not a domain: bad%name.vt.test")) << R.LogText().toStdString();
    EXPECT_TRUE(L.contains(QString::fromUtf16(u"International name cannot be converted: b\u0378.vt.test")));
    EXPECT_TRUE(L.filter("@@||listed.vt.test^").isEmpty());
    EXPECT_TRUE(L.contains("Resolving domain \"xn--bcher-kva.vt.test\" (dns server: " + Servers.DnsAddress() + ")..."));
    EXPECT_TRUE(L.filter(QRegularExpression("localhost|title|blocking")).isEmpty()) << R.LogText().toStdString();
}

namespace {

// A reply to AQuery with one A record, 10.9.8.7.
QByteArray AnswerAny(const QByteArray& AQuery) {
    int P = 12;
    while (P < AQuery.size() && quint8(AQuery[P]) != 0)
        P += 1 + quint8(AQuery[P]);
    QByteArray R = AQuery.left(P + 5);
    R[2] = char(0x81), R[3] = char(0x80);
    R[6] = 0, R[7] = 1;
    R[8] = R[9] = R[10] = R[11] = 0;
    return R + QByteArray::fromHex("c00c000100010000003c00040a090807");
}

} // namespace

TEST(ListLinesRunTest, EachNameOfAHostsLineHasItsPauseAndBreakStopsBetweenThem) {
    TFakeUdpServer Server([](const QByteArray& Q) { return std::optional<QByteArray>(AnswerAny(Q)); });
    ASSERT_TRUE(Server.IsListening());
    TResolveRun R;
    R.SetDNS({Server.Address()});
    // A pause of a minute: comments and skipped pieces before the names must
    // cost none, and the first name of the line must be followed by one.
    R.Utils.SetPauseMSec(60000);
    R.SetDomains({"# list", "! rules", ";", "0.0.0.0 localhost bad$.test", "0.0.0.0 a.test b.test c.test"});
    R.Start();
    ASSERT_TRUE(Server.WaitForQueries(1, 10000));
    R.Progress.BreakClick();
    ASSERT_TRUE(R.WaitEnd(10000));
    EXPECT_EQ(Server.QueryCount(), 1);
    EXPECT_EQ(R.SortedResult(), QStringList({"10.9.8.7"}));
    const TQXRunCounters C = R.Utils.RunCounters();
    EXPECT_EQ(C.Lines, 5);
    EXPECT_EQ(C.Domains, 1);
    EXPECT_EQ(C.Skipped, 1);
}

TEST(ListLinesRunTest, AddressHookTakesAddressesInsteadOfLines) {
    TFakeUdpServer Server([](const QByteArray& Q) { return std::optional<QByteArray>(AnswerAny(Q)); });
    ASSERT_TRUE(Server.IsListening());
    TResolveRun R;
    R.SetDNS({Server.Address()});
    R.Utils.SetOutFormat("%ip% %domain%");
    QStringList Taken;
    // Takes the addresses of names; address lines still become lines.
    R.Utils.SetAddressHook([&Taken](const QString& AIPText, const QString& ADomain) {
        Taken << AIPText + ' ' + ADomain;
        return AIPText != ADomain;
    });
    R.SetDomains({"a.test", "010.1.2.3/8", "0.0.0.0 b.test"});
    ASSERT_TRUE(R.Run(20000));
    Taken.sort();
    EXPECT_EQ(Taken, QStringList({"10.9.8.7 a.test", "10.9.8.7 b.test", "8.1.2.3/8 8.1.2.3/8"}));
    EXPECT_EQ(R.SortedResult(), QStringList({"8.1.2.3/8 8.1.2.3/8"}));
    // Only what was written counts as written.
    EXPECT_EQ(R.Utils.RunCounters().Written, 1);
}

// The window's list is read whole before the run: an exception below a rule
// takes it back, as in a regular file.
TEST(ListLinesRunTest, AnExceptionAnywhereInTheListTakesBackItsBlockRules) {
    TFakeUdpServer Server([](const QByteArray& Q) { return std::optional<QByteArray>(AnswerAny(Q)); });
    ASSERT_TRUE(Server.IsListening());
    TResolveRun R;
    R.SetDNS({Server.Address()});
    R.Utils.SetPauseMSec(0);
    R.Utils.SetDetailedLog(true);
    R.Utils.SetOutFormat("%domain%");
    R.Utils.SetCustomOutFormat(true);
    R.SetDomains({"||a.test^", "||b.a.test^", "||c.test^", "a.test", "@@||a.test^"});
    ASSERT_TRUE(R.Run(20000));
    EXPECT_EQ(R.SortedResult(), QStringList({"a.test", "c.test"}));
    EXPECT_EQ(R.Utils.RunCounters().Skipped, 2);
    EXPECT_TRUE(R.LogLines().contains("Excepted by a filter rule: b.a.test")) << R.LogText().toStdString();
    EXPECT_EQ(Server.QueryCount(), 2);
}
