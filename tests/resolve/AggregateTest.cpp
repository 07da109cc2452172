// Merging addresses and blocks into the fewest CIDR blocks, checked on fixed
// cases and, on random sets in small address universes, against a brute-force
// reference.
#include "resolve/uAggregate.h"

#include "ResolveHarness.h"

#include <gtest/gtest.h>

#include <bitset>
#include <random>
#include <vector>

namespace {

QStringList Aggregate(const QStringList& AInput) {
    TAddressAggregator A;
    for (const QString& Text : AInput)
        EXPECT_TRUE(A.AddText(Text)) << Text.toStdString();
    return A.BlockTexts();
}

// A universe of 256 addresses: the last 8 bits vary, the rest are those of Base.
// Offsets and block sizes are worked out in the universe, so the reference
// needs no wide arithmetic.
struct TUniverse {
    bool IPv6;
    quint32 Base4;
    TIPv6Address Base6;

    int Width() const { return IPv6 ? 128 : 32; }

    // Adds the block of APrefix (Width-8 .. Width) around AOffset.
    void Add(TAddressAggregator& AAggregator, int AOffset, int APrefix) const {
        if (IPv6) {
            TIPv6Address A = Base6;
            A.Bytes[15] = quint8(AOffset);
            ASSERT_TRUE(AAggregator.AddIPv6(A, APrefix));
        } else {
            ASSERT_TRUE(AAggregator.AddIPv4(Base4 | quint32(AOffset), APrefix));
        }
    }
};

struct TSmallBlock {
    int Offset;   // first address, 0..255
    int Size;     // 1, 2, 4 .. 256

    bool operator==(const TSmallBlock& AOther) const = default;
};

// The blocks of the aggregator, mapped back into the universe; fails the test
// for a block outside it.
std::vector<TSmallBlock> SmallBlocks(const TUniverse& AUniverse, const TAddressAggregator& AAggregator) {
    std::vector<TSmallBlock> Out;
    if (AUniverse.IPv6) {
        EXPECT_TRUE(AAggregator.IPv4Blocks().isEmpty());
        for (const TIPv6Block& B : AAggregator.IPv6Blocks()) {
            EXPECT_GE(B.Prefix, 120);
            EXPECT_TRUE(std::equal(B.Address.Bytes, B.Address.Bytes + 15, AUniverse.Base6.Bytes))
                << FormatIPv6Block(B).toStdString();
            Out.push_back({B.Address.Bytes[15], 1 << (128 - B.Prefix)});
        }
    } else {
        EXPECT_TRUE(AAggregator.IPv6Blocks().isEmpty());
        for (const TIPv4Block& B : AAggregator.IPv4Blocks()) {
            EXPECT_GE(B.Prefix, 24);
            EXPECT_EQ(B.Address & 0xFFFFFF00u, AUniverse.Base4) << FormatIPv4Block(B).toStdString();
            Out.push_back({int(B.Address & 0xFF), 1 << (32 - B.Prefix)});
        }
    }
    return Out;
}

// The unique smallest cover: a block belongs to it exactly when all its
// addresses are in the set and those of its parent are not all in it.
void ReferenceBlocks(const std::bitset<256>& ASet, int AOffset, int ASize, std::vector<TSmallBlock>& AOut) {
    bool Full = true;
    bool Empty = true;
    for (int I = AOffset; I < AOffset + ASize; ++I) {
        Full = Full && ASet[size_t(I)];
        Empty = Empty && !ASet[size_t(I)];
    }
    if (Empty)
        return;
    if (Full) {
        AOut.push_back({AOffset, ASize});
        return;
    }
    ReferenceBlocks(ASet, AOffset, ASize / 2, AOut);
    ReferenceBlocks(ASet, AOffset + ASize / 2, ASize / 2, AOut);
}

void CheckAgainstReference(const TUniverse& AUniverse, unsigned ASeed) {
    std::mt19937 Random(ASeed);
    for (int Round = 0; Round < 300; ++Round) {
        TAddressAggregator A;
        std::bitset<256> Set;
        const int Count = int(Random() % 14);
        for (int I = 0; I < Count; ++I) {
            const int Offset = int(Random() % 256);
            // Mostly single addresses and small blocks, now and then the whole universe.
            const int HostBits = Random() % 4 == 0 ? int(Random() % 9) : int(Random() % 3);
            const int Prefix = AUniverse.Width() - HostBits;
            AUniverse.Add(A, Offset, Prefix);
            // The block of the prefix, whatever host bits the offset carried.
            const int First = Offset & ~((1 << HostBits) - 1);
            for (int J = First; J < First + (1 << HostBits); ++J)
                Set.set(size_t(J));
        }
        const std::vector<TSmallBlock> Got = SmallBlocks(AUniverse, A);
        SCOPED_TRACE(testing::Message() << "seed " << ASeed << " round " << Round << " set " << Set.to_string());

        // Exactly the set, no block over another, sorted.
        std::bitset<256> Covered;
        for (size_t I = 0; I < Got.size(); ++I) {
            const TSmallBlock& B = Got[I];
            ASSERT_EQ(B.Offset % B.Size, 0) << "unaligned block at " << B.Offset;
            for (int J = B.Offset; J < B.Offset + B.Size; ++J) {
                EXPECT_FALSE(Covered[size_t(J)]) << "overlap at " << J;
                Covered.set(size_t(J));
            }
            if (I > 0) {
                EXPECT_LT(Got[I - 1].Offset, B.Offset);
            }
        }
        EXPECT_EQ(Covered, Set);
        // No two blocks are the halves of one larger block.
        for (size_t I = 0; I < Got.size(); ++I) {
            for (size_t J = 0; J < Got.size(); ++J) {
                if (I != J && Got[I].Size == Got[J].Size && Got[I].Offset % (2 * Got[I].Size) == 0) {
                    EXPECT_NE(Got[J].Offset, Got[I].Offset + Got[I].Size)
                        << "mergeable siblings at " << Got[I].Offset << " size " << Got[I].Size;
                }
            }
        }
        // And it is the one smallest cover.
        std::vector<TSmallBlock> Want;
        ReferenceBlocks(Set, 0, 256, Want);
        EXPECT_EQ(Got, Want);
    }
}

TIPv6Address V6(const char* AText) {
    TIPv6Address A;
    EXPECT_TRUE(ParseIPv6Address(QString::fromLatin1(AText), A)) << AText;
    return A;
}

} // namespace

