#pragma once

#include "containers/uStringList.h"
#include "engine/HTTPUtilsUnit.h"
#include "engine/UtilsUnit.h"
#include "resolve/dns/IdDNSRecords.h"
#include "resolve/dns/IdDNSServer.h"
#include "resolve/uAddressText.h"
#include "resolve/uDomainLines.h"
#include "resolve/uQueryPacer.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>

// The run's input could not be read: AfterStop raises it after the summary.
VT_DECLARE_EXCEPTION(EInputReadError, EFileError)

class TIdDNSResolver;
class TLineReader;
class TLineWriter;
class TLog;
class TProgress;
class TOutputFile;
class TRuleWriter;
struct TNormalizedLine;
struct TRuleWriterSettings;

// Where the input lines of a run come from.
enum TQXSourceMode : quint8 { srcList = 0, srcFile = 1 };
// Where the output lines of a run go.
enum TQXResultMode : quint8 { outList = 0, outFile = 1, outListNew = 2 };
// How a blocklist answer is used: not consulted, drop listed items, keep only listed items.
enum TBLMode : quint8 { blNone = 0, blSuppress = 1, blSave = 2 };
// Which addresses a run deals in: A records and IPv4 lines only, AAAA records
// and IPv6 lines only, or both.
enum TQXAddressFamily : quint8 { afIPv4 = 0, afIPv6 = 1, afBoth = 2 };

// What one run did, counted as it went. Every line taken counts in Lines
// (blank ones too). A domain counts in Domains once its lookups are made (A,
// AAAA or both, as the address family asks), however many attempts they took.
// LookupsFailed counts lookups, not domains: with both families a domain's A
// and AAAA lookups are two, and each that got no usable answer counts. A
// domain is NotFound only when every lookup asked for it said the name does
// not exist. BLChecksFailed counts blocklist checks that got no usable answer,
// an error code of the zone, or could not be made (no zone for the address's
// family). Written counts lines that reached their target: in a file run only
// once the file is closed without error. Skipped counts lines, and the pieces
// of a line (a name on a hosts line), that are neither an address nor a name
// that can be asked, filter rules that narrow the block, and address lines of
// a family the run does not deal in; comment lines are read lines, not skipped
// ones. CutShort counts items (an address line, a domain) whose lookup or
// check a Break cut short: they are neither written nor counted as failed.
struct TQXRunCounters {
    qint64 Lines = 0;
    qint64 Domains = 0;
    qint64 NotFound = 0;
    qint64 LookupsFailed = 0;
    qint64 BLChecksFailed = 0;
    qint64 Written = 0;
    qint64 Duplicates = 0;
    qint64 Skipped = 0;
    qint64 CutShort = 0;
    // Failed lookups and checks whose last attempt timed out or was refused
    // by the server (SERVFAIL, REFUSED, a socket error): those more Retries
    // may still get answered. The others need other servers or zones.
    qint64 Unanswered = 0;
    // The output could not take the lines: the summary says so where it
    // would give the lines written.
    bool OutputFailed = false;
    // The run did not go to the end of its input (a Break, a signal, an
    // error): the summary begins "Broken off:" instead of "Done:".
    bool Broken = false;
};

// The resolve job: takes input lines, checks them against DNS blocklists,
// resolves domains to their A records and writes one formatted line per
// accepted address. One object lives as long as the window (or the command
// line run); the window fills it before every run.
class TQXUtils : public THTTPUtils {
public:
    TQXUtils(TProgress* AProgress, TLog* ALog);
    ~TQXUtils() override;

    // Each replaces the list's content by the non-empty lines of the source,
    // unchanged (a line of blanks stays).
    void AssignDomainList(const TStringList* ADomainList);
    void AssignDNSList(const TStringList* ADNSList);
    void AssignDBLServices(const TStringList* ADBLServices);
    void AssignRBLServices(const TStringList* ARBLServices);
    // The zones that check IPv6 addresses; RBLServices check IPv4 ones only.
    void AssignRBL6Services(const TStringList* ARBL6Services);

    // The worker body; every TQXUtilsThread of a run executes it.
    virtual void DoResolve(TUtilsThread* AThread);

