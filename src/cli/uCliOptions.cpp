#include "cli/uCliOptions.h"

#include "resolve/dns/IdDNSServer.h"
#include "resolve/uAddressState.h"
#include "resolve/uRulePresets.h"

#include "text/uEncoding.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <functional>
#include <sys/stat.h>

namespace {

enum TOptionId {
    oiDNS, oiThreads, oiFormat, oiFamily, oiFormat6, oiOutput6, oiDBL, oiDBLMode, oiRBL, oiRBLMode, oiOutput, oiBOM,
    oiLineEnding, oiKnown, oiUnique, oiAggregate, oiPause, oiTimeout, oiRetries, oiDetailed, oiLogFile, oiLogAppend,
    oiQuiet, oiProgress, oiHelp, oiVersion, oiMaxQPS, oiRBL6,
    oiPreset, oiSetName, oiHeader, oiFooter, oiState, oiKeep, oiEvery, oiOnChange, oiApply,
    oiAllowSpecial, oiOnCheckFailure
};

struct TOptionDef {
    TOptionId Id;
    const char* Long;
    char Short;  // 0: long form only
    bool TakesValue;
};

const TOptionDef kOptions[] = {
    {oiDNS, "dns", 's', true},          {oiThreads, "threads", 't', true},
    {oiFormat, "format", 'f', true},    {oiFamily, "family", 0, true},
    {oiFormat6, "format6", 0, true},    {oiOutput6, "output6", 0, true},
    {oiDBL, "dbl", 0, true},
    {oiDBLMode, "dbl-mode", 0, true},   {oiRBL, "rbl", 0, true},
    {oiRBLMode, "rbl-mode", 0, true},   {oiOutput, "output", 'o', true},
    {oiBOM, "bom", 0, false},           {oiLineEnding, "line-ending", 0, true},
    {oiKnown, "known", 0, true},        {oiUnique, "unique", 0, false},
    {oiAggregate, "aggregate", 0, false}, {oiPause, "pause", 0, true},
    {oiTimeout, "timeout", 0, true},    {oiRetries, "retries", 0, true},
    {oiDetailed, "detailed", 'v', false},
    {oiLogFile, "log-file", 0, true},   {oiLogAppend, "log-append", 0, false},
    {oiQuiet, "quiet", 'q', false},     {oiProgress, "progress", 0, false},
    {oiHelp, "help", 'h', false},       {oiVersion, "version", 'V', false},
    {oiMaxQPS, "max-qps", 0, true},
    {oiPreset, "preset", 0, true},      {oiSetName, "set-name", 0, true},
    {oiHeader, "header", 0, true},      {oiFooter, "footer", 0, true},
    {oiState, "state", 0, true},        {oiKeep, "keep", 0, true},
    {oiEvery, "every", 0, true},        {oiOnChange, "on-change", 0, true},
    {oiRBL6, "rbl6", 0, true},          {oiApply, "apply", 0, true},
    {oiAllowSpecial, "allow-special", 0, false}, {oiOnCheckFailure, "on-check-failure", 0, true},
};

const TOptionDef* FindLong(const QString& AName) {
    for (const TOptionDef& D : kOptions)
        if (AName == QLatin1String(D.Long))
            return &D;
    return nullptr;
}

const TOptionDef* FindShort(QChar AChar) {
    for (const TOptionDef& D : kOptions)
        if (D.Short != 0 && AChar == QLatin1Char(D.Short))
            return &D;
    return nullptr;
}

QString LongName(const TOptionDef& D) {
    return QStringLiteral("--") + QLatin1String(D.Long);
}

[[noreturn]] void Fail(const QString& AMessage) {
    throw ECliUsageError(AMessage);
}

// Whole decimal numbers only: "1e3", "0x10" or " 5" are refused, so what the
// user typed is exactly what runs.
int RangedNumber(const QString& AText, const QString& AOption, int AMin, int AMax) {
    bool Ok = !AText.isEmpty();
    for (QChar C : AText)
        Ok = Ok && C >= QLatin1Char('0') && C <= QLatin1Char('9');
    const int Value = Ok && AText.size() <= 9 ? AText.toInt() : -1;
    if (!Ok || AText.size() > 9 || Value < AMin || Value > AMax)
        Fail(QStringLiteral("%1 must be %2 to %3").arg(AOption).arg(AMin).arg(AMax));
    return Value;
}

bool BLModeOut(const QString& AText, const QString& AOption) {
    if (AText == QLatin1String("suppress"))
        return false;
    if (AText == QLatin1String("out"))
        return true;
    Fail(QStringLiteral("%1 must be suppress or out").arg(AOption));
}

// A server entry must be one the resolver can use: an IPv4 or IPv6 address
// or a host name, with a usable port. Whether a name exists is only known
// once it is looked up. An empty one is left to the runner's check.
void CheckDNSServer(const QString& AText) {
    const QString Text = AText.trimmed();
    if (Text.isEmpty())
        return;
    TDNSServerEntry Entry;
    QString Error;
    if (ParseDNSServerEntry(Text, 53, Entry, &Error))
        return;
    if (Error == QLatin1String("bad port") && !Text.startsWith(QLatin1Char('[')))
        Fail(QStringLiteral("--dns port must be 1 to 65535 (in \"%1\")").arg(AText));
    Fail(QStringLiteral("bad DNS server: %1").arg(AText));
}

// A zone its queries can end in; an empty one is left to the runner's check.
void CheckZone(const QString& AText) {
    if (!AText.trimmed().isEmpty() && !TQXUtils::IsZoneName(AText))
        Fail(QStringLiteral("Bad zone name: %1").arg(AText.trimmed()));
}

void Apply(TCliOptions& R, const TOptionDef& D, const QString& V, bool& ADBLMode, bool& ARBLMode,
           bool& ALineEnding) {
    switch (D.Id) {
    case oiDNS:
        CheckDNSServer(V);
        R.DNSServers << V;
        break;
    case oiThreads:
        R.ThreadsText = V;
        break;
    case oiFormat:
        R.HasFormat = true;
        R.Format = V;
        break;
    case oiFamily:
        if (V == QLatin1String("ipv4"))
            R.Family = afIPv4;
        else if (V == QLatin1String("ipv6"))
            R.Family = afIPv6;
        else if (V == QLatin1String("both"))
            R.Family = afBoth;
        else
            Fail(QStringLiteral("--family must be ipv4, ipv6 or both"));
        break;
    case oiFormat6:
        R.HasFormat6 = true;
        R.Format6 = V;
        break;
    case oiOutput6:
        R.HasOutput6 = true;
        R.OutputFile6 = V;
        break;
    case oiDBL:
        CheckZone(V);
        R.DBLOn = true;
        R.DBLZones << V;
        break;
    case oiDBLMode:
        R.DBLOut = BLModeOut(V, LongName(D));
        ADBLMode = true;
        break;
    case oiRBL:
        CheckZone(V);
        R.RBLOn = true;
        R.RBLZones << V;
        break;
    case oiRBL6:
        CheckZone(V);
        R.RBLOn = true;
        R.RBL6Zones << V;
        break;
    case oiRBLMode:
        R.RBLOut = BLModeOut(V, LongName(D));
        ARBLMode = true;
        break;
    case oiOutput:
        R.HasOutput = true;
        R.OutputFile = V;
        break;
    case oiBOM:
        R.OutputBOM = true;
        break;
    case oiLineEnding:
        if (V == QLatin1String("windows"))
            R.UnixLineEnding = false;
        else if (V == QLatin1String("unix"))
            R.UnixLineEnding = true;
        else
            Fail(QStringLiteral("--line-ending must be windows or unix"));
        R.HasLineEnding = true;
        ALineEnding = true;
        break;
    case oiKnown:
        R.HasKnown = true;
        R.KnownFile = V;
        break;
    case oiUnique:
        R.Unique = true;
        break;
    case oiAllowSpecial:
        R.AllowSpecial = true;
        break;
    case oiOnCheckFailure:
        if (V != QLatin1String("pass") && V != QLatin1String("drop"))
            Fail(QStringLiteral("--on-check-failure must be pass or drop"));
        R.CheckFailDrop = V == QLatin1String("drop");
        break;
    case oiAggregate:
        R.Aggregate = true;
        break;
    case oiPause:
        R.PauseMSec = RangedNumber(V, LongName(D), 0, 60000);
        break;
    case oiTimeout:
        R.TimeoutMSec = RangedNumber(V, LongName(D), 1, 60000);
        break;
    case oiRetries:
        R.Retries = RangedNumber(V, LongName(D), 0, 10);
        break;
    case oiMaxQPS:
        R.MaxQPS = RangedNumber(V, LongName(D), 0, 100000);
        break;
    case oiDetailed:
        R.Detailed = true;
        break;
    case oiLogFile:
        R.HasLogFile = true;
        R.LogFile = V;
        break;
    case oiLogAppend:
        R.LogAppend = true;
        break;
    case oiQuiet:
        R.Quiet = true;
        break;
    case oiProgress:
        R.Progress = true;
        break;
    case oiHelp:
        R.Help = true;
        break;
    case oiVersion:
        R.Version = true;
        break;
    case oiPreset:
        if (RulePresetByName(V) == rpNone)
            Fail(QStringLiteral("--preset must be one of: %1").arg(RulePresetNames().join(QStringLiteral(", "))));
        R.Preset = RulePresetName(RulePresetByName(V));
        break;
    case oiSetName:
        // A loader's own word would make the whole file fail to load.
        if (!IsValidRuleSetName(V))
            Fail(RuleSetNameError(V));
        R.SetName = V;
        R.HasSetName = true;
        break;
    case oiHeader:
        R.Header << V;
        break;
    case oiFooter:
        R.Footer << V;
        break;
    case oiState:
        R.HasState = true;
        R.StateFile = V;
        break;
    case oiKeep:
    case oiEvery: {
        const qint64 Sec = TAddressState::ParseDuration(V);
        if (Sec <= 0 || Sec > 3650LL * 86400)
            Fail(QStringLiteral("%1 must be a duration such as 30s, 10m, 1h or 7d").arg(LongName(D)));
        (D.Id == oiKeep ? R.KeepSec : R.EverySec) = Sec;
        R.HasKeep = R.HasKeep || D.Id == oiKeep;
        break;
    }
    case oiOnChange:
        R.HasOnChange = true;
        R.OnChange = V;
        break;
    case oiApply:
        R.HasApply = true;
        R.Apply = V;
        break;
    }
}

// Options whose empty value can only be a mistake (an unset shell variable).
bool NeedsNonEmptyValue(TOptionId AId) {
    switch (AId) {
    case oiOutput: case oiFormat: case oiDNS: case oiDBL: case oiRBL: case oiRBL6: case oiKnown: case oiState:
    case oiOutput6: case oiFormat6: case oiLogFile:
        return true;
    default:
        return false;
    }
}

// One file of a role, for telling two roles on it apart.
struct TFileRole {
    QString Name;
    const char* Role;
    int Group;  // roles of one group may share a file
};

// The file's identity: its device and inode, or the absolute path (with the
// folder's links resolved) where it does not exist yet.
struct TFileKey {
    bool Exists = false;
    bool Device = false;
    dev_t Dev = 0;
    ino_t Ino = 0;
    QByteArray Path;
};

TFileKey FileKey(const QString& AName) {
    TFileKey K;
    const QByteArray Name = EncodeFileName(AName);
    struct stat St;
    if (::stat(Name.constData(), &St) == 0) {
        K.Exists = true;
        K.Device = S_ISCHR(St.st_mode);
        K.Dev = St.st_dev;
        K.Ino = St.st_ino;
        return K;
    }
    const qsizetype Slash = Name.lastIndexOf('/');
    const QByteArray Folder = Slash < 0 ? QByteArray(".") : Slash == 0 ? QByteArray("/") : Name.left(Slash);
    char Real[PATH_MAX];
    K.Path = (::realpath(Folder.constData(), Real) ? QByteArray(Real) : Folder) + '/' + Name.mid(Slash + 1);
    return K;
}

} // namespace

