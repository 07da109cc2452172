#include "engine/uLog.h"

#include "engine/uMainThread.h"
#include "engine/uThread.h"
#include "containers/uStringList.h"  // EFileError
#include "text/uEncoding.h"


#include <QTimer>
#include <cxxabi.h>
#include <errno.h>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <typeinfo>
#include <unistd.h>

namespace {

// The calling thread's own registry entry, with the log that holds it.
struct TCurrentThreadInfo {
    const TLog* Log = nullptr;
    TThreadInfo* Info = nullptr;
};
thread_local TCurrentThreadInfo CurrentThreadInfo;

const QString CRLF = QStringLiteral("\r\n");

// How long one wait for a slow log reader lasts before the abort check is asked.
const int kLogFileWaitMSec = 50;

QString LogFileErrorText(const QString& AFileName, int AErrno) {
    return QStringLiteral("cannot write log %1: %2").arg(AFileName, QString::fromLocal8Bit(std::strerror(AErrno)));
}

QString Demangle(const char* AName) {
    int Status = 0;
    char* Name = abi::__cxa_demangle(AName, nullptr, nullptr, &Status);
    QString R = QString::fromLatin1(Status == 0 && Name ? Name : AName);
    std::free(Name);
    return R;
}

QString ModuleName() {
    // The C library sets this once at start-up and never changes it, so any
    // thread may read it; asking the application object from a worker races.
    return QString::fromLocal8Bit(program_invocation_short_name);
}

// Splits at CR LF, LF or CR; a final break adds no empty line.
QStringList SplitLines(const QString& S) {
    QStringList L;
    int Start = 0;
    const int N = S.size();
    for (int i = 0; i < N; ++i) {
        const QChar C = S[i];
        if (C == QLatin1Char('\r') || C == QLatin1Char('\n')) {
            L << S.mid(Start, i - Start);
            if (C == QLatin1Char('\r') && i + 1 < N && S[i + 1] == QLatin1Char('\n'))
                ++i;
            Start = i + 1;
        }
    }
    if (Start < N)
        L << S.mid(Start);
    return L;
}

}  // namespace

TThreadInfo::TThreadInfo(TThread* AThread, quint32 AThreadID, const QString& AThreadName, int AThreadNumber,
                         TDateTime AStatusTime)
    : FThread(AThread), FThreadID(AThreadID), FThreadName(AThreadName), FThreadNumber(AThreadNumber),
      FStatusTime(AStatusTime) {}

TLog::TLog() : FTimer(std::make_unique<QTimer>()) {
    FTimer->setInterval(100);
    QObject::connect(FTimer.get(), &QTimer::timeout, FTimer.get(), [this] { TimerTick(); });
    FTimer->start();
    // Workers of a run hand their effects over to this thread.
    PrepareHandOffs();
}

TLog::~TLog() {
    CloseLogFile();
    FTimer.reset();
    if (FThreadsView) {
        FThreadsView->SetOnData(nullptr);
        FThreadsView->SetOnSelectItem(nullptr);
    }
    qDeleteAll(FThreadInfoList);
    FThreadInfoList.clear();
}

// ---------------------------------------------------------------------------
// Logging

void TLog::Log(const QString& AMsg) {
    if (AMsg.isEmpty())
        return;
    SetThreadStatus(AMsg);
    AddLogMessage(AMsg);
}

void TLog::Log(const QString& AFormat, const QVariantList& AArgs) {
    Log(FormatText(AFormat, AArgs));
}

void TLog::LogDT(const QString& AMsg) {
    if (AMsg.isEmpty())
        return;
    const QString Line = QLatin1Char('[') + FormatDateTimeText(NowDateTime()) + QStringLiteral("] [") +
                         QString::number(TThread::CurrentThreadID()) + QStringLiteral("] ") + AMsg;
    SetThreadStatus(AMsg);
    AddLogMessage(Line);
}

void TLog::LogDT(const QString& AFormat, const QVariantList& AArgs) {
    LogDT(FormatText(AFormat, AArgs));
}

void TLog::SetThreadStatus(const QString& text) {
    std::lock_guard<std::mutex> L(FThreadCS);
    if (CurrentThreadInfo.Log == this && CurrentThreadInfo.Info) {
        CurrentThreadInfo.Info->SetThreadStatus(DetachedCopy(text));
        CurrentThreadInfo.Info->SetStatusTime(NowDateTime());
        FThreadsInvalidate = true;
    }
}

