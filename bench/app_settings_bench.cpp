// Saving and loading qx.ini with one big memo, the window's own path: the
// memo's lines into a fresh name=value list (SaveCtrls), the list to the file
// (SaveSettingsFile); and back (LoadSettingsFile, LoadCtrls into a memo).
// The other controls of the window's two tables come after the memo, so a
// reader that stopped early would be seen in the "keys" counter.

#include "app/QXMainUnit.h"
#include "app/uStoredSettings.h"
#include "containers/VHashedStringList.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <ctime>
#include <QFile>
#include <QDir>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextDocument>

#include <benchmark/benchmark.h>

namespace {

// A memo of N zone names, "zone123456.dbl.example", as a DBL list would be.
QString MemoText(int N) {
    QString Text;
    Text.reserve(qsizetype(N) * 24);
    for (int I = 0; I < N; ++I)
        Text += QStringLiteral("zone%1.dbl.example\n").arg(I);
    return Text;
}

struct TControls {
    QPlainTextEdit Memo;
    QCheckBox Check;
    QLineEdit Threads{QStringLiteral("500")};
    QLineEdit LogFile{QStringLiteral("/tmp/veltrask.log")};

    TCtrlRecs Table() {
        return {MakeCtrlRec(&Memo, QStringLiteral("DBLServices")),
                MakeCtrlRec(&Check, QStringLiteral("RBLCheck")),
                MakeCtrlRec(&Threads, QStringLiteral("Threads")),
                MakeCtrlRec(&LogFile, QStringLiteral("LogFileName"))};
    }
};

void SaveFile(TControls& C, const QString& Path) {
    TVHashedStringList Values(SettingsHashBuckets);
    SaveCtrls(Values, StoredSettingsPassphrase(), C.Table());
    SaveSettingsFile(Values, Path);
}

void BM_SaveMemoToSettingsFile(benchmark::State& State) {
    const int N = int(State.range(0));
    QTemporaryDir Dir;
    const QString Path = Dir.filePath(QStringLiteral("qx.ini"));
    TControls C;
    C.Memo.setPlainText(MemoText(N));
    for (auto _ : State)
        SaveFile(C, Path);
    State.counters["lines"] = N;
    State.counters["file MB"] = double(QFileInfo(Path).size()) / 1e6;
}

void BM_LoadMemoFromSettingsFile(benchmark::State& State) {
    const int N = int(State.range(0));
    QTemporaryDir Dir;
    const QString Path = Dir.filePath(QStringLiteral("qx.ini"));
    {
        TControls C;
        C.Memo.setPlainText(MemoText(N));
        C.Check.setChecked(true);
        SaveFile(C, Path);
    }
    int Restored = 0;
    int Keys = 0;
    for (auto _ : State) {
        TControls C;
        TVHashedStringList Values(SettingsHashBuckets);
        LoadSettingsFile(Values, Path);
        LoadCtrls(Values, StoredSettingsPassphrase(), C.Table());
        Restored = C.Memo.blockCount() - 1;  // the text ends with a break
        Keys = int(C.Check.isChecked()) + int(C.Threads.text() == QLatin1String("500"));
        State.PauseTiming();  // freeing the memo is not part of loading
        C.Memo.clear();
        State.ResumeTiming();
    }
    State.counters["lines"] = Restored;
    State.counters["keys"] = Keys;
}

// The same file read into the name=value list and the memo's line block
// built, without handing the text to the editor: the store's own share.
void BM_LoadMemoLinesWithoutEditor(benchmark::State& State) {
    const int N = int(State.range(0));
    QTemporaryDir Dir;
    const QString Path = Dir.filePath(QStringLiteral("qx.ini"));
    {
        TControls C;
        C.Memo.setPlainText(MemoText(N));
        SaveFile(C, Path);
    }
    qsizetype Chars = 0;
    for (auto _ : State) {
        TVHashedStringList Values(SettingsHashBuckets);
        LoadSettingsFile(Values, Path);
        Chars = LoadLines(Values, QStringLiteral("DBLServices")).size();
    }
    State.counters["chars"] = double(Chars);
}

// The editor alone taking a text of N lines (QPlainTextEdit::setPlainText).
void BM_EditorSetPlainText(benchmark::State& State) {
    const QString Text = MemoText(int(State.range(0)));
    for (auto _ : State) {
        QPlainTextEdit Memo;
        Memo.setPlainText(Text);
        State.PauseTiming();
        Memo.clear();
        State.ResumeTiming();
    }
}

// Resident memory of the process in MB (VmRSS), or 0 where /proc is not there.
double ResidentMB() {
    QFile F(QStringLiteral("/proc/self/status"));
    if (!F.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& Line : F.readAll().split('\n'))
        if (Line.startsWith("VmRSS:"))
            return Line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    return 0;
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
    QDir(Home.path()).mkpath(QStringLiteral("Veltrask"));
    const QString Dir = Home.filePath(QStringLiteral("Veltrask"));
    {
        QFile Ini(Dir + QStringLiteral("/qx.ini"));
        Ini.open(QIODevice::WriteOnly);
        Ini.write("\xEF\xBB\xBFThreads=500\r\nSrcType=0\r\n");
        QByteArray Src;
        Src.reserve(qsizetype(N) * 24);
        for (int I = 0; I < N; ++I)
            Src += "host" + QByteArray::number(I) + ".example.com\r\n";
        QFile L(Dir + QStringLiteral("/srclist.txt"));
        L.open(QIODevice::WriteOnly);
        L.write(Src);
    }
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
        const double Before = ResidentMB();
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
        Memory = ResidentMB() - Before;
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
BENCHMARK(BM_LoadMemoLinesWithoutEditor)->Arg(100000)->Arg(1000000)->Unit(benchmark::kSecond)->Iterations(3);
BENCHMARK(BM_EditorSetPlainText)->Arg(100000)->Arg(1000000)->Unit(benchmark::kSecond)->Iterations(3);
BENCHMARK(BM_SaveMemoToSettingsFile)->Arg(100000)->Arg(1000000)->Unit(benchmark::kSecond)->Iterations(3);
BENCHMARK(BM_LoadMemoFromSettingsFile)->Arg(100000)->Arg(1000000)->Unit(benchmark::kSecond)->Iterations(3);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
