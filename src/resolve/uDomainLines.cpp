#include "resolve/uDomainLines.h"

#include "resolve/uAddressText.h"

#include <QUrl>

namespace {

// White space as the job's trim sees it: every character up to 32.
bool IsBlank(QChar C) {
    return C.unicode() <= 32;
}

QStringView TrimBlanks(QStringView AText) {
    qsizetype First = 0;
    qsizetype Last = AText.size();
    while (First < Last && IsBlank(AText[First]))
        ++First;
    while (Last > First && IsBlank(AText[Last - 1]))
        --Last;
    return AText.sliced(First, Last - First);
}

bool IsAscii(QStringView AText) {
    for (const QChar C : AText)
        if (C.unicode() >= 128)
            return false;
    return true;
}

bool IsSchemeChar(QChar C, bool AFirst) {
    const char16_t U = C.unicode();
    const bool Letter = (U >= u'a' && U <= u'z') || (U >= u'A' && U <= u'Z');
    if (AFirst)
        return Letter;
    return Letter || (U >= u'0' && U <= u'9') || U == u'+' || U == u'-' || U == u'.';
}

// "scheme://" at the start of the text.
bool HasUrlScheme(QStringView AText) {
    const qsizetype Sep = AText.indexOf(u"://");
    if (Sep < 1)
        return false;
    for (qsizetype I = 0; I < Sep; ++I)
        if (!IsSchemeChar(AText[I], I == 0))
            return false;
    return true;
}

// The sink address a hosts file puts before its names. An IPv6 sink may carry
// a zone ("fe80::1%lo0 localhost" in some systems' files): the zone makes it
// no address line, but the line is still a hosts line.
bool IsHostsAddress(QStringView AWord) {
    quint32 V4 = 0;
    if (ParseIPv4Strict(AWord, V4))
        return true;
    TIPv6Address V6;
    const qsizetype Zone = AWord.indexOf(u'%');
    if (Zone < 0)
        return ParseIPv6Address(AWord, V6);
    return Zone + 1 < AWord.size() && ParseIPv6Address(AWord.left(Zone), V6);
}

// The addresses hosts files point names at to block them: a line of one of
// them alone ("0.0.0.0 # comment") names nothing.
bool IsSinkAddress(QStringView AWord) {
    quint32 V4 = 0;
    if (ParseIPv4Strict(AWord, V4))
        return V4 == 0 || V4 == 0x7F000001u;
    TIPv6Address V6;
    if (!ParseIPv6Address(AWord, V6))
        return false;
    TIPv6Address Loopback;
    Loopback.Bytes[15] = 1;
    return V6 == TIPv6Address() || V6 == Loopback;
}

// Filter-rule options that do not narrow a block to some pages, some request
// types or some sites: a rule with only these blocks the whole name, as a DNS
// or firewall block does. Any other option makes the rule one such a block
// cannot honour, and widening it to the whole name would block what the list
// never blocked. "popup" is such a one: it blocks pop-up windows only.
const char16_t* const kWholeNameOptions[] = {
    u"third-party", u"3p", u"all", u"document", u"doc", u"network", u"important",
};

bool OptionsKeepWholeName(const QList<QStringView>& AOptions) {
    for (const QStringView Option : AOptions) {
        bool Known = false;
        for (const char16_t* K : kWholeNameOptions)
            if (Option.compare(QStringView(K), Qt::CaseInsensitive) == 0) {
                Known = true;
                break;
            }
        if (!Known)
            return false;
    }
    return true;
}

// "name^$options" after the "||" of a rule; "^" may be left out when nothing
// follows the name or the options start at once. False when anything else
// follows the name (a path, a wildcard).
struct TRuleParts {
    QStringView Name;
    QList<QStringView> Options;   // empty without "$"; "$" alone gives one empty option
    bool BadFilter = false;       // "badfilter" was among the options (and is left out of them)
};

bool SplitRule(QStringView ARest, TRuleParts& AParts) {
    qsizetype End = 0;
    while (End < ARest.size() && ARest[End] != u'^' && ARest[End] != u'$')
        ++End;
    AParts.Name = ARest.left(End);
    QStringView After = ARest.sliced(End);
    if (After.startsWith(u'^'))
        After = After.sliced(1);
    if (After.isEmpty())
        return true;
    if (After[0] != u'$')
        return false;
    for (const QStringView Option : After.sliced(1).split(u','))
        if (Option.compare(u"badfilter", Qt::CaseInsensitive) == 0)
            AParts.BadFilter = true;
        else
            AParts.Options.append(Option);
    return true;
}

// The rule in one form whatever the letter case, the "^" and the order of
// its options, so that a "$badfilter" finds the rule it repeats.
QString RuleKey(bool AException, const TRuleParts& AParts) {
    QStringList Options;
    for (const QStringView Option : AParts.Options)
        Options << Option.toString().toLower();
    Options.sort();
    QString Key = (AException ? QStringLiteral("@@||") : QStringLiteral("||")) + AParts.Name.toString().toLower() +
                  QLatin1Char('^');
    if (!Options.isEmpty())
        Key += QLatin1Char('$') + Options.join(QLatin1Char(','));
    return Key;
}

// A rule name of digits and dots that ends in ".": the start of addresses,
// never a host name. "a.b." and "a.b.c." (decimal parts 0..255) give the
// block a.b.0.0/16 or a.b.c.0/24, "a.b.c.d." the address; AText is empty for
// any other such name, which names no address either.
bool AddressRuleText(QStringView AName, QString& AText) {
    AText.clear();
    if (!AName.endsWith(u'.'))
        return false;
    const QStringView Body = AName.chopped(1);
    for (const QChar C : Body)
        if (C != u'.' && (C < u'0' || C > u'9'))
            return false;
    const QList<QStringView> Parts = Body.split(u'.');
    quint32 Value = 0;
    if (Parts.size() == 4) {
        if (ParseIPv4Strict(Body, Value))
            AText = FormatIPv4(Value);
        return true;
    }
    if (Parts.size() < 2 || Parts.size() > 3)
        return true;
    for (const QStringView Part : Parts) {
        // Each part as the strict parser reads a quad's: no leading zero.
        quint32 Byte = 0;
        if (Part.isEmpty() || Part.size() > 3 || !ParseIPv4Strict(Part.toString() + QStringLiteral(".0.0.0"), Byte))
            return true;
        Value = (Value << 8) | (Byte >> 24);
    }
    const int Prefix = int(Parts.size()) * 8;
    AText = FormatIPv4(Value << (32 - Prefix)) + QLatin1Char('/') + QString::number(Prefix);
    return true;
}

const char16_t* const kFurniture[] = {
    u"localhost",     u"localhost.localdomain", u"local",         u"broadcasthost",
    u"ip6-localhost", u"ip6-loopback",          u"ip6-localnet",  u"ip6-mcastprefix",
    u"ip6-allnodes",  u"ip6-allrouters",        u"ip6-allhosts",  u"0.0.0.0",
};

} // namespace

