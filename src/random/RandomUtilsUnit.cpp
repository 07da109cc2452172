#include "random/RandomUtilsUnit.h"

#include <QDate>
#include <QFile>
#include <QLocale>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>

namespace {

// Two tables together must still fit an int draw (V + C), so each stays well
// below half of the int range.
constexpr qint64 MaxTableSum = qint64(1) << 30;

struct TSharedGenerator {
    std::mutex FLock;
    std::mt19937_64 FEngine;
};

std::uint64_t ClockSeed()
{
    std::uint64_t Seed = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    Seed ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) << 17;
    Seed ^= std::hash<std::thread::id>()(std::this_thread::get_id());
    try {
        std::random_device Device;
        Seed ^= (static_cast<std::uint64_t>(Device()) << 32) | Device();
    } catch (...) {
        // No entropy device: the clock alone still differs from run to run.
    }
    return Seed;
}

TSharedGenerator& Generator()
{
    static TSharedGenerator* G = [] {
        auto* P = new TSharedGenerator;  // never destroyed: threads may draw during exit
        P->FEngine.seed(ClockSeed());
        return P;
    }();
    return *G;
}

TClusterTable GVowels;
TClusterTable GConsonants;

// Position i of a password maps to index e: 0-25 a-z, 26-51 A-Z, 52-61 0-9.
QChar PasswordChar(int E)
{
    if (E < 26)
        return QChar('a' + E);
    if (E < 52)
        return QChar('A' + E - 26);
    return QChar('0' + E - 52);
}

bool IsLastOfClass(int E) { return E == 25 || E == 51 || E == 61; }

void ThrowRow(const QString& AName, int Line, const QString& Row, const QString& Why)
{
    throw EClusterTableError(QStringLiteral("Cluster table \"%1\", line %2 (\"%3\"): %4")
                                 .arg(AName).arg(Line).arg(Row.left(40), Why));
}

void LoadTableResource(TClusterTable& Table, const QString& AName)
{
    QFile F(QStringLiteral(":/") + AName);
    if (!F.open(QIODevice::ReadOnly))
        throw EClusterTableError(QStringLiteral("Cluster table \"%1\" cannot be read: %2").arg(AName, F.errorString()));
    Table.LoadFromData(F.readAll(), AName);
}

}  // namespace

// ---------------------------------------------------------------------------

void TClusterTable::LoadFromData(const QByteArray& Data, const QString& AName)
{
    QList<QByteArray> Lines = Data.split('\n');
    if (!Lines.isEmpty() && Lines.last().isEmpty())
        Lines.removeLast();  // the terminator of the last row, not a row
    if (Lines.isEmpty())
        throw EClusterTableError(QStringLiteral("Cluster table \"%1\" holds no rows").arg(AName));

    struct TRow {
        QString Cluster;
        int Weight;
    };
    QList<TRow> Rows;
    Rows.reserve(Lines.size());
    qint64 Total = 0;
    for (int I = 0; I < Lines.size(); ++I) {
        QByteArray Raw = Lines[I];
        if (Raw.endsWith('\r'))
            Raw.chop(1);
        const QString Row = QString::fromUtf8(Raw);
        const int Colon = Row.indexOf(QLatin1Char(':'));
        if (Colon < 0)
            ThrowRow(AName, I + 1, Row, QStringLiteral("no \":\""));
        if (Colon == 0)
            ThrowRow(AName, I + 1, Row, QStringLiteral("empty cluster"));
        const QString Digits = Row.mid(Colon + 1);
        const bool AllDigits = !Digits.isEmpty() && Digits.size() <= 9 &&
                               std::all_of(Digits.begin(), Digits.end(), [](QChar C) { return C >= '0' && C <= '9'; });
        const int Weight = AllDigits ? Digits.toInt() : 0;
        if (Weight < 1)
            ThrowRow(AName, I + 1, Row, QStringLiteral("the weight is not a whole number of at least 1"));
        Total += Weight;
        if (Total > MaxTableSum)
            ThrowRow(AName, I + 1, Row, QStringLiteral("the weights add up to more than %1").arg(MaxTableSum));
        Rows.append({Row.left(Colon), Weight});
    }

    // The draw walks the rows in cluster order, so the order is part of the
    // table's meaning whatever order the data came in.
    std::stable_sort(Rows.begin(), Rows.end(), [](const TRow& A, const TRow& B) { return A.Cluster < B.Cluster; });
    for (int I = 1; I < Rows.size(); ++I)
        if (Rows[I].Cluster == Rows[I - 1].Cluster)
            throw EClusterTableError(
                QStringLiteral("Cluster table \"%1\" holds \"%2\" twice").arg(AName, Rows[I].Cluster));

    QList<QString> Clusters;
    QList<int> Ends;
    Clusters.reserve(Rows.size());
    Ends.reserve(Rows.size());
    int Sum = 0;
    for (const TRow& R : Rows) {
        Sum += R.Weight;
        Clusters.append(R.Cluster);
        Ends.append(Sum);
    }
    FClusters = std::move(Clusters);
    FEnds = std::move(Ends);
    FSum = Sum;
}

