#include "DnsReplyBuilder.h"
#include "resolve/dns/IdDNSResolver.h"
#include "resolve/dns/IdDNSServer.h"

#include <gtest/gtest.h>

TEST(DnsServerEntry, FormsAUserWrites) {
    struct TCase {
        const char* Text;
        TDNSServerEntry::TKind Kind;
        const char* Host;
        int Port;   // 53: the default
    } Cases[] = {
        {"192.0.2.53", TDNSServerEntry::skIPv4, "192.0.2.53", 53},
        {"192.0.2.53:5353", TDNSServerEntry::skIPv4, "192.0.2.53", 5353},
        {"localhost:99", TDNSServerEntry::skIPv4, "localhost", 99},
        {"::1", TDNSServerEntry::skIPv6, "::1", 53},
        {"2001:db8::53", TDNSServerEntry::skIPv6, "2001:db8::53", 53},
        {"[2001:db8::53]:5353", TDNSServerEntry::skIPv6, "2001:db8::53", 5353},
        {"[::1]", TDNSServerEntry::skIPv6, "::1", 53},
        {"::ffff:192.0.2.1", TDNSServerEntry::skIPv6, "::ffff:192.0.2.1", 53},
        {"dns.example", TDNSServerEntry::skName, "dns.example", 53},
        {"ns_1.example.:65535", TDNSServerEntry::skName, "ns_1.example.", 65535},
        {"resolver", TDNSServerEntry::skName, "resolver", 53},
    };
    for (const TCase& C : Cases) {
        TDNSServerEntry E;
        QString Error;
        ASSERT_TRUE(ParseDNSServerEntry(C.Text, 53, E, &Error)) << C.Text << " " << Error.toStdString();
        EXPECT_EQ(E.Kind, C.Kind) << C.Text;
        EXPECT_EQ(E.Host, C.Host) << C.Text;
        EXPECT_EQ(E.Port, C.Port) << C.Text;
    }
    TDNSServerEntry E;
    ASSERT_TRUE(ParseDNSServerEntry("[2001:db8::53]:5353", 53, E));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(E.IPv6), 16), TDnsReplyBuilder::Hex("20010db8 0000 0000 0000 0000 0000 0053"));
    ASSERT_TRUE(ParseDNSServerEntry("10.1.2.3", 53, E));
    EXPECT_EQ(E.IPv4, 0x0A010203u);
}

TEST(DnsServerEntry, MalformedEntriesAreRefused) {
    for (const char* Text : {"", "[::1", "[::1]5353", "[::1]:", "[::1]:0", "[::1]:65536", "[1.2.3.4]:53",
                             "[]:53", "2001:db8::53::1", "2001:db8:::53", "fe80::1%eth0", "1.2.3.4:", "1.2.3.4:0",
                             "1.2.3.4:65536", "1.2.3.4:5x", "300.1.1.1", "10..1.1", "1.2.3.4.5", "dns example",
                             "dns..example", "-", "dns/example", "a:b:", ":53", "\xc3\xa9.example"}) {
        TDNSServerEntry E;
        QString Error;
        EXPECT_FALSE(ParseDNSServerEntry(QString::fromUtf8(Text), 53, E, &Error)) << Text;
        EXPECT_FALSE(Error.isEmpty()) << Text;
        EXPECT_FALSE(IsValidDNSServerEntry(QString::fromUtf8(Text))) << Text;
    }
    // The list validation trims as the lookups do.
    EXPECT_TRUE(IsValidDNSServerEntry("  [::1]:53 "));
}

TEST(DnsServerEntry, TheResolverRefusesWhatTheParserRefuses) {
    TIdDNSResolver R;
    R.SetQueryType({qtA});
    R.SetWaitingTime(200);
    for (const char* Host : {"[::1", "300.1.1.1", "1.2.3.4:0"}) {
        R.SetHost(Host);
        QString Message;
        try {
            R.Resolve("www.vt.test");
        } catch (const EIdDnsResolverError& E) {
            Message = E.Message();
        }
        EXPECT_TRUE(Message.startsWith("Invalid DNS server")) << Host << " " << Message.toStdString();
    }
}
