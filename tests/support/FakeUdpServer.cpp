#include "support/FakeUdpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace {

int OpenLoopbackSocket(quint16* APort) {
    const int S = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (S < 0)
        return -1;
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Len = sizeof(A);
    if (::bind(S, reinterpret_cast<sockaddr*>(&A), sizeof(A)) != 0 ||
        ::getsockname(S, reinterpret_cast<sockaddr*>(&A), &Len) != 0) {
        ::close(S);
        return -1;
    }
    if (APort)
        *APort = ntohs(A.sin_port);
    return S;
}

} // namespace

TFakeUdpServer::TFakeUdpServer(THandler AHandler) : FHandler(std::move(AHandler)) {
    FSocket = OpenLoopbackSocket(&FPort);
    FOtherSocket = OpenLoopbackSocket(nullptr);
    if (FSocket >= 0)
        FThread = std::thread([this] { Run(); });
}

TFakeUdpServer::~TFakeUdpServer() {
    FStop = true;
    if (FThread.joinable())
        FThread.join();
    if (FSocket >= 0)
        ::close(FSocket);
    if (FOtherSocket >= 0)
        ::close(FOtherSocket);
}

void TFakeUdpServer::SetHandler(THandler AHandler) {
    std::lock_guard<std::mutex> G(FLock);
    FHandler = std::move(AHandler);
}

QString TFakeUdpServer::Address() const {
    return QString("127.0.0.1:%1").arg(FPort);
}

int TFakeUdpServer::QueryCount() const {
    std::lock_guard<std::mutex> G(FLock);
    return FQueries.size();
}

QList<QByteArray> TFakeUdpServer::Queries() const {
    std::lock_guard<std::mutex> G(FLock);
    // A list of its own: sharing FQueries' block would let the server thread
    // grow it in place while the caller still detaches from it.
    QList<QByteArray> Copy;
    Copy.reserve(FQueries.size());
    for (const QByteArray& Q : FQueries)
        Copy.append(QByteArray(Q.constData(), Q.size()));
    return Copy;
}

bool TFakeUdpServer::WaitForQueries(int ACount, int ATimeoutMs) const {
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ATimeoutMs);
    while (QueryCount() < ACount) {
        if (std::chrono::steady_clock::now() >= Deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

QByteArray TFakeUdpServer::WithIdOf(const QByteArray& AQuery, QByteArray AReply) {
    if (AQuery.size() >= 2 && AReply.size() >= 2) {
        AReply[0] = AQuery[0];
        AReply[1] = AQuery[1];
    }
    return AReply;
}

QByteArray TFakeUdpServer::Hex(const char* AHex) {
    QByteArray Text(AHex);
    Text.replace(' ', "");
    Text.replace('\n', "");
    return QByteArray::fromHex(Text);
}

void TFakeUdpServer::Run() {
    char Buf[65536];
    while (!FStop) {
        pollfd P{FSocket, POLLIN, 0};
        // Short poll so the destructor never waits long for the thread.
        if (::poll(&P, 1, 20) <= 0 || !(P.revents & POLLIN))
            continue;
        sockaddr_in From{};
        socklen_t FromLen = sizeof(From);
        const ssize_t N = ::recvfrom(FSocket, Buf, sizeof(Buf), 0, reinterpret_cast<sockaddr*>(&From), &FromLen);
        if (N < 0)
            continue;
        const QByteArray Query(Buf, int(N));
        THandler Handler;
        {
            std::lock_guard<std::mutex> G(FLock);
            FQueries.append(Query);
            Handler = FHandler;
        }
        if (!Handler)
            continue;
        const std::optional<QByteArray> Reply = Handler(Query);
        if (!Reply)
            continue;
        const int Out = FFromOtherPort && FOtherSocket >= 0 ? FOtherSocket : FSocket;
        ::sendto(Out, Reply->constData(), size_t(Reply->size()), 0, reinterpret_cast<sockaddr*>(&From), FromLen);
    }
}