QString CliFileRoleConflict(const TCliOptions& O) {
    QList<TFileRole> Roles;
    const auto Add = [&Roles](bool AGiven, const QString& AName, const char* ARole, int AGroup) {
        if (AGiven && !AName.isEmpty() && AName != QLatin1String("-"))
            Roles.append({AName, ARole, AGroup});
    };
    Add(O.HasSourceFile, O.SourceFile, "the input", 0);
    Add(O.HasOutput, O.OutputFile, "the output file", 1);
    Add(O.HasOutput6, O.OutputFile6, "the IPv6 output file", 1);
    Add(O.HasKnown, O.KnownFile, "the file of known lines", 2);
    Add(O.HasState, O.StateFile, "the state file", 3);
    Add(O.Detailed && O.HasLogFile, O.LogFile, "the log file", 4);
    QList<TFileKey> Keys;
    for (const TFileRole& R : Roles)
        Keys.append(FileKey(R.Name));
    // Standard input redirected from a file ("< list.txt") is that file.
    struct stat In;
    if (!O.HasSourceFile && ::fstat(0, &In) == 0 && S_ISREG(In.st_mode)) {
        Roles.prepend({QString(), "the input", 0});
        TFileKey K;
        K.Exists = true;
        K.Dev = In.st_dev;
        K.Ino = In.st_ino;
        Keys.prepend(K);
    }
    for (qsizetype I = 0; I < Roles.size(); ++I)
        for (qsizetype J = I + 1; J < Roles.size(); ++J) {
            if (Roles[I].Group == Roles[J].Group)
                continue;
            const TFileKey &A = Keys[I], &B = Keys[J];
            const bool Same = A.Exists && B.Exists ? A.Dev == B.Dev && A.Ino == B.Ino && !A.Device
                                                   : !A.Exists && !B.Exists && A.Path == B.Path;
            if (!Same)
                continue;
            const QString& Name = Roles[I].Name.isEmpty() ? Roles[J].Name : Roles[I].Name;
            QString Message = QStringLiteral("%1 is both %2 and %3")
                                  .arg(Name, QLatin1String(Roles[I].Role), QLatin1String(Roles[J].Role));
            // The output would hold the new lines alone: the known ones would be lost.
            if (Roles[I].Group == 1 && Roles[J].Group == 2)
                Message += QStringLiteral(" (to add the new lines to it, use >> instead of %1)")
                               .arg(QLatin1String(Roles[I].Role == QLatin1String("the output file") ? "--output"
                                                                                                   : "--output6"));
            return Message;
        }
    return QString();
}

