#include "ResolveHarness.h"

#include "engine/uMainThread.h"

#include <climits>

int TCaptureMemo::LineCount() const {
    if (FText.isEmpty())
        return 0;
    QStringList L = FText.split(QStringLiteral("\r\n"));
    if (L.last().isEmpty())
        L.removeLast();
    return int(L.size());
}

QString TCaptureMemo::Line(int AIndex) const { return FText.split(QStringLiteral("\r\n")).value(AIndex); }

void TCaptureMemo::SetText(const QString& AText) {
    FText = AText;
    FSelStart = 0;
}

void TCaptureMemo::ReplaceSelection(const QString& AText) {
    FText.insert(qMin<qsizetype>(FSelStart, FText.size()), AText);
    FSelStart += int(AText.size());
    FAll += AText;
}

TResolveRun::TResolveRun() : Utils(&Progress, &Log) {
    Log.SetLogMemo(&Memo);
    Log.SetUpdatePeriod(0);
    Log.SetMaxLogLines(INT_MAX / 4);
    Utils.SetPauseMSec(0);
    Utils.SetDNSTimeoutMSec(2000);
    Utils.SetThreads(1);
    Utils.SetOutFormat(QStringLiteral("%ip%"));
    Utils.SetCustomOutFormat(true);
    Progress.BeforeStart = [this](TProgress*, bool& Allow) {
        Allow = true;
        Ended = false;
        Log.ClearLog();
        Memo.ClearAll();
        Utils.BeforeStart();
    };
    Progress.OnStart = [this](TProgress*) {
        Utils.StartResolveThreads();
        if (AfterThreadsStarted)
            AfterThreadsStarted();
    };
    Progress.AfterStop = [this](TProgress*) {
        Utils.AfterStop();
        ++AfterStopCount;
        Ended = true;
    };
}

TResolveRun::~TResolveRun() {
    // Never leave workers running into freed objects.
    if (!Utils.Terminated() || Utils.LiveThreads() > 0)
        Utils.BreakAndWait(60000);
}

void TResolveRun::Start() { Progress.StartProgress(); }

bool TResolveRun::WaitEnd(int ATimeoutMSec) {
    return WaitServing([this] { return Ended && Utils.LiveThreads() == 0; }, ATimeoutMSec);
}

bool TResolveRun::Run(int ATimeoutMSec) {
    Start();
    return WaitEnd(ATimeoutMSec);
}

QString TResolveRun::LogText() {
    Log.Flush();
    return Memo.All();
}

QStringList TResolveRun::LogLines() {
    QStringList L = LogText().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    // Drop the "[date] [tid] " prefix so that the tests see the bare messages.
    for (QString& S : L) {
        if (S.startsWith(QLatin1Char('['))) {
            const qsizetype P = S.indexOf(QStringLiteral("] ["));
            const qsizetype Q = P < 0 ? -1 : S.indexOf(QStringLiteral("] "), P + 3);
            if (Q >= 0)
                S = S.mid(Q + 2);
        }
    }
    return L;
}

QStringList ToQStringList(const TStringList* AList) {
    QStringList L;
    for (int I = 0; I < AList->Count(); ++I)
        L << AList->Get(I);
    return L;
}

QStringList SortedLines(const TStringList* AList) {
    QStringList L = ToQStringList(AList);
    L.sort();
    return L;
}

QStringList TResolveRun::SortedResult() const { return SortedLines(Utils.ResultList()); }
QStringList TResolveRun::SortedAdded() const { return SortedLines(Utils.AddedList()); }

namespace {
void Fill(TStringList& AList, const QStringList& ALines) {
    for (const QString& S : ALines)
        AList.Add(S);
}
} // namespace

void TResolveRun::SetDomains(const QStringList& ALines) {
    TStringList L;
    Fill(L, ALines);
    Utils.SetSourceMode(srcList);
    Utils.AssignDomainList(&L);
}

void TResolveRun::SetDNS(const QStringList& ALines) {
    TStringList L;
    Fill(L, ALines);
    Utils.AssignDNSList(&L);
}

void TResolveRun::SetRBL(TBLMode AMode, const QStringList& AZones) {
    TStringList L;
    Fill(L, AZones);
    Utils.AssignRBLServices(&L);
    Utils.SetRBLMode(AMode);
}

void TResolveRun::SetRBL6(TBLMode AMode, const QStringList& AZones) {
    TStringList L;
    Fill(L, AZones);
    Utils.AssignRBL6Services(&L);
    Utils.SetRBLMode(AMode);
}

void TResolveRun::SetDBL(TBLMode AMode, const QStringList& AZones) {
    TStringList L;
    Fill(L, AZones);
    Utils.AssignDBLServices(&L);
    Utils.SetDBLMode(AMode);
}

void PrintTo(const QString& S, std::ostream* AStream) { *AStream << '"' << S.toStdString() << '"'; }

std::string DiffSorted(const QStringList& AExpected, const QStringList& AActual) {
    QStringList Missing, Extra;
    qsizetype I = 0, J = 0;
    while (I < AExpected.size() || J < AActual.size()) {
        if (J >= AActual.size() || (I < AExpected.size() && AExpected[I] < AActual[J]))
            Missing << AExpected[I++];
        else if (I >= AExpected.size() || AActual[J] < AExpected[I])
            Extra << AActual[J++];
        else
            ++I, ++J;
    }
    if (Missing.isEmpty() && Extra.isEmpty())
        return std::string();
    return QString("%1 expected, %2 got; %3 missing (%4) ; %5 extra (%6)")
        .arg(AExpected.size())
        .arg(AActual.size())
        .arg(Missing.size())
        .arg(Missing.mid(0, 10).join(", "))
        .arg(Extra.size())
        .arg(Extra.mid(0, 10).join(", "))
        .toStdString();
}
