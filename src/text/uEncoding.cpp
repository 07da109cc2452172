#include "text/uEncoding.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace {

// Stateless: every call stands alone. ConvertInitialBom: a U+FEFF at the
// start is text like any other; preambles are handled by the callers.
constexpr QStringConverter::Flags ConverterFlags =
    QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom;

int Utf8SequenceLength(uchar Lead) {
    if (Lead < 0x80)
        return 1;
    if (Lead >= 0xC2 && Lead <= 0xDF)
        return 2;
    if (Lead >= 0xE0 && Lead <= 0xEF)
        return 3;
    if (Lead >= 0xF0 && Lead <= 0xF4)
        return 4;
    return 0;  // continuation byte or a byte that never starts a sequence
}

// Bytes at B that form one well-formed UTF-8 sequence (Valid), or else the
// length of its maximal subpart: the longest start of a well-formed sequence,
// at least the one byte that begins none. Ranges as in Unicode's table of
// well-formed byte sequences (no overlongs, no surrogates, nothing past U+10FFFF).
qsizetype Utf8SequenceAt(const uchar* B, qsizetype Count, bool& Valid) {
    const uchar Lead = B[0];
    Valid = false;
    int Trail = 0;
    uchar Low = 0x80, High = 0xBF;  // range of the first trailing byte
    if (Lead < 0x80) {
        Valid = true;
        return 1;
    } else if (Lead >= 0xC2 && Lead <= 0xDF) {
        Trail = 1;
    } else if (Lead >= 0xE0 && Lead <= 0xEF) {
        Trail = 2;
        if (Lead == 0xE0)
            Low = 0xA0;
        else if (Lead == 0xED)
            High = 0x9F;
    } else if (Lead >= 0xF0 && Lead <= 0xF4) {
        Trail = 3;
        if (Lead == 0xF0)
            Low = 0x90;
        else if (Lead == 0xF4)
            High = 0x8F;
    } else {
        return 1;
    }
    qsizetype I = 1;
    for (; I <= Trail; ++I) {
        if (I >= Count || B[I] < Low || B[I] > High)
            return I;
        Low = 0x80;
        High = 0xBF;
    }
    Valid = true;
    return I;
}

QString DecodeWith(QStringConverter::Encoding Encoding, const char* Bytes, qsizetype Count) {
    QStringDecoder Decoder(Encoding, ConverterFlags);
    return Decoder.decode(QByteArrayView(Bytes, Count));
}

}  // namespace

QString DecodeUtf8Replacing(const char* Bytes, qsizetype Count) {
    if (Count <= 0)
        return QString();
    const QByteArrayView View(Bytes, Count);
    if (View.isValidUtf8())
        return DecodeWith(QStringConverter::Utf8, Bytes, Count);
    // Qt's decoder gives a U+FFFD for every byte of a broken sequence; here
    // the valid runs go through it and each maximal subpart between them
    // becomes one U+FFFD.
    const auto* B = reinterpret_cast<const uchar*>(Bytes);
    QString Result;
    Result.reserve(Count);
    qsizetype RunStart = 0;
    qsizetype P = 0;
    while (P < Count) {
        if (B[P] < 0x80) {
            ++P;
            continue;
        }
        bool Valid = false;
        const qsizetype Len = Utf8SequenceAt(B + P, Count - P, Valid);
        if (!Valid) {
            Result += DecodeWith(QStringConverter::Utf8, Bytes + RunStart, P - RunStart);
            Result += QChar(QChar::ReplacementCharacter);
            RunStart = P + Len;
        }
        P += Len;
    }
    Result += DecodeWith(QStringConverter::Utf8, Bytes + RunStart, Count - RunStart);
    return Result;
}

qsizetype Utf8CutTailLength(const char* Bytes, qsizetype Count) {
    // Walk back over at most three continuation bytes to the byte that should lead them.
    qsizetype Conts = 0;
    while (Conts < 3 && Conts < Count && (uchar(Bytes[Count - 1 - Conts]) & 0xC0) == 0x80)
        ++Conts;
    if (Conts == Count)
        return 0;
    const int Need = Utf8SequenceLength(uchar(Bytes[Count - 1 - Conts]));
    if (Need > Conts + 1)
        return Conts + 1;
    return 0;
}

qsizetype TEncoding::CutTailLength(const char* Bytes, qsizetype Count) const {
    // Generic rule: a complete text re-encodes to exactly the bytes it came from.
    if (Count == 0)
        return 0;
    return GetBytes(GetString(Bytes, Count)).size() != Count ? 1 : 0;
}

qsizetype TEncoding::GetBytesInto(const QChar*, qsizetype, char*, qsizetype) const {
    return -1;
}

TEncoding* TEncoding::UTF8() {
    static TUTF8Encoding Instance;
    return &Instance;
}

TEncoding* TEncoding::Unicode() {
    static TUnicodeEncoding Instance;
    return &Instance;
}

TEncoding* TEncoding::BigEndianUnicode() {
    static TBigEndianUnicodeEncoding Instance;
    return &Instance;
}

TEncoding* TEncoding::Default() {
    static TANSIEncoding Instance;
    return &Instance;
}

bool TEncoding::IsStandardEncoding(const TEncoding* AEncoding) {
    return AEncoding != nullptr && (AEncoding == UTF8() || AEncoding == Unicode() ||
                                    AEncoding == BigEndianUnicode() || AEncoding == Default());
}

// ---------------------------------------------------------------------------

TQtEncoding::TQtEncoding(QStringConverter::Encoding AEncoding) : FConverterEncoding(AEncoding) {}

