#include "FakeControls.h"

#include "engine/uMainThread.h"

#include <QCoreApplication>

namespace {

QStringList MemoLines(const QString& S) {
    QStringList L;
    int Start = 0;
    for (int i = 0; i < S.size(); ++i) {
        if (S[i] == QLatin1Char('\r') || S[i] == QLatin1Char('\n')) {
            L << S.mid(Start, i - Start);
            if (S[i] == QLatin1Char('\r') && i + 1 < S.size() && S[i + 1] == QLatin1Char('\n'))
                ++i;
            Start = i + 1;
        }
    }
    if (Start < S.size())
        L << S.mid(Start);
    return L;
}

}  // namespace

int TFakeMemo::LineCount() const {
    return MemoLines(FText).size();
}

QString TFakeMemo::Line(int AIndex) const {
    return MemoLines(FText).value(AIndex);
}

void TFakeMemo::SetText(const QString& AText) {
    if (!IsMainThread())
        ++FCallsOffMainThread;
    FText = AText;
    FCaret = 0;
    ++FSetTextCalls;
}

void TFakeMemo::ReplaceSelection(const QString& AText) {
    if (!IsMainThread())
        ++FCallsOffMainThread;
    FText.insert(FCaret, AText);
    FCaret += AText.size();
    ++FReplaceCalls;
}

void TFakeListView::InvalidateRect(const QRect& ARect, bool AErase) {
    if (AErase)
        FErased << ARect;
}

TListItem TFakeListView::Row(int AIndex) const {
    TListItem Item;
    Item.Index = AIndex;
    if (FOnData)
        FOnData(Item);
    return Item;
}

void TFakeListView::Select(int AIndex) {
    FSelected = AIndex;
    TListItem Item;
    Item.Index = AIndex;
    if (FOnSelect)
        FOnSelect(Item, AIndex >= 0);
}

TFakeApplication::TFakeApplication() {
    SetApplication(this);
}

TFakeApplication::~TFakeApplication() {
    SetApplication(nullptr);
}

void TFakeApplication::ProcessEvents() {
    ++FProcessCalls;
    QCoreApplication::processEvents();
    ServeHandOffs();
}

bool WaitFor(const std::function<bool()>& ADone, int ATimeoutMSec) {
    return WaitServing(ADone, ATimeoutMSec);
}
