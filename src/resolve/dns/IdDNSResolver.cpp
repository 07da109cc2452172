#include "resolve/dns/IdDNSResolver.h"

#include <QRandomGenerator>
#include <QStringList>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <linux/errqueue.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// The largest datagram there is: a UDP reply is read whole, never cut.
const int kReceiveBufferSize = 65535;

// From the system's source, which a server cannot predict from earlier
// identifiers; 65535 values, 0 to 65534. Safe for concurrent use.
quint16 NewQueryId() {
    return quint16(QRandomGenerator::system()->bounded(65535));
}

QString SysErrorText(int AError) {
    char Buf[256];
    // GNU strerror_r may return a static string instead of filling Buf.
    const char* Text = strerror_r(AError, Buf, sizeof(Buf));
    return QString::fromLocal8Bit(Text);
}

[[noreturn]] void RaiseSocketError(int AError) {
    throw EIdSocketError(AError, SysErrorText(AError));
}

// Closes a socket on every path out, unless it was released to its keeper.
class TSocketGuard {
public:
    explicit TSocketGuard(int AHandle) : FHandle(AHandle) {}
    ~TSocketGuard() {
        if (FHandle >= 0)
            ::close(FHandle);
    }
    TSocketGuard(const TSocketGuard&) = delete;
    TSocketGuard& operator=(const TSocketGuard&) = delete;
    int Handle() const { return FHandle; }
    int Release() {
        const int H = FHandle;
        FHandle = -1;
        return H;
    }

private:
    int FHandle;
};

void AppendWord(QByteArray& AOut, quint16 AValue) {
    AOut.append(char(AValue >> 8));
    AOut.append(char(AValue & 0xFF));
}

} // namespace

// ---------------------------------------------------------------------------

QByteArray TDNSHeader::GenerateBinaryHeader() const {
    QByteArray Out;
    Out.reserve(12);
    AppendWord(Out, ID);
    AppendWord(Out, BitCode);
    AppendWord(Out, QDCount);
    AppendWord(Out, ANCount);
    AppendWord(Out, NSCount);
    AppendWord(Out, ARCount);
    return Out;
}

void TDNSHeader::ParseQuery(const QByteArray& AMessage) {
    if (AMessage.size() < 12)
        return;
    const auto* D = reinterpret_cast<const uchar*>(AMessage.constData());
    auto W = [D](int APos) { return quint16((D[APos] << 8) | D[APos + 1]); };
    ID = W(0);
    BitCode = W(2);
    QDCount = W(4);
    ANCount = W(6);
    NSCount = W(8);
    ARCount = W(10);
}

// ---------------------------------------------------------------------------

TIdDNSResolver::TIdDNSResolver() = default;
TIdDNSResolver::~TIdDNSResolver() = default;

QByteArray TIdDNSResolver::EncodeName(const QString& ADomain) {
    QByteArray Out;
    Out.reserve(ADomain.size() + 2);
    QString Rest = ADomain;
    while (!Rest.isEmpty()) {
        const int Dot = Rest.indexOf(QLatin1Char('.'));
        const QString Part = Dot < 0 ? Rest : Rest.left(Dot);
        Rest = Dot < 0 ? QString() : Rest.mid(Dot + 1);
        Out.append(char(Part.size()));
        for (QChar C : Part)
            Out.append(C.unicode() < 128 ? char(C.unicode()) : '?');
    }
    Out.append(char(0));
    return Out;
}

