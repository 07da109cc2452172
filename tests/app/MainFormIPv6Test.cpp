#include "MainFormTestWindow.h"

#include "app/ButtonExUnit.h"
#include "resolve/QXUtilsUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>

#include <algorithm>
#include <iterator>

// The address family in the window: the "Addresses:" box, the IPv6 template
// and the IPv6 file, their settings, and runs of each family against a
// dnsmasq that answers AAAA questions.

namespace {

class MainFormIPv6 : public TMainFormTest {
protected:
    static std::unique_ptr<TLocalDnsServers> Servers6;
    static QString Start6Error;

    static void SetUpTestSuite() {
        TMainFormTest::SetUpTestSuite();
        if (!TLocalDnsServers::BinariesAvailable())
            return;
        using E = TLocalDnsServers::THostEntry;
        TLocalDnsServers::TOptions O;
        O.Hosts = {E{"10.6.0.1", "dual.vt.test"}, E{"2001:db8::10", "dual.vt.test"}, E{"10.6.0.4", "four.vt.test"},
                   E{"2001:db8::20", "six.vt.test"}};
        Servers6 = std::make_unique<TLocalDnsServers>();
        if (!Servers6->Start(O)) {
            Start6Error = Servers6->LastError();
            Servers6.reset();
        }
    }
    static void TearDownTestSuite() {
        Servers6.reset();
        TMainFormTest::TearDownTestSuite();
    }

    // A window on the IPv6 servers, without the pause, with the template on.
    std::unique_ptr<TTestMainForm> RunForm() {
        auto F = NewForm();
        F->DNSMemo->setPlainText(Servers6->DnsAddress());
        F->PauseEdit->setText(QStringLiteral("0"));
        F->SourceMemo->setPlainText(QStringLiteral("dual.vt.test\nfour.vt.test\nsix.vt.test\n2001:DB8:0::1/64\n10.7.0.0/16"));
        F->OutFormatCheckBox->setChecked(true);
        F->OutFormatEdit->setText(QStringLiteral("-A OUTPUT -d %ip% -j REJECT"));
        F->OutFormat6Edit->setText(QStringLiteral("-A OUTPUT -d %ip% -j DROP"));
        // Not what an earlier window of the test left in the settings.
        F->ResultPageControl->setCurrentIndex(0);
        F->ResultFileEdit->clear();
        F->ResultFile6Edit->clear();
        return F;
    }

    static std::vector<std::string> Rules(const char* ATarget, const QStringList& AAddresses) {
        QStringList L;
        for (const QString& A : AAddresses)
            L << QStringLiteral("-A OUTPUT -d %1 -j %2").arg(A, QLatin1String(ATarget));
        return SortedStrs(L);
    }

    static std::vector<std::string> Join(std::vector<std::string> A, const std::vector<std::string>& B) {
        A.insert(A.end(), B.begin(), B.end());
        std::sort(A.begin(), A.end());
        return A;
    }
};

std::unique_ptr<TLocalDnsServers> MainFormIPv6::Servers6;
QString MainFormIPv6::Start6Error;

#define VT_REQUIRE_IPV6_SERVERS()                                                                            \
    do {                                                                                                     \
        VT_SKIP_WITHOUT_DNS_SERVERS();                                                                       \
        ASSERT_TRUE(Servers6) << Start6Error.toStdString();                                                  \
    } while (0)

template <class TMemoWidget> QStringList Lines(const TMemoWidget* Memo) { return TQXMainForm::MemoLines(Memo); }

const QStringList kV4 = {"10.6.0.1", "10.6.0.4", "10.7.0.0/16"};
const QStringList kV6 = {"2001:db8::10", "2001:db8::20", "2001:db8::1/64"};

} // namespace

TEST_F(MainFormIPv6, TheIPv6ControlsFollowTheFamilyAndTheTemplateSwitch) {
    auto F = NewForm();
    EXPECT_EQ(F->FamilyComboBox->currentIndex(), 0);

    QWidget* const File6[] = {F->Label6, F->ResultFile6Edit, F->ResultBrowse6Button, F->ResultExplore6Button};
    const auto Expect = [&](bool ATemplate6, bool AFile6, const char* AWhen) {
        EXPECT_EQ(F->OutFormat6Edit->isEnabled(), ATemplate6) << AWhen;
        EXPECT_EQ(F->OutFormat6Label->isEnabled(), ATemplate6) << AWhen;
        for (QWidget* W : File6)
            EXPECT_EQ(W->isEnabled(), AFile6) << AWhen << " " << Str(W->objectName());
    };
    Expect(false, false, "IPv4, template off");
    F->OutFormatCheckBox->setChecked(true);
    Expect(false, false, "IPv4, template on");
    F->FamilyComboBox->setCurrentIndex(2);
    Expect(true, true, "both, template on");
    F->OutFormatCheckBox->setChecked(false);
    Expect(false, true, "both, template off");
    F->FamilyComboBox->setCurrentIndex(0);
    Expect(false, false, "IPv4 again");

    // The browse button of the second row fills the second edit, through a dialog of its own.
    EXPECT_EQ(F->ResultBrowse6Button->BrowseSourceEdit(), F->ResultFile6Edit);
    EXPECT_EQ(F->ResultBrowse6Button->BrowseOpenDialog(), F->ResultSave6Dialog);
    EXPECT_EQ(F->ResultSave6Dialog->acceptMode(), QFileDialog::AcceptSave);
}

