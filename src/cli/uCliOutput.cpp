#include "cli/uCliOutput.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <fcntl.h>
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

bool TCliOutput::Writing() {
    return GWriting;
}

void TCliOutput::ExitAfterWholeLine(int ACode) {
    GExitCode = ACode;
    if (!GWriting)
        ::_exit(ACode);
}

TCliOutput::~TCliOutput() {
    if (FOwnsFd && FFd >= 0)
        ::close(FFd);
    RemoveTemp();
}

void TCliOutput::SetStdoutClosed(bool AValue) {
    GStdoutClosed = AValue;
}

void TCliOutput::RemoveTemp() {
    if (!FTempName.isEmpty())
        ::unlink(FTempName.constData());
    FTempName.clear();
}

namespace {

// The bytes of two files are the same; false when either cannot be read.
bool SameContent(const QByteArray& A, const QByteArray& B) {
    QFile FA(QFile::decodeName(A)), FB(QFile::decodeName(B));
    if (!FA.open(QIODevice::ReadOnly) || !FB.open(QIODevice::ReadOnly) || FA.size() != FB.size())
        return false;
    while (!FA.atEnd()) {
        if (FA.read(1 << 16) != FB.read(1 << 16))
            return false;
    }
    return true;
}

} // namespace

void TCliOutput::OpenStdout() {
    FFd = STDOUT_FILENO;
    FOwnsFd = false;
    FName = QStringLiteral("standard output");
}

bool TCliOutput::OpenFile(const QString& AFileName, QString& AError) {
    FName = AFileName;
    FChanged = false;
    const auto Fail = [&](int AErrno) {
        AError = QStringLiteral("cannot create %1: %2").arg(AFileName, QString::fromLocal8Bit(std::strerror(AErrno)));
        return false;
    };
    // A link is followed: the file it points to is the one replaced.
    const QFileInfo Info(AFileName);
    const QString Target = Info.isSymLink() ? Info.symLinkTarget() : AFileName;
    const QByteArray TargetName = QFile::encodeName(Target);
    struct stat St;
    const bool Exists = ::stat(TargetName.constData(), &St) == 0;
    if (Exists && S_ISDIR(St.st_mode))
        return Fail(EISDIR);
    if (Exists && !S_ISREG(St.st_mode)) {
        // A device or a pipe (/dev/null, a FIFO a loader reads) is written
        // as it is: renaming over it would replace the device itself.
        const int Fd = ::open(TargetName.constData(), O_WRONLY | O_CLOEXEC);
        if (Fd < 0)
            return Fail(errno);
        FFd = Fd;
        FOwnsFd = true;
        return WriteHeaderFooter(FHeader, AError);
    }
    const QFileInfo TargetInfo(Target);
    QByteArray Temp = QFile::encodeName(TargetInfo.path() + QStringLiteral("/.") + TargetInfo.fileName() +
                                        QStringLiteral(".XXXXXX"));
    const int Fd = ::mkostemp(Temp.data(), O_CLOEXEC);
    if (Fd < 0 && Exists && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        // A file the user may write in a folder they may not: written in
        // place, as before whole files, rather than not at all.
        const int Direct = ::open(TargetName.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (Direct < 0)
            return Fail(errno);
        FFd = Direct;
        FOwnsFd = true;
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

bool TCliOutput::WriteHeaderFooter(const QStringList& ALines, QString& AError) {
    return ALines.isEmpty() || WriteLines(ALines, AError);
}

QString TCliOutput::FailText(int AError) const {
    return QStringLiteral("cannot write to %1: %2").arg(FName, QString::fromLocal8Bit(std::strerror(AError)));
}

bool TCliOutput::WriteAll(const QByteArray& ABytes, QString& AError) {
    if (GStdoutClosed && FFd == STDOUT_FILENO) {
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

bool TCliOutput::WriteLines(const QStringList& ALines, QString& AError) {
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

bool TCliOutput::Close(QString& AError, bool ACommit) {
    const bool Ok = Finish(AError, ACommit);
    if (!Ok || !ACommit) {
        RemoveTemp();
        return Ok;
    }
    return Replace(AError);
}

bool TCliOutput::Finish(QString& AError, bool ACommit) {
    // The footer completes a rule set: a broken run's output stays without
    // it, so that a loader refuses it rather than load half of it.
    bool Ok = true;
    if (ACommit && FFd >= 0 && !FFailed && !WriteHeaderFooter(FFooter, AError))
        ACommit = Ok = false;
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

bool TCliOutput::Replace(QString& AError) {
    if (FTempName.isEmpty() || FFailed) {
        RemoveTemp();
        return true;
    }
    const QByteArray Target = QFile::encodeName(FTarget);
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
