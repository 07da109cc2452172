#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// A UDP relay on a free loopback port in front of one DNS server, which loses
// or refuses chosen questions the way a lossy path or a busy resolver does,
// deterministically. Every other question is passed on over a socket of its
// own, and the server's reply goes back to the asker.
//
//   TLossyUdpRelay Relay(Servers.DnsPort(), TLossyUdpRelay::DropEveryNth(20));
//   Utils.AssignDNSList(...Relay.Address()...);
//   ... Relay.Dropped() questions went unanswered.
class TLossyUdpRelay {
public:
    enum TAction { raForward, raDrop, raServFail, raRefused };
    // Given the question's name (dotted, as asked) and the datagram's number
    // (1 for the first the relay received), says what to do with it.
    using TRule = std::function<TAction(const QString& AName, int ANumber)>;

    explicit TLossyUdpRelay(quint16 ATargetPort, TRule ARule = {});
    ~TLossyUdpRelay();
    TLossyUdpRelay(const TLossyUdpRelay&) = delete;
    TLossyUdpRelay& operator=(const TLossyUdpRelay&) = delete;

    void SetRule(TRule ARule);
    bool IsListening() const { return FSocket >= 0; }
    quint16 Port() const { return FPort; }
    QString Address() const;   // "127.0.0.1:<port>"

    int Received() const { return FReceived; }
    int Dropped() const { return FDropped; }
    int Refused() const { return FRefused; }   // answered SERVFAIL or REFUSED by the relay
    void ResetCounts();

    // Drops the Nth, 2Nth, ... datagram.
    static TRule DropEveryNth(int N);
    // The first question for each name meets AFirst (by default it is lost);
    // every later one for that name is passed on. A new rule starts afresh.
    static TRule FailFirstAsk(std::function<TAction(const QString& AName)> AFirst = {});
    // The dotted question name of a query, or empty when it does not parse.
    static QString QuestionName(const QByteArray& AQuery);
    // AQuery turned into a reply with no records and the given RCODE.
    static QByteArray ErrorReply(const QByteArray& AQuery, int ARCode);

private:
    void Run();

    int FSocket = -1;
    quint16 FPort = 0;
    quint16 FTargetPort;
    std::atomic<bool> FStop{false};
    std::atomic<int> FReceived{0}, FDropped{0}, FRefused{0};
    std::mutex FLock;
    TRule FRule;
    std::thread FThread;
};
