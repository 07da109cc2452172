// Lines from sources that deliver their bytes in pieces of any size and may
// stay silent: a line must come out as soon as its break has arrived, whole
// and decoded, and a silent source must not hold a reader that was told to stop.
#include "text/StreamReaderExUnit.h"
#include "text/uFdInputStream.h"
#include "text/uLineReaderWriter.h"
#include "TextPrinters.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <future>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// A pipe-like source that hands out its bytes in the given pieces, one piece
// per read at most, as a pipe does when the writer writes them one by one.
class TPieceDevice : public QIODevice {
public:
    explicit TPieceDevice(QList<QByteArray> APieces) : FPieces(std::move(APieces)) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* AData, qint64 AMax) override {
        while (FNext < FPieces.size() && FPieces[FNext].isEmpty())
            ++FNext;
        if (FNext >= FPieces.size())
            return 0;
        QByteArray& P = FPieces[FNext];
        const qint64 N = std::min<qint64>(AMax, P.size());
        std::memcpy(AData, P.constData(), size_t(N));
        P.remove(0, N);
        return N;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QList<QByteArray> FPieces;
    qsizetype FNext = 0;
};

QStringList ReadLines(TLineReader& AReader) {
    QStringList Lines;
    while (!AReader.EndOfLines())
        Lines << AReader.ReadLine();
    return Lines;
}

QByteArray Utf16(const QString& AText, bool ABigEndian, bool AMark) {
    QByteArray Out;
    if (AMark)
        Out = ABigEndian ? QByteArray("\xFE\xFF", 2) : QByteArray("\xFF\xFE", 2);
    for (QChar C : AText) {
        const char Hi = char(C.unicode() >> 8), Lo = char(C.unicode() & 0xFF);
        Out += ABigEndian ? QByteArray{&Hi, 1} + QByteArray{&Lo, 1} : QByteArray{&Lo, 1} + QByteArray{&Hi, 1};
    }
    return Out;
}

// A FIFO in a temporary folder; its writer is a thread of the test.
class TFifo {
public:
    TFifo() : FPath(FDir.filePath("fifo")) { EXPECT_EQ(::mkfifo(QFile::encodeName(FPath).constData(), 0600), 0); }
    const QString& Path() const { return FPath; }
    // Blocks until a reader has opened the FIFO.
    int OpenWriter() const { return ::open(QFile::encodeName(FPath).constData(), O_WRONLY | O_CLOEXEC); }

private:
    QTemporaryDir FDir;
    QString FPath;
};

void WriteAll(int AFd, const QByteArray& ABytes) {
    qsizetype Done = 0;
    while (Done < ABytes.size()) {
        const ssize_t N = ::write(AFd, ABytes.constData() + Done, size_t(ABytes.size() - Done));
        ASSERT_GT(N, 0);
        Done += N;
    }
}

}  // namespace

TEST(StreamingReader, EverySplitOfTheReadsGivesTheSameLines) {
    const QString Text = QString::fromUtf8("a.test\r\nb\xC3\xBC.test\nc\xE2\x82\xAC.test\r\nlast");
    const QStringList Expected{"a.test", QString::fromUtf8("b\xC3\xBC.test"), QString::fromUtf8("c\xE2\x82\xAC.test"),
                               "last"};
    struct TInput {
        const char* Name;
        QByteArray Bytes;
    } Inputs[] = {
        {"UTF-8", Text.toUtf8()},
        {"UTF-8 with mark", QByteArray("\xEF\xBB\xBF") + Text.toUtf8()},
        {"UTF-16LE with mark", Utf16(Text, false, true)},
        {"UTF-16BE with mark", Utf16(Text, true, true)},
    };
    for (const TInput& In : Inputs) {
        const QByteArray& B = In.Bytes;
        // One byte at a time, then two pieces cut at every position: inside
        // the mark, inside a character of several bytes, between CR and LF.
        QList<QList<QByteArray>> Splits;
        QList<QByteArray> Bytewise;
        for (char C : B)
            Bytewise << QByteArray(1, C);
        Splits << Bytewise;
        for (qsizetype K = 1; K < B.size(); ++K)
            Splits << QList<QByteArray>{B.left(K), B.mid(K)};
        for (const QList<QByteArray>& Pieces : Splits) {
            SCOPED_TRACE(std::string(In.Name) + ", first piece " + std::to_string(Pieces.first().size()) + " of " +
                         std::to_string(Pieces.size()));
            TPieceDevice Device(Pieces);
            TLineReader Reader(&Device, 1024);
            EXPECT_EQ(ReadLines(Reader), Expected);
            EXPECT_EQ(Reader.LineIndex(), Expected.size());
        }
    }
}