QString TLineSkip::Format(TLineSkipReason AReason) {
    switch (AReason) {
    case lsNoAsciiForm:
        return QStringLiteral("International name cannot be converted: %1");
    case lsExcepted:
        return QStringLiteral("Excepted by a filter rule: %1");
    case lsNotADomain:
    case lsNarrowRule:
        break;
    }
    return QStringLiteral("Not a domain: %1");
}

QString TLineSkip::Message() const {
    return Format(Reason).arg(Text);
}

void TNormalizedLine::Clear() {
    // QList::clear keeps the capacity of a list that is not shared.
    Items.clear();
    Skips.clear();
    Comment = false;
    RuleKey.clear();
    ExceptName.clear();
    ExceptKey.clear();
    Cancels.clear();
}

void TFilterExceptions::Clear() {
    FNames.clear();
    FCancelled.clear();
}

bool TFilterExceptions::Note(const TNormalizedLine& ALine) {
    if (!ALine.ExceptName.isEmpty()) {
        FNames[ALine.ExceptName].append(ALine.ExceptKey);
        return true;
    }
    if (!ALine.Cancels.isEmpty()) {
        FCancelled.insert(ALine.Cancels);
        return true;
    }
    return false;
}

bool TFilterExceptions::Excepted(const QString& AName) const {
    // The name itself, then each name above it.
    QStringView Name(AName);
    for (;;) {
        const auto It = FNames.constFind(Name.toString());
        if (It != FNames.constEnd())
            for (const QString& Key : *It)
                if (!FCancelled.contains(Key))
                    return true;
        const qsizetype Dot = Name.indexOf(u'.');
        if (Dot < 0)
            return false;
        Name = Name.sliced(Dot + 1);
    }
}

void TFilterExceptions::Apply(TNormalizedLine& ALine) const {
    if (ALine.RuleKey.isEmpty() || ALine.Items.isEmpty() || IsEmpty())
        return;
    const bool Cancelled = FCancelled.contains(ALine.RuleKey);
    for (qsizetype I = ALine.Items.size() - 1; I >= 0; --I)
        if (Cancelled || Excepted(ALine.Items[I].toLower())) {
            ALine.Skips.append({lsExcepted, ALine.Items[I]});
            ALine.Items.removeAt(I);
        }
}