TEST(Aggregate, FixedCases) {
    const struct {
        QStringList In;
        QStringList Out;
    } Cases[] = {
        {{}, {}},
        {{"192.0.2.1"}, {"192.0.2.1"}},
        {{"10.0.0.0", "10.0.0.1"}, {"10.0.0.0/31"}},
        // Neighbours that are not one aligned block stay apart.
        {{"10.0.0.1", "10.0.0.2"}, {"10.0.0.1", "10.0.0.2"}},
        {{"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"}, {"10.0.0.1", "10.0.0.2/31", "10.0.0.4"}},
        // Host bits of a block are masked.
        {{"10.1.2.3/8"}, {"10.0.0.0/8"}},
        {{"10.0.0.0/8", "10.200.1.1", "10.0.0.0/9"}, {"10.0.0.0/8"}},
        {{"192.0.2.0/25", "192.0.2.128/25"}, {"192.0.2.0/24"}},
        {{"192.0.2.7", "192.0.2.7", "192.0.2.7/32"}, {"192.0.2.7"}},
        // The ends of the space.
        {{"0.0.0.0/1", "128.0.0.0/1"}, {"0.0.0.0/0"}},
        {{"0.0.0.0/0", "1.2.3.4"}, {"0.0.0.0/0"}},
        {{"255.255.255.254", "255.255.255.255"}, {"255.255.255.254/31"}},
        {{"0.0.0.0", "0.0.0.1", "255.255.255.255"}, {"0.0.0.0/31", "255.255.255.255"}},
        {{"::/1", "8000::/1"}, {"::/0"}},
        {{"::/0", "2001:db8::1"}, {"::/0"}},
        {{"2001:db8::/33", "2001:db8:8000::/33"}, {"2001:db8::/32"}},
        {{"2001:DB8:0:0:0:0:0:1"}, {"2001:db8::1"}},
        {{"2001:db8::1/64"}, {"2001:db8::/64"}},
        {{"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe"},
         {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe/127"}},
        {{"::", "::1", "::2"}, {"::/127", "::2"}},
        // Sorted by address, IPv4 first.
        {{"2001:db8::1", "192.0.2.1", "::1", "10.0.0.1", "::ffff:10.0.0.0/120"},
         {"10.0.0.1", "192.0.2.1", "::1", "::ffff:10.0.0.0/120", "2001:db8::1"}},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(Aggregate(C.In), C.Out) << C.In.join(' ').toStdString();
}

TEST(Aggregate, ThreeHalvesAcrossAPowerOfTwo) {
    // 10.0.0.0/9 + 10.128.0.0/10 + 10.192.0.0/10 is 10.0.0.0/8; a range
    // crossing an alignment boundary is cut at it.
    EXPECT_EQ(Aggregate({"10.128.0.0/10", "10.0.0.0/9", "10.192.0.0/10"}), QStringList({"10.0.0.0/8"}));
    TAddressAggregator A;
    for (quint32 V = 0x0A0000FF; V <= 0x0A000200; ++V)
        A.AddIPv4(V);
    EXPECT_EQ(A.BlockTexts(), QStringList({"10.0.0.255", "10.0.1.0/24", "10.0.2.0"}));
}

TEST(Aggregate, RefusesWhatIsNoAddress) {
    TAddressAggregator A;
    EXPECT_FALSE(A.AddText(u"example.com"));
    EXPECT_FALSE(A.AddText(u"10.0.0.0/33"));
    EXPECT_FALSE(A.AddText(u"2001:db8::/129"));
    EXPECT_FALSE(A.AddText(u"fe80::1%eth0"));
    EXPECT_FALSE(A.AddText(u"1.2.3.300"));
    EXPECT_FALSE(A.AddIPv4(0x0A000000, 33));
    EXPECT_FALSE(A.AddIPv4(0x0A000000, -1));
    EXPECT_FALSE(A.AddIPv6(V6("2001:db8::"), 129));
    EXPECT_TRUE(A.IsEmpty());
    EXPECT_TRUE(A.BlockTexts().isEmpty());
    EXPECT_TRUE(A.AddText(u"10.0.0.1"));
    EXPECT_FALSE(A.IsEmpty());
    A.Clear();
    EXPECT_TRUE(A.IsEmpty());
    EXPECT_TRUE(A.BlockTexts().isEmpty());
}

TEST(Aggregate, RandomSetsMatchTheBruteForceCover) {
    const TUniverse Universes[] = {
        {false, 0x00000000, {}},           // the bottom of the space
        {false, 0x0A141E00, {}},           // 10.20.30.0/24
        {false, 0xFFFFFF00, {}},           // the top
        {true, 0, V6("::")},
        {true, 0, V6("2001:db8:1234::ab00")},
        {true, 0, V6("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ff00")},
    };
    unsigned Seed = 20261201;
    for (const TUniverse& U : Universes)
        CheckAgainstReference(U, Seed++);
}

TEST(Aggregate, BothFamiliesInOneRun) {
    std::mt19937 Random(7);
    TAddressAggregator Both, Only4, Only6;
    for (int I = 0; I < 200; ++I) {
        const quint32 V4 = 0xC0000200u | (Random() % 64);
        TIPv6Address V6A = V6("2001:db8::");
        V6A.Bytes[15] = quint8(Random() % 64);
        Both.AddIPv4(V4);
        Only4.AddIPv4(V4);
        Both.AddIPv6(V6A);
        Only6.AddIPv6(V6A);
    }
    EXPECT_EQ(Both.IPv4Blocks(), Only4.IPv4Blocks());
    EXPECT_EQ(Both.IPv6Blocks(), Only6.IPv6Blocks());
    EXPECT_EQ(Both.BlockTexts(), Only4.BlockTexts() + Only6.BlockTexts());
}