    // Starts Threads() resolve workers numbered 1.., stopping early once the run
    // is terminated. With Threads() of 0 or less the run ends without workers:
    // at once, or through the run's service thread when that is alive.
    // Called from the progress controller's OnStart, after BeforeStart.
    void StartResolveThreads();

    // Address line with an optional "/prefix" (0..32, checked, not used). The
    // value is that of the part before the "/". The lenient form, kept for
    // what the parser accepts; input lines go through ParseAddressLine.
    static bool ParseIPEntry(const QString& S, quint32& AValue);
    // An input line that is an address: one to four parts of digits ("0x"
    // hexadecimal and leading-zero octal included), none empty, each fitting
    // the bytes it fills, and an optional "/prefix" of 0 to 32. AText is what
    // the output carries: the dotted quad of AValue, plus "/prefix" when given.
    static bool ParseAddressLine(const QString& S, quint32& AValue, QString& AText);
    // A name a DNS server can be asked: letters, digits, "-" and "_" in labels
    // of 1 to 63 characters, at most 253 characters in all (one final "." allowed).
    static bool IsQueryableName(const QString& S);
    // A blocklist zone a query name can end in: the labels of a queryable
    // name, at most 253 characters, none empty; blanks around it and one
    // final "." are allowed, as the job trims them.
    static bool IsZoneName(const QString& S);
    // The first zone of a blocklist in use (DBL, RBL, RBL6) that is no zone
    // name, trimmed; empty when every one is. Its queries would be malformed,
    // every check would fail and suppress mode would write everything.
    QString BadZoneName() const;
    // A line the job works as it stands: an address line (IPv4 or IPv6) or a
    // name that can be asked. Only other lines go through the line normalizer
    // (hosts lines, filter rules, URLs, wildcards, international names, comments).
    static bool IsWorkableLine(const QString& S);
    // "a.b.c.d" with the most significant byte first.
    static QString FormatIPv4(quint32 AValue);
    // The DNSBL query text of an address: its bytes from the least significant up.
    static QString ReverseIPv4(quint32 AValue);
    // Round robin over ACount entries; returns the index to use and advances ACounter.
    static int NextIndex(int& ACounter, int ACount);
    // The output line for one accepted address; AIPv6 picks CustomOutFormat6
    // when it is set.
    QString FormatOutLine(const QString& AIPText, const QString& ADomain, bool AIPv6 = false) const;

