#include "text/StreamReaderExUnit.h"

#include <QFile>
#include <algorithm>
#include <cstring>

namespace {

constexpr int MinBufferSize = 128;
constexpr char16_t LF = u'\n';
constexpr char16_t CR = u'\r';
// How many first bytes decide whether text without a mark is UTF-16.
constexpr qsizetype UTF16PatternBytes = 512;

// UTF-16 of Latin text: a zero byte in every other position and nowhere
// else. ZeroAt is 1 for little-endian (the high byte second), 0 for big-endian.
bool HasUTF16Pattern(const char* Bytes, qsizetype Count, int ZeroAt) {
    for (qsizetype I = 0; I < Count; ++I)
        if ((Bytes[I] == 0) != (I % 2 == ZeroAt))
            return false;
    return true;
}

enum TWideText { wtNone, wtUTF16LE, wtUTF16BE, wtUTF32 };

// Text without a mark in an encoding of wide units, told by its zero bytes:
// UTF-32 has two zero bytes in every unit of the first plane; UTF-16 pairs
// its ASCII characters, line breaks included, with a zero byte, whatever
// script the rest of it is in. Bytes without a zero are none of them.
TWideText GuessWideText(const char* Bytes, qsizetype Count) {
    if (std::memchr(Bytes, 0, size_t(Count)) == nullptr)
        return wtNone;
    const auto U = [Bytes](qsizetype I) { return uchar(Bytes[I]); };
    for (int Hi : {3, 0}) {
        // Hi is the unit's most significant byte: 3 little-endian, 0 big-endian.
        const int Plane = Hi == 3 ? 2 : 1, Mid = Hi == 3 ? 1 : 2, Lo = 3 - Hi;
        bool Units = Count >= 4, Ascii = false;
        for (qsizetype Q = 0; Units && Q + 4 <= Count; Q += 4) {
            Units = U(Q + Hi) == 0 && U(Q + Plane) <= 0x10;
            Ascii = Ascii || (U(Q + Lo) != 0 && U(Q + Mid) == 0 && U(Q + Plane) == 0);
        }
        if (Units && Ascii)
            return wtUTF32;
    }
    if (HasUTF16Pattern(Bytes, Count, 1))
        return wtUTF16LE;
    if (HasUTF16Pattern(Bytes, Count, 0))
        return wtUTF16BE;
    // Not Latin: the zeros are those of its ASCII characters, and a line
    // break shows which side of a pair they are on. A pair of two zeros is
    // no text of either kind.
    int Breaks[2] = {0, 0}, Ascii[2] = {0, 0};
    for (qsizetype I = 0; I + 2 <= Count; I += 2) {
        const uchar A = U(I), B = U(I + 1);
        if (A == 0 && B == 0)
            return wtNone;
        for (int Zero : {1, 0}) {
            const uchar Char = Zero == 1 ? A : B, Other = Zero == 1 ? B : A;
            if (Other == 0 && Char < 0x80) {
                ++Ascii[Zero];
                Breaks[Zero] += Char == '\n' || Char == '\r';
            }
        }
    }
    if (Breaks[1] > 0 && Ascii[1] > Ascii[0])
        return wtUTF16LE;
    if (Breaks[0] > 0 && Ascii[0] > Ascii[1])
        return wtUTF16BE;
    return wtNone;
}

bool StartsWithMark(const char* Bytes, qsizetype Count, bool Partly) {
    // The UTF-32 marks first: FF FE also begins the one of UTF-32LE.
    static const char* const Marks[] = {"\xFF\xFE\0\0", "\0\0\xFE\xFF", "\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"};
    static const qsizetype Lengths[] = {4, 4, 3, 2, 2};
    for (int M = 0; M < 5; ++M) {
        const char* Mark = Marks[M];
        const qsizetype Len = Lengths[M];
        if (Partly ? Count < Len && std::memcmp(Bytes, Mark, size_t(Count)) == 0
                   : Count >= Len && std::memcmp(Bytes, Mark, size_t(Len)) == 0)
            return true;
    }
    return false;
}

}  // namespace

