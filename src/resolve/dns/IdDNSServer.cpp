#include "resolve/dns/IdDNSServer.h"

#include <QStringList>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

namespace {

bool Fail(QString* AError, const QString& AText) {
    if (AError)
        *AError = AText;
    return false;
}

bool AllDigits(const QString& AText) {
    for (QChar C : AText)
        if (C < QLatin1Char('0') || C > QLatin1Char('9'))
            return false;
    return !AText.isEmpty();
}

// Exactly four "."-separated decimal numbers, each 0 to 255.
bool ParseDottedQuad(const QString& AText, quint32& AAddress) {
    const QStringList Parts = AText.split(QLatin1Char('.'));
    if (Parts.size() != 4)
        return false;
    quint32 Address = 0;
    for (const QString& P : Parts) {
        if (P.size() > 3 || !AllDigits(P) || P.toUInt() > 255)
            return false;
        Address = (Address << 8) | P.toUInt();
    }
    AAddress = Address;
    return true;
}

bool ParsePort(const QString& AText, quint16& APort) {
    if (AText.size() > 5 || !AllDigits(AText) || AText.toUInt() == 0 || AText.toUInt() > 65535)
        return false;
    APort = quint16(AText.toUInt());
    return true;
}

bool ParseIPv6(const QString& AText, quint8 (&AAddress)[16]) {
    in6_addr Addr{};
    if (AText.isEmpty() || ::inet_pton(AF_INET6, AText.toLatin1().constData(), &Addr) != 1)
        return false;
    std::memcpy(AAddress, &Addr, 16);
    return true;
}

// Letters, digits, "-" and "_" in labels of 1 to 63 that neither begin nor
// end with "-", one final "." allowed.
bool IsHostName(const QString& AText) {
    QString Name = AText;
    if (Name.endsWith(QLatin1Char('.')))
        Name.chop(1);
    if (Name.isEmpty() || Name.size() > 253)
        return false;
    for (const QString& Label : Name.split(QLatin1Char('.'))) {
        if (Label.isEmpty() || Label.size() > 63 || Label.startsWith(QLatin1Char('-')) ||
            Label.endsWith(QLatin1Char('-')))
            return false;
        for (QChar C : Label)
            if (!(C.unicode() < 128 && (C.isLetterOrNumber() || C == QLatin1Char('-') || C == QLatin1Char('_'))))
                return false;
    }
    return true;
}

} // namespace

bool ParseDNSServerEntry(const QString& AText, quint16 ADefaultPort, TDNSServerEntry& AEntry, QString* AError) {
    AEntry = TDNSServerEntry();
    AEntry.Port = ADefaultPort;
    QString Host = AText;
    if (Host.isEmpty())
        return Fail(AError, QStringLiteral("empty server"));

    if (Host.startsWith(QLatin1Char('['))) {
        // "[v6]" or "[v6]:port": the brackets are what lets a port follow.
        const qsizetype Close = Host.indexOf(QLatin1Char(']'));
        if (Close < 0)
            return Fail(AError, QStringLiteral("no \"]\" after the IPv6 address"));
        const QString Rest = Host.mid(Close + 1);
        if (!Rest.isEmpty()) {
            if (!Rest.startsWith(QLatin1Char(':')) || !ParsePort(Rest.mid(1), AEntry.Port))
                return Fail(AError, QStringLiteral("bad port"));
            AEntry.HasPort = true;
        }
        AEntry.Host = Host.mid(1, Close - 1);
        AEntry.Kind = TDNSServerEntry::skIPv6;
        if (!ParseIPv6(AEntry.Host, AEntry.IPv6))
            return Fail(AError, QStringLiteral("not an IPv6 address"));
        return true;
    }

    const qsizetype Colons = Host.count(QLatin1Char(':'));
    if (Colons >= 2) {
        // A bare IPv6 address; a port needs the bracketed form.
        AEntry.Host = Host;
        AEntry.Kind = TDNSServerEntry::skIPv6;
        if (!ParseIPv6(Host, AEntry.IPv6))
            return Fail(AError, QStringLiteral("not an IPv6 address"));
        return true;
    }
    if (Colons == 1) {
        const qsizetype Colon = Host.indexOf(QLatin1Char(':'));
        if (!ParsePort(Host.mid(Colon + 1), AEntry.Port))
            return Fail(AError, QStringLiteral("bad port"));
        AEntry.HasPort = true;
        Host.truncate(Colon);
    }
    AEntry.Host = Host;
    if (Host.compare(QLatin1String("LOCALHOST"), Qt::CaseInsensitive) == 0) {
        AEntry.Kind = TDNSServerEntry::skIPv4;
        AEntry.IPv4 = INADDR_LOOPBACK;
        return true;
    }
    if (ParseDottedQuad(Host, AEntry.IPv4)) {
        AEntry.Kind = TDNSServerEntry::skIPv4;
        return true;
    }
    // Digits and dots only, yet no address ("300.1.1.1", "10..1"): a typo,
    // not a name anyone registered.
    bool Numeric = true;
    for (QChar C : Host)
        Numeric = Numeric && (C == QLatin1Char('.') || (C >= QLatin1Char('0') && C <= QLatin1Char('9')));
    if (Numeric || !IsHostName(Host))
        return Fail(AError, QStringLiteral("not an address or host name"));
    AEntry.Kind = TDNSServerEntry::skName;
    return true;
}

