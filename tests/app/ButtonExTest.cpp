#include "app/ButtonExUnit.h"
#include "app/ListViewExUnit.h"
#include "app/VFormUnit.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <gtest/gtest.h>

inline void PrintTo(const QString& S, std::ostream* Os) {
    *Os << '"' << S.toStdString() << '"';
}

namespace {

// Answers its dialogs from a script and records where each one started.
class TScriptedButton : public TButtonEx {
public:
    using TButtonEx::TButtonEx;
    struct TSeen {
        QString Directory;
        QString FileName;
        QFileDialog::FileMode Mode;
        QString Title;
        QString AcceptLabel;
    };
    QList<TSeen> Seen;
    bool Accept = true;
    QStringList Answer;

protected:
    bool ExecuteDialog(QFileDialog* ADialog, QStringList& AFiles) override {
        Seen.append({QDir::cleanPath(ADialog->directory().absolutePath()), FileDialogFileName(ADialog),
                     ADialog->fileMode(), ADialog->windowTitle(), ADialog->labelText(QFileDialog::Accept)});
        if (!Accept)
            return false;
        AFiles = Answer;
        return true;
    }
};

void Touch(const QString& Path) {
    QFile F(Path);
    ASSERT_TRUE(F.open(QIODevice::WriteOnly));
}

struct TEvents {
    QStringList Paths;
    QList<QStringList> Lists;
    void Bind(TButtonEx* B) {
        B->OnBrowsePath = [this](TButtonEx*, const QString& P) { Paths.append(P); };
        B->OnBrowseList = [this](TButtonEx*, const QStringList& L) { Lists.append(L); };
    }
};

} // namespace

TEST(BrowseButton, EditHoldingAFolderOrAFile) {
    QTemporaryDir Dir;
    const QString Root = QDir::cleanPath(Dir.path());
    ASSERT_TRUE(QDir(Root).mkdir(QStringLiteral("sub")));
    const QString Sub = Root + QStringLiteral("/sub");
    const QString File = Sub + QStringLiteral("/list.txt");
    Touch(File);

    TVForm Form;
    auto* Edit = new QLineEdit(&Form);
    auto* Button = new TScriptedButton(QStringLiteral("Browse..."), &Form);
    QFileDialog Dialog(&Form);
    Dialog.setFileMode(QFileDialog::ExistingFile);
    TEvents Ev;
    Button->SetBrowse(Edit, &Dialog, [&](TButtonEx*, const QString& P) { Ev.Paths.append(P); });
    EXPECT_EQ(Button->BrowseType(), TBrowseType::btFile);
    EXPECT_TRUE(Form.IsDroppingFileEnabled(Edit));

    Edit->setText(Sub);
    Button->Answer = {File};
    Button->click();
    ASSERT_EQ(Button->Seen.size(), 1);
    EXPECT_EQ(Button->Seen[0].Directory, Sub);
    EXPECT_EQ(Button->Seen[0].FileName, QString());
    EXPECT_EQ(Button->Seen[0].Mode, QFileDialog::ExistingFile);
    EXPECT_EQ(Edit->text(), File);
    EXPECT_EQ(Ev.Paths, QStringList{File});

    // Now the edit names a file: its folder, with the file proposed.
    Dialog.setDirectory(Root);
    Button->click();
    ASSERT_EQ(Button->Seen.size(), 2);
    EXPECT_EQ(Button->Seen[1].Directory, Sub);
    EXPECT_EQ(Button->Seen[1].FileName, QStringLiteral("list.txt"));

    // Back to a folder: the proposal from before is gone.
    Edit->setText(Root);
    Button->Accept = false;
    Button->click();
    EXPECT_EQ(Button->Seen[2].Directory, Root);
    EXPECT_EQ(Button->Seen[2].FileName, QString());
    // Cancelled: nothing changed, no event.
    EXPECT_EQ(Edit->text(), Root);
    EXPECT_EQ(Ev.Paths.size(), 2);
}

