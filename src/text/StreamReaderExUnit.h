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

// Turns a byte stream into characters and lines. Reads the stream in blocks,
// completes a multi-byte character cut by a block end, cuts over-long lines
// and hands out runs of NUL characters as lines of their own.
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
    int FindLineEnd(int& NextStart);
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
    // Raw block, reused between reads.
    QByteArray FBytes;
    // Start of a character that could not be completed within the read-ahead
    // limit; it leads the next block instead of decoding as two halves.
    QByteArray FCarryBytes;
};
