// Feeds arbitrary text through the IPv6 address-line parser and compares it
// with libc's inet_pton called here directly: a line is accepted exactly when
// inet_pton accepts the part before the first "/" (and that part holds no NUL,
// which would cut it short for libc) and the part after it, if any, is one to
// three decimal digits of at most 128. An accepted address must survive its
// canonical text, its line text and its DNSBL query name unchanged.
// The first input byte picks how the rest becomes text: as UTF-8, or mapped
// onto the characters that matter to an address so most inputs get far.
#include "resolve/uAddressText.h"
#include "FuzzFail.h"
#include "FuzzInput.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct TRefLine {
    bool Ok = false;
    uint8_t Bytes[16] = {};
    int Prefix = -1;
};

bool RefAddress(const std::string& AText, uint8_t (&ABytes)[16]) {
    if (AText.find('\0') != std::string::npos)
        return false;
    in6_addr Raw;
    if (inet_pton(AF_INET6, AText.c_str(), &Raw) != 1)
        return false;
    std::memcpy(ABytes, &Raw, 16);
    return true;
}

TRefLine RefLine(const std::string& AText) {
    TRefLine R;
    const size_t Slash = AText.find('/');
    if (Slash != std::string::npos) {
        const std::string P = AText.substr(Slash + 1);
        if (P.empty() || P.size() > 3 || P.find_first_not_of("0123456789") != std::string::npos)
            return R;
        R.Prefix = std::stoi(P);
        if (R.Prefix > 128)
            return R;
    }
    R.Ok = RefAddress(AText.substr(0, Slash), R.Bytes);
    return R;
}

[[noreturn]] void Fail(const char* AWhat, const QString& AText) {
    char Msg[1024];
    std::snprintf(Msg, sizeof Msg, "%s on \"%s\"", AWhat, AText.toUtf8().constData());
    FuzzFail(Msg);
}

// The address again from its query name: nibble k of the name is nibble
// 31 - k of the address, the low nibble of each byte first.
bool QueryNameHolds(const QString& AName, const TIPv6Address& AAddress) {
    if (AName.size() != 63)
        return false;
    uint8_t Bytes[16] = {};
    for (int K = 0; K < 32; ++K) {
        const QChar C = AName[2 * K];
        if (K < 31 && AName[2 * K + 1] != u'.')
            return false;
        int Nibble;
        if (C >= u'0' && C <= u'9')
            Nibble = C.unicode() - u'0';
        else if (C >= u'a' && C <= u'f')
            Nibble = C.unicode() - u'a' + 10;
        else
            return false;
        const int Byte = 15 - K / 2;
        Bytes[Byte] |= uint8_t(K % 2 == 0 ? Nibble : Nibble << 4);
    }
    return std::memcmp(Bytes, AAddress.Bytes, 16) == 0;
}

void CheckRoundTrips(const TIPv6Address& AAddress, int APrefix, const QString& AText) {
    const QString Canonical = FormatIPv6(AAddress);
    TIPv6Address Back;
    if (Canonical.isEmpty() || !ParseIPv6Address(Canonical, Back) || Back != AAddress)
        Fail("canonical text does not read back", AText);
    if (FormatIPv6(Back) != Canonical)
        Fail("canonical text is not stable", AText);
    if (Canonical != Canonical.toLower() || Canonical.indexOf(u"::") != Canonical.lastIndexOf(u"::") ||
        Canonical.contains(u":::"))
        Fail("canonical text has upper case or more than one \"::\"", AText);
    int Prefix = -2;
    if (!ParseIPv6Line(FormatIPv6Line(AAddress, APrefix), Back, Prefix) || Back != AAddress || Prefix != APrefix)
        Fail("line text does not read back", AText);
    if (!QueryNameHolds(IPv6QueryName(AAddress), AAddress))
        Fail("query name does not hold the address", AText);
}

void Check(const QString& AText) {
    const std::string Utf8 = AText.toStdString();
    const TRefLine Want = RefLine(Utf8);
    TIPv6Address Got;
    int Prefix = -2;
    const bool Ok = ParseIPv6Line(AText, Got, Prefix);
    if (Ok != Want.Ok)
        Fail(Ok ? "line accepted, inet_pton refuses" : "line refused, inet_pton accepts", AText);
    if (Ok) {
        if (std::memcmp(Got.Bytes, Want.Bytes, 16) != 0)
            Fail("line parsed to other bytes than inet_pton's", AText);
        if (Prefix != Want.Prefix)
            Fail("prefix length differs", AText);
        CheckRoundTrips(Got, Prefix, AText);
    }
    // The whole text as a bare address: no prefix allowed.
    uint8_t Bytes[16];
    TIPv6Address Bare;
    const bool BareOk = ParseIPv6Address(AText, Bare);
    if (BareOk != RefAddress(Utf8, Bytes) || (BareOk && std::memcmp(Bare.Bytes, Bytes, 16) != 0))
        Fail("bare address disagrees with inet_pton", AText);
}

} // namespace

// Shared by the libFuzzer entry and the replay of the committed inputs.
int CheckIPv6LineInput(const uint8_t* AData, size_t ASize) {
    if (ASize == 0 || ASize > 512)
        return 0;
    const uint8_t Mode = AData[0];
    const char* Bytes = reinterpret_cast<const char*>(AData + 1);
    const qsizetype Len = qsizetype(ASize - 1);
    const QString Text = FuzzInputText(AData, ASize, "0123456789abcdefABCDEF::::::...../%0f1");
    Check(Text);

    // Any sixteen bytes are an address whose texts must read back.
    if (Len >= 16) {
        TIPv6Address A;
        std::memcpy(A.Bytes, Bytes, 16);
        CheckRoundTrips(A, Mode % 130 <= 128 ? int(Mode % 130) : -1, QStringLiteral("(raw bytes)"));
    }
    return 0;
}

#ifndef VT_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    return CheckIPv6LineInput(Data, Size);
}
#endif