QString TQtEncoding::GetString(const char* Bytes, qsizetype Count) const {
    if (Count <= 0)
        return QString();
    QString Result = DecodeWith(FConverterEncoding, Bytes, Count);
    // A lenient decoder that swallowed a lone trailing byte (half a UTF-16
    // unit) still owes the reader a character for it, or the bytes would look
    // like nothing at all.
    if (Result.isEmpty())
        return QString(QChar::ReplacementCharacter);
    return Result;
}

QByteArray TQtEncoding::GetBytes(const QChar* Chars, qsizetype Count) const {
    if (Count <= 0)
        return QByteArray();
    QStringEncoder Encoder(FConverterEncoding, ConverterFlags);
    return Encoder.encode(QStringView(Chars, Count));
}

// ---------------------------------------------------------------------------

QString TUTF8Encoding::GetString(const char* Bytes, qsizetype Count) const {
    return DecodeUtf8Replacing(Bytes, Count);
}

QByteArray TUTF8Encoding::GetPreamble() const {
    return QByteArray("\xEF\xBB\xBF", 3);
}

qsizetype TUTF8Encoding::GetMaxByteCount(qsizetype CharCount) const {
    return (CharCount + 1) * 3;
}

qsizetype TUTF8Encoding::GetMaxCharCount(qsizetype ByteCount) const {
    return ByteCount + 1;
}

qsizetype TUTF8Encoding::CutTailLength(const char* Bytes, qsizetype Count) const {
    return Utf8CutTailLength(Bytes, Count);
}

QByteArray TUnicodeEncoding::GetPreamble() const {
    return QByteArray("\xFF\xFE", 2);
}

QByteArray TBigEndianUnicodeEncoding::GetPreamble() const {
    return QByteArray("\xFE\xFF", 2);
}

qsizetype TUnicodeEncoding::GetMaxByteCount(qsizetype CharCount) const {
    return (CharCount + 1) * 2;
}

qsizetype TUnicodeEncoding::GetMaxCharCount(qsizetype ByteCount) const {
    return ByteCount / 2 + ByteCount % 2 + 1;
}

qsizetype TUnicodeEncoding::CutTailLength(const char* Bytes, qsizetype Count) const {
    // An odd byte, or a high surrogate waiting for its low half.
    const qsizetype Odd = Count % 2;
    if (Odd != 0)
        return Count < 3 ? Odd : Odd + (CutTailLength(Bytes, Count - Odd) ? 2 : 0);
    if (Count < 2)
        return 0;
    const uchar B0 = uchar(Bytes[Count - 2]), B1 = uchar(Bytes[Count - 1]);
    const char16_t Unit = IsBigEndian() ? char16_t(B0 << 8 | B1) : char16_t(B1 << 8 | B0);
    return QChar::isHighSurrogate(Unit) ? 2 : 0;
}

qsizetype TANSIEncoding::GetMaxByteCount(qsizetype CharCount) const {
    return (CharCount + 1) * 3;
}

qsizetype TANSIEncoding::GetMaxCharCount(qsizetype ByteCount) const {
    return ByteCount + 1;
}

qsizetype TANSIEncoding::CutTailLength(const char* Bytes, qsizetype Count) const {
    // Qt treats the system code page as UTF-8 on Unix.
    return Utf8CutTailLength(Bytes, Count);
}

qsizetype TQtEncoding::GetBytesInto(const QChar* Chars, qsizetype Count, char* Out, qsizetype Capacity) const {
    QStringEncoder Encoder(FConverterEncoding, ConverterFlags);
    if (Encoder.requiredSpace(Count) > Capacity)
        return -1;
    return Encoder.appendToBuffer(Out, QStringView(Chars, Count)) - Out;
}

QString DecodeFileName(const QByteArray& ABytes) {
    QString R;
    R.reserve(ABytes.size());
    const qsizetype N = ABytes.size();
    qsizetype I = 0;
    while (I < N) {
        const uchar B = uchar(ABytes[I]);
        const qsizetype Len = B < 0x80 ? 1 : (B & 0xE0) == 0xC0 ? 2 : (B & 0xF0) == 0xE0 ? 3 : (B & 0xF8) == 0xF0 ? 4 : 0;
        bool Valid = Len > 0 && I + Len <= N;
        for (qsizetype K = 1; Valid && K < Len; ++K)
            Valid = (uchar(ABytes[I + K]) & 0xC0) == 0x80;
        QString Piece;
        if (Valid) {
            // Qt refuses overlong forms and encoded surrogates; they stay bytes.
            Piece = QString::fromUtf8(ABytes.constData() + I, Len);
            Valid = !Piece.contains(QChar::ReplacementCharacter) ||
                    (Len == 3 && uchar(ABytes[I]) == 0xEF && uchar(ABytes[I + 1]) == 0xBF && uchar(ABytes[I + 2]) == 0xBD);
        }
        if (Valid) {
            R += Piece;
            I += Len;
        } else {
            R += QChar(char16_t(0xDC00 + B));
            ++I;
        }
    }
    return R;
}

QByteArray EncodeFileName(const QString& AName) {
    QByteArray R;
    R.reserve(AName.size());
    qsizetype Start = 0;
    const auto Flush = [&](qsizetype AEnd) {
        if (AEnd > Start)
            R += AName.mid(Start, AEnd - Start).toUtf8();
    };
    for (qsizetype I = 0; I < AName.size(); ++I) {
        const char16_t C = AName[I].unicode();
        // A lone low surrogate U+DC80..U+DCFF: not preceded by a high one.
        const bool Lone = C >= 0xDC80 && C <= 0xDCFF && !(I > 0 && AName[I - 1].isHighSurrogate());
        if (!Lone)
            continue;
        Flush(I);
        R += char(C - 0xDC00);
        Start = I + 1;
    }
    Flush(AName.size());
    return R;
}