QStringList ResolvConfServers(const QString& AFileName) {
    // "nameserver ADDRESS" lines; the C library's resolver reads no others
    // for its servers. An address the resolver here cannot use (a link-local
    // one with its "%interface") is left out.
    QStringList Servers;
    QFile File(AFileName);
    if (!File.open(QIODevice::ReadOnly | QIODevice::Text))
        return Servers;
    while (!File.atEnd()) {
        const QList<QByteArray> Words = File.readLine().simplified().split(' ');
        if (Words.size() < 2 || Words[0] != "nameserver")
            continue;
        const QString Address = QString::fromLatin1(Words[1]);
        TDNSServerEntry Entry;
        if (ParseDNSServerEntry(Address, 53, Entry) && Entry.Kind != TDNSServerEntry::skName &&
            !Servers.contains(Address))
            Servers << Address;
    }
    return Servers;
}

QStringList DefaultDNSServers() {
    const QStringList Servers = ResolvConfServers(QStringLiteral("/etc/resolv.conf"));
    return Servers.isEmpty() ? QStringList{QStringLiteral("8.8.8.8"), QStringLiteral("8.8.4.4")} : Servers;
}

TCliOptions ParseCliArguments(const QStringList& AArgs) {
    TCliOptions R;
    bool DBLMode = false, RBLMode = false, LineEnding = false;
    bool OptionsEnded = false;
    QStringList Operands;

    for (qsizetype I = 0; I < AArgs.size(); ++I) {
        const QString& A = AArgs.at(I);
        const auto TakeValue = [&](const QString& AShown) -> QString {
            if (I + 1 >= AArgs.size())
                Fail(QStringLiteral("%1 needs a value").arg(AShown));
            return AArgs.at(++I);
        };
        if (OptionsEnded || A == QLatin1String("-") || !A.startsWith(QLatin1Char('-'))) {
            Operands << A;
            continue;
        }
        if (A == QLatin1String("--")) {
            OptionsEnded = true;
            continue;
        }
        if (A.startsWith(QLatin1String("--"))) {
            const qsizetype Eq = A.indexOf(QLatin1Char('='));
            const QString Name = A.mid(2, Eq < 0 ? -1 : Eq - 2);
            const TOptionDef* D = FindLong(Name);
            if (!D)
                Fail(QStringLiteral("unknown option '--%1' (see --help)").arg(Name));
            QString Value;
            if (D->TakesValue)
                Value = Eq >= 0 ? A.mid(Eq + 1) : TakeValue(LongName(*D));
            else if (Eq >= 0)
                Fail(QStringLiteral("%1 takes no value").arg(LongName(*D)));
            if (D->TakesValue && Value.isEmpty() && NeedsNonEmptyValue(D->Id))
                Fail(QStringLiteral("%1 needs a value that is not empty").arg(LongName(*D)));
            Apply(R, *D, Value, DBLMode, RBLMode, LineEnding);
            if (R.Help || R.Version)
                return R;
            continue;
        }
        // A cluster of short options; a value is the rest of the cluster or
        // the next argument ("-t4", "-t 4", "-vq").
        for (qsizetype J = 1; J < A.size(); ++J) {
            const TOptionDef* D = FindShort(A.at(J));
            if (!D)
                Fail(QStringLiteral("unknown option '-%1' (see --help)").arg(A.at(J)));
            QString Value;
            if (D->TakesValue) {
                const QString Shown = QStringLiteral("-%1").arg(A.at(J));
                Value = J + 1 < A.size() ? A.mid(J + 1) : TakeValue(Shown);
                J = A.size();
                if (Value.isEmpty() && NeedsNonEmptyValue(D->Id))
                    Fail(QStringLiteral("%1 needs a value that is not empty").arg(Shown));
            }
            Apply(R, *D, Value, DBLMode, RBLMode, LineEnding);
            if (R.Help || R.Version)
                return R;
        }
    }

    if (Operands.size() > 1)
        Fail(QStringLiteral("only one input FILE may be given (got \"%1\" and \"%2\")")
                 .arg(Operands.at(0), Operands.at(1)));
    if (Operands.size() == 1 && Operands.at(0) != QLatin1String("-")) {
        R.HasSourceFile = true;
        R.SourceFile = Operands.at(0);
    }
    // Options that only qualify another one: alone they would be ignored
    // silently, which hides a mistake.
    if (R.OutputBOM && !R.HasOutput && !R.HasOutput6)
        Fail(QStringLiteral("--bom needs --output"));
    if (LineEnding && !R.HasOutput && !R.HasOutput6)
        Fail(QStringLiteral("--line-ending needs --output"));
    // An IPv4-only run has no IPv6 line to format or to write.
    if (R.HasFormat6 && !R.HasFormat)
        Fail(QStringLiteral("--format6 needs --format"));
    if (R.HasFormat6 && R.Family == afIPv4)
        Fail(QStringLiteral("--format6 needs --family ipv6 or both"));
    if (R.HasOutput6 && R.Family == afIPv4)
        Fail(QStringLiteral("--output6 needs --family ipv6 or both"));
    if (R.HasLogFile && !R.Detailed)
        Fail(QStringLiteral("--log-file needs --detailed"));
    if (R.LogAppend && !R.HasLogFile)
        Fail(QStringLiteral("--log-append needs --log-file"));
    if (DBLMode && !R.DBLOn)
        Fail(QStringLiteral("--dbl-mode needs --dbl"));
    if (RBLMode && !R.RBLOn)
        Fail(QStringLiteral("--rbl-mode needs --rbl or --rbl6"));
    if (!R.Preset.isEmpty() && R.HasFormat)
        Fail(QStringLiteral("--preset and --format cannot be given together (the preset is the template)"));
    if (R.HasSetName && R.Preset != QLatin1String("nft") && R.Preset != QLatin1String("ipset") &&
        R.Preset != QLatin1String("iptables"))
        Fail(QStringLiteral("--set-name needs --preset nft, ipset or iptables"));
    // A preset's file is what its loader reads: UTF-8 without a mark, LF.
    if (!R.Preset.isEmpty() && R.OutputBOM)
        Fail(QStringLiteral("--bom cannot be given with --preset (its loader refuses a byte-order mark)"));
    if (!R.Preset.isEmpty() && LineEnding && !R.UnixLineEnding)
        Fail(QStringLiteral("--line-ending windows cannot be given with --preset (its loader refuses CR)"));
    // Two nft files would each flush what the other loaded.
    if (R.Preset == QLatin1String("nft") && R.HasOutput6)
        Fail(QStringLiteral("--preset nft writes both families into one file: --output6 cannot be given"));
    // One file is read by iptables-restore or by ip6tables-restore, never both.
    if (R.Preset == QLatin1String("iptables") && R.Family == afBoth && !R.HasOutput6)
        Fail(QStringLiteral("--preset iptables with --family both needs --output6 (the IPv6 rules go to "
                            "ip6tables-restore)"));
    if (R.HasKeep && !R.HasState)
        Fail(QStringLiteral("--keep needs --state"));
    if (R.EverySec > 0 && !R.HasSourceFile)
        Fail(QStringLiteral("--every needs an input FILE (read again each round)"));
    if (R.EverySec > 0 && (!R.HasOutput || R.OutputFile == QLatin1String("-")))
        Fail(QStringLiteral("--every needs --output FILE (replaced when its content changes)"));
    if (R.HasOnChange && (!R.HasOutput || R.OutputFile == QLatin1String("-")))
        Fail(QStringLiteral("--on-change needs --output FILE"));
    if (R.HasApply && (!R.HasOutput || R.OutputFile == QLatin1String("-")))
        Fail(QStringLiteral("--apply needs --output FILE"));
    // A block joins the addresses of many domains: no one domain is its own.
    if (R.Aggregate && R.Preset == QLatin1String("hosts"))
        Fail(QStringLiteral("--aggregate cannot fill %domain%: a merged block has no single domain"));
    if (R.Aggregate && ((R.HasFormat && R.Format.contains(QLatin1String("%domain%"), Qt::CaseInsensitive)) ||
                        R.Format6.contains(QLatin1String("%domain%"), Qt::CaseInsensitive)))
        Fail(QStringLiteral("--aggregate cannot fill %domain%: a merged block has no single domain"));
    return R;
}

