#include "text/StreamReaderExUnit.h"
#include "text/uLineReaderWriter.h"
#include "TextPrinters.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

// Every line a reader hands out, over an in-memory copy of Bytes.
QStringList ReadAllLines(const QByteArray& Bytes, TEncoding* Encoding, int BufferSize, bool DetectBOM = false) {
    QBuffer Buffer;
    Buffer.setData(Bytes);
    Buffer.open(QIODevice::ReadOnly);
    TStreamReaderEx Reader(&Buffer, Encoding, DetectBOM, BufferSize);
    QStringList Lines;
    while (!Reader.EndOfStream())
        Lines << Reader.ReadLine();
    return Lines;
}

QStringList FixedLines(const QByteArray& Bytes, int BufferSize = 128) {
    TFixedUTF8Encoding Encoding;
    return ReadAllLines(Bytes, &Encoding, BufferSize);
}

}  // namespace

TEST(StreamReaderEx, LineBreaksOfEveryKind) {
    EXPECT_EQ(FixedLines("a\r\nb\nc\rd"), QStringList({"a", "b", "c", "d"}));
    EXPECT_EQ(FixedLines("a\n"), QStringList({"a"}));
    EXPECT_EQ(FixedLines("a\n\nb\r\r\n"), QStringList({"a", "", "b", ""}));
    EXPECT_TRUE(FixedLines("").isEmpty());
}

TEST(StreamReaderEx, CrLfSplitByTheBlockEndCountsOnce) {
    // 128-byte blocks: the CR is the last byte of the first block.
    const QByteArray Head(127, 'x');
    EXPECT_EQ(FixedLines(Head + "\r\ny"), QStringList({QString(Head), "y"}));
    EXPECT_EQ(FixedLines(Head + "\rz"), QStringList({QString(Head), "z"}));
    EXPECT_EQ(FixedLines(Head + "\r"), QStringList({QString(Head)}));
}

TEST(StreamReaderEx, CharacterCutByTheBlockEndIsCompleted) {
    const QString Chars[] = {QString::fromUtf8("\xC3\xA9"), QString::fromUtf8("\xE2\x82\xAC"),
                             QString::fromUtf8("\xF0\x9F\x98\x80")};
    for (const QString& Ch : Chars)
        for (int Lead = 120; Lead <= 130; ++Lead) {
            const QString Expected = QString(Lead, QLatin1Char('a')) + Ch + "b";
            for (TEncoding* Encoding : {static_cast<TEncoding*>(new TFixedUTF8Encoding), TEncoding::UTF8()}) {
                EXPECT_EQ(ReadAllLines(Expected.toUtf8() + "\nc", Encoding, 128), QStringList({Expected, "c"}))
                    << "lead " << Lead << " " << Encoding->EncodingName().toStdString();
                if (!TEncoding::IsStandardEncoding(Encoding))
                    delete Encoding;
            }
        }
}

TEST(StreamReaderEx, CutCharacterIsFetchedFromTheStreamAtOnce) {
    QBuffer Buffer;
    Buffer.setData(QByteArray(127, 'a') + "\xE2\x82\xAC" + QByteArray(500, 'b'));
    Buffer.open(QIODevice::ReadOnly);
    TFixedUTF8Encoding Encoding;
    TStreamReaderEx Reader(&Buffer, &Encoding, false, 128);
    EXPECT_EQ(Reader.Peek(), 'a');
    EXPECT_EQ(Buffer.pos(), 130);  // the block plus the two missing bytes
}

