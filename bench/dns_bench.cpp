// DNS client costs: decoding a typical reply, and the client's own CPU time
// for a whole lookup over loopback (the server runs on another thread or in
// another process, so its work is not counted in CPU time).
#include "resolve/dns/IdDNSResolver.h"

#include <benchmark/benchmark.h>

#if __has_include("support/FakeUdpServer.h")
#include "support/FakeUdpServer.h"
#include "support/LocalDnsServers.h"
#define VT_BENCH_SERVERS 1
#endif

#include <cstring>

namespace {

void AppendWord(QByteArray& AOut, quint16 AValue) {
    AOut.append(char(AValue >> 8));
    AOut.append(char(AValue & 0xff));
}

// "www.example.com" as a CNAME to "edge.example.net", then four A records for
// the target, names compressed the way servers send them.
QByteArray TypicalReply(quint16 AId) {
    QByteArray R;
    for (quint16 W : {AId, quint16(0x8180), quint16(1), quint16(5), quint16(0), quint16(0)})
        AppendWord(R, W);
    R.append("\x03www\x07" "example\x03" "com\x00", 17);
    AppendWord(R, 1);
    AppendWord(R, 1);
    R.append("\xc0\x0c", 2);
    for (quint16 W : {quint16(5), quint16(1), quint16(0), quint16(300), quint16(18)})
        AppendWord(R, W);
    const int Target = R.size();
    R.append("\x04" "edge\x07" "example\x03" "net\x00", 18);
    for (int I = 1; I <= 4; ++I) {
        AppendWord(R, quint16(0xC000 | Target));
        for (quint16 W : {quint16(1), quint16(1), quint16(0), quint16(60), quint16(4)})
            AppendWord(R, W);
        R.append(char(192));
        R.append(char(0));
        R.append(char(2));
        R.append(char(I));
    }
    return R;
}

void BM_DecodeTypicalReply(benchmark::State& AState) {
    const QByteArray Reply = TypicalReply(0x1234);
    TIdDNSResolver R;
    for (auto _ : AState) {
        R.ProcessReply(Reply, 0x1234);
        benchmark::DoNotOptimize(R.QueryResult().GetItem(4));
    }
    if (R.QueryResult().Count() != 5)
        AState.SkipWithError("typical reply did not decode into 5 records");
    AState.SetItemsProcessed(AState.iterations());
}
BENCHMARK(BM_DecodeTypicalReply);

void BM_BuildQuery(benchmark::State& AState) {
    TIdDNSResolver R;
    R.SetQueryType({qtA});
    for (auto _ : AState) {
        R.ClearInternalQuery();
        R.CreateQuery("www.example.com", nullptr, 1);
        benchmark::DoNotOptimize(R.InternalQuery().size());
    }
}
BENCHMARK(BM_BuildQuery);

#ifdef VT_BENCH_SERVERS
void RunLookups(benchmark::State& AState, const QString& AHost, const QString& AName) {
    TIdDNSResolver R;
    R.SetIPVersion(Id_IPv4);
    R.SetQueryType({qtA});
    R.SetHost(AHost);
    R.SetWaitingTime(2000);
    for (auto _ : AState) {
        R.QueryResult().Clear();
        R.Resolve(AName);
        if (R.QueryResult().Count() == 0) {
            AState.SkipWithError("lookup returned no records");
            break;
        }
    }
}

void BM_LoopbackLookupFakeServer(benchmark::State& AState) {
    const QByteArray Reply = TypicalReply(0);
    TFakeUdpServer Server([Reply](const QByteArray& Q) -> std::optional<QByteArray> {
        return TFakeUdpServer::WithIdOf(Q, Reply);
    });
    RunLookups(AState, Server.Address(), "www.example.com");
}
BENCHMARK(BM_LoopbackLookupFakeServer)->UseRealTime();

void BM_LoopbackLookupDnsmasq(benchmark::State& AState) {
    if (!TLocalDnsServers::BinariesAvailable()) {
        AState.SkipWithError("dnsmasq or rbldnsd missing");
        return;
    }
    TLocalDnsServers Servers;
    if (!Servers.Start()) {
        AState.SkipWithError(Servers.LastError().toStdString().c_str());
        return;
    }
    RunLookups(AState, Servers.DnsAddress(), "www.vt.test");
}
BENCHMARK(BM_LoopbackLookupDnsmasq)->UseRealTime();
#endif

} // namespace

BENCHMARK_MAIN();
