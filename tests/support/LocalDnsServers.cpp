#include "support/LocalDnsServers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <chrono>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char* const kRbldnsd = "/usr/sbin/rbldnsd";
const char* const kDnsmasq = "/usr/sbin/dnsmasq";

QString FindBinary(const char* AFixedPath, const char* AName) {
    if (QFileInfo(QString::fromLatin1(AFixedPath)).isExecutable())
        return QString::fromLatin1(AFixedPath);
    QString Found = QStandardPaths::findExecutable(QString::fromLatin1(AName));
    if (Found.isEmpty())
        Found = QStandardPaths::findExecutable(QString::fromLatin1(AName), {"/usr/sbin", "/sbin"});
    return Found;
}

bool WriteText(const QString& AFile, const QString& AText) {
    QFile F(AFile);
    if (!F.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray Bytes = AText.toUtf8();
    const bool Ok = F.write(Bytes) == Bytes.size();
    F.close();
    ::chmod(QFile::encodeName(AFile).constData(), 0644);
    return Ok;
}

bool ProcessAlive(pid_t APid) {
    if (APid <= 0)
        return false;
    int Status = 0;
    return ::waitpid(APid, &Status, WNOHANG) == 0;
}

} // namespace

TLocalDnsServers::TOptions::TOptions()
    : LocalDomain("vt.test"),
      Hosts({{"10.0.0.1", "www.vt.test"},
             {"10.0.0.2", "www.vt.test"},
             {"10.0.0.3", "www.vt.test"},
             {"10.1.2.3", "listed.vt.test"},
             {"10.1.2.4", "clean.vt.test"},
             {"192.0.2.10", "mail.vt.test"}}),
      Zones({{"dbl.vt-bl.test", "dnset", {"bad.example", "*.evil.example", "listed.vt.test"}},
             {"rbl1.vt-bl.test", "ip4set", {"10.1.2.3", "10.9.0.0/16"}},
             {"rbl2.vt-bl.test", "ip4set", {"192.0.2.10"}}}),
      ListedAddress("127.0.0.2"),
      StartTimeoutMs(5000) {}

TLocalDnsServers::TLocalDnsServers() = default;

QString TLocalDnsServers::ValuedEntry(const QString& AEntry, const QString& AAddress, const QString& AText) {
    return AEntry + " :" + AAddress + ':' + AText;
}

TLocalDnsServers::~TLocalDnsServers() {
    StopAll();
    if (!FDir.isEmpty())
        QDir(FDir).removeRecursively();
}

bool TLocalDnsServers::BinariesAvailable(QString* AMissing) {
    QStringList Missing;
    if (FindBinary(kRbldnsd, "rbldnsd").isEmpty())
        Missing << "rbldnsd";
    if (FindBinary(kDnsmasq, "dnsmasq").isEmpty())
        Missing << "dnsmasq";
    if (AMissing)
        *AMissing = Missing.join(", ");
    return Missing.isEmpty();
}

quint16 TLocalDnsServers::FreeUdpPort() {
    // Ports below the kernel's ephemeral range, so that no client socket of
    // this or another test process can take the port between this probe and
    // the server's bind.
    int Low = 32768;
    QFile Range("/proc/sys/net/ipv4/ip_local_port_range");
    if (Range.open(QIODevice::ReadOnly)) {
        const int First = QString::fromLatin1(Range.readAll()).simplified().section(' ', 0, 0).toInt();
        if (First > 12000)
            Low = First;
    }
    for (int Attempt = 0; Attempt < 200; ++Attempt) {
        const quint16 Port = quint16(10000 + QRandomGenerator::global()->bounded(Low - 10000));
        bool Free = true;
        // Free on the loopback address and on the wildcard address alike.
        for (quint32 Address : {quint32(INADDR_LOOPBACK), quint32(INADDR_ANY)}) {
            const int S = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            if (S < 0)
                return 0;
            sockaddr_in A{};
            A.sin_family = AF_INET;
            A.sin_addr.s_addr = htonl(Address);
            A.sin_port = htons(Port);
            Free = Free && ::bind(S, reinterpret_cast<sockaddr*>(&A), sizeof(A)) == 0;
            ::close(S);
        }
        if (Free)
            return Port;
    }
    return 0;
}

