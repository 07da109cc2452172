// Addresses no firewall may block (sinkhole answers, loopback, multicast,
// the DNS servers' own) and blocks too wide never become output lines,
// whatever gave them, unless the run is told to keep them.
#include "ResolveHarness.h"

#include "resolve/uAddressText.h"
#include "support/FakeUdpServer.h"

#include <gtest/gtest.h>

TEST(SpecialAddress, CautionOfAddressesAndBlocks) {
    TExtraSpecials Servers;
    Servers.IPv4 << 0xC0000235u;   // 192.0.2.53
    TIPv6Address Server6;
    ASSERT_TRUE(ParseIPv6Address(u"2001:db8::53", Server6));
    Servers.IPv6 << Server6;
    const struct {
        const char16_t* Text;
        TAddressCaution Caution;
    } Cases[] = {
        {u"0.0.0.0", acSpecial},         {u"0.0.0.9", acSpecial},          {u"127.0.0.1", acSpecial},
        {u"127.255.0.0/16", acSpecial},  {u"169.254.1.1", acSpecial},      {u"224.0.0.1", acSpecial},
        {u"239.1.0.0/16", acSpecial},    {u"255.255.255.255", acSpecial},  {u"240.0.0.0/8", acSpecial},
        {u"126.0.0.0/7", acTooWide},     {u"224.0.0.0/4", acTooWide},        {u"192.0.2.53", acSpecial},
        {u"192.0.2.0/24", acSpecial},    {u"::", acSpecial},               {u"::1", acSpecial},
        {u"fe80::1", acSpecial},         {u"febf::/16", acSpecial},        {u"ff02::1", acSpecial},
        {u"::ffff:127.0.0.1", acSpecial}, {u"::ffff:0:0/96", acSpecial},   {u"::ffff:224.1.2.3", acSpecial},
        {u"::/16", acSpecial},           {u"2000::/3", acTooWide},         {u"2001:db8::53", acSpecial},
        {u"2001:db8::/48", acSpecial},   {u"::ffff:192.0.2.53", acSpecial},
        // Ordinary ones, right beside the special ranges.
        {u"1.0.0.0/8", acNone},          {u"128.0.0.0/8", acNone},         {u"169.253.255.255", acNone},
        {u"223.255.255.255", acNone},    {u"192.0.2.54", acNone},          {u"10.0.0.0/8", acNone},
        {u"::2", acNone},                {u"fec0::1", acNone},             {u"2001:db8:1::/48", acNone},
        {u"::ffff:10.0.0.0/104", acNone}, {u"::fffe:0:0/96", acNone},      {u"not an address", acNone},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(AddressCaution(QStringView(C.Text), Servers), C.Caution) << QString::fromUtf16(C.Text).toStdString();
}

namespace {

// A reply to AQuery carrying, for an A question, an A record of each IPv4
// address in AAddresses, and for an AAAA question an AAAA record of each IPv6 one.
QByteArray AnswerWith(const QByteArray& AQuery, const QStringList& AAddresses) {
    int P = 12;
    while (P < AQuery.size() && quint8(AQuery[P]) != 0)
        P += 1 + quint8(AQuery[P]);
    const bool AAAA = P + 2 < AQuery.size() && quint8(AQuery[P + 2]) == 28;
    QByteArray Records;
    int Count = 0;
    for (const QString& A : AAddresses) {
        TIPv6Address V6;
        quint32 V4;
        if (!AAAA && ParseIPv4Strict(A, V4)) {
            Records += QByteArray::fromHex("c00c000100010000003c0004");
            for (int Shift = 24; Shift >= 0; Shift -= 8)
                Records += char((V4 >> Shift) & 0xFF);
        } else if (AAAA && ParseIPv6Address(A, V6)) {
            Records += QByteArray::fromHex("c00c001c00010000003c0010");
            Records += QByteArray(reinterpret_cast<const char*>(V6.Bytes), 16);
        } else {
            continue;
        }
        ++Count;
    }
    QByteArray R = AQuery.left(P + 5);
    R[2] = char(0x81), R[3] = char(0x80);
    R[6] = 0, R[7] = char(Count);
    R[8] = R[9] = R[10] = R[11] = 0;
    return R + Records;
}

} // namespace

// Sinkhole answers of a filtering resolver and list lines in every notation
// the address parser reads, through one run of each setting.
TEST(SpecialAddress, NeitherAnswersNorListLinesWriteThemUnlessKept) {
    const QStringList Answers = {"0.0.0.0", "127.0.0.1", "224.0.0.1", "255.255.255.255", "10.7.7.7",
                                 "::", "::1", "ff02::1", "2001:db8::7"};
    TFakeUdpServer Server([&](const QByteArray& Q) { return std::optional<QByteArray>(AnswerWith(Q, Answers)); });
    ASSERT_TRUE(Server.IsListening());
    const QStringList Lines = {"sink.test", "0x7f.1", "2130706433", "9", "0.0.0.0/0", "126.0.0.0/7",
                               "169.254.1.0/24", "10.0.0.0/8", "::ffff:127.0.0.1", "fe80::/10", "2000::/3",
                               "2001:db8::/32"};
    for (const bool Keep : {false, true}) {
        TResolveRun R;
        R.SetDNS({Server.Address()});
        R.Utils.SetPauseMSec(0);
        R.Utils.SetAddressFamily(afBoth);
        R.Utils.SetKeepSpecial(Keep);
        R.SetDomains(Lines);
        ASSERT_TRUE(R.Run(20000));
        const QStringList Kept = {"0.0.0.0/0", "0.0.0.0", "0.0.0.9", "10.0.0.0/8", "10.7.7.7", "126.0.0.0/7",
                                  "127.0.0.1", "127.0.0.1", "127.0.0.1", "169.254.1.0/24", "2000::/3",
                                  "2001:db8::/32", "2001:db8::7", "224.0.0.1", "255.255.255.255", "::",
                                  "::1", "::ffff:127.0.0.1", "fe80::/10", "ff02::1"};
        QStringList Expected = Keep ? Kept : QStringList({"10.0.0.0/8", "10.7.7.7", "2001:db8::/32", "2001:db8::7"});
        Expected.sort();
        EXPECT_EQ(DiffSorted(Expected, R.SortedResult()), "") << "keep " << Keep;
        EXPECT_EQ(R.Utils.RunCounters().Skipped, Keep ? 0 : Kept.size() - Expected.size()) << "keep " << Keep;
        const QStringList Log = R.LogLines();
        if (Keep)
            continue;
        // Once a run each, however many lines gave it.
        EXPECT_EQ(Log.filter("Special address not written: 127.0.0.1").size(), 1) << R.LogText().toStdString();
        for (const char* Text : {"Special address not written: 0.0.0.0", "Special address not written: ::1",
                                 "Special address not written: 169.254.1.0/24", "Address block too wide: 0.0.0.0/0",
                                 "Address block too wide: 2000::/3"})
            EXPECT_EQ(Log.filter(QLatin1String(Text)).size(), 1) << Text;
    }
}

// The servers of the run are special too; list lines only, so none is asked.
TEST(SpecialAddress, TheDnsServersOwnAddressesAreNotWritten) {
    TResolveRun R;
    R.SetDNS({"192.0.2.53:5353", "[2001:db8::53]:53"});
    R.Utils.SetAddressFamily(afBoth);
    R.SetDomains({"192.0.2.53", "192.0.2.0/24", "192.0.2.54", "2001:db8::53", "::ffff:192.0.2.53", "2001:db8::54"});
    ASSERT_TRUE(R.Run(20000));
    EXPECT_EQ(R.SortedResult(), QStringList({"192.0.2.54", "2001:db8::54"}));
    EXPECT_EQ(R.Utils.RunCounters().Skipped, 4);
}
