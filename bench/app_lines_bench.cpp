// The window's three lists with a million lines: the domain list read from
// srclist.txt at start, a paste of a million lines over it, and a Resolved
// list of 900,000 addresses. Memory is the process's resident set
// (/proc/self/status): VmRSS for what stays, VmHWM (reset before the step
// through /proc/self/clear_refs) for the peak of a step.

#include "BenchMain.h"
#include "app/QXMainUnit.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <ctime>
#include <functional>

#include <benchmark/benchmark.h>

namespace {

double StatusMB(const char* Key) {
    QFile F(QStringLiteral("/proc/self/status"));
    if (!F.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& Line : F.readAll().split('\n'))
        if (Line.startsWith(Key))
            return Line.mid(qstrlen(Key)).trimmed().split(' ').value(0).toDouble() / 1024;
    return 0;
}

void ResetPeak() {
    QFile F(QStringLiteral("/proc/self/clear_refs"));
    if (F.open(QIODevice::WriteOnly))
        F.write("5");
}

// Names as a real blocklist has them: varied lengths, a few levels.
QByteArray DomainLine(int I) {
    static const char* const Tops[] = {".com", ".net", ".org", ".info", ".co.uk", ".de"};
    QByteArray S = "ads" + QByteArray::number(I * 7919 % 1000003) + ".tracker" + QByteArray::number(I % 977);
    if (I % 3 == 0)
        S = "cdn-" + S;
    return S + Tops[I % 6];
}

// A settings folder "Veltrask" under Home with a small qx.ini and a srclist.txt of N lines.
void MakeSettingsFolder(const QTemporaryDir& Home, int N, const std::function<QByteArray(int)>& Line) {
    QDir(Home.path()).mkpath(QStringLiteral("Veltrask"));
    const QString Dir = Home.filePath(QStringLiteral("Veltrask"));
    QFile Ini(Dir + QStringLiteral("/qx.ini"));
    Ini.open(QIODevice::WriteOnly);
    Ini.write("\xEF\xBB\xBFThreads=500\r\nSrcType=0\r\n");
    QByteArray Src;
    Src.reserve(qsizetype(N) * 28);
    for (int I = 0; I < N; ++I)
        Src += Line(I) + "\r\n";
    QFile L(Dir + QStringLiteral("/srclist.txt"));
    L.open(QIODevice::WriteOnly);
    L.write(Src);
}

// Serves events while Work runs on them, and notes the longest time the
// event loop went without a turn: what a user's click would have waited.
struct TLoopWatch {
    QElapsedTimer Clock;
    qint64 Last = 0, Longest = 0;
    QTimer Tick;
    TLoopWatch() {
        Tick.setInterval(0);
        QObject::connect(&Tick, &QTimer::timeout, [this] {
            const qint64 Now = Clock.elapsed();
            Longest = qMax(Longest, Now - Last);
            Last = Now;
        });
        Clock.start();
        Tick.start();
    }
};

// The window on a settings folder whose srclist.txt holds a million names.
// "start s": creating and showing the window until the list is in its
// control; "window MB": the process's resident memory then. "paste": Ctrl+A
// and a paste of another million lines, until the control holds them, with
// the event loop's longest gap meanwhile ("stall ms") and the peak; "key ms":
// one typed character at the list's top; "undo paste s": Ctrl+Z after the paste.
void BM_MillionLineDomainList(benchmark::State& State) {
    const int N = int(State.range(0));
    QTemporaryDir Home;
    MakeSettingsFolder(Home, N, DomainLine);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(Home.path()));
    const int Keys = 50;
    double StartS = 0, WindowMB = 0, PasteS = 0, PastePeakMB = 0, StallMs = 0, KeyMs = 0, UndoS = 0;
    int Lines = 0, Pasted = 0;
    for (auto _ : State) {
        QElapsedTimer T;
        T.start();
        auto* F = new TQXMainForm;
        F->show();
        while (F->SourceMemo->LineCount() < N)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        StartS = T.elapsed() / 1000.0;
        QCoreApplication::processEvents();
        WindowMB = StatusMB("VmRSS:");
        Lines = F->SourceMemo->LineCount();

        // Typing at the top of the list: each key moves the text after it.
        F->SourceMemo->setFocus();
        T.restart();
        for (int I = 0; I < Keys; ++I) {
            QKeyEvent Key(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
            QCoreApplication::sendEvent(F->SourceMemo, &Key);
        }
        KeyMs = double(T.nsecsElapsed()) / 1e6 / Keys;
        F->SourceMemo->undo();
        {
            QString Paste;
            Paste.reserve(qsizetype(N) * 28);
            for (int I = 0; I < N; ++I)
                Paste += QString::fromLatin1(DomainLine(I + N)) + QLatin1Char('\n');
            QApplication::clipboard()->setText(Paste);
        }
        ResetPeak();
        TLoopWatch Watch;
        T.restart();
        F->SourceMemo->setFocus();
        QTimer::singleShot(0, F, [F] {
            F->SourceMemo->selectAll();
            F->SourceMemo->paste();
        });
        while (F->SourceMemo->toPlainText().startsWith(QLatin1String("cdn-ads0")) || T.elapsed() < 50)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        PasteS = T.elapsed() / 1000.0;
        PastePeakMB = StatusMB("VmHWM:");
        StallMs = double(Watch.Longest);
        Pasted = F->SourceMemo->LineCount();
        T.restart();
        F->SourceMemo->undo();
        UndoS = T.elapsed() / 1000.0;
        if (F->SourceMemo->LineCount() != Lines)
            State.SkipWithError("the undo of the paste did not bring the list back");
        F->SourceMemo->clear(); // not saved over the test's srclist.txt: it is a temporary folder anyway
        delete F;
    }
    State.counters["lines"] = Lines;
    State.counters["pasted lines"] = Pasted;
    State.counters["start s"] = StartS;
    State.counters["window MB"] = WindowMB;
    State.counters["paste s"] = PasteS;
    State.counters["paste peak MB"] = PastePeakMB;
    State.counters["stall ms"] = StallMs;
    State.counters["key ms"] = KeyMs;
    State.counters["undo paste s"] = UndoS;
}

// The Resolved list taking 900,000 addresses as a run's end puts them there;
// "added MB" is the resident memory it adds (the lines' source list lives
// before and after); "process MB before": the window and that source list.
void BM_ResolvedList(benchmark::State& State) {
    const int N = int(State.range(0));
    QTemporaryDir Home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(Home.path()));
    QStringList Addresses;
    Addresses.reserve(N);
    for (int I = 0; I < N; ++I)
        Addresses << QStringLiteral("10.%1.%2.%3").arg(I >> 16 & 255).arg(I >> 8 & 255).arg(I & 255);
    double AddedMB = 0, FillS = 0, EmptyMB = 0;
    int Lines = 0;
    for (auto _ : State) {
        auto* F = new TQXMainForm;
        F->show();
        QCoreApplication::processEvents();
        const double Before = StatusMB("VmRSS:");
        EmptyMB = Before;
        QElapsedTimer T;
        T.start();
        TQXMainForm::SetMemoLines(F->ResultMemo, Addresses);
        QCoreApplication::processEvents();
        FillS = T.elapsed() / 1000.0;
        AddedMB = StatusMB("VmRSS:") - Before;
        Lines = F->ResultMemo->LineCount();
        F->ResultMemo->clear();
        delete F;
    }
    State.counters["lines"] = Lines;
    State.counters["fill s"] = FillS;
    State.counters["added MB"] = AddedMB;
    State.counters["process MB before"] = EmptyMB;
}

