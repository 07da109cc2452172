#pragma once

#include "cli/uCliOptions.h"
#include "resolve/uRuleWriter.h"

#include <QString>
#include <QStringList>

// What the output carries besides the address lines. A preset, --aggregate
// or --state make the run's output one document written when the run ends
// (TRuleWriter, as the window writes it); otherwise the lines stream out
// between the user's --header and --footer lines.
struct TCliRuleText {
    bool Document = false;
    TRuleWriterSettings Settings;  // the document's
    QStringList Header, Footer;    // the streamed output's (each output's when split)
};

// ASplit6: the IPv6 lines go to a place of their own.
TCliRuleText CliRuleText(const TCliOptions& AOptions, bool ASplit6);
