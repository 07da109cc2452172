// veltrask-cli against a scripted server that sends what no honest one does:
// the addresses written and the exit status tell whether a stranger's word
// reached the output.
#include "CliProcess.h"
#include "support/ScriptedDnsServer.h"

#include <gtest/gtest.h>

namespace {

using TS = TScriptedDnsServer;

const QByteArray kGood = TS::Ip(10, 0, 0, 1);
const QByteArray kEvil = TS::Ip(6, 6, 6, 6);

TS::TRecord A(const QByteArray& AIp, const QByteArray& AOwner = {}) { return {AOwner, 1, AIp}; }

QList<TS::TDatagram> One(const QByteArray& ABytes) { return {{ABytes}}; }

// A DBL zone "dbl.t": "listed.vt.test" is listed; everything else has its
// address, or a listing owned by another name.
QList<TS::TDatagram> WithZone(const QByteArray& AQuery, const QList<TS::TRecord>& AZoneAnswer) {
    const QByteArray Name = TS::QueryName(AQuery);
    if (Name == "listed.vt.test.dbl.t")
        return One(TS::ReplyOf(AQuery, {A(TS::Ip(127, 0, 0, 2))}));
    if (Name.endsWith(".dbl.t"))
        return One(TS::ReplyOf(AQuery, AZoneAnswer));
    return One(TS::ReplyOf(AQuery, {A(kGood)}));
}

} // namespace

TEST(CliHostileDns, RecordsOfOtherNamesAndRepliesWithoutTheQuestionNeverReachTheOutput) {
    QList<TS::TRecord> Many;   // about 9.6 KB in one datagram
    QStringList ManyLines;
    for (int I = 0; I < 600; ++I) {
        Many << A(TS::Ip(10, 2, I / 250, I % 250 + 1));
        ManyLines << QString("10.2.%1.%2").arg(I / 250).arg(I % 250 + 1);
    }
    struct TCase {
        const char* What;
        TS::TUdpScript Udp;
        TS::TTcpScript Tcp;
        QStringList Args;
        QByteArray Input;
        QStringList Out;
        int Exit;
        const char* ErrHas = "";
    } Cases[] = {
        {"an A record of another name",
         [](const QByteArray& Q) { return One(TS::ReplyOf(Q, {A(kGood), A(kEvil, "evil.example")})); },
         {}, {"-v"}, "www.vt.test\n", {"10.0.0.1"}, 0, "Records for other names ignored in the reply for www.vt.test"},
        {"CNAME to c1 and an A record of an unrelated name",
         [](const QByteArray& Q) {
             if (TS::QueryName(Q) == "c1.vt.test")
                 return One(TS::ReplyOf(Q, {A(TS::Ip(10, 0, 0, 2))}));
             return One(TS::ReplyOf(Q, {{{}, 5, TS::Encoded("c1.vt.test")}, A(kEvil, "unrelated.vt.test")}));
         },
         {}, {}, "www.vt.test\n", {"10.0.0.2"}, 0},
        {"a bare header and an NXDOMAIN without question before the reply",
         [](const QByteArray& Q) -> QList<TS::TDatagram> {
             return {{TS::ReplyOf(Q, {}, 0, false).left(12)}, {TS::ReplyOf(Q, {}, 3, false)},
                     {TS::ReplyOf(Q, {A(kGood)})}};
         },
         {}, {}, "www.vt.test\n", {"10.0.0.1"}, 0},
        {"only an NXDOMAIN without question: a failed lookup, not \"not found\"",
         [](const QByteArray& Q) { return One(TS::ReplyOf(Q, {}, 3, false)); }, {}, {}, "www.vt.test\n", {}, 3},
        {"truncated over TCP too",
         [](const QByteArray& Q) { return One(TS::ReplyOf(Q, {A(kEvil)}, 0x0200)); },
         [](const QByteArray& Q) -> std::optional<QByteArray> { return TS::ReplyOf(Q, {A(kEvil)}, 0x0200); }, {},
         "www.vt.test\n", {}, 3},
        {"NODATA with a cut SOA",
         [](const QByteArray& Q) { return One(TS::ReplyOf(Q, {{"vt.test", 6, TS::Encoded("ns.vt.test"), 1, TS::seAuthority}})); },
         {}, {}, "www.vt.test\n", {}, 3},
        {"a reply over 8 KB without TC",
         [Many](const QByteArray& Q) { return One(TS::ReplyOf(Q, Many)); }, {}, {}, "www.vt.test\n", Sorted(ManyLines), 0},
        {"a DBL listing owned by another name lists nothing",
         [](const QByteArray& Q) { return WithZone(Q, {A(TS::Ip(127, 0, 0, 2), "other.dbl.t")}); }, {},
         {"--dbl", "dbl.t"}, "www.vt.test\nlisted.vt.test\n", {"10.0.0.1"}, 0},
    };
    for (const TCase& C : Cases) {
        TS Server(C.Udp, C.Tcp);
        ASSERT_TRUE(Server.IsListening());
        const TCliResult R = RunCli(QStringList{"-s", Server.Address(), "--pause", "0", "--timeout", "1000"} + C.Args,
                                    C.Input);
        ASSERT_TRUE(R.Finished) << C.What;
        EXPECT_EQ(R.ExitCode, C.Exit) << C.What << ": " << R.ErrText().toStdString();
        EXPECT_EQ(Sorted(R.OutLines()), C.Out) << C.What;
        EXPECT_TRUE(R.ErrText().contains(C.ErrHas)) << C.What << ": " << R.ErrText().toStdString();
    }
}
