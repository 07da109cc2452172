// Domain File naming a FIFO that never gets a writer: the run waits for input
// that does not come, and Break or the window's close must still end it at once.
#include "MainFormTestWindow.h"

#include "app/ButtonExUnit.h"
#include "engine/uLog.h"
#include "engine/uMainThread.h"
#include "resolve/QXUtilsUnit.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QWindow>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using MainFormFifo = TMainFormTest;

// Lets a worker stuck in open() go, so that a failing test can still end.
void OpenAndCloseWriter(const QString& AFifo) {
    const int Fd = ::open(QFile::encodeName(AFifo).constData(), O_WRONLY | O_NONBLOCK);
    if (Fd >= 0)
        ::close(Fd);
}

} // namespace

TEST_F(MainFormFifo, BreakAndCloseEndARunOnAFifoWithoutWriterWithinASecond) {
    const QString Fifo = TempPath(QStringLiteral("domains.fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(Fifo).constData(), 0600), 0);
    auto F = NewForm();
    F->DNSMemo->setPlainText(QStringLiteral("127.0.0.1:1"));
    F->SourcePageControl->setCurrentIndex(1);
    F->SourceFileEdit->setText(Fifo);
    F->ThreadsEdit->setText(QStringLiteral("20"));
    F->show();

    // Break.
    F->StartButton->click();
    ASSERT_TRUE(F->Running()) << Str(F->BoxTexts().join('|'));
    ASSERT_FALSE(WaitServing([&] { return !F->Running(); }, 500));
    QElapsedTimer Clock;
    Clock.start();
    F->BreakButton->click();
    const bool Ended = WaitServing([&] { return !F->Running() && F->Utils()->LiveThreads() == 0; }, 5000);
    if (!Ended)
        OpenAndCloseWriter(Fifo);
    ASSERT_TRUE(Ended) << "Break did not end the run; caption: " << Str(F->windowTitle());
    EXPECT_LT(Clock.elapsed(), 1000);
    EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));

    // Close through the title bar while the next run waits.
    F->StartButton->click();
    ASSERT_TRUE(F->Running());
    ASSERT_FALSE(WaitServing([&] { return !F->Running(); }, 500));
    Clock.restart();
    QCloseEvent Close;
    QCoreApplication::sendEvent(F->windowHandle(), &Close);
    const bool Closed = WaitServing([&] { return !F->isVisible() && F->Utils()->LiveThreads() == 0; }, 5000);
    if (!Closed)
        OpenAndCloseWriter(Fifo);
    ASSERT_TRUE(Closed) << "still open; caption: " << Str(F->windowTitle());
    EXPECT_LT(Clock.elapsed(), 1000);
    EXPECT_EQ(F->GetLog()->ActiveThreads(), 0);
}

TEST_F(MainFormFifo, ADomainFileThatCannotBeReadIsReportedAsARunError) {
    auto F = NewForm();
    F->DNSMemo->setPlainText(QStringLiteral("127.0.0.1:1"));
    F->SourcePageControl->setCurrentIndex(1);
    F->SourceFileEdit->setText(QStringLiteral("/proc/self/mem"));
    ASSERT_TRUE(F->RunAndWait());
    EXPECT_TRUE(F->StartButton->isEnabled());
    // Shown as other run errors are: in the status, without a box.
    EXPECT_EQ(Str(F->StatusLabel->text()), "Failed: Cannot read file \"/proc/self/mem\". Input/output error");
    QCoreApplication::processEvents();
    EXPECT_TRUE(F->Boxes.isEmpty()) << Str(F->BoxTexts().join('|'));
}