QByteArray TLocalDnsServers::QueryOnce(quint16 APort, const QString& AName, int ATimeoutMs) {
    QByteArray Q;
    const quint16 Id = 0x5a5a;
    const char Header[12] = {char(Id >> 8), char(Id & 0xff), 0x01, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0};
    Q.append(Header, 12);
    for (const QString& Part : AName.split('.', Qt::SkipEmptyParts)) {
        const QByteArray L = Part.toLatin1();
        Q.append(char(L.size()));
        Q.append(L);
    }
    Q.append(char(0));
    Q.append("\x00\x01\x00\x01", 4);

    const int S = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (S < 0)
        return {};
    sockaddr_in To{};
    To.sin_family = AF_INET;
    To.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    To.sin_port = htons(APort);
    QByteArray Reply;
    if (::connect(S, reinterpret_cast<sockaddr*>(&To), sizeof(To)) == 0 &&
        ::send(S, Q.constData(), size_t(Q.size()), 0) == Q.size()) {
        pollfd P{S, POLLIN, 0};
        if (::poll(&P, 1, ATimeoutMs) > 0 && (P.revents & POLLIN)) {
            char Buf[4096];
            const ssize_t N = ::recv(S, Buf, sizeof(Buf), 0);
            if (N >= 2 && quint8(Buf[0]) == (Id >> 8) && quint8(Buf[1]) == (Id & 0xff))
                Reply = QByteArray(Buf, int(N));
        }
    }
    ::close(S);
    return Reply;
}

