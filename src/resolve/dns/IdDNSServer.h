#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

// One entry of a DNS server list, as a user writes it:
//   "192.0.2.53", "192.0.2.53:5353"        IPv4 address, optional port
//   "2001:db8::53", "::1"                  bare IPv6 address (default port)
//   "[2001:db8::53]", "[::1]:5353"         bracketed IPv6 address, optional port
//   "LOCALHOST", "dns.example", "ns:5353"  host names, looked up when asked
struct TDNSServerEntry {
    enum TKind { skIPv4, skIPv6, skName };
    TKind Kind = skIPv4;
    QString Host;            // the address or name without brackets and port
    quint16 Port = 53;
    bool HasPort = false;
    quint32 IPv4 = 0;        // skIPv4, host order
    quint8 IPv6[16] = {};    // skIPv6, network order
};

// Parses a trimmed server entry. Returns false for a malformed one, with
// AError saying what is wrong (a port out of range, a broken IPv6 address,
// characters no host name has). ADefaultPort fills the port when none is given.
bool ParseDNSServerEntry(const QString& AText, quint16 ADefaultPort, TDNSServerEntry& AEntry,
                         QString* AError = nullptr);
// Only the verdict, for list validation; the text is trimmed first.
bool IsValidDNSServerEntry(const QString& AText);

// How the look-up of a server's host name ended.
enum TDNSServerLookup { slFound, slNotFound, slAborted };

// Turns a host-name entry (skName) into the address entry of that name, an
// IPv4 address when it has one, keeping its port. The platform's resolver
// may wait far longer than a lookup may: the answer is waited for at most
// ATimeoutMSec, asking AAbort (when set) every 50 ms. AError tells why a
// name was not found. Other kinds of entry are found as they are.
TDNSServerLookup LookUpDNSServer(TDNSServerEntry& AEntry, int ATimeoutMSec, const std::function<bool()>& AAbort,
                                 QString* AError = nullptr);