TStreamReaderEx::TStreamReaderEx(QIODevice* Stream, TEncoding* Encoding, bool DetectBOM, int BufferSize) {
    Init(Stream, Encoding, DetectBOM, BufferSize);
}

TStreamReaderEx::TStreamReaderEx(QIODevice* Stream) {
    Init(Stream, TEncoding::UTF8(), true, 1024);
}

TStreamReaderEx::TStreamReaderEx(QIODevice* Stream, bool DetectBOM) {
    Init(Stream, TEncoding::UTF8(), DetectBOM, 1024);
}

TStreamReaderEx::TStreamReaderEx(const QString& Filename, TEncoding* Encoding, bool DetectBOM, int BufferSize) {
    QIODevice* File = OpenFile(Filename);
    try {
        Init(File, Encoding, DetectBOM, BufferSize);
    } catch (...) {
        delete File;
        throw;
    }
    FOwnsStream = true;
}

TStreamReaderEx::TStreamReaderEx(const QString& Filename) : TStreamReaderEx(Filename, TEncoding::UTF8(), true) {}

TStreamReaderEx::TStreamReaderEx(const QString& Filename, bool DetectBOM)
    : TStreamReaderEx(Filename, TEncoding::UTF8(), DetectBOM) {}

TStreamReaderEx::~TStreamReaderEx() {
    Close();
}

void TStreamReaderEx::Init(QIODevice* Stream, TEncoding* Encoding, bool DetectBOM, int BufferSize) {
    if (Stream == nullptr)
        throw EArgumentNilException(QStringLiteral("Parameter %1 cannot be nil").arg(QStringLiteral("Stream")));
    if (Encoding == nullptr)
        throw EArgumentNilException(QStringLiteral("Parameter %1 cannot be nil").arg(QStringLiteral("Encoding")));
    FBufferedData = std::make_unique<TStringBuilderEx>();
    FBufferedStartIndex = 0;
    FBufferSize = std::max(BufferSize, MinBufferSize);
    FDetectBOM = DetectBOM;
    FEncoding = Encoding;
    FNoDataInStream = false;
    FOwnsStream = false;
    FSkipPreamble = !DetectBOM;
    FStream = Stream;
    FTruncLineLength = 65535;
    FSkipLineNullChars = true;
    FStreaming = Stream->isSequential();
    FPendingLF = false;
    FLastLineCut = false;
    FGuessedUTF16 = false;
}

QIODevice* TStreamReaderEx::OpenFile(const QString& Filename) {
    auto* File = new QFile(Filename);
    if (!File->open(QIODevice::ReadOnly)) {
        const QString Reason = File->errorString();
        delete File;
        throw EFileError(QStringLiteral("Cannot open file \"%1\". %2").arg(Filename, Reason));
    }
    return File;
}

void TStreamReaderEx::Close() {
    if (FOwnsStream && FStream != nullptr) {
        FStream->close();
        delete FStream;
    }
    FStream = nullptr;
    FBufferedData.reset();
    FBufferedStartIndex = 0;
    FCarryBytes.clear();
}

void TStreamReaderEx::DiscardBufferedData() {
    if (FBufferedData)
        FBufferedData->Clear();
    FBufferedStartIndex = 0;
    FNoDataInStream = false;
    FCarryBytes.clear();
    FPendingLF = false;
}

