// A measurement, not a check of the build (disabled; docs/reliability.md,
// "lossy resolver"): veltrask-cli over 2,000 domains through a relay that
// loses 5 % of the questions, with 0, 1 and 3 retries. Run it with
//   build/tests_cli --gtest_also_run_disabled_tests --gtest_filter='LossyResolverMeasure.*'
#include "CliProcess.h"
#include "support/LossyUdpRelay.h"

#include <QElapsedTimer>
#include <QSet>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>

TEST(LossyResolverMeasure, DISABLED_FivePercentLossWithZeroOneAndThreeRetries) {
    VT_SKIP_WITHOUT_DNS_SERVERS();
    // 1,800 names with one to three addresses each, 200 that do not exist.
    TLocalDnsServers::TOptions O;
    O.Hosts.clear();
    O.Zones.clear();
    QByteArray In;
    QSet<QString> Expected;
    for (int I = 0; I < 2000; ++I) {
        const QString Name = QString("m%1.vt.test").arg(I);
        In += Name.toLatin1() + '\n';
        if (I % 10 == 9)
            continue;
        for (int A = 0; A <= I % 3; ++A) {
            const QString Address = QString("10.%1.%2.%3").arg(A + 20).arg(I / 256).arg(I % 256);
            O.Hosts << TLocalDnsServers::THostEntry{Address, Name};
            Expected.insert(Address);
        }
    }
    TLocalDnsServers Servers;
    ASSERT_TRUE(Servers.Start(O)) << Servers.LastError().toStdString();

    for (int Retries : {0, 1, 3}) {
        // The same losses for every run: one generator with a fixed seed.
        auto Rng = std::make_shared<std::mt19937>(5);
        TLossyUdpRelay Relay(Servers.DnsPort(), [Rng](const QString&, int) {
            return (*Rng)() % 100 < 5 ? TLossyUdpRelay::raDrop : TLossyUdpRelay::raForward;
        });
        ASSERT_TRUE(Relay.IsListening());
        QElapsedTimer T;
        T.start();
        const TCliResult R = RunCli({"--dns", Relay.Address(), "-t", "100", "--pause", "0", "--timeout", "1000",
                                     "--retries", QString::number(Retries)},
                                    In, 300000);
        ASSERT_TRUE(R.Finished);
        const QStringList Out = R.OutLines();
        const QSet<QString> Got(Out.begin(), Out.end());
        int Missing = 0;
        for (const QString& A : Expected)
            Missing += Got.contains(A) ? 0 : 1;
        const QStringList Err = R.ErrText().split('\n', Qt::SkipEmptyParts);
        std::printf("[lossy] retries %d: %lld ms, %d questions, %d lost, %d of %lld addresses missing, exit %d\n"
                    "[lossy]   %s\n",
                    Retries, qint64(T.elapsed()), Relay.Received(), Relay.Dropped(), Missing,
                    qint64(Expected.size()), R.ExitCode,
                    Err.isEmpty() ? "" : Err.last().section("] ", 2).toUtf8().constData());
        EXPECT_EQ(Got.size() + Missing, Expected.size());
        EXPECT_EQ(R.ExitCode, Missing > 0 ? 3 : 0);
    }
}
