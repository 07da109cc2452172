#include "ResolveHarness.h"

#include "engine/uMainThread.h"
#include "support/FakeUdpServer.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

// Answers every query with the question it asked and the given answer records
// (each owner name a pointer to the question's name).
QByteArray Reply(const QByteArray& AQuery, int ACount, const char* ARecordsHex) {
    QByteArray R = AQuery.left(2);
    R += TFakeUdpServer::Hex("81 80 00 01");
    R += char(0);
    R += char(ACount);
    R += TFakeUdpServer::Hex("00 00 00 00");
    R += AQuery.mid(12, AQuery.size() - 12 - 11);   // the question, without the query's OPT record
    R += TFakeUdpServer::Hex(ARecordsHex);
    return R;
}

} // namespace

TEST(ReplyRecordsTest, OnlyAddressesOfARecordsAreOutput) {
    TFakeUdpServer Server([](const QByteArray& Q) -> std::optional<QByteArray> {
        return Reply(Q, 4,
                     "c0 0c 00 01 00 01 00 00 00 3c 00 00"               // A without data
                     "c0 0c 00 27 00 01 00 00 00 3c 00 04 0a 00 00 08"   // type 39, address-like data
                     "c0 0c 00 05 00 01 00 00 00 3c 00 06 03 77 77 77 c0 0c"   // CNAME www.odd.example
                     "c0 0c 00 01 00 01 00 00 00 3c 00 04 0a 00 00 07"); // A 10.0.0.7
    });
    ASSERT_TRUE(Server.IsListening());
    TResolveRun R;
    R.SetDNS({Server.Address()});
    R.SetDomains({"odd.example"});
    R.Utils.SetOutFormat("-d %ip%");
    R.Utils.SetDetailedLog(true);
    ASSERT_TRUE(R.Run(20000));
    EXPECT_EQ(ToQStringList(R.Utils.ResultList()), QStringList({"-d 10.0.0.7"}));
    // The empty address is skipped without a message.
    EXPECT_EQ(R.LogLines().filter("IP:"), QStringList({"IP: 10.0.0.7 (domain: odd.example)"}));
}

TEST(ReplyRecordsTest, GlueInTheAdditionalSectionIsNeitherAnAddressNorAListing) {
    // A server inside its own zone adds its address as glue to every reply.
    TFakeUdpServer Server([](const QByteArray& Q) -> std::optional<QByteArray> {
        QByteArray R = Q.left(2);
        const bool Blocklist = Q.contains("\x03rbl");
        R += TFakeUdpServer::Hex("81 80 00 01");
        R += Blocklist ? TFakeUdpServer::Hex("00 00 00 00 00 01") : TFakeUdpServer::Hex("00 01 00 00 00 01");
        R += Q.mid(12, Q.size() - 12 - 11);   // the question, without the query's OPT record
        if (!Blocklist)
            R += TFakeUdpServer::Hex("c0 0c 00 01 00 01 00 00 00 3c 00 04 0a 00 00 07");
        // ns.example A 192.0.2.53, additional section
        R += TFakeUdpServer::Hex("02 6e 73 07 65 78 61 6d 70 6c 65 00 00 01 00 01 00 00 00 3c 00 04 c0 00 02 35");
        return R;
    });
    ASSERT_TRUE(Server.IsListening());
    TResolveRun R;
    R.SetDNS({Server.Address()});
    R.SetDomains({"www.example", "10.1.1.1"});
    R.SetRBL(blSuppress, {"rbl.example"});
    ASSERT_TRUE(R.Run(20000));
    EXPECT_EQ(ToQStringList(R.Utils.ResultList()), QStringList({"10.0.0.7", "10.1.1.1"}));
}

TEST(ReplyRecordsTest, ASilentServerCostsOnlyItsTimeout) {
    TFakeUdpServer Server([](const QByteArray&) -> std::optional<QByteArray> { return std::nullopt; });
    ASSERT_TRUE(Server.IsListening());
    TResolveRun R;
    R.SetDNS({Server.Address()});
    R.SetDomains({"a.example", "10.1.1.1", "b.example"});
    R.SetRBL(blSuppress, {"rbl.example"});
    R.Utils.SetDNSTimeoutMSec(200);
    ASSERT_TRUE(R.Run(20000));
    // Unanswered lookups give no address and let the address through; the
    // quiet log has only the summary, which counts them.
    EXPECT_EQ(ToQStringList(R.Utils.ResultList()), QStringList({"10.1.1.1"}));
    EXPECT_EQ(R.LogLines(), QStringList({"Done: 3 lines, 2 domains, 0 not found, 2 lookups failed, 1 blocklist "
                                         "checks failed, 1 lines written, 0 duplicates, 0 skipped."}))
        << R.LogText().toStdString();
    EXPECT_EQ(Server.QueryCount(), 3);
}

TEST(JobLifetimeTest, DestroyingTheJobDuringARunStopsAndWaitsForItsWorkers) {
    // The window freeing its job while its workers are busy reading lines.
    TFakeUdpServer Server([](const QByteArray& Q) -> std::optional<QByteArray> {
        return Reply(Q, 1, "c0 0c 00 01 00 01 00 00 00 3c 00 04 0a 00 00 07");
    });
    ASSERT_TRUE(Server.IsListening());
    TProgress Progress;
    TLog Log;
    // Held as the window holds it: the pointer stays valid while the job is
    // freed, and of the job's own class (a derived test class would change the
    // object's type under the running threads before the job's destructor runs).
    TQXUtils* Utils = new TQXUtils(&Progress, &Log);
    int AfterStops = 0;
    Progress.BeforeStart = [&](TProgress*, bool& Allow) {
        Allow = true;
        Utils->BeforeStart();
    };
    Progress.OnStart = [&](TProgress*) { Utils->StartResolveThreads(); };
    Progress.AfterStop = [&](TProgress*) {
        Utils->AfterStop();
        ++AfterStops;
    };
    TStringList Lines, Dns;
    for (int I = 0; I < 100000; ++I)
        Lines.Add(QString("d%1.example").arg(I));
    Dns.Add(Server.Address());
    Utils->AssignDomainList(&Lines);
    Utils->AssignDNSList(&Dns);
    Utils->SetThreads(8);
    Utils->SetPauseMSec(0);
    Progress.StartProgress();
    ASSERT_TRUE(WaitServing([&] { return Server.QueryCount() >= 200; }, 20000));
    delete Utils;
    EXPECT_EQ(Log.ActiveThreads(), 0);
    EXPECT_EQ(AfterStops, 1);
    EXPECT_TRUE(Progress.Terminated());
}