void TIdDNSResolver::CreateQuery(const QString& ADomain, TResultRecord* /*ASOARR*/, quint16 AQueryClass) {
    FDNSHeader.ID = NewQueryId();
    FDNSHeader.ClearByteCode();
    if (FAllowRecursiveQueries)
        FDNSHeader.BitCode |= 0x0100;
    FDNSHeader.QDCount = quint16(FQueryType.Count());
    FDNSHeader.ANCount = 0;
    FDNSHeader.NSCount = 0;
    // The OPT record of EDNS0.
    FDNSHeader.ARCount = 1;
    FQuestionCount = FDNSHeader.QDCount;
    FQuestionSize = 0;
    if (FDNSHeader.QDCount == 0)
        throw EIdDnsResolverError(QString("Invalid Query Count %1").arg(0));

    QByteArray Query = FDNSHeader.GenerateBinaryHeader();
    const QByteArray Name = EncodeName(ADomain);
    for (int T = qtA; T < qtUnknown; ++T) {
        if (!FQueryType.Contains(TQueryRecordTypes(T)))
            continue;
        Query.append(Name);
        AppendWord(Query, QueryRecordTypeCode(TQueryRecordTypes(T)));
        AppendWord(Query, AQueryClass);
    }
    FQuestionSize = Query.size() - 12;
    // OPT: root owner, type 41, the UDP payload we take in the class field,
    // extended RCODE, version and flags 0, no options.
    Query.append(char(0));
    AppendWord(Query, 41);
    AppendWord(Query, kEdnsPayload);
    AppendWord(Query, 0);
    AppendWord(Query, 0);
    AppendWord(Query, 0);
    FInternalQuery = Query;
}

void TIdDNSResolver::SetServerEntries(const QHash<QString, TDNSServerEntry>& AEntries) {
    for (auto I = AEntries.constBegin(); I != AEntries.constEnd(); ++I)
        FEntries.insert(I.key().trimmed(), I.value());
}

bool TIdDNSResolver::ResolveServer(TServer& AServer) {
    const QString Text = FHost.trimmed();
    auto Found = FEntries.constFind(Text);
    if (Found == FEntries.constEnd()) {
        TDNSServerEntry Entry;
        QString Error;
        if (!ParseDNSServerEntry(Text, FPort, Entry, &Error)) {
            if (Error == QLatin1String("bad port"))
                throw EIdDnsResolverError(QString("Invalid DNS server port in \"%1\"").arg(FHost));
            throw EIdDnsResolverError(QString("Invalid DNS server \"%1\": %2").arg(FHost, Error));
        }
        // A host name is looked up once, within the time a lookup may take,
        // and never again by this client.
        switch (LookUpDNSServer(Entry, FWaitingTime, FAbortCheck, &Error)) {
        case slFound: break;
        case slAborted: return false;
        case slNotFound:
            throw EIdSocketError(EAI_NONAME, QStringLiteral("Cannot resolve DNS server: %1 (%2)").arg(Text, Error));
        }
        // A handful of servers per run; the bound only guards against a
        // caller that makes up new texts forever.
        if (FEntries.size() >= 64)
            FEntries.clear();
        Found = FEntries.insert(Text, Entry);
    }
    const TDNSServerEntry& Entry = *Found;
    // The port of the entry, or the client's Port when the entry gives none.
    AServer = TServer();
    AServer.Port = Entry.HasPort ? Entry.Port : FPort;
    if (Entry.Kind == TDNSServerEntry::skIPv6) {
        AServer.Family = AF_INET6;
        std::memcpy(AServer.Address, Entry.IPv6, 16);
    } else {
        AServer.Family = AF_INET;
        const quint32 Net = htonl(Entry.IPv4);
        std::memcpy(AServer.Address, &Net, 4);
    }
    return true;
}

