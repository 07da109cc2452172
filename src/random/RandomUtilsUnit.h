#pragma once

#include "containers/uException.h"

#include <QByteArray>
#include <QChar>
#include <QList>
#include <QString>

#include <cstdint>

// A cluster table that cannot be read or holds a malformed row.
VT_DECLARE_EXCEPTION(EClusterTableError, Exception)

// One weighted table of letter clusters: rows sorted by cluster text, each
// drawn with probability weight / Sum().
class TClusterTable {
public:
    // Replaces the contents with the rows of Data ("cluster:weight", one a
    // line, CR LF or LF). AName only labels error messages. On any malformed
    // row the table is left unchanged and EClusterTableError is thrown.
    void LoadFromData(const QByteArray& Data, const QString& AName);
    void Clear();

    int Count() const { return FClusters.size(); }
    int Sum() const { return FSum; }
    QString Cluster(int Index) const;
    int Weight(int Index) const;

    // The cluster that a draw R (0 <= R < Sum()) lands on when the rows are
    // walked in order, each taking its weight's share; empty when R is past
    // the last row.
    QString Pick(int R) const;

private:
    QList<QString> FClusters;
    QList<int> FEnds;  // running totals: row i covers [FEnds[i-1], FEnds[i])
    int FSum = 0;
};

// Random text generators. All operations are class-level and share one
// process-wide generator that any thread may use at once; the job base
// derives from this class, which therefore holds no state of its own.
class TRandomUtils {
public:
    virtual ~TRandomUtils() = default;

    // Uniform integer from 0 to N - 1; 0 when N <= 0.
    static int Random(int N);
    // Reseeds the shared generator from the clock and the system's entropy
    // source (what a run does before it starts), or with a fixed seed so a
    // sequence can be replayed.
    static void Randomize();
    static void Randomize(std::uint64_t ASeed);

    static QString RandomStr(int len, const QString& chars);
    // A pronounceable name of len characters, first letter upper case.
    // c0 names the letter that comes before the name (QChar(0) for none).
    static QString RandomName(int len, QChar c0 = QChar(0));
    static QString RandomNumber(int len);
    static QString RandomHex(int len);
    static QString RandomPassword(int len, bool bLowerCaseRequired, bool bUpperCaseRequired, bool bDigitRequired);
    // A date from 1960-01-01 to 1989-12-28 (days 1..28 only), formatted with
    // a QDate pattern such as "yyyy-MM-dd" under the system locale.
    static QString RandomBirthDay(const QString& Format);
    // A random name with OrigFileName's extension (from its first "."); a
    // name without "." comes back unchanged. Any folder part is dropped.
    static QString RandomFileName(const QString& OrigFileName);

    // The process-wide tables the names are drawn from ("VOWELS" and "NONVOWELS").
    static const TClusterTable& Vowels();
    static const TClusterTable& Consonants();
};

// Start-up: loads both cluster tables from the program's resources. Call once
// from main() before any window or worker exists; throws EClusterTableError
// if a table is missing or malformed.
void LoadRandomTables();
// Shut-down: releases both tables. No generator may run afterwards (names
// then come out empty).
void FreeRandomTables();
