#include "text/uLineReaderWriter.h"

#include "text/uFdInputStream.h"

#include <QBuffer>
#include <QFile>
#include <QFileDevice>
#include <QtGlobal>
#include <bitset>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// One flag per UTF-16 code unit; shared by every reader of the process and
// changed only while no reader is in use.
bool GRejectCharsEnabled = false;
std::bitset<65536> GRejectCharTable;

QString FileErrorText(const QString& What, const QString& FileName, const QString& Reason) {
    return QStringLiteral("%1 \"%2\". %3").arg(What, FileName, Reason);
}

}  // namespace

// ---------------------------------------------------------------------------
// TLineReader

TLineReader::TLineReader(QIODevice* Stream, int BufferSize) : FEncoding(std::make_unique<TFixedUTF8Encoding>()) {
    InitStream(Stream, BufferSize);
}

TLineReader::TLineReader(const QString& Filename, int BufferSize)
    : FEncoding(std::make_unique<TFixedUTF8Encoding>()) {
    // Opened without blocking first: a FIFO would otherwise wait for its
    // writer here, beyond the reach of a break. A regular file then goes on
    // through QFile, which knows its size and position.
    std::unique_ptr<TFdInputStream> Fd(TFdInputStream::OpenFile(Filename));
    if (!TFdInputStream::IsRegularFile(Fd->Descriptor())) {
        InitStream(Fd.get(), BufferSize);
        FFdStream = Fd.get();
        FStream = Fd.release();
        FOwnsStream = true;
        return;
    }
    // Through the descriptor already open: the name may be bytes QFile would
    // not find again.
    const int Dup = ::fcntl(Fd->Descriptor(), F_DUPFD_CLOEXEC, 0);
    Fd.reset();
    auto File = std::make_unique<QFile>();
    if (Dup < 0 || !File->open(Dup, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        const QString Reason = Dup < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : File->errorString();
        if (Dup >= 0)
            ::close(Dup);
        throw EFileError(FileErrorText(QStringLiteral("Cannot open file"), Filename, Reason));
    }
    InitStream(File.get(), BufferSize);
    FStream = File.release();
    FOwnsStream = true;
}

TLineReader::TLineReader(int Fd, int BufferSize) : FEncoding(std::make_unique<TFixedUTF8Encoding>()) {
    std::unique_ptr<QIODevice> Stream;
    if (TFdInputStream::IsRegularFile(Fd)) {
        auto File = std::make_unique<QFile>();
        if (!File->open(Fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
            throw EFileError(QStringLiteral("Cannot read descriptor %1. %2").arg(Fd).arg(File->errorString()));
        Stream = std::move(File);
    } else {
        auto FdStream = std::make_unique<TFdInputStream>(Fd, false);
        FFdStream = FdStream.get();
        Stream = std::move(FdStream);
    }
    InitStream(Stream.get(), BufferSize);
    FStream = Stream.release();
    FOwnsStream = true;
}

TLineReader::TLineReader(TStringList* Lines) : FLines(Lines), FEncoding(std::make_unique<TFixedUTF8Encoding>()) {}

TLineReader::~TLineReader() {
    Close();
}

void TLineReader::InitStream(QIODevice* Stream, int BufferSize) {
    // The byte-order mark decides: lists saved as UTF-16 by other programs
    // read as text, not as one broken character per line. Without a mark
    // the bytes are UTF-8.
    FStreamReader = std::make_unique<TStreamReaderEx>(Stream, FEncoding.get(), true, BufferSize);
    FStream = Stream;
    FLineIndex = 0;
}

void TLineReader::SetAbortCheck(std::function<bool()> ACheck) {
    if (FFdStream != nullptr)
        FFdStream->SetAbortCheck(std::move(ACheck));
}

bool TLineReader::LineReady() {
    if (FFdStream == nullptr || !FStreamReader)
        return true;
    for (;;) {
        if (FStreamReader->LineBuffered())
            return true;
        if (!FFdStream->WaitReadable(0))
            return false;
        FStreamReader->FetchArrived();
    }
}

void TLineReader::WakeInput() {
    if (FFdStream != nullptr)
        FFdStream->Wake();
}

void TLineReader::WaitForInput(int AMSec) const {
    if (FFdStream != nullptr)
        FFdStream->WaitReadable(AMSec);
}

bool TLineReader::LastLineCut() const {
    return FStreamReader && FStreamReader->LastLineCut();
}

void TLineReader::SkipLineTail() {
    if (FStreamReader)
        FStreamReader->SkipLineTail();
}

bool TLineReader::GuessedUTF16() const {
    return FStreamReader && FStreamReader->GuessedUTF16();
}

void TLineReader::Close() {
    FLines = nullptr;
    FStreamReader.reset();
    if (FOwnsStream && FStream != nullptr) {
        FStream->close();
        delete FStream;
    }
    FStream = nullptr;
    FFdStream = nullptr;
    FOwnsStream = false;
}

QString TLineReader::ReadLine() {
    QString Line;
    if (FStreamReader) {
        if (FStreamReader->EndOfStream())
            return QString();
        Line = FStreamReader->ReadLine();
    } else if (FLines != nullptr) {
        if (FLineIndex >= FLines->Count())
            return QString();
        Line = FLines->Get(FLineIndex);
    } else {
        return QString();
    }
    if (GRejectCharsEnabled)
        RemoveRejectedChars(Line);
    ++FLineIndex;
    return Line;
}

bool TLineReader::EndOfLines() {
    if (FStreamReader)
        return FStreamReader->EndOfStream();
    if (FLines != nullptr)
        return FLineIndex >= FLines->Count();
    return true;
}

void TLineReader::GotoNextLine() {
    if (FStreamReader) {
        if (!FStreamReader->EndOfStream()) {
            FStreamReader->GotoNextLine();
            ++FLineIndex;
        }
    } else if (FLines != nullptr) {
        if (FLineIndex < FLines->Count())
            ++FLineIndex;
    }
}

void TLineReader::GotoToBegin() {
    if (FStream != nullptr) {
        // A stream that cannot go back would silently yield the wrong lines.
        if (!FStream->seek(0))
            throw EStreamError(QStringLiteral("Cannot rewind the stream. %1").arg(FStream->errorString()));
    } else if (FLines != nullptr) {
        FLineIndex = 0;
    }
    if (FStreamReader)
        FStreamReader->DiscardBufferedData();
}

qint64 TLineReader::StreamPosition() const {
    return FStream != nullptr ? FStream->pos() : 0;
}

qint64 TLineReader::StreamSize() const {
    return FStream != nullptr ? FStream->size() : 0;
}

void TLineReader::SetRejectChars(const QString& AllowedChars) {
    GRejectCharsEnabled = true;
    GRejectCharTable.reset();
    if (AllowedChars.isEmpty())
        return;

    std::bitset<65536> Allowed;
    const qsizetype Len = AllowedChars.size();
    qsizetype I = 0;
    // One character with its backslash escape; false when a final backslash ends the text.
    const auto TakeChar = [&](char16_t& C) {
        char16_t Ch = AllowedChars[I++].unicode();
        if (Ch == u'\\') {
            if (I >= Len)
                return false;
            Ch = AllowedChars[I++].unicode();
            if (Ch == u'n')
                Ch = u'\n';
            else if (Ch == u'r')
                Ch = u'\r';
            else if (Ch == u't')
                Ch = u'\t';
        }
        C = Ch;
        return true;
    };
    while (I < Len) {
        char16_t Low = 0;
        if (!TakeChar(Low))
            break;
        char16_t High = Low;
        if (Len - I >= 2 && AllowedChars[I] == QLatin1Char('-')) {
            ++I;
            if (!TakeChar(High))
                break;
        }
        for (unsigned C = Low; C <= High; ++C)
            Allowed.set(C);
    }
    GRejectCharTable = ~Allowed;
}

void TLineReader::ResetRejectChars() {
    GRejectCharsEnabled = false;
}

bool TLineReader::RejectCharsEnabled() {
    return GRejectCharsEnabled;
}

bool TLineReader::IsRejectedChar(QChar C) {
    return GRejectCharTable[C.unicode()];
}

void TLineReader::RemoveRejectedChars(QString& S) {
    const qsizetype Len = S.size();
    qsizetype First = 0;
    const QChar* Src = S.constData();
    while (First < Len && !GRejectCharTable[Src[First].unicode()])
        ++First;
    if (First == Len)
        return;  // nothing to remove: keep the string unshared
    QChar* D = S.data();
    qsizetype Out = First;
    for (qsizetype I = First + 1; I < Len; ++I)
        if (!GRejectCharTable[D[I].unicode()])
            D[Out++] = D[I];
    S.truncate(Out);
}

// ---------------------------------------------------------------------------
// TLineWriter

TLineWriter::TLineWriter(QIODevice* Stream, bool Append, TEncoding* Encoding) {
    if (Stream == nullptr)
        throw EArgumentNilException(QStringLiteral("Parameter %1 cannot be nil").arg(QStringLiteral("Stream")));
    FStream = Stream;
    if (!Append && FStream->size() > 0)
        TruncateStream();
    InitWriter(Encoding);
}

TLineWriter::TLineWriter(const QString& Filename, bool Append, const QString& TempFileExt, TEncoding* Encoding) {
    FFileName = Filename;
    QString OpenName = Filename;
    if (!TempFileExt.isEmpty()) {
        FTempFileName = Filename + TempFileExt;
        QFile Temp(FTempFileName);
        if (Temp.exists() && !Temp.remove())
            throw EFileError(FileErrorText(QStringLiteral("Cannot delete file"), FTempFileName, Temp.errorString()));
        QFile Target(Filename);
        if (Append && Target.exists() && !Target.copy(FTempFileName))
            throw EFileError(FileErrorText(QStringLiteral("Cannot copy file"), Filename, Target.errorString()));
        OpenName = FTempFileName;
    }
    // Unbuffered: the 1024-byte buffer here is the only one, so a write
    // error surfaces at the Flush that caused it.
    auto File = std::make_unique<QFile>(OpenName);
    if (Append && File->exists()) {
        if (!File->open(QIODevice::ReadWrite | QIODevice::Unbuffered))
            throw EFileError(FileErrorText(QStringLiteral("Cannot open file"), OpenName, File->errorString()));
        if (!File->isSequential() && !File->seek(File->size()))
            throw EFileError(FileErrorText(QStringLiteral("Cannot seek in file"), OpenName, File->errorString()));
    } else {
        if (!File->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            throw EFileError(FileErrorText(QStringLiteral("Cannot create file"), OpenName, File->errorString()));
    }
    FStream = File.release();
    FOwnsStream = true;
    InitWriter(Encoding);
}

TLineWriter::TLineWriter(TStringList* Lines, bool Append, TEncoding* Encoding) {
    if (Lines == nullptr)
        throw EArgumentNilException(QStringLiteral("Parameter %1 cannot be nil").arg(QStringLiteral("Lines")));
    FLines = Lines;
    if (!Append && FLines->Count() > 0)
        FLines->Clear();
    InitWriter(Encoding);
}

TLineWriter::~TLineWriter() {
    try {
        Close();
    } catch (const std::exception& E) {
        // A destructor cannot report: callers that care call Close first.
        // Leave the previous target untouched and drop the unfinished copy.
        qWarning("TLineWriter: closing %s failed: %s", qUtf8Printable(FFileName), E.what());
        if (FOwnsStream && FStream != nullptr) {
            FStream->close();
            delete FStream;
            FStream = nullptr;
        }
        if (!FTempFileName.isEmpty())
            QFile::remove(FTempFileName);
    }
    if (FOwnsEncoding)
        delete FEncoding;
}

void TLineWriter::InitWriter(TEncoding* Encoding) {
    if (Encoding != nullptr) {
        FEncoding = Encoding;
        FOwnsEncoding = false;
    } else {
        FEncoding = new TFixedUTF8Encoding();
        FOwnsEncoding = true;
    }
    FLineIndex = 0;
    FAutoFlush = false;
    FBufferIndex = 0;
    SetLineBreak(QStringLiteral("\r\n"));
    FWriteBOM = false;
    FLastWriteTime = QDateTime::currentMSecsSinceEpoch();
    FData = nullptr;
}

void TLineWriter::SetLineBreak(const QString& Value) {
    FLineBreak = Value;
    FLineBreakBytes = FEncoding->GetBytes(Value);
}

void TLineWriter::WriteLine(const QString& S) {
    if (FStream != nullptr) {
        // Encode in place when the rest of the buffer surely holds the line.
        const qsizetype Direct =
            FEncoding->GetBytesInto(S.constData(), S.size(), FBuffer + FBufferIndex, BufferCapacity - FBufferIndex);
        if (Direct >= 0) {
            FBufferIndex += int(Direct);
            if (FBufferIndex == BufferCapacity)
                Flush();
        } else {
            const QByteArray Bytes = FEncoding->GetBytes(S);
            WriteBytes(Bytes.constData(), Bytes.size());
        }
        WriteBytes(FLineBreakBytes.constData(), FLineBreakBytes.size());
        if (FAutoFlush)
            Flush();
        ++FLineIndex;
    } else if (FLines != nullptr) {
        FLines->Add(S);
        ++FLineIndex;
    } else {
        // After Close there is no target; losing the line quietly is worse.
        throw EStreamError(QStringLiteral("Cannot write a line: the line writer is closed"));
    }
    FLastWriteTime = QDateTime::currentMSecsSinceEpoch();
}

void TLineWriter::WriteLines(const TStringList& Lines) {
    for (int I = 0; I < Lines.Count(); ++I)
        WriteLine(Lines.Get(I));
}

void TLineWriter::WriteBytes(const char* Bytes, qsizetype Count) {
    while (Count > 0) {
        const qsizetype Piece = std::min<qsizetype>(Count, BufferCapacity - FBufferIndex);
        std::memcpy(FBuffer + FBufferIndex, Bytes, size_t(Piece));
        FBufferIndex += int(Piece);
        Bytes += Piece;
        Count -= Piece;
        if (FBufferIndex == BufferCapacity)
            Flush();
    }
}

void TLineWriter::Flush() {
    if (FBufferIndex == 0 || FStream == nullptr)
        return;
    if (FWriteBOM && FStream->pos() == 0) {
        const QByteArray Preamble = FEncoding->GetPreamble();
        if (!Preamble.isEmpty())
            WriteToStream(Preamble.constData(), Preamble.size());
    }
    WriteToStream(FBuffer, FBufferIndex);
    FBufferIndex = 0;
}

void TLineWriter::WriteToStream(const char* Bytes, qsizetype Count) {
    while (Count > 0) {
        const qint64 Written = FStream->write(Bytes, Count);
        if (Written <= 0)
            RaiseStreamError(QStringLiteral("Cannot write to file"));
        Bytes += Written;
        Count -= Written;
    }
    // A caller's buffered file would otherwise report a full disk much later, or never.
    if (auto* File = qobject_cast<QFileDevice*>(FStream); File != nullptr && !File->flush())
        RaiseStreamError(QStringLiteral("Cannot write to file"));
}

void TLineWriter::RaiseStreamError(const QString& What) const {
    if (auto* File = qobject_cast<QFileDevice*>(FStream))
        throw EFileError(FileErrorText(What, File->fileName(), File->errorString()));
    throw EFileError(QStringLiteral("Stream write error. %1").arg(FStream->errorString()));
}

void TLineWriter::TruncateStream() {
    if (auto* File = qobject_cast<QFileDevice*>(FStream)) {
        if (!File->resize(0))
            throw EFileError(FileErrorText(QStringLiteral("Cannot truncate file"), File->fileName(),
                                           File->errorString()));
        File->seek(0);
    } else if (auto* Buffer = qobject_cast<QBuffer*>(FStream)) {
        Buffer->buffer().clear();
        Buffer->seek(0);
    } else {
        throw EStreamError(QStringLiteral("The stream cannot be truncated"));
    }
}

void TLineWriter::Clear() {
    if (FStream != nullptr)
        TruncateStream();
    else if (FLines != nullptr)
        FLines->Clear();
}

void TLineWriter::Close() {
    Flush();
    FLines = nullptr;
    if (!FOwnsStream || FStream == nullptr)
        return;
    FStream->close();
    delete FStream;
    FStream = nullptr;
    FOwnsStream = false;
    if (!FTempFileName.isEmpty() && !FFileName.isEmpty()) {
        // rename(2) replaces the target in one step, so there is never a
        // moment without either the old or the new file. A missing
        // temporary file moves nothing and leaves the target alone.
        if (QFile::exists(FTempFileName) &&
            std::rename(QFile::encodeName(FTempFileName).constData(), QFile::encodeName(FFileName).constData()) != 0) {
            const int Err = errno;
            throw EFileError(FileErrorText(QStringLiteral("Cannot rename file"), FTempFileName, qt_error_string(Err)));
        }
        FTempFileName.clear();
    }
}
