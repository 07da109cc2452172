#include "cli/uCliOutput.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
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
}

void TCliOutput::SetStdoutClosed(bool AValue) {
    GStdoutClosed = AValue;
}

void TCliOutput::OpenStdout() {
    FFd = STDOUT_FILENO;
    FOwnsFd = false;
    FName = QStringLiteral("standard output");
}

bool TCliOutput::OpenFile(const QString& AFileName, QString& AError) {
    FName = AFileName;
    const int Fd = ::open(QFile::encodeName(AFileName).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (Fd < 0) {
        AError = QStringLiteral("cannot create %1: %2").arg(AFileName, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    FFd = Fd;
    FOwnsFd = true;
    return true;
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

bool TCliOutput::Close(QString& AError) {
    if (!FOwnsFd || FFd < 0)
        return true;
    const int Fd = FFd;
    FFd = -1;
    FOwnsFd = false;
    // Some file systems report a failed write only here.
    if (::close(Fd) != 0 && errno != EINTR && !FFailed) {
        FFailed = true;
        AError = FailText(errno);
        return false;
    }
    return true;
}
