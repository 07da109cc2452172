#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

// A DNS server on 127.0.0.1 that answers by script, over UDP and TCP on one
// port: several datagrams per question, from its own socket, from another
// port or from another address (127.0.0.2, same port); over TCP an answer,
// or a connection that is accepted and never answered.
class TScriptedDnsServer {
public:
    enum TFrom { frOwn, frOtherPort, frOtherAddress };
    struct TDatagram {
        QByteArray Bytes;
        TFrom From = frOwn;
    };
    using TUdpScript = std::function<QList<TDatagram>(const QByteArray& AQuery)>;
    // Nothing: accept the connection, read the question, never answer.
    using TTcpScript = std::function<std::optional<QByteArray>(const QByteArray& AQuery)>;

    // Without a TCP script no TCP port is opened (connections are refused).
    explicit TScriptedDnsServer(TUdpScript AUdp, TTcpScript ATcp = {});
    ~TScriptedDnsServer();
    TScriptedDnsServer(const TScriptedDnsServer&) = delete;
    TScriptedDnsServer& operator=(const TScriptedDnsServer&) = delete;

    bool IsListening() const { return FUdp >= 0; }
    quint16 Port() const { return FPort; }
    QString Address() const;              // "127.0.0.1:<port>"
    int UdpQueries() const { return FUdpQueries; }
    int TcpQueries() const { return FTcpQueries; }
    // The source ports the UDP questions came from.
    QSet<quint16> SourcePorts() const;

    // The reply a server gives: the query's header and question with QR, RD
    // and RA set, the given flags or-ed in, and one A record per address.
    static QByteArray AnswerOf(const QByteArray& AQuery, const QList<QByteArray>& AAddresses, quint16 AExtraFlags = 0);

    // Replies no real server sends, record by record: owners and classes of
    // any kind, sections in any order, the question left out.
    enum TSection { seAnswer, seAuthority, seAdditional };
    struct TRecord {
        QByteArray Owner;        // dotted; empty: the name asked
        quint16 Type = 1;
        QByteArray RData;
        quint16 Class = 1;
        TSection Section = seAnswer;
    };
    // The query's header with QR, RD, RA and AFlags set (RCODE included), its
    // question unless AQuestion is false, then ARecords (which must go in
    // section order).
    static QByteArray ReplyOf(const QByteArray& AQuery, const QList<TRecord>& ARecords, quint16 AFlags = 0,
                              bool AQuestion = true);
    // The name a query asks, dotted and in its own letter case.
    static QByteArray QueryName(const QByteArray& AQuery);
    static QByteArray Encoded(const QByteArray& ADotted);   // wire form, root byte included
    static QByteArray Ip(int A, int B, int C, int D);

private:
    void Run();

    TUdpScript FUdpScript;
    TTcpScript FTcpScript;
    int FUdp = -1, FOtherPort = -1, FOtherAddress = -1, FTcp = -1;
    quint16 FPort = 0;
    std::atomic<bool> FStop{false};
    std::atomic<int> FUdpQueries{0}, FTcpQueries{0};
    mutable std::mutex FLock;
    QSet<quint16> FSourcePorts;
    QList<int> FConnections;
    std::thread FThread;
};