qsizetype TStreamReaderEx::DetectEncoding(const char* Bytes, qsizetype Count) {
    FDetectBOM = false;
    const auto StartsWith = [&](const char* Mark, qsizetype Len) {
        return Count >= Len && std::memcmp(Bytes, Mark, size_t(Len)) == 0;
    };
    // Text this reader cannot decode is refused rather than read as bytes
    // that would make lines (and addresses) of their own.
    if (StartsWith("\xFF\xFE\0\0", 4) || StartsWith("\0\0\xFE\xFF", 4)) {
        FNoDataInStream = true;
        throw EStreamReadError(QStringLiteral("UTF-32 text"));
    }
    if (StartsWith("\xEF\xBB\xBF", 3)) {
        FEncoding = TEncoding::UTF8();
        return 3;
    }
    if (StartsWith("\xFF\xFE", 2)) {
        FEncoding = TEncoding::Unicode();
        return 2;
    }
    if (StartsWith("\xFE\xFF", 2)) {
        FEncoding = TEncoding::BigEndianUnicode();
        return 2;
    }
    // Without a mark the text is taken as UTF-8, unless the caller chose the
    // system code page on purpose. Lists saved as UTF-16 without a mark show
    // themselves by their zero bytes; read as UTF-8 every letter would be a line.
    if (dynamic_cast<TANSIEncoding*>(FEncoding) == nullptr) {
        const qsizetype Head = std::min(Count, UTF16PatternBytes);
        switch (Head >= 2 ? GuessWideText(Bytes, Head) : wtNone) {
        case wtUTF32:
            FNoDataInStream = true;
            throw EStreamReadError(QStringLiteral("UTF-32 text"));
        case wtUTF16LE:
            FEncoding = TEncoding::Unicode();
            FGuessedUTF16 = true;
            break;
        case wtUTF16BE:
            FEncoding = TEncoding::BigEndianUnicode();
            FGuessedUTF16 = true;
            break;
        case wtNone:
            FEncoding = TEncoding::UTF8();
            break;
        }
    }
    return 0;
}

bool TStreamReaderEx::HeadUndecided(const char* Bytes, qsizetype Count) {
    if (Count >= UTF16PatternBytes)
        return false;
    if (StartsWithMark(Bytes, Count, true))
        return true;
    if (StartsWithMark(Bytes, Count, false))
        return false;
    // Still possibly wide text without a mark (it has zero bytes): wait for
    // its first line break, so that a short first line is decided on as
    // soon as it is whole, and for as many bytes as tell UTF-16 from UTF-32.
    // Without a zero byte yet: whole UTF-8 that is valid so far is taken at
    // once; bytes that are not (a first line of UTF-16 in another script) wait,
    // but not beyond a line break that has no zero byte beside it (text in an
    // 8-bit code page).
    if (std::memchr(Bytes, 0, size_t(Count)) == nullptr) {
        for (qsizetype I = 0; I + 1 < Count; ++I)
            if (Bytes[I] == '\n' || Bytes[I] == '\r')
                return false;
        const qsizetype Whole = Count - TEncoding::UTF8()->CutTailLength(Bytes, Count);
        return Whole < Count || (QString::fromUtf8(Bytes, Whole).contains(QChar::ReplacementCharacter) &&
                                 !QByteArrayView(Bytes, Whole).contains("\xEF\xBF\xBD"));
    }
    const auto U = [Bytes](qsizetype I) { return uchar(Bytes[I]); };
    const auto IsBreak = [](uchar C) { return C == '\n' || C == '\r'; };
    bool Could32 = true, Break32 = false, Break16 = false;
    for (qsizetype Q = 0; Q + 4 <= Count; Q += 4) {
        const bool LE = U(Q + 3) == 0 && U(Q + 2) <= 0x10, BE = U(Q) == 0 && U(Q + 1) <= 0x10;
        Could32 = Could32 && (LE || BE);
        Break32 = Break32 || (U(Q + 1) == 0 && U(Q + 2) == 0 && (IsBreak(U(Q)) || IsBreak(U(Q + 3))));
    }
    for (qsizetype I = 0; I + 2 <= Count; I += 2)
        Break16 = Break16 || (U(I) == 0 && IsBreak(U(I + 1))) || (U(I + 1) == 0 && IsBreak(U(I)));
    return !(Break32 || (Break16 && !Could32));
}

