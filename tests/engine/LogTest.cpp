#include "FakeControls.h"

#include "engine/uLog.h"
#include "engine/uMainThread.h"

#include <QRegularExpression>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

// The log with its timer switchable and its main-thread update reachable.
class TTestLog : public TLog {
public:
    using TLog::UpdateLog;
    bool FTimerOn = false;

protected:
    void TimerTick() override {
        if (FTimerOn)
            TLog::TimerTick();
    }
};

QString Lines(int AFrom, int ACount, const QString& APrefix) {
    QString S;
    for (int i = AFrom; i < AFrom + ACount; ++i)
        S += APrefix + QString::number(i) + QStringLiteral("\r\n");
    return S;
}

class LogMemo : public ::testing::Test {
protected:
    TFakeApplication App;
    TFakeMemo Memo;
    TTestLog Log;
    void SetUp() override { Log.SetLogMemo(&Memo); }
};

}  // namespace

TEST_F(LogMemo, DropsOldestLinesToKeepTheLimit) {
    Log.SetMaxLogLines(500);
    Memo.SetText(Lines(0, 498, QStringLiteral("old")));
    for (int i = 0; i < 5; ++i)
        Log.Log(QStringLiteral("new%1").arg(i));
    Log.UpdateLog();
    EXPECT_EQ(Memo.LineCount(), 500);
    EXPECT_EQ(Memo.Line(0), QStringLiteral("old3"));
    EXPECT_EQ(Memo.Line(494), QStringLiteral("old497"));
    EXPECT_EQ(Memo.Line(499), QStringLiteral("new4"));
    EXPECT_EQ(Memo.FCaret, Memo.TextLength());
}

TEST_F(LogMemo, UpdateLargerThanLimitShowsAllNewLinesThenTrims) {
    Log.SetMaxLogLines(3);
    Memo.SetText(Lines(0, 2, QStringLiteral("old")));
    for (int i = 0; i < 5; ++i)
        Log.Log(QStringLiteral("m%1").arg(i));
    Log.UpdateLog();
    EXPECT_EQ(Memo.FText, Lines(0, 5, QStringLiteral("m")));
    Log.Log(QStringLiteral("last"));
    Log.UpdateLog();
    EXPECT_EQ(Memo.FText, QStringLiteral("m3\r\nm4\r\nlast\r\n"));
}

TEST_F(LogMemo, LineEndingsAndEmptyMessages) {
    Log.Log(QString());
    Log.LogDT(QString());
    Log.UpdateLog();
    EXPECT_EQ(Memo.FReplaceCalls, 0);
    Log.Log(QStringLiteral("ends with lf\n"));
    Log.Log(QStringLiteral("plain"));
    Log.Log(QStringLiteral("inner\r\nbreak"));
    Log.UpdateLog();
    EXPECT_EQ(Memo.FText, QStringLiteral("ends with lf\nplain\r\ninner\r\nbreak\r\n"));
    EXPECT_EQ(Memo.LineCount(), 4);
}

TEST_F(LogMemo, InnerBreakCountsOnceTowardsUpdateCount) {
    Log.SetUpdateCount(2);
    Log.Log(QStringLiteral("a\r\nb"));
    EXPECT_EQ(Memo.FReplaceCalls, 0);
    // The second message reaches the count; on the main thread it updates at once.
    Log.Log(QStringLiteral("c"));
    EXPECT_EQ(Memo.FText, QStringLiteral("a\r\nb\r\nc\r\n"));
}

TEST_F(LogMemo, TimerHonoursUpdatePeriod) {
    Log.FTimerOn = true;
    Log.SetUpdatePeriod(100000);
    Log.Log(QStringLiteral("first"));
    // The first tick always updates.
    ASSERT_TRUE(WaitFor([&] { return Memo.FText.contains(QStringLiteral("first")); }, 2000));
    Log.Log(QStringLiteral("second"));
    EXPECT_FALSE(WaitFor([&] { return Memo.FText.contains(QStringLiteral("second")); }, 400));
    Log.SetUpdatePeriod(0);
    ASSERT_TRUE(WaitFor([&] { return Memo.FText.contains(QStringLiteral("second")); }, 2000));
    // Period 0: every tick moves what has been logged since.
    for (int i = 0; i < 3; ++i) {
        const QString Msg = QStringLiteral("tick%1").arg(i);
        Log.Log(Msg);
        ASSERT_TRUE(WaitFor([&] { return Memo.FText.contains(Msg); }, 2000));
    }
}

