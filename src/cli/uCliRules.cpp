#include "cli/uCliRules.h"

#include "resolve/uRulePresets.h"

TCliRuleText CliRuleText(const TCliOptions& O, bool ASplit6) {
    TCliRuleText R;
    R.HasFormat = O.HasFormat;
    R.Format = O.Format;
    R.Format6 = O.Format6;
    const TRulePresetKind Kind = RulePresetByName(O.Preset);
    if (Kind != rpNone) {
        const TRulePreset P = MakeRulePreset(Kind, O.SetName, O.Family, ASplit6);
        R.HasFormat = true;
        R.Format = P.Format;
        R.Format6 = P.Format6;
        R.Header = P.Header;
        R.Footer = P.Footer;
        R.Header6 = P.Header6;
        R.Footer6 = P.Footer6;
    }
    R.Header += O.Header;
    R.Footer = O.Footer + R.Footer;
    if (ASplit6) {
        R.Header6 += O.Header;
        R.Footer6 = O.Footer + R.Footer6;
    }
    return R;
}