    TQXSourceMode SourceMode() const { return FSourceMode; }
    void SetSourceMode(TQXSourceMode Value) { FSourceMode = Value; }
    TQXResultMode ResultMode() const { return FResultMode; }
    void SetResultMode(TQXResultMode Value) { FResultMode = Value; }
    TStringList* DomainList() const { return FDomainList; }
    QString DomainListFile() const { return FDomainListFile; }
    void SetDomainListFile(const QString& Value) { FDomainListFile = Value; }
    TStringList* ResultList() const { return FResultList; }
    TStringList* AddedList() const { return FAddedList; }
    QString ResolvedListFile() const { return FResolvedListFile; }
    void SetResolvedListFile(const QString& Value) { FResolvedListFile = Value; }
    bool OutFileBOM() const { return FOutFileBOM; }
    void SetOutFileBOM(bool Value) { FOutFileBOM = Value; }
    QString OutFileLineBreak() const { return FOutFileLineBreak; }
    void SetOutFileLineBreak(const QString& Value) { FOutFileLineBreak = Value; }
    // outFile runs: lines written first and (by a completed run) last in the
    // output file, and in the IPv6 file when it is one of its own. The file
    // is written whole: a temporary file beside it replaces it only when the
    // run completed; otherwise the previous file stays and the log says so.
    void SetOutFileFrame(const QStringList& AHeader, const QStringList& AFooter) {
        FOutFileHeader = AHeader;
        FOutFileFooter = AFooter;
    }
    void SetOutFileFrame6(const QStringList& AHeader, const QStringList& AFooter) {
        FOutFileHeader6 = AHeader;
        FOutFileFooter6 = AFooter;
    }
    // The run's accepted addresses go into one document (a preset's whole
    // file, or the template's lines in address order) made when the run
    // ends: written to the output file by a completed run, put in the result
    // list by any run. Set it only between runs; ClearRuleDocument: off.
    void SetRuleDocument(const TRuleWriterSettings& ASettings);
    void ClearRuleDocument();
    // Whether a list run that did not complete gets its document (on by
    // default); a caller that passes the list on as a rule set turns it off.
    void SetRuleDocumentOnBreak(bool Value) { FRuleDocumentOnBreak = Value; }
    // The document's writer, or null: a caller may add entries of its own
    // (a state of earlier runs) under the write lock or between runs.
    TRuleWriter* RuleDocument() const { return FRuleDocument.get(); }
    // The current (or last) run went through its whole input: every worker
    // ended at the end of the input, none by a break, an error or a failure.
    // Outside a run (OpenRun and CloseRun called directly) there is nothing
    // to break, and this is true.
    bool RunCompleted() const { return !FInRun || (FRunWorkers > 0 && FRunCleanEnds == FRunWorkers); }
    TStringList* DNSList() const { return FDNSList; }
    TStringList* DBLServices() const { return FDBLServices; }
    TBLMode DBLMode() const { return FDBLMode; }
    void SetDBLMode(TBLMode Value) { FDBLMode = Value; }
    TStringList* RBLServices() const { return FRBLServices; }
    TStringList* RBL6Services() const { return FRBL6Services; }
    TBLMode RBLMode() const { return FRBLMode; }
    void SetRBLMode(TBLMode Value) { FRBLMode = Value; }
    QString OutFormat() const { return FOutFormat; }
    void SetOutFormat(const QString& Value) { FOutFormat = Value; }
    bool CustomOutFormat() const { return FCustomOutFormat; }
    void SetCustomOutFormat(bool Value) { FCustomOutFormat = Value; }
    // Which addresses the run deals in; afIPv4 by default.
    TQXAddressFamily AddressFamily() const { return FAddressFamily; }
    void SetAddressFamily(TQXAddressFamily Value) { FAddressFamily = Value; }
    bool IPv4On() const { return FAddressFamily != afIPv6; }
    bool IPv6On() const { return FAddressFamily != afIPv4; }
    // The template of IPv6 lines; empty: OutFormat serves both families.
    // Used, like OutFormat, only when CustomOutFormat is on.
    QString CustomOutFormat6() const { return FCustomOutFormat6; }
    void SetCustomOutFormat6(const QString& Value) { FCustomOutFormat6 = Value; }
    // The file of the IPv6 lines of an outFile run that deals in IPv6; empty,
    // or a name of the file ResolvedListFile names: that one file.
    QString ResolvedListFile6() const { return FResolvedListFile6; }
    void SetResolvedListFile6(const QString& Value) { FResolvedListFile6 = Value; }
    // In list modes the IPv6 lines go to ResultList6 (and, in outListNew runs,
    // the new ones to AddedList6) instead of sharing ResultList and AddedList
    // with the IPv4 lines; for a caller that writes the two families to
    // different places. Off by default. The duplicate test covers both.
    bool SeparateList6() const { return FSeparateList6; }
    void SetSeparateList6(bool Value) { FSeparateList6 = Value; }
    TStringList* ResultList6() const { return FResultList6; }
    TStringList* AddedList6() const { return FAddedList6; }
    // Pause after every looked-up domain; 0 for none.
    int PauseMSec() const { return FPauseMSec; }
    void SetPauseMSec(int Value) { FPauseMSec = Value; }
    // Reply wait of every DNS client created by the workers.
    int DNSTimeoutMSec() const { return FDNSTimeoutMSec; }
    void SetDNSTimeoutMSec(int Value) { FDNSTimeoutMSec = Value; }
    // How many times a lookup that timed out, hit a socket error or was
    // answered SERVFAIL or REFUSED is asked again, each time on the next
    // server of the rotation; 0 to 10.
    int DNSRetries() const { return FDNSRetries; }
    void SetDNSRetries(int Value) { FDNSRetries = qBound(0, Value, 10); }
    // srcFile runs read this open descriptor (standard input) instead of
    // DomainListFile when it is 0 or above; it is left open. -1 by default.
    int DomainListFd() const { return FDomainListFd; }
    void SetDomainListFd(int Value) { FDomainListFd = Value; }
    // Why the input of the current (or last) run could not be read (the
    // system's text), or empty; such a run ends as an error. InputName is
    // the file's name, or "standard input".
    QString InputReadError();
    QString InputName() const;
    // A streamed input's waiting workers block until input comes or
    // WakeInput is called, which the owner then promises to do at a Break;
    // otherwise they look at the Break every 100 ms.
    void SetInputWakes(bool Value);
    // Ends the waits for input, and the service threads' waits, of the
    // current run (a Break). Any thread.
    void WakeInput();
    // Queries per second for the whole run, shared by all workers and
    // counting every query (lookups, retries, blocklist checks); 0 for no
    // limit. Taken at the start of a run.
    int MaxQPS() const { return FMaxQPS; }
    void SetMaxQPS(int Value) { FMaxQPS = qBound(0, Value, 100000); }

