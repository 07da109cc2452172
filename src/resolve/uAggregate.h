#pragma once

#include "resolve/uAddressText.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <vector>

// One CIDR block: the address with every host bit clear, and the prefix length.
struct TIPv4Block {
    quint32 Address = 0;
    int Prefix = 32;

    bool operator==(const TIPv4Block& AOther) const = default;
};

struct TIPv6Block {
    TIPv6Address Address;
    int Prefix = 128;

    bool operator==(const TIPv6Block& AOther) const = default;
};

// "a.b.c.d/n", or the bare address for a /32.
QString FormatIPv4Block(const TIPv4Block& ABlock);
// RFC 5952 text with "/n", or the bare address for a /128.
QString FormatIPv6Block(const TIPv6Block& ABlock);

// Collects addresses and blocks of both families and gives the smallest set of
// CIDR blocks covering exactly their union: sorted by address, IPv4 before
// IPv6, no block twice, no two blocks overlapping or mergeable into one.
// Not locked: a run that adds from several workers adds under its write lock.
class TAddressAggregator {
public:
    // A block given with host bits set joins as the whole block (10.1.2.3/8 is
    // 10.0.0.0/8). False, and nothing added, for a prefix out of range.
    bool AddIPv4(quint32 AAddress, int APrefix = 32);
    bool AddIPv6(const TIPv6Address& AAddress, int APrefix = 128);
    // A strict dotted quad or an IPv6 address, either with an optional
    // "/prefix" (ParseIPv4LineStrict, ParseIPv6Line). False for anything else.
    bool AddText(QStringView AText);

    void Clear();
    bool IsEmpty() const { return FIPv4.empty() && FIPv6.empty(); }

    QList<TIPv4Block> IPv4Blocks() const;
    QList<TIPv6Block> IPv6Blocks() const;
    // The texts of IPv4Blocks, then those of IPv6Blocks.
    QStringList BlockTexts() const;

private:
    // Inclusive address ranges as added; merged only when the blocks are asked for.
    struct TRange4 {
        quint32 First;
        quint32 Last;
    };
    struct TRange6 {
        TIPv6Address First;
        TIPv6Address Last;
    };
    std::vector<TRange4> FIPv4;
    std::vector<TRange6> FIPv6;
};
