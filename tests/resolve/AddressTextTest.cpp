// IPv6 address lines, their canonical text and DNSBL query names, and the
// strict dotted quads used where an address must be told from a name.
#include "resolve/uAddressText.h"

#include "ResolveHarness.h"

#include <gtest/gtest.h>

namespace {

TIPv6Address V6(const char* AText) {
    TIPv6Address A;
    EXPECT_TRUE(ParseIPv6Address(QString::fromLatin1(AText), A)) << AText;
    return A;
}

std::string S(const QString& AText) {
    return AText.toStdString();
}

} // namespace

TEST(IPv6Text, CanonicalFormFollowsRfc5952) {
    const struct {
        const char* In;
        const char* Out;
    } Cases[] = {
        // Leading zeros go, the longest zero run becomes "::".
        {"2001:0db8:0000:0000:0000:0000:0002:0001", "2001:db8::2:1"},
        {"2001:db8:0:0:0:0:2:1", "2001:db8::2:1"},
        {"2001:db8:aaaa:bbbb:cccc:dddd:eeee:0001", "2001:db8:aaaa:bbbb:cccc:dddd:eeee:1"},
        // One zero group alone is not shortened.
        {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},
        {"2001:db8::1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},
        // The longer run wins; of two equal runs the first.
        {"2001:0:0:1:0:0:0:1", "2001:0:0:1::1"},
        {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},
        // Every spelling of one address gives one text, in lower case.
        {"2001:0db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},
        {"2001:db8::0:1:0:0:1", "2001:db8::1:0:0:1"},
        {"2001:db8:0:0:1::1", "2001:db8::1:0:0:1"},
        {"2001:db8:0000:0:1::1", "2001:db8::1:0:0:1"},
        {"2001:DB8:0:0:1::1", "2001:db8::1:0:0:1"},
        {"2001:DB8::ABCD", "2001:db8::abcd"},
        // Ends of the space and runs at either end.
        {"::", "::"},
        {"0:0:0:0:0:0:0:0", "::"},
        {"0:0:0:0:0:0:0:1", "::1"},
        {"1:0:0:0:0:0:0:0", "1::"},
        {"fe80:0:0:0:0:0:0:1", "fe80::1"},
        {"FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
        // Mapped IPv4 keeps its dotted tail, however it was written.
        {"::ffff:192.0.2.1", "::ffff:192.0.2.1"},
        {"0:0:0:0:0:ffff:c000:0201", "::ffff:192.0.2.1"},
    };
    for (const auto& C : Cases) {
        TIPv6Address A;
        ASSERT_TRUE(ParseIPv6Address(QString::fromLatin1(C.In), A)) << C.In;
        EXPECT_EQ(S(FormatIPv6(A)), C.Out) << C.In;
        // The canonical text reads back as the same address.
        TIPv6Address Back;
        ASSERT_TRUE(ParseIPv6Address(FormatIPv6(A), Back)) << C.In;
        EXPECT_EQ(Back, A) << C.In;
    }
}

TEST(IPv6Text, AddressLinesAccepted) {
    const struct {
        const char16_t* Line;
        const char* Canonical;
        int Prefix;
    } Cases[] = {
        {u"2001:db8::1", "2001:db8::1", -1},
        {u"2001:db8::/32", "2001:db8::", 32},
        {u"::/0", "::", 0},
        {u"::1/128", "::1", 128},
        {u"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8", -1},
        {u"1::", "1::", -1},
        {u"::2:3:4:5:6:7:8", "0:2:3:4:5:6:7:8", -1},
        {u"::ffff:192.0.2.1", "::ffff:192.0.2.1", -1},
        {u"::ffff:192.0.2.0/120", "::ffff:192.0.2.0", 120},
        {u"1:2:3:4:5:6:1.2.3.4", "1:2:3:4:5:6:102:304", -1},
        {u"2001:DB8::A/064", "2001:db8::a", 64},
        {u"0000:0000:0000:0000:0000:0000:0000:0001", "::1", -1},
    };
    for (const auto& C : Cases) {
        const QString Line = QString::fromUtf16(C.Line);
        TIPv6Address A;
        int Prefix = 77;
        ASSERT_TRUE(ParseIPv6Line(Line, A, Prefix)) << S(Line);
        EXPECT_EQ(S(FormatIPv6(A)), C.Canonical) << S(Line);
        EXPECT_EQ(Prefix, C.Prefix) << S(Line);
        const QString Expected = QString::fromLatin1(C.Canonical) + (C.Prefix >= 0 ? QString("/%1").arg(C.Prefix) : QString());
        EXPECT_EQ(FormatIPv6Line(A, Prefix), Expected) << S(Line);
    }
}

TEST(IPv6Text, AddressLinesRefused) {
    const QString Cases[] = {
        "",
        "fe80::1%eth0",        // a zone index names an interface, not an address
        "fe80::1%eth0/64",
        "2001:db8::1/129",
        "2001:db8::1/",
        "2001:db8::1/1x",
        "2001:db8::1/-1",
        "2001:db8::1/+64",
        "2001:db8::1/0128",
        "2001:db8::1/64/64",
        "2001:db8::1/6 4",
        "/64",
        "1::2::3",
        "1:::2",
        ":1::",
        "1:2:3:4:5:6:7:8:9",
        "1:2:3:4:5:6:7",
        "12345::",
        "::g",
        " ::1",
        "::1 ",
        "[::1]",
        "::ffff:1.2.3",
        "::ffff:1.2.3.256",
        "1.2.3.4",
        "example.com",
        QString::fromUtf16(u"\uff12001:db8::1"),   // a full-width digit
        QString::fromUtf16(u"::1\u0000", 4),       // libc would stop at the NUL
        QString::fromUtf16(u"::1\u0000/64", 7),
        QString("1:") + QString("0:").repeated(40) + "1",
    };
    for (const QString& Line : Cases) {
        TIPv6Address A = V6("2001:db8::77");
        const TIPv6Address Before = A;
        int Prefix = 77;
        EXPECT_FALSE(ParseIPv6Line(Line, A, Prefix)) << S(Line);
        // A refused line leaves the outputs as they were.
        EXPECT_EQ(A, Before) << S(Line);
        EXPECT_EQ(Prefix, 77) << S(Line);
    }
    TIPv6Address A;
    EXPECT_FALSE(ParseIPv6Address(u"2001:db8::/32", A));
}

TEST(IPv6Text, QueryNameIsTheNibblesReversed) {
    const struct {
        const char* Address;
        const char* Name;
    } Cases[] = {
        {"4321:0:1:2:3:4:567:89ab", "b.a.9.8.7.6.5.0.4.0.0.0.3.0.0.0.2.0.0.0.1.0.0.0.0.0.0.0.1.2.3.4"},
        {"::1", "1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0"},
        {"2001:db8::", "0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2"},
        {"2001:DB8:ABCD:12::F0", "0.f.0.0.0.0.0.0.0.0.0.0.0.0.0.0.2.1.0.0.d.c.b.a.8.b.d.0.1.0.0.2"},
        {"::ffff:192.0.2.1", "1.0.2.0.0.0.0.c.f.f.f.f.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0"},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(S(IPv6QueryName(V6(C.Address))), C.Name) << C.Address;
}

TEST(IPv4Strict, OnlyPlainDottedQuads) {
    const struct {
        const char* Line;
        bool Ok;
        quint32 Value;
        int Prefix;
    } Cases[] = {
        {"1.2.3.4", true, 0x01020304, -1},
        {"0.0.0.0", true, 0, -1},
        {"255.255.255.255", true, 0xFFFFFFFF, -1},
        {"10.0.0.0/8", true, 0x0A000000, 8},
        {"192.0.2.1/32", true, 0xC0000201, 32},
        {"0.0.0.0/0", true, 0, 0},
        // Everything the job's lenient parser also takes is no dotted quad here.
        {"1.2.3", false, 0, 0},
        {"10.1", false, 0, 0},
        {"1.2.3.256", false, 0, 0},
        {"1.2.3.300", false, 0, 0},
        {"01.2.3.4", false, 0, 0},
        {"0x0A.0.0.1", false, 0, 0},
        {"1.2.3.4.", false, 0, 0},
        {".1.2.3.4", false, 0, 0},
        {" 1.2.3.4", false, 0, 0},
        {"1.2.3.4/33", false, 0, 0},
        {"1.2.3.4/", false, 0, 0},
        {"1.2.3.4/008", false, 0, 0},
        {"1.2.3.4/x", false, 0, 0},
        {"/8", false, 0, 0},
        {"::1", false, 0, 0},
    };
    for (const auto& C : Cases) {
        quint32 Value = 0xDEADBEEF;
        int Prefix = 77;
        const bool Ok = ParseIPv4LineStrict(QString::fromLatin1(C.Line), Value, Prefix);
        EXPECT_EQ(Ok, C.Ok) << C.Line;
        if (Ok) {
            EXPECT_EQ(Value, C.Value) << C.Line;
            EXPECT_EQ(Prefix, C.Prefix) << C.Line;
            EXPECT_EQ(S(FormatIPv4(Value)), std::string(C.Line).substr(0, std::string(C.Line).find('/'))) << C.Line;
        } else {
            EXPECT_EQ(Value, 0xDEADBEEF) << C.Line;
            EXPECT_EQ(Prefix, 77) << C.Line;
        }
    }
    quint32 Value = 0;
    EXPECT_FALSE(ParseIPv4Strict(u"10.0.0.0/8", Value));
    EXPECT_EQ(S(FormatIPv4(0x0A000001)), "10.0.0.1");
}
