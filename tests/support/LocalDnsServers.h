#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

#include <sys/types.h>

// Starts real DNS servers on free loopback ports for one test and stops them
// again: rbldnsd serving blocklist zones, and one or two dnsmasq instances that
// answer A questions from a hosts file, answer NXDOMAIN for every other name
// under the local test domain and forward the blocklist zones to rbldnsd.
//
//   TLocalDnsServers Servers;
//   VT_SKIP_WITHOUT_DNS_SERVERS();           // only when the binaries are absent
//   ASSERT_TRUE(Servers.Start()) << Servers.LastError();
//   Resolver.SetHost(Servers.DnsAddress());  // "127.0.0.1:<port>"
//
// IPv6: a hosts entry may carry an IPv6 address in any text form
// ("2001:db8::10"); dnsmasq answers AAAA questions for it, and an A question
// for a name with IPv6 entries only gets a reply without records. A zone may
// be of rbldnsd's type "ip6tset" (entries are /64 prefixes written as four
// groups, "2001:db8:1:2") or "ip6trie" (addresses and CIDR blocks,
// "2001:db8::20", "2001:db8:bad::/48"); both are asked under the address's 32
// nibbles in reverse order ("5.0.0. ... .1.0.0.2.<zone>").
class TLocalDnsServers {
public:
    struct THostEntry {
        QString Address;   // dotted IPv4
        QString Name;      // fully qualified, e.g. "www.vt.test"
    };

    // One blocklist zone served by rbldnsd: Type is "dnset" (names) or "ip4set"
    // (addresses); Entries are data lines as rbldnsd reads them ("bad.example",
    // "*.evil.example", "10.1.2.3", "10.9.0.0/16"). An entry answers
    // ListedAddress unless it carries its own value (see ValuedEntry).
    struct TZone {
        QString Name;
        QString Type;
        QStringList Entries;
    };

    // A zone entry answering AAddress instead of the zone's listed address,
    // in rbldnsd's value syntax: ValuedEntry("refused.example", "127.255.255.254")
    // is "refused.example :127.255.255.254:<text>".
    static QString ValuedEntry(const QString& AEntry, const QString& AAddress,
                               const QString& AText = QStringLiteral("Listed"));

    struct TOptions {
        TOptions();
        QString LocalDomain;        // answered only from the hosts entries
        QList<THostEntry> Hosts;
        QList<TZone> Zones;         // served by rbldnsd, forwarded by dnsmasq
        QString ListedAddress;      // the A answer for listed entries
        int StartTimeoutMs;         // per server
        bool ListenIPv6 = false;    // dnsmasq answers on [::1] as well, same port
    };

    TLocalDnsServers();
    ~TLocalDnsServers();
    TLocalDnsServers(const TLocalDnsServers&) = delete;
    TLocalDnsServers& operator=(const TLocalDnsServers&) = delete;

    // The servers a whole test suite shares: started with AOptions and
    // AExtraDnsmasq more dnsmasq instances beside the first. Null on failure,
    // with the reason in AError.
    static std::unique_ptr<TLocalDnsServers> StartShared(const TOptions& AOptions, int AExtraDnsmasq,
                                                         QString& AError);

    // True when both binaries can be run; otherwise names the missing ones.
    static bool BinariesAvailable(QString* AMissing = nullptr);

    // Writes the data files, starts rbldnsd (when zones are given) and the first
    // dnsmasq, and waits until each answers. False with LastError() on failure.
    bool Start(const TOptions& AOptions = TOptions());
    // Another dnsmasq with the same data (for server rotation). Returns its index or -1.
    int StartAnotherDnsmasq();
    // Stops one dnsmasq, e.g. to have a configured server that no longer answers.
    void StopDnsmasq(int AIndex);
    void StopAll();

    QString DnsAddress(int AIndex = 0) const;   // "127.0.0.1:<port>"
    quint16 DnsPort(int AIndex = 0) const;
    quint16 RbldnsdPort() const { return FRbldnsdPort; }
    QString RbldnsdAddress() const;
    int DnsmasqCount() const { return FDnsmasq.size(); }
    const TOptions& Options() const { return FOptions; }
    QString LastError() const { return FLastError; }
    QString TempDir() const { return FDir; }

    // Sends one A question to 127.0.0.1:APort and waits up to ATimeoutMs for the
    // reply; returns the reply bytes or empty. Used for readiness checks.
    static QByteArray QueryOnce(quint16 APort, const QString& AName, int ATimeoutMs);
    // A UDP port free at the time of the call, below the ephemeral range.
    static quint16 FreeUdpPort();

private:
    struct TProc {
        pid_t Pid = -1;
        quint16 Port = 0;
        QString LogFile;
    };

    bool WriteFiles();
    bool StartRbldnsd();
    bool StartDnsmasqInto(TProc& AProc, int ANumber);
    bool WaitReady(TProc& AProc, const QString& AProbeName, const QByteArray& AExpect, const QString& AWhat);
    static pid_t Spawn(const QStringList& AArgs, const QString& ALogFile);
    static void Stop(TProc& AProc);
    static QString ReadLog(const QString& AFile);

    TOptions FOptions;
    QString FDir;
    QString FHostsFile;
    QString FProbeName;
    QString FProbeAddress;
    quint16 FRbldnsdPort = 0;
    TProc FRbldnsd;
    QList<TProc> FDnsmasq;
    QString FLastError;
};

// Skips the current test when rbldnsd or dnsmasq is not installed.
#define VT_SKIP_WITHOUT_DNS_SERVERS()                                                                        \
    do {                                                                                                     \
        QString _vtMissing;                                                                                  \
        if (!TLocalDnsServers::BinariesAvailable(&_vtMissing))                                               \
            GTEST_SKIP() << "binary missing: " << _vtMissing.toStdString();                                  \
    } while (0)
