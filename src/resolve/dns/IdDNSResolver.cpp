#include "resolve/dns/IdDNSResolver.h"

#include <QRandomGenerator>
#include <QStringList>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const int kReceiveBufferSize = 8192;

QString SysErrorText(int AError) {
    char Buf[256];
    // GNU strerror_r may return a static string instead of filling Buf.
    const char* Text = strerror_r(AError, Buf, sizeof(Buf));
    return QString::fromLocal8Bit(Text);
}

[[noreturn]] void RaiseSocketError(int AError) {
    throw EIdSocketError(AError, SysErrorText(AError));
}

// Closes the lookup's socket on every path out of the exchange.
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

private:
    int FHandle;
};

void AppendWord(QByteArray& AOut, quint16 AValue) {
    AOut.append(char(AValue >> 8));
    AOut.append(char(AValue & 0xFF));
}

// Exactly four "."-separated decimal numbers, each 0 to 255.
bool ParseDottedQuad(const QString& AText, quint32& AAddress) {
    const QStringList Parts = AText.split(QLatin1Char('.'));
    if (Parts.size() != 4)
        return false;
    quint32 Address = 0;
    for (const QString& P : Parts) {
        if (P.isEmpty() || P.size() > 3)
            return false;
        for (QChar C : P)
            if (C < QLatin1Char('0') || C > QLatin1Char('9'))
                return false;
        const uint V = P.toUInt();
        if (V > 255)
            return false;
        Address = (Address << 8) | V;
    }
    AAddress = Address;
    return true;
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
    // 65535 values, 0 to 65534; the global generator is safe for concurrent use.
    FDNSHeader.ID = quint16(QRandomGenerator::global()->bounded(65535));
    FDNSHeader.ClearByteCode();
    if (FAllowRecursiveQueries)
        FDNSHeader.BitCode |= 0x0100;
    FDNSHeader.QDCount = quint16(FQueryType.Count());
    FDNSHeader.ANCount = 0;
    FDNSHeader.NSCount = 0;
    FDNSHeader.ARCount = 0;
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
    FInternalQuery = Query;
}

TIdDNSResolver::TServer TIdDNSResolver::ResolveServer() const {
    QString Text = FHost.trimmed();
    TServer Server{0, FPort};

    // "host:port" picks the port for this server text only.
    const int Colon = Text.lastIndexOf(QLatin1Char(':'));
    if (Colon >= 0) {
        const QString PortText = Text.mid(Colon + 1);
        bool AllDigits = !PortText.isEmpty() && PortText.size() <= 5;
        for (QChar C : PortText)
            AllDigits = AllDigits && C >= QLatin1Char('0') && C <= QLatin1Char('9');
        if (!AllDigits || PortText.toUInt() == 0 || PortText.toUInt() > 65535)
            throw EIdDnsResolverError(QString("Invalid DNS server port in \"%1\"").arg(FHost));
        Server.Port = quint16(PortText.toUInt());
        Text = Text.left(Colon);
    }

    if (Text.compare(QLatin1String("LOCALHOST"), Qt::CaseInsensitive) == 0) {
        Server.Address = INADDR_LOOPBACK;
        return Server;
    }
    if (ParseDottedQuad(Text, Server.Address))
        return Server;

    addrinfo Hints{};
    Hints.ai_family = AF_INET;
    Hints.ai_socktype = SOCK_DGRAM;
    addrinfo* List = nullptr;
    const QByteArray Name = Text.toUtf8();
    const int Rc = ::getaddrinfo(Name.constData(), nullptr, &Hints, &List);
    if (Rc != 0) {
        if (Rc == EAI_SYSTEM)
            RaiseSocketError(errno);
        throw EIdSocketError(Rc, QString::fromLocal8Bit(::gai_strerror(Rc)));
    }
    Server.Address = ntohl(reinterpret_cast<sockaddr_in*>(List->ai_addr)->sin_addr.s_addr);
    ::freeaddrinfo(List);
    return Server;
}

