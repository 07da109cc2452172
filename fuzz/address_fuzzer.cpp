// Feeds arbitrary text through the address parser and the input-line
// classification of the resolve job, and compares both with a plain
// reference parser written here from the rules the job follows:
//   - parts split at ".", an empty part ends the parse (accepted so far);
//   - the last part of fewer than four fills every byte still open;
//   - a part is "0x" hexadecimal, leading-zero octal (digits 0-7 only), or an
//     integer: leading blanks, a sign, then decimal digits or hexadecimal
//     after "$", "x" or "0x"; a magnitude beyond 64 bits is not a number;
//   - an optional "/prefix" (same conversion, 0..32) is checked, not used.
// Input lines go through the strict form as well (TQXUtils::ParseAddressLine):
// one to four non-empty parts of digits (or "0x" and hexadecimal digits), each
// fitting the bytes it fills, an optional "/prefix" of the same form and 0..32.
// An accepted line must be written as the dotted quad of its value (plus
// "/prefix" in decimal) and read back as itself; and a name the job would ask
// a server must be made of letters, digits, "-" and "_" in labels of 1..63,
// 253 characters at most.
// The first input byte picks how the rest becomes text: as UTF-8, or mapped
// onto the characters that matter to the parser so that most inputs get past
// the first part.
#include "resolve/QXUtilsUnit.h"
#include "FuzzFail.h"
#include "FuzzInput.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using U16 = std::u16string;

std::optional<uint64_t> Digits(const U16& S, size_t From, unsigned Base) {
    if (From >= S.size())
        return std::nullopt;
    unsigned __int128 V = 0;
    for (size_t I = From; I < S.size(); ++I) {
        const char16_t C = S[I];
        unsigned D;
        if (C >= u'0' && C <= u'9')
            D = unsigned(C - u'0');
        else if (C >= u'a' && C <= u'f')
            D = unsigned(C - u'a') + 10;
        else if (C >= u'A' && C <= u'F')
            D = unsigned(C - u'A') + 10;
        else
            return std::nullopt;
        if (D >= Base)
            return std::nullopt;
        V = V * Base + D;
        if (V > UINT64_MAX)
            return std::nullopt;
    }
    return uint64_t(V);
}

bool HexPrefixAt(const U16& S, size_t I) {
    return I + 1 < S.size() && S[I] == u'0' && (S[I + 1] == u'x' || S[I + 1] == u'X');
}

std::optional<uint64_t> RefPart(const U16& P) {
    if (HexPrefixAt(P, 0))
        return Digits(P, 2, 16);
    if (!P.empty() && P[0] == u'0' && P.find_first_not_of(u"01234567") == U16::npos)
        return Digits(P, 0, 8);
    size_t I = P.find_first_not_of(u' ');
    if (I == U16::npos)
        return std::nullopt;
    bool Minus = false;
    if (P[I] == u'+' || P[I] == u'-') {
        Minus = P[I] == u'-';
        ++I;
    }
    std::optional<uint64_t> V;
    if (I < P.size() && (P[I] == u'$' || P[I] == u'x' || P[I] == u'X'))
        V = Digits(P, I + 1, 16);
    else if (HexPrefixAt(P, I))
        V = Digits(P, I + 2, 16);
    else
        V = Digits(P, I, 10);
    if (V && Minus)
        V = uint64_t(0) - *V;
    return V;
}

std::optional<uint32_t> RefIPv4(const U16& S) {
    uint64_t Value = 0;
    int Open = 4;
    size_t Pos = 0;
    for (;;) {
        const size_t Dot = S.find(u'.', Pos);
        const U16 Part = S.substr(Pos, Dot == U16::npos ? U16::npos : Dot - Pos);
        Pos = Dot == U16::npos ? S.size() : Dot + 1;
        if (Part.empty())
            return uint32_t(Value);
        const bool Last = Pos >= S.size();
        uint64_t Mask = 0xFF;
        if (Last && Open > 1) {
            if (Open < 4)
                Value <<= 8 * Open;
            Mask = Open == 4 ? 0xFFFFFFFFu : (uint64_t(1) << (8 * Open)) - 1;
        } else {
            Value <<= 8;
        }
        Value &= 0xFFFFFFFFu;
        const std::optional<uint64_t> V = RefPart(Part);
        if (!V)
            return std::nullopt;
        Value = (Value + (*V & Mask)) & 0xFFFFFFFFu;
        --Open;
    }
}

