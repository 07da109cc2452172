#include "resolve/QXUtilsUnit.h"

#include <gtest/gtest.h>

namespace {

QString Dotted(quint32 V) {
    return QStringLiteral("%1.%2.%3.%4").arg(V >> 24).arg((V >> 16) & 0xFF).arg((V >> 8) & 0xFF).arg(V & 0xFF);
}

struct TAddressCase {
    const char* Text;
    bool Accepted;
    const char* Value;  // dotted form of the parsed value when accepted
};

} // namespace

TEST(ParseIPv4Test, AcceptsTheDottedAndShortenedForms) {
    const TAddressCase Cases[] = {
        {"1.2.3.4", true, "1.2.3.4"},
        {"255.255.255.255", true, "255.255.255.255"},
        {"1.2.3.300", true, "1.2.3.44"},          // a part wider than its byte is masked
        {"10.1", true, "10.0.0.1"},               // the last part fills the open bytes
        {"10.1.300", true, "10.1.1.44"},
        {"167772161", true, "10.0.0.1"},          // one number is the whole value
        {"4294967295", true, "255.255.255.255"},
        {"0x0A.010.0.1", true, "10.8.0.1"},       // hexadecimal and octal parts
        {"0XfF.0.0.1", true, "255.0.0.1"},
        {"08.1", true, "8.0.0.1"},                // a leading zero with an 8 is decimal
        {"$a.1", true, "10.0.0.1"},
        {"x1.2", true, "1.0.0.2"},
        {"1.2.3.4.", true, "1.2.3.4"},            // a trailing dot is harmless
        {".", true, "0.0.0.0"},                   // the parse ends at the empty first part
        {".example.com", true, "0.0.0.0"},
        {"10..1", true, "0.0.0.10"},
        {"1.2.3.4.5", true, "2.3.4.5"},           // a fifth part shifts the first octet out
        {"-1", true, "255.255.255.255"},
    };
    for (const TAddressCase& C : Cases) {
        bool Error = true;
        const quint32 V = ParseIPv4(QString::fromLatin1(C.Text), Error);
        EXPECT_FALSE(Error) << C.Text;
        EXPECT_EQ(Dotted(V), QString::fromLatin1(C.Value)) << C.Text;
    }
}

TEST(ParseIPv4Test, RejectsPartsThatAreNotNumbers) {
    const char* Cases[] = {"example.com", "1.2.3.y4", "1.2.3.x", "www.vt.test", "0x", "0xg.1", "1.2.3.4a",
                           "1e3", "abc", "1.2.3.4 x", "99999999999999999999999"};
    for (const char* C : Cases) {
        bool Error = false;
        ParseIPv4(QString::fromLatin1(C), Error);
        EXPECT_TRUE(Error) << C;
    }
}

TEST(ParseIPEntryTest, PrefixIsCheckedButNotUsed) {
    quint32 V = 1;
    ASSERT_TRUE(TQXUtils::ParseIPEntry("10.0.0.0/8", V));
    EXPECT_EQ(Dotted(V), "10.0.0.0");
    ASSERT_TRUE(TQXUtils::ParseIPEntry("192.168.1.7/32", V));
    EXPECT_EQ(Dotted(V), "192.168.1.7");
    ASSERT_TRUE(TQXUtils::ParseIPEntry("1.2.3.4/0", V));
    EXPECT_EQ(Dotted(V), "1.2.3.4");
    ASSERT_TRUE(TQXUtils::ParseIPEntry("1.2.3.4/040", V));   // octal 32
    EXPECT_TRUE(TQXUtils::ParseIPEntry("1.2.3.4", V));
    EXPECT_EQ(Dotted(V), "1.2.3.4");
}

TEST(ParseIPEntryTest, BadPrefixesMakeTheLineADomain) {
    quint32 V;
    EXPECT_FALSE(TQXUtils::ParseIPEntry("1.2.3.4/33", V));
    EXPECT_FALSE(TQXUtils::ParseIPEntry("1.2.3.4/-1", V));
    EXPECT_FALSE(TQXUtils::ParseIPEntry("1.2.3.4/x", V));   // "x" alone has no hex digits
    EXPECT_FALSE(TQXUtils::ParseIPEntry("1.2.3.4/abc", V));
    EXPECT_FALSE(TQXUtils::ParseIPEntry("1.2.3.4/", V));
    EXPECT_FALSE(TQXUtils::ParseIPEntry("/8", V));
    EXPECT_FALSE(TQXUtils::ParseIPEntry("/", V));
    EXPECT_FALSE(TQXUtils::ParseIPEntry("example.com/8", V));
    EXPECT_FALSE(TQXUtils::ParseIPEntry("www.vt.test", V));
}

TEST(ReverseIPv4Test, BytesFromTheLeastSignificantUp) {
    EXPECT_EQ(TQXUtils::ReverseIPv4(0x01020304u), "4.3.2.1");
    EXPECT_EQ(TQXUtils::ReverseIPv4(0x0A000000u), "0.0.0.10");
    quint32 V;
    ASSERT_TRUE(TQXUtils::ParseIPEntry("1.2.3.300", V));
    EXPECT_EQ(TQXUtils::ReverseIPv4(V), "44.3.2.1");
    EXPECT_EQ(TQXUtils::ReverseIPv4(0xFFFFFFFFu), "255.255.255.255");
}

TEST(NextIndexTest, CyclesFromTheCounterModuloTheCount) {
    // Worker 1 with two servers starts at index 1 and alternates.
    int Counter = 1;
    EXPECT_EQ(TQXUtils::NextIndex(Counter, 2), 1);
    EXPECT_EQ(TQXUtils::NextIndex(Counter, 2), 0);
    EXPECT_EQ(TQXUtils::NextIndex(Counter, 2), 1);
    // Worker k begins at k modulo the count.
    Counter = 7;
    EXPECT_EQ(TQXUtils::NextIndex(Counter, 3), 1);
    EXPECT_EQ(TQXUtils::NextIndex(Counter, 3), 2);
    EXPECT_EQ(TQXUtils::NextIndex(Counter, 3), 0);
    // One entry: always index 0, the counter never grows past the count.
    Counter = 500;
    for (int I = 0; I < 5; ++I)
        EXPECT_EQ(TQXUtils::NextIndex(Counter, 1), 0);
    EXPECT_LE(Counter, 1);
    // An empty list yields no index and leaves the counter alone.
    Counter = 3;
    EXPECT_EQ(TQXUtils::NextIndex(Counter, 0), -1);
    EXPECT_EQ(Counter, 3);
}
