#include "resolve/uAddressText.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

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
