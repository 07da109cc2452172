#include "resolve/uRuleWriter.h"

#include "resolve/uAggregate.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <tuple>

namespace {

// nft parses one command at a time: one element per command makes a large
// set take minutes, one command for all of them needs a huge parse buffer.
const int kNftBatch = 1000;
// ipset's sets are made with room to grow, so that the live set and its
// replacement always match in kind and the swap is allowed.
const qint64 kIPSetMinMaxElem = 1048576;

struct TItem {
    QString Address;
    QString Domain;
};

QStringList NftDocument(const QString& T, const QList<TItem>& A4, const QList<TItem>& A6, const QStringList& AHeader,
                        const QStringList& AFooter) {
    const QString S4 = T + QLatin1Char('4'), S6 = T + QLatin1Char('6');
    // Declared (made when missing, kept when present), then flushed and
    // filled in the same transaction: the file loads again and again, and
    // both families' sets and rules are always there, empty or not.
    QStringList L{QStringLiteral("#!/usr/sbin/nft -f"), QStringLiteral("table inet %1 {").arg(T),
                  QStringLiteral("\tset %1 { type ipv4_addr; flags interval; auto-merge; }").arg(S4),
                  QStringLiteral("\tset %1 { type ipv6_addr; flags interval; auto-merge; }").arg(S6),
                  QStringLiteral("\tchain output { type filter hook output priority 0; policy accept; }"),
                  QStringLiteral("}"),
                  QStringLiteral("flush set inet %1 %2").arg(T, S4),
                  QStringLiteral("flush set inet %1 %2").arg(T, S6),
                  QStringLiteral("flush chain inet %1 output").arg(T),
                  QStringLiteral("add rule inet %1 output ip daddr @%2 reject").arg(T, S4),
                  QStringLiteral("add rule inet %1 output ip6 daddr @%2 reject").arg(T, S6)};
    L += AHeader;
    const auto Elements = [&](const QString& ASet, const QList<TItem>& AItems) {
        for (qsizetype I = 0; I < AItems.size(); I += kNftBatch) {
            QStringList Batch;
            for (qsizetype J = I; J < std::min(AItems.size(), I + kNftBatch); ++J)
                Batch << AItems[J].Address;
            L << QStringLiteral("add element inet %1 %2 { %3 }").arg(T, ASet, Batch.join(QStringLiteral(", ")));
        }
    };
    Elements(S4, A4);
    Elements(S6, A6);
    return L + AFooter;
}

// A new set filled beside the live one and swapped in: the live set is never
// empty or half-filled, and a failed load leaves it as it was.
QStringList IPSetBlock(const QString& ASet, bool AIPv6, const QList<TItem>& AItems) {
    qint64 Max = kIPSetMinMaxElem;
    while (Max < AItems.size())
        Max *= 2;
    const QString New = ASet + QStringLiteral("-new");
    const QString Kind = QStringLiteral("hash:net family %1 maxelem %2").arg(AIPv6 ? "inet6" : "inet").arg(Max);
    QStringList L{QStringLiteral("create %1 %2 -exist").arg(New, Kind), QStringLiteral("flush %1").arg(New)};
    for (const TItem& I : AItems)
        L << QStringLiteral("add %1 %2").arg(New, I.Address);
    L << QStringLiteral("create %1 %2 -exist").arg(ASet, Kind) << QStringLiteral("swap %1 %2").arg(New, ASet)
      << QStringLiteral("destroy %1").arg(New);
    return L;
}

QStringList IPTablesDocument(const QString& AChain, const QList<TItem>& AItems, const QStringList& AHeader,
                             const QStringList& AFooter) {
    // Only the chain of its own: restored with --noflush it is emptied and
    // filled, and every other chain and rule of the table stays as it was.
    QStringList L{QStringLiteral("*filter"), QStringLiteral(":%1 - [0:0]").arg(AChain)};
    L += AHeader;
    // Sorted: the same address (found for several names) is adjacent.
    for (qsizetype I = 0; I < AItems.size(); ++I)
        if (I == 0 || AItems[I].Address != AItems[I - 1].Address)
            L << QStringLiteral("-A %1 -d %2 -j REJECT").arg(AChain, AItems[I].Address);
    return L + AFooter + QStringList{QStringLiteral("COMMIT")};
}

// hash:net takes prefixes from 1 up: the whole address space is two halves.
QList<TItem> WithoutZeroPrefix(const QList<TItem>& AItems, bool AIPv6) {
    QList<TItem> R;
    for (const TItem& I : AItems) {
        if (I.Address.endsWith(QStringLiteral("/0")))
            R << TItem{AIPv6 ? QStringLiteral("::/1") : QStringLiteral("0.0.0.0/1"), QString()}
              << TItem{AIPv6 ? QStringLiteral("8000::/1") : QStringLiteral("128.0.0.0/1"), QString()};
        else
            R << I;
    }
    return R;
}

} // namespace

