#pragma once

#include "containers/uException.h"

#include <QByteArray>
#include <QString>
#include <QStringConverter>

VT_DECLARE_EXCEPTION(EArgumentException, Exception)
VT_DECLARE_EXCEPTION(EArgumentNilException, EArgumentException)
VT_DECLARE_EXCEPTION(EArgumentOutOfRangeException, EArgumentException)
VT_DECLARE_EXCEPTION(EEncodingError, Exception)

// A text encoding: bytes to UTF-16 text and back, with its byte-order mark
// (preamble) and the worst-case size ratios the readers plan their buffers by.
class TEncoding : public TObject {
public:
    ~TEncoding() override = default;

    // Decodes Count bytes; an invalid sequence becomes U+FFFD and decoding
    // goes on, so the text around it is kept.
    virtual QString GetString(const char* Bytes, qsizetype Count) const = 0;
    QString GetString(const QByteArray& Bytes) const { return GetString(Bytes.constData(), Bytes.size()); }
    virtual QByteArray GetBytes(const QChar* Chars, qsizetype Count) const = 0;
    QByteArray GetBytes(const QString& S) const { return GetBytes(S.constData(), S.size()); }
    qsizetype GetByteCount(const QString& S) const { return GetBytes(S).size(); }
    // Encodes straight into Out when Capacity is surely enough; -1 (nothing
    // written) when it might not be.
    virtual qsizetype GetBytesInto(const QChar* Chars, qsizetype Count, char* Out, qsizetype Capacity) const;

    virtual QByteArray GetPreamble() const = 0;
    virtual qsizetype GetMaxByteCount(qsizetype CharCount) const = 0;
    virtual qsizetype GetMaxCharCount(qsizetype ByteCount) const = 0;
    virtual bool IsSingleByte() const { return false; }
    virtual int CodePage() const = 0;
    virtual QString EncodingName() const = 0;

    // Number of bytes at the end of Bytes that start a character whose
    // remaining bytes are missing (0 when the last character is complete).
    // Block readers use it to fetch the rest of a character cut by a block
    // boundary instead of decoding its halves separately.
    virtual qsizetype CutTailLength(const char* Bytes, qsizetype Count) const;

    // Shared instances; never freed by whoever holds them.
    static TEncoding* UTF8();              // UTF-8
    static TEncoding* Unicode();           // UTF-16 little-endian
    static TEncoding* BigEndianUnicode();  // UTF-16 big-endian
    static TEncoding* Default();           // the system's 8-bit code page
    static bool IsStandardEncoding(const TEncoding* AEncoding);
};

// An encoding carried out by one of Qt's converters.
class TQtEncoding : public TEncoding {
public:
    QString GetString(const char* Bytes, qsizetype Count) const override;
    QByteArray GetBytes(const QChar* Chars, qsizetype Count) const override;
    qsizetype GetBytesInto(const QChar* Chars, qsizetype Count, char* Out, qsizetype Capacity) const override;
    QStringConverter::Encoding ConverterEncoding() const { return FConverterEncoding; }

protected:
    explicit TQtEncoding(QStringConverter::Encoding AEncoding);

private:
    QStringConverter::Encoding FConverterEncoding;
};

// The standard UTF-8 encoding. Each maximal invalid subpart (the longest
// start of a well-formed sequence, or a single byte that starts none)
// decodes to one U+FFFD, as Unicode recommends.
class TUTF8Encoding : public TQtEncoding {
public:
    TUTF8Encoding() : TQtEncoding(QStringConverter::Utf8) {}
    QString GetString(const char* Bytes, qsizetype Count) const override;
    using TEncoding::GetString;
    QByteArray GetPreamble() const override;
    qsizetype GetMaxByteCount(qsizetype CharCount) const override;
    qsizetype GetMaxCharCount(qsizetype ByteCount) const override;
    int CodePage() const override { return 65001; }
    QString EncodingName() const override { return QStringLiteral("UTF-8"); }
    qsizetype CutTailLength(const char* Bytes, qsizetype Count) const override;
};

class TUnicodeEncoding : public TQtEncoding {
public:
    TUnicodeEncoding() : TQtEncoding(QStringConverter::Utf16LE) {}
    QByteArray GetPreamble() const override;
    qsizetype GetMaxByteCount(qsizetype CharCount) const override;
    qsizetype GetMaxCharCount(qsizetype ByteCount) const override;
    int CodePage() const override { return 1200; }
    QString EncodingName() const override { return QStringLiteral("UTF-16LE"); }
    qsizetype CutTailLength(const char* Bytes, qsizetype Count) const override;

protected:
    explicit TUnicodeEncoding(QStringConverter::Encoding AEncoding) : TQtEncoding(AEncoding) {}
    virtual bool IsBigEndian() const { return false; }
};

class TBigEndianUnicodeEncoding : public TUnicodeEncoding {
public:
    TBigEndianUnicodeEncoding() : TUnicodeEncoding(QStringConverter::Utf16BE) {}
    QByteArray GetPreamble() const override;
    int CodePage() const override { return 1201; }
    QString EncodingName() const override { return QStringLiteral("UTF-16BE"); }

protected:
    bool IsBigEndian() const override { return true; }
};

// The system's 8-bit code page (Qt assumes UTF-8 on Unix); no preamble.
class TANSIEncoding : public TQtEncoding {
public:
    TANSIEncoding() : TQtEncoding(QStringConverter::System) {}
    QByteArray GetPreamble() const override { return QByteArray(); }
    qsizetype GetMaxByteCount(qsizetype CharCount) const override;
    qsizetype GetMaxCharCount(qsizetype ByteCount) const override;
    int CodePage() const override { return 0; }
    QString EncodingName() const override { return QStringLiteral("System"); }
    qsizetype CutTailLength(const char* Bytes, qsizetype Count) const override;
};

// UTF-8 rule shared by the UTF-8 encodings: length of an unfinished
// multi-byte sequence at the end of Bytes.
qsizetype Utf8CutTailLength(const char* Bytes, qsizetype Count);

// UTF-8 to UTF-16 with one U+FFFD per maximal invalid subpart.
QString DecodeUtf8Replacing(const char* Bytes, qsizetype Count);

// File names are bytes. Decoded, every byte that is no part of valid UTF-8
// becomes the lone surrogate U+DC80..U+DCFF, which EncodeFileName turns back
// into that byte: a name that is not UTF-8 ("caf\xe9.txt") survives the trip
// through a QString unchanged. Valid UTF-8 decodes as usual.
QString DecodeFileName(const QByteArray& ABytes);
QByteArray EncodeFileName(const QString& AName);