void TClusterTable::Clear()
{
    FClusters.clear();
    FEnds.clear();
    FSum = 0;
}

QString TClusterTable::Cluster(int Index) const
{
    if (Index < 0 || Index >= FClusters.size())
        throw EListError(QStringLiteral("List index out of bounds (%1)").arg(Index));
    return FClusters[Index];
}

int TClusterTable::Weight(int Index) const
{
    if (Index < 0 || Index >= FEnds.size())
        throw EListError(QStringLiteral("List index out of bounds (%1)").arg(Index));
    return FEnds[Index] - (Index > 0 ? FEnds[Index - 1] : 0);
}

QString TClusterTable::Pick(int R) const
{
    // Same outcome as walking the rows and subtracting each weight from R,
    // found by binary search over the running totals.
    const auto It = std::upper_bound(FEnds.begin(), FEnds.end(), R);
    if (It == FEnds.end())
        return QString();
    return FClusters[It - FEnds.begin()];
}

// ---------------------------------------------------------------------------

int TRandomUtils::Random(int N)
{
    if (N <= 0)
        return 0;
    // Rejection keeps the result exactly uniform for any N.
    const std::uint64_t Bound = static_cast<std::uint64_t>(N);
    const std::uint64_t Threshold = (0 - Bound) % Bound;
    TSharedGenerator& G = Generator();
    std::uint64_t X;
    {
        std::lock_guard<std::mutex> Guard(G.FLock);
        do
            X = G.FEngine();
        while (X < Threshold);
    }
    return static_cast<int>(X % Bound);
}

void TRandomUtils::Randomize()
{
    Randomize(ClockSeed());
}

void TRandomUtils::Randomize(std::uint64_t ASeed)
{
    TSharedGenerator& G = Generator();
    std::lock_guard<std::mutex> Guard(G.FLock);
    G.FEngine.seed(ASeed);
}

QString TRandomUtils::RandomStr(int len, const QString& chars)
{
    if (len <= 0)
        return QString();
    if (chars.isEmpty())
        return QString(len, QChar(0));
    QString Result(len, QChar(0));
    for (int I = 0; I < len; ++I)
        Result[I] = chars[Random(chars.size())];
    return Result;
}

QString TRandomUtils::RandomName(int len, QChar c0)
{
    enum TState { stFree, stVowel, stConsonant };
    static const QString ConsonantLetters = QStringLiteral("qwrtpsdfghjklzxcvbnm");
    static const QString VowelLetters = QStringLiteral("eyuioa");

    // The comparison is case-sensitive on purpose: an upper-case c0 leaves
    // the name free to start with either kind of cluster.
    TState State = stFree;
    if (c0 != QChar(0) && ConsonantLetters.contains(c0, Qt::CaseSensitive))
        State = stConsonant;
    else if (c0 != QChar(0) && VowelLetters.contains(c0, Qt::CaseSensitive))
        State = stVowel;

    const int V = GVowels.Sum();
    const int C = GConsonants.Sum();
    QString Result;
    while (Result.size() < len) {
        int R;
        switch (State) {
        case stFree: R = Random(V + C); break;
        case stVowel: R = V + Random(C); break;
        default: R = Random(V); break;
        }
        QString Pick;
        if (R < V) {
            Pick = GVowels.Pick(R);
            State = stVowel;
        } else {
            Pick = GConsonants.Pick(R - V);
            State = stConsonant;
        }
        if (Pick.isEmpty())
            break;
        if (Result.isEmpty() && Pick[0] >= 'a' && Pick[0] <= 'z')
            Pick[0] = Pick[0].toUpper();
        Result += Pick;
    }
    if (len > 0 && Result.size() > len)
        Result.truncate(len);
    return Result;
}