std::optional<uint32_t> RefEntry(const U16& S) {
    const size_t Slash = S.find(u'/');
    if (Slash == U16::npos)
        return RefIPv4(S);
    if (Slash == 0)
        return std::nullopt;
    const std::optional<uint64_t> Prefix = RefPart(S.substr(Slash + 1));
    if (!Prefix || *Prefix > 32)
        return std::nullopt;
    return RefIPv4(S.substr(0, Slash));
}

bool RefDigitPart(const U16& P) {
    if (P.size() > 2 && HexPrefixAt(P, 0))
        return P.find_first_not_of(u"0123456789abcdefABCDEF", 2) == U16::npos;
    return !P.empty() && P.find_first_not_of(u"0123456789") == U16::npos;
}

// The strict address form: the value and the text the output carries.
std::optional<std::pair<uint32_t, std::string>> RefAddressLine(const U16& S) {
    const size_t Slash = S.find(u'/');
    std::string Suffix;
    if (Slash != U16::npos) {
        const U16 P = S.substr(Slash + 1);
        const std::optional<uint64_t> Prefix = RefDigitPart(P) ? RefPart(P) : std::nullopt;
        if (!Prefix || *Prefix > 32)
            return std::nullopt;
        // Appended, not "/" + string: GCC 12 warns falsely about the inserting form.
        Suffix = std::string(1, '/').append(std::to_string(*Prefix));
    }
    const U16 A = S.substr(0, Slash);
    std::vector<U16> Parts;
    for (size_t Pos = 0;;) {
        const size_t Dot = A.find(u'.', Pos);
        Parts.push_back(A.substr(Pos, Dot == U16::npos ? U16::npos : Dot - Pos));
        if (Dot == U16::npos)
            break;
        Pos = Dot + 1;
    }
    if (Parts.size() > 4)
        return std::nullopt;
    uint64_t Value = 0;
    for (size_t I = 0; I < Parts.size(); ++I) {
        const std::optional<uint64_t> V = RefDigitPart(Parts[I]) ? RefPart(Parts[I]) : std::nullopt;
        const unsigned Bytes = I + 1 == Parts.size() ? unsigned(4 - I) : 1;
        if (!V || (*V >> (8 * Bytes)) != 0)
            return std::nullopt;
        Value = (Value << (8 * Bytes)) | *V;
    }
    const std::string Text = std::to_string(Value >> 24) + "." + std::to_string((Value >> 16) & 0xFF) + "." +
                             std::to_string((Value >> 8) & 0xFF) + "." + std::to_string(Value & 0xFF);
    return std::make_pair(uint32_t(Value), Text + Suffix);
}

// A name a server can be asked: the host-name rules, one final "." allowed.
bool RefQueryableName(QStringView S) {
    if (S.endsWith(u'.'))
        S.chop(1);
    return RefIsHostName(S);
}

[[noreturn]] void FailText(const char* What, const QString& Text, const QString& Got, const QString& Want) {
    char Msg[1024];
    std::snprintf(Msg, sizeof Msg, "%s disagrees on \"%s\": got \"%s\", reference \"%s\"", What,
                  Text.toUtf8().constData(), Got.toUtf8().constData(), Want.toUtf8().constData());
    FuzzFail(Msg);
}

[[noreturn]] void Fail(const char* What, const QString& Text, bool GotOk, uint32_t Got, bool WantOk, uint32_t Want) {
    char Msg[1024];
    std::snprintf(Msg, sizeof Msg, "%s disagrees on \"%s\": got %s 0x%08x, reference %s 0x%08x", What,
                  Text.toUtf8().constData(), GotOk ? "address" : "no address", Got, WantOk ? "address" : "no address",
                  Want);
    FuzzFail(Msg);
}

