#include "MainFormTestWindow.h"

#include "app/ButtonExUnit.h"
#include "engine/uLog.h"
#include "engine/uMainThread.h"
#include "resolve/QXUtilsUnit.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSet>
#include <QTimer>
#include <QWindow>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

// Closing the window through its title bar at random moments of big runs
// with the detailed log on, against the local dnsmasq. The close arrives as
// the window system sends it, wherever the main thread happens to be: often
// inside a worker's forced log update or inside the last thread's end of run.

namespace {

using MainFormClose = TMainFormTest;

// A main thread stuck in a wait that never ends cannot report it itself.
class TWatchdog {
public:
    TWatchdog()
        : FThread([this] {
              while (!FStop) {
                  const qint64 Deadline = FDeadline;
                  if (Deadline > 0 && Now() > Deadline) {
                      std::fprintf(stderr, "The main thread hangs: window %d did not close.\n", FWindow.load());
                      std::fflush(stderr);
                      std::_Exit(1);
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(100));
              }
          }) {}
    ~TWatchdog() {
        FStop = true;
        FThread.join();
    }
    void Arm(int AWindow, int AMSec) {
        FWindow = AWindow;
        FDeadline = Now() + AMSec;
    }
    void Disarm() { FDeadline = 0; }

private:
    static qint64 Now() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    std::atomic<bool> FStop{false};
    std::atomic<qint64> FDeadline{0};
    std::atomic<int> FWindow{0};
    std::thread FThread;
};

template <class TMemoWidget> QStringList Lines(const TMemoWidget* Memo) { return TQXMainForm::MemoLines(Memo); }

} // namespace

TEST_F(MainFormClose, ClosingAtRandomMomentsOfBigRunsNeverHangs) {
    VT_REQUIRE_DNS_SERVERS();
    const int Windows = 50;
    const QSet<QString> Valid = {QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.3"),
                                 QStringLiteral("10.1.2.4"), QStringLiteral("10.7.7.7")};
    QStringList Domains;
    for (int i = 0; i < 2000; ++i)
        Domains << (i % 3 == 0 ? QStringLiteral("www.vt.test")
                               : i % 3 == 1 ? QStringLiteral("clean.vt.test") : QStringLiteral("nosuch.vt.test"));
    Domains << QStringLiteral("10.7.7.7");
    const QString OutList = SettingsDir() + QStringLiteral("/outlist.txt");
    QRandomGenerator Random(20240518);
    TWatchdog Watchdog;
    int ClosedDuringRun = 0;

    for (int W = 0; W < Windows; ++W) {
        SCOPED_TRACE(W);
        QFile::remove(OutList);
        auto F = NewForm();
        UseLocalDns(*F);
        F->SourceMemo->setPlainText(Domains.join(QLatin1Char('\n')));
        F->ThreadsEdit->setText(QStringLiteral("500"));
        F->LogFileCheckBox->setChecked(false);
        F->DetailedLogCheckBox->setChecked(true);
        ASSERT_TRUE(F->Utils()->DetailedLog());
        // Forced log updates follow each other closely, as the repaints of a
        // busy window do under a window manager: the main thread is inside
        // one of them much of the time.
        F->GetLog()->SetUpdateCount(100);
        F->show();

        Watchdog.Arm(W, 60000);
        F->StartButton->click();
        ASSERT_TRUE(F->Running());
        // The title bar's close button: the window system's close event for
        // the window, delivered wherever the main thread is when it comes.
        QElapsedTimer Clock;
        bool Sent = false;
        bool DuringRun = false;
        QTimer::singleShot(Random.bounded(800), F.get(), [&] {
            DuringRun = F->Running();
            Clock.start();
            Sent = true;
            QCloseEvent Close;
            QCoreApplication::sendEvent(F->windowHandle(), &Close);
        });
        ASSERT_TRUE(WaitServing([&] { return Sent; }, 20000));
        const bool Closed = WaitServing([&] { return !F->isVisible(); }, 10000);
        const qint64 ClosedAfter = Clock.elapsed();
        Watchdog.Disarm();
        ASSERT_TRUE(Closed) << "still open " << ClosedAfter << " ms after the close";
        ClosedDuringRun += DuringRun ? 1 : 0;

        // Closed only with the run over and its results in the lists.
        EXPECT_FALSE(F->Running());
        EXPECT_EQ(F->Utils()->LiveThreads(), 0);
        EXPECT_EQ(F->GetLog()->ActiveThreads(), 0);
        const QStringList Results = Lines(F->ResultMemo);
        EXPECT_EQ(Strs(Results), Strs(F->Utils()->ResultList()->ToQStringList()));
        for (const QString& L : Results)
            EXPECT_TRUE(Valid.contains(L)) << Str(L);
        // Destroying the window saves as a normal close does.
        F.reset();
        EXPECT_TRUE(ReadTestFile(SettingsFile()).contains("Threads=500\r\n"));
        const QString Saved = QString::fromLatin1(ReadTestFile(OutList));
        EXPECT_EQ(Strs(Saved.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)), Strs(Results));
        if (HasFatalFailure() || HasNonfatalFailure())
            break;
    }
    // Most closes came while the run was going.
    EXPECT_GE(ClosedDuringRun, Windows / 2);
}
