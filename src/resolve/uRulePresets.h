#pragma once

#include "resolve/QXUtilsUnit.h"

#include <QString>
#include <QStringList>

// Ready-made output for the firewalls' own loaders: the line templates and
// the lines a whole file needs around them, so that the file loads as it is.
enum TRulePresetKind : quint8 { rpNone = 0, rpIPTables, rpNft, rpIPSet, rpHosts };

// The line templates a preset stands for; the whole file (order, header,
// footer, batching) is made by TRuleWriter.
struct TRulePreset {
    TRulePresetKind Kind = rpNone;
    QString Format;   // the template of IPv4 lines
    QString Format6;  // the template of IPv6 lines (empty: Format)
};

// "iptables", "nft", "ipset", "hosts"; the window's order.
QStringList RulePresetNames();
// The kind a name stands for (case-insensitive); rpNone when unknown.
TRulePresetKind RulePresetByName(const QString& AName);
QString RulePresetName(TRulePresetKind AKind);
// A set name the loaders take: a letter, then letters, digits, "_" or "-",
// at most 26 characters (room for "4-new" within ipset's 31), and none of
// the loaders' own words (nft's "table", ipset's "swap", iptables' "OUTPUT").
bool IsValidRuleSetName(const QString& AName);
// "bad set name: NAME" for a name IsValidRuleSetName refuses, else empty.
QString RuleSetNameError(const QString& AName);

// The templates of a preset over the set (nft, ipset) or chain (iptables)
// ASetName; ipset's sets and nft's are ASetName with "4" and "6" appended.
TRulePreset MakeRulePreset(TRulePresetKind AKind, const QString& ASetName);