TDomainLineNormalizer::TDomainLineNormalizer(TAddressTest AAddressTest) : FAddressTest(AAddressTest) {}

bool TDomainLineNormalizer::IsPlainName(QStringView AText) {
    const qsizetype Size = AText.size();
    if (Size == 0 || Size > 253)
        return false;
    qsizetype Label = 0;
    bool LastInner = false;   // the label's last character was "-" or "_"
    for (qsizetype I = 0; I < Size; ++I) {
        const char16_t C = AText[I].unicode();
        if (C == u'.') {
            if (Label == 0 || LastInner)
                return false;   // leading dot, an empty label, or a label ending in "-" or "_"
            Label = 0;
            continue;
        }
        const bool Alnum = (C >= u'a' && C <= u'z') || (C >= u'A' && C <= u'Z') || (C >= u'0' && C <= u'9');
        const bool Inner = C == u'-' || C == u'_';
        // A host name label never starts with "-" (nor, here, "_"): such
        // words are pieces of URLs ("-468x60", "_chartbeat.js"), not names.
        if ((!Alnum && !(Inner && Label > 0)) || ++Label > 63)
            return false;
        LastInner = Inner;
    }
    return Label > 0 && !LastInner;   // no trailing dot
}

bool TDomainLineNormalizer::IsHostsFurniture(QStringView AName) {
    for (const char16_t* F : kFurniture)
        if (AName.compare(QStringView(F), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool TDomainLineNormalizer::IsStrictAddressLine(const QString& ALine) {
    quint32 Value = 0;
    int Prefix = -1;
    return ParseIPv4LineStrict(ALine, Value, Prefix);
}

bool TDomainLineNormalizer::IsAddressLine(const QString& ALine) const {
    if (FAddressTest ? FAddressTest(ALine) : IsStrictAddressLine(ALine))
        return true;
    TIPv6Address Address;
    int Prefix = -1;
    return ParseIPv6Line(ALine, Address, Prefix);
}

void TDomainLineNormalizer::Normalize(const QString& ALine, TNormalizedLine& AResult) const {
    AResult.Clear();
    if (ALine.isEmpty() || ALine[0] == u'#' || ALine[0] == u'!' || ALine[0] == u';') {
        AResult.Comment = true;
        return;
    }
    // The common case first: one scan, and the line itself is the item.
    if (IsPlainName(ALine) || IsAddressLine(ALine)) {
        AResult.Items.append(ALine);
        return;
    }

    QStringView Text(ALine);
    // "name  # text": a "#" after white space starts a comment. A "#" inside a
    // word ("example.com##.banner") is filter syntax and stays.
    for (qsizetype I = 1; I < Text.size(); ++I) {
        if (Text[I] == u'#' && IsBlank(Text[I - 1])) {
            Text = TrimBlanks(Text.left(I));
            if (IsSinkAddress(Text)) {
                AResult.Comment = true;
                return;
            }
            const QString Cut = Text.toString();
            if (IsPlainName(Cut) || IsAddressLine(Cut)) {
                AResult.Items.append(Cut);
                return;
            }
            break;
        }
    }

    if (Text.startsWith(u"||")) {
        AddFilterRule(Text, AResult);
        return;
    }
    if (Text.startsWith(u"@@||")) {
        AddException(Text, AResult);
        return;
    }
    // Exceptions, element hiding, regular expressions and other anchors are
    // rules about pages, not names.
    if (Text.startsWith(u"@@") || Text.startsWith(u'|') || Text.startsWith(u'/') || Text.contains(u"##") ||
        Text.contains(u"#@#")) {
        AResult.Skips.append({lsNotADomain, Text.toString()});
        return;
    }
    if (HasUrlScheme(Text)) {
        AddUrlHost(Text, AResult);
        return;
    }
    AddWords(Text, AResult);
}

// One or more words: a hosts line ("0.0.0.0 a.example b.example") gives its
// names, a single word is a name; anything else has white space in a name.
void TDomainLineNormalizer::AddWords(QStringView AText, TNormalizedLine& AResult) const {
    qsizetype End = 0;
    while (End < AText.size() && !IsBlank(AText[End]))
        ++End;
    if (End == AText.size()) {
        AddName(AText, AText, false, AResult);
        return;
    }
    if (!IsHostsAddress(AText.left(End))) {
        AResult.Skips.append({lsNotADomain, AText.toString()});
        return;
    }
    // The leading address is the hosts file's sink, not a result: only the names count.
    qsizetype Pos = End;
    for (;;) {
        while (Pos < AText.size() && IsBlank(AText[Pos]))
            ++Pos;
        if (Pos == AText.size())
            break;
        const qsizetype Start = Pos;
        while (Pos < AText.size() && !IsBlank(AText[Pos]))
            ++Pos;
        const QStringView Word = AText.sliced(Start, Pos - Start);
        AddName(Word, Word, true, AResult);
    }
}

// "||name^", optionally "$options" after it (see SplitRule).
void TDomainLineNormalizer::AddFilterRule(QStringView AText, TNormalizedLine& AResult) const {
    TRuleParts Parts;
    if (!SplitRule(AText.sliced(2), Parts)) {
        AResult.Skips.append({lsNotADomain, AText.toString()});
        return;
    }
    // A rule that cancels another gives nothing of its own.
    if (Parts.BadFilter) {
        AResult.Cancels = RuleKey(false, Parts);
        return;
    }
    // Only a rule that blocks the whole name may become a name: options that
    // narrow it (to some sites, request types, headers) would be widened.
    if (!OptionsKeepWholeName(Parts.Options)) {
        AResult.Skips.append({lsNarrowRule, AText.toString()});
        return;
    }
    QString Address;
    if (AddressRuleText(Parts.Name, Address)) {
        if (Address.isEmpty())
            AResult.Skips.append({lsNotADomain, AText.toString()});
        else
            AResult.Items.append(Address);
    } else if (Parts.Name.endsWith(u'.')) {
        // "||name." blocks the name under any top-level domain: no one name.
        AResult.Skips.append({lsNotADomain, AText.toString()});
    } else {
        AddName(Parts.Name, AText, false, AResult);
    }
    if (!AResult.Items.isEmpty())
        AResult.RuleKey = RuleKey(false, Parts);
}

// "@@||name^": the name, and the names below it, are not blocked by the
// input's block rules. An exception narrowed by an option takes back only
// part of a block, which a DNS or firewall block cannot honour: it is skipped.
void TDomainLineNormalizer::AddException(QStringView AText, TNormalizedLine& AResult) const {
    TRuleParts Parts;
    if (!SplitRule(AText.sliced(4), Parts)) {
        AResult.Skips.append({lsNotADomain, AText.toString()});
        return;
    }
    if (Parts.BadFilter) {
        AResult.Cancels = RuleKey(true, Parts);
        return;
    }
    QStringView Name = Parts.Name;
    if (Name.startsWith(u"*."))
        Name = Name.sliced(2);
    if (!OptionsKeepWholeName(Parts.Options) || !IsPlainName(Name)) {
        AResult.Skips.append({lsNotADomain, AText.toString()});
        return;
    }
    AResult.ExceptName = Name.toString().toLower();
    AResult.ExceptKey = RuleKey(true, Parts);
}

void TDomainLineNormalizer::AddUrlHost(QStringView AText, TNormalizedLine& AResult) const {
    const QUrl Url(AText.toString());
    // EncodeUnicode: an international host comes back in its ASCII form.
    const QString Host = Url.isValid() ? Url.host(QUrl::EncodeUnicode) : QString();
    if (Host.isEmpty()) {
        AResult.Skips.append({lsNotADomain, AText.toString()});
        return;
    }
    TIPv6Address Address;
    if (ParseIPv6Address(Host, Address)) {
        AResult.Items.append(Host);
        return;
    }
    AddName(Host, AText, false, AResult);
}

void TDomainLineNormalizer::AddName(QStringView AName, QStringView AReportText, bool AFromHosts,
                                    TNormalizedLine& AResult) const {
    QStringView Name = AName;
    if (Name.startsWith(u"*."))
        Name = Name.sliced(2);
    if (Name.endsWith(u'.'))
        Name.chop(1);
    if (AFromHosts && IsHostsFurniture(Name))
        return;
    QString Out;
    if (IsAscii(Name)) {
        Out = Name.toString();
    } else {
        Out = QString::fromLatin1(QUrl::toAce(Name.toString()));
        if (Out.isEmpty()) {
            AResult.Skips.append({lsNoAsciiForm, AReportText.toString()});
            return;
        }
        // A full stop written as an ideographic one ends up as a trailing ".".
        if (Out.endsWith(u'.'))
            Out.chop(1);
    }
    if (!IsPlainName(Out)) {
        AResult.Skips.append({lsNotADomain, AReportText.toString()});
        return;
    }
    AResult.Items.append(Out);
}
