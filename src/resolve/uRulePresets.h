#pragma once

#include "resolve/QXUtilsUnit.h"

#include <QString>
#include <QStringList>

// Ready-made output for the firewalls' own loaders: the line templates and
// the lines a whole file needs around them, so that the file loads as it is.
enum TRulePresetKind : quint8 { rpNone = 0, rpIPTables, rpNft, rpIPSet, rpHosts };

struct TRulePreset {
    TRulePresetKind Kind = rpNone;
    QString Format;        // the template of IPv4 lines (and of IPv6 lines when Format6 is empty)
    QString Format6;       // the template of IPv6 lines
    QStringList Header;    // first lines of the output (or of the IPv4 output when split)
    QStringList Footer;    // last lines of the output
    QStringList Header6;   // the same for the IPv6 output, when it is a file of its own
    QStringList Footer6;
};

// "iptables", "nft", "ipset", "hosts"; the window's order.
QStringList RulePresetNames();
// The kind a name stands for (case-insensitive); rpNone when unknown.
TRulePresetKind RulePresetByName(const QString& AName);
QString RulePresetName(TRulePresetKind AKind);
// A set name the loaders take: a letter, then letters, digits, "_" or "-",
// at most 28 characters (room for the family suffix within ipset's 31).
bool IsValidRuleSetName(const QString& AName);

// The preset for a run of AFamily. ASplit6: the IPv6 lines go to a file of
// their own, which then gets Header6 and Footer6; otherwise one file holds
// both families and Header/Footer cover both. The set names are ASetName
// with "4" and "6" appended; nft's table is ASetName, its chain "output".
TRulePreset MakeRulePreset(TRulePresetKind AKind, const QString& ASetName, TQXAddressFamily AFamily, bool ASplit6);