QString TRandomUtils::RandomNumber(int len)
{
    if (len <= 0)
        return QString();
    QString Result(len, QChar(0));
    for (int I = 0; I < len; ++I)
        Result[I] = QChar('0' + Random(10));
    return Result;
}

QString TRandomUtils::RandomHex(int len)
{
    static const char HexDigits[] = "0123456789abcdef";
    if (len <= 0)
        return QString();
    QString Result(len, QChar(0));
    for (int I = 0; I < len; ++I)
        Result[I] = QLatin1Char(HexDigits[Random(16)]);
    return Result;
}

QString TRandomUtils::RandomPassword(int len, bool bLowerCaseRequired, bool bUpperCaseRequired, bool bDigitRequired)
{
    if (len <= 0)
        return QString();

    // Positions (from 1) reserved for each required class; 0 means none.
    int L = bLowerCaseRequired ? Random(len) + 1 : 0;
    int U = 0;
    if (bUpperCaseRequired && len > 1) {
        U = Random(len) + 1;
        if (U == L)
            U = U > 1 ? U - 1 : 2;
    }
    int D = 0;
    if (bDigitRequired && len > 2) {
        D = Random(len) + 1;
        if (D == L || D == U)
            D = len;
        if (D == L || D == U)
            D = len - 1;
        if (D == L || D == U)
            D = len - 2;
    }

    QString Result(len, QChar(0));
    for (int I = 1; I <= len; ++I) {
        int Base = 0;
        int Range = 62;
        if (I == L) {
            Base = 0;
            Range = 26;
        } else if (I == U) {
            Base = 26;
            Range = 26;
        } else if (I == D) {
            Base = 52;
            Range = 10;
        }
        int E = Base + Random(Range);
        QChar Ch = PasswordChar(E);
        if (I > 2 && Ch == Result[I - 2] && Ch == Result[I - 3]) {
            // A third equal character in a row: step to a neighbour in the same class.
            E = IsLastOfClass(E) ? E - 1 : E + 1;
            Ch = PasswordChar(E);
        }
        Result[I - 1] = Ch;
        // A class that has occurred frees its reserved position further on.
        if (E < 26)
            L = I;
        else if (E < 52)
            U = I;
        else
            D = I;
    }
    return Result;
}

QString TRandomUtils::RandomBirthDay(const QString& Format)
{
    const int Year = 1960 + Random(30);
    const int Month = 1 + Random(12);
    const int Day = 1 + Random(28);
    return QLocale().toString(QDate(Year, Month, Day), Format);
}

QString TRandomUtils::RandomFileName(const QString& OrigFileName)
{
    const QString Name = OrigFileName.mid(OrigFileName.lastIndexOf(QLatin1Char('/')) + 1);
    const int Dot = Name.indexOf(QLatin1Char('.'));
    if (Dot < 0)
        return Name;
    const int NameLen = 6 + Random(6);
    return RandomName(NameLen, QChar(0)) + Name.mid(Dot);
}

const TClusterTable& TRandomUtils::Vowels()
{
    return GVowels;
}

const TClusterTable& TRandomUtils::Consonants()
{
    return GConsonants;
}

// ---------------------------------------------------------------------------

void LoadRandomTables()
{
    // The tables live in a static library: registering its resources here
    // keeps the linker from dropping them.
    static const bool Registered = [] {
        Q_INIT_RESOURCE(random_tables);
        return true;
    }();
    Q_UNUSED(Registered);
    LoadTableResource(GVowels, QStringLiteral("VOWELS"));
    LoadTableResource(GConsonants, QStringLiteral("NONVOWELS"));
}

void FreeRandomTables()
{
    GVowels.Clear();
    GConsonants.Clear();
}
