// Scans arbitrary bytes into lines with the stream reader at small block sizes
// and checks that nothing is lost, doubled or altered: the lines, each
// followed by the break the scan consumed after it, must give back exactly the
// text the whole input decodes to in one piece. Also checked per line: no CR
// or LF inside, no line longer than the cut length, NUL runs apart from other
// characters, and every call either hands out text, consumes a break or
// reaches the end.
//
// Input layout: byte 0 block size (x2), byte 1 cut length (0 none, 1..127, or
// the default 65535 when the high bit is set), byte 2 options (bit 0 NUL
// splitting, bits 1-2 the reader set-up), the rest is the stream.
#include "text/StreamReaderExUnit.h"
#include "FuzzFail.h"
#include "text/uLineReaderWriter.h"

#include <QBuffer>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace {

enum TSetup { suFixedUTF8, suUTF16LE, suUTF16BE, suDetectBOM };

[[noreturn]] void Fail(const char* What, qsizetype Pos) {
    char Msg[256];
    std::snprintf(Msg, sizeof Msg, "stream reader: %s (at character %lld)", What, static_cast<long long>(Pos));
    FuzzFail(Msg);
}

// Without a mark the first block read decides (at most its first 512
// bytes): UTF-16 of Latin text has a zero byte in every other position and
// nowhere else. 1 little-endian, 2 big-endian, 0 neither.
int GuessedUTF16(const QByteArray& In, int ABufferSize) {
    const qsizetype Head = std::min<qsizetype>({In.size(), qsizetype(std::max(ABufferSize, 128)), 512});
    if (Head < 2)
        return 0;
    for (int ZeroAt : {1, 0}) {
        bool Match = true;
        for (qsizetype I = 0; I < Head && Match; ++I)
            Match = (In.at(I) == 0) == (I % 2 == ZeroAt);
        if (Match)
            return ZeroAt == 1 ? 1 : 2;
    }
    return 0;
}

// The encoding a detecting reader picks for text without a mark, by its
// first block; null when it refuses the text (UTF-32). Text of the Latin
// pattern must be among its UTF-16 picks; other zero-byte patterns are the
// reader's unit tests' to check.
TEncoding* DetectedEncoding(const QByteArray& In, int ABufferSize) {
    QByteArray Copy = In;
    QBuffer Probe(&Copy);
    Probe.open(QIODevice::ReadOnly);
    TStreamReaderEx Reader(&Probe, TEncoding::UTF8(), true, ABufferSize);
    try {
        Reader.EndOfStream();
    } catch (const EStreamReadError&) {
        return nullptr;
    }
    TEncoding* Picked = Reader.CurrentEncoding();
    if (const int Guess = GuessedUTF16(In, ABufferSize);
        Guess != 0 && Picked != (Guess == 1 ? TEncoding::Unicode() : TEncoding::BigEndianUnicode()))
        Fail("UTF-16 of Latin text not recognised", 0);
    return Picked;
}

// The text the whole input stands for, decoded in one piece the way the
// reader's first block decides: mark skipped, then one decode.
void Reference(TSetup Setup, const QByteArray& In, int ABufferSize, TEncoding* Fixed, QString& Out) {
    auto Skip = [&](const char* Mark, qsizetype Len) { return In.startsWith(QByteArray(Mark, Len)) ? Len : 0; };
    switch (Setup) {
    case suFixedUTF8: {
        const qsizetype S = Skip("\xEF\xBB\xBF", 3);
        Out = Fixed->GetString(In.constData() + S, In.size() - S);
        return;
    }
    case suUTF16LE: {
        const qsizetype S = Skip("\xFF\xFE", 2);
        Out = TEncoding::Unicode()->GetString(In.constData() + S, In.size() - S);
        return;
    }
    case suUTF16BE: {
        const qsizetype S = Skip("\xFE\xFF", 2);
        Out = TEncoding::BigEndianUnicode()->GetString(In.constData() + S, In.size() - S);
        return;
    }
    case suDetectBOM:
        if (In.startsWith("\xFF\xFE")) {
            Out = TEncoding::Unicode()->GetString(In.constData() + 2, In.size() - 2);
            return;
        }
        if (In.startsWith("\xFE\xFF")) {
            Out = TEncoding::BigEndianUnicode()->GetString(In.constData() + 2, In.size() - 2);
            return;
        }
        // A UTF-8 mark has no zero byte, so it never shows a UTF-16 pattern.
        if (TEncoding* Picked = DetectedEncoding(In, ABufferSize); Picked != TEncoding::UTF8()) {
            Out = Picked->GetString(In.constData(), In.size());
            return;
        }
        {
            // The standard UTF-8 decodes broken bytes as the line reader's does.
            const qsizetype S = Skip("\xEF\xBB\xBF", 3);
            Out = TEncoding::UTF8()->GetString(In.constData() + S, In.size() - S);
            return;
        }
    }
}

