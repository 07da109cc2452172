// What a filter rule, a URL fragment or a hosts line means to a DNS or
// firewall block: only rules that block a whole name give it, address-prefix
// rules give their block, and fragments of URLs are no names. Also replays the
// committed inputs of the normalizer's fuzz target.
#define VT_FUZZ_REPLAY
#include "../../fuzz/domain_lines_fuzzer.cpp"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

namespace {

struct TRule {
    const char16_t* Line;
    QStringList Items;
    bool Skipped;   // one skip, "Not a domain: <line>"
};

void ExpectRules(const TDomainLineNormalizer& ANormalizer, std::initializer_list<TRule> ARules) {
    TNormalizedLine R;
    for (const TRule& Rule : ARules) {
        const QString Line = QString::fromUtf16(Rule.Line);
        ANormalizer.Normalize(Line, R);
        EXPECT_EQ(R.Items, Rule.Items) << Line.toStdString() << " gave " << R.Items.join('|').toStdString();
        if (Rule.Skipped) {
            ASSERT_EQ(R.Skips.size(), 1) << Line.toStdString();
            EXPECT_EQ(R.Skips[0].Message(), "Not a domain: " + Line);
        } else {
            EXPECT_TRUE(R.Skips.isEmpty()) << Line.toStdString() << ": " << R.Skips.value(0).Message().toStdString();
        }
    }
}

} // namespace

TEST(FilterRules, OnlyOptionsThatKeepTheWholeNameGiveIt) {
    const TDomainLineNormalizer N;
    ExpectRules(N, {
        {u"||ads.example^", {"ads.example"}, false},
        {u"||ads.example", {"ads.example"}, false},
        {u"||ads.example^$third-party", {"ads.example"}, false},
        {u"||ads.example$3p,important", {"ads.example"}, false},
        {u"||ads.example^$all", {"ads.example"}, false},
        {u"||ads.example^$doc,network", {"ads.example"}, false},
        {u"||ads.example^$Third-Party", {"ads.example"}, false},
        // Narrowed to some sites, request types, headers or rewrites: a
        // whole-name block would be wider than the list.
        {u"||bit.ly^$domain=site.example", {}, true},
        // A pop-up block leaves the name's other requests alone.
        {u"||cdn.example^$popup", {}, true},
        {u"||ads.example^$document,popup", {}, true},
        // A name under any top-level domain is no one name.
        {u"||doubleclick.", {}, true},
        {u"||ads.example.^", {}, true},
        {u"||ads.example.$third-party", {}, true},
        {u"||firebase.googleapis.com^$domain=a.example|b.example", {}, true},
        {u"||cdn.example^$script", {}, true},
        {u"||cdn.example^$image,third-party", {}, true},
        {u"||cdn.example^$third-party,image", {}, true},
        {u"||site.example^$csp=script-src 'self'", {}, true},
        {u"||site.example^$redirect=noopjs", {}, true},
        {u"||site.example^$rewrite=abp-resource:blank-js", {}, true},
        {u"||site.example^$removeparam=utm_source", {}, true},
        {u"||ads.example^$~third-party", {}, true},
        {u"||ads.example^$", {}, true},
        {u"||ads.example^$third-party,", {}, true},
    });
}

TEST(FilterRules, AddressRulesGiveTheirBlockOrAddress) {
    const TDomainLineNormalizer N;
    ExpectRules(N, {
        {u"||130.211.$third-party", {"130.211.0.0/16"}, false},
        {u"||130.211.$popup", {}, true},
        {u"||172.255.6.", {"172.255.6.0/24"}, false},
        {u"||23.109.82.", {"23.109.82.0/24"}, false},
        {u"||23.109.82.^$third-party", {"23.109.82.0/24"}, false},
        {u"||0.0.", {"0.0.0.0/16"}, false},
        {u"||192.0.2.7^", {"192.0.2.7"}, false},
        {u"||192.0.2.7.^", {"192.0.2.7"}, false},
        {u"||23.109.82.$script", {}, true},
        // Not prefixes of a dotted quad.
        {u"||300.1.", {}, true},
        {u"||01.2.", {}, true},
        {u"||10.", {}, true},
        {u"||1.2.3.4.5.", {}, true},
    });
    // The old reading made single wrong addresses of them.
    TNormalizedLine R;
    N.Normalize(QStringLiteral("||172.255.6."), R);
    EXPECT_NE(R.Items.value(0), QStringLiteral("172.255.0.6"));
}

namespace {

// The items of a whole list, read as a regular file (every exception and
// cancel first) or as a stream (each from where it stands), as the job does.
QStringList ApplyRules(const QStringList& ALines, bool AStream, QStringList* ASkips) {
    const TDomainLineNormalizer N(&TQXUtils::IsWorkableLine);
    TFilterExceptions Exceptions;
    TNormalizedLine R;
    if (!AStream)
        for (const QString& Line : ALines) {
            N.Normalize(Line, R);
            Exceptions.Note(R);
        }
    QStringList Items;
    for (const QString& Line : ALines) {
        N.Normalize(Line, R);
        if (AStream)
            Exceptions.Note(R);
        Exceptions.Apply(R);
        Items += R.Items;
        for (const TLineSkip& S : R.Skips)
            *ASkips << S.Message();
    }
    return Items;
}

} // namespace

