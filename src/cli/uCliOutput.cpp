#include "cli/uCliOutput.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Lock-free atomics are safe to touch from a signal handler.
std::atomic<bool> GWriting{false};
std::atomic<int> GExitCode{0};

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
    const TWritingMark Mark;
    const char* P = ABytes.constData();
    const char* const End = P + ABytes.size();
    const char* Stop = End;
    while (P < Stop) {
        const ssize_t N = ::write(FFd, P, size_t(Stop - P));
        if (N < 0 && errno == EINTR) {
            // fall through to the exit check below
        } else if (N < 0) {
            FFailed = true;
            AError = FailText(errno);
            return false;
        } else if (N == 0) {
            FFailed = true;
            AError = FailText(EIO);
            return false;
        } else {
            P += N;
        }
        // An exit was asked for while writing: finish the line under way, then go.
        if (const int Code = GExitCode; Code != 0) {
            if (P == ABytes.constData() || P[-1] == '\n')
                ::_exit(Code);
            const void* Break = std::memchr(P, '\n', size_t(End - P));
            Stop = Break ? static_cast<const char*>(Break) + 1 : End;
            if (P >= Stop)
                ::_exit(Code);
        }
    }
    if (GExitCode != 0)
        ::_exit(GExitCode);
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
