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
