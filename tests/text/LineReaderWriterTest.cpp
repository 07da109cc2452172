#include "text/uLineReaderWriter.h"
#include "support/TestFiles.h"
#include "TextPrinters.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QStringList ReadAll(TLineReader& Reader) {
    QStringList Lines;
    while (!Reader.EndOfLines())
        Lines << Reader.ReadLine();
    return Lines;
}

class LineReaderTest : public ::testing::Test {
protected:
    void TearDown() override { TLineReader::ResetRejectChars(); }
    QTemporaryDir Dir;
};

using LineWriterTest = LineReaderTest;

}  // namespace

TEST_F(LineReaderTest, ListMode) {
    TStringList Empty;
    TLineReader None(&Empty);
    EXPECT_TRUE(None.EndOfLines());
    EXPECT_EQ(None.ReadLine(), "");
    EXPECT_EQ(None.LineIndex(), 0);

    TStringList Lines;
    Lines.Add("one");
    Lines.Add("");
    Lines.Add("three");
    TLineReader Reader(&Lines);
    EXPECT_EQ(Reader.ReadLine(), "one");
    Reader.GotoNextLine();
    EXPECT_EQ(Reader.ReadLine(), "three");
    EXPECT_TRUE(Reader.EndOfLines());
    Reader.GotoNextLine();
    EXPECT_EQ(Reader.LineIndex(), 3);
    Reader.GotoToBegin();
    EXPECT_EQ(ReadAll(Reader), QStringList({"one", "", "three"}));
    Reader.Close();
    EXPECT_TRUE(Reader.EndOfLines());
    EXPECT_EQ(Reader.ReadLine(), "");
}

TEST_F(LineReaderTest, FileMode) {
    const QString Name = Dir.filePath("in.txt");
    WriteTestFile(Name, "\xEF\xBB\xBF" "example.com\r\nb\xC3\xBC" "cher.de\n\n1.2.3.4/24");
    TLineReader Reader(Name, 1024);
    EXPECT_EQ(Reader.StreamSize(), QFile(Name).size());
    EXPECT_EQ(ReadAll(Reader), QStringList({"example.com", QString::fromUtf8("b\xC3\xBC" "cher.de"), "", "1.2.3.4/24"}));
    EXPECT_EQ(Reader.LineIndex(), 4);
    EXPECT_EQ(Reader.StreamPosition(), Reader.StreamSize());
    // Rewinding keeps the count and no longer treats the mark as a preamble.
    Reader.GotoToBegin();
    EXPECT_EQ(Reader.ReadLine(), QString(QChar(0xFEFF)) + "example.com");
    EXPECT_EQ(Reader.LineIndex(), 5);

    // A UTF-16 file is read by its mark.
    WriteTestFile(Name, QByteArray("\xFF\xFEh\0i\0", 6));
    TLineReader Utf16(Name, 1024);
    EXPECT_EQ(Utf16.ReadLine(), "hi");

    EXPECT_THROW(TLineReader(Dir.filePath("missing.txt"), 1024), EFileError);
}

// Domain lists saved by other programs: UTF-16 with its mark in either byte
// order, lines long enough to cross the 1024-byte blocks, characters outside
// the BMP, and a plain UTF-8 file with a broken byte in the middle.
TEST_F(LineReaderTest, FileModeReadsUtf16ByItsMarkAndBrokenUtf8ToTheEnd) {
    QStringList Expected;
    for (int I = 0; I < 400; ++I)
        Expected << QStringLiteral("host%1.example").arg(I);
    Expected << "." << QString::fromUtf8("b\xC3\xBC" "cher.de")
             << QString::fromUtf8("\xF0\x9F\x98\x80.example") << QString(700, u'w') << "1.2.3.4/24" << "";
    const QString Text = Expected.join("\r\n");
    QByteArray Le("\xFF\xFE"), Be("\xFE\xFF");
    for (QChar C : Text) {
        Le += char(C.unicode() & 0xFF);
        Le += char(C.unicode() >> 8);
        Be += char(C.unicode() >> 8);
        Be += char(C.unicode() & 0xFF);
    }
    QStringList WithoutLastBreak = Expected;
    WithoutLastBreak.removeLast();  // the text ends with a break: no empty last line
    const QString Name = Dir.filePath("utf16.txt");
    for (const QByteArray& Bytes : {Le, Be}) {
        WriteTestFile(Name, Bytes);
        TLineReader Reader(Name, 1024);
        EXPECT_EQ(ReadAll(Reader), WithoutLastBreak) << Bytes.left(2).toHex().toStdString();

        // Stream mode honours the mark the same way.
        QBuffer Buffer;
        Buffer.setData(Bytes);
        Buffer.open(QIODevice::ReadOnly);
        TLineReader Stream(&Buffer, 1024);
        EXPECT_EQ(ReadAll(Stream), WithoutLastBreak);
    }

    // Without a mark: UTF-8, and a bad byte costs one character, not the rest.
    WriteTestFile(Name,
                  QByteArray(2000, 'a') + "\nbad\xE9.example\n" + QByteArray(2000, 'b') + "\nlast.example\n");
    TLineReader Plain(Name, 1024);
    EXPECT_EQ(ReadAll(Plain), QStringList({QString(2000, u'a'), QStringLiteral("bad\uFFFD.example"),
                                           QString(2000, u'b'), "last.example"}));
}