namespace {

socklen_t MakeSockAddr(int AFamily, const quint8* AAddress, quint16 APort, sockaddr_storage& AOut) {
    AOut = sockaddr_storage{};
    if (AFamily == AF_INET) {
        auto* A = reinterpret_cast<sockaddr_in*>(&AOut);
        A->sin_family = AF_INET;
        std::memcpy(&A->sin_addr, AAddress, 4);
        A->sin_port = htons(APort);
        return sizeof(sockaddr_in);
    }
    auto* A = reinterpret_cast<sockaddr_in6*>(&AOut);
    A->sin6_family = AF_INET6;
    std::memcpy(&A->sin6_addr, AAddress, 16);
    A->sin6_port = htons(APort);
    return sizeof(sockaddr_in6);
}

// The sender is the server: same family, address and port. An IPv4 server
// answers an IPv4 socket, so mapped addresses never show up here.
bool SameEndpoint(const sockaddr_storage& AFrom, int AFamily, const quint8* AAddress, quint16 APort) {
    if (AFrom.ss_family != AFamily)
        return false;
    if (AFamily == AF_INET) {
        const auto* A = reinterpret_cast<const sockaddr_in*>(&AFrom);
        return ntohs(A->sin_port) == APort && std::memcmp(&A->sin_addr, AAddress, 4) == 0;
    }
    const auto* A = reinterpret_cast<const sockaddr_in6*>(&AFrom);
    return ntohs(A->sin6_port) == APort && std::memcmp(&A->sin6_addr, AAddress, 16) == 0;
}

// The UDP sockets of one thread, shared by all its clients: one per server,
// so that a server sees only the source port of its own questions.
struct TThreadSockets {
    struct TSlot {
        int Handle = -1;
        int Uses = 0;
    };
    QHash<QByteArray, TSlot> Slots;   // by family, address and port
    QByteArray Buffer;
    TThreadSockets() : Buffer(kReceiveBufferSize, Qt::Uninitialized) {}
    ~TThreadSockets() {
        for (TSlot& S : Slots)
            Drop(S);
    }
    TSlot& Of(int AFamily, const quint8* AAddress, quint16 APort) {
        QByteArray Key(reinterpret_cast<const char*>(AAddress), AFamily == AF_INET6 ? 16 : 4);
        Key.append(char(APort >> 8)).append(char(APort & 0xFF));
        // A handful of servers per run; a caller that makes up new ones
        // forever starts over instead of holding sockets without end.
        if (!Slots.contains(Key) && Slots.size() >= 64) {
            for (TSlot& S : Slots)
                Drop(S);
            Slots.clear();
        }
        return Slots[Key];
    }
    static void Drop(TSlot& ASlot) {
        if (ASlot.Handle >= 0)
            ::close(ASlot.Handle);
        ASlot = TSlot();
    }
};

thread_local TThreadSockets tSockets;

// Hundreds of workers keep a socket or two each: lift the soft limit on
// open files to the hard one once, as a server program would.
void RaiseFileLimit() {
    static std::once_flag Once;
    std::call_once(Once, [] {
        rlimit Limit{};
        if (::getrlimit(RLIMIT_NOFILE, &Limit) == 0 && Limit.rlim_cur < Limit.rlim_max) {
            Limit.rlim_cur = Limit.rlim_max;
            ::setrlimit(RLIMIT_NOFILE, &Limit);
        }
    });
}

int OpenUdpSocket(int AFamily) {
    RaiseFileLimit();
    const int Handle = ::socket(AFamily, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (Handle < 0)
        RaiseSocketError(errno);
    TSocketGuard Guard(Handle);
    // An unconnected socket hears of ICMP errors (port unreachable) only
    // through its error queue; a refused server then fails at once, as it
    // did when every lookup connected its own socket.
    const int On = 1;
    if (AFamily == AF_INET)
        ::setsockopt(Handle, SOL_IP, IP_RECVERR, &On, sizeof(On));
    else
        ::setsockopt(Handle, SOL_IPV6, IPV6_RECVERR, &On, sizeof(On));
    sockaddr_storage Local{};
    Local.ss_family = sa_family_t(AFamily);
    const socklen_t Len = AFamily == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    if (::bind(Handle, reinterpret_cast<sockaddr*>(&Local), Len) != 0)
        RaiseSocketError(errno);
    return Guard.Release();
}

bool SameQuestionByte(char A, char B) {
    auto Lower = [](char C) { return C >= 'A' && C <= 'Z' ? char(C + 32) : C; };
    return Lower(A) == Lower(B);
}

} // namespace

bool TIdDNSResolver::IsReplyToQuery(const char* AData, int ASize) const {
    if (ASize < 12)
        return false;
    const auto* D = reinterpret_cast<const uchar*>(AData);
    if (quint16((D[0] << 8) | D[1]) != FDNSHeader.ID)
        return false;
    const int QDCount = (D[4] << 8) | D[5];
    // The one reply that may come without the question: a server from
    // before EDNS0 refusing our OPT record (FORMERR), which is asked again
    // without it.
    if (QDCount == 0)
        return (D[3] & 0x0F) == 1 && FInternalQuery.size() == 12 + FQuestionSize + kOptRecordSize;
    // The question section as sent: from byte 12 up to the OPT record.
    const int QuestionSize = FQuestionSize;
    if (QDCount != FQuestionCount || ASize < 12 + QuestionSize)
        return false;
    const char* Q = FInternalQuery.constData() + 12;
    for (int I = 0; I < QuestionSize; ++I)
        if (!SameQuestionByte(AData[12 + I], Q[I]))
            return false;
    return true;
}

int TIdDNSResolver::WaitFor(int AHandle, short AEvents, TClock::time_point ADeadline) {
    for (;;) {
        const qint64 Left = qMax<qint64>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(ADeadline - TClock::now()).count());
        // With an abort check the wait goes in short slices, so that a stop
        // request is seen while the server stays silent.
        const qint64 Slice = FAbortCheck ? qMin<qint64>(Left, kAbortPollMSec) : Left;
        pollfd P{AHandle, AEvents, 0};
        const int Ready = ::poll(&P, 1, int(Slice));
        if (Ready < 0) {
            if (errno == EINTR)
                continue;
            RaiseSocketError(errno);
        }
        if (Ready > 0)
            return P.revents;
        if (Slice >= Left)
            return 0;   // no reply in time: silent by design
        if (FAbortCheck()) {
            FAborted = true;
            return 0;
        }
    }
}