pid_t TLocalDnsServers::Spawn(const QStringList& AArgs, const QString& ALogFile) {
    // Everything the child needs is prepared before fork: only async-signal-safe
    // calls may run between fork and exec in a threaded process.
    std::vector<QByteArray> Store;
    for (const QString& A : AArgs)
        Store.push_back(A.toLocal8Bit());
    std::vector<char*> Argv;
    for (QByteArray& B : Store)
        Argv.push_back(B.data());
    Argv.push_back(nullptr);
    const QByteArray Log = QFile::encodeName(ALogFile);
    const int LogFd = ::open(Log.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (LogFd < 0)
        return -1;
    const pid_t Pid = ::fork();
    if (Pid == 0) {
        // The server must not outlive a test binary that crashes.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int Null = ::open("/dev/null", O_RDONLY);
        if (Null >= 0)
            ::dup2(Null, 0);
        ::dup2(LogFd, 1);
        ::dup2(LogFd, 2);
        ::execv(Argv[0], Argv.data());
        ::_exit(127);
    }
    ::close(LogFd);
    return Pid;
}

void TLocalDnsServers::Stop(TProc& AProc) {
    if (AProc.Pid <= 0)
        return;
    ::kill(AProc.Pid, SIGTERM);
    int Status = 0;
    bool Reaped = false;
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < Deadline) {
        const pid_t R = ::waitpid(AProc.Pid, &Status, WNOHANG);
        if (R == AProc.Pid || (R < 0 && errno == ECHILD)) {
            Reaped = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!Reaped) {
        ::kill(AProc.Pid, SIGKILL);
        ::waitpid(AProc.Pid, &Status, 0);
    }
    AProc.Pid = -1;
}

QString TLocalDnsServers::ReadLog(const QString& AFile) {
    QFile F(AFile);
    if (!F.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(F.readAll()).trimmed();
}

bool TLocalDnsServers::WriteFiles() {
    char Template[] = "/tmp/vt-dns-XXXXXX";
    if (!::mkdtemp(Template)) {
        FLastError = QString("cannot create a temporary folder: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    FDir = QString::fromLocal8Bit(Template);
    // rbldnsd drops root and reads its data as an unprivileged user.
    ::chmod(Template, 0755);

    // A name only this instance knows, so the readiness probe cannot be
    // answered by some other server that happens to hold the port.
    const quint32 Token = QRandomGenerator::global()->bounded(1u << 24);
    FProbeAddress = QString("127.%1.%2.%3").arg(Token >> 16).arg((Token >> 8) & 0xff).arg(Token & 0xff);
    FProbeName = QString("fixture-probe-%1.%2").arg(Token).arg(FOptions.LocalDomain.isEmpty() ? "vt.test" : FOptions.LocalDomain);
    QString Hosts = FProbeAddress + ' ' + FProbeName + '\n';
    for (const THostEntry& H : FOptions.Hosts)
        Hosts += H.Address + ' ' + H.Name + '\n';
    FHostsFile = FDir + "/hosts";
    if (!WriteText(FHostsFile, Hosts)) {
        FLastError = "cannot write " + FHostsFile;
        return false;
    }
    for (int I = 0; I < FOptions.Zones.size(); ++I) {
        const TZone& Z = FOptions.Zones[I];
        QString Data = ':' + FOptions.ListedAddress + ":Listed\n";
        for (const QString& E : Z.Entries)
            Data += E + '\n';
        if (!WriteText(FDir + QString("/zone%1.txt").arg(I), Data)) {
            FLastError = "cannot write zone data for " + Z.Name;
            return false;
        }
    }
    return true;
}

bool TLocalDnsServers::WaitReady(TProc& AProc, const QString& AProbeName, const QByteArray& AExpect,
                                 const QString& AWhat) {
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FOptions.StartTimeoutMs);
    while (std::chrono::steady_clock::now() < Deadline) {
        if (!ProcessAlive(AProc.Pid)) {
            FLastError = AWhat + " exited: " + ReadLog(AProc.LogFile);
            AProc.Pid = -1;
            return false;
        }
        const QByteArray Reply = QueryOnce(AProc.Port, AProbeName, 100);
        if (!Reply.isEmpty() && Reply.contains(AExpect) && ProcessAlive(AProc.Pid))
            return true;
        if (Reply.isEmpty())
            continue;
        // Answered, but not by this instance: let it fail or time out.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    FLastError = AWhat + " did not answer within the start timeout: " + ReadLog(AProc.LogFile);
    Stop(AProc);
    return false;
}

bool TLocalDnsServers::StartRbldnsd() {
    const QString Bin = FindBinary(kRbldnsd, "rbldnsd");
    // A port can be taken between probing and binding; a few attempts cover that.
    for (int Attempt = 0; Attempt < 3; ++Attempt) {
        FRbldnsd.Port = FreeUdpPort();
        FRbldnsd.LogFile = FDir + "/rbldnsd.log";
        QStringList Args{Bin, "-n", "-u", "rbldns", "-4", "-c", "0", "-w", FDir,
                         "-b", QString("127.0.0.1/%1").arg(FRbldnsd.Port)};
        for (int I = 0; I < FOptions.Zones.size(); ++I)
            Args << QString("%1:%2:zone%3.txt").arg(FOptions.Zones[I].Name, FOptions.Zones[I].Type).arg(I);
        FRbldnsd.Pid = Spawn(Args, FRbldnsd.LogFile);
        if (FRbldnsd.Pid < 0) {
            FLastError = "cannot start rbldnsd";
            return false;
        }
        // rbldnsd reports its bound address before it serves anything.
        const QByteArray Listening = QString("listening on 127.0.0.1/%1").arg(FRbldnsd.Port).toLatin1();
        if (WaitReady(FRbldnsd, FOptions.Zones.first().Name, QByteArray(), "rbldnsd") &&
            ReadLog(FRbldnsd.LogFile).toLatin1().contains(Listening)) {
            FRbldnsdPort = FRbldnsd.Port;
            return true;
        }
        Stop(FRbldnsd);
    }
    return false;
}

bool TLocalDnsServers::StartDnsmasqInto(TProc& AProc, int ANumber) {
    const QString Bin = FindBinary(kDnsmasq, "dnsmasq");
    for (int Attempt = 0; Attempt < 3; ++Attempt) {
        AProc.Port = FreeUdpPort();
        AProc.LogFile = FDir + QString("/dnsmasq%1.log").arg(ANumber);
        QStringList Args{Bin,
                         "--conf-file=/dev/null",
                         "--keep-in-foreground",
                         "--log-facility=-",
                         "--no-resolv",
                         "--no-hosts",
                         "--no-poll",
                         "--addn-hosts=" + FHostsFile,
                         "--port=" + QString::number(AProc.Port),
                         "--listen-address=127.0.0.1",
                         "--bind-interfaces",
                         "--pid-file=",
                         "--cache-size=0",
                         "--user=root",
                         "--group=root"};
        if (FOptions.ListenIPv6)
            Args << "--listen-address=::1";
        if (!FOptions.LocalDomain.isEmpty())
            Args << "--local=/" + FOptions.LocalDomain + "/";
        if (FRbldnsdPort)
            for (const TZone& Z : FOptions.Zones)
                Args << QString("--server=/%1/127.0.0.1#%2").arg(Z.Name).arg(FRbldnsdPort);
        AProc.Pid = Spawn(Args, AProc.LogFile);
        if (AProc.Pid < 0) {
            FLastError = "cannot start dnsmasq";
            return false;
        }
        QByteArray Expect("\x00\x04", 2);
        for (const QString& Octet : FProbeAddress.split('.'))
            Expect.append(char(Octet.toInt()));
        if (WaitReady(AProc, FProbeName, Expect, "dnsmasq"))
            return true;
    }
    return false;
}

bool TLocalDnsServers::Start(const TOptions& AOptions) {
    StopAll();
    FDnsmasq.clear();
    FRbldnsdPort = 0;
    if (!FDir.isEmpty())
        QDir(FDir).removeRecursively();
    FDir.clear();
    FOptions = AOptions;
    FLastError.clear();
    QString Missing;
    if (!BinariesAvailable(&Missing)) {
        FLastError = "binary missing: " + Missing;
        return false;
    }
    if (!WriteFiles())
        return false;
    if (!FOptions.Zones.isEmpty() && !StartRbldnsd())
        return false;
    return StartAnotherDnsmasq() == 0;
}

int TLocalDnsServers::StartAnotherDnsmasq() {
    if (FDir.isEmpty()) {
        FLastError = "Start() was not called";
        return -1;
    }
    TProc P;
    if (!StartDnsmasqInto(P, FDnsmasq.size()))
        return -1;
    FDnsmasq.append(P);
    return FDnsmasq.size() - 1;
}

void TLocalDnsServers::StopDnsmasq(int AIndex) {
    if (AIndex >= 0 && AIndex < FDnsmasq.size())
        Stop(FDnsmasq[AIndex]);
}

void TLocalDnsServers::StopAll() {
    for (TProc& P : FDnsmasq)
        Stop(P);
    Stop(FRbldnsd);
}

QString TLocalDnsServers::DnsAddress(int AIndex) const {
    return QString("127.0.0.1:%1").arg(DnsPort(AIndex));
}

quint16 TLocalDnsServers::DnsPort(int AIndex) const {
    return AIndex >= 0 && AIndex < FDnsmasq.size() ? FDnsmasq[AIndex].Port : 0;
}

QString TLocalDnsServers::RbldnsdAddress() const {
    return QString("127.0.0.1:%1").arg(FRbldnsdPort);
}

std::unique_ptr<TLocalDnsServers> TLocalDnsServers::StartShared(const TOptions& AOptions, int AExtraDnsmasq,
                                                                QString& AError) {
    auto Servers = std::make_unique<TLocalDnsServers>();
    bool Ok = Servers->Start(AOptions);
    for (int I = 1; Ok && I <= AExtraDnsmasq; ++I)
        Ok = Servers->StartAnotherDnsmasq() == I;
    if (!Ok) {
        AError = Servers->LastError();
        return nullptr;
    }
    return Servers;
}
