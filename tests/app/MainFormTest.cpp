#include "MainFormTestWindow.h"

#include "app/ButtonExUnit.h"
#include "app/ListViewExUnit.h"
#include "app/VFormUnit.h"
#include "resolve/QXUtilsUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <functional>

using MainFormUi = TMainFormTest;

namespace {

QString WidgetText(QWidget* W) {
    if (auto* L = qobject_cast<QLabel*>(W))
        return L->text();
    if (auto* B = qobject_cast<QAbstractButton*>(W))
        return B->text();
    if (auto* E = qobject_cast<QLineEdit*>(W))
        return E->text();
    if (auto* M = qobject_cast<QPlainTextEdit*>(W))
        return TQXMainForm::MemoLines(M).join('|');
    if (auto* M = qobject_cast<TLinesEdit*>(W))
        return TQXMainForm::MemoLines(M).join('|');
    if (auto* C = qobject_cast<QComboBox*>(W)) {
        QStringList Items;
        for (int i = 0; i < C->count(); ++i)
            Items << C->itemText(i);
        return Items.join('|') + QStringLiteral(" @") + QString::number(C->currentIndex());
    }
    if (auto* T = qobject_cast<QTabWidget*>(W)) {
        QStringList Pages;
        for (int i = 0; i < T->count(); ++i)
            Pages << T->widget(i)->objectName() + QLatin1Char('=') + T->tabText(i);
        return Pages.join('|') + QStringLiteral(" @") + QString::number(T->currentIndex());
    }
    return QStringLiteral("<unknown kind>");
}

} // namespace

