#pragma once

#include "resolve/QXUtilsUnit.h"
#include "resolve/uRulePresets.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// How a run's document is made: a preset's whole file, or the template's
// lines in address order.
struct TRuleWriterSettings {
    TRulePresetKind Preset = rpNone;
    QString SetName = QStringLiteral("veltrask");
    TQXAddressFamily Family = afIPv4;
    // The IPv6 lines go to a document of their own (iptables, ipset and plain
    // templates; nft always keeps both families in one file).
    bool Split6 = false;
    // The fewest covering blocks instead of the addresses (always for nft and
    // ipset, whose loaders refuse overlapping or repeated elements).
    bool Aggregate = false;
    // Without a preset: the templates (HasFormat), else the address itself.
    bool HasFormat = false;
    QString Format, Format6;
    // The user's own lines, inside the preset's: after its header, before its footer.
    QStringList Header, Footer;
};

// The one writer of rule documents, for the window and the command line
// alike: the same entries and settings give the same lines. Entries come
// from a run, a state of earlier runs, or both; their order does not matter,
// for the document is sorted (IPv4 numerically, then IPv6) and every entry
// is in it once, so that the same answers give the same bytes.
class TRuleWriter {
public:
    explicit TRuleWriter(const TRuleWriterSettings& ASettings);

    // One address or block (text as the run writes it) and the name it was
    // found for (empty, or the address itself, for an address line).
    void Add(const QString& AAddress, const QString& ADomain);
    void Clear();
    bool IsEmpty() const { return FEntries.empty(); }
    const TRuleWriterSettings& Settings() const { return FSettings; }

    struct TDocument {
        QStringList Lines;   // the (main) document
        QStringList Lines6;  // the IPv6 document when Split6
        qint64 Entries = 0;  // addresses or blocks written, in both
        qint64 Dropped = 0;  // lines AKeep refused
    };
    // AKeep, when given, decides on every line of a template or hosts
    // document made from an entry (known lines are not written again).
    TDocument Render(const std::function<bool(const QString& ALine)>& AKeep = {}) const;

    // Preset documents are UTF-8 without a mark, LF, whatever else was asked.
    bool ForcesPlainText() const { return FSettings.Preset != rpNone; }
    // The whole text of a document: every line with ALineBreak after it.
    static QByteArray Encode(const QStringList& ALines, const QByteArray& ALineBreak = "\n", bool ABOM = false);

private:
    struct TEntry {
        bool IPv6 = false;
        quint32 Address4 = 0;
        TIPv6Address Address6;
        int Prefix = -1;  // -1: a single address given without one
        QString Text;     // what the run gave, for a text no parser reads
        QString Domain;
    };
    QString Line(const QString& AAddress, const QString& ADomain, bool AIPv6) const;

    TRuleWriterSettings FSettings;
    std::vector<TEntry> FEntries;
};
