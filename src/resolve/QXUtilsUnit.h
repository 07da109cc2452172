#pragma once

#include "containers/uStringList.h"
#include "engine/HTTPUtilsUnit.h"
#include "engine/UtilsUnit.h"

#include <QSet>
#include <QString>

class TIdDNSResolver;
class TLineReader;
class TLineWriter;
class TLog;
class TProgress;

// Where the input lines of a run come from.
enum TQXSourceMode : quint8 { srcList = 0, srcFile = 1 };
// Where the output lines of a run go.
enum TQXResultMode : quint8 { outList = 0, outFile = 1, outListNew = 2 };
// How a blocklist answer is used: not consulted, drop listed items, keep only listed items.
enum TBLMode : quint8 { blNone = 0, blSuppress = 1, blSave = 2 };

// Parses dotted IPv4 text into a value whose most significant byte is the first
// octet. Error is cleared when the text is accepted. Shortened forms are
// accepted ("10.1" is 10.0.0.1, a single number is the whole value), a part
// wider than its byte is masked ("300" becomes 44), "0x" parts are hexadecimal
// and leading-zero parts octal. An empty part ends the parse early, so ".x"
// and "10..1" are accepted with the value gathered so far.
quint32 ParseIPv4(const QString& S, bool& Error);

// The integer conversion behind every part of an address and behind a prefix
// length. Exposed for the tests and the command line.
bool ConvertIPPart(const QString& APart, quint64& AValue);

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

    // The worker body; every TQXUtilsThread of a run executes it.
    virtual void DoResolve(TUtilsThread* AThread);

    // Starts Threads() resolve workers numbered 1.., stopping early once the run
    // is terminated. With Threads() of 0 or less the run ends without workers:
    // at once, or through the run's service thread when that is alive.
    // Called from the progress controller's OnStart, after BeforeStart.
    void StartResolveThreads();

    // Address line with an optional "/prefix" (0..32, checked, not used). The
    // value is that of the part before the "/".
    static bool ParseIPEntry(const QString& S, quint32& AValue);
    // The DNSBL query text of an address: its bytes from the least significant up.
    static QString ReverseIPv4(quint32 AValue);
    // Round robin over ACount entries; returns the index to use and advances ACounter.
    static int NextIndex(int& ACounter, int ACount);
    // The output line for one accepted address.
    QString FormatOutLine(const QString& AIPText, const QString& ADomain) const;

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
    TStringList* DNSList() const { return FDNSList; }
    TStringList* DBLServices() const { return FDBLServices; }
    TBLMode DBLMode() const { return FDBLMode; }
    void SetDBLMode(TBLMode Value) { FDBLMode = Value; }
    TStringList* RBLServices() const { return FRBLServices; }
    TBLMode RBLMode() const { return FRBLMode; }
    void SetRBLMode(TBLMode Value) { FRBLMode = Value; }
    QString OutFormat() const { return FOutFormat; }
    void SetOutFormat(const QString& Value) { FOutFormat = Value; }
    bool CustomOutFormat() const { return FCustomOutFormat; }
    void SetCustomOutFormat(bool Value) { FCustomOutFormat = Value; }
    // Pause after every looked-up domain; 0 for none.
    int PauseMSec() const { return FPauseMSec; }
    void SetPauseMSec(int Value) { FPauseMSec = Value; }
    // Reply wait of every DNS client created by the workers.
    int DNSTimeoutMSec() const { return FDNSTimeoutMSec; }
    void SetDNSTimeoutMSec(int Value) { FDNSTimeoutMSec = Value; }
    int DNSRetries() const { return FDNSRetries; }
    void SetDNSRetries(int Value) { FDNSRetries = Value; }

protected:
    TUtilsThread* CreateWorker(const TUtilsThreadMethod& AMethod, const QString& AMethodName,
                               int AThreadNumber) override;
    void OpenRun() override;
    void CloseRun() override;

    // One blocklist lookup of AQuery in the next zone of AServices. Returns
    // whether the item passes under AMode; AListed tells whether it is listed.
    bool CheckBLService(TBLMode AMode, const QString& AKind, const QString& AQuery, TStringList* AServices,
                        int& AServiceCounter, int& AServerCounter, TIdDNSResolver* AClient, bool& AListed);
    // Emits one output line, with the duplicate test in outListNew runs.
    void WriteResult(const QString& ALine);

private:
    // One A lookup of AName on AServer; false when it raised (logged in detailed mode).
    bool Lookup(TIdDNSResolver* AClient, const QString& AServer, const QString& AName);
    TIdDNSResolver* NewClient() const;
    // RBL check, its log line and the output line of one address.
    void ProcessAddress(const QString& AIPText, const QString& ADomain, quint32 AValue, bool AFromDomain,
                        int& ARBLCounter, int& AServerCounter, TIdDNSResolver* AClient);
    void AssignNonEmpty(TStringList* ATarget, const TStringList* ASource);

    TQXSourceMode FSourceMode = srcList;
    TQXResultMode FResultMode = outList;
    TStringList* FDomainList = nullptr;
    QString FDomainListFile;
    TStringList* FResultList = nullptr;
    TStringList* FAddedList = nullptr;
    QString FResolvedListFile;
    bool FOutFileBOM = false;
    QString FOutFileLineBreak;
    TLineReader* FSourceLineReader = nullptr;
    TLineWriter* FResultLineWriter = nullptr;
    TLineWriter* FAddedLineWriter = nullptr;
    TStringList* FDNSList = nullptr;
    TStringList* FDBLServices = nullptr;
    TBLMode FDBLMode = blNone;
    TStringList* FRBLServices = nullptr;
    TBLMode FRBLMode = blNone;
    QString FOutFormat;
    bool FCustomOutFormat = false;
    int FPauseMSec = 200;
    int FDNSTimeoutMSec = 5000;
    int FDNSRetries = 0;
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
