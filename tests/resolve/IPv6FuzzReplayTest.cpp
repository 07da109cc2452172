// Replays the IPv6 line fuzz inputs (seeds and any regress-* input that once
// failed) through the fuzz target's own comparison with inet_pton.
#define VT_FUZZ_REPLAY
#include "../../fuzz/ipv6_line_fuzzer.cpp"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

TEST(IPv6LineFuzzReplay, EveryCommittedInputAgreesWithInetPton) {
    const auto Inputs = ReadFuzzCorpus(QStringLiteral("ipv6_line"));
    ASSERT_GE(Inputs.size(), 20);
    for (const auto& [Name, Data] : Inputs) {
        try {
            CheckIPv6LineInput(reinterpret_cast<const uint8_t*>(Data.constData()), size_t(Data.size()));
        } catch (const std::exception& E) {
            ADD_FAILURE() << Name.toStdString() << ": " << E.what();
        }
    }
}

TEST(IPv6LineFuzzReplay, ReferenceHoldsTheDocumentedForms) {
    // Agreeing with the reference proves something only if the reference
    // itself takes and refuses the right lines.
    EXPECT_TRUE(RefLine("2001:db8::1").Ok);
    EXPECT_EQ(RefLine("2001:db8::1").Prefix, -1);
    EXPECT_TRUE(RefLine("::ffff:192.0.2.1/120").Ok);
    EXPECT_EQ(RefLine("::ffff:192.0.2.1/120").Prefix, 120);
    EXPECT_EQ(RefLine("::/0").Prefix, 0);
    EXPECT_EQ(RefLine("::1").Bytes[15], 1);
    EXPECT_FALSE(RefLine("fe80::1%eth0").Ok);
    EXPECT_FALSE(RefLine("::1/129").Ok);
    EXPECT_FALSE(RefLine("::1/").Ok);
    EXPECT_FALSE(RefLine("::1/1x").Ok);
    EXPECT_FALSE(RefLine("::1/0128").Ok);
    EXPECT_FALSE(RefLine(std::string("::1\0", 4)).Ok);
    EXPECT_FALSE(RefLine("1.2.3.4").Ok);
}