TEST_F(LineReaderTest, StreamModeSkipsWithoutBuildingAndStopsAtTheEnd) {
    QBuffer Buffer;
    Buffer.setData("a\nb\nc");
    Buffer.open(QIODevice::ReadOnly);
    TLineReader Reader(&Buffer, 128);
    Reader.GotoNextLine();
    EXPECT_EQ(Reader.ReadLine(), "b");
    EXPECT_EQ(Reader.ReadLine(), "c");
    EXPECT_TRUE(Reader.EndOfLines());
    EXPECT_EQ(Reader.ReadLine(), "");
    Reader.GotoNextLine();
    EXPECT_EQ(Reader.LineIndex(), 3);
}

TEST_F(LineReaderTest, RejectChars) {
    TStringList Lines;
    Lines.Add("abcd1");
    Lines.Add("a-b-\n");
    const auto Read = [&](int Index) {
        TLineReader Reader(&Lines);
        for (int I = 0; I < Index; ++I)
            Reader.GotoNextLine();
        return Reader.ReadLine();
    };
    TLineReader::SetRejectChars("a-c");
    EXPECT_EQ(Read(0), "abc");
    EXPECT_EQ(Read(1), "ab");
    TLineReader::SetRejectChars("\\-");
    EXPECT_EQ(Read(0), "");
    EXPECT_EQ(Read(1), "--");
    TLineReader::SetRejectChars("z-a");
    EXPECT_EQ(Read(0), "");
    TLineReader::SetRejectChars("a-");  // a final hyphen is an ordinary character
    EXPECT_EQ(Read(1), "a--");
    TLineReader::SetRejectChars("b\\n0-9");
    EXPECT_EQ(Read(0), "b1");
    EXPECT_EQ(Read(1), "b\n");
    TLineReader::SetRejectChars("");  // enabled, removes nothing
    EXPECT_TRUE(TLineReader::RejectCharsEnabled());
    EXPECT_EQ(Read(0), "abcd1");
    TLineReader::SetRejectChars("d");
    TLineReader::ResetRejectChars();
    EXPECT_EQ(Read(0), "abcd1");
    EXPECT_TRUE(TLineReader::IsRejectedChar(QChar('a')));  // the table survives the reset
}

TEST_F(LineWriterTest, ListMode) {
    TStringList Lines;
    Lines.Add("1");
    Lines.Add("2");
    Lines.Add("3");
    {
        TLineWriter Writer(&Lines, true);
        Writer.WriteLine("4");
        EXPECT_EQ(Writer.LineIndex(), 1);
    }
    EXPECT_EQ(Lines.ToQStringList(), QStringList({"1", "2", "3", "4"}));
    TLineWriter Writer(&Lines, false);
    EXPECT_EQ(Lines.Count(), 0);
    TStringList More;
    More.Add("x");
    More.Add("y");
    Writer.WriteLines(More);
    EXPECT_EQ(Lines.ToQStringList(), QStringList({"x", "y"}));
    Writer.Close();
    EXPECT_THROW(Writer.WriteLine("lost"), EStreamError);
}

TEST_F(LineWriterTest, BomLineBreakAndAppend) {
    const QString Name = Dir.filePath("out.txt");
    {
        TLineWriter Writer(Name, false);
        Writer.SetWriteBOM(true);
        Writer.WriteLine(QString::fromUtf8("caf\xC3\xA9"));
        EXPECT_EQ(ReadTestFile(Name), "");  // nothing leaves the buffer before Flush
        Writer.Close();
    }
    EXPECT_EQ(ReadTestFile(Name), "\xEF\xBB\xBF" "caf\xC3\xA9\r\n");
    {
        TLineWriter Writer(Name, true);
        Writer.SetWriteBOM(true);
        Writer.SetLineBreak("\n");
        Writer.WriteLine("next");
    }
    EXPECT_EQ(ReadTestFile(Name), "\xEF\xBB\xBF" "caf\xC3\xA9\r\nnext\n");
    {
        TLineWriter Writer(Name, true);
        Writer.SetWriteBOM(true);
        Writer.Clear();
        EXPECT_EQ(ReadTestFile(Name), "");
        Writer.WriteLine("again");
    }
    EXPECT_EQ(ReadTestFile(Name), "\xEF\xBB\xBF" "again\r\n");
    {
        TLineWriter Writer(Name, false, QString(), TEncoding::Unicode());
        Writer.SetWriteBOM(true);
        Writer.WriteLine("h");
    }
    EXPECT_EQ(ReadTestFile(Name), QByteArray("\xFF\xFEh\0\r\0\n\0", 8));
}

