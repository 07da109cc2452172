#pragma once

#include "engine/uControls.h"
#include "engine/uLog.h"
#include "engine/uProgress.h"
#include "resolve/QXUtilsUnit.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>

// A memo that keeps every text the log ever appended, whatever it trims.
class TCaptureMemo : public TMemoControl {
public:
    int LineCount() const override;
    QString Line(int AIndex) const override;
    void SetText(const QString& AText) override;
    int TextLength() const override { return int(FText.size()); }
    void SetSelStart(int APosition) override { FSelStart = APosition; }
    void ReplaceSelection(const QString& AText) override;

    QString All() const { return FAll; }
    void ClearAll() { FAll.clear(); }

private:
    QString FText;
    QString FAll;
    int FSelStart = 0;
};

// A log whose buffer the tests can move onto the memo at will.
class TTestLog : public TLog {
public:
    void Flush() { UpdateLog(); }
};

// Exposes the job's internal steps to the tests.
class TTestQXUtils : public TQXUtils {
public:
    using TQXUtils::TQXUtils;
    using TQXUtils::CheckBLService;
    using TQXUtils::CloseRun;
    using TQXUtils::OpenRun;
    using TQXUtils::WriteResult;
    // Neither the initialization gate nor the read lock is held right now.
    bool InputLocksFree() {
        std::unique_lock<std::mutex> Init(FInitCS, std::try_to_lock);
        std::unique_lock<std::mutex> Read(FReadCS, std::try_to_lock);
        return Init.owns_lock() && Read.owns_lock();
    }
    // The result count while workers may be writing (under their write lock).
    int LockedResultCount() {
        std::lock_guard<std::mutex> Lock(FWriteCS);
        return ResultList()->Count();
    }
};

// One window's worth of engine objects wired the way the window wires them:
// BeforeStart prepares the job, OnStart starts the workers, AfterStop closes
// the run. Runs are driven through TProgress::StartProgress.
class TResolveRun {
public:
    TResolveRun();
    ~TResolveRun();

    // Starts a run and waits, serving events, until AfterStop has run or
    // ATimeoutMSec has passed. True when the run ended in time.
    bool Run(int ATimeoutMSec = 60000);
    // Starts a run and returns at once.
    void Start();
    // Waits, serving events, until the running run has ended.
    bool WaitEnd(int ATimeoutMSec = 60000);
    // Everything logged so far (the log's buffer is moved onto the memo first).
    QString LogText();
    QStringList LogLines();
    // The lines of ResultList / AddedList, sorted, for set comparisons.
    QStringList SortedResult() const;
    QStringList SortedAdded() const;

    void SetDomains(const QStringList& ALines);
    void SetDNS(const QStringList& ALines);
    void SetRBL(TBLMode AMode, const QStringList& AZones);
    // The IPv6 zones; the mode is the one RBL mode of both families.
    void SetRBL6(TBLMode AMode, const QStringList& AZones);
    void SetDBL(TBLMode AMode, const QStringList& AZones);

    TProgress Progress;
    TTestLog Log;
    TCaptureMemo Memo;
    TTestQXUtils Utils;
    bool Ended = false;
    int AfterStopCount = 0;
    // Called on the main thread from the OnStart handler after the workers started.
    std::function<void()> AfterThreadsStarted;
};

QStringList SortedLines(const TStringList* AList);
// Lets GoogleTest print texts readably in failure messages.
void PrintTo(const QString& S, std::ostream* AStream);
// Empty when the sorted lists agree; else the counts and the first differences.
std::string DiffSorted(const QStringList& AExpected, const QStringList& AActual);
QStringList ToQStringList(const TStringList* AList);