    // Special addresses and blocks (see AddressCaution) are written as any
    // other, for lists that are no firewall input. Off by default.
    bool KeepSpecial() const { return FKeepSpecial; }
    void SetKeepSpecial(bool Value) { FKeepSpecial = Value; }
    // An item whose blocklist check failed is not written, in either mode.
    // Off by default: suppress mode passes it.
    bool CheckFailDrop() const { return FCheckFailDrop; }
    void SetCheckFailDrop(bool Value) { FCheckFailDrop = Value; }
    // Whether an address text (with its "/prefix") may be written. A special
    // address, a block covering one (the run's DNS servers' addresses count)
    // or a block too wide is not: it is counted as skipped and logged once
    // a run. Every address passes here before its line is made, whatever
    // gave it (an answer, a list line, a caller's saved addresses).
    bool AddressWritable(const QString& AIPText);

    // Called for every accepted address under the write lock, with its text
    // and its domain (an address line's own text for an address line), before
    // an output line is made of it. Returning true takes the address: no line
    // is written for it. It must not log (a full log waits for the main thread,
    // which may wait for the write lock). Set it only between runs.
    using TAddressHook = std::function<bool(const QString& AIPText, const QString& ADomain)>;
    void SetAddressHook(TAddressHook AHook) { FAddressHook = std::move(AHook); }
    // Called for every name of the list the run works (before its lookups,
    // from any worker, without a lock held), as the address hook gets it.
    using TNameHook = std::function<void(const QString& AName)>;
    void SetNameHook(TNameHook AHook) { FNameHook = std::move(AHook); }

    // The counts of the current (or last) run.
    TQXRunCounters RunCounters() const;
    // A lookup or a blocklist check of the current (or last) run failed.
    bool RunHadFailures() const;
    // The DNS server (as given) whose host name could not be looked up at
    // the start of the last run, which then sent no query; empty otherwise.
    QString DNSServerError() const;
    // The run's output lost lines (a caller that writes the lines itself says
    // so here); the summary then reports the failure instead of a count.
    void SetOutputFailed() { FCounters.OutputFailed = true; }
    // The owner broke the run off where the job could not see it (before its workers began).
    void SetRunBroken() { FCounters.Broken = true; }
    // For a caller that writes the output lines on to a place of its own: the
    // lines it took never reached that place (a file kept as it was).
    void DiscardWritten() { FCounters.Written = 0; }
    // The summary is logged by the caller through LogSummary once its own
    // output is closed, so that "lines written" tells what reached it.
    void SetDeferSummary(bool Value) { FDeferSummary = Value; }
    void LogSummary() { Log(SummaryText(RunCounters())); }
    // "Done: ..." as the log's last line of a run carries it.
    static QString SummaryText(const TQXRunCounters& ACounters);

    void BeforeStart() override;
    // Closes the run and logs its summary, whatever the mode of the log.
    void AfterStop() override;

protected:
    TUtilsThread* CreateWorker(const TUtilsThreadMethod& AMethod, const QString& AMethodName,
                               int AThreadNumber) override;
    void OpenRun() override;
    void CloseRun() override;

