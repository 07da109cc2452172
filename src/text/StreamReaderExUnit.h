#pragma once

#include "containers/uStringList.h"  // EFileError
#include "text/uEncoding.h"

#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QString>
#include <memory>

// The abstract text reader: characters and lines out of some source.
class TTextReader : public TObject {
public:
    virtual void Close() = 0;
    virtual int Peek() = 0;
    virtual int Read() = 0;
    virtual int Read(QList<QChar>& Buffer, int Index, int Count) = 0;
    virtual int ReadBlock(QList<QChar>& Buffer, int Index, int Count) = 0;
    virtual QString ReadLine() = 0;
    virtual QString ReadToEnd() = 0;
};

// A growable UTF-16 buffer whose characters the line scan reads directly.
class TStringBuilderEx {
public:
    void Append(const QString& S) { FData.append(S); }
    void Remove(int StartIndex, int Count) { FData.remove(StartIndex, Count); }
    QString ToString(int StartIndex, int Count) const { return FData.mid(StartIndex, Count); }
    void Clear() { FData.clear(); }
    int Length() const { return int(FData.size()); }
    const QChar* Data() const { return FData.constData(); }

private:
    QString FData;
};

// A read of the stream failed; Reason is the system's text for it.
class EStreamReadError : public EFileError {
public:
    explicit EStreamReadError(const QString& AReason)
        : EFileError(QStringLiteral("Stream read error. %1").arg(AReason), "EStreamReadError"), FReason(AReason) {}
    const QString& Reason() const { return FReason; }

private:
    QString FReason;
};

// Turns a byte stream into characters and lines. Reads the stream in blocks,
// completes a multi-byte character cut by a block end, cuts over-long lines
// and hands out runs of NUL characters as lines of their own.
//
// A sequential stream (a pipe, a FIFO, a terminal) is streamed: every read
// takes what has arrived, and a line is handed out as soon as its line break
// is in, whatever the sizes of the reads. A short read there is no end of
// input; only a read of nothing is.
class TStreamReaderEx : public TTextReader {
public:
    TStreamReaderEx(QIODevice* Stream, TEncoding* Encoding, bool DetectBOM = false, int BufferSize = 1024);
    explicit TStreamReaderEx(QIODevice* Stream);
    TStreamReaderEx(QIODevice* Stream, bool DetectBOM);
    TStreamReaderEx(const QString& Filename, TEncoding* Encoding, bool DetectBOM = false, int BufferSize = 1024);
    explicit TStreamReaderEx(const QString& Filename);
    TStreamReaderEx(const QString& Filename, bool DetectBOM);
    ~TStreamReaderEx() override;

    TStreamReaderEx(const TStreamReaderEx&) = delete;
    TStreamReaderEx& operator=(const TStreamReaderEx&) = delete;

    void Close() override;
    int Peek() override;
    int Read() override;
    int Read(QList<QChar>& Buffer, int Index, int Count) override;
    int ReadBlock(QList<QChar>& Buffer, int Index, int Count) override;
    QString ReadLine() override;
    QString ReadToEnd() override;

    // Skips the next line the way ReadLine would, without building it.
    void GotoNextLine();
    // Drops buffered text; the next read starts at the stream's current position.
    void DiscardBufferedData();
    void OwnStream() { FOwnsStream = true; }

    bool EndOfStream();
    TEncoding* CurrentEncoding() const { return FEncoding; }
    QIODevice* BaseStream() const { return FStream; }
    int TruncLineLength() const { return FTruncLineLength; }
    void SetTruncLineLength(int Value) { FTruncLineLength = Value; }
    bool SkipLineNullChars() const { return FSkipLineNullChars; }
    // The last line ReadLine gave was cut at TruncLineLength; its rest is
    // still to come unless SkipLineTail drops it.
    bool LastLineCut() const { return FLastLineCut; }
    // Drops what is left of a line that was cut, up to and with its line break.
    void SkipLineTail();
    // The input had no byte-order mark and was taken as UTF-16 by the pattern
    // of its first bytes.
    bool GuessedUTF16() const { return FGuessedUTF16; }
    bool Streaming() const { return FStreaming; }
    // Streaming: a whole line, or the end, is buffered, so that ReadLine and
    // EndOfStream return without reading. Always true when not streaming.
    bool LineBuffered() const;
    // Streaming: takes one read's worth into the buffer; for a caller that
    // knows the stream has data (a read would otherwise wait for it).
    void FetchArrived() { FillBuffer(true); }
    void SetSkipLineNullChars(bool Value) { FSkipLineNullChars = Value; }

private:
    void Init(QIODevice* Stream, TEncoding* Encoding, bool DetectBOM, int BufferSize);
    static QIODevice* OpenFile(const QString& Filename);
    // Reads and decodes one block; returns how many handed-out characters
    // were removed from the front of the buffer (Compact).
    int FillBuffer(bool Compact);
    qsizetype DetectEncoding(const char* Bytes, qsizetype Count);
    qsizetype SkipEncodingPreamble(const char* Bytes, qsizetype Count);
    // End of the next line (-1 without a buffer); NextStart gets the start of the line after it.
    int FindLineEnd(int& NextStart, bool* ACut = nullptr);
    // Streaming: the first bytes do not tell their encoding yet.
    static bool HeadUndecided(const char* Bytes, qsizetype Count);
    // Streaming: a line ended with CR at the end of the data so far; an LF
    // that arrives next belongs to that break.
    void ConsumePendingLF();
    int AvailableChars() const { return FBufferedData->Length() - FBufferedStartIndex; }

    std::unique_ptr<TStringBuilderEx> FBufferedData;
    int FBufferedStartIndex = 0;
    int FBufferSize = 1024;
    bool FDetectBOM = false;
    TEncoding* FEncoding = nullptr;
    bool FNoDataInStream = false;
    bool FOwnsStream = false;
    bool FSkipPreamble = true;
    QIODevice* FStream = nullptr;
    int FTruncLineLength = 65535;
    bool FSkipLineNullChars = true;
    bool FStreaming = false;
    bool FPendingLF = false;
    bool FLastLineCut = false;
    bool FGuessedUTF16 = false;
    // Raw block, reused between reads.
    QByteArray FBytes;
    // Start of a character that could not be completed within the read-ahead
    // limit; it leads the next block instead of decoding as two halves.
    QByteArray FCarryBytes;
};