TEST(FilterRules, ExceptionsAndBadfilterTakeBackBlockRules) {
    const QStringList Lines = {
        "||ads.vt^",
        "||cdn.ads.vt^",
        "@@||ADS.vt^",
        "||ads.vt^",
        "||other.vt^$third-party",
        "||other.vt^$badfilter",          // repeats no rule above: "$third-party" differs
        "||third.vt^$3p",
        "||Third.vt$badfilter,3p",        // the same rule in another spelling
        "||kept.vt^",
        "@@||kept.vt^$domain=x.vt",       // narrowed: takes back nothing
        "@@||sub.kept2.vt^",
        "||kept2.vt^",                    // above the exception's name
        "||a.sub.kept2.vt^",
        "@@||undone.vt^",
        "@@||undone.vt^$badfilter",
        "||undone.vt^",
    };
    QStringList FileSkips, StreamSkips;
    EXPECT_EQ(ApplyRules(Lines, false, &FileSkips),
              QStringList({"other.vt", "kept.vt", "kept2.vt", "undone.vt"}));
    EXPECT_EQ(FileSkips, QStringList({"Excepted by a filter rule: ads.vt", "Excepted by a filter rule: cdn.ads.vt",
                                      "Excepted by a filter rule: ads.vt", "Excepted by a filter rule: third.vt",
                                      "Not a domain: @@||kept.vt^$domain=x.vt",
                                      "Excepted by a filter rule: a.sub.kept2.vt"}));
    // A stream cannot take back what it has given already.
    EXPECT_EQ(ApplyRules(Lines, true, &StreamSkips),
              QStringList({"ads.vt", "cdn.ads.vt", "other.vt", "third.vt", "kept.vt", "kept2.vt", "undone.vt"}));
    EXPECT_EQ(StreamSkips.filter("Excepted").size(), 2) << StreamSkips.join('|').toStdString();
}

TEST(FilterRules, UrlFragmentsAndLabelEdgesAreNoNames) {
    const TDomainLineNormalizer N;
    ExpectRules(N, {
        {u"-468x60.", {}, true},
        {u"-120x600_", {}, true},
        {u"_300x250_", {}, true},
        {u"-didomi.js", {}, true},
        {u"_chartbeat.js", {}, true},
        {u"ads-.example", {}, true},
        {u"ads.-example", {}, true},
        {u"ads_.example", {}, true},
        {u"ad_server.example.com", {"ad_server.example.com"}, false},
        {u"a-b.c-d.example", {"a-b.c-d.example"}, false},
        {u"1-2.example", {"1-2.example"}, false},
    });
    for (const char* Name : {"-468x60", "_300x250_", "x.-y", "x-.y", "_dmarc.example"})
        EXPECT_FALSE(TQXUtils::IsQueryableName(QString::fromLatin1(Name))) << Name;
    EXPECT_TRUE(TQXUtils::IsQueryableName(QStringLiteral("ad_server.example.com.")));
}

TEST(FilterRules, AHostsLineOfItsSinkAloneGivesNothing) {
    for (const TDomainLineNormalizer& N : {TDomainLineNormalizer(), TDomainLineNormalizer(&TQXUtils::IsWorkableLine)}) {
        TNormalizedLine R;
        for (const char* Line : {"0.0.0.0 # comment", "127.0.0.1\t# x", ":: # nothing", "::1 #"}) {
            N.Normalize(QString::fromLatin1(Line), R);
            EXPECT_TRUE(R.Items.isEmpty()) << Line << " gave " << R.Items.join('|').toStdString();
            EXPECT_TRUE(R.Skips.isEmpty()) << Line;
        }
        // An address with a comment in a list of addresses is still one.
        N.Normalize(QStringLiteral("192.0.2.1 # office"), R);
        EXPECT_EQ(R.Items, QStringList({"192.0.2.1"}));
        N.Normalize(QStringLiteral("0.0.0.0 ads.example # ad"), R);
        EXPECT_EQ(R.Items, QStringList({"ads.example"}));
    }
}

TEST(FilterRules, EveryCommittedFuzzInputGivesOnlyWorkableItems) {
    const auto Inputs = ReadFuzzCorpus(QStringLiteral("domain_lines"));
    ASSERT_GE(Inputs.size(), 20);
    for (const auto& [Name, Data] : Inputs) {
        try {
            CheckDomainLineInput(reinterpret_cast<const uint8_t*>(Data.constData()), size_t(Data.size()));
        } catch (const std::exception& E) {
            ADD_FAILURE() << Name.toStdString() << ": " << E.what();
        }
    }
    // The check itself must refuse what is no name and no address in the
    // form the job writes.
    for (const char* Text : {"-468x60", "_300x250_", "a..b", "a-.b", "x.-y", "ad server"})
        EXPECT_FALSE(RefIsHostName(QString::fromLatin1(Text))) << Text;
    EXPECT_TRUE(RefIsHostName(QStringLiteral("ad_server.example.com")));
    EXPECT_FALSE(IsCanonicalIPv4(QStringLiteral("010.0.0.1")));
    EXPECT_TRUE(IsCanonicalIPv4(QStringLiteral("130.211.0.0/16")));
}