qsizetype TStreamReaderEx::SkipEncodingPreamble(const char* Bytes, qsizetype Count) {
    FSkipPreamble = false;
    const QByteArray Preamble = FEncoding->GetPreamble();
    if (!Preamble.isEmpty() && Count >= Preamble.size() &&
        std::memcmp(Bytes, Preamble.constData(), size_t(Preamble.size())) == 0)
        return Preamble.size();
    return 0;
}

int TStreamReaderEx::FillBuffer(bool Compact) {
    const qsizetype Carry = FCarryBytes.size();
    if (FBytes.size() < Carry + FBufferSize + 4)
        FBytes.resize(Carry + FBufferSize + 4);
    char* Bytes = FBytes.data();
    if (Carry > 0)
        std::memcpy(Bytes, FCarryBytes.constData(), size_t(Carry));
    FCarryBytes.clear();

    const qint64 Got = FStream->read(Bytes + Carry, FBufferSize);
    if (Got < 0) {
        FNoDataInStream = true;
        throw EStreamReadError(FStream->errorString());
    }
    // A pipe's read returns what has arrived: only a read of nothing ends it.
    FNoDataInStream = FStreaming ? Got == 0 : Got < FBufferSize;
    qsizetype Len = Carry + Got;

    // Streaming: the first bytes may not tell the encoding yet; hold them
    // until they do (no character comes out before that).
    if (FStreaming && FDetectBOM && !FNoDataInStream && HeadUndecided(Bytes, Len)) {
        FCarryBytes = QByteArray(Bytes, Len);
        return 0;
    }

    qsizetype Skip = 0;
    if (FDetectBOM)
        Skip = DetectEncoding(Bytes, Len);
    else if (FSkipPreamble)
        Skip = SkipEncodingPreamble(Bytes, Len);

    // A character cut by the block end: fetch its remaining bytes one by one
    // so that it decodes whole. A stream that is streamed is not asked for
    // more: its rest leads the next read, which the lines before it need not
    // wait for.
    const qsizetype Limit = FEncoding->GetMaxByteCount(1);
    qsizetype Extra = 0;
    bool StreamDry = false;
    qsizetype Cut = FEncoding->CutTailLength(Bytes + Skip, Len - Skip);
    while (Cut > 0 && Extra < Limit && !FStreaming) {
        if (Len >= FBytes.size()) {
            FBytes.resize(Len + 4);
            Bytes = FBytes.data();
        }
        if (FStream->read(Bytes + Len, 1) != 1) {
            StreamDry = true;
            break;
        }
        ++Len;
        ++Extra;
        Cut = FEncoding->CutTailLength(Bytes + Skip, Len - Skip);
    }
    // Still unfinished after the read-ahead (a run of broken sequences just
    // before it): keep the start for the next block rather than split it.
    qsizetype DecodeEnd = Len;
    if (Cut > 0 && !StreamDry && !FNoDataInStream) {
        DecodeEnd = Len - Cut;
        FCarryBytes = QByteArray(Bytes + DecodeEnd, Cut);
    }

    const qsizetype DecodeCount = DecodeEnd - Skip;
    const QString S = FEncoding->GetString(Bytes + Skip, DecodeCount);
    if (S.isEmpty() && DecodeCount > 0) {
        // An encoding that turned bytes into nothing; dropping them silently would lose text.
        FNoDataInStream = true;
        throw EEncodingError(
            QStringLiteral("Invalid %1 byte sequence in the input stream").arg(FEncoding->EncodingName()));
    }

    int Removed = 0;
    if (Compact && FBufferedStartIndex > 0) {
        Removed = FBufferedStartIndex;
        FBufferedData->Remove(0, FBufferedStartIndex);
        FBufferedStartIndex = 0;
    }
    FBufferedData->Append(S);
    return Removed;
}

