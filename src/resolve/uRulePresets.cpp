#include "resolve/uRulePresets.h"

#include <QRegularExpression>

namespace {

const char* const kNames[] = {"iptables", "nft", "ipset", "hosts"};

// nft: a table of its own with two interval sets and one output chain, all
// declared (created when missing, kept when present) and then flushed and
// filled, so the same file can be loaded again and again. auto-merge lets an
// address fall inside a block already in the set instead of being refused as
// a conflicting interval.
QStringList NftHeader(const QString& T, bool A4, bool A6) {
    const QString S4 = T + QLatin1Char('4'), S6 = T + QLatin1Char('6');
    QStringList L{QStringLiteral("#!/usr/sbin/nft -f"), QStringLiteral("table inet %1 {").arg(T)};
    if (A4)
        L << QStringLiteral("\tset %1 { type ipv4_addr; flags interval; auto-merge; }").arg(S4);
    if (A6)
        L << QStringLiteral("\tset %1 { type ipv6_addr; flags interval; auto-merge; }").arg(S6);
    L << QStringLiteral("\tchain output { type filter hook output priority 0; policy accept; }") << QStringLiteral("}");
    if (A4)
        L << QStringLiteral("flush set inet %1 %2").arg(T, S4);
    if (A6)
        L << QStringLiteral("flush set inet %1 %2").arg(T, S6);
    L << QStringLiteral("flush chain inet %1 output").arg(T);
    if (A4)
        L << QStringLiteral("add rule inet %1 output ip daddr @%2 reject").arg(T, S4);
    if (A6)
        L << QStringLiteral("add rule inet %1 output ip6 daddr @%2 reject").arg(T, S6);
    return L;
}

QStringList IPSetHeader(const QString& S, bool A4, bool A6) {
    const QString S4 = S + QLatin1Char('4'), S6 = S + QLatin1Char('6');
    QStringList L;
    if (A4)
        L << QStringLiteral("create %1 hash:net family inet -exist").arg(S4) << QStringLiteral("flush %1").arg(S4);
    if (A6)
        L << QStringLiteral("create %1 hash:net family inet6 -exist").arg(S6) << QStringLiteral("flush %1").arg(S6);
    return L;
}

} // namespace

QStringList RulePresetNames() {
    QStringList R;
    for (const char* N : kNames)
        R << QLatin1String(N);
    return R;
}

TRulePresetKind RulePresetByName(const QString& AName) {
    for (int I = 0; I < 4; ++I)
        if (AName.compare(QLatin1String(kNames[I]), Qt::CaseInsensitive) == 0)
            return TRulePresetKind(I + 1);
    return rpNone;
}

QString RulePresetName(TRulePresetKind AKind) {
    return AKind == rpNone ? QString() : QLatin1String(kNames[AKind - 1]);
}

bool IsValidRuleSetName(const QString& AName) {
    static const QRegularExpression Re(QStringLiteral("^[A-Za-z][A-Za-z0-9_-]{0,27}$"));
    return Re.match(AName).hasMatch();
}

TRulePreset MakeRulePreset(TRulePresetKind AKind, const QString& ASetName, TQXAddressFamily AFamily, bool ASplit6) {
    TRulePreset P;
    P.Kind = AKind;
    const bool Has4 = AFamily != afIPv6, Has6 = AFamily != afIPv4;
    // Whether the main output holds each family.
    const bool Main4 = Has4, Main6 = Has6 && !ASplit6;
    switch (AKind) {
    case rpNone:
        break;
    case rpIPTables:
        // One file is read by iptables-restore or by ip6tables-restore, never
        // both: the IPv6 lines need a file of their own (checked by the caller).
        P.Format = QStringLiteral("-A OUTPUT -d %ip% -j REJECT");
        P.Header = {QStringLiteral("*filter")};
        P.Footer = {QStringLiteral("COMMIT")};
        P.Header6 = P.Header;
        P.Footer6 = P.Footer;
        break;
    case rpNft:
        // The placeholders are filled by hand: "%ip%" is no argument of arg().
        P.Format = QStringLiteral("add element inet ") + ASetName + QLatin1Char(' ') + ASetName +
                   QStringLiteral("4 { %ip% }");
        P.Format6 = QStringLiteral("add element inet ") + ASetName + QLatin1Char(' ') + ASetName +
                    QStringLiteral("6 { %ip% }");
        P.Header = NftHeader(ASetName, Main4, Main6);
        if (ASplit6 && Has6)
            P.Header6 = NftHeader(ASetName, false, true);
        break;
    case rpIPSet:
        P.Format = QStringLiteral("add ") + ASetName + QStringLiteral("4 %ip% -exist");
        P.Format6 = QStringLiteral("add ") + ASetName + QStringLiteral("6 %ip% -exist");
        P.Header = IPSetHeader(ASetName, Main4, Main6);
        if (ASplit6 && Has6)
            P.Header6 = IPSetHeader(ASetName, false, true);
        break;
    case rpHosts:
        P.Format = QStringLiteral("%ip% %domain%");
        break;
    }
    return P;
}
