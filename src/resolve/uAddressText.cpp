#include "resolve/uAddressText.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <limits>
#include <QStringList>

namespace {

// Copies an address text into a NUL-terminated byte buffer for libc. Refuses
// what no address text holds anyway: non-ASCII, control characters (an
// embedded NUL would cut the text short for inet_pton), blanks, and texts too
// long for the buffer.
template <qsizetype N>
bool ToAsciiBuffer(QStringView AText, char (&ABuffer)[N]) {
    if (AText.isEmpty() || AText.size() >= N)
        return false;
    for (qsizetype I = 0; I < AText.size(); ++I) {
        const char16_t C = AText[I].unicode();
        if (C <= 32 || C >= 127)
            return false;
        ABuffer[I] = char(C);
    }
    ABuffer[AText.size()] = '\0';
    return true;
}

// One to AMaxDigits decimal digits with a value up to AMax.
bool ParsePrefix(QStringView AText, int AMaxDigits, int AMax, int& APrefix) {
    if (AText.isEmpty() || AText.size() > AMaxDigits)
        return false;
    int Value = 0;
    for (const QChar C : AText) {
        if (C < u'0' || C > u'9')
            return false;
        Value = Value * 10 + (C.unicode() - u'0');
    }
    if (Value > AMax)
        return false;
    APrefix = Value;
    return true;
}

} // namespace

bool ParseIPv6Address(QStringView AText, TIPv6Address& AAddress) {
    char Buffer[64];
    if (!ToAsciiBuffer(AText, Buffer))
        return false;
    in6_addr Raw;
    if (::inet_pton(AF_INET6, Buffer, &Raw) != 1)
        return false;
    std::memcpy(AAddress.Bytes, &Raw, sizeof AAddress.Bytes);
    return true;
}

bool ParseIPv6Line(QStringView AText, TIPv6Address& AAddress, int& APrefix) {
    const qsizetype Slash = AText.indexOf(u'/');
    int Prefix = -1;
    if (Slash >= 0 && !ParsePrefix(AText.mid(Slash + 1), 3, 128, Prefix))
        return false;
    TIPv6Address Address;
    if (!ParseIPv6Address(Slash >= 0 ? AText.left(Slash) : AText, Address))
        return false;
    AAddress = Address;
    APrefix = Prefix;
    return true;
}

QString FormatIPv6(const TIPv6Address& AAddress) {
    in6_addr Raw;
    std::memcpy(&Raw, AAddress.Bytes, sizeof AAddress.Bytes);
    char Buffer[INET6_ADDRSTRLEN];
    if (!::inet_ntop(AF_INET6, &Raw, Buffer, sizeof Buffer))
        return QString();   // cannot happen with a buffer of this size
    return QString::fromLatin1(Buffer);
}

QString FormatIPv6Line(const TIPv6Address& AAddress, int APrefix) {
    QString Text = FormatIPv6(AAddress);
    if (APrefix >= 0) {
        Text += u'/';
        Text += QString::number(APrefix);
    }
    return Text;
}

QString IPv6QueryName(const TIPv6Address& AAddress) {
    static const char16_t Hex[] = u"0123456789abcdef";
    QString Name(63, Qt::Uninitialized);
    QChar* Out = Name.data();
    for (int I = 15; I >= 0; --I) {
        const quint8 B = AAddress.Bytes[I];
        *Out++ = QChar(Hex[B & 0x0F]);
        *Out++ = u'.';
        *Out++ = QChar(Hex[B >> 4]);
        if (I > 0)
            *Out++ = u'.';
    }
    return Name;
}

bool ParseIPv4Strict(QStringView AText, quint32& AValue) {
    char Buffer[20];
    if (!ToAsciiBuffer(AText, Buffer))
        return false;
    in_addr Raw;
    if (::inet_pton(AF_INET, Buffer, &Raw) != 1)
        return false;
    AValue = ntohl(Raw.s_addr);
    return true;
}