bool TStreamReaderEx::LineBuffered() const {
    if (!FStreaming || !FBufferedData || FStream == nullptr || FNoDataInStream)
        return true;
    const QChar* D = FBufferedData->Data();
    const int Len = FBufferedData->Length();
    int S = FBufferedStartIndex;
    if (FPendingLF && S < Len && D[S].unicode() == LF)
        ++S;
    if (FTruncLineLength > 0 && Len - S >= FTruncLineLength)
        return true;
    // The same ends as FindLineEnd's: a break, or the edge of a NUL run.
    for (int P = S; P < Len; ++P) {
        const char16_t C = D[P].unicode();
        if (C == LF || C == CR)
            return true;
        if (P > S && FSkipLineNullChars && (C == 0) != (D[P - 1].unicode() == 0))
            return true;
    }
    return false;
}

void TStreamReaderEx::ConsumePendingLF() {
    if (!FPendingLF || FBufferedStartIndex >= FBufferedData->Length())
        return;
    FPendingLF = false;
    if (FBufferedData->Data()[FBufferedStartIndex].unicode() == LF)
        ++FBufferedStartIndex;
}

bool TStreamReaderEx::EndOfStream() {
    if (!FBufferedData || FStream == nullptr)
        return true;
    if (FStreaming) {
        // A read may bring no character (half of one, an undecided mark, the
        // LF of a CR LF already handed out): wait on until one comes or the end.
        for (;;) {
            ConsumePendingLF();
            if (FNoDataInStream || FBufferedStartIndex < FBufferedData->Length())
                break;
            FillBuffer(true);
        }
    } else if (!FNoDataInStream && FBufferedStartIndex >= FBufferedData->Length()) {
        FillBuffer(false);
    }
    return FNoDataInStream && FBufferedStartIndex >= FBufferedData->Length();
}

int TStreamReaderEx::FindLineEnd(int& NextStart, bool* ACut) {
    if (ACut != nullptr)
        *ACut = false;
    if (!FBufferedData || FStream == nullptr)
        return -1;
    if (FStreaming) {
        while (FPendingLF && !FNoDataInStream && FBufferedStartIndex >= FBufferedData->Length())
            FillBuffer(true);
        ConsumePendingLF();
        FPendingLF = false;
    }
    int S = FBufferedStartIndex;
    int N = S;
    const bool HasLimit = FTruncLineLength > 0;
    qint64 L = qint64(S) + FTruncLineLength;
    int P = S;
    const QChar* D = FBufferedData->Data();
    int Len = FBufferedData->Length();

    const auto Refill = [&]() {
        const int Removed = FillBuffer(true);
        S -= Removed;
        N -= Removed;
        P -= Removed;
        L -= Removed;
        D = FBufferedData->Data();
        Len = FBufferedData->Length();
    };

    for (;;) {
        if (FStreaming) {
            // Only when the data so far is used up: a line whose break is in
            // must not wait for the next one.
            while (P >= Len && !FNoDataInStream)
                Refill();
            if (P >= Len) {
                N = P;
                break;
            }
        } else {
            if (P + 2 > Len && !FNoDataInStream)
                Refill();
            if (P >= Len) {
                if (FNoDataInStream) {
                    N = P;
                    break;
                }
                Refill();
                if (P >= Len) {
                    N = P;
                    break;
                }
            }
        }
        // Run over ordinary characters: anything above CR ends a line only at
        // the length limit or right after a NUL. Stop where a refill is due.
        if (!FSkipLineNullChars || P == S || D[P - 1].unicode() != 0) {
            qint64 StopAt = (FNoDataInStream || FStreaming) ? Len : Len - 1;
            if (HasLimit && L < StopAt)
                StopAt = L;
            const int From = P;
            while (P < StopAt && D[P].unicode() > CR)
                ++P;
            if (P != From)
                continue;
        }
        const char16_t C = D[P].unicode();
        if (C == LF) {
            N = P + 1;
            break;
        }
        if (C == CR) {
            if (P + 1 < Len) {
                N = D[P + 1].unicode() == LF ? P + 2 : P + 1;
            } else {
                N = P + 1;
                // Its LF may still be on its way; the next read drops it.
                FPendingLF = FStreaming && !FNoDataInStream;
            }
            break;
        }
        if (HasLimit && P == L) {
            N = P;
            if (ACut != nullptr)
                *ACut = true;
            break;
        }
        if (P > S && FSkipLineNullChars && ((C == 0) != (D[P - 1].unicode() == 0))) {
            N = P;
            break;
        }
        ++P;
    }
    NextStart = N;
    return P;
}