TEST_F(MainFormUi, ControlsCarryTheirNamesCaptionsAndDefaults) {
    auto F = NewForm();
    const std::pair<const char*, const char*> Expected[] = {
        {"SourcePageControl", "SrcListTabSheet=Domain List|SrcFileTabSheet=Domain File @0"},
        {"SourceListLabel", "List of domains (0):"},
        {"SourceMemo", ""},
        {"SourceLoadButton", "&Load from file..."},
        {"SourceClearButton", "Clear"},
        {"Label7", "Domain list file:"},
        {"SourceFileEdit", ""},
        {"SourceBrowseButton", "Browse..."},
        {"SourceExploreButton", "Explore to file"},
        {"OutFormatCheckBox", "Out Format:"},
        {"OutFormatEdit", "-A OUTPUT -d %ip% -j REJECT"},
        {"Label4", "%ip% - resolved IP, %domain% - domain."},
        {"Label5", "D&NS Servers:"},
        {"DNSMemo", "8.8.8.8|8.8.4.4"},
        {"RetriesLabel", "Retr&ies:"},
        {"RetriesEdit", "0"},
        {"PauseLabel", "Pa&use, ms:"},
        {"PauseEdit", "200"},
        {"TimeoutLabel", "Time-&out, ms:"},
        {"TimeoutEdit", "5000"},
        {"MaxQPSLabel", "&Max queries/s:"},
        {"MaxQPSEdit", "0"},
        {"DBLCheckBox", "DBL Services:"},
        {"DBLComboBox", "Suppress blacklisted|Out blacklisted @0"},
        {"DBLMemo", "dbl.spamhaus.org"},
        {"RBLCheckBox", "RBL Services:"},
        {"RBLComboBox", "Suppress blacklisted|Out blacklisted @0"},
        {"RBLMemo", "zen.spamhaus.org"},
        {"ThreadsLabel", "&Threads:"},
        {"ThreadsEdit", "1"},
        {"StartButton", "&Resolve"},
        {"BreakButton", "&Break"},
        {"CloseButton", "&Close"},
        {"ResultPageControl", "OutListTabSheet=Resolved List|OutFileTabSheet=Resolved File @0"},
        {"ResultListLabel", "Resolved list (0):"},
        {"ResultMemo", ""},
        {"ResultSaveButton", "&Save to file..."},
        {"ResultDelimiterLabel", "Delimiter:"},
        {"ResultDelimiterComboBox", "End-Of-Line|Comma|Semicolon @0"},
        {"ResultClearButton", "Clear"},
        {"AddedCheckBox", "New records (0):"},
        {"AddedMemo", ""},
        {"AddedSaveButton", "Sa&ve to file..."},
        {"AddedDelimiterLabel", "Delimiter:"},
        {"AddedDelimiterComboBox", "End-Of-Line|Comma|Semicolon @0"},
        {"AddedClearButton", "Clear"},
        {"Label1", "Resolved list file:"},
        {"ResultFileEdit", ""},
        {"ResultBrowseButton", "Browse..."},
        {"ResultExploreButton", "Explore to file"},
        {"Label2", "Format:"},
        {"OutFileFormatComboBox", "UTF-8 without BOM|UTF-8 @0"},
        {"Label3", "Line Endings:"},
        {"OutFileEndingsComboBox", "Windows|Unix @1"},
        {"LogPageControl", "LogTabSheet=Log|ThreadsTabSheet=Threads @0"},
        {"DetailedLogCheckBox", "Detailed Log"},
        {"LogFileCheckBox", "Log File:"},
        {"LogFileEdit", ""},
        {"LogFileBrowseButton", "..."},
        {"LogMemo", ""},
    };
    for (const auto& [Name, Text] : Expected) {
        auto* W = F->findChild<QWidget*>(QLatin1String(Name));
        ASSERT_NE(W, nullptr) << Name;
        EXPECT_EQ(Str(WidgetText(W)), Text) << Name;
    }
    for (const char* Name : {"OutFormatCheckBox", "DBLCheckBox", "RBLCheckBox", "AddedCheckBox",
                             "DetailedLogCheckBox", "LogFileCheckBox"})
        EXPECT_FALSE(F->findChild<QCheckBox*>(QLatin1String(Name))->isChecked()) << Name;
    for (QComboBox* C : F->findChildren<QComboBox*>())
        EXPECT_FALSE(C->isEditable()) << Str(C->objectName()) << ": only its items are allowed";
    EXPECT_EQ(F->PageControl1->count(), 3);
    EXPECT_EQ(Str(F->PageControl1->tabText(0) + F->PageControl1->tabText(1) + F->PageControl1->tabText(2)),
              "DNSDBLRBL");
    EXPECT_EQ(F->PageControl1->currentIndex(), 0);
    EXPECT_TRUE(F->LogMemo->isReadOnly());
    // The log wraps: a run's summary is read whole at the designed size.
    EXPECT_EQ(F->LogMemo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(F->LogTopPanel->height(), 29);
    EXPECT_EQ(F->LogFileBrowseButton->size(), QSize(26, 25));

    // The thread list: four columns, the last filling the rest, virtual and read-only rows.
    ASSERT_EQ(F->ThreadsListView->ColumnCount(), 4);
    EXPECT_EQ(Str(F->ThreadsListView->ColumnCaption(0) + "," + F->ThreadsListView->ColumnCaption(1) + "," +
                  F->ThreadsListView->ColumnCaption(2) + "," + F->ThreadsListView->ColumnCaption(3)),
              "Id,Name,Time,Status");
    EXPECT_EQ(F->ThreadsListView->header()->sectionSize(0), 80);
    EXPECT_EQ(F->ThreadsListView->header()->sectionSize(1), 120);
    // The time column holds a whole "yyyy-mm-dd hh:nn:ss".
    EXPECT_GE(F->ThreadsListView->header()->sectionSize(2), 120);
    EXPECT_GT(F->ThreadsListView->header()->sectionSize(2),
              F->ThreadsListView->fontMetrics().horizontalAdvance(QStringLiteral("2026-12-09 17:00:00")));
    EXPECT_TRUE(F->ThreadsListView->header()->stretchLastSection());
    EXPECT_TRUE(F->ThreadsListView->OwnerData());
    EXPECT_TRUE(F->ThreadsListView->ReadOnly());

    // Idle state after creation.
    EXPECT_TRUE(F->StartButton->isEnabled());
    EXPECT_FALSE(F->BreakButton->isEnabled());
    EXPECT_TRUE(F->CloseButton->isEnabled());
    EXPECT_TRUE(F->Boxes.isEmpty());
}

TEST_F(MainFormUi, CaptionEditionAndSize) {
    auto F = NewForm();
    // The test program has no "-applabel".
    EXPECT_EQ(Str(F->windowTitle()), "Veltrask " VELTRASK_VERSION);
    EXPECT_EQ(Str(F->EditionLabel->text()), std::to_string(sizeof(void*) * 8) + "-Bit Edition");
    // Shown, the controls fit the designed client area: nothing pushes it wider.
    F->show();
    QApplication::processEvents();
    EXPECT_EQ(F->size(), QSize(1022, 610));
    EXPECT_EQ(F->centralWidget()->size(), QSize(1022, 610));
    auto* Left = F->findChild<QWidget*>(QStringLiteral("LeftPanel"));
    ASSERT_NE(Left, nullptr);
    EXPECT_EQ(Left->width(), 313);
    // The column that holds it (and scrolls it on small screens).
    auto* Column = F->findChild<QWidget*>(QStringLiteral("LeftColumn"));
    ASSERT_NE(Column, nullptr);
    EXPECT_EQ(Column->x(), 8) << "border width";
    // The DNS page's check boxes show their whole text, and the servers' list keeps room.
    for (const QCheckBox* B : {F->SpecialCheckBox, F->CheckFailCheckBox}) {
        EXPECT_TRUE(F->DNSTabSheet->rect().contains(QRect(B->mapTo(F->DNSTabSheet, QPoint(0, 0)), B->size())))
            << Str(B->objectName());
        EXPECT_GE(B->width(), B->sizeHint().width()) << Str(B->objectName());
    }
    // Both default servers stay in view.
    EXPECT_GE(F->DNSMemo->height(), 2 * F->DNSMemo->fontMetrics().lineSpacing());
}

TEST_F(MainFormUi, FileDialogsAreSetUpForTheirFiles) {
    auto F = NewForm();
    const QStringList ListFilters = {QStringLiteral("Text files (*.txt)"), QStringLiteral("CSV files (*.csv)"),
                                     QStringLiteral("All files (*)")};
    EXPECT_EQ(F->SourceOpenDialog->nameFilters(), ListFilters);
    EXPECT_EQ(F->SourceOpenDialog->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(F->SourceOpenDialog->acceptMode(), QFileDialog::AcceptOpen);
    for (QFileDialog* D : {F->ResultSaveDialog, F->AddedSaveDialog, F->LogSaveDialog}) {
        EXPECT_EQ(D->acceptMode(), QFileDialog::AcceptSave) << Str(D->objectName());
        EXPECT_EQ(Str(D->defaultSuffix()), "txt") << Str(D->objectName());
        EXPECT_FALSE(D->testOption(QFileDialog::DontConfirmOverwrite)) << Str(D->objectName());
    }
    EXPECT_EQ(F->ResultSaveDialog->nameFilters(), ListFilters);
    EXPECT_EQ(F->LogSaveDialog->nameFilters(),
              (QStringList{QStringLiteral("Text files (*.txt)"), QStringLiteral("All files (*)")}));
    // The browse buttons write into their edits.
    EXPECT_EQ(F->SourceBrowseButton->BrowseSourceEdit(), F->SourceFileEdit);
    EXPECT_EQ(F->SourceBrowseButton->BrowseOpenDialog(), F->SourceOpenDialog);
    EXPECT_EQ(F->ResultBrowseButton->BrowseSourceEdit(), F->ResultFileEdit);
    EXPECT_EQ(F->ResultBrowseButton->BrowseOpenDialog(), F->ResultSaveDialog);
    EXPECT_EQ(F->LogFileBrowseButton->BrowseSourceEdit(), F->LogFileEdit);
    EXPECT_EQ(F->LogFileBrowseButton->BrowseOpenDialog(), F->LogSaveDialog);
}

// --- Checks before a run ----------------------------------------------------

struct TCheckCase {
    const char* Name;
    std::function<void(TTestMainForm&)> Setup;
    const char* Warning;
};

TEST_F(MainFormUi, EachMissingInputGivesOneWarningAndNothingStarts) {
    const TCheckCase Cases[] = {
        {"only empty source lines", [](TTestMainForm& F) { F.SourceMemo->setPlainText("\n\n\n"); },
         "Please, enter List of domains"},
        {"empty source memo", [](TTestMainForm& F) { F.SourceMemo->clear(); }, "Please, enter List of domains"},
        {"no domain file",
         [](TTestMainForm& F) {
             F.SourcePageControl->setCurrentIndex(1);
             F.SourceFileEdit->clear();
         },
         "Please, enter Domain list file"},
        {"no DNS", [](TTestMainForm& F) { F.DNSMemo->clear(); }, "Please, enter DNS Servers"},
        {"DNS of empty lines", [](TTestMainForm& F) { F.DNSMemo->setPlainText("\n"); }, "Please, enter DNS Servers"},
        {"DBL without zones",
         [](TTestMainForm& F) {
             F.DBLCheckBox->setChecked(true);
             F.DBLMemo->clear();
         },
         "Please, enter DBL Services"},
        {"RBL without zones",
         [](TTestMainForm& F) {
             F.RBLCheckBox->setChecked(true);
             F.RBLMemo->clear();
         },
         "Please, enter RBL Services"},
        {"DBL zone with an empty label",
         [](TTestMainForm& F) {
             F.DBLCheckBox->setChecked(true);
             F.DBLMemo->setPlainText(" dbl..test \n");
         },
         "Bad zone name: dbl..test"},
        {"IPv6 RBL zone with a label of 64",
         [](TTestMainForm& F) {
             F.RBLCheckBox->setChecked(true);
             F.RBL6Memo->setPlainText(QString(64, 'z') + ".test");
         },
         "Bad zone name: zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz.test"},
        {"template on but empty",
         [](TTestMainForm& F) {
             F.OutFormatCheckBox->setChecked(true);
             F.OutFormatEdit->clear();
         },
         "Please, enter Out Format"},
        {"no output file",
         [](TTestMainForm& F) {
             F.ResultPageControl->setCurrentIndex(1);
             F.ResultFileEdit->clear();
         },
         "Please, enter Resolved list file"},
        {"0 threads", [](TTestMainForm& F) { F.ThreadsEdit->setText("0"); }, "Please, enter Threads (>= 1, <= 500)"},
        {"501 threads", [](TTestMainForm& F) { F.ThreadsEdit->setText("501"); },
         "Please, enter Threads (>= 1, <= 500)"},
        {"abc threads", [](TTestMainForm& F) { F.ThreadsEdit->setText("abc"); },
         "Please, enter Threads (>= 1, <= 500)"},
        {"no threads", [](TTestMainForm& F) { F.ThreadsEdit->clear(); }, "Please, enter Threads (>= 1, <= 500)"},
        // Only the first failing item is reported, in the fixed order.
        {"DNS before threads",
         [](TTestMainForm& F) {
             F.DNSMemo->clear();
             F.ThreadsEdit->setText("0");
         },
         "Please, enter DNS Servers"},
        {"source before everything",
         [](TTestMainForm& F) {
             F.SourceMemo->clear();
             F.DNSMemo->clear();
             F.RBLCheckBox->setChecked(true);
             F.RBLMemo->clear();
         },
         "Please, enter List of domains"},
        {"DBL before RBL",
         [](TTestMainForm& F) {
             F.DBLCheckBox->setChecked(true);
             F.DBLMemo->clear();
             F.RBLCheckBox->setChecked(true);
             F.RBLMemo->clear();
         },
         "Please, enter DBL Services"},
        {"template before output file",
         [](TTestMainForm& F) {
             F.OutFormatCheckBox->setChecked(true);
             F.OutFormatEdit->clear();
             F.ResultPageControl->setCurrentIndex(1);
         },
         "Please, enter Out Format"},
    };
    for (const TCheckCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        auto F = NewForm();
        F->SourceMemo->setPlainText(QStringLiteral("www.vt.test"));
        F->DNSMemo->setPlainText(QStringLiteral("127.0.0.1:9"));
        C.Setup(*F);
        F->StartButton->click();
        ASSERT_EQ(F->Boxes.size(), 1) << Str(F->BoxTexts().join('|'));
        EXPECT_EQ(Str(F->Boxes[0].Text), C.Warning);
        EXPECT_EQ(F->Boxes[0].Icon, QMessageBox::Warning);
        EXPECT_EQ(Str(F->Boxes[0].Title), Str(F->windowTitle()));
        // Nothing started: no run, no saved settings, every control as it was.
        EXPECT_FALSE(F->Running());
        EXPECT_EQ(F->Utils()->LiveThreads(), 0);
        EXPECT_TRUE(F->StartButton->isEnabled());
        EXPECT_FALSE(F->BreakButton->isEnabled());
        EXPECT_TRUE(F->SourceMemo->isEnabled());
        EXPECT_TRUE(F->CloseButton->isEnabled());
        EXPECT_FALSE(QFileInfo::exists(SettingsFile()));
        F.reset();
        QFile::remove(SettingsFile());
    }
}

TEST_F(MainFormUi, AcceptedEdgesOfTheChecksStartARun) {
    VT_REQUIRE_DNS_SERVERS();
    const TCheckCase Cases[] = {
        {"a line of blanks is a line", [](TTestMainForm& F) { F.SourceMemo->setPlainText("   "); }, ""},
        {"DBL off with no zones",
         [](TTestMainForm& F) {
             F.DBLCheckBox->setChecked(false);
             F.DBLMemo->clear();
         },
         ""},
        {"template off and empty",
         [](TTestMainForm& F) {
             F.OutFormatCheckBox->setChecked(false);
             F.OutFormatEdit->clear();
         },
         ""},
        {"500 threads", [](TTestMainForm& F) { F.ThreadsEdit->setText("500"); }, ""},
        {"domain file that does not exist",
         [](TTestMainForm& F) {
             F.SourcePageControl->setCurrentIndex(1);
             F.SourceFileEdit->setText("/nonexistent/domains.txt");
         },
         ""},
    };
    for (const TCheckCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        auto F = NewForm();
        F->PauseEdit->setText(QStringLiteral("0"));
        F->SourceMemo->setPlainText(QStringLiteral("10.5.5.5"));
        UseLocalDns(*F);
        C.Setup(*F);
        F->StartButton->click();
        EXPECT_TRUE(F->Running());
        EXPECT_TRUE(F->WaitEnd());
        EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
        EXPECT_TRUE(QFileInfo::exists(SettingsFile()));
        EXPECT_TRUE(F->StartButton->isEnabled());
        if (QString(C.Name) == "template off and empty") {
            EXPECT_TRUE(F->Utils()->OutFormat().isEmpty());
            EXPECT_FALSE(F->Utils()->CustomOutFormat());
        }
        if (QString(C.Name) == "500 threads") {
            EXPECT_EQ(F->Utils()->Threads(), 500);
        }
    }
}

TEST_F(MainFormUi, ARunDoesNotStartWhenTheSettingsCannotBeSaved) {
    auto F = NewForm();
    F->SourceMemo->setPlainText(QStringLiteral("www.vt.test"));
    F->DNSMemo->setPlainText(QStringLiteral("127.0.0.1:9"));
    // A folder where the settings file should be.
    QDir().mkpath(SettingsFile());
    F->StartButton->click();
    ASSERT_EQ(F->Boxes.size(), 1);
    EXPECT_EQ(F->Boxes[0].Icon, QMessageBox::Critical);
    EXPECT_FALSE(F->Running());
    EXPECT_TRUE(F->StartButton->isEnabled());
    EXPECT_TRUE(F->SourceMemo->isEnabled());
    QDir().rmdir(SettingsFile());
}

// --- Buttons ----------------------------------------------------------------

TEST_F(MainFormUi, SaveToFileJoinsTheLinesWithTheChosenDelimiter) {
    auto F = NewForm();
    const QString Out = TempPath(QStringLiteral("saved.txt"));
    F->ResultMemo->setPlainText(QStringLiteral("a\nb\nc"));
    // Lines end with the chosen line break, the last one too, so that the
    // saved list loads; LF while a preset is chosen, whatever was chosen.
    const struct {
        int Index, Endings;
        const char* Preset;
        QByteArray Expected;
    } Cases[] = {{0, 0, "(none)", "a\r\nb\r\nc\r\n"}, {0, 1, "(none)", "a\nb\nc\n"}, {0, 0, "nft", "a\nb\nc\n"},
                 {1, 0, "(none)", "a,b,c"},          {2, 1, "(none)", "a;b;c"}};
    for (const auto& [Index, Endings, Preset, Expected] : Cases) {
        F->ResultDelimiterComboBox->setCurrentIndex(Index);
        F->OutFileEndingsComboBox->setCurrentIndex(Endings);
        F->PresetComboBox->setCurrentIndex(F->PresetComboBox->findText(QString::fromLatin1(Preset)));
        F->DialogAnswers = {Out};
        F->ResultSaveButton->click();
        EXPECT_EQ(ReadTestFile(Out), Expected) << Index;
    }
    EXPECT_EQ(F->DialogsShown, QStringList(5, QStringLiteral("ResultSaveDialog")));

    // The other side with its own delimiter; an empty memo gives an empty file.
    F->AddedMemo->setPlainText(QStringLiteral("x\ny"));
    F->AddedDelimiterComboBox->setCurrentIndex(2);
    F->DialogAnswers = {Out};
    F->AddedSaveButton->click();
    EXPECT_EQ(ReadTestFile(Out), QByteArray("x;y"));
    EXPECT_EQ(Str(F->DialogsShown.last()), "AddedSaveDialog");
    F->AddedMemo->clear();
    F->DialogAnswers = {Out};
    F->AddedSaveButton->click();
    EXPECT_EQ(ReadTestFile(Out), QByteArray(""));

    // Cancelled: nothing written.
    F->DialogAnswers.clear();
    F->ResultSaveButton->click();
    EXPECT_EQ(ReadTestFile(Out), QByteArray(""));
    EXPECT_TRUE(F->Boxes.isEmpty());

    // Non-ASCII text goes out in the system code page (UTF-8 here), no mark.
    F->ResultMemo->setPlainText(QString::fromUtf8("m\xC3\xBC" "nchen\n\xD0\xBC"));
    F->ResultDelimiterComboBox->setCurrentIndex(1);
    F->DialogAnswers = {Out};
    F->ResultSaveButton->click();
    EXPECT_EQ(ReadTestFile(Out), QByteArray("m\xC3\xBC" "nchen,\xD0\xBC"));

    // A file that cannot be written: one error box, the memo as it was.
    F->DialogAnswers = {TempPath(QStringLiteral("no/such/dir/x.txt"))};
    F->ResultSaveButton->click();
    ASSERT_EQ(F->Boxes.size(), 1);
    EXPECT_EQ(F->Boxes[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(TQXMainForm::MemoLines(F->ResultMemo).size(), 2);
}

TEST_F(MainFormUi, DelimiterOfTheCombo) {
    auto F = NewForm();
    QComboBox* C = F->ResultDelimiterComboBox;
    C->setCurrentIndex(0);
    EXPECT_EQ(Str(TQXMainForm::GetDelimiter(C)), "\r\n");
    C->setCurrentIndex(1);
    EXPECT_EQ(Str(TQXMainForm::GetDelimiter(C)), ",");
    C->setCurrentIndex(2);
    EXPECT_EQ(Str(TQXMainForm::GetDelimiter(C)), ";");
    C->setCurrentIndex(-1);
    EXPECT_EQ(Str(TQXMainForm::GetDelimiter(C)), "");
}

TEST_F(MainFormUi, LoadFromFileReplacesTheSourceListInItsEncoding) {
    auto F = NewForm();
    F->SourceMemo->setPlainText(QStringLiteral("before"));
    const QString In = TempPath(QStringLiteral("in.txt"));
    // UTF-16 little endian with its mark, CR LF, a final empty line kept.
    QByteArray Data("\xFF\xFE", 2);
    const QString Text = QString::fromUtf8("a.test\r\nm\xC3\xBC.test\r\n\r\n");
    Data += QByteArray(reinterpret_cast<const char*>(Text.utf16()), Text.size() * 2);
    WriteTestFile(In, Data);
    F->DialogAnswers = {In};
    F->SourceLoadButton->click();
    EXPECT_EQ(Strs(TQXMainForm::MemoLines(F->SourceMemo)),
              (std::vector<std::string>{"a.test", "m\xC3\xBC.test", ""}));
    EXPECT_EQ(Str(F->SourceListLabel->text()), "List of domains (3):");
    EXPECT_EQ(Str(F->DialogsShown.join(',')), "SourceOpenDialog");

    // Cancelled: the memo stays.
    F->SourceLoadButton->click();
    EXPECT_EQ(TQXMainForm::MemoLines(F->SourceMemo).size(), 3);

    // A file that cannot be read: one error box, the memo as it was.
    F->DialogAnswers = {TempPath(QStringLiteral("gone.txt"))};
    F->SourceLoadButton->click();
    ASSERT_EQ(F->Boxes.size(), 1);
    EXPECT_EQ(F->Boxes[0].Icon, QMessageBox::Critical);
    EXPECT_EQ(TQXMainForm::MemoLines(F->SourceMemo).size(), 3);

    // The memo remembers the encoding: its list file is written back in it.
    F.reset();
    EXPECT_EQ(ReadTestFile(SettingsDir() + QStringLiteral("/srclist.txt")), Data);
}

TEST_F(MainFormUi, ClearButtonsEmptyTheirMemoAndCounter) {
    auto F = NewForm();
    F->SourceMemo->setPlainText(QStringLiteral("a\nb"));
    F->ResultMemo->setPlainText(QStringLiteral("a\nb\nc"));
    F->AddedMemo->setPlainText(QStringLiteral("a"));
    EXPECT_EQ(Str(F->SourceListLabel->text()), "List of domains (2):");
    EXPECT_EQ(Str(F->ResultListLabel->text()), "Resolved list (3):");
    EXPECT_EQ(Str(F->AddedCheckBox->text()), "New records (1):");
    F->ResultClearButton->click();
    EXPECT_TRUE(F->ResultMemo->toPlainText().isEmpty());
    EXPECT_EQ(Str(F->ResultListLabel->text()), "Resolved list (0):");
    EXPECT_EQ(Str(F->SourceListLabel->text()), "List of domains (2):");
    F->AddedClearButton->click();
    EXPECT_EQ(Str(F->AddedCheckBox->text()), "New records (0):");
    F->SourceClearButton->click();
    EXPECT_EQ(Str(F->SourceListLabel->text()), "List of domains (0):");
    // A final line break adds no line; an empty line in the middle counts.
    F->SourceMemo->setPlainText(QStringLiteral("a\n\nb\n"));
    EXPECT_EQ(Str(F->SourceListLabel->text()), "List of domains (3):");
}

TEST_F(MainFormUi, ExploreButtonsShowTheirFile) {
    auto F = NewForm();
    const QString Src = TempPath(QStringLiteral("domains.txt"));
    const QString Out = TempPath(QStringLiteral("out.txt"));
    WriteTestFile(Src, "x");
    WriteTestFile(Out, "y");
    QStringList Seen;
    const TShellExploreProc Old =
        SetShellExploreProc([&](const QString& Path, bool Select) { Seen << Path + (Select ? "+" : "-"); });
    F->SourceFileEdit->setText(Src);
    F->SourceExploreButton->click();
    F->ResultFileEdit->setText(Out);
    F->ResultExploreButton->click();
    F->ResultFileEdit->clear();
    F->ResultExploreButton->click();
    SetShellExploreProc(Old);
    EXPECT_EQ(Strs(Seen), (std::vector<std::string>{Str(Src + "+"), Str(Out + "+")}));
}

namespace {

// Counts the close events a widget receives.
class TCloseSpy : public QObject {
public:
    int Count = 0;

protected:
    bool eventFilter(QObject*, QEvent* Event) override {
        if (Event->type() == QEvent::Close)
            ++Count;
        return false;
    }
};

} // namespace

TEST_F(MainFormUi, CloseButtonClosesTheWindow) {
    auto F = NewForm();
    TCloseSpy Spy;
    F->installEventFilter(&Spy);
    F->CloseButton->click();
    EXPECT_EQ(Spy.Count, 1);
    F->removeEventFilter(&Spy);
}

TEST_F(MainFormUi, LogFileEditFillsTheStripUpToItsButton) {
    auto F = NewForm();
    F->show();
    int LastWidth = -1;
    for (int Width : {1022, 1400, 900}) {
        F->resize(Width, 610);
        QApplication::processEvents();
        const int W = F->LogTopPanel->contentsRect().width();
        EXPECT_NE(W, LastWidth) << "the strip follows the window";
        LastWidth = W;
        EXPECT_EQ(F->LogFileBrowseButton->geometry().right() + 1, W) << Width;
        EXPECT_EQ(F->LogFileEdit->geometry().right() + 1 + 8, F->LogFileBrowseButton->x()) << Width;
    }
}

// --- Detailed log -----------------------------------------------------------

TEST_F(MainFormUi, DetailedLogSwitchLocksTheLogFileControls) {
    auto F = NewForm();
    const QString LogFile = TempPath(QStringLiteral("detail.log"));

    // Without a log file.
    F->DetailedLogCheckBox->click();
    EXPECT_TRUE(F->Utils()->DetailedLog());
    EXPECT_TRUE(F->Utils()->LogFileName().isEmpty());
    EXPECT_FALSE(F->LogFileCheckBox->isEnabled());
    EXPECT_FALSE(F->LogFileEdit->isEnabled());
    EXPECT_FALSE(F->LogFileBrowseButton->isEnabled());
    F->DetailedLogCheckBox->click();
    EXPECT_FALSE(F->Utils()->DetailedLog());
    EXPECT_TRUE(F->LogFileCheckBox->isEnabled());
    EXPECT_TRUE(F->LogFileEdit->isEnabled());
    EXPECT_TRUE(F->LogFileBrowseButton->isEnabled());

    // "Log File:" with no name: a warning, the box unchecked again.
    F->LogFileCheckBox->setChecked(true);
    F->DetailedLogCheckBox->click();
    ASSERT_EQ(F->Boxes.size(), 1);
    EXPECT_EQ(Str(F->Boxes[0].Text), "Please, enter Log File Name");
    EXPECT_EQ(F->Boxes[0].Icon, QMessageBox::Warning);
    EXPECT_FALSE(F->DetailedLogCheckBox->isChecked());
    EXPECT_FALSE(F->Utils()->DetailedLog());
    EXPECT_TRUE(F->LogFileEdit->isEnabled());

    // A log file that cannot be created: the error, the box back to off.
    F->LogFileEdit->setText(TempPath(QStringLiteral("no/such/dir/x.log")));
    F->DetailedLogCheckBox->click();
    ASSERT_EQ(F->Boxes.size(), 2);
    EXPECT_EQ(F->Boxes[1].Icon, QMessageBox::Critical);
    EXPECT_FALSE(F->Boxes[1].Text.isEmpty());
    EXPECT_FALSE(F->DetailedLogCheckBox->isChecked());
    EXPECT_FALSE(F->Utils()->DetailedLog());
    EXPECT_TRUE(F->LogFileEdit->isEnabled());

    // With a good name the file is opened.
    F->LogFileEdit->setText(LogFile);
    F->DetailedLogCheckBox->click();
    EXPECT_TRUE(F->Utils()->DetailedLog());
    EXPECT_EQ(F->Utils()->LogFileName(), LogFile);
    EXPECT_TRUE(QFileInfo::exists(LogFile));
    EXPECT_FALSE(F->LogFileEdit->isEnabled());
    EXPECT_EQ(F->Boxes.size(), 2);
}