TRuleWriter::TRuleWriter(const TRuleWriterSettings& ASettings) : FSettings(ASettings) {
    if (FSettings.Preset == rpNft)
        FSettings.Split6 = false;
    if (FSettings.Preset == rpNft || FSettings.Preset == rpIPSet)
        FSettings.Aggregate = true;
    if (FSettings.Preset == rpHosts)
        FSettings.Aggregate = false;
}

void TRuleWriter::Add(const QString& AAddress, const QString& ADomain) {
    TEntry E;
    E.Text = AAddress;
    E.Domain = ADomain == AAddress ? QString() : ADomain;
    if (ParseIPv4LineStrict(AAddress, E.Address4, E.Prefix)) {
        E.IPv6 = false;
    } else if (ParseIPv6Line(AAddress, E.Address6, E.Prefix)) {
        E.IPv6 = true;
    } else {
        // Not an address the writer can order (the run gives none such): kept
        // as it stands, after the addresses of the family its text suggests.
        E.IPv6 = AAddress.contains(QLatin1Char(':'));
        E.Prefix = 999;
    }
    if (E.IPv6 ? FSettings.Family == afIPv4 : FSettings.Family == afIPv6)
        return;
    FEntries.push_back(std::move(E));
}

void TRuleWriter::Clear() {
    FEntries.clear();
}

QString TRuleWriter::Line(const QString& AAddress, const QString& ADomain, bool AIPv6) const {
    if (!FSettings.HasFormat)
        return AAddress;
    QString L = AIPv6 && !FSettings.Format6.isEmpty() ? FSettings.Format6 : FSettings.Format;
    L.replace(QLatin1String("%ip%"), AAddress, Qt::CaseInsensitive);
    L.replace(QLatin1String("%domain%"), ADomain, Qt::CaseInsensitive);
    return L;
}