void TLog::AddLogMessage(const QString& text) {
    bool UpdateDue;
    {
        std::lock_guard<std::mutex> L(FLogCS);
        if (text.endsWith(QLatin1Char('\n')))
            FLogMsg += text;
        else
            FLogMsg += text + CRLF;
        ++FLogCount;
        UpdateDue = FLogCount >= FUpdateCount;
        WriteLogFileLine(text);
    }
    if (UpdateDue) {
        // One thread at a time hands the update over; the others go on and
        // leave their text for the running or the next update.
        if (++FLogRef == 1) {
            try {
                RunInMainThread([this] { UpdateLog(); });
            } catch (...) {
                --FLogRef;
                throw;
            }
        }
        --FLogRef;
    }
}

// ---------------------------------------------------------------------------
// Exceptions

QString TLog::ExceptionMessage(std::exception_ptr AExceptObject) {
    if (!AExceptObject)
        return QString();
    try {
        std::rethrow_exception(AExceptObject);
    } catch (const Exception& E) {
        return E.Message();
    } catch (const std::exception& E) {
        return QString::fromUtf8(E.what());
    } catch (...) {
    }
    return QString();
}

QString TLog::ExceptionDescription(std::exception_ptr AExceptObject, const void* AExceptAddr) {
    QString ClassName = QStringLiteral("Unknown");
    QString Msg;
    if (AExceptObject) {
        try {
            std::rethrow_exception(AExceptObject);
        } catch (const Exception& E) {
            ClassName = E.ClassName();
            Msg = E.Message();
        } catch (const std::exception& E) {
            ClassName = Demangle(typeid(E).name());
            Msg = QString::fromUtf8(E.what());
        } catch (...) {
        }
    }
    const QString Dot = Msg.isEmpty() || Msg.endsWith(QLatin1Char('.')) ? QString() : QStringLiteral(".");
    return QStringLiteral("Exception %1 in module %2 at %3.\r\n%4%5\r\n")
        .arg(ClassName, ModuleName(),
             QStringLiteral("%1").arg(reinterpret_cast<quintptr>(AExceptAddr), 16, 16, QLatin1Char('0')).toUpper(),
             Msg, Dot);
}

void TLog::LogException(std::exception_ptr AExceptObject, const void* AExceptAddr) {
    QChar Buffer[1024];
    const QString D = ExceptionDescription(AExceptObject, AExceptAddr);
    const int N = qMin<int>(D.size(), 1023);
    std::copy(D.constData(), D.constData() + N, Buffer);
    Buffer[N] = QChar(0);
    LogExceptionBuffer(Buffer);
}

void TLog::LogExceptionBuffer(QChar* Buffer) {
    int Len = 0;
    while (!Buffer[Len].isNull())
        ++Len;
    while (Len > 0) {
        const QChar C = Buffer[Len - 1];
        if (C == QLatin1Char('\r') || C == QLatin1Char('\n') ||
            (C == QLatin1Char('.') && Len >= 2 && Buffer[Len - 2] == QLatin1Char('\n')))
            Buffer[--Len] = QChar(0);
        else
            break;
    }
    const QString Text(Buffer, Len);
    const int Lf = Text.indexOf(QLatin1Char('\n'));
    QString Msg = Text;
    if (Lf >= 0 && Text.left(Lf).contains(QStringLiteral(" at ")) && Lf + 1 < Text.size())
        Msg = Text.mid(Lf + 1);
    Log(Msg);
}

// ---------------------------------------------------------------------------
// Clearing and updating the memo (main thread)

void TLog::ClearLog() {
    {
        std::lock_guard<std::mutex> L(FLogCS);
        ClearLogFile();
    }
    RunInMainThread([this] { DoClearLog(); });
}

void TLog::DoClearLog() {
    {
        std::lock_guard<std::mutex> L(FLogCS);
        FLogMsg.clear();
        FLogCount = 0;
    }
    if (FLogMemo) {
        FLogMemo->SetText(QString());
        Application()->ProcessEvents();
    }
}

