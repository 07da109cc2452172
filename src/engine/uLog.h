#pragma once

#include "containers/uException.h"
#include "engine/uControls.h"
#include "engine/uFormat.h"

#include <QList>
#include <QString>
#include <QVariantList>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

class QTimer;
class TThread;

// One entry of the registry of live worker threads.
class TThreadInfo : public TObject {
public:
    TThreadInfo(TThread* AThread, quint32 AThreadID, const QString& AThreadName, int AThreadNumber,
                TDateTime AStatusTime);

    TThread* Thread() const { return FThread; }
    quint32 ThreadID() const { return FThreadID; }
    QString ThreadName() const { return FThreadName; }
    int ThreadNumber() const { return FThreadNumber; }
    QString ThreadStatus() const { return FThreadStatus; }
    void SetThreadStatus(const QString& Value) { FThreadStatus = Value; }
    TDateTime StatusTime() const { return FStatusTime; }
    void SetStatusTime(TDateTime Value) { FStatusTime = Value; }

private:
    TThread* FThread;
    quint32 FThreadID;
    QString FThreadName;
    int FThreadNumber;
    QString FThreadStatus;
    TDateTime FStatusTime;
};

// The run's log and its registry of live worker threads. Any thread may log;
// text is buffered and moved onto the memo on the main thread by a 100 ms
// timer (at most once per UpdatePeriod), or at once by the logging thread
// (handed to the main thread) when UpdateCount messages have piled up. With a
// log file open every message is also written to it at once, one line each.
class TLog : public TObject {
public:
    TLog();
    ~TLog() override;

    TLog(const TLog&) = delete;
    TLog& operator=(const TLog&) = delete;

    void Log(const QString& AMsg);
    void Log(const QString& AFormat, const QVariantList& AArgs);
    // "[yyyy-mm-dd hh:nn:ss] [tid] msg"; the thread's status gets the bare message.
    void LogDT(const QString& AMsg);
    void LogDT(const QString& AFormat, const QVariantList& AArgs);
    // Logs the message of a caught exception (default: the one being handled).
    void LogException(std::exception_ptr AExceptObject = std::current_exception(),
                      const void* AExceptAddr = nullptr);
    // Logs the message part of a zero-terminated exception description; trims the buffer in place.
    void LogExceptionBuffer(QChar* Buffer);
    // Empties the buffer and the memo (and the log file unless opened for appending).
    void ClearLog();

    void OnThreadCreate(TThread* Thread, const QString& AThreadName, int AThreadNumber);
    void OnThreadExecute(TThread* Thread);
    // Returns ActiveThreads as this very call left it, so that of several
    // threads ending at once exactly one sees 0.
    int OnThreadDestroy(TThread* Thread);

    // Starts copying every message to AFileName (replaced, or appended to when
    // AAppend). Only a regular file is ever emptied: a device, a pipe or a
    // terminal is written as it is. A FIFO without a reader is waited for
    // until the abort check says stop. Raises EFileError "cannot write log
    // FILE: reason" when the file cannot be opened.
    void OpenLogFile(const QString& AFileName, bool AAppend);
    void CloseLogFile();
    bool LogFileOpen() const;
    // The first error writing the log file ("cannot write log FILE: reason"),
    // empty while there is none. Writing never raises: after an error the
    // file is closed and the messages go on to the memo only; the owner of
    // the run asks here and ends the run.
    QString LogFileError() const;
    // Asked while a write or the opening waits for a slow reader (a pipe, a
    // FIFO, a terminal); true gives the wait up. Any thread may ask it.
    void SetLogFileAbortCheck(std::function<bool()> ACheck);

    TMemoControl* LogMemo() const { return FLogMemo; }
    void SetLogMemo(TMemoControl* Value) { FLogMemo = Value; }
    TListViewControl* ThreadsView() const { return FThreadsView; }
    // Installs this log's row-data and selection callbacks on the view (and
    // takes them off a view it replaces).
    void SetThreadsView(TListViewControl* Value);
    qint64 UpdatePeriod() const { return FUpdatePeriod; }
    void SetUpdatePeriod(qint64 Value) { FUpdatePeriod = Value; }
    int UpdateCount() const { return FUpdateCount; }
    void SetUpdateCount(int Value) { FUpdateCount = Value; }
    int MaxLogLines() const { return FMaxLogLines; }
    void SetMaxLogLines(int Value) { FMaxLogLines = Value; }
    int ActiveThreads() const { return FActiveThreads; }

    // Copies row AIndex of the registry; false (strings empty) when out of range.
    bool GetThreadInfo(int AIndex, quint32& ThreadID, QString& ThreadName, int& ThreadNumber,
                       QString& ThreadStatus, TDateTime& StatusTime);

    // The exception's full description, "Exception %s in module %s at %p.\r\n%s%s\r\n".
    static QString ExceptionDescription(std::exception_ptr AExceptObject, const void* AExceptAddr);
    // The message of an exception ("" when it carries none).
    static QString ExceptionMessage(std::exception_ptr AExceptObject);

protected:
    virtual void TimerTick();
    void AddLogMessage(const QString& text);
    void SetThreadStatus(const QString& text);
    void DoClearLog();
    void UpdateLog();
    void ThreadsViewData(TListItem& Item);
    void ThreadsViewSelectItem(const TListItem& Item, bool Selected);

private:
    // All with FLogCS held.
    void WriteLogFileLine(const QString& text);
    void ClearLogFile();
    void FailLogFile(int AErrno);

    std::unique_ptr<QTimer> FTimer;
    TMemoControl* FLogMemo = nullptr;
    TListViewControl* FThreadsView = nullptr;
    mutable std::mutex FLogCS;
    QString FLogMsg;
    qint64 FUpdatePeriod = 500;
    TDateTime FLogTime = 0;
    std::atomic<int> FUpdateCount{1000};
    int FLogCount = 0;
    std::atomic<int> FLogRef{0};
    int FMaxLogLines = 50;
    std::atomic<int> FActiveThreads{0};
    QList<TThreadInfo*> FThreadInfoList;
    std::mutex FThreadCS;
    std::atomic<bool> FThreadsInvalidate{false};
    int FSelectedThreadIndex = -1;
    int FLogFd = -1;                 // all the log file's fields with FLogCS
    QString FLogFileName;
    bool FLogFileRegular = false;
    QString FLogFileError;
    std::function<bool()> FLogFileAbortCheck;
    bool FAppendLogFile = false;
};