TEST_F(LineWriterTest, LongLinesGoOutInBufferSizedPieces) {
    const QString Name = Dir.filePath("long.txt");
    QString Long;
    for (int I = 0; I < 3000; ++I)
        Long += QChar(u'a' + I % 26);
    Long += QString::fromUtf8("\xE2\x82\xAC");
    TLineWriter Writer(Name, false);
    Writer.SetLineBreak("\n");
    Writer.WriteLine(Long);
    EXPECT_EQ(Writer.PendingBytes(), (3003 + 1) % 1024);
    EXPECT_EQ(ReadTestFile(Name).size(), 3003 + 1 - (3003 + 1) % 1024);
    Writer.Close();
    TLineReader Reader(Name, 1024);
    EXPECT_EQ(ReadAll(Reader), QStringList({Long}));
}

TEST_F(LineWriterTest, TemporaryExtensionKeepsTheOldFileUntilClose) {
    const QString Name = Dir.filePath("result.txt");
    WriteTestFile(Name, "old\r\n");
    {
        TLineWriter Writer(Name, true, ".tmp");
        EXPECT_EQ(Writer.TempFileName(), Name + ".tmp");
        for (int I = 0; I < 500; ++I)
            Writer.WriteLine("new line");
        Writer.Flush();
        EXPECT_EQ(ReadTestFile(Name), "old\r\n");
        EXPECT_TRUE(ReadTestFile(Name + ".tmp").startsWith("old\r\nnew line\r\n"));
        Writer.Close();
    }
    EXPECT_FALSE(QFile::exists(Name + ".tmp"));
    const QByteArray After = ReadTestFile(Name);
    EXPECT_TRUE(After.startsWith("old\r\nnew line\r\n"));
    EXPECT_EQ(After.size(), 5 + 500 * 10);

    // Without Append the temporary file starts empty.
    TLineWriter Writer(Name, false, ".tmp");
    Writer.WriteLine("fresh");
    EXPECT_EQ(ReadTestFile(Name).size(), 5 + 500 * 10);
    Writer.Close();
    EXPECT_EQ(ReadTestFile(Name), "fresh\r\n");
}

TEST_F(LineWriterTest, WriteErrorsSurfaceWithTheSystemMessage) {
    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    TLineWriter Writer(QStringLiteral("/dev/full"), false);
    Writer.SetAutoFlush(true);
    try {
        Writer.WriteLine("x");
        FAIL() << "a full disk went unnoticed";
    } catch (const EFileError& E) {
        EXPECT_TRUE(E.Message().contains("No space left on device")) << E.what();
        EXPECT_TRUE(E.Message().contains("/dev/full"));
    }
    EXPECT_EQ(Writer.PendingBytes(), 3);  // kept for another try
    EXPECT_THROW(Writer.Close(), EFileError);

    // Buffered writing reports it at the flush that hits the device.
    TLineWriter Buffered(QStringLiteral("/dev/full"), false);
    EXPECT_THROW(
        {
            for (int I = 0; I < 200; ++I)
                Buffered.WriteLine("0123456789");
        },
        EFileError);

    EXPECT_THROW(TLineWriter(Dir.filePath("no/such/dir/out.txt"), false), EFileError);
}

TEST_F(LineWriterTest, FailedCloseLeavesTheOldTargetAlone) {
    // The temporary file cannot be renamed over a directory: the target survives.
    const QString Name = Dir.filePath("target");
    ASSERT_TRUE(QDir().mkpath(Name + "/inside"));
    {
        TLineWriter Writer(Name, false, ".tmp");
        Writer.WriteLine("data");
        EXPECT_THROW(Writer.Close(), EFileError);
    }
    EXPECT_TRUE(QFileInfo(Name + "/inside").isDir());
}

TEST_F(LineWriterTest, StreamMode) {
    QBuffer Buffer;
    Buffer.setData("previous");
    Buffer.open(QIODevice::ReadWrite);
    {
        TLineWriter Writer(&Buffer, false);
        EXPECT_EQ(Buffer.size(), 0);
        Writer.WriteLine("a");
        Writer.WriteLine("b");
        EXPECT_EQ(Writer.LineIndex(), 2);
        EXPECT_GE(Writer.LastWriteTime().msecsTo(QDateTime::currentDateTime()), 0);
    }
    EXPECT_EQ(Buffer.data(), "a\r\nb\r\n");
    EXPECT_TRUE(Buffer.isOpen());  // a caller's stream stays open
    EXPECT_THROW(TLineWriter(static_cast<QIODevice*>(nullptr), false), EArgumentNilException);
}
