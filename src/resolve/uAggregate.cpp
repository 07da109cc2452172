#include "resolve/uAggregate.h"

#include <algorithm>

namespace {

__extension__ typedef unsigned __int128 TUInt128;

TUInt128 ToUInt128(const TIPv6Address& AAddress) {
    TUInt128 V = 0;
    for (const quint8 B : AAddress.Bytes)
        V = (V << 8) | B;
    return V;
}

TIPv6Address FromUInt128(TUInt128 AValue) {
    TIPv6Address A;
    for (int I = 15; I >= 0; --I) {
        A.Bytes[I] = quint8(AValue & 0xFF);
        AValue >>= 8;
    }
    return A;
}

int TrailingZeros(quint32 V) {
    return __builtin_ctz(V);
}

int TrailingZeros(TUInt128 V) {
    const quint64 Low = quint64(V);
    return Low != 0 ? __builtin_ctzll(Low) : 64 + __builtin_ctzll(quint64(V >> 64));
}

// The network mask of a prefix length in a W-bit address.
template <typename U, int W>
U PrefixMask(int APrefix) {
    return APrefix == 0 ? U(0) : U(~U(0) << (W - APrefix));
}

template <typename U>
struct TSpan {
    U First;
    U Last;
};

// Sorts the ranges and joins every two that overlap or touch.
template <typename U>
std::vector<TSpan<U>> MergeSpans(std::vector<TSpan<U>> ASpans) {
    std::sort(ASpans.begin(), ASpans.end(), [](const TSpan<U>& L, const TSpan<U>& R) { return L.First < R.First; });
    std::vector<TSpan<U>> Out;
    for (const TSpan<U>& S : ASpans) {
        if (!Out.empty()) {
            TSpan<U>& Cur = Out.back();
            // Cur.Last + 1 would wrap at the top of the space; a span reaching
            // the top swallows every later one anyway.
            if (Cur.Last == U(~U(0)) || S.First <= Cur.Last + 1) {
                Cur.Last = std::max(Cur.Last, S.Last);
                continue;
            }
        }
        Out.push_back(S);
    }
    return Out;
}

// Cuts one range into the fewest aligned blocks, lowest first: each block is
// the largest one that starts at the current address, is aligned there and
// ends within the range.
template <typename U, int W, typename TEmit>
void SplitSpan(U AFirst, U ALast, TEmit AEmit) {
    U First = AFirst;
    for (;;) {
        int Bits = First == 0 ? W : TrailingZeros(First);
        for (; Bits > 0; --Bits) {
            if (Bits == W) {
                if (ALast == U(~U(0)))
                    break;
            } else if (ALast - First >= U((U(1) << Bits) - 1)) {
                break;
            }
        }
        AEmit(First, W - Bits);
        const U End = Bits == W ? U(~U(0)) : U(First + ((U(1) << Bits) - 1));
        if (End == ALast)
            return;
        First = End + 1;
    }
}

} // namespace

QString FormatIPv4Block(const TIPv4Block& ABlock) {
    QString Text = FormatIPv4(ABlock.Address);
    if (ABlock.Prefix != 32) {
        Text += u'/';
        Text += QString::number(ABlock.Prefix);
    }
    return Text;
}

QString FormatIPv6Block(const TIPv6Block& ABlock) {
    return FormatIPv6Line(ABlock.Address, ABlock.Prefix == 128 ? -1 : ABlock.Prefix);
}

bool TAddressAggregator::AddIPv4(quint32 AAddress, int APrefix) {
    if (APrefix < 0 || APrefix > 32)
        return false;
    const quint32 Mask = PrefixMask<quint32, 32>(APrefix);
    FIPv4.push_back({AAddress & Mask, AAddress | ~Mask});
    return true;
}

bool TAddressAggregator::AddIPv6(const TIPv6Address& AAddress, int APrefix) {
    if (APrefix < 0 || APrefix > 128)
        return false;
    const TUInt128 Mask = PrefixMask<TUInt128, 128>(APrefix);
    const TUInt128 Value = ToUInt128(AAddress);
    FIPv6.push_back({FromUInt128(Value & Mask), FromUInt128(Value | ~Mask)});
    return true;
}

bool TAddressAggregator::AddText(QStringView AText) {
    quint32 V4 = 0;
    int Prefix = -1;
    if (ParseIPv4LineStrict(AText, V4, Prefix))
        return AddIPv4(V4, Prefix < 0 ? 32 : Prefix);
    TIPv6Address V6;
    if (ParseIPv6Line(AText, V6, Prefix))
        return AddIPv6(V6, Prefix < 0 ? 128 : Prefix);
    return false;
}

void TAddressAggregator::Clear() {
    FIPv4.clear();
    FIPv6.clear();
}

QList<TIPv4Block> TAddressAggregator::IPv4Blocks() const {
    std::vector<TSpan<quint32>> Spans;
    Spans.reserve(FIPv4.size());
    for (const TRange4& R : FIPv4)
        Spans.push_back({R.First, R.Last});
    QList<TIPv4Block> Out;
    for (const TSpan<quint32>& S : MergeSpans(std::move(Spans)))
        SplitSpan<quint32, 32>(S.First, S.Last, [&Out](quint32 A, int P) { Out.append({A, P}); });
    return Out;
}

QList<TIPv6Block> TAddressAggregator::IPv6Blocks() const {
    std::vector<TSpan<TUInt128>> Spans;
    Spans.reserve(FIPv6.size());
    for (const TRange6& R : FIPv6)
        Spans.push_back({ToUInt128(R.First), ToUInt128(R.Last)});
    QList<TIPv6Block> Out;
    for (const TSpan<TUInt128>& S : MergeSpans(std::move(Spans)))
        SplitSpan<TUInt128, 128>(S.First, S.Last, [&Out](TUInt128 A, int P) { Out.append({FromUInt128(A), P}); });
    return Out;
}

QStringList TAddressAggregator::BlockTexts() const {
    QStringList Out;
    for (const TIPv4Block& B : IPv4Blocks())
        Out << FormatIPv4Block(B);
    for (const TIPv6Block& B : IPv6Blocks())
        Out << FormatIPv6Block(B);
    return Out;
}