// Encodings without a mark (and UTF-32 with one), read whole and streamed in
// pieces: UTF-16 is told by the zero bytes of its ASCII characters and line
// breaks whatever script comes first; UTF-32 is refused, never read as lines.
TEST(StreamingReader, WideTextIsToldByItsZeroBytes) {
    const QString Latin = QStringLiteral("ads.test\ncdn.test\n");
    const QString Japanese = QString::fromUtf8("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\n1\nads.test\n");
    const QStringList LatinLines{"ads.test", "cdn.test"};
    const QStringList JapaneseLines{QString::fromUtf8("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"), "1", "ads.test"};
    const auto Utf32 = [](const QString& AText, bool ABigEndian, bool AMark) {
        QByteArray Out;
        for (char32_t C : (AMark ? QStringLiteral("\uFEFF") + AText : AText).toUcs4()) {
            QByteArray Unit(4, 0);
            for (int B = 0; B < 4; ++B)
                Unit[ABigEndian ? 3 - B : B] = char((C >> (8 * B)) & 0xFF);
            Out += Unit;
        }
        return Out;
    };
    const struct {
        const char* Name;
        QByteArray Bytes;
        QStringList Lines;   // empty: refused as UTF-32
        bool Guessed;
    } Cases[] = {
        {"UTF-16LE, Latin", Utf16(Latin, false, false), LatinLines, true},
        {"UTF-16BE, Latin", Utf16(Latin, true, false), LatinLines, true},
        {"UTF-16LE, Japanese first", Utf16(Japanese, false, false), JapaneseLines, true},
        {"UTF-16BE, Japanese first", Utf16(Japanese, true, false), JapaneseLines, true},
        {"UTF-8, Japanese first", Japanese.toUtf8(), JapaneseLines, false},
        {"zero bytes out of any pattern", QByteArray("a\0b\0cd\n", 7),
         {"a", QString(QChar(0)), "b", QString(QChar(0)), "cd"}, false},
        {"UTF-32LE with mark", Utf32(Latin, false, true), {}, false},
        {"UTF-32BE with mark", Utf32(Latin, true, true), {}, false},
        {"UTF-32LE, Latin", Utf32(Latin, false, false), {}, false},
        {"UTF-32BE, Japanese first", Utf32(Japanese, true, false), {}, false},
    };
    for (const auto& C : Cases) {
        // Whole, then streamed two bytes at a time: the guess waits for the first line break.
        QList<QList<QByteArray>> Splits{{C.Bytes}, {}};
        for (qsizetype I = 0; I < C.Bytes.size(); I += 2)
            Splits[1] << C.Bytes.mid(I, 2);
        for (const QList<QByteArray>& Pieces : Splits) {
            SCOPED_TRACE(std::string(C.Name) + (Pieces.size() > 1 ? ", streamed" : ", whole"));
            QBuffer File;
            TPieceDevice Device(Pieces);
            QIODevice* In = &Device;
            if (Pieces.size() == 1) {
                File.setData(C.Bytes);
                File.open(QIODevice::ReadOnly);
                In = &File;
            }
            TLineReader Reader(In, 1024);
            if (C.Lines.isEmpty()) {
                try {
                    const QStringList Got = ReadLines(Reader);
                    ADD_FAILURE() << "read as " << Got.join('|').toStdString();
                } catch (const EStreamReadError& E) {
                    EXPECT_EQ(E.Reason(), QStringLiteral("UTF-32 text"));
                }
                continue;
            }
            EXPECT_EQ(ReadLines(Reader), C.Lines);
            EXPECT_EQ(Reader.GuessedUTF16(), C.Guessed);
        }
    }
}

TEST(StreamingReader, ALineComesOutBeforeTheNextIsWritten) {
    TFifo Fifo;
    std::mutex M;
    std::condition_variable Cv;
    bool Taken = false;
    std::atomic<bool> WaitedInVain{false};
    std::thread Writer([&] {
        const int Fd = Fifo.OpenWriter();
        ASSERT_GE(Fd, 0);
        // A name whose "ü" falls across the first 1024 bytes, then a pause.
        QByteArray First = QByteArray(1022, 'x') + QByteArray("\xC3\xBC.test\n");
        WriteAll(Fd, QByteArray("one.test\n"));
        {
            std::unique_lock<std::mutex> L(M);
            if (!Cv.wait_for(L, std::chrono::seconds(3), [&] { return Taken; }))
                WaitedInVain = true;
            Taken = false;
        }
        WriteAll(Fd, First);
        {
            std::unique_lock<std::mutex> L(M);
            if (!Cv.wait_for(L, std::chrono::seconds(3), [&] { return Taken; }))
                WaitedInVain = true;
        }
        WriteAll(Fd, QByteArray("two.test"));
        ::close(Fd);
    });
    TLineReader Reader(Fifo.Path(), 1024);
    const auto Take = [&] {
        const QString Line = Reader.EndOfLines() ? QStringLiteral("<end>") : Reader.ReadLine();
        std::lock_guard<std::mutex> L(M);
        Taken = true;
        Cv.notify_all();
        return Line;
    };
    EXPECT_EQ(Take(), "one.test");
    EXPECT_EQ(Take(), QString(1022, QLatin1Char('x')) + QString::fromUtf8("\xC3\xBC.test"));
    EXPECT_EQ(Take(), "two.test");
    EXPECT_TRUE(Reader.EndOfLines());
    Writer.join();
    EXPECT_FALSE(WaitedInVain) << "a line was handed out only after more input came";
}

