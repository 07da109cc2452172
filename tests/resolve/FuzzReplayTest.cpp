// Replays the address fuzz inputs (seeds and any regress-* input that once
// failed) through the fuzz target's own comparison with its reference parser.
#define VT_FUZZ_REPLAY
#include "../../fuzz/address_fuzzer.cpp"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

TEST(AddressFuzzReplay, EveryCommittedInputAgreesWithTheReference) {
    const auto Inputs = ReadFuzzCorpus(QStringLiteral("address"));
    ASSERT_GE(Inputs.size(), 20);
    for (const auto& [Name, Data] : Inputs) {
        try {
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(Data.constData()), size_t(Data.size()));
        } catch (const std::exception& E) {
            ADD_FAILURE() << Name.toStdString() << ": " << E.what();
        }
    }
}

TEST(AddressFuzzReplay, ReferenceParserAgreesOnTheDocumentedForms) {
    // The reference itself must hold the documented examples, or agreeing
    // with it proves nothing.
    const struct {
        const char16_t* Text;
        bool Ok;
        uint32_t Value;
    } Cases[] = {{u"1.2.3.4", true, 0x01020304},   {u"1.2.3.300", true, 0x0102032C}, {u"10.1", true, 0x0A000001},
                 {u"167772161", true, 0x0A000001}, {u"0x0A.010.0.1", true, 0x0A080001},
                 {u"1.2.3.4.5", true, 0x02030405}, {u".x", true, 0},                 {u"10..1", true, 0x0A},
                 {u"1.2.3.y4", false, 0},          {u"0x", false, 0},                {u"-1", true, 0xFFFFFFFF}};
    for (const auto& C : Cases) {
        const std::optional<uint32_t> V = RefIPv4(C.Text);
        EXPECT_EQ(V.has_value(), C.Ok) << QString::fromUtf16(C.Text).toStdString();
        if (V && C.Ok) {
            EXPECT_EQ(*V, C.Value) << QString::fromUtf16(C.Text).toStdString();
        }
    }
    EXPECT_TRUE(RefEntry(u"10.0.0.0/8").has_value());
    EXPECT_FALSE(RefEntry(u"1.2.3.4/33").has_value());
    EXPECT_FALSE(RefEntry(u"/8").has_value());
    EXPECT_FALSE(RefEntry(u"1.2.3.4/x").has_value());
}
