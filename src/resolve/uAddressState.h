#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

// The addresses seen by earlier runs, each with its domain and the time it was
// last seen, kept in a file between runs. Content-delivery networks hand out
// different addresses over time; a rule set built from one run's answers would
// miss the ones handed out an hour ago. An entry goes by age, or when the list
// no longer holds its domain; never because a lookup of its domain failed.
//
// The file is text: a first line "# veltrask state 1", then one entry a line,
// "ADDRESS<TAB>DOMAIN<TAB>SECONDS", the seconds since 1970 (UTC).
class TAddressState {
public:
    struct TEntry {
        QString Address;  // as the output carries it
        QString Domain;   // the domain it was found for; an address line's own text
        qint64 LastSeen = 0;
    };

    enum TLoadResult { lrLoaded, lrMissing, lrSetAside, lrFailed };

    // Reads AFileName, one line at a time: a line that is not an entry the
    // writer could have written (an address in its strict text, a name a
    // server can be asked, a time from 1970 to a day ahead of ANow) is left
    // out and told in ASkipped ("State line N skipped: why"); the others are
    // kept. A missing file is an empty state (lrMissing). A file that is no
    // state file at all (its first line is not the header) is renamed to
    // AFileName.damaged.N, N the first number not taken (lrSetAside, ANote
    // names both), and the state starts empty. A file that cannot be read, or
    // is no regular file (a FIFO, a device), is lrFailed with ANote: the run
    // must not go on and then replace it. Opening never waits for a writer.
    TLoadResult Load(const QString& AFileName, qint64 ANow, QString& ANote, QStringList& ASkipped);
    // Writes the entries seen within AKeepSec before ANow to a hidden
    // temporary file beside AFileName (".NAME.XXXXXX") and renames it over
    // that: a reader sees the old state or the new one, never a part. False
    // with AError.
    bool Save(const QString& AFileName, qint64 ANow, qint64 AKeepSec, QString& AError) const;

    // An address seen now for ADomain.
    void Note(const QString& AAddress, const QString& ADomain, qint64 ANow);
    // ADomain is on this run's list, whether its lookups found anything or not.
    void NoteListed(const QString& ADomain);
    // After a run that read its whole list: the entries of domains the list no
    // longer holds go. An address line's entry is its own domain, noted when
    // the line was worked.
    void KeepListedOnly();
    // The entries seen within AKeepSec before ANow, sorted by address, then domain.
    QList<TEntry> Current(qint64 ANow, qint64 AKeepSec) const;
    int Count() const { return int(FEntries.size()); }

    // Why ALine (without its line break) is no entry, or empty when it is one.
    static QString CheckLine(const QByteArray& ALine, qint64 ANow, TEntry& AEntry);
    // The seconds of "30s", "10m", "1h", "7d"; -1 for anything else, a bare
    // number included (is "7" seconds or days?), and for 0.
    static qint64 ParseDuration(const QString& AText);

private:
    static QString Key(const QString& AAddress, const QString& ADomain);
    QHash<QString, TEntry> FEntries;
    QSet<QString> FListed;  // case-folded
};