bool ParseIPv4LineStrict(QStringView AText, quint32& AValue, int& APrefix) {
    const qsizetype Slash = AText.indexOf(u'/');
    int Prefix = -1;
    if (Slash >= 0 && !ParsePrefix(AText.mid(Slash + 1), 2, 32, Prefix))
        return false;
    quint32 Value = 0;
    if (!ParseIPv4Strict(Slash >= 0 ? AText.left(Slash) : AText, Value))
        return false;
    AValue = Value;
    APrefix = Prefix;
    return true;
}

QString FormatIPv4(quint32 AValue) {
    in_addr Raw;
    Raw.s_addr = htonl(AValue);
    char Buffer[INET_ADDRSTRLEN];
    if (!::inet_ntop(AF_INET, &Raw, Buffer, sizeof Buffer))
        return QString();
    return QString::fromLatin1(Buffer);
}

// ---------------------------------------------------------------------------
// The lenient IPv4 forms the job has always read.

namespace {

bool IsHexDigit(QChar C) {
    const char16_t U = C.unicode();
    return (U >= '0' && U <= '9') || (U >= 'a' && U <= 'f') || (U >= 'A' && U <= 'F');
}

int HexValue(QChar C) {
    const char16_t U = C.unicode();
    if (U >= '0' && U <= '9')
        return U - '0';
    if (U >= 'a' && U <= 'f')
        return U - 'a' + 10;
    return U - 'A' + 10;
}

// Accumulates digits of one base into AValue; false on a foreign character, on
// no digits at all, or when the magnitude no longer fits 64 bits.
bool AccumulateDigits(const QString& S, qsizetype AFrom, int ABase, quint64& AValue) {
    if (AFrom >= S.size())
        return false;
    quint64 V = 0;
    for (qsizetype I = AFrom; I < S.size(); ++I) {
        const QChar C = S.at(I);
        int D;
        if (ABase == 16) {
            if (!IsHexDigit(C))
                return false;
            D = HexValue(C);
        } else {
            const char16_t U = C.unicode();
            if (U < '0' || U >= '0' + ABase)
                return false;
            D = U - '0';
        }
        if (V > (std::numeric_limits<quint64>::max() - quint64(D)) / quint64(ABase))
            return false;
        V = V * quint64(ABase) + quint64(D);
    }
    AValue = V;
    return true;
}

} // namespace

