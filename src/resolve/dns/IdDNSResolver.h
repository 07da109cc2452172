#pragma once

#include "resolve/dns/IdDNSRecords.h"
#include "resolve/dns/IdDNSServer.h"
#include "resolve/dns/IdExceptions.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>


enum TIdIPVersion { Id_IPv4 = 0, Id_IPv6 = 1 };

// The six header fields of a DNS message, in host order.
class TDNSHeader {
public:
    quint16 ID = 0;
    quint16 BitCode = 0;    // the flags word
    quint16 QDCount = 0;
    quint16 ANCount = 0;
    quint16 NSCount = 0;
    quint16 ARCount = 0;

    int RCode() const { return BitCode & 0x0F; }
    bool TC() const { return (BitCode & 0x0200) != 0; }
    void ClearByteCode() { BitCode = 0; }
    // The 12 header bytes in network order.
    QByteArray GenerateBinaryHeader() const;
    // Reads the 12 header bytes of AMessage; a shorter message leaves the fields unchanged.
    void ParseQuery(const QByteArray& AMessage);
};

// Sends one DNS question over UDP to one server, waits for its reply, checks it
// and decodes its records into QueryResult. One instance per thread.
//
// Every query carries an EDNS0 OPT record offering a 1232-byte UDP payload,
// so most answers fit one datagram (a server that answers FORMERR without
// EDNS0 of its own is asked once more without it). A reply with TC set is never taken: the
// question goes again over TCP to the same server, within what is left of
// WaitingTime; a TCP reply with TC set fails the lookup. The UDP sockets
// belong to the thread, not to the lookup: all clients of a thread share one
// per server, so no server learns the source port used for another, and it is
// replaced by a fresh one (a new random source port) every kLookupsPerSocket
// lookups and after any error, time-out or abort. Since a socket outlives its
// lookups, a datagram counts as the reply only when it comes from the server's
// address and port and carries the query's identifier and its one question
// (name, type, class); anything else (a late reply to an earlier query, a
// forgery, a bare header) is read and dropped, and the wait goes on.
//
// Answers() holds what the reply says of the question: the records of the
// asked type in the answer section, class IN, owned by the name asked or by
// the last name of the CNAME chain starting at it. A chain that ends without
// such a record is followed by asking its last name, up to kMaxChainNames
// names in all.
//
//   TIdDNSResolver R;
//   R.SetIPVersion(Id_IPv4);
//   R.SetQueryType({qtA});
//   R.SetHost("127.0.0.1:5353");         // ":<port>" overrides Port for this text
//   R.SetWaitingTime(2000);
//   R.QueryResult().Clear();
//   R.Resolve("www.example.com");        // raises EIdException descendants
//   for (const TResultRecord* Rec : R.Answers())
//       use(static_cast<const TARecord*>(Rec)->IPAddress());
class TIdDNSResolver {
public:
    TIdDNSResolver();
    ~TIdDNSResolver();
    TIdDNSResolver(const TIdDNSResolver&) = delete;
    TIdDNSResolver& operator=(const TIdDNSResolver&) = delete;

    // Settings.
    const QString& Host() const { return FHost; }
    void SetHost(const QString& AValue) { FHost = AValue; }
    quint16 Port() const { return FPort; }
    void SetPort(quint16 AValue) { FPort = AValue; }
    TIdIPVersion IPVersion() const { return FIPVersion; }
    void SetIPVersion(TIdIPVersion AValue) { FIPVersion = AValue; }
    TQueryType QueryType() const { return FQueryType; }
    void SetQueryType(const TQueryType& AValue) { FQueryType = AValue; }
    int WaitingTime() const { return FWaitingTime; }
    void SetWaitingTime(int AValue) { FWaitingTime = AValue; }
    bool AllowRecursiveQueries() const { return FAllowRecursiveQueries; }
    void SetAllowRecursiveQueries(bool AValue) { FAllowRecursiveQueries = AValue; }
    // Asked before a lookup and every kAbortPollMSec while it waits for the
    // reply: true ends the lookup at once, as a time-out ends it, so a stop
    // request never waits for a silent server. WaitingTime stays the upper
    // bound. Called on the lookup's thread; empty means never.
    using TAbortCheck = std::function<bool()>;
    static constexpr int kAbortPollMSec = 50;
    const TAbortCheck& AbortCheck() const { return FAbortCheck; }
    void SetAbortCheck(TAbortCheck AValue) { FAbortCheck = std::move(AValue); }
    // The last Resolve was ended by the abort check (no reply was taken).
    bool Aborted() const { return FAborted; }
    // Asked before every query goes on the wire (the TCP one after a
    // truncated reply included). It may wait, e.g. for a run-wide rate limit,
    // and returns false when a stop request ended the wait; the lookup then
    // ends as one cut short by the abort check. Empty means go at once.
    using TQueryGate = std::function<bool()>;
    void SetQueryGate(TQueryGate AValue) { FQueryGate = std::move(AValue); }
    // Waits AMSec (before a retry), asking the abort check every
    // kAbortPollMSec. False when cut short; the client then reads as aborted,
    // as a lookup cut short does.
    bool Pause(int AMSec);
    // The last Resolve got a truncated reply and asked again over TCP.
    bool UsedTCP() const { return FUsedTCP; }
    // The last Resolve failed on a broken reply (one that does not decode
    // whole, or is cut over TCP): worth asking again, and never "no record".
    bool BadReply() const { return FBadReply; }
    // Told of what a reply held besides the answers, once per reply.
    using TNote = std::function<void(const QString& AText)>;
    void SetNote(TNote AValue) { FNote = std::move(AValue); }
    // Server texts whose host names were looked up already (by the job, once
    // per run): a lookup on such a text asks no host-name resolver.
    void SetServerEntries(const QHash<QString, TDNSServerEntry>& AEntries);
    static constexpr int kMaxChainNames = 8;
    static constexpr int kLookupsPerSocket = 100;
    static constexpr quint16 kEdnsPayload = 1232;
    static constexpr int kOptRecordSize = 11;