// The window started on a settings folder whose srclist.txt holds N domain
// lines, as the user left it: "appear" is creating the window with its
// settings restored and showing it, "usable" until the list is in its
// editor as well; "paste" replaces the whole
// list by 20 lines as Ctrl+A, Ctrl+V would. Memory is the process's growth
// while the window lives.
void BM_WindowStartWithDomainList(benchmark::State& State) {
    const int N = int(State.range(0));
    QTemporaryDir Home;
    MakeSettingsFolder(Home, N, [](int I) { return "host" + QByteArray::number(I) + ".example.com"; });
    const QByteArray OldHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(Home.path()));
    QString Paste;
    for (int I = 0; I < 20; ++I)
        Paste += QStringLiteral("pasted%1.example.com\n").arg(I);
    double Appear = 0, AppearCPU = 0, Start = 0, Paste2 = 0, Memory = 0, Close = 0, StartCPU = 0, PasteCPU = 0;
    // CPU seconds of the process: on a busy machine the wall time says more about the others.
    const auto CPU = [] { return double(std::clock()) / CLOCKS_PER_SEC; };
    int Lines = 0, Pasted = 0;
    for (auto _ : State) {
        const double Before = StatusMB("VmRSS:");
        QElapsedTimer T;
        T.start();
        double C0 = CPU();
        auto* F = new TQXMainForm;
        F->show();
        QCoreApplication::processEvents();
        Appear = T.elapsed() / 1000.0;
        AppearCPU = CPU() - C0;
        // Usable: the list is in the editor (a big one is read once the window is shown).
        while (F->SourceMemo->blockCount() < 2)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        Start = T.elapsed() / 1000.0;
        StartCPU = CPU() - C0;
        Memory = StatusMB("VmRSS:") - Before;
        Lines = int(TQXMainForm::MemoLines(F->SourceMemo).size());
        T.restart();
        C0 = CPU();
        QGuiApplication::clipboard()->setText(Paste);
        F->SourceMemo->selectAll();
        F->SourceMemo->paste();
        QCoreApplication::processEvents();
        Paste2 = T.elapsed() / 1000.0;
        PasteCPU = CPU() - C0;
        Pasted = int(TQXMainForm::MemoLines(F->SourceMemo).size());
        T.restart();
        F->close();
        delete F;
        Close = T.elapsed() / 1000.0;
    }
    qputenv("XDG_CONFIG_HOME", OldHome);
    State.counters["lines"] = Lines;
    State.counters["lines after paste"] = Pasted;
    State.counters["appear s"] = Appear;
    State.counters["appear CPU s"] = AppearCPU;
    State.counters["usable s"] = Start;
    State.counters["paste s"] = Paste2;
    State.counters["usable CPU s"] = StartCPU;
    State.counters["paste CPU s"] = PasteCPU;
    State.counters["close s"] = Close;
    State.counters["memory MB"] = Memory;
}

} // namespace

BENCHMARK(BM_WindowStartWithDomainList)->Arg(1000000)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_MillionLineDomainList)->Arg(1000000)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_ResolvedList)->Arg(900000)->Unit(benchmark::kSecond)->Iterations(1);

VT_BENCHMARK_MAIN_WITH(QApplication)
