#include "MainFormTestWindow.h"
#include "support/TestFiles.h"

#include "app/ButtonExUnit.h"
#include "app/uStoredSettings.h"
#include "engine/uMainThread.h"
#include "resolve/QXUtilsUnit.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <algorithm>

// --- TTestMainForm ---------------------------------------------------------

TTestMainForm::TTestMainForm() : TQXMainForm(TDeferCreate{}) { FormCreate(); }

TTestMainForm::~TTestMainForm() {
    // While this class's overrides still exist: a box raised while saving is recorded.
    FormDestroy();
}

QStringList TTestMainForm::BoxTexts() const {
    QStringList L;
    for (const TBox& B : Boxes)
        L << B.Text;
    return L;
}

QMessageBox::StandardButton TTestMainForm::ShowMessageBox(const QString& Title, const QString& Text,
                                                          QMessageBox::Icon Icon, QMessageBox::StandardButtons) {
    Boxes.append({Title, Text, Icon});
    return QMessageBox::Ok;
}

QString TTestMainForm::ExecFileDialog(QFileDialog* Dialog) {
    DialogsShown << Dialog->objectName();
    return DialogAnswers.isEmpty() ? QString() : DialogAnswers.takeFirst();
}

bool TTestMainForm::RunAndWait(int ATimeoutMSec) {
    StartButton->click();
    return WaitEnd(ATimeoutMSec);
}

bool TTestMainForm::WaitEnd(int ATimeoutMSec) {
    return WaitServing([this] { return !Running() && Utils()->LiveThreads() == 0; }, ATimeoutMSec);
}

// --- TMainFormTest ---------------------------------------------------------

TLocalDnsServers* TMainFormTest::FServers = nullptr;
QString TMainFormTest::FServersError;

void TMainFormTest::SetUpTestSuite() {}

void TMainFormTest::TearDownTestSuite() {
    delete FServers;
    FServers = nullptr;
    FServersError.clear();
}

bool TMainFormTest::ServersUp() {
    // Started by the first test that needs them, kept for the rest of the suite.
    if (!FServers && TLocalDnsServers::BinariesAvailable()) {
        FServers = new TLocalDnsServers;
        if (!FServers->Start())
            FServersError = FServers->LastError();
    }
    return FServers && FServersError.isEmpty();
}

QString TMainFormTest::DnsAddress() { return FServers ? FServers->DnsAddress() : QString(); }

void TMainFormTest::SetUp() {
    FTemp = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(FTemp->isValid());
    QDir(FTemp->path()).mkdir(QStringLiteral("config"));
    // A window closed or hidden must not end the event loops of the tests after it.
    FQuitOnLastWindowClosed = QGuiApplication::quitOnLastWindowClosed();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    FHadConfigHome = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    FOldConfigHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(FTemp->path() + QStringLiteral("/config")));
    ASSERT_EQ(SettingsOptions().Mode, TSettingsDirMode::sdmNone)
        << "the window tests choose their settings folder themselves; run them without folder options";
}

void TMainFormTest::TearDown() {
    QGuiApplication::setQuitOnLastWindowClosed(FQuitOnLastWindowClosed);
    if (FHadConfigHome)
        qputenv("XDG_CONFIG_HOME", FOldConfigHome);
    else
        qunsetenv("XDG_CONFIG_HOME");
    FTemp.reset();
}

QString TMainFormTest::SettingsDir() const {
    const QString Dir = FTemp->path() + QStringLiteral("/config/Veltrask");
    QDir().mkpath(Dir);
    return Dir;
}

QString TMainFormTest::SettingsFile() const { return SettingsDir() + QStringLiteral("/qx.ini"); }

QString TMainFormTest::TempPath(const QString& AName) const { return FTemp->path() + QLatin1Char('/') + AName; }

std::unique_ptr<TTestMainForm> TMainFormTest::NewForm() { return std::make_unique<TTestMainForm>(); }

void TMainFormTest::UseLocalDns(TTestMainForm& AForm) const { AForm.DNSMemo->setPlainText(DnsAddress()); }

// --- Helpers ---------------------------------------------------------------

std::string Str(const QString& S) { return S.toStdString(); }

std::vector<std::string> Strs(const QStringList& L) {
    std::vector<std::string> V;
    for (const QString& S : L)
        V.push_back(S.toStdString());
    return V;
}

std::vector<std::string> SortedStrs(QStringList L) {
    std::vector<std::string> V = Strs(L);
    std::sort(V.begin(), V.end());
    return V;
}