TEST(StreamReaderEx, InvalidUtf8KeepsTheTextAroundIt) {
    const QStringList Lines = FixedLines("ab\xFF" "cd\n\xC3(x\nok\xE2\x82");
    ASSERT_EQ(Lines.size(), 3);
    EXPECT_EQ(Lines[0], QString::fromUtf8("ab\xEF\xBF\xBD" "cd"));
    EXPECT_TRUE(Lines[1].startsWith(QChar(0xFFFD)) && Lines[1].endsWith("(x")) << Lines[1].toStdString();
    EXPECT_TRUE(Lines[2].startsWith("ok") && Lines[2].endsWith(QChar(0xFFFD)));

    // Broken lead bytes right before a block end must not split the valid
    // character after them, wherever the boundary falls.
    for (int Lead = 110; Lead <= 130; ++Lead) {
        QByteArray Bytes = QByteArray(Lead, 'a') + QByteArray(9, '\xE2') + "\xE2\x82\xAC" + "z";
        const QStringList Got = FixedLines(Bytes);
        ASSERT_EQ(Got.size(), 1);
        QString Valid = Got[0];
        Valid.remove(QChar(0xFFFD));
        EXPECT_EQ(Valid, QString(Lead, QLatin1Char('a')) + QString::fromUtf8("\xE2\x82\xAC") + "z") << Lead;
    }
}

TEST(StreamReaderEx, StandardUtf8KeepsReadingPastInvalidBytes) {
    // The encoding the mark detection falls back to, too: a bad byte costs
    // one character, never the lines after it.
    const QByteArray Bytes = "good\nbad\xFF\n" + QByteArray(300, 'x') + "\nlast";
    for (bool Detect : {false, true}) {
        const QStringList Lines = ReadAllLines(Bytes, TEncoding::UTF8(), 128, Detect);
        EXPECT_EQ(Lines, QStringList({"good", QStringLiteral("bad\uFFFD"), QString(300, u'x'), "last"}))
            << "detect " << Detect;
    }
}

// Unicode's recommended practice: one U+FFFD per maximal subpart, that is per
// longest start of a well-formed sequence, or per byte that starts none.
TEST(StreamReaderEx, InvalidSequencesBecomeOneReplacementPerMaximalSubpart) {
    const QString R(QChar(0xFFFD));
    const struct {
        QByteArray Bytes;
        QString Text;
    } Cases[] = {
        // The standard's own example: F1 80 80 | E1 80 | C2 | 80 | 80 BF.
        {"a\xF1\x80\x80\xE1\x80\xC2" "b\x80" "c\x80\xBF" "d", "a" + R + R + R + "b" + R + "c" + R + R + "d"},
        {"\xE1\x80" "A", R + "A"},                       // a cut sequence is one
        {"\xF0\x9F\x98" "A", R + "A"},
        {"\xE2\x82", R},                                 // also at the very end
        {"\xC0\xAF", R + R},                             // overlong lead: no subpart
        {"\xE0\x80\x80", R + R + R},                     // E0 needs A0..BF next
        {"\xED\xA0\x80", R + R + R},                     // surrogate
        {"\xF4\x90\x80\x80", R + R + R + R},             // above U+10FFFF
        {"\xF5\x80", R + R},
        {"\xFF\xFE", R + R},
        {"x\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", QString::fromUtf8("x\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80")},
    };
    TFixedUTF8Encoding Fixed;
    for (const auto& C : Cases) {
        const std::string Hex = C.Bytes.toHex(' ').toStdString();
        EXPECT_EQ(Fixed.GetString(C.Bytes.constData(), C.Bytes.size()), C.Text) << Hex;
        EXPECT_EQ(TEncoding::UTF8()->GetString(C.Bytes.constData(), C.Bytes.size()), C.Text) << Hex;
        // Wherever a block ends, the reader gives the same text.
        for (int Lead = 120; Lead <= 128; ++Lead) {
            const QByteArray Head(Lead, 'h');
            EXPECT_EQ(FixedLines(Head + C.Bytes + "\nz"), QStringList({QString(Head) + C.Text, "z"}))
                << Hex << " lead " << Lead;
        }
    }
}

TEST(StreamReaderEx, LongLinesAreCut) {
    const QString Long(65535 + 10, QLatin1Char('q'));
    const QStringList Lines = FixedLines(Long.toUtf8() + "\n", 1024);
    ASSERT_EQ(Lines.size(), 2);
    EXPECT_EQ(Lines[0].size(), 65535);
    EXPECT_EQ(Lines[1], QString(10, QLatin1Char('q')));

    const QString Exact(65535, QLatin1Char('e'));
    EXPECT_EQ(FixedLines(Exact.toUtf8() + "\r\nz", 1024), QStringList({Exact, "z"}));

    QBuffer Buffer;
    Buffer.setData("abcdefg\nhi");
    Buffer.open(QIODevice::ReadOnly);
    TStreamReaderEx Reader(&Buffer, TEncoding::UTF8(), false, 128);
    Reader.SetTruncLineLength(3);
    QStringList Got;
    while (!Reader.EndOfStream())
        Got << Reader.ReadLine();
    EXPECT_EQ(Got, QStringList({"abc", "def", "g", "hi"}));
}

