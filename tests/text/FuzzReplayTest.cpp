// Replays the stream reader's fuzz inputs, seeds and regression inputs alike,
// through the fuzz target's own checks: each must read back to exactly the
// text it decodes to. A regress-* file is an input that once failed.
#define VT_FUZZ_REPLAY
#include "../../fuzz/stream_reader_fuzzer.cpp"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

TEST(StreamReaderFuzzReplay, EveryCommittedInputReadsBackWhole) {
    const auto Inputs = ReadFuzzCorpus(QStringLiteral("stream_reader"));
    ASSERT_TRUE(std::any_of(Inputs.begin(), Inputs.end(), [](const auto& I) { return I.first.startsWith("regress-"); }));
    for (const auto& [Name, Data] : Inputs) {
        try {
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(Data.constData()), size_t(Data.size()));
        } catch (const Exception& E) {
            ADD_FAILURE() << Name.toStdString() << ": " << E.Message().toStdString();
        } catch (const std::exception& E) {
            ADD_FAILURE() << Name.toStdString() << ": " << E.what();
        }
    }
}

TEST(StreamReaderFuzzReplay, Utf16StreamEndingInALoneByteReadsToItsEnd) {
    // 64 characters fill the first 128-byte block exactly; the last block is
    // one byte. A lenient decoder has no reason to refuse it.
    QByteArray In;
    for (int I = 0; I < 64; ++I)
        In += QByteArray("a\0", 2);
    In += 'b';
    QBuffer Stream(&In);
    Stream.open(QIODevice::ReadOnly);
    TStreamReaderEx Reader(&Stream, TEncoding::Unicode(), false, 128);
    QString All;
    try {
        while (!Reader.EndOfStream())
            All += Reader.ReadLine();
    } catch (const Exception& E) {
        FAIL() << "raised: " << E.Message().toStdString();
    }
    EXPECT_TRUE(All.startsWith(QString(64, u'a'))) << All.toStdString();
    EXPECT_LE(All.size(), 65);
}
