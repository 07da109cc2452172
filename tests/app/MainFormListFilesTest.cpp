#include "MainFormTestWindow.h"

#include "app/ButtonExUnit.h"
#include "app/uStoredSettings.h"
#include "containers/uFileUtils.h"
#include "engine/uMainThread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>

using MainFormListFiles = TMainFormTest;

namespace {

template <class TMemoWidget> QStringList Lines(const TMemoWidget* Memo) { return TQXMainForm::MemoLines(Memo); }

// The log as shown, once the log's timer has brought Needle to the memo.
QString LogShowing(TTestMainForm& F, const QString& Needle) {
    WaitServing([&] { return F.LogMemo->toPlainText().contains(Needle); }, 5000);
    return F.LogMemo->toPlainText();
}

} // namespace

// Lists written on another system in an 8-bit code page: they read as that
// text (not as U+FFFD), the log names each file read so once, and the saves
// at exit write back the very bytes that were read.
TEST_F(MainFormListFiles, ListFilesThatAreNotUtf8ComeBackByteForByte) {
    const QString Dir = SettingsDir();
    const QByteArray Src("caf\xE9.example\r\n\x80\x81\x9F\xFF.test\r\n");  // not UTF-8
    const QByteArray Out("10.0.0.1\r\nb\xC3\xBC" "cher.de\r\n");            // UTF-8 without a mark
    const QByteArray New("na\xEFve.test\r\n");                               // not UTF-8
    WriteTestFile(SettingsFile(), "Threads=1\r\n");
    WriteTestFile(Dir + "/srclist.txt", Src);
    WriteTestFile(Dir + "/outlist.txt", Out);
    WriteTestFile(Dir + "/newlist.txt", New);
    for (int Cycle = 0; Cycle < 2; ++Cycle) {
        {
            auto F = NewForm();
            EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
            const QStringList S = Lines(F->SourceMemo);
            ASSERT_EQ(S.size(), 2);
            EXPECT_EQ(S[0], QString::fromUtf16(u"caf\u00e9.example"));
            EXPECT_TRUE(S[1].endsWith(QString::fromUtf16(u"\u0178\u00ff.test"))) << Str(S[1]);
            EXPECT_FALSE(S[1].contains(QChar(QChar::ReplacementCharacter)));
            EXPECT_EQ(Lines(F->ResultMemo), QStringList({"10.0.0.1", QString::fromUtf16(u"b\u00fccher.de")}));
            EXPECT_EQ(Lines(F->AddedMemo), QStringList{QString::fromUtf16(u"na\u00efve.test")});

            const QString Log = LogShowing(*F, QStringLiteral("newlist.txt"));
            EXPECT_EQ(Log.count(QStringLiteral("srclist.txt")), 1) << Str(Log);
            EXPECT_EQ(Log.count(QStringLiteral("newlist.txt")), 1) << Str(Log);
            EXPECT_FALSE(Log.contains(QStringLiteral("outlist.txt"))) << Str(Log);
            EXPECT_TRUE(Log.contains(Legacy8BitEncodingName())) << Str(Log);
        }
        EXPECT_EQ(ReadTestFile(Dir + "/srclist.txt"), Src) << "cycle " << Cycle;
        EXPECT_EQ(ReadTestFile(Dir + "/outlist.txt"), Out);
        EXPECT_EQ(ReadTestFile(Dir + "/newlist.txt"), New);
    }

    // A character the 8-bit encoding has no byte for, typed since: the file
    // is written in UTF-8 instead, and reads back as typed.
    const QString Typed = QString::fromUtf16(u"na\u00efve.test\n\u0436.test");
    {
        auto F = NewForm();
        F->AddedMemo->setPlainText(Typed);
    }
    EXPECT_EQ(ReadTestFile(Dir + "/newlist.txt"),
              QString::fromUtf16(u"na\u00efve.test\r\n\u0436.test\r\n").toUtf8());
    auto F = NewForm();
    EXPECT_EQ(Lines(F->AddedMemo), Typed.split('\n'));
}

