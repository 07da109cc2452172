#pragma once

#include "containers/uStringList.h"
#include "text/StreamReaderExUnit.h"
#include "text/uEncoding.h"

#include <QDateTime>
#include <QIODevice>
#include <QString>
#include <functional>
#include <memory>

VT_DECLARE_EXCEPTION(EStreamError, Exception)

class TFdInputStream;

// UTF-8 for every file read or written line by line: an invalid or
// truncated byte sequence decodes to U+FFFD and decoding goes on.
class TFixedUTF8Encoding : public TUTF8Encoding {
public:
    qsizetype GetMaxByteCount(qsizetype CharCount) const override { return CharCount * 3 + 3; }
    qsizetype GetMaxCharCount(qsizetype ByteCount) const override { return ByteCount + 1; }
};

// Reads text line by line from a string list, a byte stream or a file
// (UTF-8, or UTF-16 LE/BE when the bytes start with its mark or show its
// pattern of zero bytes). A file that is no regular file (a FIFO, a
// terminal, /dev/stdin) is streamed: each line comes as soon as its break
// has arrived. Not locked: each caller serialises its own use, EndOfLines included.
class TLineReader {
public:
    // Stream mode over a caller-owned stream.
    TLineReader(QIODevice* Stream, int BufferSize);
    // File mode: opens Filename for reading; EFileError when it cannot.
    // Opening never waits (a FIFO without a writer is opened at once).
    TLineReader(const QString& Filename, int BufferSize);
    // File mode over an open descriptor (standard input), left open at Close.
    TLineReader(int Fd, int BufferSize);
    // List mode over a caller-owned list.
    explicit TLineReader(TStringList* Lines);
    ~TLineReader();

    TLineReader(const TLineReader&) = delete;
    TLineReader& operator=(const TLineReader&) = delete;

    void Close();
    // The next line; the empty text also at the end (test EndOfLines first).
    QString ReadLine();
    bool EndOfLines();
    void GotoNextLine();
    void GotoToBegin();

    int LineIndex() const { return FLineIndex; }
    qint64 StreamPosition() const;
    qint64 StreamSize() const;
    void* Data() const { return FData; }
    void SetData(void* Value) { FData = Value; }
    TStreamReaderEx* StreamReader() const { return FStreamReader.get(); }
    // Asked while a streamed source keeps the reader waiting; true ends the
    // input there, so that a break never waits for a silent producer.
    void SetAbortCheck(std::function<bool()> ACheck);
    // The last line read was longer than the reader's cut and is cut short.
    bool LastLineCut() const;
    // Drops the rest of the line that was cut, so that none of it reads as a line.
    void SkipLineTail();
    bool GuessedUTF16() const;
    // Whether ReadLine and EndOfLines would return without waiting for input;
    // takes in what has arrived meanwhile. Called under the caller's lock;
    // false only for a streamed source that has no whole line yet.
    bool LineReady();
    // Waits up to AMSec (negative: until WakeInput) for a streamed source to
    // bring input. Needs no lock: a caller waits here instead of holding its
    // lock while a read waits.
    void WaitForInput(int AMSec) const;
    // Ends every wait for input, now and later (a Break); any thread.
    void WakeInput();

    // Process-wide filter applied to every line read while enabled: only the
    // characters of AllowedChars ("a-z0-9.\-", backslash escapes n, r, t) survive.
    static void SetRejectChars(const QString& AllowedChars);
    static void ResetRejectChars();
    static bool RejectCharsEnabled();
    static bool IsRejectedChar(QChar C);
    static void RemoveRejectedChars(QString& S);

private:
    void InitStream(QIODevice* Stream, int BufferSize);

    QIODevice* FStream = nullptr;
    bool FOwnsStream = false;
    TStringList* FLines = nullptr;
    std::unique_ptr<TStreamReaderEx> FStreamReader;
    TFdInputStream* FFdStream = nullptr;  // FStream when it is a descriptor stream
    int FLineIndex = 0;
    std::unique_ptr<TFixedUTF8Encoding> FEncoding;
    void* FData = nullptr;
};

// Writes text line by line to a string list, a byte stream or a file,
// through a 1024-byte buffer. Write errors raise EFileError with the file
// system's message; the unwritten bytes stay pending.
class TLineWriter {
public:
    static constexpr int BufferCapacity = 1024;

    // Stream mode over a caller-owned stream; unless Append it is emptied.
    TLineWriter(QIODevice* Stream, bool Append, TEncoding* Encoding = nullptr);
    // File mode. With a TempFileExt the lines go to Filename + TempFileExt,
    // which replaces Filename only at Close.
    TLineWriter(const QString& Filename, bool Append, const QString& TempFileExt = QString(),
                TEncoding* Encoding = nullptr);
    // List mode over a caller-owned list; unless Append it is cleared.
    TLineWriter(TStringList* Lines, bool Append, TEncoding* Encoding = nullptr);
    // Closes; an error there is only logged, so call Close to see it.
    ~TLineWriter();

    TLineWriter(const TLineWriter&) = delete;
    TLineWriter& operator=(const TLineWriter&) = delete;

    void WriteLine(const QString& S);
    void WriteLines(const TStringList& Lines);
    void Flush();
    void Clear();
    void Close();

    int LineIndex() const { return FLineIndex; }
    bool AutoFlush() const { return FAutoFlush; }
    void SetAutoFlush(bool Value) { FAutoFlush = Value; }
    QString LineBreak() const { return FLineBreak; }
    void SetLineBreak(const QString& Value);
    bool WriteBOM() const { return FWriteBOM; }
    void SetWriteBOM(bool Value) { FWriteBOM = Value; }
    QDateTime LastWriteTime() const { return QDateTime::fromMSecsSinceEpoch(FLastWriteTime); }
    void* Data() const { return FData; }
    void SetData(void* Value) { FData = Value; }
    QString FileName() const { return FFileName; }
    QString TempFileName() const { return FTempFileName; }
    TEncoding* Encoding() const { return FEncoding; }
    int PendingBytes() const { return FBufferIndex; }

private:
    void InitWriter(TEncoding* Encoding);
    void WriteBytes(const char* Bytes, qsizetype Count);
    void WriteToStream(const char* Bytes, qsizetype Count);
    void TruncateStream();
    [[noreturn]] void RaiseStreamError(const QString& What) const;

    QIODevice* FStream = nullptr;
    bool FOwnsStream = false;
    TStringList* FLines = nullptr;
    TEncoding* FEncoding = nullptr;
    bool FOwnsEncoding = false;
    int FLineIndex = 0;
    bool FAutoFlush = false;
    char FBuffer[BufferCapacity];
    int FBufferIndex = 0;
    QString FLineBreak;
    QByteArray FLineBreakBytes;  // FLineBreak encoded once
    bool FWriteBOM = false;
    qint64 FLastWriteTime = 0;   // ms since the epoch
    QString FFileName;
    QString FTempFileName;
    void* FData = nullptr;
};
