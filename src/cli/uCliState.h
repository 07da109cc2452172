#pragma once

#include <QHash>
#include <QList>
#include <QString>

// The addresses seen by earlier runs, each with its domain and the time it was
// last seen, kept in a file between runs. Content-delivery networks hand out
// different addresses over time; a rule set built from one run's answers would
// miss the ones handed out an hour ago. An entry goes only by age, never
// because a lookup of its domain failed.
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

    // Reads AFileName. A missing file is an empty state (lrMissing). A file
    // that is not a state file, or is damaged, is renamed to AFileName plus
    // ".damaged" (lrSetAside, ANote names both), and the state starts empty:
    // it is never overwritten unread. A file that cannot be read is lrFailed
    // with ANote: the run must not go on and then replace it.
    TLoadResult Load(const QString& AFileName, QString& ANote);
    // Writes the entries seen within AKeepSec before ANow to a temporary file
    // beside AFileName and renames it over that: a reader sees the old state or
    // the new one, never a part. False with AError.
    bool Save(const QString& AFileName, qint64 ANow, qint64 AKeepSec, QString& AError) const;

    // An address seen now for ADomain.
    void Note(const QString& AAddress, const QString& ADomain, qint64 ANow);
    // The entries seen within AKeepSec before ANow, sorted by address, then domain.
    QList<TEntry> Current(qint64 ANow, qint64 AKeepSec) const;
    int Count() const { return int(FEntries.size()); }

    // The seconds of "30s", "10m", "1h", "7d" (a bare number is seconds); -1
    // when the text is none of these or is 0.
    static qint64 ParseDuration(const QString& AText);

private:
    static QString Key(const QString& AAddress, const QString& ADomain);
    QHash<QString, TEntry> FEntries;
};
