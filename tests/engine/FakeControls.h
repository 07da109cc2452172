#pragma once

#include "engine/uControls.h"
#include "engine/uThread.h"

#include <atomic>

#include <QList>
#include <QRect>
#include <QString>

// Controls that record what the engine did to them.

class TFakeMemo : public TMemoControl {
public:
    int LineCount() const override;
    QString Line(int AIndex) const override;
    void SetText(const QString& AText) override;
    int TextLength() const override { return FText.size(); }
    void SetSelStart(int APosition) override { FCaret = APosition; }
    void ReplaceSelection(const QString& AText) override;

    QString FText;
    int FCaret = 0;
    int FSetTextCalls = 0;
    std::atomic<int> FReplaceCalls{0};
    std::atomic<int> FCallsOffMainThread{0};
};

class TFakeListView : public TListViewControl {
public:
    int RowCount() const override { return FRowCount; }
    void SetRowCount(int ACount) override { FRowCount = ACount; }
    void Repaint() override { ++FRepaints; }
    QRect ItemRect(int AIndex) const override { return QRect(0, AIndex * 20, 100, 20); }
    void InvalidateRect(const QRect& ARect, bool AErase) override;
    int SelectedIndex() const override { return FSelected; }
    void SetOnData(TListViewDataEvent AHandler) override { FOnData = std::move(AHandler); }
    void SetOnSelectItem(TListViewSelectEvent AHandler) override { FOnSelect = std::move(AHandler); }

    // What the view would show in row AIndex.
    TListItem Row(int AIndex) const;
    // The user selects row AIndex (-1: none).
    void Select(int AIndex);

    int FRowCount = 0;
    int FRepaints = 0;
    int FSelected = -1;
    QList<QRect> FErased;
    TListViewDataEvent FOnData;
    TListViewSelectEvent FOnSelect;
};

class TFakeButton : public TButtonControl {
public:
    bool Enabled() const override { return FEnabled; }
    void SetEnabled(bool AValue) override { FEnabled = AValue; }
    bool Visible() const override { return FVisible; }
    void SetVisible(bool AValue) override { FVisible = AValue; ++FVisibilityChanges; }
    void SetOnClick(TClickEvent AHandler) override { FOnClick = std::move(AHandler); }
    void Click() { if (FOnClick) FOnClick(); }

    bool FEnabled = true;
    bool FVisible = true;
    int FVisibilityChanges = 0;
    TClickEvent FOnClick;
};

class TFakeLabel : public TLabelControl {
public:
    QString Text() const override { return FText; }
    void SetText(const QString& AText) override { FText = AText; }
    bool Visible() const override { return FVisible; }
    void SetVisible(bool AValue) override { FVisible = AValue; }

    QString FText;
    bool FVisible = true;
};

class TFakeProgressBar : public TProgressBarControl {
public:
    void SetMin(int AValue) override { FMin = AValue; }
    void SetMax(int AValue) override { FMax = AValue; }
    void SetPosition(int AValue) override { FPosition = AValue; }
    bool Visible() const override { return FVisible; }
    void SetVisible(bool AValue) override { FVisible = AValue; }

    int FMin = -1;
    int FMax = -1;
    int FPosition = -1;
    bool FVisible = true;
};

// Installed for the lifetime of the object; counts what the engine asked of it.
class TFakeApplication : public TApplicationControl {
public:
    TFakeApplication();
    ~TFakeApplication() override;
    void CloseMainWindow() override { ++FCloseCalls; }
    void ProcessEvents() override;

    int FCloseCalls = 0;
    int FProcessCalls = 0;
};

// Processes events and hand-offs until ADone or ATimeoutMSec.
bool WaitFor(const std::function<bool()>& ADone, int ATimeoutMSec = 10000);

// A thread running a given body; AOnDestroy runs in its destructor, in the thread.
class TLambdaThread : public TThread {
public:
    TLambdaThread(std::function<void(TLambdaThread*)> ABody, std::function<void(TLambdaThread*)> AOnDestroy = {})
        : FBody(std::move(ABody)), FOnDestroy(std::move(AOnDestroy)) {}
    ~TLambdaThread() override { if (FOnDestroy) FOnDestroy(this); }

protected:
    void Execute() override { FBody(this); }

private:
    std::function<void(TLambdaThread*)> FBody;
    std::function<void(TLambdaThread*)> FOnDestroy;
};
