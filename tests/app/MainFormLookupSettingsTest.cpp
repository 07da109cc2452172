#include "MainFormTestWindow.h"

#include "app/ButtonExUnit.h"
#include "engine/uMainThread.h"
#include "resolve/QXUtilsUnit.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>

// Retries, pause, time-out and the query rate limit of the lookups: checked
// after Threads, handed to the job, kept in qx.ini.

namespace {

using MainFormLookups = TMainFormTest;

// Ready to start a run that asks no server: only address lines.
void Prepare(TTestMainForm& F) {
    F.SourceMemo->setPlainText(QStringLiteral("10.5.5.5"));
    F.DNSMemo->setPlainText(QStringLiteral("127.0.0.1:9"));
}

} // namespace

TEST_F(MainFormLookups, EachEditIsCheckedAfterThreadsWithItsRange) {
    const char* const RetriesWarning = "Please, enter Retries (>= 0, <= 10)";
    const char* const PauseWarning = "Please, enter Pause (>= 0, <= 60000)";
    const char* const TimeoutWarning = "Please, enter Time-out (>= 1, <= 60000)";
    const char* const MaxQPSWarning = "Please, enter Max queries/s (>= 0, <= 100000)";
    const struct {
        const char* Retries;
        const char* Pause;
        const char* Timeout;
        const char* Warning;
        const char* MaxQPS = "0";
    } Cases[] = {
        {"-1", "200", "5000", RetriesWarning}, {"11", "200", "5000", RetriesWarning},
        {"abc", "200", "5000", RetriesWarning}, {"", "200", "5000", RetriesWarning},
        {"1.5", "200", "5000", RetriesWarning}, {"0", "-1", "5000", PauseWarning},
        {"0", "60001", "5000", PauseWarning},  {"0", "", "5000", PauseWarning},
        {"0", "200", "0", TimeoutWarning},      {"0", "200", "60001", TimeoutWarning},
        {"0", "200", "x", TimeoutWarning},
        {"0", "200", "5000", MaxQPSWarning, "-1"}, {"0", "200", "5000", MaxQPSWarning, "100001"},
        {"0", "200", "5000", MaxQPSWarning, ""},   {"0", "200", "5000", MaxQPSWarning, "1e3"},
        // Only the first failing one is named.
        {"11", "-1", "0", RetriesWarning},      {"0", "-1", "0", PauseWarning},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(std::string(C.Retries) + "/" + C.Pause + "/" + C.Timeout);
        auto F = NewForm();
        Prepare(*F);
        F->RetriesEdit->setText(QLatin1String(C.Retries));
        F->PauseEdit->setText(QLatin1String(C.Pause));
        F->TimeoutEdit->setText(QLatin1String(C.Timeout));
        F->MaxQPSEdit->setText(QLatin1String(C.MaxQPS));
        F->StartButton->click();
        ASSERT_EQ(F->Boxes.size(), 1) << Str(F->BoxTexts().join('|'));
        EXPECT_EQ(Str(F->Boxes[0].Text), C.Warning);
        EXPECT_EQ(F->Boxes[0].Icon, QMessageBox::Warning);
        EXPECT_FALSE(F->Running());
        EXPECT_FALSE(QFileInfo::exists(SettingsFile())) << "nothing started, nothing saved";
        F.reset();
        QFile::remove(SettingsFile());
    }

    // Threads comes first.
    auto F = NewForm();
    Prepare(*F);
    F->ThreadsEdit->setText(QStringLiteral("0"));
    F->RetriesEdit->setText(QStringLiteral("11"));
    F->StartButton->click();
    ASSERT_EQ(F->Boxes.size(), 1);
    EXPECT_EQ(Str(F->Boxes[0].Text), "Please, enter Threads (>= 1, <= 500)");
}

TEST_F(MainFormLookups, TheEdgesPassAndReachTheJob) {
    const struct {
        const char* Retries;
        const char* Pause;
        const char* Timeout;
        const char* MaxQPS;
    } Cases[] = {{"0", "0", "1", "0"}, {"10", "60000", "60000", "100000"}, {"3", "150", "2500", "1500"}};
    for (const auto& C : Cases) {
        SCOPED_TRACE(std::string(C.Retries) + "/" + C.Pause + "/" + C.Timeout);
        auto F = NewForm();
        Prepare(*F);
        F->RetriesEdit->setText(QLatin1String(C.Retries));
        F->PauseEdit->setText(QLatin1String(C.Pause));
        F->TimeoutEdit->setText(QLatin1String(C.Timeout));
        F->MaxQPSEdit->setText(QLatin1String(C.MaxQPS));
        ASSERT_TRUE(F->RunAndWait());
        EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
        EXPECT_EQ(F->Utils()->DNSRetries(), QString(C.Retries).toInt());
        EXPECT_EQ(F->Utils()->PauseMSec(), QString(C.Pause).toInt());
        EXPECT_EQ(F->Utils()->DNSTimeoutMSec(), QString(C.Timeout).toInt());
        EXPECT_EQ(F->Utils()->MaxQPS(), QString(C.MaxQPS).toInt());
    }
}

