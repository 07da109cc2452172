#include "cli/uCliRules.h"

TCliRuleText CliRuleText(const TCliOptions& O, bool ASplit6) {
    TCliRuleText R;
    const TRulePresetKind Kind = RulePresetByName(O.Preset);
    R.Document = Kind != rpNone || O.Aggregate || O.HasState;
    TRuleWriterSettings& S = R.Settings;
    S.Preset = Kind;
    S.SetName = O.SetName;
    S.Family = O.Family;
    S.Split6 = ASplit6;
    S.Aggregate = O.Aggregate;
    S.HasFormat = O.HasFormat;
    S.Format = O.Format;
    S.Format6 = O.Format6;
    S.Header = O.Header;
    S.Footer = O.Footer;
    if (!R.Document) {
        R.Header = O.Header;
        R.Footer = O.Footer;
    }
    return R;
}
