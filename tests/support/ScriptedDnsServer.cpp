#include "support/ScriptedDnsServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace {

int BoundSocket(int AType, const char* AAddress, quint16 APort) {
    const int S = ::socket(AF_INET, AType | SOCK_CLOEXEC, 0);
    if (S < 0)
        return -1;
    const int On = 1;
    ::setsockopt(S, SOL_SOCKET, SO_REUSEADDR, &On, sizeof(On));
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_port = htons(APort);
    ::inet_pton(AF_INET, AAddress, &A.sin_addr);
    if (::bind(S, reinterpret_cast<sockaddr*>(&A), sizeof(A)) != 0) {
        ::close(S);
        return -1;
    }
    return S;
}

quint16 PortOf(int ASocket) {
    sockaddr_in A{};
    socklen_t Len = sizeof(A);
    ::getsockname(ASocket, reinterpret_cast<sockaddr*>(&A), &Len);
    return ntohs(A.sin_port);
}

bool ReadAll(int AHandle, char* AData, int ASize) {
    int Got = 0;
    while (Got < ASize) {
        const ssize_t N = ::recv(AHandle, AData + Got, size_t(ASize - Got), 0);
        if (N <= 0)
            return false;
        Got += int(N);
    }
    return true;
}

} // namespace

TScriptedDnsServer::TScriptedDnsServer(TUdpScript AUdp, TTcpScript ATcp)
    : FUdpScript(std::move(AUdp)), FTcpScript(std::move(ATcp)) {
    // A port that is free for UDP on both addresses and for TCP.
    for (int Try = 0; Try < 20 && FUdp < 0; ++Try) {
        const int U = BoundSocket(SOCK_DGRAM, "127.0.0.1", 0);
        if (U < 0)
            continue;
        const quint16 Port = PortOf(U);
        const int Other = BoundSocket(SOCK_DGRAM, "127.0.0.2", Port);
        const int Tcp = FTcpScript ? BoundSocket(SOCK_STREAM, "127.0.0.1", Port) : -2;
        if (Other < 0 || Tcp == -1 || (Tcp >= 0 && ::listen(Tcp, 64) != 0)) {
            ::close(U);
            if (Other >= 0)
                ::close(Other);
            if (Tcp >= 0)
                ::close(Tcp);
            continue;
        }
        FUdp = U;
        FOtherAddress = Other;
        FTcp = Tcp >= 0 ? Tcp : -1;
        FPort = Port;
    }
    FOtherPort = BoundSocket(SOCK_DGRAM, "127.0.0.1", 0);
    if (FUdp >= 0)
        FThread = std::thread([this] { Run(); });
}

TScriptedDnsServer::~TScriptedDnsServer() {
    FStop = true;
    if (FThread.joinable())
        FThread.join();
    for (int S : {FUdp, FOtherPort, FOtherAddress, FTcp})
        if (S >= 0)
            ::close(S);
    for (int C : FConnections)
        ::close(C);
}

QString TScriptedDnsServer::Address() const {
    return QStringLiteral("127.0.0.1:%1").arg(FPort);
}

QSet<quint16> TScriptedDnsServer::SourcePorts() const {
    // A copy of its own: a shared one would be read while the server's
    // thread goes on inserting into the same data (Qt's copy-on-write
    // checks its count without ordering the two threads).
    std::lock_guard<std::mutex> Lock(FLock);
    QSet<quint16> Copy;
    for (quint16 P : FSourcePorts)
        Copy.insert(P);
    return Copy;
}

QByteArray TScriptedDnsServer::AnswerOf(const QByteArray& AQuery, const QList<QByteArray>& AAddresses,
                                        quint16 AExtraFlags) {
    // Header and question; the query's own OPT record is left out.
    int End = 12;
    while (End < AQuery.size() && AQuery[End] != 0)
        End += 1 + quint8(AQuery[End]);
    End += 1 + 4;
    QByteArray R = AQuery.left(End);
    const quint16 Flags = quint16(0x8180 | AExtraFlags);
    R[2] = char(Flags >> 8);
    R[3] = char(Flags & 0xFF);
    R[6] = char(AAddresses.size() >> 8);
    R[7] = char(AAddresses.size() & 0xFF);
    R[10] = 0;
    R[11] = 0;
    for (const QByteArray& A : AAddresses)
        R += QByteArray::fromHex("c00c 0001 0001 0000012c 0004") + A;
    return R;
}