TEST_F(MainFormLookups, TheEditsAreKeptInTheSettingsAndAbsentKeysLeaveTheDefaults) {
    {
        auto F = NewForm();
        F->RetriesEdit->setText(QStringLiteral("3"));
        F->PauseEdit->setText(QStringLiteral("0"));
        F->TimeoutEdit->setText(QStringLiteral("1500"));
        F->MaxQPSEdit->setText(QStringLiteral("250"));
    }
    const QByteArray Ini = ReadTestFile(SettingsFile());
    // After Threads, in this order, before the address family and the log table.
    EXPECT_TRUE(Ini.contains("Threads=1\r\nDNSRetries=3\r\nPauseMSec=0\r\nDNSTimeoutMSec=1500\r\nMaxQPS=250\r\n"
                             "KeepSpecial=0\r\nCheckFailDrop=0\r\n"
                             "AddressFamily=IPv4\r\nLogFile=0\r\n"))
        << Ini.toStdString();
    {
        auto F = NewForm();
        EXPECT_EQ(Str(F->RetriesEdit->text()), "3");
        EXPECT_EQ(Str(F->PauseEdit->text()), "0");
        EXPECT_EQ(Str(F->TimeoutEdit->text()), "1500");
        EXPECT_EQ(Str(F->MaxQPSEdit->text()), "250");
        // Emptied edits are not written and come back as their defaults.
        F->RetriesEdit->clear();
        F->PauseEdit->clear();
        F->TimeoutEdit->clear();
        F->MaxQPSEdit->clear();
    }
    EXPECT_FALSE(ReadTestFile(SettingsFile()).contains("DNSRetries="));
    {
        auto F = NewForm();
        EXPECT_EQ(Str(F->RetriesEdit->text()), "0");
        EXPECT_EQ(Str(F->PauseEdit->text()), "200");
        EXPECT_EQ(Str(F->TimeoutEdit->text()), "5000");
        EXPECT_EQ(Str(F->MaxQPSEdit->text()), "0");
    }

    // A settings file of an older version has none of the keys.
    WriteTestFile(SettingsFile(), "Threads=7\r\nPauseMSec=50\r\n");
    auto F = NewForm();
    EXPECT_EQ(Str(F->ThreadsEdit->text()), "7");
    EXPECT_EQ(Str(F->RetriesEdit->text()), "0");
    EXPECT_EQ(Str(F->PauseEdit->text()), "50");
    EXPECT_EQ(Str(F->TimeoutEdit->text()), "5000");
    EXPECT_EQ(Str(F->MaxQPSEdit->text()), "0");
}

TEST_F(MainFormLookups, AMalformedDNSServerIsRefusedBeforeTheRun) {
    for (const char* Bad : {"[::1", "300.1.1.1", "2001:db8:::53", "127.0.0.1:0"}) {
        SCOPED_TRACE(Bad);
        auto F = NewForm();
        Prepare(*F);
        F->DNSMemo->setPlainText(QStringLiteral("127.0.0.1:9\n") + QLatin1String(Bad));
        F->StartButton->click();
        ASSERT_EQ(F->Boxes.size(), 1) << Str(F->BoxTexts().join('|'));
        EXPECT_EQ(Str(F->Boxes[0].Text), std::string("Bad DNS server: ") + Bad);
        EXPECT_FALSE(F->Running());
        F.reset();
        QFile::remove(SettingsFile());
    }
    // IPv6 forms are servers.
    auto F = NewForm();
    Prepare(*F);
    F->DNSMemo->setPlainText(QStringLiteral("::1\n[::1]:9\n127.0.0.1:9"));
    ASSERT_TRUE(F->RunAndWait());
    EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
    // A host name is looked up at the start of the run; one that cannot be
    // found ends it before any query, with a box as for a malformed entry.
    F->DNSMemo->setPlainText(QStringLiteral("127.0.0.1:9\nnosuch.invalid"));
    ASSERT_TRUE(F->RunAndWait());
    ASSERT_TRUE(WaitServing([&] { return !F->Boxes.isEmpty(); }, 10000));
    EXPECT_EQ(Str(F->Boxes[0].Text), "Cannot resolve DNS server: nosuch.invalid");
}