TEST_F(LogMemo, ClearLogEmptiesBufferAndMemo) {
    Memo.SetText(QStringLiteral("old\r\n"));
    Log.Log(QStringLiteral("pending"));
    Log.ClearLog();
    EXPECT_EQ(Memo.FText, QString());
    Log.UpdateLog();
    EXPECT_EQ(Memo.FText, QString());
}

TEST_F(LogMemo, WorkerHandsForcedUpdateToMainThreadAndWaits) {
    Log.SetUpdateCount(1000);
    Log.SetMaxLogLines(5000);
    std::atomic<bool> Done{false};
    std::atomic<int> ReplacesSeenAfter999{-1}, ReplacesSeenAfter1000{-1};
    std::thread T([&] {
        for (int i = 0; i < 1000; ++i) {
            Log.Log(QStringLiteral("w%1").arg(i));
            if (i == 998)
                ReplacesSeenAfter999 = Memo.FReplaceCalls.load();
        }
        ReplacesSeenAfter1000 = Memo.FReplaceCalls.load();
        Done = true;
    });
    ASSERT_TRUE(WaitFor([&] { return Done.load(); }));
    T.join();
    EXPECT_EQ(ReplacesSeenAfter999, 0);
    // The 1000th message returned only after the main thread had updated the memo.
    EXPECT_EQ(ReplacesSeenAfter1000, 1);
    EXPECT_EQ(Memo.LineCount(), 1000);
    EXPECT_EQ(Memo.FCallsOffMainThread, 0);
}

TEST_F(LogMemo, ManyWorkersReachingUpdateCountLoseNothing) {
    Log.SetUpdateCount(50);
    Log.SetMaxLogLines(100000);
    constexpr int NThreads = 4, NMsgs = 1000;
    std::atomic<int> Done{0};
    std::vector<std::thread> Ts;
    for (int t = 0; t < NThreads; ++t)
        Ts.emplace_back([&, t] {
            for (int i = 0; i < NMsgs; ++i)
                Log.Log(QStringLiteral("t%1 m%2").arg(t).arg(i));
            ++Done;
        });
    ASSERT_TRUE(WaitFor([&] { return Done == NThreads; }));
    for (auto& T : Ts)
        T.join();
    Log.UpdateLog();
    EXPECT_EQ(Memo.LineCount(), NThreads * NMsgs);
    EXPECT_GT(Memo.FReplaceCalls, 1);
    EXPECT_EQ(Memo.FCallsOffMainThread, 0);
}

// ---------------------------------------------------------------------------

namespace {

QString LoggedFromBuffer(const QString& ADescription, QString* ATrimmed = nullptr) {
    TFakeMemo Memo;
    TTestLog Log;
    Log.SetLogMemo(&Memo);
    std::vector<QChar> Buffer(ADescription.begin(), ADescription.end());
    Buffer.push_back(QChar(0));
    Log.LogExceptionBuffer(Buffer.data());
    if (ATrimmed)
        *ATrimmed = QString(Buffer.data());
    Log.UpdateLog();
    return Memo.FText;
}

}  // namespace

TEST(LogException, DescriptionShapes) {
    QString Trimmed;
    EXPECT_EQ(LoggedFromBuffer(QStringLiteral("Exception EFoo in module x at 00AB.\r\nDisk full.\r\n"), &Trimmed),
              QStringLiteral("Disk full.\r\n"));
    EXPECT_EQ(Trimmed, QStringLiteral("Exception EFoo in module x at 00AB.\r\nDisk full."));
    // Empty message: after trimming no LF is left, so the first line is logged.
    EXPECT_EQ(LoggedFromBuffer(QStringLiteral("Exception EFoo in module x at 00AB.\r\n.\r\n"), &Trimmed),
              QStringLiteral("Exception EFoo in module x at 00AB.\r\n"));
    EXPECT_EQ(Trimmed, QStringLiteral("Exception EFoo in module x at 00AB."));
    EXPECT_EQ(LoggedFromBuffer(QStringLiteral("No line break here\n\n")), QStringLiteral("No line break here\r\n"));
    // A first line without " at " keeps the whole text.
    EXPECT_EQ(LoggedFromBuffer(QStringLiteral("Heading\nbody")), QStringLiteral("Heading\nbody\r\n"));
    EXPECT_EQ(LoggedFromBuffer(QStringLiteral("\r\n")), QString());
}

