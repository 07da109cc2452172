#pragma once

#include "cli/uCliOptions.h"

#include <QString>
#include <QStringList>

// What the output files carry besides the address lines: the templates and
// the header and footer lines of a --preset, with the user's --header and
// --footer lines inside them (after the preset's header, before its footer).
struct TCliRuleText {
    bool HasFormat = false;
    QString Format;
    QString Format6;
    QStringList Header, Footer;    // the output (both families when not split)
    QStringList Header6, Footer6;  // the IPv6 output when it is a file of its own
};

// ASplit6: the IPv6 lines go to a place of their own.
TCliRuleText CliRuleText(const TCliOptions& AOptions, bool ASplit6);
