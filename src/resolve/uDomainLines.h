#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

// Why a piece of an input line is not worked.
enum TLineSkipReason : quint8 {
    lsNotADomain = 0,     // filter syntax, white space, characters no host name has
    lsNoAsciiForm = 1,    // an international name IDNA refuses
    lsNarrowRule = 2,     // a filter rule whose options narrow the block below the whole name
    lsExcepted = 3,       // a block rule an exception rule ("@@||name^") or a "$badfilter" takes back
};

// One piece of an input line that was dropped, for the detailed log.
struct TLineSkip {
    TLineSkipReason Reason = lsNotADomain;
    QString Text;   // the dropped text as it stood in the line

    // "Not a domain: %1" (lsNotADomain, lsNarrowRule), "International name
    // cannot be converted: %1" or "Excepted by a filter rule: %1".
    static QString Format(TLineSkipReason AReason);
    QString Message() const;
};

// What one input line turns into. Meant to be kept per worker and handed to
// every Normalize call: clearing keeps the lists' storage, so a plain line
// costs no allocation at all.
struct TNormalizedLine {
    QStringList Items;         // domain or address lines to work, in line order
    QList<TLineSkip> Skips;    // pieces dropped with a message, in line order
    bool Comment = false;      // an empty or comment line: dropped without a message
    // A block rule ("||name^", "||a.b.") that gave its item: the rule in the
    // form a "$badfilter" repeats it (see RuleKey). Empty for other lines.
    QString RuleKey;
    // An exception rule "@@||name^" without a narrowing option: the name it
    // takes back (lower case) and its own key.
    QString ExceptName;
    QString ExceptKey;
    // A "$badfilter" rule: the key of the rule it cancels.
    QString Cancels;

    void Clear();
};

// The exception rules and "$badfilter" cancels of one input, applied to its
// block rules. An exception takes back the name it names and every name below
// it; a cancelled exception takes back nothing. Not locked: the job locks it.
class TFilterExceptions {
public:
    void Clear();
    bool IsEmpty() const { return FNames.isEmpty() && FCancelled.isEmpty(); }
    // Takes the exception or the cancel of a line; false when it has neither.
    bool Note(const TNormalizedLine& ALine);
    // A block rule's items that an exception or a cancel takes back become
    // skips (lsExcepted).
    void Apply(TNormalizedLine& ALine) const;

private:
    bool Excepted(const QString& AName) const;

    QHash<QString, QStringList> FNames;   // excepted name -> keys of the exceptions naming it
    QSet<QString> FCancelled;             // keys of cancelled rules
};

// Turns the lines people actually have (hosts files, filter lists, URLs,
// wildcards, international names, comments) into the domain and address lines
// the job works. A filter rule gives its name only when it blocks the whole
// name ("||name^", alone or with options that do not narrow it); "||a.b." and
// "||a.b.c." give the address block they start (a.b.0.0/16, a.b.c.0/24), and
// "||name." (a name under any top-level domain) gives nothing. Exception
// rules and "$badfilter" give no item but their meaning (TFilterExceptions). A
// hosts line of a sink address alone ("0.0.0.0 # text") gives nothing. A plain name or address line comes out as it went in, shared
// with the input and found by one scan over its characters.
//
//   TDomainLineNormalizer Normalizer(AddressTest);
//   TNormalizedLine Result;                 // one per worker, reused
//   Normalizer.Normalize(TrimmedLine, Result);
//   for (const TLineSkip& S : Result.Skips) log S.Message() in detailed mode;
//   for (const QString& Item : Result.Items) work Item as a line of its own;
//
// The object holds no state besides the address test; Normalize may run on
// several threads at once with a result object each.
class TDomainLineNormalizer {
public:
    // Tells whether a whole line is an address line that must pass unchanged.
    // The job hands in its own classification, so every form it has always
    // taken as an address (shortened, octal, "1.2.3.4.", ".x") stays one.
    using TAddressTest = bool (*)(const QString& ALine);

    // Without a test, strict dotted quads with an optional "/0".."/32" are
    // address lines (IsStrictAddressLine). IPv6 address lines ("2001:db8::1",
    // "::ffff:192.0.2.1/120") always pass unchanged; whether they are worked
    // is the job's decision.
    explicit TDomainLineNormalizer(TAddressTest AAddressTest = nullptr);

    // ALine is trimmed already (the job's trim of characters up to 32).
    // Clears AResult, then fills it.
    void Normalize(const QString& ALine, TNormalizedLine& AResult) const;

    // Letters, digits, "-" and "_" in dot-separated labels of 1 to 63
    // characters, 253 characters at most, no dot at either end. A label
    // starts and ends with a letter or a digit (host names); "-" and "_" only
    // inside it. "_" stays allowed there: a good share of real blocklist
    // entries carry it ("ad_server.example.com"), and DNS answers for them.
    static bool IsPlainName(QStringView AText);
    // localhost, broadcasthost, ip6-allnodes and the other names hosts files
    // carry for the machine itself; any letter case.
    static bool IsHostsFurniture(QStringView AName);
    // A strict dotted quad with an optional prefix length 0..32.
    static bool IsStrictAddressLine(const QString& ALine);

private:
    bool IsAddressLine(const QString& ALine) const;
    void AddName(QStringView AName, QStringView AReportText, bool AFromHosts, TNormalizedLine& AResult) const;
    void AddFilterRule(QStringView AText, TNormalizedLine& AResult) const;
    void AddException(QStringView AText, TNormalizedLine& AResult) const;
    void AddUrlHost(QStringView AText, TNormalizedLine& AResult) const;
    void AddWords(QStringView AText, TNormalizedLine& AResult) const;

    TAddressTest FAddressTest;
};