QByteArray TIdDNSResolver::Exchange(const TServer& AServer, TClock::time_point ADeadline) {
    TThreadSockets::TSlot& Slot = tSockets.Of(AServer.Family, AServer.Address, AServer.Port);
    // Any failure leaves the socket suspect (a late reply may still be on its
    // way to it): the next lookup starts on a fresh one.
    bool Keep = false;
    struct TDropUnlessKept {
        TThreadSockets::TSlot& Slot;
        bool& Keep;
        ~TDropUnlessKept() {
            if (!Keep)
                TThreadSockets::Drop(Slot);
        }
    } Dropper{Slot, Keep};
    if (Slot.Handle >= 0 && Slot.Uses >= kLookupsPerSocket)
        TThreadSockets::Drop(Slot);
    if (Slot.Handle < 0)
        Slot.Handle = OpenUdpSocket(AServer.Family);
    ++Slot.Uses;

    sockaddr_storage Remote;
    const socklen_t RemoteLen = MakeSockAddr(AServer.Family, AServer.Address, AServer.Port, Remote);
    ssize_t Sent;
    do
        Sent = ::sendto(Slot.Handle, FInternalQuery.constData(), size_t(FInternalQuery.size()), 0,
                        reinterpret_cast<sockaddr*>(&Remote), RemoteLen);
    while (Sent < 0 && errno == EINTR);
    if (Sent < 0) {
        if (errno == EMSGSIZE)
            throw EIdPackageSizeTooBig();
        RaiseSocketError(errno);
    }
    if (Sent < FInternalQuery.size())
        throw EIdNotAllBytesSent();

    QByteArray& Buffer = tSockets.Buffer;
    for (;;) {
        const int Events = WaitFor(Slot.Handle, POLLIN, ADeadline);
        if (Events == 0)
            return {};
        if (Events & POLLERR) {
            // ICMP errors; only one about a datagram to this server fails the lookup.
            for (;;) {
                char Control[512];
                sockaddr_storage Target{};
                char Dummy;
                iovec Io{&Dummy, 1};
                msghdr Msg{};
                Msg.msg_name = &Target;
                Msg.msg_namelen = sizeof(Target);
                Msg.msg_iov = &Io;
                Msg.msg_iovlen = 1;
                Msg.msg_control = Control;
                Msg.msg_controllen = sizeof(Control);
                if (::recvmsg(Slot.Handle, &Msg, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
                    break;
                for (cmsghdr* C = CMSG_FIRSTHDR(&Msg); C; C = CMSG_NXTHDR(&Msg, C)) {
                    if (!((C->cmsg_level == SOL_IP && C->cmsg_type == IP_RECVERR) ||
                          (C->cmsg_level == SOL_IPV6 && C->cmsg_type == IPV6_RECVERR)))
                        continue;
                    sock_extended_err Err;
                    std::memcpy(&Err, CMSG_DATA(C), sizeof(Err));
                    if (Err.ee_origin != SO_EE_ORIGIN_LOCAL &&
                        SameEndpoint(Target, AServer.Family, AServer.Address, AServer.Port))
                        RaiseSocketError(int(Err.ee_errno));
                }
            }
        }
        // Every datagram waiting is read; the first that answers this query ends the wait.
        for (;;) {
            sockaddr_storage From{};
            socklen_t FromLen = sizeof(From);
            // MSG_TRUNC: the datagram's own length, even were it longer than the buffer.
            const ssize_t Received = ::recvfrom(Slot.Handle, Buffer.data(), size_t(Buffer.size()),
                                                MSG_DONTWAIT | MSG_TRUNC, reinterpret_cast<sockaddr*>(&From),
                                                &FromLen);
            if (Received < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNREFUSED || errno == EHOSTUNREACH ||
                    errno == ENETUNREACH)
                    break;   // nothing left, or an error the queue above has told of
                RaiseSocketError(errno);
            }
            const int Size = int(qMin<ssize_t>(Received, Buffer.size()));
            if (!SameEndpoint(From, AServer.Family, AServer.Address, AServer.Port) ||
                !IsReplyToQuery(Buffer.constData(), Size))
                continue;
            Keep = true;
            QByteArray Reply(Buffer.constData(), Size);
            // Never taken cut: a reply that did not fit reads as truncated,
            // which asks it again over TCP.
            if (Received > Size)
                Reply[2] = char(Reply[2] | 0x02);
            return Reply;
        }
    }
}

namespace {

bool ReadFully(int AHandle, char* AData, int ASize, int& AGot) {
    while (AGot < ASize) {
        const ssize_t N = ::recv(AHandle, AData + AGot, size_t(ASize - AGot), MSG_DONTWAIT);
        if (N > 0) {
            AGot += int(N);
            continue;
        }
        if (N == 0)
            throw EIdSocketError(ECONNRESET, SysErrorText(ECONNRESET));   // closed before the whole reply
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return false;
        RaiseSocketError(errno);
    }
    return true;
}

} // namespace

QByteArray TIdDNSResolver::ExchangeTCP(const TServer& AServer, TClock::time_point ADeadline) {
    TSocketGuard Socket(::socket(AServer.Family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (Socket.Handle() < 0)
        RaiseSocketError(errno);
    sockaddr_storage Remote;
    const socklen_t RemoteLen = MakeSockAddr(AServer.Family, AServer.Address, AServer.Port, Remote);
    if (::connect(Socket.Handle(), reinterpret_cast<sockaddr*>(&Remote), RemoteLen) != 0) {
        if (errno != EINPROGRESS)
            RaiseSocketError(errno);
        if (WaitFor(Socket.Handle(), POLLOUT, ADeadline) == 0)
            return {};
        int Error = 0;
        socklen_t Len = sizeof(Error);
        ::getsockopt(Socket.Handle(), SOL_SOCKET, SO_ERROR, &Error, &Len);
        if (Error != 0)
            RaiseSocketError(Error);
    }

    // The message with its two-byte length in front, in one piece.
    QByteArray Out;
    Out.reserve(FInternalQuery.size() + 2);
    AppendWord(Out, quint16(FInternalQuery.size()));
    Out.append(FInternalQuery);
    int Done = 0;
    while (Done < Out.size()) {
        const ssize_t N = ::send(Socket.Handle(), Out.constData() + Done, size_t(Out.size() - Done), MSG_NOSIGNAL);
        if (N > 0) {
            Done += int(N);
            continue;
        }
        if (N < 0 && errno == EINTR)
            continue;
        if (N < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            RaiseSocketError(errno);
        if (WaitFor(Socket.Handle(), POLLOUT, ADeadline) == 0)
            return {};
    }

    char Prefix[2];
    int Got = 0;
    while (!ReadFully(Socket.Handle(), Prefix, 2, Got))
        if (WaitFor(Socket.Handle(), POLLIN, ADeadline) == 0)
            return {};
    const int Size = (uchar(Prefix[0]) << 8) | uchar(Prefix[1]);
    QByteArray Reply(Size, Qt::Uninitialized);
    Got = 0;
    while (!ReadFully(Socket.Handle(), Reply.data(), Size, Got))
        if (WaitFor(Socket.Handle(), POLLIN, ADeadline) == 0)
            return {};
    // The connection is the server's own, so anything that is not the reply
    // to this question is a broken server, not a late datagram.
    if (!IsReplyToQuery(Reply.constData(), Reply.size())) {
        FBadReply = true;
        throw EIdDnsResolverError(QString("Invalid Header Id %1").arg(FDNSHeader.ID));
    }
    // TCP has no smaller reply to fall back on: a cut one is no answer.
    if ((uchar(Reply[2]) & 0x02) != 0) {
        FBadReply = true;
        throw EIdDnsResolverError(QStringLiteral("Truncated reply over TCP"));
    }
    return Reply;
}

bool TIdDNSResolver::Pause(int AMSec) {
    const TClock::time_point Deadline = TClock::now() + std::chrono::milliseconds(qMax(0, AMSec));
    for (;;) {
        if (FAbortCheck && FAbortCheck()) {
            FAborted = true;
            return false;
        }
        const TClock::time_point Now = TClock::now();
        if (Now >= Deadline)
            return true;
        std::this_thread::sleep_for(qMin<TClock::duration>(Deadline - Now, std::chrono::milliseconds(kAbortPollMSec)));
    }
}

void TIdDNSResolver::Resolve(const QString& ADomain, TResultRecord* ASOARR, quint16 AQClass) {
    FAborted = false;
    FUsedTCP = false;
    FBadReply = false;
    FAnswers.clear();
    QString Name = ADomain.endsWith(QLatin1Char('.')) ? ADomain.chopped(1) : ADomain;
    QStringList Chain{Name.toLower()};
    for (;;) {
        AskOnce(Name, ASOARR, AQClass);
        // Cut short, or no reply in time.
        if (FAborted || FPlainTextResult.size() <= 4)
            return;
        Name = JudgeAnswers(Name, Chain);
        if (Name.isEmpty())
            return;
    }
}

void TIdDNSResolver::AskOnce(const QString& ADomain, TResultRecord* ASOARR, quint16 AQClass) {
    ClearInternalQuery();
    CreateQuery(ADomain, ASOARR, AQClass);
    FPlainTextResult.clear();
    // Stopped already: nothing goes on the wire, not even a host-name lookup.
    if (FAbortCheck && FAbortCheck()) {
        FAborted = true;
        return;
    }
    TServer Server;
    if (!ResolveServer(Server)) {
        FAborted = true;
        return;
    }
    if (FQueryGate && !FQueryGate()) {
        FAborted = true;
        return;
    }
    const TClock::time_point Deadline = TClock::now() + std::chrono::milliseconds(qMax(0, FWaitingTime));
    FPlainTextResult = Exchange(Server, Deadline);
    // A server that predates EDNS0 answers FORMERR without an OPT record of
    // its own: ask it once more the way it understands, without ours.
    if (FPlainTextResult.size() >= 12 && (uchar(FPlainTextResult[3]) & 0x0F) == 1 && FPlainTextResult[10] == 0 &&
        FPlainTextResult[11] == 0 && FInternalQuery.size() == 12 + FQuestionSize + kOptRecordSize) {
        FInternalQuery.chop(kOptRecordSize);
        FInternalQuery[11] = 0;
        FDNSHeader.ID = NewQueryId();
        FInternalQuery[0] = char(FDNSHeader.ID >> 8);
        FInternalQuery[1] = char(FDNSHeader.ID & 0xFF);
        FPlainTextResult.clear();
        if (FQueryGate && !FQueryGate()) {
            FAborted = true;
            return;
        }
        FPlainTextResult = Exchange(Server, Deadline);
    }
    // A truncated reply is part of the answer at best: ask the whole of it
    // over TCP. Whatever that gives (nothing in time included) is the reply.
    if (FPlainTextResult.size() >= 12 && (uchar(FPlainTextResult[2]) & 0x02) != 0) {
        FUsedTCP = true;
        FPlainTextResult.clear();
        if (FQueryGate && !FQueryGate()) {
            FAborted = true;
            return;
        }
        FPlainTextResult = ExchangeTCP(Server, Deadline);
    }
    AfterReceive();
}

void TIdDNSResolver::ProcessReply(const QByteArray& AReply, quint16 AQueryId) {
    FDNSHeader.ID = AQueryId;
    FPlainTextResult = AReply;
    AfterReceive();
}

QString TIdDNSResolver::JudgeAnswers(const QString& ADomain, QStringList& AChain) {
    auto InAnswer = [](const TResultRecord* ARec) { return ARec->Section() == rsAnswer && ARec->RecClass() == 1; };
    // The chain from the name asked, as far as this reply takes it.
    QStringList Names{ADomain.toLower()};
    for (;;) {
        const TResultRecord* Link = nullptr;
        for (int I = 0; I < FQueryResult.Count() && !Link; ++I) {
            const TResultRecord* Rec = FQueryResult.GetItem(I);
            if (InAnswer(Rec) && Rec->RecType() == qtName && Rec->Name().toLower() == Names.last())
                Link = Rec;
        }
        if (!Link)
            break;
        QString Target = static_cast<const TNAMERecord*>(Link)->HostName().toLower();
        if (AChain.contains(Target) || AChain.size() >= kMaxChainNames)
            throw EIdDnsResolverError(QStringLiteral("CNAME chain of %1 loops or has more than %2 names")
                                          .arg(AChain.first())
                                          .arg(kMaxChainNames));
        AChain << Target;
        Names << Target;
    }
    bool Others = false;
    for (int I = 0; I < FQueryResult.Count(); ++I) {
        const TResultRecord* Rec = FQueryResult.GetItem(I);
        if (Rec->Section() != rsAnswer)
            continue;
        const QString Owner = Rec->Name().toLower();
        if (!InAnswer(Rec) || !Names.contains(Owner)) {
            Others = true;
            continue;
        }
        if (FQueryType.Contains(Rec->RecType()) && (Owner == Names.first() || Owner == Names.last()))
            FAnswers << Rec;
    }
    if (Others && FNote)
        FNote(QStringLiteral("Records for other names ignored in the reply for %1").arg(ADomain));
    // A chain that ends without the records asked: its last name is asked.
    return FAnswers.isEmpty() && Names.size() > 1 ? Names.last() : QString();
}

void TIdDNSResolver::AfterReceive() {
    // Four bytes or fewer cannot even carry an identifier worth checking.
    if (FPlainTextResult.size() <= 4)
        return;
    FDecodedCount = 0;
    FillResult(FPlainTextResult);
    // Judged on this reply's records, so items a caller left in the list
    // never pass for an answer.
    if (FDecodedCount == 0)
        throw EIdDnsResolverError(QString("Invalid Packet Size %1").arg(3));
}

void TIdDNSResolver::FillResult(const QByteArray& AResult) {
    if (AResult.size() < 12)
        throw EIdDnsResolverError(QString("Received Packet is too small. Less than 12 bytes. %1").arg(29));
    const auto* D = reinterpret_cast<const uchar*>(AResult.constData());
    const quint16 ReplyId = quint16((D[0] << 8) | D[1]);
    if (ReplyId != FDNSHeader.ID)
        throw EIdDnsResolverError(QString("Invalid Header Id %1").arg(FDNSHeader.ID));
    FDNSHeader.ParseQuery(AResult);
    switch (FDNSHeader.RCode()) {
    case 0: break;
    case 1: throw EIdDnsResolverError("DNS Server Reports Query Format Error");
    case 2: throw EIdDnsResolverError("DNS Server Reports Query Server Error");
    case 3: throw EIdDnsResolverError("DNS Server Reports Query Name Error");
    case 4: throw EIdDnsResolverError("DNS Server Reports Query Not Implemented Error");
    case 5: throw EIdDnsResolverError("DNS Server Reports Query Refused Error");
    default: throw EIdDnsResolverError("Server Returned Unknown Error");
    }
    if ((FDNSHeader.ANCount || FDNSHeader.NSCount || FDNSHeader.ARCount) && AResult.size() > 12) {
        // A reply that does not decode whole is broken, whatever its header
        // says: never "no such record".
        FBadReply = true;
        ParseAnswers(AResult);
        FBadReply = false;
    }
}

void TIdDNSResolver::ParseAnswers(const QByteArray& AResult) {
    FQueryResult.Clear();
    const TDNSMessageReader Reader(AResult);
    int Pos = 12;
    for (int Q = 0; Q < FDNSHeader.QDCount; ++Q) {
        int Next = 0;
        Reader.ReadName(Pos, Next);
        Reader.Need(Next, 4, "question past the end");
        Pos = Next + 4;
    }

    const struct {
        quint16 Count;
        TResultSection Section;
    } Sections[] = {{FDNSHeader.ANCount, rsAnswer}, {FDNSHeader.NSCount, rsNameServer},
                    {FDNSHeader.ARCount, rsAdditional}};
    // The OPT record belongs to the transport, not to the data: it joins
    // neither the list nor the header's count of additional records, so a
    // reply reads as it would without EDNS0.
    int OptRecords = 0;
    struct TOptUncount {
        TDNSHeader& Header;
        int& Count;
        ~TOptUncount() { Header.ARCount = quint16(Header.ARCount - Count); }
    } Uncount{FDNSHeader, OptRecords};
    for (const auto& S : Sections) {
        for (int I = 0; I < S.Count; ++I) {
            // A truncated reply ends where its records end; the counts may
            // promise more than the datagram carries.
            if (FDNSHeader.TC() && Pos >= Reader.Size())
                return;
            int Next = 0;
            const QString Name = Reader.ReadName(Pos, Next);
            Reader.Need(Next, 10, "record header past the end");
            const quint16 Type = Reader.Word(Next);
            const quint16 Class = Reader.Word(Next + 2);
            const quint32 TTL = Reader.DWord(Next + 4);
            const int RDLength = Reader.Word(Next + 8);
            const int RDataPos = Next + 10;
            if (Type == 41 && S.Section == rsAdditional) {
                ++OptRecords;
                Pos = RDataPos + RDLength;
                continue;
            }
            const QByteArray RData = AResult.mid(RDataPos, qMin(RDLength, Reader.Size() - RDataPos));

            std::unique_ptr<TResultRecord> Record = CreateRecordOfTypeCode(Type);
            Record->SetHeader(Type, Class, Name, TTL, RDLength, RData, S.Section);
            // Only a fully decoded record joins the list.
            Record->Parse(Reader, RDataPos);
            // Whole or not at all: a record cut by the end of the datagram
            // may have lost what would change its meaning.
            if (!FDNSHeader.TC())
                Reader.Need(RDataPos, RDLength, "record data past the end");
            FQueryResult.Add(std::move(Record));
            ++FDecodedCount;
            Pos = RDataPos + RDLength;
        }
    }
}