    // One blocklist lookup of AQuery in the next zone of AServices. Returns
    // whether the item passes under AMode; AListed tells whether it is listed.
    // A check a Break cut short never passes, is not counted as failed, and
    // sets ACutShort when given.
    bool CheckBLService(TBLMode AMode, const QString& AKind, const QString& AQuery, TStringList* AServices,
                        int& AServiceCounter, int& AServerCounter, TIdDNSResolver* AClient, bool& AListed,
                        bool* ACutShort = nullptr);
    // Emits one output line, with the duplicate test in outListNew runs.
    // AIPv6 sends it to the IPv6 writers when the run has its own for them.
    void WriteResult(const QString& ALine, bool AIPv6 = false);
    // One accepted address: to the address hook, else as an output line.
    void EmitAddress(const QString& AIPText, const QString& ADomain, bool AIPv6);

private:
    // loCutShort: a Break ended the lookup (or the retry it was due) before
    // an answer came; it says nothing about the name.
    enum TLookupOutcome { loAnswered, loNotFound, loFailed, loCutShort };
    // What working one item asks of the worker's loop: the next line, the
    // pause due after a domain first, or the end of the worker.
    enum TItemResult { irNext, irPause, irStop };
    // A worker's DNS clients and round-robin counters, kept for its whole body.
    struct TWorkerState;
    // Takes the next input line under the read lock, trimmed and counted;
    // false at the end of the input.
    bool TakeLine(QString& ALine);
    qint64 FTakenPosition = 0;  // under FReadCS: the file position the last line taken ended at
    // The exception rules and "$badfilter" cancels of a list or a regular
    // file, gathered before its first line is worked: they apply wherever
    // they stand. Those of a stream apply from where they appear.
    void GatherExceptions();
    // Counts and, in detailed mode, logs the pieces of ALine the normalizer dropped.
    void ReportSkips(const QString& ALine, const TNormalizedLine& ANormalized);

    // One lookup of AName on AServer with the client's question type (logged
    // in detailed mode when it raised). ARetry tells whether another attempt
    // may get an answer. ANoDataAnswers takes a reply without any record for
    // an answer: the name exists but has no record of the type asked.
    TLookupOutcome Lookup(TIdDNSResolver* AClient, const QString& AServer, const QString& AName,
                          bool ANoDataAnswers, bool& ARetry);
    // Lookup with the retries: every attempt takes the next server of the
    // rotation, announced through ABeforeAttempt. FDNSList must not be empty.
    TLookupOutcome LookupWithRetries(TIdDNSResolver* AClient, int& AServerCounter, const QString& AName,
                                     const std::function<void(const QString& AServer)>& ABeforeAttempt,
                                     bool ANoDataAnswers = false);
    // Logs AMessage unless AKey was logged before in this run.
    void LogOnce(const QString& AKey, const QString& AMessage);
    // An error that ended a worker or the closing of the run: logged once
    // per run, and the first one becomes the run's error (RunError), with
    // the target file's name.
    void NoteRunError(std::exception_ptr AError);
    TIdDNSResolver* NewClient(TQueryRecordTypes AType);
    // One input line (or item of a line), by its kind.
    TItemResult WorkItem(const QString& AItem, TWorkerState& AState);
    void WorkIPv6Line(const QString& ALine, const TIPv6Address& AAddress, int APrefix, TWorkerState& AState);
    TItemResult WorkDomain(const QString& ALine, TWorkerState& AState);
    // RBL check of ARBLQuery, the log line and the output line of one address.
    // False when a Break cut the check short: nothing was written.
    bool ProcessAddress(const QString& AIPText, const QString& ADomain, const QString& ARBLQuery, bool AIPv6,
                        bool AFromDomain, TWorkerState& AState);
    void AssignNonEmpty(TStringList* ATarget, const TStringList* ASource);

