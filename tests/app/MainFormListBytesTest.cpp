#include "MainFormTestWindow.h"

#include "engine/uMainThread.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QUrl>

// The window's list files and memos kept exactly: bytes of list files that
// were not edited, memos of any length in qx.ini, lists the window never
// read, and files dropped on the domain list.

namespace {

using MainFormListBytes = TMainFormTest;

template <class TMemoWidget> QStringList Lines(const TMemoWidget* Memo) { return TQXMainForm::MemoLines(Memo); }

void Drop(QWidget* Target, const QString& FileName) {
    QMimeData Mime;
    Mime.setUrls({QUrl::fromLocalFile(FileName)});
    // What a file manager puts beside the URL.
    Mime.setText(QUrl::fromLocalFile(FileName).toString());
    const QPoint At(5, 5);
    QDragEnterEvent Enter(At, Qt::CopyAction, &Mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Target, &Enter);
    QDragMoveEvent Move(At, Qt::CopyAction, &Mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Target, &Move);
    QDropEvent Dropped(At, Qt::CopyAction, &Mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Target, &Dropped);
    WaitServing([] { return false; }, 50);
}

} // namespace

TEST_F(MainFormListBytes, ListFilesThatWereNotEditedKeepEveryByte) {
    const struct {
        const char* What;
        QByteArray Bytes;
    } Cases[] = {
        {"UTF-8 mark, invalid bytes", QByteArray("\xEF\xBB\xBF" "ab\xFF\xFE" "c\r\nd\r\n")},
        {"UTF-8 mark, Latin-1 bytes", QByteArray("\xEF\xBB\xBF" "s\xE4kerhet.se\r\nx\r\n")},
        {"UTF-16 LE, odd length", QByteArray("\xFF\xFE" "a\0b\0\r\0\n\0c", 11)},
        {"UTF-16 BE, no last break", QByteArray("\xFE\xFF\0a\0\r\0\n\0b", 10)},
        {"UTF-16 LE, lone surrogate", QByteArray("\xFF\xFE" "a\0\x00\xD8\r\0\n\0", 10)},
        {"no mark, Latin-1", QByteArray("s\xE4kerhet.se\r\n\r\nb\n")},
        {"no mark, UTF-8, LF only", QByteArray("s\xC3\xA4kerhetsv\xC3\xA4st.se\nb")},
    };
    for (const auto& C : Cases) {
        WriteTestFile(SettingsFile(), "\xEF\xBB\xBFThreads=3\r\n");
        for (const char* Name : {"/srclist.txt", "/outlist.txt", "/newlist.txt"})
            WriteTestFile(SettingsDir() + QLatin1String(Name), C.Bytes);
        {
            auto F = NewForm();
            // A run saves the settings too; the lists were not touched.
            F->FormDestroy();
        }
        for (const char* Name : {"/srclist.txt", "/outlist.txt", "/newlist.txt"})
            EXPECT_EQ(ReadTestFile(SettingsDir() + QLatin1String(Name)).toHex(' '), C.Bytes.toHex(' '))
                << C.What << Name;
    }
}

TEST_F(MainFormListBytes, AnEditedListWhoseFileHeldInvalidBytesIsNotSavedOverIt) {
    const QByteArray Bad("\xEF\xBB\xBF" "ab\xFF\xFE" "c\r\n");
    const QByteArray Good("\xFF\xFE" "a\0\r\0\n\0", 8);
    WriteTestFile(SettingsFile(), "\xEF\xBB\xBFThreads=3\r\n");
    WriteTestFile(SettingsDir() + QStringLiteral("/outlist.txt"), Bad);
    WriteTestFile(SettingsDir() + QStringLiteral("/newlist.txt"), Good);
    auto F = NewForm();
    F->ResultMemo->appendPlainText(QStringLiteral("typed"));
    F->AddedMemo->appendPlainText(QStringLiteral("typed"));
    F->SaveSettings();
    EXPECT_EQ(ReadTestFile(SettingsDir() + QStringLiteral("/outlist.txt")), Bad);
    EXPECT_TRUE(WaitServing([&] { return F->LogMemo->toPlainText().contains(QStringLiteral("is not saved")); }, 3000))
        << Str(F->LogMemo->toPlainText());
    // A file that decoded cleanly takes the edit, in its own encoding.
    EXPECT_EQ(ReadTestFile(SettingsDir() + QStringLiteral("/newlist.txt")),
              QByteArray("\xFF\xFE" "a\0\r\0\n\0t\0y\0p\0e\0d\0\r\0\n\0", 22));
}