void TLog::UpdateLog() {
    QString S;
    {
        std::lock_guard<std::mutex> L(FLogCS);
        S.swap(FLogMsg);
        FLogCount = 0;
    }
    if (FLogMemo && !S.isEmpty()) {
        const QStringList NewLines = SplitLines(S);
        const int MemoLines = FLogMemo->LineCount();
        const int Excess = MemoLines + NewLines.size() - FMaxLogLines;
        if (Excess > 0) {
            QString Kept;
            for (int i = Excess; i < MemoLines; ++i)
                Kept += FLogMemo->Line(i) + CRLF;
            FLogMemo->SetText(Kept);
        }
        FLogMemo->SetSelStart(FLogMemo->TextLength());
        FLogMemo->ReplaceSelection(S);
        FLogMemo->SetSelStart(FLogMemo->TextLength());
        Application()->ProcessEvents();
    }
    if (FThreadsView) {
        const int Active = FActiveThreads;
        if (FThreadsView->RowCount() != Active) {
            FThreadsView->SetRowCount(Active);
            FThreadsInvalidate = true;
        }
        if (FThreadsInvalidate.exchange(false))
            FThreadsView->Repaint();
    }
}

void TLog::TimerTick() {
    const TDateTime Now = NowDateTime();
    if (FUpdatePeriod != 0 && MilliSecondsBetween(FLogTime, Now) < FUpdatePeriod)
        return;
    UpdateLog();
    FLogTime = Now;
}

// ---------------------------------------------------------------------------
// Registry

void TLog::OnThreadCreate(TThread* Thread, const QString& AThreadName, int AThreadNumber) {
    std::lock_guard<std::mutex> L(FThreadCS);
    FThreadInfoList.append(
        new TThreadInfo(Thread, Thread ? Thread->ThreadID() : 0, AThreadName, AThreadNumber, NowDateTime()));
    ++FActiveThreads;
    FThreadsInvalidate = true;
}

void TLog::OnThreadExecute(TThread*) {
    const quint32 Id = TThread::CurrentThreadID();
    std::lock_guard<std::mutex> L(FThreadCS);
    CurrentThreadInfo.Log = this;
    CurrentThreadInfo.Info = nullptr;
    for (TThreadInfo* Info : FThreadInfoList)
        if (Info->ThreadID() == Id) {
            CurrentThreadInfo.Info = Info;
            break;
        }
}

int TLog::OnThreadDestroy(TThread* Thread) {
    std::lock_guard<std::mutex> L(FThreadCS);
    const int Active = --FActiveThreads;
    for (int i = 0; i < FThreadInfoList.size(); ++i) {
        TThreadInfo* Info = FThreadInfoList[i];
        if (Info->Thread() == Thread) {
            FThreadInfoList.removeAt(i);
            // The thread may still log after this; it must not reach the freed entry.
            if (CurrentThreadInfo.Log == this && CurrentThreadInfo.Info == Info)
                CurrentThreadInfo.Info = nullptr;
            delete Info;
            break;
        }
    }
    FThreadsInvalidate = true;
    return Active;
}

bool TLog::GetThreadInfo(int AIndex, quint32& ThreadID, QString& ThreadName, int& ThreadNumber,
                         QString& ThreadStatus, TDateTime& StatusTime) {
    std::lock_guard<std::mutex> L(FThreadCS);
    if (AIndex < 0 || AIndex >= FThreadInfoList.size()) {
        ThreadName.clear();
        ThreadStatus.clear();
        return false;
    }
    const TThreadInfo* Info = FThreadInfoList[AIndex];
    ThreadID = Info->ThreadID();
    ThreadName = Info->ThreadName();
    ThreadNumber = Info->ThreadNumber();
    ThreadStatus = DetachedCopy(Info->ThreadStatus());
    StatusTime = Info->StatusTime();
    return true;
}

// ---------------------------------------------------------------------------
// The thread list view

void TLog::SetThreadsView(TListViewControl* Value) {
    if (FThreadsView && FThreadsView != Value) {
        FThreadsView->SetOnData(nullptr);
        FThreadsView->SetOnSelectItem(nullptr);
    }
    FThreadsView = Value;
    if (FThreadsView) {
        FThreadsView->SetOnData([this](TListItem& Item) { ThreadsViewData(Item); });
        FThreadsView->SetOnSelectItem([this](const TListItem& Item, bool Selected) {
            ThreadsViewSelectItem(Item, Selected);
        });
    }
}

void TLog::ThreadsViewData(TListItem& Item) {
    quint32 Id = 0;
    QString Name, Status;
    int Number = 0;
    TDateTime Time = 0;
    if (!GetThreadInfo(Item.Index, Id, Name, Number, Status, Time))
        return;
    Item.Caption = QString::number(Id);
    Item.SubItems << Name << FormatDateTimeText(Time) << Status;
}