TEST_F(MainFormListFiles, LoadFromFileReadsAn8BitFileAndSavesItSo) {
    const QByteArray Data("m\xFC" "nchen.example\r\nx.test\r\n");
    const QString In = TempPath(QStringLiteral("latin.txt"));
    WriteTestFile(In, Data);
    {
        auto F = NewForm();
        F->DialogAnswers = {In};
        F->SourceLoadButton->click();
        EXPECT_EQ(Lines(F->SourceMemo), QStringList({QString::fromUtf16(u"m\u00fcnchen.example"), "x.test"}));
        EXPECT_EQ(LogShowing(*F, QStringLiteral("latin.txt")).count(QStringLiteral("latin.txt")), 1);
    }
    EXPECT_EQ(ReadTestFile(SettingsDir() + "/srclist.txt"), Data);
}

// A settings file no window could have written is refused in a box, not
// read in part; the window still opens, at its defaults.
TEST_F(MainFormListFiles, AnAbsurdSettingsFileIsReportedInABox) {
    WriteTestFile(SettingsFile(), "Threads=9\r\n");
    {
        QFile F(SettingsFile());
        ASSERT_TRUE(F.resize(MaxSettingsFileSize + 1));  // sparse
    }
    auto F = NewForm();
    ASSERT_EQ(F->Boxes.size(), 1);
    EXPECT_EQ(F->Boxes[0].Icon, QMessageBox::Critical);
    EXPECT_TRUE(F->Boxes[0].Text.contains(QStringLiteral("too big"))) << Str(F->Boxes[0].Text);
    EXPECT_TRUE(F->Boxes[0].Text.contains(QStringLiteral("qx.ini"))) << Str(F->Boxes[0].Text);
    EXPECT_EQ(Str(F->ThreadsEdit->text()), "1");
    EXPECT_TRUE(F->StartButton->isEnabled());
}

// A folder where newlist.txt should be: neither read at start nor written at
// close. The other lists are shown as their files hold them; the close that
// cannot save keeps the window, and the list in it, with the reason; the
// next close goes, and the window's end adds no box after it.
TEST_F(MainFormListFiles, AListFileThatCannotBeReadOrWrittenCostsNoOtherList) {
    const QString Dir = SettingsDir();
    WriteTestFile(SettingsFile(), "Threads=1\r\n");
    WriteTestFile(Dir + "/srclist.txt", "a.example\r\n");
    WriteTestFile(Dir + "/outlist.txt", "10.0.0.1\r\n");
    ASSERT_TRUE(QDir(Dir).mkpath(QStringLiteral("newlist.txt/inside")));
    {
        auto F = NewForm();
        ASSERT_EQ(F->Boxes.size(), 1) << Str(F->BoxTexts().join('|'));
        EXPECT_TRUE(F->Boxes[0].Text.contains(QStringLiteral("newlist.txt"))) << Str(F->Boxes[0].Text);
        EXPECT_EQ(Lines(F->SourceMemo), QStringList{"a.example"});
        EXPECT_EQ(Lines(F->ResultMemo), QStringList{"10.0.0.1"});
        F->show();
        F->AddedMemo->setPlainText(QStringLiteral("new.example"));
        F->SourceMemo->setPlainText(QStringLiteral("b.example"));
        EXPECT_FALSE(F->close());
        EXPECT_TRUE(F->isVisible());
        ASSERT_EQ(F->Boxes.size(), 2) << Str(F->BoxTexts().join('|'));
        EXPECT_TRUE(F->Boxes[1].Text.contains(QStringLiteral("newlist.txt"))) << Str(F->Boxes[1].Text);
        EXPECT_EQ(Lines(F->AddedMemo), QStringList{"new.example"});
        EXPECT_TRUE(F->close());
        EXPECT_FALSE(F->isVisible());
        F->FormDestroy();
        EXPECT_EQ(F->Boxes.size(), 2) << Str(F->BoxTexts().join('|'));
    }
    // The list that could be written was, at the first close.
    EXPECT_EQ(ReadTestFile(Dir + "/srclist.txt"), QByteArray("b.example\r\n"));
    EXPECT_EQ(ReadTestFile(Dir + "/outlist.txt"), QByteArray("10.0.0.1\r\n"));
    EXPECT_TRUE(QFileInfo(Dir + "/newlist.txt").isDir());
}