QString TStreamReaderEx::ReadLine() {
    int Next = 0;
    const int End = FindLineEnd(Next, &FLastLineCut);
    if (End < 0)
        return QString();
    int Count = End - FBufferedStartIndex;
    if (FTruncLineLength > 0)
        Count = std::min(Count, FTruncLineLength);
    const QString Line = FBufferedData->ToString(FBufferedStartIndex, Count);
    FBufferedStartIndex = Next;
    return Line;
}

void TStreamReaderEx::SkipLineTail() {
    // Piece by piece, as the cut made them: the buffer never holds more than
    // one piece however long the line.
    while (FLastLineCut) {
        int Next = 0;
        int End = FindLineEnd(Next, &FLastLineCut);
        if (End < 0) {
            FLastLineCut = false;
            break;
        }
        // A NUL run ends a piece but not the line.
        while (!FLastLineCut && Next == End && End < FBufferedData->Length()) {
            FBufferedStartIndex = Next;
            End = FindLineEnd(Next, &FLastLineCut);
        }
        FBufferedStartIndex = Next;
    }
}

void TStreamReaderEx::GotoNextLine() {
    int Next = 0;
    if (FindLineEnd(Next) >= 0)
        FBufferedStartIndex = Next;
}

int TStreamReaderEx::Peek() {
    if (!FBufferedData || EndOfStream())
        return -1;
    if (FBufferedStartIndex >= FBufferedData->Length())
        FillBuffer(false);
    if (FBufferedStartIndex >= FBufferedData->Length())
        return -1;
    return FBufferedData->Data()[FBufferedStartIndex].unicode();
}

int TStreamReaderEx::Read() {
    if (!FBufferedData || EndOfStream())
        return -1;
    if (FBufferedStartIndex >= FBufferedData->Length())
        FillBuffer(true);
    if (FBufferedStartIndex >= FBufferedData->Length())
        return -1;
    return FBufferedData->Data()[FBufferedStartIndex++].unicode();
}

int TStreamReaderEx::Read(QList<QChar>& Buffer, int Index, int Count) {
    if (Index < 0 || Count < 0 || qsizetype(Index) + Count > Buffer.size())
        throw EArgumentOutOfRangeException(
            QStringLiteral("Argument out of range: index %1, count %2, buffer of %3").arg(Index).arg(Count).arg(
                Buffer.size()));
    if (!FBufferedData || EndOfStream())
        return -1;
    bool First = true;
    while (AvailableChars() < Count && !EndOfStream() && !FNoDataInStream) {
        FillBuffer(First);
        First = false;
    }
    const int Copied = std::min(Count, AvailableChars());
    std::copy_n(FBufferedData->Data() + FBufferedStartIndex, Copied, Buffer.begin() + Index);
    FBufferedStartIndex += Copied;
    return Copied;
}

int TStreamReaderEx::ReadBlock(QList<QChar>& Buffer, int Index, int Count) {
    return Read(Buffer, Index, Count);
}

QString TStreamReaderEx::ReadToEnd() {
    if (!FBufferedData || EndOfStream())
        return QString();
    bool First = true;
    while (!FNoDataInStream) {
        FillBuffer(First);
        First = false;
    }
    const QString Rest = FBufferedData->ToString(FBufferedStartIndex, AvailableChars());
    FBufferedStartIndex = FBufferedData->Length();
    return Rest;
}