void TLog::ThreadsViewSelectItem(const TListItem&, bool) {
    if (!FThreadsView)
        return;
    const int Index = FThreadsView->SelectedIndex();
    if (Index == FSelectedThreadIndex)
        return;
    if (FSelectedThreadIndex >= 0 && FSelectedThreadIndex < FThreadsView->RowCount())
        FThreadsView->InvalidateRect(FThreadsView->ItemRect(FSelectedThreadIndex), true);
    FSelectedThreadIndex = Index;
}

// ---------------------------------------------------------------------------
// Log file

bool TLog::LogFileOpen() const {
    std::lock_guard<std::mutex> L(FLogCS);
    return FLogFd >= 0;
}

QString TLog::LogFileError() const {
    std::lock_guard<std::mutex> L(FLogCS);
    return FLogFileError;
}

void TLog::SetLogFileAbortCheck(std::function<bool()> ACheck) {
    std::lock_guard<std::mutex> L(FLogCS);
    FLogFileAbortCheck = std::move(ACheck);
}

void TLog::OpenLogFile(const QString& AFileName, bool AAppend) {
    CloseLogFile();
    std::lock_guard<std::mutex> L(FLogCS);
    FAppendLogFile = AAppend;
    FLogFileName = AFileName;
    FLogFileError.clear();
    const QByteArray Name = EncodeFileName(AFileName);
    // Not blocking: a FIFO without a reader refuses at once (ENXIO) instead
    // of holding the thread beyond the reach of a signal, and a write to a
    // full pipe waits below, where the abort check is asked.
    const int Flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | (AAppend ? O_APPEND : 0);
    int Fd;
    for (;;) {
        Fd = ::open(Name.constData(), Flags, 0666);
        if (Fd >= 0 || (errno != ENXIO && errno != EINTR))
            break;
        if (FLogFileAbortCheck && FLogFileAbortCheck()) {
            errno = EINTR;
            break;
        }
        ::poll(nullptr, 0, kLogFileWaitMSec);
    }
    if (Fd < 0) {
        const int Err = errno;
        throw EFileError(LogFileErrorText(AFileName, Err));
    }
    struct stat St;
    FLogFileRegular = ::fstat(Fd, &St) == 0 && S_ISREG(St.st_mode);
    // Only a regular file has content to replace; a device or a pipe has none.
    if (FLogFileRegular && !AAppend && ::ftruncate(Fd, 0) != 0) {
        const int Err = errno;
        ::close(Fd);
        throw EFileError(LogFileErrorText(AFileName, Err));
    }
    FLogFd = Fd;
}

void TLog::CloseLogFile() {
    std::lock_guard<std::mutex> L(FLogCS);
    if (FLogFd >= 0 && ::close(FLogFd) != 0 && errno != EINTR && FLogFileError.isEmpty())
        FLogFileError = LogFileErrorText(FLogFileName, errno);
    FLogFd = -1;
}

void TLog::FailLogFile(int AErrno) {
    if (FLogFileError.isEmpty())
        FLogFileError = LogFileErrorText(FLogFileName, AErrno);
    ::close(FLogFd);
    FLogFd = -1;
}

void TLog::WriteLogFileLine(const QString& text) {
    if (FLogFd < 0)
        return;
    // The message's own final CR LF (or CR) is the file's line break.
    QString Line = text;
    if (Line.endsWith(CRLF))
        Line.chop(2);
    else if (Line.endsWith(QLatin1Char('\r')))
        Line.chop(1);
    const QByteArray Bytes = Line.toUtf8() + "\r\n";
    const char* P = Bytes.constData();
    qsizetype Left = Bytes.size();
    while (Left > 0) {
        const ssize_t N = ::write(FLogFd, P, size_t(Left));
        if (N > 0) {
            P += N;
            Left -= N;
            continue;
        }
        if (N < 0 && errno == EINTR)
            continue;
        if (N < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A reader that does not take the log holds this line only until
            // the run is given up: then the log file fails instead.
            if (FLogFileAbortCheck && FLogFileAbortCheck()) {
                FailLogFile(EINTR);
                return;
            }
            pollfd Pfd{FLogFd, POLLOUT, 0};
            ::poll(&Pfd, 1, kLogFileWaitMSec);
            continue;
        }
        FailLogFile(N < 0 ? errno : EIO);
        return;
    }
}

void TLog::ClearLogFile() {
    if (FLogFd >= 0 && FLogFileRegular && !FAppendLogFile) {
        if (::ftruncate(FLogFd, 0) != 0 || ::lseek(FLogFd, 0, SEEK_SET) < 0)
            FailLogFile(errno);
    }
}
