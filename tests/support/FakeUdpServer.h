#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

// A tiny UDP server on a free loopback port that answers every datagram with
// exactly the bytes a test hands it, for replies no real DNS server sends.
//
//   TFakeUdpServer Server([](const QByteArray& Q) { return TFakeUdpServer::WithIdOf(Q, Reply); });
//   Resolver.SetHost(Server.Address());      // "127.0.0.1:<port>"
class TFakeUdpServer {
public:
    // Gets the received datagram; returns the reply to send, or nothing to stay silent.
    using THandler = std::function<std::optional<QByteArray>(const QByteArray& AQuery)>;

    explicit TFakeUdpServer(THandler AHandler = {});
    ~TFakeUdpServer();
    TFakeUdpServer(const TFakeUdpServer&) = delete;
    TFakeUdpServer& operator=(const TFakeUdpServer&) = delete;

    void SetHandler(THandler AHandler);
    // Replies from a second socket (another source port) instead of the one asked.
    void SetReplyFromOtherPort(bool AValue) { FFromOtherPort = AValue; }

    bool IsListening() const { return FSocket >= 0; }
    quint16 Port() const { return FPort; }
    QString Address() const;                 // "127.0.0.1:<port>"
    int QueryCount() const;
    QList<QByteArray> Queries() const;
    // Waits (bounded) until at least ACount datagrams have arrived.
    bool WaitForQueries(int ACount, int ATimeoutMs) const;

    // AReply with its first two bytes replaced by the query's ID (when both are long enough).
    static QByteArray WithIdOf(const QByteArray& AQuery, QByteArray AReply);
    // Builds bytes from hex text; spaces are ignored ("12 34 81 80").
    static QByteArray Hex(const char* AHex);

private:
    void Run();

    int FSocket = -1;
    int FOtherSocket = -1;
    quint16 FPort = 0;
    std::atomic<bool> FStop{false};
    std::atomic<bool> FFromOtherPort{false};
    mutable std::mutex FLock;
    THandler FHandler;
    QList<QByteArray> FQueries;
    std::thread FThread;
};