TEST(StreamReaderEx, NulRunsFormLinesOfTheirOwn) {
    const QByteArray Bytes("a\0\0b", 4);
    EXPECT_EQ(FixedLines(Bytes), QStringList({"a", QString(2, QChar(0)), "b"}));
    EXPECT_EQ(FixedLines(QByteArray("\0x\n", 3)), QStringList({QString(1, QChar(0)), "x"}));

    QBuffer Buffer;
    Buffer.setData(Bytes);
    Buffer.open(QIODevice::ReadOnly);
    TFixedUTF8Encoding Encoding;
    TStreamReaderEx Reader(&Buffer, &Encoding, false, 128);
    Reader.SetSkipLineNullChars(false);
    EXPECT_EQ(Reader.ReadLine(), QString::fromLatin1(Bytes));
}

TEST(StreamReaderEx, PreambleWithDetectionOff) {
    EXPECT_EQ(FixedLines("\xEF\xBB\xBFhi\n"), QStringList({"hi"}));
    // A UTF-16 mark is not recognised: its bytes decode as (invalid) UTF-8.
    const QStringList Lines = FixedLines("\xFF\xFEhi");
    ASSERT_EQ(Lines.size(), 1);
    EXPECT_TRUE(Lines[0].startsWith(QChar(0xFFFD)));
    EXPECT_TRUE(Lines[0].endsWith("hi"));
}

TEST(StreamReaderEx, DetectionPicksTheEncodingFromTheMark) {
    const auto Detect = [](const QByteArray& Bytes, TEncoding* Start, TEncoding*& Chosen) {
        QBuffer Buffer;
        Buffer.setData(Bytes);
        Buffer.open(QIODevice::ReadOnly);
        TStreamReaderEx Reader(&Buffer, Start, true, 128);
        const QString All = Reader.ReadToEnd();
        Chosen = Reader.CurrentEncoding();
        return All;
    };
    TFixedUTF8Encoding Fixed;
    TEncoding* Chosen = nullptr;
    const QString Text = QString::fromUtf8("h\xC3\xA9\n\xE2\x82\xAC");
    QByteArray Le("\xFF\xFE");
    Le += QByteArray(reinterpret_cast<const char*>(Text.utf16()), Text.size() * 2);
    EXPECT_EQ(Detect(Le, &Fixed, Chosen), Text);
    EXPECT_EQ(Chosen, TEncoding::Unicode());
    EXPECT_EQ(Detect(QByteArray("\xFE\xFF") + TEncoding::BigEndianUnicode()->GetBytes(Text), &Fixed, Chosen), Text);
    EXPECT_EQ(Chosen, TEncoding::BigEndianUnicode());
    EXPECT_EQ(Detect("\xEF\xBB\xBFok", &Fixed, Chosen), "ok");
    EXPECT_EQ(Chosen, TEncoding::UTF8());
    EXPECT_EQ(Detect("plain", &Fixed, Chosen), "plain");
    EXPECT_EQ(Chosen, TEncoding::UTF8());
    EXPECT_EQ(Detect("plain", TEncoding::Default(), Chosen), "plain");
    EXPECT_EQ(Chosen, TEncoding::Default());
}

TEST(StreamReaderEx, RewindDoesNotSkipThePreambleAgain) {
    QBuffer Buffer;
    Buffer.setData("\xEF\xBB\xBFone\ntwo");
    Buffer.open(QIODevice::ReadOnly);
    TFixedUTF8Encoding Encoding;
    TStreamReaderEx Reader(&Buffer, &Encoding, false, 128);
    EXPECT_EQ(Reader.ReadLine(), "one");
    Buffer.seek(0);
    Reader.DiscardBufferedData();
    EXPECT_EQ(Reader.ReadLine(), QString(QChar(0xFEFF)) + "one");
    Reader.GotoNextLine();
    EXPECT_TRUE(Reader.EndOfStream());
    EXPECT_EQ(Reader.ReadLine(), "");
}

