#pragma once

#include <QString>
#include <QList>
#include <QStringView>

// Address texts beside the job's own lenient IPv4 parser: IPv6 addresses,
// strict dotted quads (as libc reads them) and their canonical texts. libc's
// inet_pton and inet_ntop do the reading and writing, so every form they know
// ("::", an embedded IPv4 tail, RFC 5952 output) behaves as the system's own
// tools expect.

// An IPv6 address in network order, Bytes[0] first.
struct TIPv6Address {
    quint8 Bytes[16] = {};

    bool operator==(const TIPv6Address& AOther) const = default;
    auto operator<=>(const TIPv6Address& AOther) const = default;
};

// An IPv6 address in any text form inet_pton accepts: eight groups, "::" for
// a run of zero groups, an IPv4 tail ("::ffff:192.0.2.1"). No surrounding
// blanks, no "/prefix", no zone index ("fe80::1%eth0" is not an address).
bool ParseIPv6Address(QStringView AText, TIPv6Address& AAddress);

// An IPv6 address line: an address as above, optionally followed by "/" and a
// prefix length of one to three decimal digits, 0 to 128. APrefix is -1 when
// the line has none. Both outputs are left alone when the line is refused.
bool ParseIPv6Line(QStringView AText, TIPv6Address& AAddress, int& APrefix);

// RFC 5952 text: lower case, no leading zeros, "::" for the longest run of two
// or more zero groups (the first of equal runs), dotted tail for mapped IPv4.
QString FormatIPv6(const TIPv6Address& AAddress);
// FormatIPv6 plus "/" and the prefix when APrefix is 0 or more.
QString FormatIPv6Line(const TIPv6Address& AAddress, int APrefix);

// The DNSBL query name of an address: its 32 nibbles from the last one back,
// each as one lower-case hex digit, joined by "." (the zone is appended by the
// caller after another ".").
QString IPv6QueryName(const TIPv6Address& AAddress);

// A dotted quad exactly as inet_pton reads it (four decimal parts 0..255, no
// leading zeros, nothing else); the value's most significant byte is the first
// part, as everywhere in the job.
bool ParseIPv4Strict(QStringView AText, quint32& AValue);
// A strict dotted quad, optionally followed by "/" and a prefix length of one
// or two decimal digits, 0 to 32. APrefix is -1 when the line has none.
bool ParseIPv4LineStrict(QStringView AText, quint32& AValue, int& APrefix);
// The dotted quad of a value ("10.0.0.1").
QString FormatIPv4(quint32 AValue);

// Parses dotted IPv4 text into a value whose most significant byte is the first
// octet. Error is cleared when the text is accepted. Shortened forms are
// accepted ("10.1" is 10.0.0.1, a single number is the whole value), a part
// wider than its byte is masked ("300" becomes 44), "0x" parts are hexadecimal
// and leading-zero parts octal. An empty part ends the parse early, so ".x"
// and "10..1" are accepted with the value gathered so far.
quint32 ParseIPv4(const QString& S, bool& Error);

// The integer conversion behind every part of an address and behind a prefix
// length. Exposed for the tests and the command line.
bool ConvertIPPart(const QString& APart, quint64& AValue);

// Address line with an optional "/prefix" (0..32, checked, not used); the
// value is that of the part before the "/". The lenient form behind
// TQXUtils::ParseIPEntry.
bool ParseIPv4Entry(const QString& S, quint32& AValue);
// An input line that is an IPv4 address as the job reads it (see
// TQXUtils::ParseAddressLine): AText is the dotted quad of AValue, plus
// "/prefix" when given.
bool ParseIPv4AddressLine(const QString& S, quint32& AValue, QString& AText);

// Why an address or address block must not become a firewall entry: a
// special address (loopback, "this network", link-local, multicast, reserved
// and broadcast, in IPv4 and IPv6, the IPv4-mapped forms included, and the
// extra addresses given), a block that covers one of them, or a block wider
// than /8 (IPv4) or /16 (IPv6). Blocking any of them breaks the machine.
enum TAddressCaution : quint8 { acNone = 0, acSpecial = 1, acTooWide = 2 };

// Addresses that count as special beyond the fixed ranges (a run's DNS
// servers): IPv4 values most significant byte first, IPv6 ones in network order.
struct TExtraSpecials {
    QList<quint32> IPv4;
    QList<TIPv6Address> IPv6;
};

// AText is an address line as the job writes it: a strict dotted quad or an
// IPv6 address, each with an optional "/prefix". Any other text is acNone.
TAddressCaution AddressCaution(QStringView AText, const TExtraSpecials& AExtra = {});