TEST_F(MainFormListBytes, ListsTheWindowCouldNotReadAreNotEmptied) {
    WriteTestFile(SettingsFile(), "\xEF\xBB\xBFThreads=3\r\n");
    // The first list cannot be read: a box says so, and the others are restored.
    ASSERT_TRUE(QDir(SettingsDir()).mkdir(QStringLiteral("srclist.txt")));
    const QByteArray Results("-A OUTPUT -d 10.0.0.1 -j REJECT\r\n");
    WriteTestFile(SettingsDir() + QStringLiteral("/outlist.txt"), Results);
    WriteTestFile(SettingsDir() + QStringLiteral("/newlist.txt"), Results);
    {
        auto F = NewForm();
        EXPECT_EQ(F->Boxes.size(), 1) << Str(F->BoxTexts().join('|'));
        EXPECT_EQ(TQXMainForm::MemoLines(F->ResultMemo), QStringList{"-A OUTPUT -d 10.0.0.1 -j REJECT"});
        F->AddedMemo->setPlainText(QStringLiteral("10.0.0.9"));
        F->FormDestroy();
    }
    EXPECT_EQ(ReadTestFile(SettingsDir() + QStringLiteral("/outlist.txt")), Results);
    // A list the user changed is the user's to save.
    EXPECT_EQ(ReadTestFile(SettingsDir() + QStringLiteral("/newlist.txt")), QByteArray("10.0.0.9\r\n"));
}

TEST_F(MainFormListBytes, MemosOfAnyLengthWithEmptyLinesComeBackFromQxIni) {
    // 75,000 zones with an empty line between each two, and empty lines at the end.
    QStringList Zones;
    for (int i = 0; i < 75000; ++i) {
        if (i > 0)
            Zones << QString();
        Zones << QStringLiteral("z%1.dbl.test").arg(i);
    }
    Zones << QString() << QString();
    ASSERT_EQ(Zones.size(), 150001);
    {
        auto F = NewForm();
        TQXMainForm::SetMemoLines(F->DBLMemo, Zones);
        ASSERT_EQ(Lines(F->DBLMemo).size(), Zones.size());
        F->FormDestroy();
    }
    for (int Start = 0; Start < 2; ++Start) {
        // The second start reads what the first one saved again.
        auto F = NewForm();
        const QStringList Got = Lines(F->DBLMemo);
        ASSERT_EQ(Got.size(), Zones.size()) << Start;
        EXPECT_TRUE(Got == Zones) << Start;
        F->FormDestroy();
    }
}

TEST_F(MainFormListBytes, AFileDroppedOnTheDomainListIsLoadedNotItsUrl) {
    auto F = NewForm();
    const QString File = TempPath(QStringLiteral("nrA.txt"));
    // Latin-1 without a mark, as "Load from file..." reads it.
    WriteTestFile(File, "s\xE4kerhetsv\xE4st.se\r\nb.test\r\n");
    F->SourceMemo->setPlainText(QStringLiteral("old.test"));
    Drop(F->SourceMemo->viewport(), File);
    EXPECT_TRUE(WaitServing([&] { return Lines(F->SourceMemo).size() == 2; }, 3000)) << Str(F->SourceMemo->toPlainText());
    EXPECT_EQ(Lines(F->SourceMemo), (QStringList{QStringLiteral("s\u00E4kerhetsv\u00E4st.se"), QStringLiteral("b.test")}));
    EXPECT_EQ(Str(F->SourceListLabel->text()), "List of domains (2):");

    // Elsewhere a file's URL never becomes a line.
    const QString Dns = F->DNSMemo->toPlainText();
    Drop(F->DNSMemo->viewport(), File);
    EXPECT_EQ(F->DNSMemo->toPlainText(), Dns);
    EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
}

TEST_F(MainFormListBytes, ABigListIsReadOnceTheWindowIsShownAndNeverSavedUnread) {
    // About 5 MB: read after the window is on screen.
    QByteArray Src;
    for (int i = 0; i < 200000; ++i)
        Src += "host" + QByteArray::number(i) + ".example.com\r\n";
    WriteTestFile(SettingsFile(), "\xEF\xBB\xBFThreads=3\r\n");
    WriteTestFile(SettingsDir() + QStringLiteral("/srclist.txt"), Src);
    {
        // Never shown: the list is not read, and closing leaves its file as it was.
        auto F = NewForm();
        EXPECT_TRUE(F->SourceMemo->toPlainText().isEmpty());
        EXPECT_FALSE(F->SourceMemo->placeholderText().isEmpty());
        F->FormDestroy();
        EXPECT_EQ(ReadTestFile(SettingsDir() + QStringLiteral("/srclist.txt")), Src);
    }
    {
        auto F = NewForm();
        F->show();
        ASSERT_TRUE(WaitServing([&] { return F->SourceMemo->blockCount() > 1; }, 30000));
        EXPECT_EQ(Str(F->SourceListLabel->text()), "List of domains (200000):");
        EXPECT_TRUE(F->SourceMemo->placeholderText().isEmpty());
        const QStringList Got = Lines(F->SourceMemo);
        ASSERT_EQ(Got.size(), 200000);
        EXPECT_EQ(Str(Got.last()), "host199999.example.com");
        F->FormDestroy();
    }
    EXPECT_EQ(ReadTestFile(SettingsDir() + QStringLiteral("/srclist.txt")), Src);
}