// Consumes the break the scan took after a line: CR LF, CR or LF, or none.
qsizetype BreakAt(const QString& Text, qsizetype Pos) {
    if (Pos < Text.size() && Text.at(Pos) == u'\r')
        return (Pos + 1 < Text.size() && Text.at(Pos + 1) == u'\n') ? 2 : 1;
    if (Pos < Text.size() && Text.at(Pos) == u'\n')
        return 1;
    return 0;
}

void CheckLine(const QString& Line, const QString& Text, qsizetype& Pos, int Trunc, bool SplitNul, bool AtEnd) {
    if (Text.mid(Pos, Line.size()) != Line)
        Fail("line differs from the decoded text", Pos);
    if (Line.contains(u'\r') || Line.contains(u'\n'))
        Fail("line holds a break", Pos);
    if (Trunc > 0 && Line.size() > Trunc)
        Fail("line longer than the cut length", Pos);
    if (SplitNul && !Line.isEmpty()) {
        const bool Nul = Line.at(0).unicode() == 0;
        for (QChar C : Line)
            if ((C.unicode() == 0) != Nul)
                Fail("NUL run mixed with other characters", Pos);
    }
    Pos += Line.size();
    const qsizetype Brk = BreakAt(Text, Pos);
    if (Line.isEmpty() && Brk == 0 && !AtEnd)
        Fail("no progress: empty line without a break", Pos);
    Pos += Brk;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size < 3 || Size > 4096 + 3)
        return 0;
    const int BufferSize = int(Data[0]) * 2;
    const int Trunc = (Data[1] & 0x80) != 0 ? 65535 : (Data[1] & 0x7F);
    const bool SplitNul = (Data[2] & 1) != 0;
    const auto Setup = TSetup((Data[2] >> 1) & 3);
    const bool ViaLineReader = (Data[2] & 8) != 0 && Setup == suFixedUTF8;
    // The line reader picks its encoding by the byte-order mark.
    const TSetup RefSetup = ViaLineReader ? suDetectBOM : Setup;
    QByteArray In(reinterpret_cast<const char*>(Data + 3), qsizetype(Size - 3));
    // A UTF-16 stream of odd length ends in a lone byte; that case has its own
    // regression input (regress-utf16-odd-tail), so the search looks elsewhere.
#ifndef VT_FUZZ_REPLAY
    const bool Utf16 = RefSetup == suUTF16LE || RefSetup == suUTF16BE ||
                       (RefSetup == suDetectBOM && (In.startsWith("\xFF\xFE") || In.startsWith("\xFE\xFF") ||
                                                    GuessedUTF16(In, BufferSize) != 0));
    if (Utf16 && In.size() % 2 != 0)
        In.chop(1);
#endif

    // Refused text (UTF-32) has no lines to check.
    if (RefSetup == suDetectBOM && !In.startsWith("\xFE\xFF") &&
        (!In.startsWith("\xFF\xFE") || In.startsWith(QByteArray("\xFF\xFE\0\0", 4))) &&
        DetectedEncoding(In, BufferSize) == nullptr)
        return 0;

    static TFixedUTF8Encoding Fixed;
    QString Text;
    Reference(RefSetup, In, BufferSize, &Fixed, Text);

    QBuffer Stream(&In);
    Stream.open(QIODevice::ReadOnly);
    qsizetype Pos = 0;
    // Each call hands out a character or a break, so the count is bounded.
    const qsizetype MaxCalls = Text.size() + 2;
    qsizetype Calls = 0;

    if (ViaLineReader) {
        // The resolve job's own path: a line reader over the stream.
        TLineReader Reader(&Stream, BufferSize);
        Reader.StreamReader()->SetTruncLineLength(Trunc);
        Reader.StreamReader()->SetSkipLineNullChars(SplitNul);
        while (!Reader.EndOfLines()) {
            if (++Calls > MaxCalls)
                Fail("more lines than characters", Pos);
            const QString Line = Reader.ReadLine();
            CheckLine(Line, Text, Pos, Trunc, SplitNul, Reader.EndOfLines());
        }
    } else {
        TEncoding* Enc = Setup == suUTF16LE   ? TEncoding::Unicode()
                         : Setup == suUTF16BE ? TEncoding::BigEndianUnicode()
                         : Setup == suDetectBOM ? TEncoding::UTF8()
                                                : static_cast<TEncoding*>(&Fixed);
        TStreamReaderEx Reader(&Stream, Enc, Setup == suDetectBOM, BufferSize);
        Reader.SetTruncLineLength(Trunc);
        Reader.SetSkipLineNullChars(SplitNul);
        try {
            while (!Reader.EndOfStream()) {
                if (++Calls > MaxCalls)
                    Fail("more lines than characters", Pos);
                const QString Line = Reader.ReadLine();
                CheckLine(Line, Text, Pos, Trunc, SplitNul, Reader.EndOfStream());
            }
        } catch (const EEncodingError&) {
            // Broken bytes cost a character each, never the rest of the stream.
            Fail("input refused", Pos);
        }
        if (Reader.ReadLine() != QString() || Reader.Read() != -1 || Reader.Peek() != -1)
            Fail("reads after the end return data", Pos);
    }
    if (Pos != Text.size())
        Fail("decoded text not fully handed out", Pos);
    return 0;
}