TRuleWriter::TDocument TRuleWriter::Render(const std::function<bool(const QString& ALine)>& AKeep) const {
    // The items of each family in address order, each once.
    QList<TItem> Items[2];
    if (FSettings.Aggregate) {
        TAddressAggregator Agg;
        for (const TEntry& E : FEntries) {
            const bool Ok = E.Prefix == 999 ? false
                            : E.IPv6        ? Agg.AddIPv6(E.Address6, E.Prefix < 0 ? 128 : E.Prefix)
                                            : Agg.AddIPv4(E.Address4, E.Prefix < 0 ? 32 : E.Prefix);
            if (!Ok)
                Items[E.IPv6] << TItem{E.Text, QString()};
        }
        for (const TIPv4Block& B : Agg.IPv4Blocks())
            Items[0] << TItem{FormatIPv4Block(B), QString()};
        for (const TIPv6Block& B : Agg.IPv6Blocks())
            Items[1] << TItem{FormatIPv6Block(B), QString()};
    } else {
        std::vector<const TEntry*> Sorted;
        Sorted.reserve(FEntries.size());
        for (const TEntry& E : FEntries)
            Sorted.push_back(&E);
        const auto Key = [](const TEntry* E) {
            return std::tie(E->IPv6, E->Address4, E->Address6, E->Prefix, E->Text, E->Domain);
        };
        std::sort(Sorted.begin(), Sorted.end(), [&](const TEntry* A, const TEntry* B) { return Key(A) < Key(B); });
        for (const TEntry* E : Sorted) {
            const QString Suffix = E->Prefix < 0 ? QString() : QStringLiteral("/%1").arg(E->Prefix);
            const QString Text = E->Prefix == 999 ? E->Text
                                 : E->IPv6        ? FormatIPv6Line(E->Address6, E->Prefix)
                                                  : FormatIPv4(E->Address4) + Suffix;
            Items[E->IPv6] << TItem{Text, E->Domain};
        }
    }

    TDocument D;
    const QString& T = FSettings.SetName;
    const bool Has4 = FSettings.Family != afIPv6, Has6 = FSettings.Family != afIPv4;
    // The documents of one family each, or of both in one.
    const auto Place = [&](const QStringList& A4, const QStringList& A6) {
        D.Lines = A4;
        if (FSettings.Split6)
            D.Lines6 = A6;
        else
            D.Lines += A6;
    };
    // Lines made from items, each line once (a template without %domain%
    // makes one line of an address found for several names).
    const auto Lines = [&](const QList<TItem>& AItems, bool AIPv6) {
        QStringList L;
        QSet<QString> Seen;
        for (const TItem& I : AItems) {
            if (FSettings.Preset == rpHosts && I.Domain.isEmpty())
                continue;  // an address line names no host
            const QString S = FSettings.Preset == rpHosts ? I.Address + QLatin1Char(' ') + I.Domain
                                                          : Line(I.Address, I.Domain, AIPv6);
            if (Seen.contains(S))
                continue;
            Seen.insert(S);
            if (AKeep && !AKeep(S))
                ++D.Dropped;
            else
                L << S;
        }
        D.Entries += L.size();
        return L;
    };
    switch (FSettings.Preset) {
    case rpNft:
        D.Lines = NftDocument(T, Items[0], Items[1], FSettings.Header, FSettings.Footer);
        D.Entries = Items[0].size() + Items[1].size();
        break;
    case rpIPSet: {
        QStringList A4, A6;
        const QList<TItem> I4 = WithoutZeroPrefix(Items[0], false), I6 = WithoutZeroPrefix(Items[1], true);
        if (Has4)
            A4 = IPSetBlock(T + QLatin1Char('4'), false, I4);
        if (Has6)
            A6 = IPSetBlock(T + QLatin1Char('6'), true, I6);
        D.Entries = (Has4 ? I4.size() : 0) + (Has6 ? I6.size() : 0);
        if (FSettings.Split6) {
            D.Lines = FSettings.Header + A4 + FSettings.Footer;
            D.Lines6 = FSettings.Header + A6 + FSettings.Footer;
        } else {
            D.Lines = FSettings.Header + A4 + A6 + FSettings.Footer;
        }
        break;
    }
    case rpIPTables:
        if (FSettings.Split6)
            Place(IPTablesDocument(T, Items[0], FSettings.Header, FSettings.Footer),
                  IPTablesDocument(T, Items[1], FSettings.Header, FSettings.Footer));
        else  // one family (both in one file is refused before a run)
            D.Lines = IPTablesDocument(T, Items[0] + Items[1], FSettings.Header, FSettings.Footer);
        D.Entries = D.Lines.filter(QRegularExpression(QStringLiteral("^-A %1 -d ").arg(T))).size() +
                    D.Lines6.filter(QRegularExpression(QStringLiteral("^-A %1 -d ").arg(T))).size();
        break;
    case rpHosts:
    case rpNone: {
        const QStringList L4 = Lines(Items[0], false), L6 = Lines(Items[1], true);
        if (FSettings.Split6)
            Place(FSettings.Header + L4 + FSettings.Footer, FSettings.Header + L6 + FSettings.Footer);
        else
            D.Lines = FSettings.Header + L4 + L6 + FSettings.Footer;
        break;
    }
    }
    return D;
}

QByteArray TRuleWriter::Encode(const QStringList& ALines, const QByteArray& ALineBreak, bool ABOM) {
    QByteArray B;
    if (ABOM)
        B += "\xEF\xBB\xBF";
    for (const QString& L : ALines) {
        B += L.toUtf8();
        B += ALineBreak;
    }
    return B;
}
