#include "support/LossyUdpRelay.h"

#include <QSet>
#include <QStringList>
#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <vector>

namespace {

// A question on its way to the server: the socket it went out on and who asked.
struct TPending {
    int Socket;
    sockaddr_in Client;
    std::chrono::steady_clock::time_point Deadline;
};

} // namespace

TLossyUdpRelay::TLossyUdpRelay(quint16 ATargetPort, TRule ARule) : FTargetPort(ATargetPort), FRule(std::move(ARule)) {
    FSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (FSocket < 0)
        return;
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Len = sizeof(A);
    if (::bind(FSocket, reinterpret_cast<sockaddr*>(&A), sizeof(A)) != 0 ||
        ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&A), &Len) != 0) {
        ::close(FSocket);
        FSocket = -1;
        return;
    }
    FPort = ntohs(A.sin_port);
    FThread = std::thread([this] { Run(); });
}

TLossyUdpRelay::~TLossyUdpRelay() {
    FStop = true;
    if (FThread.joinable())
        FThread.join();
    if (FSocket >= 0)
        ::close(FSocket);
}

void TLossyUdpRelay::SetRule(TRule ARule) {
    std::lock_guard<std::mutex> G(FLock);
    FRule = std::move(ARule);
}

QString TLossyUdpRelay::Address() const { return QString("127.0.0.1:%1").arg(FPort); }

void TLossyUdpRelay::ResetCounts() {
    FReceived = 0;
    FDropped = 0;
    FRefused = 0;
}

TLossyUdpRelay::TRule TLossyUdpRelay::DropEveryNth(int N) {
    return [N](const QString&, int ANumber) { return N > 0 && ANumber % N == 0 ? raDrop : raForward; };
}

TLossyUdpRelay::TRule TLossyUdpRelay::FailFirstAsk(std::function<TAction(const QString& AName)> AFirst) {
    // Only the relay's thread calls a rule, so the set needs no lock of its own.
    auto Seen = std::make_shared<QSet<QString>>();
    return [Seen, AFirst](const QString& AName, int) {
        if (Seen->contains(AName))
            return raForward;
        Seen->insert(AName);
        return AFirst ? AFirst(AName) : raDrop;
    };
}

QString TLossyUdpRelay::QuestionName(const QByteArray& AQuery) {
    QStringList Labels;
    int P = 12;
    while (P < AQuery.size()) {
        const int Len = quint8(AQuery[P]);
        if (Len == 0)
            return Labels.join('.');
        if (Len > 63 || P + 1 + Len > AQuery.size())
            return QString();
        Labels << QString::fromLatin1(AQuery.mid(P + 1, Len));
        P += 1 + Len;
    }
    return QString();
}

QByteArray TLossyUdpRelay::ErrorReply(const QByteArray& AQuery, int ARCode) {
    QByteArray R = AQuery;
    if (R.size() < 12)
        return R;
    R[2] = char(0x80 | (quint8(R[2]) & 0x01));   // a response; RD as asked
    R[3] = char(0x80 | (ARCode & 0x0F));         // recursion available, the code
    for (int I = 6; I < 12; ++I)
        R[I] = 0;
    return R;
}

void TLossyUdpRelay::Run() {
    std::vector<TPending> Pending;
    char Buf[65536];
    while (!FStop) {
        std::vector<pollfd> P;
        P.push_back({FSocket, POLLIN, 0});
        for (const TPending& Q : Pending)
            P.push_back({Q.Socket, POLLIN, 0});
        // Short polls so the destructor never waits long for the thread.
        if (::poll(P.data(), nfds_t(P.size()), 20) < 0)
            continue;

        // Replies first, so the list below still matches the poll entries.
        const auto Now = std::chrono::steady_clock::now();
        for (size_t I = Pending.size(); I-- > 0;) {
            const bool Ready = (P[I + 1].revents & POLLIN) != 0;
            if (Ready) {
                const ssize_t N = ::recv(Pending[I].Socket, Buf, sizeof(Buf), 0);
                if (N > 0)
                    ::sendto(FSocket, Buf, size_t(N), 0, reinterpret_cast<const sockaddr*>(&Pending[I].Client),
                             sizeof(sockaddr_in));
            }
            if (Ready || Now > Pending[I].Deadline) {
                ::close(Pending[I].Socket);
                Pending.erase(Pending.begin() + std::ptrdiff_t(I));
            }
        }

        if (!(P[0].revents & POLLIN))
            continue;
        sockaddr_in From{};
        socklen_t FromLen = sizeof(From);
        const ssize_t N = ::recvfrom(FSocket, Buf, sizeof(Buf), 0, reinterpret_cast<sockaddr*>(&From), &FromLen);
        if (N < 0)
            continue;
        const QByteArray Query(Buf, int(N));
        const int Number = ++FReceived;
        TRule Rule;
        {
            std::lock_guard<std::mutex> G(FLock);
            Rule = FRule;
        }
        const TAction Action = Rule ? Rule(QuestionName(Query), Number) : raForward;
        if (Action == raDrop) {
            ++FDropped;
            continue;
        }
        if (Action == raServFail || Action == raRefused) {
            ++FRefused;
            const QByteArray Reply = ErrorReply(Query, Action == raServFail ? 2 : 5);
            ::sendto(FSocket, Reply.constData(), size_t(Reply.size()), 0, reinterpret_cast<sockaddr*>(&From), FromLen);
            continue;
        }
        const int S = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (S < 0)
            continue;
        sockaddr_in To{};
        To.sin_family = AF_INET;
        To.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        To.sin_port = htons(FTargetPort);
        if (::connect(S, reinterpret_cast<sockaddr*>(&To), sizeof(To)) != 0 ||
            ::send(S, Query.constData(), size_t(Query.size()), 0) != Query.size()) {
            ::close(S);
            continue;
        }
        Pending.push_back({S, From, std::chrono::steady_clock::now() + std::chrono::seconds(10)});
    }
    for (const TPending& Q : Pending)
        ::close(Q.Socket);
}
