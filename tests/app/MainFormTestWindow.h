#pragma once

#include "app/QXMainUnit.h"
#include "support/TestFiles.h"
#include "support/LocalDnsServers.h"

#include <QByteArray>
#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

class QFileDialog;

// The main window with its message boxes recorded instead of shown and its
// file dialogs answered from a script. The settings are restored only once
// these overrides are in place, so boxes raised while restoring are recorded too.
class TTestMainForm : public TQXMainForm {
public:
    struct TBox {
        QString Title;
        QString Text;
        QMessageBox::Icon Icon;
    };

    TTestMainForm();
    ~TTestMainForm() override;

    // Every box shown so far, oldest first.
    QList<TBox> Boxes;
    // Answers of the next file dialogs, first to last; empty: cancelled.
    QStringList DialogAnswers;
    // objectName of every file dialog shown.
    QStringList DialogsShown;

    QStringList BoxTexts() const;

    // Presses "Resolve" and waits, serving events, until the run has ended.
    // False when it did not end within ATimeoutMSec.
    bool RunAndWait(int ATimeoutMSec = 30000);
    // Waits, serving events, until the running run has ended.
    bool WaitEnd(int ATimeoutMSec = 30000);

    using TQXMainForm::FormDestroy;

protected:
    QMessageBox::StandardButton ShowMessageBox(const QString& Title, const QString& Text, QMessageBox::Icon Icon,
                                               QMessageBox::StandardButtons Buttons) override;
    QString ExecFileDialog(QFileDialog* Dialog) override;
};

// Every test gets its own configuration folder (XDG_CONFIG_HOME), so the
// window's settings folder is <temp>/Veltrask. The local DNS servers are
// started by the first test that needs them and shared by the suite.
class TMainFormTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // The settings folder of this test (created on demand).
    QString SettingsDir() const;
    QString SettingsFile() const;
    // A path inside this test's temporary folder.
    QString TempPath(const QString& AName) const;
    // A new window on this test's settings.
    std::unique_ptr<TTestMainForm> NewForm();
    // Points the window at the fixture's dnsmasq.
    void UseLocalDns(TTestMainForm& AForm) const;

    static QString DnsAddress();
    static bool ServersUp();

    static TLocalDnsServers* FServers;
    static QString FServersError;

private:
    std::unique_ptr<QTemporaryDir> FTemp;
    QByteArray FOldConfigHome;
    bool FHadConfigHome = false;
    bool FQuitOnLastWindowClosed = true;
};

// Helpers for readable comparisons.
std::string Str(const QString& S);
std::vector<std::string> Strs(const QStringList& L);
std::vector<std::string> SortedStrs(QStringList L);

#define VT_REQUIRE_DNS_SERVERS()                                                                             \
    do {                                                                                                     \
        VT_SKIP_WITHOUT_DNS_SERVERS();                                                                       \
        ASSERT_TRUE(ServersUp()) << FServersError.toStdString();                                             \
    } while (0)