QByteArray TIdDNSResolver::Exchange(const TServer& AServer) {
    TSocketGuard Socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (Socket.Handle() < 0)
        RaiseSocketError(errno);

    sockaddr_in Local{};
    Local.sin_family = AF_INET;
    Local.sin_addr.s_addr = htonl(INADDR_ANY);
    Local.sin_port = 0;
    if (::bind(Socket.Handle(), reinterpret_cast<sockaddr*>(&Local), sizeof(Local)) != 0)
        RaiseSocketError(errno);

    // Connecting makes the kernel drop datagrams from any other address, so a
    // spoofed reply has to come from the server's own address and port.
    sockaddr_in Remote{};
    Remote.sin_family = AF_INET;
    Remote.sin_addr.s_addr = htonl(AServer.Address);
    Remote.sin_port = htons(AServer.Port);
    if (::connect(Socket.Handle(), reinterpret_cast<sockaddr*>(&Remote), sizeof(Remote)) != 0)
        RaiseSocketError(errno);

    const ssize_t Sent = ::send(Socket.Handle(), FInternalQuery.constData(), size_t(FInternalQuery.size()), 0);
    if (Sent < 0) {
        if (errno == EMSGSIZE)
            throw EIdPackageSizeTooBig();
        RaiseSocketError(errno);
    }
    if (Sent < FInternalQuery.size())
        throw EIdNotAllBytesSent();

    using Clock = std::chrono::steady_clock;
    const auto Deadline = Clock::now() + std::chrono::milliseconds(qMax(0, FWaitingTime));
    for (;;) {
        const qint64 Left =
            qMax<qint64>(0, std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now()).count());
        // With an abort check the wait goes in short slices, so that a stop
        // request is seen while the server stays silent.
        const qint64 Slice = FAbortCheck ? qMin<qint64>(Left, kAbortPollMSec) : Left;
        pollfd P{Socket.Handle(), POLLIN, 0};
        const int Ready = ::poll(&P, 1, int(Slice));
        if (Ready < 0) {
            if (errno == EINTR)
                continue;
            RaiseSocketError(errno);
        }
        if (Ready > 0)
            break;
        if (Slice >= Left)
            return {};   // no reply in time: silent by design
        if (FAbortCheck()) {
            FAborted = true;
            return {};
        }
    }

    // A datagram longer than the buffer is cut to its size.
    QByteArray Buffer(kReceiveBufferSize, Qt::Uninitialized);
    ssize_t Received;
    do
        Received = ::recv(Socket.Handle(), Buffer.data(), size_t(Buffer.size()), 0);
    while (Received < 0 && errno == EINTR);
    if (Received < 0)
        RaiseSocketError(errno);
    Buffer.truncate(int(Received));
    return Buffer;
}

void TIdDNSResolver::Resolve(const QString& ADomain, TResultRecord* ASOARR, quint16 AQClass) {
    FAborted = false;
    ClearInternalQuery();
    CreateQuery(ADomain, ASOARR, AQClass);
    FPlainTextResult.clear();
    // Stopped already: nothing goes on the wire, not even a host-name lookup.
    if (FAbortCheck && FAbortCheck()) {
        FAborted = true;
        return;
    }
    const TServer Server = ResolveServer();
    FPlainTextResult = Exchange(Server);
    AfterReceive();
}

void TIdDNSResolver::ProcessReply(const QByteArray& AReply, quint16 AQueryId) {
    FDNSHeader.ID = AQueryId;
    FPlainTextResult = AReply;
    AfterReceive();
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
    if ((FDNSHeader.ANCount || FDNSHeader.NSCount || FDNSHeader.ARCount) && AResult.size() > 12)
        ParseAnswers(AResult);
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
            const QByteArray RData = AResult.mid(RDataPos, qMin(RDLength, Reader.Size() - RDataPos));

            std::unique_ptr<TResultRecord> Record = CreateRecordOfTypeCode(Type);
            Record->SetHeader(Type, Class, Name, TTL, RDLength, RData, S.Section);
            // Only a fully decoded record joins the list.
            Record->Parse(Reader, RDataPos);
            FQueryResult.Add(std::move(Record));
            ++FDecodedCount;
            Pos = RDataPos + RDLength;
        }
    }
}
