#include "resolve/QXUtilsUnit.h"
#include "text/uEncoding.h"

#include "engine/uFormat.h"
#include "engine/uLog.h"
#include "engine/uMainThread.h"
#include "engine/uProgress.h"
#include "resolve/dns/IdDNSResolver.h"
#include "resolve/dns/IdDNSServer.h"
#include "resolve/uDomainLines.h"
#include "text/uFdInputStream.h"
#include "resolve/uOutputFile.h"
#include "resolve/uRuleWriter.h"
#include "text/uLineReaderWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStringList>
#include <exception>
#include <limits>
#include <memory>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

// ---------------------------------------------------------------------------

bool TQXUtils::ParseIPEntry(const QString& S, quint32& AValue) {
    return ParseIPv4Entry(S, AValue);
}

bool TQXUtils::ParseAddressLine(const QString& S, quint32& AValue, QString& AText) {
    return ParseIPv4AddressLine(S, AValue, AText);
}

bool TQXUtils::IsQueryableName(const QString& S) {
    // One final "." is the root: "example.com." is asked as "example.com".
    // The label rules are the normalizer's, so a line that passes it
    // unchanged is always one the job asks.
    const QStringView Name = S.endsWith(QLatin1Char('.')) ? QStringView(S).chopped(1) : QStringView(S);
    return TDomainLineNormalizer::IsPlainName(Name);
}

bool TQXUtils::IsZoneName(const QString& S) {
    return IsQueryableName(S.trimmed());
}

QString TQXUtils::BadZoneName() const {
    const struct {
        TBLMode Mode;
        const TStringList* Zones;
    } Lists[] = {{FDBLMode, FDBLServices}, {FRBLMode, FRBLServices}, {FRBLMode, FRBL6Services}};
    for (const auto& L : Lists) {
        if (L.Mode == blNone)
            continue;
        for (int I = 0; I < L.Zones->Count(); ++I)
            if (!IsZoneName(L.Zones->Get(I)))
                return L.Zones->Get(I).trimmed();
    }
    return QString();
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

// Both names will be one file. An output file appears only when its run
// completes, so a name that does not exist yet is compared by its folder.
bool SameTarget(const QString& A, const QString& B) {
    if (SameFile(A, B))
        return true;
    const auto Path = [](const QString& AName) {
        const QFileInfo F(AName), Dir(F.absolutePath());
        return (Dir.exists() ? Dir.canonicalFilePath() : F.absolutePath()) + QLatin1Char('/') + F.fileName();
    };
    return !QFileInfo::exists(A) && !QFileInfo::exists(B) && Path(A) == Path(B);
}

} // namespace

