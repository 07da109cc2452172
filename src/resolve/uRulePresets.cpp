#include "resolve/uRulePresets.h"

#include <QRegularExpression>

namespace {

const char* const kNames[] = {"iptables", "nft", "ipset", "hosts"};

// Words the loaders read as their own where a name is expected: nft's
// keywords, ipset's commands, iptables' built-in chains and targets.
const char* const kReserved[] = {
    "add", "accept", "arp", "bridge", "chain", "chains", "comment", "constant", "continue", "counter", "create",
    "ct", "define", "delete", "destroy", "del", "describe", "drop", "dynamic", "element", "elements", "exist",
    "export", "filter", "flags", "flowtable", "flush", "forward", "goto", "help", "hook", "import", "include",
    "inet", "input", "insert", "interval", "ip", "ip6", "jump", "limit", "list", "log", "map", "meta", "monitor",
    "nat", "netdev", "output", "policy", "postrouting", "prerouting", "priority", "queue", "redefine", "reject",
    "rename", "replace", "reset", "restore", "return", "route", "rule", "ruleset", "save", "set", "sets",
    "size", "swap", "table", "tables", "test", "timeout", "type", "undefine", "version", "vmap"};

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
    static const QRegularExpression Re(QStringLiteral("^[A-Za-z][A-Za-z0-9_-]{0,25}$"));
    if (!Re.match(AName).hasMatch())
        return false;
    for (const char* W : kReserved)
        if (AName.compare(QLatin1String(W), Qt::CaseInsensitive) == 0)
            return false;
    return true;
}

QString RuleSetNameError(const QString& AName) {
    return IsValidRuleSetName(AName) ? QString() : QStringLiteral("bad set name: %1").arg(AName);
}

TRulePreset MakeRulePreset(TRulePresetKind AKind, const QString& ASetName) {
    TRulePreset P;
    P.Kind = AKind;
    const QString& T = ASetName;
    switch (AKind) {
    case rpNone:
        break;
    case rpIPTables:
        P.Format = QStringLiteral("-A ") + T + QStringLiteral(" -d %ip% -j REJECT");
        break;
    case rpNft:
        // The placeholders are filled by hand: "%ip%" is no argument of arg().
        P.Format = QStringLiteral("add element inet ") + T + QLatin1Char(' ') + T + QStringLiteral("4 { %ip% }");
        P.Format6 = QStringLiteral("add element inet ") + T + QLatin1Char(' ') + T + QStringLiteral("6 { %ip% }");
        break;
    case rpIPSet:
        P.Format = QStringLiteral("add ") + T + QStringLiteral("4-new %ip%");
        P.Format6 = QStringLiteral("add ") + T + QStringLiteral("6-new %ip%");
        break;
    case rpHosts:
        P.Format = QStringLiteral("%ip% %domain%");
        break;
    }
    return P;
}
