#include "resolve/uOutputFile.h"
#include "text/uEncoding.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <atomic>
#include <utility>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One write: PIPE_BUF, what a pipe takes in one piece.
const qsizetype kPieceSize = 4096;

// Lock-free atomics are safe to touch from a signal handler.
std::atomic<bool> GWriting{false};
std::atomic<int> GExitCode{0};
bool GStdoutClosed = false;

class TWritingMark {
public:
    TWritingMark() { GWriting = true; }
    ~TWritingMark() { GWriting = false; }
};

} // namespace

bool TOutputFile::Writing() {
    return GWriting;
}

void TOutputFile::ExitAfterWholeLine(int ACode) {
    GExitCode = ACode;
    if (!GWriting)
        ::_exit(ACode);
}

TOutputFile::~TOutputFile() {
    if (FOwnsFd && FFd >= 0)
        ::close(FFd);
    RemoveTemp();
}

void TOutputFile::SetStdoutClosed(bool AValue) {
    GStdoutClosed = AValue;
}

void TOutputFile::RemoveTemp() {
    if (FHeld && FFd >= 0) {
        ::close(FFd);
        FFd = -1;
        FOwnsFd = false;
    }
    FHeld = false;
    if (!FTempName.isEmpty())
        ::unlink(FTempName.constData());
    FTempName.clear();
}