TEST(LogException, RealExceptions) {
    TFakeMemo Memo;
    TTestLog Log;
    Log.SetLogMemo(&Memo);
    try {
        throw Exception(QStringLiteral("Disk full"));
    } catch (...) {
        Log.LogException();
    }
    try {
        throw std::runtime_error("boom.");
    } catch (...) {
        Log.LogException();
    }
    try {
        throw Exception(QString());
    } catch (...) {
        Log.LogException();
    }
    Log.UpdateLog();
    ASSERT_EQ(Memo.LineCount(), 3);
    EXPECT_EQ(Memo.Line(0), QStringLiteral("Disk full."));
    EXPECT_EQ(Memo.Line(1), QStringLiteral("boom."));
    EXPECT_TRUE(Memo.Line(2).startsWith(QStringLiteral("Exception Exception in module "))) << Memo.Line(2).toStdString();
}

TEST(LogException, LongDescriptionIsCut) {
    TFakeMemo Memo;
    TTestLog Log;
    Log.SetLogMemo(&Memo);
    try {
        throw Exception(QString(3000, QLatin1Char('x')));
    } catch (...) {
        Log.LogException();
    }
    Log.UpdateLog();
    ASSERT_EQ(Memo.LineCount(), 1);
    EXPECT_GT(Memo.Line(0).size(), 900);
    EXPECT_LT(Memo.Line(0).size(), 1024);
}

// ---------------------------------------------------------------------------
// Registry

namespace {

// Registered workers that log what they are told and end when released.
class Registry : public ::testing::Test {
protected:
    TFakeApplication App;
    TFakeMemo Memo;
    TFakeListView View;
    TTestLog Log;
    std::atomic<bool> Release{false};
    std::atomic<int> Ended{0};

    void SetUp() override {
        Log.SetLogMemo(&Memo);
        Log.SetThreadsView(&View);
    }
    void TearDown() override {
        Release = true;
        WaitFor([&] { return Log.ActiveThreads() <= 0 && Ended >= FStarted; });
    }

    TLambdaThread* StartWorker(const QString& AName, int ANumber, std::function<void()> ABody,
                               bool ARegister = true) {
        auto* T = new TLambdaThread(
            [this, ABody](TLambdaThread* Self) {
                Log.OnThreadExecute(Self);
                ABody();
                while (!Release)
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
            },
            [this, ARegister](TLambdaThread* Self) {
                if (ARegister)
                    Log.OnThreadDestroy(Self);
                ++Ended;
            });
        if (ARegister)
            Log.OnThreadCreate(T, AName, ANumber);
        ++FStarted;
        T->Start();
        return T;
    }
    int FStarted = 0;
};

}  // namespace

TEST_F(Registry, RowsInRegistrationOrderWithStatusAndTime) {
    std::atomic<int> Logged{0};
    QList<TLambdaThread*> Ts;
    for (int i = 0; i < 3; ++i)
        Ts << StartWorker(QStringLiteral("W%1").arg(i), i + 1, [&, i] {
            Log.LogDT(QStringLiteral("status %1").arg(i));
            ++Logged;
        });
    ASSERT_TRUE(WaitFor([&] { return Logged == 3; }));
    EXPECT_EQ(Log.ActiveThreads(), 3);
    Log.UpdateLog();
    EXPECT_EQ(View.RowCount(), 3);
    EXPECT_EQ(View.FRepaints, 1);
    for (int i = 0; i < 3; ++i) {
        const TListItem Row = View.Row(i);
        EXPECT_EQ(Row.Caption, QString::number(Ts[i]->ThreadID()));
        ASSERT_EQ(Row.SubItems.size(), 3);
        EXPECT_EQ(Row.SubItems[0], QStringLiteral("W%1").arg(i));
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                        .match(Row.SubItems[1]).hasMatch());
        // The status is the bare message, the memo has the prefixed line.
        EXPECT_EQ(Row.SubItems[2], QStringLiteral("status %1").arg(i));
    }
    const QRegularExpression Layout(QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] \\[(\\d+)\\] status (\\d)$"));
    ASSERT_EQ(Memo.LineCount(), 3);
    for (int i = 0; i < 3; ++i) {
        const auto M = Layout.match(Memo.Line(i));
        ASSERT_TRUE(M.hasMatch()) << Memo.Line(i).toStdString();
        EXPECT_EQ(M.captured(1), QString::number(Ts[M.captured(2).toInt()]->ThreadID()));
    }
    // Nothing changed: no repaint.
    Log.UpdateLog();
    EXPECT_EQ(View.FRepaints, 1);
    EXPECT_TRUE(View.Row(3).Caption.isEmpty());
    EXPECT_TRUE(View.Row(-1).SubItems.isEmpty());

    Release = true;
    ASSERT_TRUE(WaitFor([&] { return Ended == 3; }));
    EXPECT_EQ(Log.ActiveThreads(), 0);
    Log.UpdateLog();
    EXPECT_EQ(View.RowCount(), 0);
    EXPECT_EQ(View.FRepaints, 2);
}