TEST(BrowseButton, MemoStartsFromLastNonEmptyLineAndAppends) {
    QTemporaryDir Dir;
    const QString Root = QDir::cleanPath(Dir.path());
    const QString A = Root + QStringLiteral("/a.txt"), B = Root + QStringLiteral("/b.txt");
    TVForm Form;
    auto* Memo = new QPlainTextEdit(&Form);
    Memo->setPlainText(QStringLiteral("first\n") + Root + QStringLiteral("/zzz.txt\n\n\n"));
    auto* Button = new TScriptedButton(&Form);
    QFileDialog Dialog(&Form);
    Dialog.setFileMode(QFileDialog::ExistingFile);
    TEvents Ev;
    Button->SetBrowse(Memo, &Dialog);
    Ev.Bind(Button);
    Button->Answer = {A, B};
    Button->click();
    ASSERT_EQ(Button->Seen.size(), 1);
    EXPECT_EQ(Button->Seen[0].Directory, Root);
    EXPECT_EQ(Button->Seen[0].FileName, QString());
    EXPECT_EQ(Button->Seen[0].Mode, QFileDialog::ExistingFiles);
    EXPECT_EQ(Memo->toPlainText(),
              QStringLiteral("first\n") + Root + QStringLiteral("/zzz.txt\n\n\n") + A + QLatin1Char('\n') + B);
    EXPECT_EQ(Ev.Paths, QStringList{A});
    ASSERT_EQ(Ev.Lists.size(), 1);
    EXPECT_EQ(Ev.Lists[0], (QStringList{A, B}));

    // The same dialog bound to an edit again allows one file only.
    auto* Edit = new QLineEdit(&Form);
    Button->SetBrowse(Edit, &Dialog);
    Button->Answer = {A};
    Button->click();
    EXPECT_EQ(Button->Seen.last().Mode, QFileDialog::ExistingFile);
}

TEST(BrowseButton, SaveDialogKeepsItsMode) {
    TVForm Form;
    auto* Edit = new QLineEdit(&Form);
    auto* Button = new TScriptedButton(&Form);
    QFileDialog Dialog(&Form);
    Dialog.setAcceptMode(QFileDialog::AcceptSave);
    Dialog.setFileMode(QFileDialog::AnyFile);
    Button->SetBrowse(Edit, &Dialog);
    Edit->setText(QStringLiteral("/nonexistent-folder-for-test/out.txt"));
    Button->Answer = {QStringLiteral("/tmp/new.txt")};
    Button->click();
    ASSERT_EQ(Button->Seen.size(), 1);
    EXPECT_EQ(Button->Seen[0].Mode, QFileDialog::AnyFile);
    EXPECT_EQ(Button->Seen[0].FileName, QStringLiteral("out.txt"));
    EXPECT_EQ(Edit->text(), QStringLiteral("/tmp/new.txt"));
}

TEST(BrowseButton, FolderPicker) {
    QTemporaryDir Dir;
    const QString Root = QDir::cleanPath(Dir.path());
    TVForm Form;
    auto* Edit = new QLineEdit(&Form);
    auto* Button = new TScriptedButton(&Form);
    TEvents Ev;
    Button->SetBrowseFolder(Edit);
    Ev.Bind(Button);
    ASSERT_NE(Button->BrowseFolderDialog(), nullptr);
    EXPECT_EQ(Button->BrowseType(), TBrowseType::btFolder);
    Edit->setText(Root);
    Button->Answer = {QStringLiteral("/usr")};
    Button->click();
    ASSERT_EQ(Button->Seen.size(), 1);
    EXPECT_EQ(Button->Seen[0].Title, QStringLiteral("Select Directory"));
    EXPECT_EQ(Button->Seen[0].AcceptLabel, QStringLiteral("Select"));
    EXPECT_EQ(Button->Seen[0].Mode, QFileDialog::Directory);
    EXPECT_TRUE(Button->BrowseFolderDialog()->testOption(QFileDialog::ShowDirsOnly));
    EXPECT_EQ(Edit->text(), QStringLiteral("/usr"));
    EXPECT_EQ(Ev.Paths, QStringList{QStringLiteral("/usr")});
    ASSERT_EQ(Ev.Lists.size(), 1);
    EXPECT_EQ(Ev.Lists[0], QStringList{QStringLiteral("/usr")});

    // The picker is made once and kept.
    QFileDialog* Picker = Button->BrowseFolderDialog();
    Button->SetBrowseFolder(Edit);
    EXPECT_EQ(Button->BrowseFolderDialog(), Picker);
}