    TQXSourceMode FSourceMode = srcList;
    TQXResultMode FResultMode = outList;
    TStringList* FDomainList = nullptr;
    QString FDomainListFile;
    int FDomainListFd = -1;
    // Both under FReadCS: the first read error of the run, and whether the
    // UTF-16 guess was logged.
    QString FInputReadError;
    bool FUTF16Noted = false;
    bool FInputWakes = false;
    TStringList* FResultList = nullptr;
    TStringList* FAddedList = nullptr;
    QString FResolvedListFile;
    bool FOutFileBOM = false;
    QString FOutFileLineBreak;
    TLineReader* FSourceLineReader = nullptr;
    TLineWriter* FResultLineWriter = nullptr;  // list modes
    // outFile runs: the output files, replaced when the run completed.
    std::unique_ptr<TOutputFile> FResultFile, FResultFile6;
    std::unique_ptr<TRuleWriter> FRuleDocument;  // under FWriteCS during a run
    bool FRuleDocumentOnBreak = true;
    // Writes the rendered document to the run's writers.
    void WriteRuleDocument();
    // One line to the (IPv6) output file; throws EFileError when it fails.
    void AppendToFile(TOutputFile* AFile, const QString& ALine);
    TLineWriter* FAddedLineWriter = nullptr;
    TStringList* FDNSList = nullptr;
    TStringList* FDBLServices = nullptr;
    TBLMode FDBLMode = blNone;
    TStringList* FRBLServices = nullptr;
    TStringList* FRBL6Services = nullptr;
    TBLMode FRBLMode = blNone;
    QString FOutFormat;
    bool FCustomOutFormat = false;
    TQXAddressFamily FAddressFamily = afIPv4;
    QString FCustomOutFormat6;
    QString FResolvedListFile6;
    bool FSeparateList6 = false;
    TStringList* FResultList6 = nullptr;
    TStringList* FAddedList6 = nullptr;
    // The IPv6 lines' own writers; null when they share the IPv4 ones.
    TLineWriter* FResultLineWriter6 = nullptr;
    TLineWriter* FAddedLineWriter6 = nullptr;
    int FPauseMSec = 200;
    int FDNSTimeoutMSec = 5000;
    int FDNSRetries = 0;
    int FMaxQPS = 0;
    // Shared by every client of the run; the clients are made by a const member.
    mutable TQueryPacer FPacer;
    TAddressHook FAddressHook;
    TNameHook FNameHook;
    bool FDeferSummary = false;
    bool FKeepSpecial = false;
    bool FCheckFailDrop = false;
    // The run's DNS servers given by address, set before the workers start.
    TExtraSpecials FServerAddresses;
    // The input's exception rules (see GatherExceptions); written by workers
    // only when the input is a stream.
    TFilterExceptions FExceptions;
    std::shared_mutex FExceptionsCS;
    bool FExceptionsStreamed = false;
    std::atomic<bool> FExceptionsAny{false};
    QStringList FOutFileHeader, FOutFileFooter, FOutFileHeader6, FOutFileFooter6;
    // Workers of the run that began, and those that ended at the end of the input.
    std::atomic<int> FRunWorkers{0}, FRunCleanEnds{0};
    std::atomic<bool> FInRun{false};  // from BeforeStart to the end of AfterStop
    // The run's counts; workers add to them without a lock.
    struct {
        std::atomic<qint64> Lines{0}, Domains{0}, NotFound{0}, LookupsFailed{0}, BLChecksFailed{0}, Written{0},
            Duplicates{0}, Skipped{0}, CutShort{0}, Unanswered{0};
        // Lines handed to an output file that is not closed yet: they count
        // as written only once it closed without error.
        std::atomic<qint64> Pending{0};
        std::atomic<bool> OutputFailed{false};
        std::atomic<bool> Broken{false};
    } FCounters;
    // Zone notices already logged in this run.
    std::mutex FNoticeCS;
    // Host-name DNS servers, looked up once per run by the first worker
    // (PrepareDNSServers) before any query; guarded by FServersCS.
    bool PrepareDNSServers();
    mutable std::mutex FServersCS;
    bool FServersReady = false;
    QString FDNSServerError;
    QHash<QString, TDNSServerEntry> FServerEntries;
    QSet<QString> FNoticed;
    // Case-folded copy of every line in FResultList during an outListNew run, so
    // the duplicate test is one hash look-up instead of a scan of the list.
    QSet<QString> FResultIndex;
};

// A resolve worker. Registered with the log as "Veltrask thread"; frees itself
// when its body ends.
class TQXUtilsThread : public TUtilsThread {
public:
    TQXUtilsThread(TUtils* AUtils, TUtilsThreadMethod AMethod, int AThreadNumber, TThreadNotifyEvent AOnTerminate);
    ~TQXUtilsThread() override;

private:
    // The HTTP client slot of the thread class; a resolve worker never sets it.
    TObject* FHTTPCli = nullptr;
};