TEST(StreamingReader, LongLinesAndAMillionLinesThroughAPipeReadAsFromTheFile) {
    QTemporaryDir Dir;
    QByteArray Data;
    Data.reserve(16 << 20);
    Data += QByteArray(60000, 'w') + "\n";
    for (int I = 0; I < 1000000; ++I) {
        Data += "n" + QByteArray::number(I) + (I % 7 == 0 ? "\xC3\xA9.test\r\n" : ".test\n");
    }
    const QString Path = Dir.filePath("list.txt");
    {
        QFile F(Path);
        ASSERT_TRUE(F.open(QIODevice::WriteOnly));
        ASSERT_EQ(F.write(Data), Data.size());
    }
    const auto Digest = [](TLineReader& R, int& ACount) {
        QCryptographicHash H(QCryptographicHash::Sha256);
        ACount = 0;
        while (!R.EndOfLines()) {
            const QString L = R.ReadLine();
            H.addData(QByteArrayView(reinterpret_cast<const char*>(L.constData()), L.size() * 2));
            H.addData("|");
            ++ACount;
        }
        return H.result();
    };
    int FileCount = 0;
    TLineReader FileReader(Path, 1024);
    const QByteArray FileDigest = Digest(FileReader, FileCount);
    EXPECT_EQ(FileCount, 1000001);

    TFifo Fifo;
    std::thread Writer([&] {
        const int Fd = Fifo.OpenWriter();
        ASSERT_GE(Fd, 0);
        // Pieces of every size, so that reads end anywhere.
        QRandomGenerator Rng(29);
        for (qsizetype At = 0; At < Data.size();) {
            const qsizetype N = std::min<qsizetype>(Data.size() - At, 1 + Rng.bounded(70000));
            WriteAll(Fd, Data.mid(At, N));
            At += N;
        }
        ::close(Fd);
    });
    int PipeCount = 0;
    TLineReader PipeReader(Fifo.Path(), 1024);
    ASSERT_TRUE(PipeReader.StreamReader()->Streaming());
    EXPECT_EQ(Digest(PipeReader, PipeCount), FileDigest);
    EXPECT_EQ(PipeCount, FileCount);
    Writer.join();
}

TEST(StreamingReader, AFifoWithoutWriterOpensAtOnceAndEndsWhenAborted) {
    TFifo Fifo;
    // The old way blocked in open() until a writer came; the test lets one
    // come after 3 s so that a blocking open fails the test instead of hanging it.
    std::promise<void> Opened;
    std::future<void> OpenedF = Opened.get_future();
    std::thread Rescue([&] {
        if (OpenedF.wait_for(std::chrono::seconds(3)) == std::future_status::ready)
            return;
        const int Fd = Fifo.OpenWriter();
        if (Fd >= 0)
            ::close(Fd);
    });
    QElapsedTimer T;
    T.start();
    TLineReader Reader(Fifo.Path(), 1024);
    Opened.set_value();
    Rescue.join();
    EXPECT_LT(T.elapsed(), 1000) << "opening waited for a writer";

    std::atomic<bool> Stop{false};
    Reader.SetAbortCheck([&] { return Stop.load(); });
    std::thread Breaker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        Stop = true;
    });
    T.restart();
    EXPECT_TRUE(Reader.EndOfLines());
    EXPECT_GE(T.elapsed(), 250);
    EXPECT_LT(T.elapsed(), 1000);
    Breaker.join();
}

TEST(StreamingReader, OverlongLineIsDroppedWholeAndAReadErrorIsRaised) {
    for (bool Streamed : {false, true}) {
        SCOPED_TRACE(Streamed ? "streamed" : "buffered");
        const QByteArray B = "#" + QByteArray(70000, 'y') + "tracker.test\nok.test\n" + QByteArray(1 << 20, 'x') +
                             QByteArray("\0\0", 2) + QByteArray(70000, 'z') + "\r\nlast.test";
        QBuffer File;
        File.setData(B);
        File.open(QIODevice::ReadOnly);
        TPieceDevice Pipe({B.left(5000), B.mid(5000, 100000), B.mid(105000)});
        TLineReader Reader(Streamed ? static_cast<QIODevice*>(&Pipe) : &File, 1024);
        QStringList Kept;
        int Cut = 0;
        while (!Reader.EndOfLines()) {
            const QString L = Reader.ReadLine();
            if (Reader.LastLineCut()) {
                EXPECT_EQ(L.size(), 65535);
                ++Cut;
                Reader.SkipLineTail();
            } else {
                Kept << L;
            }
        }
        EXPECT_EQ(Cut, 2);
        EXPECT_EQ(Kept, QStringList({"ok.test", "last.test"}));
    }
    TLineReader Mem(QStringLiteral("/proc/self/mem"), 1024);
    try {
        Mem.EndOfLines();
        ADD_FAILURE() << "reading /proc/self/mem did not fail";
    } catch (const EStreamReadError& E) {
        EXPECT_FALSE(E.Reason().isEmpty());
    }
}