TEST(BrowseButton, ListViewTypes) {
    QTemporaryDir Dir;
    const QString Root = QDir::cleanPath(Dir.path());
    ASSERT_TRUE(QDir(Root).mkdir(QStringLiteral("doc")));
    ASSERT_TRUE(QDir(Root).mkdir(QStringLiteral("sub")));
    const QString Doc = Root + QStringLiteral("/doc"), Sub = Root + QStringLiteral("/sub");
    TVForm Form;
    auto* LV = new TListViewEx(&Form);
    LV->AddColumns({QStringLiteral("File")});
    LV->AddItem(Doc);
    LV->AddItem(QString());
    auto* Button = new TScriptedButton(&Form);
    QFileDialog Dialog(&Form);
    Dialog.setFileMode(QFileDialog::ExistingFile);
    TEvents Ev;
    Button->SetBrowseList(LV, &Dialog);
    Ev.Bind(Button);
    EXPECT_TRUE(Form.IsDroppingFileEnabled(LV));
    Button->Answer = {Doc + QStringLiteral("/1"), Doc + QStringLiteral("/2")};
    Button->click();
    ASSERT_EQ(Button->Seen.size(), 1);
    EXPECT_EQ(Button->Seen[0].Directory, Doc);
    EXPECT_EQ(Button->Seen[0].Mode, QFileDialog::ExistingFiles);
    ASSERT_EQ(LV->ItemCount(), 4);
    EXPECT_EQ(LV->ItemCaption(3), Doc + QStringLiteral("/2"));
    EXPECT_EQ(Ev.Lists.last(), (QStringList{Doc + QStringLiteral("/1"), Doc + QStringLiteral("/2")}));

    LV->AddItem(Sub);
    Button->SetBrowseFolderList(LV);
    Button->Answer = {Root};
    Button->click();
    const QString Start = Button->Seen.last().Directory;
    const QString Name = Button->Seen.last().FileName;
    // Accepting the proposal as it stands picks the folder the list ends with.
    EXPECT_TRUE((Start == Sub && Name.isEmpty()) || (Start == Root && Name == QStringLiteral("sub")))
        << Start.toStdString() << " / " << Name.toStdString();
    EXPECT_EQ(LV->ItemCaption(5), Root);

    // A virtual list is neither read nor filled; the events still report the choice.
    auto* Virtual = new TListViewEx(&Form);
    Virtual->AddColumns({QStringLiteral("File")});
    Virtual->SetOwnerData(true);
    int Asked = 0;
    Virtual->SetOnData([&](TListViewEx*, int, QString& C, QStringList&) {
        ++Asked;
        C = QStringLiteral("/etc");
    });
    Virtual->SetItemCount(3);
    Button->SetBrowseList(Virtual, &Dialog);
    Button->Answer = {QStringLiteral("/y")};
    Asked = 0;
    Button->click();
    EXPECT_EQ(Asked, 0);
    EXPECT_EQ(Virtual->ItemCount(), 3);
    EXPECT_EQ(Ev.Paths.last(), QStringLiteral("/y"));
}

TEST(ExploreButton, SelectsFileOrOpensFolder) {
    QTemporaryDir Dir;
    const QString Root = QDir::cleanPath(Dir.path());
    const QString File = Root + QStringLiteral("/r.txt");
    Touch(File);
    QList<QPair<QString, bool>> Calls;
    TShellExploreProc Old = SetShellExploreProc([&](const QString& P, bool S) { Calls.append({P, S}); });

    TVForm Form;
    auto* Edit = new QLineEdit(&Form);
    auto* Button = new TButtonEx(QStringLiteral("Explore to file"), &Form);
    Button->SetExplore(Edit);
    Button->click();
    EXPECT_TRUE(Calls.isEmpty());
    Edit->setText(File);
    Button->click();
    Edit->setText(Root + QStringLiteral("/missing.txt"));
    Button->click();
    Edit->setText(Root + QStringLiteral("/nodir/missing.txt"));
    Button->click();
    SetShellExploreProc(Old);

    ASSERT_EQ(Calls.size(), 2);
    EXPECT_EQ(Calls[0], qMakePair(File, true));
    EXPECT_EQ(Calls[1], qMakePair(Root, false));
}

TEST(BrowseButton, ClickHandlerIsReplacedNotStacked) {
    TVForm Form;
    auto* Edit = new QLineEdit(&Form);
    auto* Button = new TScriptedButton(&Form);
    QFileDialog Dialog(&Form);
    Button->SetBrowse(Edit, &Dialog);
    Button->SetBrowse(Edit, &Dialog);
    Button->Accept = false;
    Button->click();
    EXPECT_EQ(Button->Seen.size(), 1);

    QList<QPair<QString, bool>> Calls;
    TShellExploreProc Old = SetShellExploreProc([&](const QString& P, bool S) { Calls.append({P, S}); });
    Edit->setText(QStringLiteral("/"));
    Button->SetExplore(Edit);
    Button->click();
    SetShellExploreProc(Old);
    EXPECT_EQ(Button->Seen.size(), 1);
    EXPECT_EQ(Calls.size(), 1);
}
