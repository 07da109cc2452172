// Feeds arbitrary text through the line normalizer, the way the job uses it
// (its own address test) and with the strict default. Whatever the line,
// every item it gives must be one the job can work as it stands: a name that
// passes the name rules (labels of letters and digits, "-" and "_" only
// inside), a strict dotted quad with an optional prefix in its canonical
// text, an IPv4 block whose host bits are zero, or an IPv6 address line. A
// skip must carry text of the line, and a comment gives nothing at all. An
// exception or a cancel gives no item, an exception's name is a name, and an
// exception of the line's own name takes back every item of a block rule.
// The first input byte picks how the rest becomes text: as UTF-8, or mapped
// onto the characters filter lists and hosts files are made of.
#include "resolve/QXUtilsUnit.h"
#include "resolve/uAddressText.h"
#include "resolve/uDomainLines.h"
#include "FuzzFail.h"
#include "FuzzInput.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

[[noreturn]] void FailItem(const char* AWhat, const QString& ALine, const QString& AItem) {
    char Msg[1024];
    std::snprintf(Msg, sizeof Msg, "%s: line \"%s\" gave \"%s\"", AWhat, ALine.toUtf8().constData(),
                  AItem.toUtf8().constData());
    FuzzFail(Msg);
}

// A canonical IPv4 line: the dotted quad the strict parser reads, written
// back unchanged, and for a block no bits past its prefix.
bool IsCanonicalIPv4(const QString& AItem) {
    quint32 Value = 0;
    int Prefix = -1;
    if (!ParseIPv4LineStrict(AItem, Value, Prefix))
        return false;
    QString Text = FormatIPv4(Value);
    if (Prefix >= 0)
        Text += QLatin1Char('/') + QString::number(Prefix);
    return Text == AItem;
}

void CheckLine(const TDomainLineNormalizer& ANormalizer, const QString& ALine, bool AJobTest) {
    TNormalizedLine R;
    ANormalizer.Normalize(ALine, R);
    if (R.Comment && (!R.Items.isEmpty() || !R.Skips.isEmpty()))
        FailItem("a comment gave something", ALine, R.Items.join(u'|'));
    for (const QString& Item : R.Items) {
        if (Item.isEmpty())
            FailItem("empty item", ALine, Item);
        TIPv6Address V6;
        int Prefix6 = -1;
        if (ParseIPv6Line(Item, V6, Prefix6))
            continue;
        if (RefIsHostName(Item)) {
            if (!TQXUtils::IsQueryableName(Item))
                FailItem("a name the job would not ask", ALine, Item);
            continue;
        }
        if (IsCanonicalIPv4(Item))
            continue;
        // The job's own test lets its lenient forms ("10.1", "name.") pass
        // as they stand: the whole line, or the line before its comment.
        if (AJobTest && ALine.startsWith(Item) && TQXUtils::IsWorkableLine(Item))
            continue;
        FailItem("neither a name nor an address", ALine, Item);
    }
    for (const TLineSkip& Skip : R.Skips)
        if (Skip.Text.isEmpty())
            FailItem("a skip without text", ALine, Skip.Text);
    if ((!R.ExceptName.isEmpty() || !R.Cancels.isEmpty()) && !R.Items.isEmpty())
        FailItem("an exception or a cancel gave an item", ALine, R.Items.join(u'|'));
    if (!R.ExceptName.isEmpty() && !RefIsHostName(R.ExceptName))
        FailItem("an exception of no name", ALine, R.ExceptName);
    if (R.RuleKey.isEmpty() || !RefIsHostName(R.Items.value(0)))
        return;
    // "@@" before the rule excepts what it gave; only names move to skips.
    TNormalizedLine Exception;
    ANormalizer.Normalize(QStringLiteral("@@||") + R.Items.value(0) + QLatin1Char('^'), Exception);
    TFilterExceptions Exceptions;
    if (!Exceptions.Note(Exception))
        FailItem("no exception of a name", ALine, R.Items.value(0));
    const qsizetype Items = R.Items.size(), Skips = R.Skips.size();
    Exceptions.Apply(R);
    if (!R.Items.isEmpty() || R.Skips.size() != Skips + Items)
        FailItem("an exception left an item", ALine, R.Items.join(u'|'));
}

} // namespace

int CheckDomainLineInput(const uint8_t* Data, size_t Size) {
    if (Size == 0 || Size > 1024)
        return 0;
    QString Text = FuzzInputText(Data, Size, "abcxyz0129..-_|^$,=/#~* \t:@!3p");
    // The job trims every line before the normalizer sees it.
    qsizetype B = 0, E = Text.size();
    while (B < E && Text.at(B).unicode() <= 32)
        ++B;
    while (E > B && Text.at(E - 1).unicode() <= 32)
        --E;
    Text = Text.mid(B, E - B);
    static const TDomainLineNormalizer Strict;
    static const TDomainLineNormalizer Job(&TQXUtils::IsWorkableLine);
    CheckLine(Strict, Text, false);
    CheckLine(Job, Text, true);
    return 0;
}

#ifndef VT_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    return CheckDomainLineInput(Data, Size);
}
#endif