QByteArray TScriptedDnsServer::QueryName(const QByteArray& AQuery) {
    QByteArray Name;
    for (int Pos = 12; Pos < AQuery.size() && AQuery[Pos] != 0; Pos += 1 + quint8(AQuery[Pos]))
        Name += (Name.isEmpty() ? QByteArray() : QByteArray(".")) + AQuery.mid(Pos + 1, quint8(AQuery[Pos]));
    return Name;
}

QByteArray TScriptedDnsServer::Encoded(const QByteArray& ADotted) {
    QByteArray Out;
    for (const QByteArray& Part : ADotted.split('.'))
        if (!Part.isEmpty())
            Out += char(Part.size()) + Part;
    return Out + char(0);
}

QByteArray TScriptedDnsServer::Ip(int A, int B, int C, int D) {
    QByteArray R;
    for (int V : {A, B, C, D})
        R.append(char(V));
    return R;
}

QByteArray TScriptedDnsServer::ReplyOf(const QByteArray& AQuery, const QList<TRecord>& ARecords, quint16 AFlags,
                                       bool AQuestion) {
    auto Word = [](int AValue) { return QByteArray(1, char(AValue >> 8)) + char(AValue & 0xFF); };
    const QByteArray Asked = QueryName(AQuery);
    int Counts[3] = {0, 0, 0};
    QByteArray Body;
    for (const TRecord& R : ARecords) {
        ++Counts[R.Section];
        Body += Encoded(R.Owner.isEmpty() ? Asked : R.Owner) + Word(R.Type) + Word(R.Class) +
                QByteArray::fromHex("0000012c") + Word(int(R.RData.size())) + R.RData;
    }
    const QByteArray Question = AQuestion ? AnswerOf(AQuery, {}).mid(12) : QByteArray();
    return AQuery.left(2) + Word(0x8180 | AFlags) + Word(AQuestion ? 1 : 0) + Word(Counts[0]) + Word(Counts[1]) +
           Word(Counts[2]) + Question + Body;
}

void TScriptedDnsServer::Run() {
    std::vector<char> Buffer(65536);
    while (!FStop) {
        std::vector<pollfd> P;
        P.push_back({FUdp, POLLIN, 0});
        if (FTcp >= 0)
            P.push_back({FTcp, POLLIN, 0});
        if (::poll(P.data(), nfds_t(P.size()), 20) <= 0)
            continue;
        if (P[0].revents & POLLIN) {
            sockaddr_in From{};
            socklen_t FromLen = sizeof(From);
            const ssize_t N = ::recvfrom(FUdp, Buffer.data(), Buffer.size(), 0, reinterpret_cast<sockaddr*>(&From),
                                         &FromLen);
            if (N > 0) {
                ++FUdpQueries;
                {
                    std::lock_guard<std::mutex> Lock(FLock);
                    FSourcePorts.insert(ntohs(From.sin_port));
                }
                for (const TDatagram& D : FUdpScript(QByteArray(Buffer.data(), int(N)))) {
                    const int S = D.From == frOwn ? FUdp : D.From == frOtherPort ? FOtherPort : FOtherAddress;
                    ::sendto(S, D.Bytes.constData(), size_t(D.Bytes.size()), 0, reinterpret_cast<sockaddr*>(&From),
                             FromLen);
                }
            }
        }
        if (FTcp >= 0 && (P[1].revents & POLLIN)) {
            const int C = ::accept4(FTcp, nullptr, nullptr, SOCK_CLOEXEC);
            if (C < 0)
                continue;
            char Len[2];
            if (!ReadAll(C, Len, 2)) {
                ::close(C);
                continue;
            }
            QByteArray Query((quint8(Len[0]) << 8) | quint8(Len[1]), Qt::Uninitialized);
            if (!ReadAll(C, Query.data(), int(Query.size()))) {
                ::close(C);
                continue;
            }
            ++FTcpQueries;
            const std::optional<QByteArray> Reply = FTcpScript(Query);
            if (!Reply) {
                FConnections << C;   // held open, silent
                continue;
            }
            QByteArray Out;
            Out.append(char(Reply->size() >> 8)).append(char(Reply->size() & 0xFF)).append(*Reply);
            ::send(C, Out.constData(), size_t(Out.size()), MSG_NOSIGNAL);
            ::close(C);
        }
    }
}