TEST_F(MainFormIPv6, TheNewRowsFitTheWindowWithoutOverlapping) {
    auto F = NewForm();
    F->show();
    EXPECT_EQ(F->width(), 1022);
    EXPECT_EQ(F->height(), 610);
    const auto Rect = [&](const QWidget* W) { return QRect(W->mapTo(F.get(), QPoint(0, 0)), W->size()); };
    // The template row, the family beside it, the IPv6 template under it.
    const QWidget* Left[] = {F->OutFormatCheckBox, F->FamilyComboBox, F->OutFormatEdit, F->OutFormat6Edit, F->Label4,
                             F->SourcePageControl, F->PageControl1};
    for (const QWidget* A : Left) {
        EXPECT_TRUE(F->rect().contains(Rect(A))) << Str(A->objectName());
        EXPECT_GT(A->height(), 0) << Str(A->objectName());
        for (const QWidget* B : Left) {
            if (A != B) {
                EXPECT_FALSE(Rect(A).intersects(Rect(B))) << Str(A->objectName()) << " / " << Str(B->objectName());
            }
        }
    }
    EXPECT_LE(Rect(F->FamilyComboBox).right(), Rect(F->SourcePageControl).right());
    // The file page: each row below the one before it, all on the page.
    F->ResultPageControl->setCurrentIndex(1);
    QApplication::processEvents();
    const QWidget* Rows[] = {F->Label1,  F->ResultFileEdit,  F->ResultBrowseButton, F->Label6,
                             F->ResultFile6Edit, F->ResultBrowse6Button, F->OutFileFormatComboBox};
    for (size_t I = 0; I < std::size(Rows); ++I) {
        EXPECT_TRUE(F->OutFileTabSheet->rect().contains(QRect(Rows[I]->mapTo(F->OutFileTabSheet, QPoint(0, 0)),
                                                              Rows[I]->size())))
            << Str(Rows[I]->objectName());
        if (I > 0) {
            EXPECT_GE(Rect(Rows[I]).top(), Rect(Rows[I - 1]).bottom()) << Str(Rows[I]->objectName());
        }
    }
    EXPECT_LT(Rect(F->ResultBrowse6Button).right(), Rect(F->ResultExplore6Button).left());
}

TEST_F(MainFormIPv6, TheSettingsKeepTheFamilyTheTemplateAndTheFile) {
    const QString File6 = TempPath(QStringLiteral("six.txt"));
    {
        auto F = NewForm();
        F->FamilyComboBox->setCurrentIndex(2);
        F->OutFormat6Edit->setText(QStringLiteral("add element inet filter b6 { %ip% }"));
        F->ResultFile6Edit->setText(File6);
    }
    const QByteArray Ini = ReadTestFile(SettingsFile());
    EXPECT_TRUE(Ini.contains("MaxQPS=0\r\nKeepSpecial=0\r\nCheckFailDrop=0\r\nAddressFamily=IPv4 and IPv6\r\n"
                             "OutFormat6Text=add element inet filter b6 { %ip% }\r\nOutFileName6=" +
                             File6.toUtf8() + "\r\nLogFile=0\r\n"))
        << Ini.toStdString();
    {
        auto F = NewForm();
        EXPECT_EQ(F->FamilyComboBox->currentIndex(), 2);
        EXPECT_EQ(Str(F->OutFormat6Edit->text()), "add element inet filter b6 { %ip% }");
        EXPECT_EQ(F->ResultFile6Edit->text(), File6);
        // Restored states follow the restored family: the file row is on,
        // the template stays off with the out format.
        EXPECT_TRUE(F->ResultFile6Edit->isEnabled());
        EXPECT_FALSE(F->OutFormat6Edit->isEnabled());
    }

    // A file of an older version has none of the keys: the defaults. A family
    // in another letter case is found; one that names no item is ignored.
    WriteTestFile(SettingsFile(), "Threads=3\r\nOutFormat=1\r\n");
    {
        auto F = NewForm();
        EXPECT_EQ(Str(F->ThreadsEdit->text()), "3");
        EXPECT_EQ(F->FamilyComboBox->currentIndex(), 0);
        EXPECT_TRUE(F->OutFormat6Edit->text().isEmpty());
        EXPECT_TRUE(F->ResultFile6Edit->text().isEmpty());
        EXPECT_FALSE(F->OutFormat6Edit->isEnabled());
        EXPECT_FALSE(F->ResultFile6Edit->isEnabled());
    }
    WriteTestFile(SettingsFile(), "OutFormat=1\r\nAddressFamily=ipv6\r\n");
    {
        auto F = NewForm();
        EXPECT_EQ(F->FamilyComboBox->currentIndex(), 1);
        EXPECT_TRUE(F->OutFormat6Edit->isEnabled());
    }
    WriteTestFile(SettingsFile(), "AddressFamily=IPv5\r\n");
    EXPECT_EQ(NewForm()->FamilyComboBox->currentIndex(), 0);
}

