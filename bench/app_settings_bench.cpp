// Saving and loading qx.ini with one big memo, the window's own path: the
// memo's lines into a fresh name=value list (SaveCtrls), the list to the file
// (SaveSettingsFile); and back (LoadSettingsFile, LoadCtrls into a memo).
// The other controls of the window's two tables come after the memo, so a
// reader that stopped early would be seen in the "keys" counter.

#include "BenchMain.h"
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

} // namespace

BENCHMARK(BM_LoadMemoLinesWithoutEditor)->Arg(100000)->Arg(1000000)->Unit(benchmark::kSecond)->Iterations(3);
BENCHMARK(BM_EditorSetPlainText)->Arg(100000)->Arg(1000000)->Unit(benchmark::kSecond)->Iterations(3);
BENCHMARK(BM_SaveMemoToSettingsFile)->Arg(100000)->Arg(1000000)->Unit(benchmark::kSecond)->Iterations(3);
BENCHMARK(BM_LoadMemoFromSettingsFile)->Arg(100000)->Arg(1000000)->Unit(benchmark::kSecond)->Iterations(3);

VT_BENCHMARK_MAIN_WITH(QApplication)
