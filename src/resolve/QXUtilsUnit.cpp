#include "resolve/QXUtilsUnit.h"

#include "engine/uFormat.h"
#include "engine/uMainThread.h"
#include "engine/uProgress.h"
#include "resolve/dns/IdDNSResolver.h"
#include "resolve/uDomainLines.h"
#include "text/uLineReaderWriter.h"

#include <QFileInfo>
#include <QStringList>
#include <limits>
#include <memory>
#include <utility>

namespace {

bool IsHexDigit(QChar C) {
    const char16_t U = C.unicode();
    return (U >= '0' && U <= '9') || (U >= 'a' && U <= 'f') || (U >= 'A' && U <= 'F');
}

int HexValue(QChar C) {
    const char16_t U = C.unicode();
    if (U >= '0' && U <= '9')
        return U - '0';
    if (U >= 'a' && U <= 'f')
        return U - 'a' + 10;
    return U - 'A' + 10;
}

// Accumulates digits of one base into AValue; false on a foreign character, on
// no digits at all, or when the magnitude no longer fits 64 bits.
bool AccumulateDigits(const QString& S, qsizetype AFrom, int ABase, quint64& AValue) {
    if (AFrom >= S.size())
        return false;
    quint64 V = 0;
    for (qsizetype I = AFrom; I < S.size(); ++I) {
        const QChar C = S.at(I);
        int D;
        if (ABase == 16) {
            if (!IsHexDigit(C))
                return false;
            D = HexValue(C);
        } else {
            const char16_t U = C.unicode();
            if (U < '0' || U >= '0' + ABase)
                return false;
            D = U - '0';
        }
        if (V > (std::numeric_limits<quint64>::max() - quint64(D)) / quint64(ABase))
            return false;
        V = V * quint64(ABase) + quint64(D);
    }
    AValue = V;
    return true;
}

} // namespace