namespace {

// The bytes of two files are the same; false when either cannot be read.
bool SameContent(const QByteArray& A, const QByteArray& B) {
    // By descriptor: a name need not be UTF-8.
    const int DA = ::open(A.constData(), O_RDONLY | O_CLOEXEC), DB = ::open(B.constData(), O_RDONLY | O_CLOEXEC);
    QFile FA, FB;
    const bool Opened = DA >= 0 && DB >= 0 && FA.open(DA, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle) &&
                        FB.open(DB, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    if (!Opened) {
        if (!FA.isOpen() && DA >= 0)
            ::close(DA);
        if (!FB.isOpen() && DB >= 0)
            ::close(DB);
        return false;
    }
    if (FA.size() != FB.size())
        return false;
    while (!FA.atEnd()) {
        if (FA.read(1 << 16) != FB.read(1 << 16))
            return false;
    }
    return true;
}

} // namespace

void TOutputFile::OpenStdout() {
    FFd = STDOUT_FILENO;
    FOwnsFd = false;
    FName = QStringLiteral("standard output");
}

namespace {

// /dev/stdout, /dev/stderr, /dev/fd/N and /proc/self/fd/N: the descriptor
// itself, or -1. Opening such a name again would truncate a file the shell
// opened for appending, or look for a folder to put a temporary file in.
int DescriptorOfName(const QString& AName) {
    if (AName == QLatin1String("/dev/stdout"))
        return STDOUT_FILENO;
    if (AName == QLatin1String("/dev/stderr"))
        return STDERR_FILENO;
    static const QRegularExpression Re(QStringLiteral("^(?:/dev/fd|/proc/self/fd)/([0-9]{1,9})$"));
    const QRegularExpressionMatch M = Re.match(AName);
    return M.hasMatch() ? M.captured(1).toInt() : -1;
}

bool ClearNonBlocking(int AFd) {
    const int Flags = ::fcntl(AFd, F_GETFL);
    return Flags >= 0 && ::fcntl(AFd, F_SETFL, Flags & ~O_NONBLOCK) == 0;
}

} // namespace

bool TOutputFile::OpenWaiting(const QByteArray& AName, const std::function<bool()>& AAbort, QString& AError) {
    // Non-blocking, so that a FIFO without a reader (ENXIO) or a device slow
    // to open never holds off a break; the descriptor blocks again for writing.
    for (;;) {
        const int Fd = ::open(AName.constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (AAbort ? O_NONBLOCK : 0));
        if (Fd >= 0) {
            ClearNonBlocking(Fd);
            FFd = Fd;
            FOwnsFd = true;
            return WriteHeaderFooter(FHeader, AError);
        }
        if (errno == EINTR)
            continue;
        if (errno != ENXIO || !AAbort) {
            AError = QStringLiteral("cannot open %1: %2").arg(FName, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        if (AAbort()) {
            FInterrupted = true;
            return false;
        }
        ::poll(nullptr, 0, 50);
    }
}

bool TOutputFile::OpenFile(const QString& AFileName, QString& AError, const std::function<bool()>& AAbort) {
    FName = AFileName;
    FChanged = false;
    FInterrupted = false;
    const auto Fail = [&](int AErrno) {
        AError = QStringLiteral("cannot create %1: %2").arg(AFileName, QString::fromLocal8Bit(std::strerror(AErrno)));
        return false;
    };
    if (const int D = DescriptorOfName(AFileName); D >= 0) {
        const int Fd = ::fcntl(D, F_DUPFD_CLOEXEC, 3);
        if (Fd < 0) {
            AError = QStringLiteral("cannot open %1: %2").arg(AFileName, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        FFd = Fd;
        FOwnsFd = true;
        FDescriptor = D;
        return WriteHeaderFooter(FHeader, AError);
    }
    // A link is followed: the file it points to is the one replaced.
    const QFileInfo Info(AFileName);
    const QString Target = Info.isSymLink() ? Info.symLinkTarget() : AFileName;
    const QByteArray TargetName = EncodeFileName(Target);
    struct stat St;
    const bool Exists = ::stat(TargetName.constData(), &St) == 0;
    if (Exists && S_ISDIR(St.st_mode))
        return Fail(EISDIR);
    if (Exists && !S_ISREG(St.st_mode)) {
        // A device or a pipe (/dev/null, a FIFO a loader reads) is written
        // as it is: renaming over it would replace the device itself.
        return OpenWaiting(TargetName, AAbort, AError);
    }
    const QFileInfo TargetInfo(Target);
    QByteArray Temp = EncodeFileName(TargetInfo.path() + QStringLiteral("/.") + TargetInfo.fileName() +
                                        QStringLiteral(".XXXXXX"));
    const int Fd = ::mkostemp(Temp.data(), O_CLOEXEC);
    if (Fd < 0 && Exists && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        // A file the user may write in a folder they may not: the lines are
        // held in an unnamed file elsewhere and copied in once the run
        // completed, so that a broken run leaves the file as it was.
        if (::access(TargetName.constData(), W_OK) != 0)
            return Fail(errno);
        const QByteArray TmpDir = EncodeFileName(QDir::tempPath());
        int Held = ::open(TmpDir.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (Held < 0) {
            QByteArray Name = TmpDir + "/veltrask-XXXXXX";
            Held = ::mkostemp(Name.data(), O_CLOEXEC);
            if (Held >= 0)
                ::unlink(Name.constData());
        }
        if (Held < 0)
            return Fail(errno);
        FFd = Held;
        FOwnsFd = true;
        FHeld = true;
        FTarget = Target;
        return WriteHeaderFooter(FHeader, AError);
    }
    if (Fd < 0)
        return Fail(errno);
    // The new file keeps the old one's permissions; a new one gets those a
    // plain create would have given it.
    mode_t Mode = St.st_mode & 07777;
    if (!Exists) {
        const mode_t Mask = ::umask(0);
        ::umask(Mask);
        Mode = 0666 & ~Mask;
    }
    ::fchmod(Fd, Mode);
    FFd = Fd;
    FOwnsFd = true;
    FTarget = Target;
    FTempName = Temp;
    return WriteHeaderFooter(FHeader, AError);
}

bool TOutputFile::WriteHeaderFooter(const QStringList& ALines, QString& AError) {
    return ALines.isEmpty() || WriteLines(ALines, AError);
}

QString TOutputFile::FailText(int AError) const {
    return QStringLiteral("cannot write %1: %2").arg(FName, QString::fromLocal8Bit(std::strerror(AError)));
}

bool TOutputFile::WriteAll(const QByteArray& ABytes, QString& AError) {
    if (GStdoutClosed && (FFd == STDOUT_FILENO || FDescriptor == STDOUT_FILENO)) {
        // The lines would vanish into /dev/null while the summary counted them.
        FFailed = true;
        AError = QStringLiteral("cannot write standard output: %1").arg(QString::fromLocal8Bit(std::strerror(EBADF)));
        return false;
    }
    const TWritingMark Mark;
    const char* P = ABytes.constData();
    const char* const End = P + ABytes.size();
    while (P < End) {
        // Small pieces that end on a line break: a write to a pipe that has no
        // room yet is taken up again after a signal, so an exit asked for
        // meanwhile is carried out after at most one more piece, on a whole line.
        const char* Stop = End;
        if (End - P > kPieceSize) {
            const void* Last = ::memrchr(P, '\n', kPieceSize);
            const void* Next = Last ? nullptr : std::memchr(P + kPieceSize, '\n', size_t(End - P - kPieceSize));
            Stop = Last ? static_cast<const char*>(Last) + 1 : Next ? static_cast<const char*>(Next) + 1 : End;
        }
        while (P < Stop) {
            const ssize_t N = ::write(FFd, P, size_t(Stop - P));
            if (N < 0 && errno == EINTR)
                continue;
            if (N <= 0) {
                FFailed = true;
                AError = FailText(N < 0 ? errno : EIO);
                return false;
            }
            P += N;
        }
        if (const int Code = GExitCode; Code != 0)
            ::_exit(Code);
    }
    return true;
}

bool TOutputFile::WriteLines(const QStringList& ALines, QString& AError) {
    if (FFailed || FFd < 0)
        return false;
    if (ALines.isEmpty())
        return true;
    QByteArray Bytes;
    if (FWriteBOM && !FWroteAny)
        Bytes += "\xEF\xBB\xBF";
    for (const QString& S : ALines) {
        Bytes += S.toUtf8();
        Bytes += FLineBreak;
    }
    FWroteAny = true;
    return WriteAll(Bytes, AError);
}

bool TOutputFile::AppendLine(const QString& ALine, QString& AError) {
    if (FFailed || FFd < 0)
        return false;
    if (FWriteBOM && !FWroteAny)
        FBuffer += "\xEF\xBB\xBF";
    FWroteAny = true;
    FBuffer += ALine.toUtf8();
    FBuffer += FLineBreak;
    return FBuffer.size() < kPieceSize || FlushBuffer(AError);
}

bool TOutputFile::FlushBuffer(QString& AError) {
    if (FBuffer.isEmpty())
        return !FFailed;
    const QByteArray Bytes = std::exchange(FBuffer, QByteArray());
    return !FFailed && WriteAll(Bytes, AError);
}

bool TOutputFile::Close(QString& AError, bool ACommit) {
    const bool Ok = Finish(AError, ACommit);
    if (!Ok || !ACommit) {
        RemoveTemp();
        return Ok;
    }
    return Replace(AError);
}

bool TOutputFile::Finish(QString& AError, bool ACommit) {
    // The footer completes a rule set: a broken run's output stays without
    // it, so that a loader refuses it rather than load half of it.
    bool Ok = true;
    if (FFd >= 0 && !FFailed && !FlushBuffer(AError))
        ACommit = Ok = false;
    if (ACommit && FFd >= 0 && !FFailed && !WriteHeaderFooter(FFooter, AError))
        ACommit = Ok = false;
    if (FHeld) {
        // The held file stays open until Replace copies it in.
        if (!ACommit || FFailed)
            RemoveTemp();
        return Ok;
    }
    if (!FOwnsFd || FFd < 0)
        return Ok;
    const int Fd = FFd;
    FFd = -1;
    FOwnsFd = false;
    // The data must be on the disk before the name points to it.
    if (ACommit && !FFailed && !FTempName.isEmpty() && ::fsync(Fd) != 0) {
        FFailed = true;
        AError = FailText(errno);
        Ok = false;
    }
    // Some file systems report a failed write only here.
    if (::close(Fd) != 0 && errno != EINTR && !FFailed) {
        FFailed = true;
        AError = FailText(errno);
        Ok = false;
    }
    if (!ACommit || FFailed)
        RemoveTemp();
    return Ok;
}

bool TOutputFile::ReplaceHeld(QString& AError) {
    QByteArray Data;
    char Piece[1 << 16];
    ssize_t N;
    ::lseek(FFd, 0, SEEK_SET);
    while ((N = ::read(FFd, Piece, sizeof Piece)) > 0 || (N < 0 && errno == EINTR))
        if (N > 0)
            Data.append(Piece, N);
    const int ReadErrno = N < 0 ? errno : 0;
    RemoveTemp();
    const auto Fail = [&](int AErrno) {
        FFailed = true;
        AError = FailText(AErrno);
        return false;
    };
    if (ReadErrno != 0)
        return Fail(ReadErrno);
    QFile Old(FTarget);
    if (Old.open(QIODevice::ReadOnly) && Old.readAll() == Data)
        return true;
    const int Fd = ::open(EncodeFileName(FTarget).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (Fd < 0)
        return Fail(errno);
    FFd = Fd;
    FOwnsFd = true;
    FChanged = true;
    QString Error;
    const bool Ok = WriteAll(Data, Error);
    FFd = -1;
    FOwnsFd = false;
    if ((::close(Fd) != 0 && Ok) || !Ok)
        return Ok ? Fail(errno) : (AError = Error, false);
    return true;
}

bool TOutputFile::Replace(QString& AError) {
    if (FHeld && !FFailed)
        return ReplaceHeld(AError);
    if (FTempName.isEmpty() || FFailed) {
        RemoveTemp();
        return true;
    }
    const QByteArray Target = EncodeFileName(FTarget);
    if (SameContent(FTempName, Target)) {
        RemoveTemp();
        return true;
    }
    if (::rename(FTempName.constData(), Target.constData()) != 0) {
        FFailed = true;
        AError = QStringLiteral("cannot replace %1: %2").arg(FName, QString::fromLocal8Bit(std::strerror(errno)));
        RemoveTemp();
        return false;
    }
    FTempName.clear();
    FChanged = true;
    return true;
}