TEST_F(MainFormIPv6, EachFamilyRunsIntoTheListAndIntoTwoFiles) {
    VT_REQUIRE_IPV6_SERVERS();
    const struct {
        int Family;
        std::vector<std::string> Want4, Want6;
    } Cases[] = {{0, Rules("REJECT", kV4), {}},
                 {1, {}, Rules("DROP", kV6)},
                 {2, Rules("REJECT", kV4), Rules("DROP", kV6)}};
    for (const auto& C : Cases) {
        SCOPED_TRACE(Str(QStringLiteral("family %1").arg(C.Family)));
        auto F = RunForm();
        F->FamilyComboBox->setCurrentIndex(C.Family);

        // Into the list: both families in one list.
        ASSERT_TRUE(F->RunAndWait());
        EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
        EXPECT_EQ(SortedStrs(Lines(F->ResultMemo)), Join(C.Want4, C.Want6));

        // Into two files, both with the chosen mark and line break.
        const QString File4 = TempPath(QStringLiteral("v4-%1.txt").arg(C.Family));
        const QString File6 = TempPath(QStringLiteral("v6-%1.txt").arg(C.Family));
        F->ResultPageControl->setCurrentIndex(1);
        F->ResultFileEdit->setText(File4);
        F->ResultFile6Edit->setText(File6);
        F->OutFileEndingsComboBox->setCurrentIndex(1);
        F->ResultMemo->clear();
        ASSERT_TRUE(F->RunAndWait());
        EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
        EXPECT_TRUE(F->ResultMemo->toPlainText().isEmpty());
        EXPECT_EQ(F->Utils()->ResolvedListFile6(), File6);
        const auto FileLines = [](const QString& AFile) {
            const QByteArray B = ReadTestFile(AFile);
            EXPECT_FALSE(B.contains('\r')) << Str(AFile);
            return SortedStrs(QString::fromUtf8(B).split('\n', Qt::SkipEmptyParts));
        };
        EXPECT_EQ(FileLines(File4), C.Want4);
        if (C.Family == 0) {
            // No IPv6 in the run: the second file is not even created.
            EXPECT_FALSE(QFileInfo::exists(File6));
            // And the run leaves its row as disabled as it found it.
            EXPECT_FALSE(F->ResultFile6Edit->isEnabled());
        } else {
            EXPECT_EQ(FileLines(File6), C.Want6);
            EXPECT_TRUE(F->ResultFile6Edit->isEnabled());
        }

        // The second file left empty: one file with every line.
        F->ResultFile6Edit->clear();
        ASSERT_TRUE(F->RunAndWait());
        EXPECT_EQ(FileLines(File4), Join(C.Want4, C.Want6));
    }
}

TEST_F(MainFormIPv6, TheNewControlsAreLockedWhileRunning) {
    VT_REQUIRE_IPV6_SERVERS();
    auto F = RunForm();
    F->FamilyComboBox->setCurrentIndex(2);
    // With the pause the run cannot be over before the checks below.
    F->PauseEdit->setText(QStringLiteral("200"));
    QWidget* const Locked[] = {F->FamilyComboBox, F->OutFormat6Edit, F->ResultFile6Edit, F->ResultBrowse6Button,
                               F->ResultExplore6Button};
    for (QWidget* W : Locked)
        ASSERT_TRUE(W->isEnabled()) << Str(W->objectName());
    F->StartButton->click();
    ASSERT_TRUE(F->Running());
    for (QWidget* W : Locked)
        EXPECT_FALSE(W->isEnabled()) << Str(W->objectName());
    // Switching the template during the run does not free the IPv6 template.
    F->OutFormatCheckBox->setChecked(false);
    F->OutFormatCheckBox->setChecked(true);
    EXPECT_FALSE(F->OutFormat6Edit->isEnabled());
    ASSERT_TRUE(F->WaitEnd());
    for (QWidget* W : Locked)
        EXPECT_TRUE(W->isEnabled()) << Str(W->objectName());
    EXPECT_EQ(F->Utils()->AddressFamily(), afBoth);
    EXPECT_EQ(Str(F->Utils()->CustomOutFormat6()), "-A OUTPUT -d %ip% -j DROP");
}
