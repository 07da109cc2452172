#include "text/uFdInputStream.h"

#include "containers/uStringList.h"  // EFileError
#include "text/uEncoding.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

TFdInputStream::TFdInputStream(int AFd, bool AOwnsFd) : FFd(AFd), FOwnsFd(AOwnsFd) {
    // Unbuffered: a line must reach the reader the moment its bytes arrived,
    // not when a buffer of Qt's is full.
    QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    FWakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

TFdInputStream::~TFdInputStream() {
    close();
    if (FWakeFd >= 0)
        ::close(FWakeFd);
}

void TFdInputStream::Wake() {
    const uint64_t One = 1;
    if (FWakeFd >= 0)
        [[maybe_unused]] const ssize_t N = ::write(FWakeFd, &One, sizeof One);
}

TFdInputStream* TFdInputStream::OpenFile(const QString& AFileName) {
    // O_NONBLOCK: opening a FIFO would otherwise wait for a writer, and no
    // break could reach that wait.
    const int Fd = ::open(EncodeFileName(AFileName).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (Fd < 0)
        throw EFileError(QStringLiteral("Cannot open file \"%1\". %2")
                             .arg(AFileName, QString::fromLocal8Bit(std::strerror(errno))));
    return new TFdInputStream(Fd, true);
}

bool TFdInputStream::IsRegularFile(int AFd) {
    struct stat St;
    return ::fstat(AFd, &St) == 0 && S_ISREG(St.st_mode);
}

bool TFdInputStream::WaitReadable(int AMSec) const {
    if (FEnded || FFd < 0)
        return true;
    pollfd P[2] = {{FFd, POLLIN, 0}, {FWakeFd, POLLIN, 0}};
    const int Ready = ::poll(P, FWakeFd >= 0 ? 2 : 1, AMSec);
    return Ready > 0 && P[0].revents != 0;
}

void TFdInputStream::close() {
    if (FOwnsFd && FFd >= 0)
        ::close(FFd);
    FFd = -1;
    QIODevice::close();
}

qint64 TFdInputStream::readData(char* AData, qint64 AMaxSize) {
    if (AMaxSize <= 0)
        return 0;
    while (!FEnded && FFd >= 0) {
        if (FAbortCheck && FAbortCheck()) {
            FAborted = true;
            FEnded = true;
            break;
        }
        // Read only what poll says is there: standard input stays in blocking
        // mode, and a FIFO that never had a writer shows neither data nor hang-up.
        pollfd P[2] = {{FFd, POLLIN, 0}, {FWakeFd, POLLIN, 0}};
        const int Ready = ::poll(P, FWakeFd >= 0 ? 2 : 1, kWaitSliceMSec);
        if (Ready > 0 && P[0].revents == 0) {
            // Woken: the input is given up, as by the abort check.
            FAborted = true;
            FEnded = true;
            break;
        }
        if (Ready < 0) {
            if (errno == EINTR)
                continue;
            setErrorString(QString::fromLocal8Bit(std::strerror(errno)));
            return -1;
        }
        if (Ready == 0)
            continue;
        const ssize_t Got = ::read(FFd, AData, size_t(AMaxSize));
        if (Got > 0)
            return Got;
        if (Got == 0) {
            FEnded = true;
            break;
        }
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
            continue;
        setErrorString(QString::fromLocal8Bit(std::strerror(errno)));
        return -1;
    }
    return 0;
}

int OpenClosedStandardDescriptors() {
    int Closed = 0;
    for (int Fd = 0; Fd <= 2; ++Fd) {
        if (::fcntl(Fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        Closed |= 1 << Fd;
        // The lowest free descriptor is this one: every lower one is open.
        const int Null = ::open("/dev/null", Fd == 0 ? O_RDONLY : O_WRONLY);
        if (Null >= 0 && Null != Fd) {
            ::dup2(Null, Fd);
            ::close(Null);
        }
    }
    return Closed;
}