TQXUtils::TQXUtils(TProgress* AProgress, TLog* ALog) : THTTPUtils(AProgress, ALog) {
    FDomainList = new TStringList;
    FResultList = new TStringList;
    FAddedList = new TStringList;
    FDNSList = new TStringList;
    FDBLServices = new TStringList;
    FRBLServices = new TStringList;
    FRBL6Services = new TStringList;
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
    delete FRBL6Services;
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
void TQXUtils::AssignRBL6Services(const TStringList* ARBL6Services) { AssignNonEmpty(FRBL6Services, ARBL6Services); }

void TQXUtils::OpenRun() {
    // The run's progress goes over the input: its lines, or a file's bytes,
    // so that the bar moves evenly whatever the length of the lines.
    GatherExceptions();
    switch (FSourceMode) {
    case srcList:
        FSourceLineReader = new TLineReader(FDomainList);
        FProgress->SetMax(FDomainList->Count());
        break;
    case srcFile:
        // Neither opening nor reading waits beyond the reach of a break: a
        // pipe or FIFO with a silent writer ends its wait when the run stops.
    {
        TLineReader* Reader =
            FDomainListFd >= 0 ? new TLineReader(FDomainListFd, 1024) : new TLineReader(FDomainListFile, 1024);
        Reader->SetAbortCheck([this] { return Terminated(); });
        std::lock_guard<std::mutex> Lock(FReadCS);
        FSourceLineReader = Reader;
    }
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
        const auto NewFile = [this](const QString& AFileName, const QStringList& AHeader,
                                    const QStringList& AFooter) {
            auto F = std::make_unique<TOutputFile>();
            // A preset's file is what its loader reads: UTF-8 without a mark, LF.
            const bool Plain = FRuleDocument && FRuleDocument->ForcesPlainText();
            F->SetWriteBOM(FOutFileBOM && !Plain);
            // Without a chosen break the lines end with CR LF; an empty break
            // would run every output line into the next.
            F->SetLineBreak(Plain                          ? QByteArray("\n")
                            : FOutFileLineBreak.isEmpty() ? QByteArray("\r\n")
                                                          : FOutFileLineBreak.toUtf8());
            F->SetHeader(AHeader);
            F->SetFooter(AFooter);
            QString Error;
            if (!F->OpenFile(AFileName, Error, [this] { return Terminated(); }))
                throw EFileError(F->Interrupted() ? QStringLiteral("Opening %1 was broken off.").arg(AFileName)
                                                  : Error);
            return F;
        };
        // Two writers replacing one file would each overwrite the other's
        // lines; a second name of the same file means that one file.
        const bool Own6 = IPv6On() && !FResolvedListFile6.isEmpty() &&
                          !SameTarget(FResolvedListFile, FResolvedListFile6) &&
                          !(FRuleDocument && !FRuleDocument->Settings().Split6);
        FResultFile = NewFile(FResolvedListFile, FOutFileHeader, FOutFileFooter);
        if (Own6)
            FResultFile6 = NewFile(FResolvedListFile6, FOutFileHeader6, FOutFileFooter6);
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

void TQXUtils::GatherExceptions() {
    FExceptions.Clear();
    FExceptionsStreamed = false;
    const TDomainLineNormalizer Normalizer(&IsWorkableLine);
    TNormalizedLine Normalized;
    // Only lines that can be an exception or a cancel are worth normalizing.
    const auto Take = [&](const QString& ARaw) {
        if (!ARaw.contains(QLatin1String("@@")) && !ARaw.contains(QLatin1String("badfilter"), Qt::CaseInsensitive))
            return;
        Normalizer.Normalize(TrimLine(ARaw), Normalized);
        FExceptions.Note(Normalized);
    };
    const auto Scan = [&](TLineReader& AReader) {
        AReader.SetAbortCheck([this] { return Terminated(); });
        while (!AReader.EndOfLines() && !Terminated())
            Take(AReader.ReadLine());
    };
    if (FSourceMode == srcList) {
        for (int I = 0; I < FDomainList->Count(); ++I)
            Take(FDomainList->Get(I));
    } else if (FDomainListFd >= 0) {
        // Standard input from a regular file is read twice, from where it stands.
        const off_t Start = TFdInputStream::IsRegularFile(FDomainListFd) ? ::lseek(FDomainListFd, 0, SEEK_CUR) : -1;
        FExceptionsStreamed = Start < 0;
        if (Start >= 0) {
            try {
                TLineReader Reader(FDomainListFd, 1024);
                Scan(Reader);
            } catch (const Exception&) {
                // The run's own reader meets the error again and reports it.
            }
            FExceptionsStreamed = ::lseek(FDomainListFd, Start, SEEK_SET) != Start;
        }
    } else {
        struct stat St;
        FExceptionsStreamed = ::stat(EncodeFileName(FDomainListFile).constData(), &St) != 0 || !S_ISREG(St.st_mode);
        if (!FExceptionsStreamed) {
            try {
                TLineReader Reader(FDomainListFile, 1024);
                Scan(Reader);
            } catch (const Exception&) {
            }
        }
    }
    FExceptionsAny = !FExceptions.IsEmpty();
}

void TQXUtils::CloseRun() {
    // Every object is freed and cleared even when closing one of them fails
    // (a full disk while flushing the output file); the first failure is then
    // passed on so that it reaches the user.
    std::exception_ptr Error;
    // An output file is replaced only by a run that completed, and then with
    // its footer; otherwise its temporary file goes and the previous file stays.
    const bool Completed = RunCompleted();
    bool Discarded = false;
    // The document of the run: into the files only when they will be kept.
    if (FRuleDocument && (Completed || (FResultMode != outFile && FRuleDocumentOnBreak)) &&
        (FResultFile || FResultLineWriter)) {
        try {
            WriteRuleDocument();
        } catch (...) {
            Error = std::current_exception();
        }
    }
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
    TLineReader* R;
    {
        // WakeInput may look at the reader from the main thread.
        std::lock_guard<std::mutex> Lock(FReadCS);
        R = std::exchange(FSourceLineReader, nullptr);
    }
    delete R;
    CloseWriter(FResultLineWriter);
    CloseWriter(FAddedLineWriter);
    CloseWriter(FResultLineWriter6);
    CloseWriter(FAddedLineWriter6);
    // Both files are replaced only when both were written whole.
    std::unique_ptr<TOutputFile> Files[2] = {std::move(FResultFile), std::move(FResultFile6)};
    const bool Commit = Completed && !Error && !FCounters.OutputFailed;
    bool Finished = true;
    for (auto& F : Files) {
        QString Text;
        if (F && !F->Finish(Text, Commit)) {
            Finished = false;
            if (!Error)
                Error = std::make_exception_ptr(EFileError(Text));
        }
    }
    for (auto& F : Files) {
        if (!F)
            continue;
        QString Text;
        if (Commit && Finished) {
            if (!F->Replace(Text) && !Error)
                Error = std::make_exception_ptr(EFileError(Text));
        } else {
            F->Discard();
            if (F->IsFile()) {
                Discarded = true;
                Log(QStringLiteral("Output file %1 left unchanged: the run did not complete.").arg(F->Name()));
            }
        }
    }
    FResultIndex.clear();
    FResultIndex.squeeze();
    // The lines of a file reach it only when it closes without error, and
    // not at all when its temporary file was dropped.
    // Workers that did not reach the end of the input: a Break, a signal or
    // an error cut the run short. A run that never had a worker cut none.
    if (FInRun && FRunWorkers > 0 && FRunCleanEnds < FRunWorkers)
        FCounters.Broken = true;
    const qint64 Pending = FCounters.Pending.exchange(0);
    if (Error)
        FCounters.OutputFailed = true;
    else if (!FCounters.OutputFailed && !Discarded)
        FCounters.Written += Pending;
    if (Error)
        std::rethrow_exception(Error);
}

// A server's own address is never a firewall entry: blocking it cuts the
// machine off from its resolver.
static void AddServerAddress(TExtraSpecials& AAddresses, const TDNSServerEntry& AEntry) {
    if (AEntry.Kind == TDNSServerEntry::skIPv4) {
        AAddresses.IPv4 << AEntry.IPv4;
    } else if (AEntry.Kind == TDNSServerEntry::skIPv6) {
        TIPv6Address A;
        std::copy(std::begin(AEntry.IPv6), std::end(AEntry.IPv6), A.Bytes);
        AAddresses.IPv6 << A;
    }
}

void TQXUtils::BeforeStart() {
    // No worker of this job exists now: the counts start over for the run.
    for (std::atomic<qint64>* C : {&FCounters.Lines, &FCounters.Domains, &FCounters.NotFound,
                                   &FCounters.LookupsFailed, &FCounters.BLChecksFailed, &FCounters.Written,
                                   &FCounters.Duplicates, &FCounters.Skipped, &FCounters.CutShort,
                                   &FCounters.Pending, &FCounters.Unanswered})
        *C = 0;
    FRunWorkers = 0;
    FRunCleanEnds = 0;
    FInRun = true;
    FCounters.OutputFailed = false;
    FCounters.Broken = false;
    {
        std::lock_guard<std::mutex> Lock(FNoticeCS);
        FNoticed.clear();
    }
    {
        std::lock_guard<std::mutex> Lock(FReadCS);
        FInputReadError.clear();
        FUTF16Noted = false;
    }
    FPacer.SetMaxQPS(FMaxQPS);
    FPacer.Reset();
    {
        std::lock_guard<std::mutex> Lock(FServersCS);
        FServersReady = false;
        FDNSServerError.clear();
        FServerEntries.clear();
    }
    FServerAddresses = {};
    for (int I = 0; I < FDNSList->Count(); ++I) {
        TDNSServerEntry Entry;
        if (!ParseDNSServerEntry(FDNSList->Get(I).trimmed(), 53, Entry))
            continue;
        AddServerAddress(FServerAddresses, Entry);
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
        NoteRunError(Error);
    }
    FInRun = false;
    if (!FDeferSummary)
        LogSummary();
    if (Error)
        std::rethrow_exception(Error);
    const QString ReadError = InputReadError();
    if (!ReadError.isEmpty())
        throw EInputReadError(QStringLiteral("Cannot read %1. %2").arg(InputName(), ReadError));
}

QString TQXUtils::InputReadError() {
    std::lock_guard<std::mutex> Lock(FReadCS);
    return FInputReadError;
}

void TQXUtils::SetInputWakes(bool Value) {
    FInputWakes = Value;
    SetServiceWakes(Value);
}

void TQXUtils::WakeInput() {
    WakeServiceThreads();
    std::lock_guard<std::mutex> Lock(FReadCS);
    if (FSourceLineReader)
        FSourceLineReader->WakeInput();
}

QString TQXUtils::InputName() const {
    return FSourceMode == srcFile && FDomainListFd >= 0 ? QStringLiteral("standard input")
                                                          : QStringLiteral("file \"%1\"").arg(FDomainListFile);
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
    R.CutShort = FCounters.CutShort;
    R.Unanswered = FCounters.Unanswered;
    R.OutputFailed = FCounters.OutputFailed;
    R.Broken = FCounters.Broken;
    return R;
}

bool TQXUtils::RunHadFailures() const {
    return FCounters.LookupsFailed > 0 || FCounters.BLChecksFailed > 0;
}

QString TQXUtils::SummaryText(const TQXRunCounters& C) {
    // A count of lines that never reached a failed output would read as
    // success.
    const QString Written =
        C.OutputFailed ? QStringLiteral("output failed") : QStringLiteral("%1 lines written").arg(C.Written);
    // A run cut short must not read like a completed one.
    QString Text = (C.Broken ? QStringLiteral("Broken off: ") : QStringLiteral("Done: ")) + QStringLiteral("%1 lines, %2 domains, %3 not found, %4 lookups failed, %5 blocklist checks "
                                  "failed, %6, %7 duplicates, %8 skipped")
                       .arg(C.Lines)
                       .arg(C.Domains)
                       .arg(C.NotFound)
                       .arg(C.LookupsFailed)
                       .arg(C.BLChecksFailed)
                       .arg(Written)
                       .arg(C.Duplicates)
                       .arg(C.Skipped);
    if (C.CutShort > 0)
        Text += QStringLiteral(", %1 cut short by Break").arg(C.CutShort);
    return Text + QLatin1Char('.');
}

void TQXUtils::WriteResult(const QString& ALine, bool AIPv6) {
    bool Duplicate = false;
    {
        std::lock_guard<std::mutex> Lock(FWriteCS);
        TLineWriter* Result = AIPv6 && FResultLineWriter6 ? FResultLineWriter6 : FResultLineWriter;
        TOutputFile* File = AIPv6 && FResultFile6 ? FResultFile6.get() : FResultFile.get();
        // A write that failed (a full disk) may have lost lines buffered
        // before this one too: none of the file's lines count as written.
        struct TFailGuard {
            std::atomic<bool>& Failed;
            int Uncaught = std::uncaught_exceptions();
            ~TFailGuard() {
                if (std::uncaught_exceptions() > Uncaught)
                    Failed = true;
            }
        } Guard{FCounters.OutputFailed};
        if (FResultMode == outListNew) {
            // One index for both families: a line is new only when neither wrote it.
            const QString Key = ALine.toCaseFolded();
            Duplicate = FResultIndex.contains(Key);
            if (!Duplicate) {
                (AIPv6 && FAddedLineWriter6 ? FAddedLineWriter6 : FAddedLineWriter)->WriteLine(ALine);
                Result->WriteLine(ALine);
                FResultIndex.insert(Key);
            }
        } else if (File) {
            AppendToFile(File, ALine);
        } else {
            Result->WriteLine(ALine);
        }
    }
    // A file holds its lines only once it is closed; a list holds them now.
    if (Duplicate)
        ++FCounters.Duplicates;
    else
        ++(FResultMode == outFile ? FCounters.Pending : FCounters.Written);
    // Logged after the lock is released: a full log buffer makes the logging
    // thread wait for the main thread, which must never wait on this lock.
    if (Duplicate && FDetailedLog)
        Log(QStringLiteral("Duplicate: %1").arg(ALine));
}

bool TQXUtils::AddressWritable(const QString& AIPText) {
    if (FKeepSpecial)
        return true;
    // A text from outside the run (a saved state) may be in any notation
    // the parser reads; the test reads canonical texts.
    quint32 Value;
    QString Canonical;
    if (!ParseIPv4AddressLine(AIPText, Value, Canonical))
        Canonical = AIPText;
    const TAddressCaution Caution = AddressCaution(Canonical, FServerAddresses);
    if (Caution == acNone)
        return true;
    ++FCounters.Skipped;
    const QString Message = Caution == acTooWide ? QStringLiteral("Address block too wide: %1")
                                                 : QStringLiteral("Special address not written: %1");
    LogOnce(QLatin1String("special ") + AIPText, Message.arg(AIPText));
    return false;
}

void TQXUtils::EmitAddress(const QString& AIPText, const QString& ADomain, bool AIPv6) {
    if (FAddressHook || FRuleDocument) {
        std::lock_guard<std::mutex> Lock(FWriteCS);
        if (FAddressHook && FAddressHook(AIPText, ADomain))
            return;
        if (FRuleDocument) {
            FRuleDocument->Add(AIPText, ADomain);
            return;
        }
    }
    WriteResult(FormatOutLine(AIPText, ADomain, AIPv6), AIPv6);
}

void TQXUtils::SetRuleDocument(const TRuleWriterSettings& ASettings) {
    FRuleDocument = std::make_unique<TRuleWriter>(ASettings);
}

void TQXUtils::ClearRuleDocument() {
    FRuleDocument.reset();
}

void TQXUtils::AppendToFile(TOutputFile* AFile, const QString& ALine) {
    QString Error;
    // Every worker that meets a failed file stops, not only the first.
    if (!AFile->AppendLine(ALine, Error))
        throw EFileError(Error.isEmpty() ? QStringLiteral("cannot write %1: an earlier write failed").arg(AFile->Name())
                                         : Error);
}

void TQXUtils::WriteRuleDocument() {
    // Every worker has ended; the lock keeps the rule of the fields.
    std::lock_guard<std::mutex> Lock(FWriteCS);
    // Lines of the known list are not new: the same test as single lines get.
    std::function<bool(const QString&)> Keep;
    if (FResultMode == outListNew)
        Keep = [this](const QString& ALine) {
            const QString Key = ALine.toCaseFolded();
            if (FResultIndex.contains(Key))
                return false;
            FResultIndex.insert(Key);
            return true;
        };
    const TRuleWriter::TDocument D = FRuleDocument->Render(Keep);
    FRuleDocument->Clear();
    FCounters.Duplicates += D.Dropped;
    const auto Write = [this](const QStringList& ALines, bool AIPv6) {
        TOutputFile* File = AIPv6 && FResultFile6 ? FResultFile6.get() : FResultFile.get();
        TLineWriter* Result = AIPv6 && FResultLineWriter6 ? FResultLineWriter6 : FResultLineWriter;
        TLineWriter* Added = AIPv6 && FAddedLineWriter6 ? FAddedLineWriter6 : FAddedLineWriter;
        for (const QString& L : ALines) {
            if (File) {
                AppendToFile(File, L);
                continue;
            }
            Result->WriteLine(L);
            if (Added)
                Added->WriteLine(L);
        }
    };
    try {
        Write(D.Lines, false);
        Write(D.Lines6, true);
    } catch (...) {
        FCounters.OutputFailed = true;
        throw;
    }
    (FResultMode == outFile ? FCounters.Pending : FCounters.Written) += D.Entries;
}

TIdDNSResolver* TQXUtils::NewClient(TQueryRecordTypes AType) {
    auto* Client = new TIdDNSResolver;
    Client->SetIPVersion(Id_IPv4);
    Client->SetQueryType({AType});
    Client->SetWaitingTime(FDNSTimeoutMSec);
    Client->SetAbortCheck([this] { return Terminated(); });
    Client->SetQueryGate([this] { return FPacer.Acquire([this] { return Terminated(); }); });
    Client->SetServerEntries(FServerEntries);
    if (FDetailedLog)
        Client->SetNote([this](const QString& AText) { Log(AText); });
    return Client;
}

namespace {

// A reply of the server asked (its header was read) that says nothing went
// wrong and holds no answer: the name exists, but not with the type asked.
// An SOA in the authority section and an OPT record in the additional one
// change nothing. A truncated one may have lost its records on the way.
bool IsNoDataReply(const TDNSHeader& AHeader) {
    return (AHeader.BitCode & 0x8000) != 0 && !AHeader.TC() && AHeader.RCode() == 0 && AHeader.ANCount == 0;
}

} // namespace

TQXUtils::TLookupOutcome TQXUtils::Lookup(TIdDNSResolver* AClient, const QString& AServer, const QString& AName,
                                          bool ANoDataAnswers, bool& ARetry) {
    ARetry = false;
    const auto TCPNote = qScopeGuard([&] {
        if (FDetailedLog && AClient->UsedTCP())
            Log(QStringLiteral("Truncated reply for \"%1\" (dns server: %2): asked again over TCP.")
                    .arg(AName, AServer));
    });
    try {
        // The client takes "host:port" as well, which local resolvers need.
        AClient->SetHost(AServer.trimmed());
        AClient->QueryResult().Clear();
        AClient->Resolve(AName, nullptr, 1);
    } catch (const EIdSocketError&) {
        if (AClient->Aborted())
            return loCutShort;
        if (FDetailedLog)
            LogException(std::current_exception());
        ARetry = true;
        return loFailed;
    } catch (const EIdDnsResolverError&) {
        if (AClient->Aborted())
            return loCutShort;
        // Many names have an A or an AAAA record only, and a server answering
        // from its own data says so without an SOA record.
        if (ANoDataAnswers && !AClient->BadReply() && IsNoDataReply(AClient->DNSHeader()))
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
            ARetry = AClient->BadReply();
            return loFailed;
        }
    } catch (...) {
        if (AClient->Aborted())
            return loCutShort;
        if (FDetailedLog)
            LogException(std::current_exception());
        return loFailed;
    }
    // A Break ended the wait: no answer, and no failure of the server either.
    if (AClient->Aborted())
        return loCutShort;
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
        if (Outcome != loFailed || !Retry || Attempt >= FDNSRetries) {
            if (Outcome == loFailed && Retry)
                ++FCounters.Unanswered;
            return Outcome;
        }
        // The retry a Break stops might have been answered.
        if (Terminated())
            return loCutShort;
        // Backoff: asking again at once meets the same overload or limit.
        if (!AClient->Pause(TQueryPacer::BackoffMSec(Attempt + 1)))
            return loCutShort;
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

// 127.0.0.1 is never a listing (lists must not hold it); zones that answer it
// use it to refuse the query.
constexpr quint32 kLoopbackAnswer = 0x7F000001u;

// An answer that refuses the query instead of telling a listing: the common
// error codes (127.255.255.0/24) and 127.0.0.1.
bool IsRefusal(quint32 AValue) {
    return (AValue & 0xFFFFFF00u) == 0x7FFFFF00u || AValue == kLoopbackAnswer;
}

QString RefusalMeaning(quint32 AValue) {
    if (AValue == kLoopbackAnswer)
        return QStringLiteral("not a listing; the zone refuses this resolver or query");
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
                              int& AServiceCounter, int& AServerCounter, TIdDNSResolver* AClient, bool& AListed,
                              bool* ACutShort) {
    AListed = false;
    if (ACutShort)
        *ACutShort = false;
    if (AMode == blNone)
        return true;
    if (AServices->Count() == 0) {
        Log(QStringLiteral("No %1 Services").arg(AKind));
        ++FCounters.BLChecksFailed;
        return false;
    }
    QString Zone = AServices->Get(NextIndex(AServiceCounter, AServices->Count())).trimmed();
    // The root's "." would end up inside the query name.
    if (Zone.endsWith(QLatin1Char('.')))
        Zone.chop(1);
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
        }, /* a NODATA reply: the zone holds no A record for it, so no listing */ true);
    // Fails closed: an item whose check did not finish is not written, in
    // either mode, and the check did not fail either.
    if (Outcome == loCutShort) {
        if (ACutShort)
            *ACutShort = true;
        return false;
    }
    bool Failed = Outcome == loFailed;
    if (Outcome == loAnswered) {
        // A listing is an address in 127.0.0.0/8; 127.255.255.0/24 holds the
        // zone's error codes, and anything else is no answer a zone should give.
        bool Listed = false, Refused = false, Odd = false;
        quint32 RefusalValue = 0;
        QString Refusal, Unexpected;
        // The client's answers only: records of the name asked (glue of a
        // server inside the zone, records of other names) never count.
        for (const TResultRecord* Rec : AClient->Answers()) {
            const QString Text = static_cast<const TARecord*>(Rec)->IPAddress();
            quint32 IP;
            QString IPText;
            if (!ParseAddressLine(Text, IP, IPText) || (IP >> 24) != 127) {
                if (!Odd)
                    Unexpected = IPText.isEmpty() ? QStringLiteral("\"%1\"").arg(Text) : IPText;
                Odd = true;
            } else if (IsRefusal(IP)) {
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
    // (unless the user chose to drop it) and keeps it out in out mode.
    if (Failed) {
        ++FCounters.BLChecksFailed;
        if (FCheckFailDrop)
            return false;
    }
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

bool TQXUtils::ProcessAddress(const QString& AIPText, const QString& ADomain, const QString& ARBLQuery, bool AIPv6,
                              bool AFromDomain, TWorkerState& AState) {
    // Checked first: a blocklist query for an address never written is wasted.
    if (!AddressWritable(AIPText))
        return true;
    // Each family has its own zones: an IPv4 zone knows nothing of IPv6
    // addresses, so rotating one address over both would pass listed ones.
    TStringList* Zones = AIPv6 ? FRBL6Services : FRBLServices;
    if (FRBLMode != blNone && Zones->Count() == 0 && (AIPv6 ? FRBLServices : FRBL6Services)->Count() > 0) {
        // A check that cannot be made: the address is not written.
        LogOnce(AIPv6 ? QStringLiteral("RBL no zones 6") : QStringLiteral("RBL no zones 4"),
                AIPv6 ? QStringLiteral("No RBL Services for IPv6 addresses: they are not written")
                      : QStringLiteral("No RBL Services for IPv4 addresses: they are not written"));
        ++FCounters.BLChecksFailed;
        return true;
    }
    bool Listed = false, CutShort = false;
    const bool Passed = CheckBLService(FRBLMode, QStringLiteral("RBL"), ARBLQuery, Zones, AState.RBLCounter,
                                       AState.ServerCounter, AState.RBLClient.get(), Listed, &CutShort);
    if (CutShort) {
        if (FDetailedLog)
            Log(QStringLiteral("Cut short by Break: %1").arg(AIPText));
        return false;
    }
    if (FDetailedLog) {
        if (AFromDomain)
            Log((Listed ? QStringLiteral("RBL blacklisted IP: %1 (domain: %2)") : QStringLiteral("IP: %1 (domain: %2)"))
                    .arg(AIPText, ADomain));
        else
            Log((Listed ? QStringLiteral("RBL blacklisted IP: %1") : QStringLiteral("IP: %1")).arg(AIPText));
    }
    if (Passed)
        EmitAddress(AIPText, ADomain, AIPv6);
    return true;
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

} // namespace

bool TQXUtils::TakeLine(QString& ALine) {
    bool Cut = false;
    bool NoteUTF16 = false;
    QString ReadError;  // set for the worker that met the error first
    for (;;) {
        bool Wait = false;
        {
            std::lock_guard<std::mutex> Lock(FReadCS);
            // After a read error the input is not touched again.
            if (!FInputReadError.isEmpty())
                return false;
            try {
                // A pipe or FIFO without a whole line yet is waited for below,
                // without the lock: the other workers and Break never wait on it.
                Wait = !FSourceLineReader->LineReady();
                if (!Wait) {
                    if (FSourceLineReader->EndOfLines())
                        return false;
                    ALine = TrimLine(FSourceLineReader->ReadLine());
                    // A line beyond the reader's cut goes whole: its tail read as
                    // a line of its own could be a name the line never meant (the
                    // end of a comment).
                    Cut = FSourceLineReader->LastLineCut();
                    if (Cut)
                        FSourceLineReader->SkipLineTail();
                }
            } catch (const EStreamReadError& E) {
                FInputReadError = E.Reason().isEmpty() ? QStringLiteral("Unknown error") : E.Reason();
                ReadError = FInputReadError;
                Wait = false;
            }
            if (!Wait && ReadError.isEmpty()) {
                NoteUTF16 = !FUTF16Noted && FSourceLineReader->GuessedUTF16();
                FUTF16Noted = FUTF16Noted || NoteUTF16;
                // The progress moves when the line is done (TLineDone), by the
                // bytes or the one line it took.
                if (FSourceMode == srcFile) {
                    const qint64 Position = FSourceLineReader->StreamPosition();
                    TakenLineStep = Position - FTakenPosition;
                    FTakenPosition = Position;
                } else {
                    TakenLineStep = 1;
                }
            }
        }
        if (!Wait)
            break;
        if (Terminated())
            return false;
        FSourceLineReader->WaitForInput(FInputWakes ? -1 : 100);
    }
    if (!ReadError.isEmpty()) {
        // The run ends as an error; what was read before stays worked.
        Log(QStringLiteral("Cannot read %1. %2").arg(InputName(), ReadError));
        SetTerminated(true);
        return false;
    }
    if (NoteUTF16)
        Log(QStringLiteral("Read as UTF-16 without a byte-order mark."));
    if (Cut) {
        ++FCounters.Skipped;
        if (FDetailedLog)
            Log(QStringLiteral("Line too long: %1").arg(Printable(ALine.left(60))));
        ALine.clear();
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
        if (!ProcessAddress(IPText, IPText, ReverseIPv4(Value), false, false, AState))
            ++FCounters.CutShort;
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
    if (FNameHook)
        FNameHook(AItem);
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
    if (!ProcessAddress(Text, Text, IPv6QueryName(AAddress), true, false, AState))
        ++FCounters.CutShort;
}

TQXUtils::TItemResult TQXUtils::WorkDomain(const QString& ALine, TWorkerState& AState) {
    // The zone follows the name, so a final "." of the name must go.
    const QString Name = ALine.endsWith(QLatin1Char('.')) ? ALine.chopped(1) : ALine;
    bool Listed, CutShort;
    const bool Passed = CheckBLService(FDBLMode, QStringLiteral("DBL"), Name, FDBLServices, AState.DBLCounter,
                                       AState.ServerCounter, AState.DBLClient.get(), Listed, &CutShort);
    if (CutShort) {
        ++FCounters.CutShort;
        if (FDetailedLog)
            Log(QStringLiteral("Cut short by Break: %1").arg(ALine));
        return irNext;
    }
    if (Listed && FDetailedLog)
        Log(QStringLiteral("DBL blacklisted domain: %1").arg(ALine));
    if (!Passed)
        return irNext;

    if (FDNSList->Count() == 0) {
        Log(QStringLiteral("No DNS Hosts."));
        return irStop;
    }
    ++FCounters.Domains;
    // Each lookup counts on its own; the name is missing only when every
    // lookup asked for it said so.
    int Asked = 0, NotFound = 0;
    CutShort = false;
    // Works one lookup's records; false once a Break cut an address short.
    // Whatever was fully checked before the Break stays written.
    const auto WorkAnswers = [&](TIdDNSResolver* AClient, bool AIPv6) {
        for (const TResultRecord* Rec : AClient->Answers()) {
            QString IPText, Query;
            if (AIPv6) {
                TIPv6Address IP;
                if (!ParseIPv6Address(static_cast<const TAAAARecord*>(Rec)->Address(), IP))
                    continue;
                IPText = FormatIPv6(IP);
                Query = IPv6QueryName(IP);
            } else {
                // An A record without data has no address text; the parser
                // would take the empty text for 0.0.0.0 and emit an empty address.
                quint32 IP;
                if (!ParseAddressLine(static_cast<const TARecord*>(Rec)->IPAddress(), IP, IPText))
                    continue;
                Query = ReverseIPv4(IP);
            }
            // The remaining addresses of a stopped run are never checked.
            if (Terminated() || !ProcessAddress(IPText, ALine, Query, AIPv6, true, AState))
                return false;
        }
        return true;
    };
    const auto LookUp = [&](TIdDNSResolver* AClient, bool AIPv6) {
        const TLookupOutcome Outcome =
            LookupWithRetries(AClient, AState.ServerCounter, ALine, [&](const QString& AServer) {
                if (FDetailedLog)
                    Log((AIPv6 ? QStringLiteral("Resolving domain \"%1\" for IPv6 (dns server: %2)...")
                               : QStringLiteral("Resolving domain \"%1\" (dns server: %2)..."))
                            .arg(ALine, AServer));
            }, true);
        switch (Outcome) {
        case loCutShort:
            CutShort = true;
            return;
        case loFailed:
            ++Asked;
            ++FCounters.LookupsFailed;
            return;
        case loNotFound:
            ++Asked;
            ++NotFound;
            return;
        case loAnswered:
            ++Asked;
            if (!WorkAnswers(AClient, AIPv6))
                CutShort = true;
            return;
        }
    };
    if (IPv4On())
        LookUp(AState.Client.get(), false);
    if (IPv6On() && !CutShort)
        LookUp(AState.Client6.get(), true);
    if (CutShort) {
        ++FCounters.CutShort;
        if (FDetailedLog)
            Log(QStringLiteral("Cut short by Break: %1").arg(ALine));
    } else if (Asked > 0 && NotFound == Asked) {
        ++FCounters.NotFound;
    }
    return irPause;
}

QString TQXUtils::DNSServerError() const {
    std::lock_guard<std::mutex> Lock(FServersCS);
    return FDNSServerError;
}

bool TQXUtils::PrepareDNSServers() {
    // The first worker looks the names up for all; the others wait for it,
    // which a Break cuts short as it cuts the look-ups themselves.
    std::lock_guard<std::mutex> Lock(FServersCS);
    if (FServersReady)
        return FDNSServerError.isEmpty();
    QHash<QString, TDNSServerEntry> Entries;
    for (int I = 0; I < FDNSList->Count(); ++I) {
        const QString Text = FDNSList->Get(I).trimmed();
        TDNSServerEntry Entry;
        if (Entries.contains(Text) || !ParseDNSServerEntry(Text, 53, Entry) || Entry.Kind != TDNSServerEntry::skName)
            continue;
        QString Error;
        switch (LookUpDNSServer(Entry, FDNSTimeoutMSec, [this] { return Terminated(); }, &Error)) {
        case slFound:
            Entries.insert(Text, Entry);
            break;
        case slAborted:
            return false;
        case slNotFound:
            // No query goes out: a server that cannot be reached would fail
            // its share of the lookups, a silent gap in the output.
            FServersReady = true;
            FDNSServerError = Text;
            Log(QStringLiteral("Cannot resolve DNS server: %1").arg(Text) +
                (FDetailedLog ? QStringLiteral(" (%1)").arg(Error) : QString()));
            SetTerminated(true);
            return false;
        }
    }
    // The workers read these only after they passed the lock above.
    for (const TDNSServerEntry& Entry : std::as_const(Entries))
        AddServerAddress(FServerAddresses, Entry);
    FServerEntries = Entries;
    FServersReady = true;
    return true;
}

void TQXUtils::DoResolve(TUtilsThread* AThread) {
    if (!CheckInitialized())
        return;
    ++FRunWorkers;
    TWorkerState State;
    State.ServerCounter = AThread->ThreadNumber();
    State.DBLCounter = State.ServerCounter;
    State.RBLCounter = State.ServerCounter;
    try {
        if (FDetailedLog)
            Log(QStringLiteral("%1 Thread Initialized.").arg(kResolveDomains));
        // No clean end: a run refused for its servers completes nothing.
        if (!PrepareDNSServers())
            return;
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
            if (!TakeLine(Line)) {
                // A wait for input cut short by Break, or a read error (which
                // stops the run), is no end of the input.
                if (!Terminated())
                    ++FRunCleanEnds;
                break;
            }
            const TLineDone Done{FProgress};
            if (Line.isEmpty())
                continue;
            Normalizer.Normalize(Line, Normalized);
            if (FExceptionsStreamed && (!Normalized.ExceptName.isEmpty() || !Normalized.Cancels.isEmpty())) {
                std::unique_lock<std::shared_mutex> Lock(FExceptionsCS);
                FExceptions.Note(Normalized);
                FExceptionsAny = true;
            }
            if (FExceptionsAny && !Normalized.RuleKey.isEmpty()) {
                std::shared_lock<std::shared_mutex> Lock(FExceptionsCS);
                FExceptions.Apply(Normalized);
            }
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
        NoteRunError(std::current_exception());
    }
    // A log file that failed fails this line too; the error is noted already.
    try {
        if (FDetailedLog)
            Log(QStringLiteral("%1 Thread Completed.").arg(kResolveDomains));
    } catch (...) {
    }
}

void TQXUtils::NoteRunError(std::exception_ptr AError) {
    const QString Message = TLog::ExceptionMessage(AError);
    {
        // The first error is the run's: every worker meets the same full
        // disk, and closing the file meets it again.
        std::lock_guard<std::mutex> Lock(FInitCS);
        if (FRunError.isEmpty())
            FRunError = Message.isEmpty() ? QStringLiteral("Unknown error") : Message;
    }
    // Once per run, not once per worker. A log that cannot take it (the
    // log file is what failed) has it in the run's error all the same.
    try {
        LogOnce(QStringLiteral("error ") + Message, Message);
    } catch (...) {
    }
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
