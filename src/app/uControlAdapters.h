#pragma once

#include "engine/uControls.h"

#include <QPointer>

class QAbstractButton;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class TListViewEx;

// The engine's control interfaces over the window's widgets. Every call comes
// from the main thread; a widget that is gone makes the calls do nothing.

class TMemoAdapter : public TMemoControl {
public:
    explicit TMemoAdapter(QPlainTextEdit* AMemo);
    int LineCount() const override;
    QString Line(int AIndex) const override;
    void SetText(const QString& AText) override;
    int TextLength() const override;
    void SetSelStart(int APosition) override;
    void ReplaceSelection(const QString& AText) override;

private:
    QPointer<QPlainTextEdit> FMemo;
};

class TListViewAdapter : public TListViewControl {
public:
    explicit TListViewAdapter(TListViewEx* AView);
    int RowCount() const override;
    void SetRowCount(int ACount) override;
    void Repaint() override;
    QRect ItemRect(int AIndex) const override;
    void InvalidateRect(const QRect& ARect, bool AErase) override;
    int SelectedIndex() const override;
    void SetOnData(TListViewDataEvent AHandler) override;
    void SetOnSelectItem(TListViewSelectEvent AHandler) override;

private:
    QPointer<TListViewEx> FView;
};

class TButtonAdapter : public TButtonControl {
public:
    explicit TButtonAdapter(QAbstractButton* AButton);
    ~TButtonAdapter() override;
    bool Enabled() const override;
    void SetEnabled(bool AValue) override;
    bool Visible() const override;
    void SetVisible(bool AValue) override;
    void SetOnClick(TClickEvent AHandler) override;

private:
    QPointer<QAbstractButton> FButton;
    TClickEvent FOnClick;
    QMetaObject::Connection FConnection;
};

class TLabelAdapter : public TLabelControl {
public:
    explicit TLabelAdapter(QLabel* ALabel);
    QString Text() const override;
    void SetText(const QString& AText) override;
    bool Visible() const override;
    void SetVisible(bool AValue) override;

private:
    QPointer<QLabel> FLabel;
};

class TProgressBarAdapter : public TProgressBarControl {
public:
    explicit TProgressBarAdapter(QProgressBar* ABar);
    void SetMin(int AValue) override;
    void SetMax(int AValue) override;
    void SetPosition(int AValue) override;
    bool Visible() const override;
    void SetVisible(bool AValue) override;

private:
    QPointer<QProgressBar> FBar;
};