bool IsValidDNSServerEntry(const QString& AText) {
    TDNSServerEntry Entry;
    return ParseDNSServerEntry(AText.trimmed(), 53, Entry);
}

namespace {

// What the look-up thread leaves for the one waiting; shared, since the
// waiter may give up and go before the thread is done.
struct TNameLookup {
    std::mutex Lock;
    std::condition_variable Ready;
    bool Done = false;
    int Rc = 0;
    int Errno = 0;
    int Family = 0;
    quint8 Address[16] = {};
};

void LookUpName(const QByteArray& AName, const std::shared_ptr<TNameLookup>& AState) {
    addrinfo Hints{};
    Hints.ai_family = AF_UNSPEC;
    Hints.ai_socktype = SOCK_DGRAM;
    addrinfo* List = nullptr;
    const int Rc = ::getaddrinfo(AName.constData(), nullptr, &Hints, &List);
    const int Errno = errno;
    // Lookups go over IPv4: an IPv4 address when the name has one.
    const addrinfo* Pick = nullptr;
    for (const addrinfo* A = Rc == 0 ? List : nullptr; A; A = A->ai_next)
        if ((A->ai_family == AF_INET || A->ai_family == AF_INET6) &&
            (!Pick || (A->ai_family == AF_INET && Pick->ai_family != AF_INET)))
            Pick = A;
    std::lock_guard<std::mutex> Guard(AState->Lock);
    AState->Rc = Rc != 0 ? Rc : Pick ? 0 : EAI_NONAME;
    AState->Errno = Errno;
    if (Pick) {
        AState->Family = Pick->ai_family;
        if (Pick->ai_family == AF_INET)
            std::memcpy(AState->Address, &reinterpret_cast<const sockaddr_in*>(Pick->ai_addr)->sin_addr, 4);
        else
            std::memcpy(AState->Address, &reinterpret_cast<const sockaddr_in6*>(Pick->ai_addr)->sin6_addr, 16);
    }
    if (List)
        ::freeaddrinfo(List);
    AState->Done = true;
    AState->Ready.notify_all();
}

} // namespace

TDNSServerLookup LookUpDNSServer(TDNSServerEntry& AEntry, int ATimeoutMSec, const std::function<bool()>& AAbort,
                                 QString* AError) {
    if (AEntry.Kind != TDNSServerEntry::skName)
        return slFound;
    auto State = std::make_shared<TNameLookup>();
    // getaddrinfo cannot be cut short: it runs on a thread of its own, which
    // ends by itself when the platform gives up, whoever still waits for it.
    std::thread(LookUpName, AEntry.Host.toUtf8(), State).detach();
    using TClock = std::chrono::steady_clock;
    const TClock::time_point Deadline = TClock::now() + std::chrono::milliseconds(qMax(0, ATimeoutMSec));
    std::unique_lock<std::mutex> Lock(State->Lock);
    while (!State->Done) {
        if (AAbort && AAbort())
            return slAborted;
        const TClock::time_point Now = TClock::now();
        if (Now >= Deadline) {
            if (AError)
                *AError = QStringLiteral("no answer within %1 ms").arg(ATimeoutMSec);
            return slNotFound;
        }
        State->Ready.wait_for(Lock, qMin<TClock::duration>(Deadline - Now, std::chrono::milliseconds(50)));
    }
    if (State->Rc != 0) {
        if (AError)
            *AError = State->Rc == EAI_SYSTEM ? QString::fromLocal8Bit(std::strerror(State->Errno))
                                              : QString::fromLocal8Bit(::gai_strerror(State->Rc));
        return slNotFound;
    }
    if (State->Family == AF_INET) {
        AEntry.Kind = TDNSServerEntry::skIPv4;
        quint32 Net;
        std::memcpy(&Net, State->Address, 4);
        AEntry.IPv4 = ntohl(Net);
    } else {
        AEntry.Kind = TDNSServerEntry::skIPv6;
        std::memcpy(AEntry.IPv6, State->Address, 16);
    }
    return slFound;
}