TEST_F(Registry, UnregisteredThreadsLogWithoutStatus) {
    std::atomic<int> Logged{0};
    StartWorker(QStringLiteral("known"), 1, [&] { ++Logged; });
    StartWorker(QString(), 0, [&] { Log.Log(QStringLiteral("from a stranger")); ++Logged; }, false);
    ASSERT_TRUE(WaitFor([&] { return Logged == 2; }));
    Log.Log(QStringLiteral("from the main thread"));
    Log.UpdateLog();
    EXPECT_EQ(Memo.LineCount(), 2);
    EXPECT_EQ(View.Row(0).SubItems.value(2), QString());
    EXPECT_EQ(Log.ActiveThreads(), 1);
}

TEST_F(Registry, DestroyOfUnknownObjectOnlyCounts) {
    std::atomic<int> Logged{0};
    StartWorker(QStringLiteral("a"), 1, [&] { ++Logged; });
    ASSERT_TRUE(WaitFor([&] { return Logged == 1; }));
    int Dummy = 0;
    EXPECT_EQ(Log.OnThreadDestroy(reinterpret_cast<TThread*>(&Dummy)), 0);
    EXPECT_EQ(Log.ActiveThreads(), 0);
    quint32 Id;
    QString Name, Status;
    int Number;
    TDateTime Time;
    ASSERT_TRUE(Log.GetThreadInfo(0, Id, Name, Number, Status, Time));
    EXPECT_EQ(Name, QStringLiteral("a"));
    EXPECT_EQ(Number, 1);
    EXPECT_FALSE(Log.GetThreadInfo(1, Id, Name, Number, Status, Time));
    EXPECT_TRUE(Name.isEmpty());
    // An entry without a thread object has OS id 0; it also rebalances the count.
    Log.OnThreadCreate(nullptr, QStringLiteral("no thread"), 0);
    ASSERT_TRUE(Log.GetThreadInfo(1, Id, Name, Number, Status, Time));
    EXPECT_EQ(Id, 0u);
    EXPECT_EQ(Log.ActiveThreads(), 1);
}

TEST_F(Registry, ThreadLoggingAfterItsOwnUnregistrationTouchesNoEntry) {
    std::atomic<int> Logged{0};
    StartWorker(QStringLiteral("other"), 1, [&] { ++Logged; });
    auto* Self = new TLambdaThread([&](TLambdaThread* T) {
        Log.OnThreadExecute(T);
        Log.Log(QStringLiteral("before"));
        Log.OnThreadDestroy(T);
        Log.Log(QStringLiteral("after"));
        ++Logged;
    });
    Log.OnThreadCreate(Self, QStringLiteral("self"), 2);
    Self->Start();
    ASSERT_TRUE(WaitFor([&] { return Logged == 2; }));
    Log.UpdateLog();
    EXPECT_EQ(Memo.FText, QStringLiteral("before\r\nafter\r\n"));
    EXPECT_EQ(View.Row(0).SubItems.value(0), QStringLiteral("other"));
    EXPECT_EQ(View.Row(0).SubItems.value(2), QString());
    EXPECT_EQ(Log.ActiveThreads(), 1);
}

TEST_F(Registry, SelectionRepaintsThePreviousRow) {
    for (int i = 0; i < 3; ++i)
        StartWorker(QStringLiteral("w"), i + 1, [] {});
    Log.UpdateLog();
    View.Select(1);
    EXPECT_TRUE(View.FErased.isEmpty());
    View.Select(1);
    EXPECT_TRUE(View.FErased.isEmpty());
    View.Select(2);
    ASSERT_EQ(View.FErased.size(), 1);
    EXPECT_EQ(View.FErased[0], View.ItemRect(1));
    View.Select(-1);
    ASSERT_EQ(View.FErased.size(), 2);
    EXPECT_EQ(View.FErased[1], View.ItemRect(2));
    View.Select(0);
    EXPECT_EQ(View.FErased.size(), 2);
}