// One part of an address (or a prefix length): "0x" hexadecimal, a leading-zero
// octal number, or an integer in the common textual forms (leading blanks, a
// sign, decimal digits, or hexadecimal after "$", "x" or "0x"). Negative values
// come back in two's complement, so masking keeps their low bytes.
bool ConvertIPPart(const QString& APart, quint64& AValue) {
    if (APart.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        return AccumulateDigits(APart, 2, 16, AValue);
    if (APart.startsWith(QLatin1Char('0'))) {
        bool Octal = true;
        for (QChar C : APart)
            if (C < QLatin1Char('0') || C > QLatin1Char('7')) {
                Octal = false;
                break;
            }
        if (Octal)
            return AccumulateDigits(APart, 0, 8, AValue);
    }
    qsizetype I = 0;
    while (I < APart.size() && APart.at(I) == QLatin1Char(' '))
        ++I;
    bool Negative = false;
    if (I < APart.size() && (APart.at(I) == QLatin1Char('+') || APart.at(I) == QLatin1Char('-'))) {
        Negative = APart.at(I) == QLatin1Char('-');
        ++I;
    }
    quint64 V = 0;
    bool Ok;
    if (I < APart.size() && (APart.at(I) == QLatin1Char('$') || APart.at(I) == QLatin1Char('x') ||
                             APart.at(I) == QLatin1Char('X')))
        Ok = AccumulateDigits(APart, I + 1, 16, V);
    else if (I + 1 < APart.size() && APart.at(I) == QLatin1Char('0') &&
             (APart.at(I + 1) == QLatin1Char('x') || APart.at(I + 1) == QLatin1Char('X')))
        Ok = AccumulateDigits(APart, I + 2, 16, V);
    else
        Ok = AccumulateDigits(APart, I, 10, V);
    if (!Ok)
        return false;
    AValue = Negative ? quint64(0) - V : V;
    return true;
}

quint32 ParseIPv4(const QString& S, bool& Error) {
    Error = true;
    quint32 Value = 0;
    int Remaining = 4;
    QString Rest = S;
    for (;;) {
        const qsizetype Dot = Rest.indexOf(QLatin1Char('.'));
        const QString Part = Dot < 0 ? Rest : Rest.left(Dot);
        Rest = Dot < 0 ? QString() : Rest.mid(Dot + 1);
        // An empty part is the normal end, and also cuts the parse short at a
        // leading dot or at two dots in a row.
        if (Part.isEmpty()) {
            Error = false;
            return Value;
        }
        quint64 Mask;
        if (Rest.isEmpty() && Remaining > 1) {
            // The last part fills every byte still open: "10.1" is 10.0.0.1.
            const int Shift = 8 * Remaining;
            if (Shift < 32)
                Value <<= Shift;
            Mask = Remaining >= 4 ? 0xFFFFFFFFull : ((quint64(1) << Shift) - 1);
        } else {
            Value <<= 8;
            Mask = 0xFF;
        }
        quint64 PartValue;
        if (!ConvertIPPart(Part, PartValue))
            return Value;
        Value += quint32(PartValue & Mask);
        --Remaining;
    }
}

bool ParseIPv4Entry(const QString& S, quint32& AValue) {
    AValue = 0;
    const qsizetype Slash = S.indexOf(QLatin1Char('/'));
    QString Address = S;
    if (Slash >= 0) {
        if (Slash == 0)
            return false;
        quint64 Prefix;
        if (!ConvertIPPart(S.mid(Slash + 1), Prefix) || Prefix > 32)
            return false;
        Address = S.left(Slash);
    }
    bool Error;
    const quint32 Value = ParseIPv4(Address, Error);
    if (Error)
        return false;
    AValue = Value;
    return true;
}

namespace {

// Digits only, or "0x" with hexadecimal digits: what an address part may be
// written as. Blanks, signs and the "$" and "x" forms the integer conversion
// also reads are left out, so that no text but a number stands for a part.
bool IsDigitPart(const QString& APart) {
    if (APart.isEmpty())
        return false;
    if (APart.size() > 2 && APart.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        for (qsizetype I = 2; I < APart.size(); ++I)
            if (!IsHexDigit(APart.at(I)))
                return false;
        return true;
    }
    for (QChar C : APart)
        if (C < QLatin1Char('0') || C > QLatin1Char('9'))
            return false;
    return true;
}

} // namespace

bool ParseIPv4AddressLine(const QString& S, quint32& AValue, QString& AText) {
    AValue = 0;
    AText.clear();
    const qsizetype Slash = S.indexOf(QLatin1Char('/'));
    const QString Address = Slash < 0 ? S : S.left(Slash);
    int Prefix = -1;
    if (Slash >= 0) {
        const QString PrefixText = S.mid(Slash + 1);
        quint64 P;
        if (!IsDigitPart(PrefixText) || !ConvertIPPart(PrefixText, P) || P > 32)
            return false;
        Prefix = int(P);
    }
    const QStringList Parts = Address.split(QLatin1Char('.'));
    if (Parts.size() > 4)
        return false;
    quint64 Value = 0;
    for (qsizetype I = 0; I < Parts.size(); ++I) {
        quint64 Part;
        if (!IsDigitPart(Parts.at(I)) || !ConvertIPPart(Parts.at(I), Part))
            return false;
        // The last part fills every byte still open; a wider value would be
        // masked by the parser and mean another address than the text says.
        const int Bytes = I + 1 == Parts.size() ? int(4 - I) : 1;
        if (Part >> (8 * Bytes) != 0)
            return false;
        Value = (Value << (8 * Bytes)) | Part;
    }
    // The parser the rest of the job knows must read the same value.
    bool Error;
    if (ParseIPv4(Address, Error) != quint32(Value) || Error)
        return false;
    AValue = quint32(Value);
    AText = FormatIPv4(AValue);
    if (Prefix >= 0)
        AText += QLatin1Char('/') + QString::number(Prefix);
    return true;
}

namespace {

struct TV4Range {
    quint32 Value;
    int Prefix;
};

// 0.0.0.0/8, 127.0.0.0/8, 169.254.0.0/16, 224.0.0.0/4 and 240.0.0.0/4 (which
// holds 255.255.255.255).
const TV4Range kSpecialIPv4[] = {
    {0x00000000u, 8}, {0x7F000000u, 8}, {0xA9FE0000u, 16}, {0xE0000000u, 4}, {0xF0000000u, 4},
};

// Two blocks overlap when they agree on the bits of the shorter prefix: one
// then holds the other.
bool Overlap4(quint32 A, int APrefix, quint32 B, int BPrefix) {
    const int Bits = qMin(APrefix, BPrefix);
    const quint32 Mask = Bits == 0 ? 0u : ~0u << (32 - Bits);
    return (A & Mask) == (B & Mask);
}

bool Overlap6(const TIPv6Address& A, int APrefix, const TIPv6Address& B, int BPrefix) {
    const int Bits = qMin(APrefix, BPrefix);
    const int Whole = Bits / 8;
    if (std::memcmp(A.Bytes, B.Bytes, size_t(Whole)) != 0)
        return false;
    if (Bits % 8 == 0)
        return true;
    const quint8 Mask = quint8(0xFF << (8 - Bits % 8));
    return (A.Bytes[Whole] & Mask) == (B.Bytes[Whole] & Mask);
}

bool Special4(quint32 AValue, int APrefix, const TExtraSpecials& AExtra) {
    for (const TV4Range& R : kSpecialIPv4)
        if (Overlap4(AValue, APrefix, R.Value, R.Prefix))
            return true;
    for (const quint32 Server : AExtra.IPv4)
        if (Overlap4(AValue, APrefix, Server, 32))
            return true;
    return false;
}

TIPv6Address MakeIPv6(std::initializer_list<quint8> AFirst, quint8 ALast = 0) {
    TIPv6Address A;
    int I = 0;
    for (const quint8 B : AFirst)
        A.Bytes[I++] = B;
    A.Bytes[15] = ALast;
    return A;
}

bool Special6(const TIPv6Address& AAddress, int APrefix, const TExtraSpecials& AExtra) {
    const struct {
        TIPv6Address Value;
        int Prefix;
    } Ranges[] = {{MakeIPv6({}), 128}, {MakeIPv6({}, 1), 128}, {MakeIPv6({0xFE, 0x80}), 10}, {MakeIPv6({0xFF}), 8}};
    for (const auto& R : Ranges)
        if (Overlap6(AAddress, APrefix, R.Value, R.Prefix))
            return true;
    for (const TIPv6Address& Server : AExtra.IPv6)
        if (Overlap6(AAddress, APrefix, Server, 128))
            return true;
    // ::ffff:0:0/96 carries IPv4 addresses: a block over all of it holds the
    // special ones, a block inside it is the IPv4 block it maps.
    const TIPv6Address Mapped = MakeIPv6({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF});
    if (!Overlap6(AAddress, APrefix, Mapped, 96))
        return false;
    if (APrefix < 96)
        return true;
    const quint32 V4 = quint32(AAddress.Bytes[12]) << 24 | quint32(AAddress.Bytes[13]) << 16 |
                       quint32(AAddress.Bytes[14]) << 8 | AAddress.Bytes[15];
    return Special4(V4, APrefix - 96, AExtra);
}

} // namespace

TAddressCaution AddressCaution(QStringView AText, const TExtraSpecials& AExtra) {
    quint32 V4 = 0;
    TIPv6Address V6;
    int Prefix = -1;
    const bool IPv4 = ParseIPv4LineStrict(AText, V4, Prefix);
    if (!IPv4 && !ParseIPv6Line(AText, V6, Prefix))
        return acNone;
    if (Prefix < 0)
        Prefix = IPv4 ? 32 : 128;
    if (Prefix < (IPv4 ? 8 : 16))
        return acTooWide;
    const bool Special = IPv4 ? Special4(V4, Prefix, AExtra) : Special6(V6, Prefix, AExtra);
    return Special ? acSpecial : acNone;
}