TEST(StreamReaderEx, CharacterReads) {
    QBuffer Buffer;
    const QByteArray Big = QByteArray(3000, 'k') + "\xE2\x82\xAC";
    Buffer.setData("abcd" + Big);
    Buffer.open(QIODevice::ReadOnly);
    TStreamReaderEx Reader(&Buffer, TEncoding::UTF8(), false, 128);
    EXPECT_EQ(Reader.Peek(), 'a');
    EXPECT_EQ(Reader.Read(), 'a');
    QList<QChar> Chars(5, QChar('-'));
    EXPECT_EQ(Reader.Read(Chars, 1, 3), 3);
    EXPECT_EQ(QString(Chars.constData(), 5), "-bcd-");
    EXPECT_THROW(Reader.Read(Chars, 4, 2), EArgumentOutOfRangeException);
    EXPECT_EQ(Reader.ReadToEnd(), QString::fromUtf8(Big));
    EXPECT_EQ(Reader.Read(), -1);
    EXPECT_EQ(Reader.Peek(), -1);
    EXPECT_EQ(Reader.ReadBlock(Chars, 0, 5), -1);
    EXPECT_EQ(Reader.ReadToEnd(), "");
    Reader.Close();
    EXPECT_EQ(Reader.ReadLine(), "");
    EXPECT_EQ(Reader.Read(), -1);
    EXPECT_TRUE(Reader.EndOfStream());
}

TEST(StreamReaderEx, ConstructionErrors) {
    QBuffer Buffer;
    try {
        TStreamReaderEx Reader(static_cast<QIODevice*>(nullptr), nullptr);
        FAIL();
    } catch (const EArgumentNilException& E) {
        EXPECT_EQ(E.Message(), "Parameter Stream cannot be nil");
    }
    try {
        TStreamReaderEx Reader(&Buffer, static_cast<TEncoding*>(nullptr));
        FAIL();
    } catch (const EArgumentNilException& E) {
        EXPECT_EQ(E.Message(), "Parameter Encoding cannot be nil");
    }
    try {
        TStreamReaderEx Reader(QStringLiteral("/nonexistent/dir/file.txt"));
        FAIL();
    } catch (const EFileError& E) {
        EXPECT_TRUE(E.Message().contains("/nonexistent/dir/file.txt"));
        EXPECT_TRUE(E.Message().contains("No such file", Qt::CaseInsensitive)) << E.what();
    }
}

// Random text of every character width and break kind, read through small
// blocks, must come back line for line.
TEST(StreamReaderEx, RandomTextRoundTrip) {
    QRandomGenerator Rng(4711);
    const QString Alphabet = QString::fromUtf8("az09.-\t\xC3\xA9\xD0\x96\xE2\x82\xAC\xE4\xB8\xAD");
    const QString Emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
    const char* Breaks[] = {"\n", "\r\n", "\r"};
    for (int Round = 0; Round < 20; ++Round) {
        QStringList Expected;
        QByteArray Bytes;
        const int LineCount = Rng.bounded(1, 200);
        bool AfterCr = false;
        for (int L = 0; L < LineCount; ++L) {
            QString Line;
            const int Len = Rng.bounded(0, 300);
            for (int I = 0; I < Len; ++I)
                Line += Rng.bounded(20) == 0 ? Emoji : QString(Alphabet[Rng.bounded(Alphabet.size())]);
            const int Break = Rng.bounded(3);
            if (AfterCr && Line.isEmpty() && Break != 2)
                Line = "x";  // a lone CR then an empty line's LF would read as one CR LF
            Expected << Line;
            Bytes += Line.toUtf8();
            if (L + 1 < LineCount || Line.isEmpty() || Rng.bounded(2))
                Bytes += Breaks[Break];
            AfterCr = Break == 2;
        }
        TFixedUTF8Encoding Encoding;
        EXPECT_EQ(ReadAllLines(Bytes, &Encoding, Rng.bounded(100, 300)), Expected) << "round " << Round;
    }
}