// One part of an address (or a prefix length): "0x" hexadecimal, a leading-zero
// octal number, or an integer in the common textual forms (leading blanks, a
// sign, decimal digits, or hexadecimal after "$", "x" or "0x"). Negative values
// come back in two's complement, so masking keeps their low bytes.
bool ConvertIPPart(const QString& APart, quint64& AValue) {
    if (APart.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        return AccumulateDigits(APart, 2, 16, AValue);
    if (APart.startsWith(QLatin1Char('0'))) {
        bool Octal = true;
        for (QChar C : APart)
            if (C < QLatin1Char('0') || C > QLatin1Char('7')) {
                Octal = false;
                break;
            }
        if (Octal)
            return AccumulateDigits(APart, 0, 8, AValue);
    }
    qsizetype I = 0;
    while (I < APart.size() && APart.at(I) == QLatin1Char(' '))
        ++I;
    bool Negative = false;
    if (I < APart.size() && (APart.at(I) == QLatin1Char('+') || APart.at(I) == QLatin1Char('-'))) {
        Negative = APart.at(I) == QLatin1Char('-');
        ++I;
    }
    quint64 V = 0;
    bool Ok;
    if (I < APart.size() && (APart.at(I) == QLatin1Char('$') || APart.at(I) == QLatin1Char('x') ||
                             APart.at(I) == QLatin1Char('X')))
        Ok = AccumulateDigits(APart, I + 1, 16, V);
    else if (I + 1 < APart.size() && APart.at(I) == QLatin1Char('0') &&
             (APart.at(I + 1) == QLatin1Char('x') || APart.at(I + 1) == QLatin1Char('X')))
        Ok = AccumulateDigits(APart, I + 2, 16, V);
    else
        Ok = AccumulateDigits(APart, I, 10, V);
    if (!Ok)
        return false;
    AValue = Negative ? quint64(0) - V : V;
    return true;
}

quint32 ParseIPv4(const QString& S, bool& Error) {
    Error = true;
    quint32 Value = 0;
    int Remaining = 4;
    QString Rest = S;
    for (;;) {
        const qsizetype Dot = Rest.indexOf(QLatin1Char('.'));
        const QString Part = Dot < 0 ? Rest : Rest.left(Dot);
        Rest = Dot < 0 ? QString() : Rest.mid(Dot + 1);
        // An empty part is the normal end, and also cuts the parse short at a
        // leading dot or at two dots in a row.
        if (Part.isEmpty()) {
            Error = false;
            return Value;
        }
        quint64 Mask;
        if (Rest.isEmpty() && Remaining > 1) {
            // The last part fills every byte still open: "10.1" is 10.0.0.1.
            const int Shift = 8 * Remaining;
            if (Shift < 32)
                Value <<= Shift;
            Mask = Remaining >= 4 ? 0xFFFFFFFFull : ((quint64(1) << Shift) - 1);
        } else {
            Value <<= 8;
            Mask = 0xFF;
        }
        quint64 PartValue;
        if (!ConvertIPPart(Part, PartValue))
            return Value;
        Value += quint32(PartValue & Mask);
        --Remaining;
    }
}

// ---------------------------------------------------------------------------

bool TQXUtils::ParseIPEntry(const QString& S, quint32& AValue) {
    AValue = 0;
    const qsizetype Slash = S.indexOf(QLatin1Char('/'));
    QString Address = S;
    if (Slash >= 0) {
        if (Slash == 0)
            return false;
        quint64 Prefix;
        if (!ConvertIPPart(S.mid(Slash + 1), Prefix) || Prefix > 32)
            return false;
        Address = S.left(Slash);
    }
    bool Error;
    const quint32 Value = ParseIPv4(Address, Error);
    if (Error)
        return false;
    AValue = Value;
    return true;
}

namespace {

// Digits only, or "0x" with hexadecimal digits: what an address part may be
// written as. Blanks, signs and the "$" and "x" forms the integer conversion
// also reads are left out, so that no text but a number stands for a part.
bool IsDigitPart(const QString& APart) {
    if (APart.isEmpty())
        return false;
    if (APart.size() > 2 && APart.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        for (qsizetype I = 2; I < APart.size(); ++I)
            if (!IsHexDigit(APart.at(I)))
                return false;
        return true;
    }
    for (QChar C : APart)
        if (C < QLatin1Char('0') || C > QLatin1Char('9'))
            return false;
    return true;
}

bool IsNameChar(QChar C) {
    const char16_t U = C.unicode();
    return (U >= 'a' && U <= 'z') || (U >= 'A' && U <= 'Z') || (U >= '0' && U <= '9') || U == '-' || U == '_';
}

} // namespace

bool TQXUtils::ParseAddressLine(const QString& S, quint32& AValue, QString& AText) {
    AValue = 0;
    AText.clear();
    const qsizetype Slash = S.indexOf(QLatin1Char('/'));
    const QString Address = Slash < 0 ? S : S.left(Slash);
    int Prefix = -1;
    if (Slash >= 0) {
        const QString PrefixText = S.mid(Slash + 1);
        quint64 P;
        if (!IsDigitPart(PrefixText) || !ConvertIPPart(PrefixText, P) || P > 32)
            return false;
        Prefix = int(P);
    }
    const QStringList Parts = Address.split(QLatin1Char('.'));
    if (Parts.size() > 4)
        return false;
    quint64 Value = 0;
    for (qsizetype I = 0; I < Parts.size(); ++I) {
        quint64 Part;
        if (!IsDigitPart(Parts.at(I)) || !ConvertIPPart(Parts.at(I), Part))
            return false;
        // The last part fills every byte still open; a wider value would be
        // masked by the parser and mean another address than the text says.
        const int Bytes = I + 1 == Parts.size() ? int(4 - I) : 1;
        if (Part >> (8 * Bytes) != 0)
            return false;
        Value = (Value << (8 * Bytes)) | Part;
    }
    // The parser the rest of the job knows must read the same value.
    bool Error;
    if (ParseIPv4(Address, Error) != quint32(Value) || Error)
        return false;
    AValue = quint32(Value);
    AText = FormatIPv4(AValue);
    if (Prefix >= 0)
        AText += QLatin1Char('/') + QString::number(Prefix);
    return true;
}

bool TQXUtils::IsQueryableName(const QString& S) {
    // One final "." is the root: "example.com." is asked as "example.com".
    const qsizetype Length = S.endsWith(QLatin1Char('.')) ? S.size() - 1 : S.size();
    if (Length <= 0 || Length > 253)
        return false;
    qsizetype LabelLength = 0;
    for (qsizetype I = 0; I < Length; ++I) {
        const QChar C = S.at(I);
        if (C == QLatin1Char('.')) {
            if (LabelLength == 0)
                return false;
            LabelLength = 0;
        } else if (!IsNameChar(C) || ++LabelLength > 63) {
            return false;
        }
    }
    return LabelLength > 0;
}

bool TQXUtils::IsWorkableLine(const QString& S) {
    quint32 Value;
    QString Text;
    TIPv6Address Address6;
    int Prefix6;
    return IsQueryableName(S) || ParseAddressLine(S, Value, Text) || ParseIPv6Line(S, Address6, Prefix6);
}

QString TQXUtils::FormatIPv4(quint32 AValue) {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(AValue >> 24)
        .arg((AValue >> 16) & 0xFF)
        .arg((AValue >> 8) & 0xFF)
        .arg(AValue & 0xFF);
}

QString TQXUtils::ReverseIPv4(quint32 AValue) {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(AValue & 0xFF)
        .arg((AValue >> 8) & 0xFF)
        .arg((AValue >> 16) & 0xFF)
        .arg((AValue >> 24) & 0xFF);
}

int TQXUtils::NextIndex(int& ACounter, int ACount) {
    if (ACount <= 0)
        return -1;
    ACounter %= ACount;
    if (ACounter < 0)
        ACounter += ACount;
    const int Index = ACounter;
    ++ACounter;
    return Index;
}

QString TQXUtils::FormatOutLine(const QString& AIPText, const QString& ADomain, bool AIPv6) const {
    if (!FCustomOutFormat)
        return AIPText;
    QString Line = AIPv6 && !FCustomOutFormat6.isEmpty() ? FCustomOutFormat6 : FOutFormat;
    Line.replace(QLatin1String("%ip%"), AIPText, Qt::CaseInsensitive);
    Line.replace(QLatin1String("%domain%"), ADomain, Qt::CaseInsensitive);
    return Line;
}

// ---------------------------------------------------------------------------

namespace {

const QString kResolveDomains = QStringLiteral("Resolve Domains");
const QString kThreadName = QStringLiteral("Veltrask thread");

// Lines are trimmed of blanks and control characters on both ends.
QString TrimLine(const QString& S) {
    qsizetype B = 0, E = S.size();
    while (B < E && S.at(B).unicode() <= 32)
        ++B;
    while (E > B && S.at(E - 1).unicode() <= 32)
        --E;
    return S.mid(B, E - B);
}

// Both names reach one existing file, through links and relative paths alike.
bool SameFile(const QString& A, const QString& B) {
    const QFileInfo FA(A), FB(B);
    return FA.exists() && FB.exists() && FA.canonicalFilePath() == FB.canonicalFilePath();
}

} // namespace

TQXUtils::TQXUtils(TProgress* AProgress, TLog* ALog) : THTTPUtils(AProgress, ALog) {
    FDomainList = new TStringList;
    FResultList = new TStringList;
    FAddedList = new TStringList;
    FDNSList = new TStringList;
    FDBLServices = new TStringList;
    FRBLServices = new TStringList;
    FResultList6 = new TStringList;
    FAddedList6 = new TStringList;
}

TQXUtils::~TQXUtils() {
    // Workers still running read the lists freed below; the base class would
    // wait for them only after that.
    EndThreadsForDestroy();
    // The inherited destructor cannot reach this class's CloseRun any more.
    try {
        CloseRun();
    } catch (...) {
    }
    delete FAddedList6;
    delete FResultList6;
    delete FRBLServices;
    delete FDBLServices;
    delete FDNSList;
    delete FAddedList;
    delete FResultList;
    delete FDomainList;
}

void TQXUtils::AssignNonEmpty(TStringList* ATarget, const TStringList* ASource) {
    if (ASource == ATarget)
        return;
    ATarget->Clear();
    if (!ASource)
        return;
    for (int I = 0; I < ASource->Count(); ++I) {
        const QString S = ASource->Get(I);
        if (!S.isEmpty())
            ATarget->Add(S);
    }
}

void TQXUtils::AssignDomainList(const TStringList* ADomainList) { AssignNonEmpty(FDomainList, ADomainList); }
void TQXUtils::AssignDNSList(const TStringList* ADNSList) { AssignNonEmpty(FDNSList, ADNSList); }
void TQXUtils::AssignDBLServices(const TStringList* ADBLServices) { AssignNonEmpty(FDBLServices, ADBLServices); }
void TQXUtils::AssignRBLServices(const TStringList* ARBLServices) { AssignNonEmpty(FRBLServices, ARBLServices); }

void TQXUtils::OpenRun() {
    // The run's progress goes over the input: its lines, or a file's bytes,
    // so that the bar moves evenly whatever the length of the lines.
    switch (FSourceMode) {
    case srcList:
        FSourceLineReader = new TLineReader(FDomainList);
        FProgress->SetMax(FDomainList->Count());
        break;
    case srcFile:
        FSourceLineReader = new TLineReader(FDomainListFile, 1024);
        FTakenPosition = 0;
        FProgress->SetMax(FSourceLineReader->StreamSize());
        break;
    }
    FProgress->SetStatus(QStringLiteral("Resolving..."));
    FResultIndex.clear();
    const bool Split6 = FSeparateList6 && IPv6On();
    switch (FResultMode) {
    case outList:
        FResultLineWriter = new TLineWriter(FResultList, false, nullptr);
        if (Split6)
            FResultLineWriter6 = new TLineWriter(FResultList6, false, nullptr);
        break;
    case outFile: {
        const auto NewFileWriter = [this](const QString& AFileName) {
            std::unique_ptr<TLineWriter> W(new TLineWriter(AFileName, false, QString(), nullptr));
            W->SetWriteBOM(FOutFileBOM);
            // Without a chosen break the writer keeps its CR LF; an empty break
            // would run every output line into the next.
            if (!FOutFileLineBreak.isEmpty())
                W->SetLineBreak(FOutFileLineBreak);
            return W.release();
        };
        FResultLineWriter = NewFileWriter(FResolvedListFile);
        // Two writers replacing one file would each overwrite the other's
        // lines; a second name of the same file means that one file. The
        // first writer has created its file by now, so the test sees it.
        if (IPv6On() && !FResolvedListFile6.isEmpty() && !SameFile(FResolvedListFile, FResolvedListFile6))
            FResultLineWriter6 = NewFileWriter(FResolvedListFile6);
        break;
    }
    case outListNew:
        FResultLineWriter = new TLineWriter(FResultList, true, nullptr);
        FAddedLineWriter = new TLineWriter(FAddedList, false, nullptr);
        if (Split6) {
            FResultLineWriter6 = new TLineWriter(FResultList6, false, nullptr);
            FAddedLineWriter6 = new TLineWriter(FAddedList6, false, nullptr);
        }
        FResultIndex.reserve(FResultList->Count());
        for (int I = 0; I < FResultList->Count(); ++I)
            FResultIndex.insert(FResultList->Get(I).toCaseFolded());
        break;
    }
}

void TQXUtils::CloseRun() {
    // Every object is freed and cleared even when closing one of them fails
    // (a full disk while flushing the output file); the first failure is then
    // passed on so that it reaches the user.
    std::exception_ptr Error;
    auto CloseWriter = [&Error](TLineWriter*& AWriter) {
        TLineWriter* W = AWriter;
        AWriter = nullptr;
        if (!W)
            return;
        try {
            W->Close();
        } catch (...) {
            if (!Error)
                Error = std::current_exception();
        }
        delete W;
    };
    if (TLineReader* R = FSourceLineReader) {
        FSourceLineReader = nullptr;
        delete R;
    }
    CloseWriter(FResultLineWriter);
    CloseWriter(FAddedLineWriter);
    CloseWriter(FResultLineWriter6);
    CloseWriter(FAddedLineWriter6);
    FResultIndex.clear();
    FResultIndex.squeeze();
    if (Error)
        std::rethrow_exception(Error);
}

void TQXUtils::BeforeStart() {
    // No worker of this job exists now: the counts start over for the run.
    for (std::atomic<qint64>* C : {&FCounters.Lines, &FCounters.Domains, &FCounters.NotFound,
                                   &FCounters.LookupsFailed, &FCounters.BLChecksFailed, &FCounters.Written,
                                   &FCounters.Duplicates, &FCounters.Skipped})
        *C = 0;
    {
        std::lock_guard<std::mutex> Lock(FNoticeCS);
        FNoticed.clear();
    }
    THTTPUtils::BeforeStart();
}

void TQXUtils::AfterStop() {
    // The summary is logged also when closing the output fails; the failure
    // is passed on after it.
    std::exception_ptr Error;
    try {
        THTTPUtils::AfterStop();
    } catch (...) {
        Error = std::current_exception();
    }
    Log(SummaryText(RunCounters()));
    if (Error)
        std::rethrow_exception(Error);
}

TQXRunCounters TQXUtils::RunCounters() const {
    TQXRunCounters R;
    R.Lines = FCounters.Lines;
    R.Domains = FCounters.Domains;
    R.NotFound = FCounters.NotFound;
    R.LookupsFailed = FCounters.LookupsFailed;
    R.BLChecksFailed = FCounters.BLChecksFailed;
    R.Written = FCounters.Written;
    R.Duplicates = FCounters.Duplicates;
    R.Skipped = FCounters.Skipped;
    return R;
}

bool TQXUtils::RunHadFailures() const {
    return FCounters.LookupsFailed > 0 || FCounters.BLChecksFailed > 0;
}

QString TQXUtils::SummaryText(const TQXRunCounters& C) {
    return QStringLiteral("Done: %1 lines, %2 domains, %3 not found, %4 lookups failed, %5 blocklist checks failed, "
                          "%6 lines written, %7 duplicates, %8 skipped.")
        .arg(C.Lines)
        .arg(C.Domains)
        .arg(C.NotFound)
        .arg(C.LookupsFailed)
        .arg(C.BLChecksFailed)
        .arg(C.Written)
        .arg(C.Duplicates)
        .arg(C.Skipped);
}

void TQXUtils::WriteResult(const QString& ALine, bool AIPv6) {
    bool Duplicate = false;
    {
        std::lock_guard<std::mutex> Lock(FWriteCS);
        TLineWriter* Result = AIPv6 && FResultLineWriter6 ? FResultLineWriter6 : FResultLineWriter;
        if (FResultMode == outListNew) {
            // One index for both families: a line is new only when neither wrote it.
            const QString Key = ALine.toCaseFolded();
            Duplicate = FResultIndex.contains(Key);
            if (!Duplicate) {
                (AIPv6 && FAddedLineWriter6 ? FAddedLineWriter6 : FAddedLineWriter)->WriteLine(ALine);
                Result->WriteLine(ALine);
                FResultIndex.insert(Key);
            }
        } else {
            Result->WriteLine(ALine);
        }
    }
    ++(Duplicate ? FCounters.Duplicates : FCounters.Written);
    // Logged after the lock is released: a full log buffer makes the logging
    // thread wait for the main thread, which must never wait on this lock.
    if (Duplicate && FDetailedLog)
        Log(QStringLiteral("Duplicate: %1").arg(ALine));
}

void TQXUtils::EmitAddress(const QString& AIPText, const QString& ADomain, bool AIPv6) {
    if (FAddressHook) {
        std::lock_guard<std::mutex> Lock(FWriteCS);
        if (FAddressHook(AIPText, ADomain))
            return;
    }
    WriteResult(FormatOutLine(AIPText, ADomain, AIPv6), AIPv6);
}

TIdDNSResolver* TQXUtils::NewClient(TQueryRecordTypes AType) const {
    auto* Client = new TIdDNSResolver;
    Client->SetIPVersion(Id_IPv4);
    Client->SetQueryType({AType});
    Client->SetWaitingTime(FDNSTimeoutMSec);
    Client->SetAbortCheck([this] { return Terminated(); });
    return Client;
}

namespace {

// A reply of the server asked (its header was read) that says nothing went
// wrong and holds no record at all: the name exists, but not with the type
// asked. A truncated one may have lost its records on the way.
bool IsNoDataReply(const TDNSHeader& AHeader) {
    return (AHeader.BitCode & 0x8000) != 0 && !AHeader.TC() && AHeader.RCode() == 0 && AHeader.ANCount == 0 &&
           AHeader.NSCount == 0 && AHeader.ARCount == 0;
}

} // namespace

TQXUtils::TLookupOutcome TQXUtils::Lookup(TIdDNSResolver* AClient, const QString& AServer, const QString& AName,
                                          bool ANoDataAnswers, bool& ARetry) {
    ARetry = false;
    try {
        // The client takes "host:port" as well, which local resolvers need.
        AClient->SetHost(AServer.trimmed());
        AClient->QueryResult().Clear();
        AClient->Resolve(AName, nullptr, 1);
    } catch (const EIdSocketError&) {
        if (FDetailedLog)
            LogException(std::current_exception());
        ARetry = true;
        return loFailed;
    } catch (const EIdDnsResolverError&) {
        // Many names have no AAAA record, and a server answering from its own
        // data says so without an SOA record.
        if (ANoDataAnswers && IsNoDataReply(AClient->DNSHeader()))
            return loAnswered;
        if (FDetailedLog)
            LogException(std::current_exception());
        // The header holds the reply's RCODE only when the reply got as far
        // as its RCODE check; for every earlier failure it reads 0.
        switch (AClient->DNSHeader().RCode()) {
        case 3:
            return loNotFound;
        case 2:
        case 5:
            ARetry = true;
            return loFailed;
        default:
            return loFailed;
        }
    } catch (...) {
        if (FDetailedLog)
            LogException(std::current_exception());
        return loFailed;
    }
    // Nothing came back in time (the client returns quietly then), or a
    // datagram too short to be a reply.
    if (AClient->PlainTextResult().size() <= 4) {
        ARetry = AClient->PlainTextResult().isEmpty();
        return loFailed;
    }
    return loAnswered;
}

TQXUtils::TLookupOutcome TQXUtils::LookupWithRetries(TIdDNSResolver* AClient, int& AServerCounter,
                                                     const QString& AName,
                                                     const std::function<void(const QString& AServer)>& ABeforeAttempt,
                                                     bool ANoDataAnswers) {
    for (int Attempt = 0;; ++Attempt) {
        const QString Server = FDNSList->Get(NextIndex(AServerCounter, FDNSList->Count()));
        ABeforeAttempt(Server);
        bool Retry;
        const TLookupOutcome Outcome = Lookup(AClient, Server, AName, ANoDataAnswers, Retry);
        if (Outcome != loFailed || !Retry || Attempt >= FDNSRetries || Terminated())
            return Outcome;
    }
}

void TQXUtils::LogOnce(const QString& AKey, const QString& AMessage) {
    bool First;
    {
        std::lock_guard<std::mutex> Lock(FNoticeCS);
        First = !FNoticed.contains(AKey);
        if (First)
            FNoticed.insert(AKey);
    }
    // Logged outside the lock: a full log buffer waits for the main thread.
    if (First)
        Log(AMessage);
}

namespace {

// Only answers count: a server inside the zone adds its own address as glue in
// the additional section, which is neither an address of the name asked for
// nor a sign that it is listed.
bool IsAnswerA(const TResultRecord* ARec) { return ARec->RecType() == qtA && ARec->Section() == rsAnswer; }

// The common error codes of blocklist zones (127.255.255.0/24).
QString RefusalMeaning(quint32 AValue) {
    switch (AValue & 0xFF) {
    case 252:
        return QStringLiteral("malformed query name");
    case 254:
        return QStringLiteral("query through a public or open resolver");
    case 255:
        return QStringLiteral("too many queries");
    default:
        return QString();
    }
}

} // namespace

bool TQXUtils::CheckBLService(TBLMode AMode, const QString& AKind, const QString& AQuery, TStringList* AServices,
                              int& AServiceCounter, int& AServerCounter, TIdDNSResolver* AClient, bool& AListed) {
    AListed = false;
    if (AMode == blNone)
        return true;
    if (AServices->Count() == 0) {
        Log(QStringLiteral("No %1 Services").arg(AKind));
        ++FCounters.BLChecksFailed;
        return false;
    }
    const QString Zone = AServices->Get(NextIndex(AServiceCounter, AServices->Count())).trimmed();
    if (FDNSList->Count() == 0) {
        Log(QStringLiteral("No DNS Hosts."));
        ++FCounters.BLChecksFailed;
        return false;
    }
    const TLookupOutcome Outcome =
        LookupWithRetries(AClient, AServerCounter, AQuery + QLatin1Char('.') + Zone, [&](const QString& AServer) {
            if (FDetailedLog)
                Log(QStringLiteral("%1: Resolving domain \"%2.%3\" (dns server: %4)...")
                        .arg(AKind, AQuery, Zone, AServer));
        });
    bool Failed = Outcome == loFailed;
    if (Outcome == loAnswered) {
        // A listing is an address in 127.0.0.0/8; 127.255.255.0/24 holds the
        // zone's error codes, and anything else is no answer a zone should give.
        bool Listed = false, Refused = false, Odd = false;
        quint32 RefusalValue = 0;
        QString Refusal, Unexpected;
        const TQueryResult& Result = AClient->QueryResult();
        for (int I = 0; I < Result.Count(); ++I) {
            const TResultRecord* Rec = Result.Items(I);
            if (!IsAnswerA(Rec))
                continue;
            const QString Text = static_cast<const TARecord*>(Rec)->IPAddress();
            quint32 IP;
            QString IPText;
            if (!ParseAddressLine(Text, IP, IPText) || (IP >> 24) != 127) {
                if (!Odd)
                    Unexpected = IPText.isEmpty() ? QStringLiteral("\"%1\"").arg(Text) : IPText;
                Odd = true;
            } else if ((IP & 0xFFFFFF00u) == 0x7FFFFF00u) {
                if (!Refused) {
                    Refusal = IPText;
                    RefusalValue = IP;
                }
                Refused = true;
            } else {
                Listed = true;
            }
        }
        if (Refused) {
            Failed = true;
            const QString Meaning = RefusalMeaning(RefusalValue);
            LogOnce(AKind + QLatin1String(" refused ") + Zone,
                    QStringLiteral("%1 zone \"%2\" refused the query: %3").arg(AKind, Zone, Refusal) +
                        (Meaning.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(Meaning)));
        } else if (Odd) {
            Failed = true;
            LogOnce(AKind + QLatin1String(" unexpected ") + Zone,
                    QStringLiteral("%1 zone \"%2\" answered with an unexpected address: %3")
                        .arg(AKind, Zone, Unexpected));
        } else {
            AListed = Listed;
        }
    }
    // A check without a usable answer lets the item through in suppress mode
    // and keeps it out in out mode, as a failed lookup always did.
    if (Failed)
        ++FCounters.BLChecksFailed;
    return AMode == blSuppress ? !AListed : AListed;
}

struct TQXUtils::TWorkerState {
    int ServerCounter = 0;
    int DBLCounter = 0;
    int RBLCounter = 0;
    std::unique_ptr<TIdDNSResolver> Client;    // A questions of domains
    std::unique_ptr<TIdDNSResolver> Client6;   // AAAA questions of domains
    std::unique_ptr<TIdDNSResolver> RBLClient;
    std::unique_ptr<TIdDNSResolver> DBLClient;
};

void TQXUtils::ProcessAddress(const QString& AIPText, const QString& ADomain, const QString& ARBLQuery, bool AIPv6,
                              bool AFromDomain, TWorkerState& AState) {
    bool Listed;
    const bool Passed = CheckBLService(FRBLMode, QStringLiteral("RBL"), ARBLQuery, FRBLServices, AState.RBLCounter,
                                       AState.ServerCounter, AState.RBLClient.get(), Listed);
    if (FDetailedLog) {
        if (AFromDomain)
            Log((Listed ? QStringLiteral("RBL blacklisted IP: %1 (domain: %2)") : QStringLiteral("IP: %1 (domain: %2)"))
                    .arg(AIPText, ADomain));
        else
            Log((Listed ? QStringLiteral("RBL blacklisted IP: %1") : QStringLiteral("IP: %1")).arg(AIPText));
    }
    if (Passed)
        EmitAddress(AIPText, ADomain, AIPv6);
}

namespace {

// The text of a refused line for the log: control characters would reach a
// terminal as they are.
QString Printable(const QString& S) {
    QString R = S;
    for (QChar& C : R)
        if (C.unicode() < 32 || (C.unicode() >= 127 && C.unicode() < 160))
            C = QChar(0xFFFD);
    return R;
}

// What the line a worker has taken adds to the progress once it is done:
// its bytes of a file, or 1. The display counts lines finished, not lines
// taken, which against a slow server would reach 100% long before the end.
thread_local qint64 TakenLineStep = 0;

// Every line taken counts once done, skipped ones too, so a progress display
// can tell how far through the input the run is.
struct TLineDone {
    TProgress* Progress;
    ~TLineDone() {
        Progress->IncProgress(std::exchange(TakenLineStep, 0));
        Progress->IncProcessed(1);
    }
};

// Only answers count, as for the A records.
bool IsAnswerAAAA(const TResultRecord* ARec) { return ARec->RecType() == qtAAAA && ARec->Section() == rsAnswer; }

} // namespace

bool TQXUtils::TakeLine(QString& ALine) {
    {
        std::lock_guard<std::mutex> Lock(FReadCS);
        if (FSourceLineReader->EndOfLines())
            return false;
        ALine = TrimLine(FSourceLineReader->ReadLine());
        if (FSourceMode == srcFile) {
            const qint64 Position = FSourceLineReader->StreamPosition();
            TakenLineStep = Position - FTakenPosition;
            FTakenPosition = Position;
        } else {
            TakenLineStep = 1;
        }
    }
    ++FCounters.Lines;
    return true;
}

void TQXUtils::ReportSkips(const QString& ALine, const TNormalizedLine& ANormalized) {
    for (const TLineSkip& Skip : ANormalized.Skips) {
        ++FCounters.Skipped;
        if (!FDetailedLog)
            continue;
        // A line refused as a whole is told as the job always told it; a
        // piece of a line (a name on a hosts line) with the normalizer's reason.
        const QString Format = Skip.Reason == lsNotADomain && Skip.Text == ALine
                                   ? QStringLiteral("Not an address or domain: %1")
                                   : TLineSkip::Format(Skip.Reason);
        Log(Format.arg(Printable(Skip.Text)));
    }
}

TQXUtils::TItemResult TQXUtils::WorkItem(const QString& AItem, TWorkerState& AState) {
    quint32 Value;
    QString IPText;
    if (ParseAddressLine(AItem, Value, IPText)) {
        // A run that deals in IPv6 only writes no IPv4 address: the rules it
        // makes (ip6tables, an ipv6_addr set) would not load with one.
        if (!IPv4On()) {
            ++FCounters.Skipped;
            if (FDetailedLog)
                Log(QStringLiteral("IPv4 address skipped: %1").arg(AItem));
            return irNext;
        }
        // Addresses and networks are passed through without resolving,
        // written as the value that was checked.
        ProcessAddress(IPText, IPText, ReverseIPv4(Value), false, false, AState);
        return irNext;
    }
    TIPv6Address Address6;
    int Prefix6;
    if (ParseIPv6Line(AItem, Address6, Prefix6)) {
        WorkIPv6Line(AItem, Address6, Prefix6, AState);
        return irNext;
    }
    // A line no server can answer would cost a full time-out, and its
    // text would go into the output as it stands.
    if (!IsQueryableName(AItem)) {
        ++FCounters.Skipped;
        if (FDetailedLog)
            Log(QStringLiteral("Not an address or domain: %1").arg(Printable(AItem)));
        return irNext;
    }
    return WorkDomain(AItem, AState);
}

void TQXUtils::WorkIPv6Line(const QString& ALine, const TIPv6Address& AAddress, int APrefix, TWorkerState& AState) {
    // Never asked as a name: no server knows one with a ":" in it.
    if (!IPv6On()) {
        ++FCounters.Skipped;
        if (FDetailedLog)
            Log(QStringLiteral("IPv6 address skipped: %1").arg(ALine));
        return;
    }
    // Written in its canonical text, as IPv4 lines are written as their
    // dotted quad: the output then holds the very value that was checked,
    // in the form firewall tools print and compare.
    const QString Text = FormatIPv6Line(AAddress, APrefix);
    ProcessAddress(Text, Text, IPv6QueryName(AAddress), true, false, AState);
}

TQXUtils::TItemResult TQXUtils::WorkDomain(const QString& ALine, TWorkerState& AState) {
    // The zone follows the name, so a final "." of the name must go.
    const QString Name = ALine.endsWith(QLatin1Char('.')) ? ALine.chopped(1) : ALine;
    bool Listed;
    const bool Passed = CheckBLService(FDBLMode, QStringLiteral("DBL"), Name, FDBLServices, AState.DBLCounter,
                                       AState.ServerCounter, AState.DBLClient.get(), Listed);
    if (Listed && FDetailedLog)
        Log(QStringLiteral("DBL blacklisted domain: %1").arg(ALine));
    if (!Passed)
        return irNext;

    if (FDNSList->Count() == 0) {
        Log(QStringLiteral("No DNS Hosts."));
        return irStop;
    }
    ++FCounters.Domains;
    bool NotFound = false, Failed = false;
    if (IPv4On()) {
        const TLookupOutcome Outcome =
            LookupWithRetries(AState.Client.get(), AState.ServerCounter, ALine, [&](const QString& AServer) {
                if (FDetailedLog)
                    Log(QStringLiteral("Resolving domain \"%1\" (dns server: %2)...").arg(ALine, AServer));
            });
        NotFound = Outcome == loNotFound;
        Failed = Outcome == loFailed;
        if (Outcome == loAnswered) {
            const TQueryResult& Result = AState.Client->QueryResult();
            for (int I = 0; I < Result.Count(); ++I) {
                const TResultRecord* Rec = Result.Items(I);
                if (!IsAnswerA(Rec))
                    continue;
                // An A record without data has no address text; the parser
                // would take the empty text for 0.0.0.0 and emit an empty address.
                quint32 IP;
                QString IPText;
                if (!ParseAddressLine(static_cast<const TARecord*>(Rec)->IPAddress(), IP, IPText))
                    continue;
                ProcessAddress(IPText, ALine, ReverseIPv4(IP), false, true, AState);
            }
        }
    }
    if (IPv6On()) {
        const TLookupOutcome Outcome = LookupWithRetries(
            AState.Client6.get(), AState.ServerCounter, ALine,
            [&](const QString& AServer) {
                if (FDetailedLog)
                    Log(QStringLiteral("Resolving domain \"%1\" for IPv6 (dns server: %2)...").arg(ALine, AServer));
            },
            true);
        NotFound = NotFound || Outcome == loNotFound;
        Failed = Failed || Outcome == loFailed;
        if (Outcome == loAnswered) {
            const TQueryResult& Result = AState.Client6->QueryResult();
            for (int I = 0; I < Result.Count(); ++I) {
                const TResultRecord* Rec = Result.Items(I);
                if (!IsAnswerAAAA(Rec))
                    continue;
                TIPv6Address IP;
                if (!ParseIPv6Address(static_cast<const TAAAARecord*>(Rec)->Address(), IP))
                    continue;
                ProcessAddress(FormatIPv6(IP), ALine, IPv6QueryName(IP), true, true, AState);
            }
        }
    }
    // A name that does not exist misses nothing, whatever its other question met.
    if (NotFound)
        ++FCounters.NotFound;
    else if (Failed)
        ++FCounters.LookupsFailed;
    return irPause;
}

void TQXUtils::DoResolve(TUtilsThread* AThread) {
    if (!CheckInitialized())
        return;
    if (FDetailedLog)
        Log(QStringLiteral("%1 Thread Initialized.").arg(kResolveDomains));
    TWorkerState State;
    State.ServerCounter = AThread->ThreadNumber();
    State.DBLCounter = State.ServerCounter;
    State.RBLCounter = State.ServerCounter;
    try {
        State.Client.reset(NewClient(qtA));
        State.Client6.reset(NewClient(qtAAAA));
        State.RBLClient.reset(NewClient(qtA));
        State.DBLClient.reset(NewClient(qtA));
        // Hosts lines, filter rules, URLs and international names become the
        // address and domain lines the job works; a line it can work as it
        // stands passes unchanged. One result object for the whole body, so
        // that a plain list costs no allocation here.
        const TDomainLineNormalizer Normalizer(&IsWorkableLine);
        TNormalizedLine Normalized;
        bool Ended = false;
        while (!Ended && !Terminated()) {
            QString Line;
            if (!TakeLine(Line))
                break;
            const TLineDone Done{FProgress};
            if (Line.isEmpty())
                continue;
            Normalizer.Normalize(Line, Normalized);
            ReportSkips(Line, Normalized);
            // A line of several names is worked as that many lines; a break
            // stops it between two of them.
            for (qsizetype I = 0; I < Normalized.Items.size() && !Ended; ++I) {
                if (I > 0 && Terminated())
                    break;
                const TItemResult Result = WorkItem(Normalized.Items.at(I), State);
                if (Result == irStop)
                    Ended = true;
                else if (Result == irPause)
                    WaitMSec(FPauseMSec, NowDateTime());
            }
        }
    } catch (...) {
        LogException(std::current_exception());
    }
    if (FDetailedLog)
        Log(QStringLiteral("%1 Thread Completed.").arg(kResolveDomains));
}

void TQXUtils::StartResolveThreads() {
    // Through the job base's starter: a worker that ends while later ones are
    // still being created cannot end the run under them.
    StartThreads([this](TUtilsThread* T) { DoResolve(T); }, QStringLiteral("DoResolve"));
}

TUtilsThread* TQXUtils::CreateWorker(const TUtilsThreadMethod& AMethod, const QString&, int AThreadNumber) {
    return TUtilsThread::Run<TQXUtilsThread>(this, AMethod, AThreadNumber, TThreadNotifyEvent());
}

// ---------------------------------------------------------------------------

TQXUtilsThread::TQXUtilsThread(TUtils* AUtils, TUtilsThreadMethod AMethod, int AThreadNumber,
                               TThreadNotifyEvent AOnTerminate)
    : TUtilsThread(AUtils, std::move(AMethod), kThreadName, AThreadNumber, false) {
    OnTerminate = AOnTerminate;
    FHTTPCli = nullptr;
}

TQXUtilsThread::~TQXUtilsThread() {
    delete FHTTPCli;
    FHTTPCli = nullptr;
}
