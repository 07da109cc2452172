#include "MainFormTestWindow.h"

#include "app/uStoredSettings.h"
#include "engine/uMainThread.h"
#include "support/FakeUdpServer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTabWidget>

// Not a check: renders the window after a finished run into docs/screenshot.png.
// scripts/screenshot.sh runs it under Xvfb with "-settingsdir <sample folder>",
// so that real fonts are drawn and the sample settings are restored.
TEST(MainFormScreenshot, DISABLED_Screenshot) {
    VT_SKIP_WITHOUT_DNS_SERVERS();
    TLocalDnsServers Servers;
    TLocalDnsServers::TOptions Options;
    Options.Hosts << TLocalDnsServers::THostEntry{"2001:db8::1", "www.vt.test"}
                  << TLocalDnsServers::THostEntry{"2001:db8::25", "mail.vt.test"};
    ASSERT_TRUE(Servers.Start(Options)) << Servers.LastError().toStdString();

    // Without "-settingsdir" the window keeps its settings in a temporary folder.
    QTemporaryDir Temp;
    const QByteArray OldConfigHome = qgetenv("XDG_CONFIG_HOME");
    if (SettingsOptions().Mode != TSettingsDirMode::sdmExplicit)
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(Temp.path()));
    QGuiApplication::setQuitOnLastWindowClosed(false);

    {
        TTestMainForm F;
        // The sample settings name the servers; the fixture's port changes every time.
        // A second server that never answers: the lookups sent to it fail,
        // and the status tells so.
        TFakeUdpServer Silent([](const QByteArray&) { return std::optional<QByteArray>(); });
        F.DNSMemo->setPlainText(Servers.DnsAddress() + QLatin1Char('\n') + Silent.Address());
        F.TimeoutEdit->setText(QStringLiteral("500"));
        if (F.SourceMemo->toPlainText().isEmpty())
            F.SourceMemo->setPlainText(QStringLiteral(
                "www.vt.test\nclean.vt.test\nmail.vt.test\nlisted.vt.test\nnosuch.vt.test\n10.6.0.0/16"));
        // Both address families, with an IPv6 network among the lines.
        F.FamilyComboBox->setCurrentIndex(2);
        if (!F.SourceMemo->toPlainText().contains(QLatin1Char(':')))
            F.SourceMemo->appendPlainText(QStringLiteral("2001:db8:66::/48"));
        F.show();
        ASSERT_TRUE(F.RunAndWait(60000));
        ASSERT_TRUE(F.Boxes.isEmpty()) << Str(F.BoxTexts().join('|'));
        EXPECT_TRUE(F.RunWarned()) << Str(F.RunStatus());
        // Let the log's timer bring the last messages onto the memo.
        WaitServing([&] { return F.LogMemo->toPlainText().contains(QStringLiteral("Done: ")); }, 5000);
        WaitServing([] { return false; }, 300);

        const QPixmap Shot = F.grab();
        const QString Target = QStringLiteral(VT_SOURCE_DIR "/docs/screenshot.png");
        QDir().mkpath(QStringLiteral(VT_SOURCE_DIR "/docs"));
        EXPECT_TRUE(Shot.save(Target, "PNG")) << Target.toStdString();
        std::printf("screenshot: %s (%dx%d)\n", qPrintable(Target), Shot.width(), Shot.height());
        // Leave the sample folder as it was found.
        F.DNSMemo->setPlainText(QStringLiteral("8.8.8.8\n8.8.4.4"));
        F.TimeoutEdit->setText(QStringLiteral("5000"));
    }
    if (SettingsOptions().Mode != TSettingsDirMode::sdmExplicit)
        qputenv("XDG_CONFIG_HOME", OldConfigHome);
}