void Check(const QString& Text) {
    const U16 S(reinterpret_cast<const char16_t*>(Text.utf16()), size_t(Text.size()));

    bool Error = true;
    const quint32 Got = ParseIPv4(Text, Error);
    const std::optional<uint32_t> Want = RefIPv4(S);
    if (Error == Want.has_value() || (Want && Got != *Want))
        Fail("ParseIPv4", Text, !Error, Got, Want.has_value(), Want.value_or(0));

    quint32 Entry = 0xDEADBEEF;
    const bool Ok = TQXUtils::ParseIPEntry(Text, Entry);
    const std::optional<uint32_t> WantEntry = RefEntry(S);
    if (Ok != WantEntry.has_value() || (Ok && Entry != *WantEntry))
        Fail("ParseIPEntry", Text, Ok, Entry, WantEntry.has_value(), WantEntry.value_or(0));
    if (Ok) {
        // The query name of an address is its bytes from the low one up.
        const QString Reverse = TQXUtils::ReverseIPv4(Entry);
        const QString Expected = QStringLiteral("%1.%2.%3.%4")
                                     .arg(Entry & 0xFF)
                                     .arg((Entry >> 8) & 0xFF)
                                     .arg((Entry >> 16) & 0xFF)
                                     .arg(Entry >> 24);
        if (Reverse != Expected)
            Fail("ReverseIPv4", Text, true, Entry, true, Entry);
    }

    quint32 LineValue = 0;
    QString LineText;
    const bool LineOk = TQXUtils::ParseAddressLine(Text, LineValue, LineText);
    const auto WantLine = RefAddressLine(S);
    const QString WantText = WantLine ? QString::fromStdString(WantLine->second) : QStringLiteral("(none)");
    if (LineOk != WantLine.has_value() || (LineOk && (LineValue != WantLine->first || LineText != WantText)))
        FailText("ParseAddressLine", Text, LineOk ? LineText : QStringLiteral("(none)"), WantText);
    if (LineOk) {
        // The lenient parser reads the same value, so the RBL query and the
        // written text mean one address.
        if (!Ok || Entry != LineValue)
            Fail("ParseAddressLine against ParseIPEntry", Text, Ok, Entry, true, LineValue);
        // The written text is canonical: it reads back as itself.
        quint32 Again = 0;
        QString AgainText;
        if (!TQXUtils::ParseAddressLine(LineText, Again, AgainText) || Again != LineValue || AgainText != LineText)
            FailText("canonical text", Text, AgainText, LineText);
        for (QChar C : LineText)
            if (!C.isDigit() && C != QLatin1Char('.') && C != QLatin1Char('/'))
                FailText("address text characters", Text, LineText, LineText);
    }
    if (TQXUtils::IsQueryableName(Text) != RefQueryableName(Text))
        FailText("IsQueryableName", Text, TQXUtils::IsQueryableName(Text) ? "name" : "no name",
                 RefQueryableName(Text) ? "name" : "no name");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size == 0 || Size > 512)
        return 0;
    const char* Bytes = reinterpret_cast<const char*>(Data + 1);
    const qsizetype Len = qsizetype(Size - 1);
    const QString Text = FuzzInputText(Data, Size, "0123456789.......//xX$ +-0x7fFaAgz9");
    Check(Text);

    // A canonical dotted quad made of the first four bytes always parses to itself.
    if (Len >= 4) {
        const auto B = reinterpret_cast<const uint8_t*>(Bytes);
        const QString Quad = QStringLiteral("%1.%2.%3.%4").arg(B[0]).arg(B[1]).arg(B[2]).arg(B[3]);
        quint32 V = 0;
        const quint32 Want = (uint32_t(B[0]) << 24) | (uint32_t(B[1]) << 16) | (uint32_t(B[2]) << 8) | B[3];
        if (!TQXUtils::ParseIPEntry(Quad, V) || V != Want)
            Fail("dotted quad", Quad, true, V, true, Want);
    }
    return 0;
}