    // State of the last lookup.
    // The records of the last Resolve that answer its question (see above);
    // they point into QueryResult.
    const QList<const TResultRecord*>& Answers() const { return FAnswers; }
    TQueryResult& QueryResult() { return FQueryResult; }
    const TQueryResult& QueryResult() const { return FQueryResult; }
    TDNSHeader& DNSHeader() { return FDNSHeader; }
    const QByteArray& InternalQuery() const { return FInternalQuery; }
    const QByteArray& PlainTextResult() const { return FPlainTextResult; }

    // One lookup. ASOARR serves zone transfers only and is ignored; AQClass is
    // the question class (1 = IN).
    void Resolve(const QString& ADomain, TResultRecord* ASOARR = nullptr, quint16 AQClass = 1);

    void ClearInternalQuery() { FInternalQuery.clear(); }
    void CreateQuery(const QString& ADomain, TResultRecord* ASOARR, quint16 AQueryClass);
    // Validates a reply to the query in DNSHeader and decodes it.
    void FillResult(const QByteArray& AResult);
    void ParseAnswers(const QByteArray& AResult);

    // Everything Resolve does once a datagram has arrived, without a socket:
    // takes AReply as the reply to a query with identifier AQueryId.
    void ProcessReply(const QByteArray& AReply, quint16 AQueryId);

    // The name as the question carries it: length-prefixed parts and a 0 byte.
    static QByteArray EncodeName(const QString& ADomain);

private:
    struct TServer {
        int Family = 0;           // AF_INET or AF_INET6
        quint8 Address[16] = {};  // network order; 4 bytes for AF_INET
        quint16 Port = 0;
    };
    using TClock = std::chrono::steady_clock;
    // False when the abort check ended the host-name look-up.
    bool ResolveServer(TServer& AServer);
    // One query for ADomain and its reply, checked and decoded.
    void AskOnce(const QString& ADomain, TResultRecord* ASOARR, quint16 AQClass);
    // Fills Answers from the reply to ADomain. AChain holds the names met so
    // far (lower case). Returns the name to ask next, or empty when done.
    QString JudgeAnswers(const QString& ADomain, QStringList& AChain);
    QByteArray Exchange(const TServer& AServer, TClock::time_point ADeadline);
    QByteArray ExchangeTCP(const TServer& AServer, TClock::time_point ADeadline);
    // The datagram is the reply to the query in flight: same identifier, and
    // the same question (letter case aside).
    bool IsReplyToQuery(const char* AData, int ASize) const;
    // Waits for the handle until ADeadline in abort-check slices; 0 on time-out
    // or abort (FAborted tells which), else the poll events.
    int WaitFor(int AHandle, short AEvents, TClock::time_point ADeadline);
    void AfterReceive();

    QString FHost;
    quint16 FPort = 53;
    TIdIPVersion FIPVersion = Id_IPv4;
    TQueryType FQueryType;
    int FWaitingTime = 5000;
    bool FAllowRecursiveQueries = true;
    TAbortCheck FAbortCheck;
    bool FAborted = false;
    bool FUsedTCP = false;
    bool FBadReply = false;
    TNote FNote;
    QList<const TResultRecord*> FAnswers;
    int FQuestionCount = 0;   // questions of the stored query
    int FQuestionSize = 0;    // their bytes, after the header
    TQueryGate FQueryGate;
    // Parsed server entries by text, host names by the address found.
    QHash<QString, TDNSServerEntry> FEntries;

    TQueryResult FQueryResult;
    TDNSHeader FDNSHeader;
    QByteArray FInternalQuery;
    QByteArray FPlainTextResult;
    int FDecodedCount = 0;   // records added from the reply being handled
};