QString CliVersionText() {
    return QStringLiteral("veltrask-cli %1\n").arg(QLatin1String(VELTRASK_VERSION));
}

QString CliHelpText() {
    return QStringLiteral(
        "Usage: veltrask-cli [options] [FILE]\n"
        "Resolve the domain names read from FILE (standard input when FILE is absent\n"
        "or \"-\") to IPv4 addresses, IPv6 addresses or both, and print one line per\n"
        "address. A line that is an address, optionally with \"/\" and a prefix\n"
        "length, is passed through without resolving. Standard input, a pipe or a\n"
        "FIFO is taken line by line as it arrives. Input is UTF-8, or UTF-16 when\n"
        "it starts with a byte-order mark or its first bytes pair the ASCII\n"
        "characters and line breaks with zero bytes; UTF-32 is refused.\n"
        "\n"
        "Options:\n"
        "  -s, --dns SERVER       DNS server; repeatable; default: the name servers of\n"
        "                         /etc/resolv.conf (8.8.8.8 and 8.8.4.4 when it\n"
        "                         names none);\n"
        "                         IPv4[:port], IPv6 ([IPv6]:port with a port),\n"
        "                         LOCALHOST[:port] or a host name[:port], looked up\n"
        "                         once at the start (not found: exit 2); queries\n"
        "                         carry EDNS0 and a truncated reply is asked again\n"
        "                         over TCP\n"
        "  -t, --threads N        worker threads, 1 to 500 (default 1)\n"
        "  -f, --format TEMPLATE  output template: %ip% is the address, %domain% the\n"
        "                         domain; without it each line is the bare address\n"
        "      --family FAMILY    ipv4 (default): A records and IPv4 lines; ipv6: AAAA\n"
        "                         records and IPv6 lines; both: all of them\n"
        "      --format6 TEMPLATE\n"
        "                         with --format: the template of IPv6 lines\n"
        "                         (default: the --format template)\n"
        "      --dbl ZONE         domain blocklist (DBL) zone; repeatable; turns DBL on\n"
        "      --dbl-mode MODE    suppress (default): drop listed domains;\n"
        "                         out: keep only listed domains\n"
        "      --rbl ZONE         IPv4 address blocklist (RBL) zone; repeatable; turns\n"
        "                         RBL on\n"
        "      --rbl6 ZONE        IPv6 address blocklist zone; repeatable; turns RBL on\n"
        "      --rbl-mode MODE    suppress (default) or out, for addresses of both\n"
        "                         families\n"
        "      --on-check-failure ACTION\n"
        "                         pass (default): an item whose blocklist check\n"
        "                         failed is written in suppress mode; drop: it is\n"
        "                         not written in either mode\n"
        "      --allow-special    write special addresses and wide blocks too (for\n"
        "                         lists that are no firewall input)\n"
        "  -o, --output FILE      write the lines to FILE (UTF-8) instead of standard\n"
        "                         output; \"-\" is standard output\n"
        "      --output6 FILE     write the IPv6 lines to FILE, the IPv4 lines to\n"
        "                         --output or standard output; \"-\" is standard\n"
        "                         output\n"
        "      --bom              with --output or --output6: write a byte-order mark\n"
        "      --line-ending E    with --output or --output6: windows or unix\n"
        "                         (default: unix)\n"
        "      --known FILE       lines already known, one a line; print only the\n"
        "                         lines that are new\n"
        "      --unique           print each output line only the first time\n"
        "      --aggregate        print, at the end of the run, the fewest CIDR blocks\n"
        "                         that cover exactly the addresses found, sorted;\n"
        "                         %ip% is a.b.c.d/n, or the address alone for a\n"
        "                         single one; the template cannot hold %domain%\n"
        "      --pause MS         pause after each domain, 0 to 60000 (default 200)\n"
        "      --timeout MS       DNS wait per lookup, 1 to 60000 (default 5000)\n"
        "      --retries N        ask again, up to N times (0 to 10, default 0), on the\n"
        "                         next server when a lookup timed out, met a socket\n"
        "                         error, a broken reply or SERVFAIL or REFUSED, after a\n"
        "                         wait of 100 ms doubling up to 2 s, with jitter\n"
        "      --max-qps N        at most N queries a second for the whole run, all\n"
        "                         threads, retries and blocklist checks together\n"
        "                         (0 to 100000, default 0: no limit); public\n"
        "                         resolvers limit each client\n"
        "      --preset NAME      a whole file its loader takes as it is, LF line\n"
        "                         breaks, sorted entries: iptables (chain NAME for\n"
        "                         iptables-restore --noflush; the IPv6 rules go to\n"
        "                         --output6 for ip6tables-restore), nft (nft -f; table\n"
        "                         inet NAME, interval sets NAME4 and NAME6, chain output\n"
        "                         rejecting them; loadable again and again), ipset\n"
        "                         (ipset restore; NAME4-new filled, swapped with NAME4),\n"
        "                         hosts (\"%ip% %domain%\" for names)\n"
        "      --set-name NAME    with --preset nft, ipset or iptables: the set or chain\n"
        "                         NAME (default veltrask)\n"
        "      --header TEXT      a line in front of the output; repeatable\n"
        "      --footer TEXT      a line at the end of a completed run's output;\n"
        "                         repeatable\n"
        "      --state FILE       keep every address seen, with its domain and the\n"
        "                         time last seen, in FILE; the output is this run's\n"
        "                         addresses and those seen within --keep of names\n"
        "                         still listed; runs on one FILE take turns\n"
        "      --keep DURATION    with --state: how long an address is kept after it\n"
        "                         was last seen (default 7d); a number with s, m, h\n"
        "                         or d (30s, 10m, 1h, 7d)\n"
        "      --every DURATION   run again every DURATION (with s, m, h or d) until\n"
        "                         stopped, reading FILE again each round; SIGHUP\n"
        "                         starts a round at once\n"
        "      --on-change CMD    run CMD with /bin/sh -c when the output file was\n"
        "                         replaced; VELTRASK_OUTPUT and VELTRASK_OUTPUT6 hold\n"
        "                         the output files\n"
        "      --apply CMD        run CMD with /bin/sh -c after every completed round,\n"
        "                         changed or not (a flushed rule set is back within\n"
        "                         a round), with the same variables; a failing CMD\n"
        "                         is an error\n"
        "  -v, --detailed         detailed log\n"
        "      --log-file FILE    with -v: write the log to FILE as well\n"
        "      --log-append       with --log-file: append to FILE instead of replacing it\n"
        "  -q, --quiet            no log on standard error\n"
        "      --progress         progress on standard error, with the count of\n"
        "                         failed lookups and blocklist checks: a live line\n"
        "                         on a terminal, else a line every 5 seconds and at\n"
        "                         the end\n"
        "  -h, --help             show this help and exit\n"
        "  -V, --version          show the version and exit\n"
        "\n"
        "Lists as people have them work as they are: a hosts file line\n"
        "(\"0.0.0.0 ads.example.com\", several names a line) gives its names, a\n"
        "filter rule (\"||ads.example.com^\") its name, a URL its host; \"*.\" in\n"
        "front is dropped, an international name is looked up in its ASCII form\n"
        "(xn--), and a line that starts with \"#\", \"!\" or \";\" is a comment, as\n"
        "is \"#\" after white space. A filter rule with options gives its name only\n"
        "when none narrows the block (third-party, 3p, all, document, doc,\n"
        "network, important); any other option ($domain=, $popup, $script, ...)\n"
        "skips the rule. \"||a.b.\" and \"||a.b.c.\" give the block a.b.0.0/16 or\n"
        "a.b.c.0/24; \"||name.\" (a name under any top-level domain) is skipped. An\n"
        "exception \"@@||name^\" without a narrowing option keeps that name and the\n"
        "names below it out of what the block rules give, and \"$badfilter\"\n"
        "cancels the rule it repeats. In a regular file they apply wherever they\n"
        "stand; in a stream (a pipe, a FIFO, a terminal), from where they appear.\n"
        "A label starts and ends with a letter or a digit.\n"
        "\n"
        "Addresses that must never be blocked are not written: 0.0.0.0/8,\n"
        "127.0.0.0/8, 169.254.0.0/16, 224.0.0.0/4, 240.0.0.0/4, ::, ::1, fe80::/10,\n"
        "ff00::/8, the IPv4-mapped forms of the IPv4 ones and the DNS servers' own\n"
        "addresses, whether an answer, a list line or the state gave them; nor is\n"
        "a block that covers one of them or is wider than /8 (IPv4) or /16 (IPv6).\n"
        "Each is logged once and counted as skipped (see --allow-special).\n"
        "\n"
        "An IPv4 address is checked only in --rbl zones, an IPv6 address only in\n"
        "--rbl6 zones, each in the next zone of its family in turn. With RBL on and\n"
        "no zone for a family, that family's addresses are not written and count as\n"
        "failed blocklist checks.\n"
        "\n"
        "A line that is neither an address nor a name a server can be asked is\n"
        "skipped. An address line is written as the dotted quad of its value (with\n"
        "its \"/prefix\"): 010.001.002.003 becomes 8.1.2.3, 10.1 becomes 10.0.0.1.\n"
        "An IPv6 line is written in its canonical text: 2001:DB8:0::1/64 becomes\n"
        "2001:db8::1/64. An IPv4-only run skips IPv6 lines, an IPv6-only run IPv4\n"
        "lines.\n"
        "\n"
        "An output file is written whole: the lines go to a temporary file beside\n"
        "it, which replaces it only when the run completed, and only when its\n"
        "content changed; a broken or failed run leaves the previous file as it\n"
        "was.\n"
        "\n"
        "Standard output carries the output lines only; the log goes to standard\n"
        "error and ends with a summary line (\"Done: ... lookups failed, ...\", or\n"
        "\"Broken off: ...\" when the run did not complete).\n"
        "Lookups failed counts lookups (with --family both a name's A and AAAA\n"
        "lookups are two); not found counts names for which every lookup said the\n"
        "name does not exist; an answer without records of the type asked is no\n"
        "failure. Lines written counts lines that reached the output. Items whose\n"
        "lookup or check Ctrl-C cut short are not written and not counted as\n"
        "failed (\"N cut short by Break\").\n"
        "Exit status: 0 the run completed and every lookup and blocklist check was\n"
        "answered; 3 the run completed but a lookup or a blocklist check failed (no\n"
        "reply, an error reply, or a blocklist's error code); 1 the run could not\n"
        "start or ended by an error; 2 the command line is wrong; 130 broken by\n"
        "Ctrl-C (SIGINT), 143 by SIGTERM, 129 by SIGHUP (without --every), 141 by\n"
        "SIGPIPE (the reader of the output or the log went away). A second Ctrl-C\n"
        "writes the summary and ends the program at once, after the output line\n"
        "being written.\n"
        "The input, --output, --known, --state and --log-file must be different\n"
        "files (--output and --output6 may be one).\n");
}
