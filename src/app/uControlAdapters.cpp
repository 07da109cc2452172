#include "app/uControlAdapters.h"

#include "app/ListViewExUnit.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace {

// The memo keeps LF internally; the engine counts CR LF per break.
QString ToLF(QString S) {
    S.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    S.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return S;
}

} // namespace

// --- TMemoAdapter ----------------------------------------------------------

TMemoAdapter::TMemoAdapter(QPlainTextEdit* AMemo) : FMemo(AMemo) {}

int TMemoAdapter::LineCount() const {
    if (!FMemo)
        return 0;
    const QTextDocument* Doc = FMemo->document();
    int N = Doc->blockCount();
    if (N > 0 && Doc->lastBlock().text().isEmpty())
        --N;
    return N;
}

QString TMemoAdapter::Line(int AIndex) const {
    if (!FMemo)
        return QString();
    return FMemo->document()->findBlockByNumber(AIndex).text();
}

void TMemoAdapter::SetText(const QString& AText) {
    if (FMemo)
        FMemo->setPlainText(ToLF(AText));
}

int TMemoAdapter::TextLength() const {
    if (!FMemo)
        return 0;
    const QTextDocument* Doc = FMemo->document();
    // characterCount counts one separator per block plus a final one.
    return Doc->characterCount() - 1 + (Doc->blockCount() - 1);
}

void TMemoAdapter::SetSelStart(int APosition) {
    if (!FMemo)
        return;
    // Convert from CR LF positions to the document's, block by block.
    int Remaining = APosition;
    int DocPos = 0;
    for (QTextBlock B = FMemo->document()->begin(); B.isValid(); B = B.next()) {
        const int Len = B.length() - 1; // without the separator
        if (Remaining <= Len || !B.next().isValid()) {
            DocPos = B.position() + qMin(Remaining, Len);
            break;
        }
        Remaining -= Len + 2;
        if (Remaining < 0) {
            DocPos = B.position() + Len;
            break;
        }
    }
    QTextCursor C = FMemo->textCursor();
    C.setPosition(DocPos);
    FMemo->setTextCursor(C);
}

void TMemoAdapter::ReplaceSelection(const QString& AText) {
    if (!FMemo)
        return;
    QTextCursor C = FMemo->textCursor();
    C.insertText(ToLF(AText));
    FMemo->setTextCursor(C);
    FMemo->ensureCursorVisible();
}

// --- TListViewAdapter ------------------------------------------------------

TListViewAdapter::TListViewAdapter(TListViewEx* AView) : FView(AView) {}

int TListViewAdapter::RowCount() const { return FView ? FView->ItemCount() : 0; }

void TListViewAdapter::SetRowCount(int ACount) {
    if (FView)
        FView->SetItemCount(ACount);
}

void TListViewAdapter::Repaint() {
    if (FView)
        FView->RepaintAll();
}

QRect TListViewAdapter::ItemRect(int AIndex) const { return FView ? FView->ItemRect(AIndex) : QRect(); }

void TListViewAdapter::InvalidateRect(const QRect& ARect, bool) {
    if (FView)
        FView->InvalidateRect(ARect);
}

int TListViewAdapter::SelectedIndex() const { return FView ? FView->SelectedIndex() : -1; }

void TListViewAdapter::SetOnData(TListViewDataEvent AHandler) {
    if (!FView)
        return;
    if (!AHandler) {
        FView->SetOnData(nullptr);
        return;
    }
    FView->SetOnData([AHandler](TListViewEx*, int Item, QString& Caption, QStringList& SubItems) {
        TListItem LI;
        LI.Index = Item;
        AHandler(LI);
        Caption = LI.Caption;
        SubItems = LI.SubItems;
    });
}

void TListViewAdapter::SetOnSelectItem(TListViewSelectEvent AHandler) {
    if (!FView)
        return;
    if (!AHandler) {
        FView->SetOnSelectItem(nullptr);
        return;
    }
    FView->SetOnSelectItem([AHandler](TListViewEx*, int Item, bool Selected) {
        TListItem LI;
        LI.Index = Item;
        AHandler(LI, Selected);
    });
}

// --- TButtonAdapter --------------------------------------------------------

TButtonAdapter::TButtonAdapter(QAbstractButton* AButton) : FButton(AButton) {}

TButtonAdapter::~TButtonAdapter() { QObject::disconnect(FConnection); }

bool TButtonAdapter::Enabled() const { return FButton && FButton->isEnabled(); }

void TButtonAdapter::SetEnabled(bool AValue) {
    if (FButton)
        FButton->setEnabled(AValue);
}

bool TButtonAdapter::Visible() const { return FButton && !FButton->isHidden(); }

void TButtonAdapter::SetVisible(bool AValue) {
    if (FButton)
        FButton->setVisible(AValue);
}

void TButtonAdapter::SetOnClick(TClickEvent AHandler) {
    QObject::disconnect(FConnection);
    FOnClick = std::move(AHandler);
    if (FButton && FOnClick)
        FConnection = QObject::connect(FButton, &QAbstractButton::clicked, FButton, [this] {
            if (FOnClick)
                FOnClick();
        });
}

// --- TLabelAdapter ---------------------------------------------------------

TLabelAdapter::TLabelAdapter(QLabel* ALabel) : FLabel(ALabel) {}

QString TLabelAdapter::Text() const { return FLabel ? FLabel->text() : QString(); }

void TLabelAdapter::SetText(const QString& AText) {
    if (FLabel)
        FLabel->setText(AText);
}

bool TLabelAdapter::Visible() const { return FLabel && !FLabel->isHidden(); }

void TLabelAdapter::SetVisible(bool AValue) {
    if (FLabel)
        FLabel->setVisible(AValue);
}

// --- TProgressBarAdapter ---------------------------------------------------

TProgressBarAdapter::TProgressBarAdapter(QProgressBar* ABar) : FBar(ABar) {}

void TProgressBarAdapter::SetMin(int AValue) {
    if (FBar)
        FBar->setMinimum(AValue);
}

void TProgressBarAdapter::SetMax(int AValue) {
    if (FBar)
        FBar->setMaximum(AValue);
}

void TProgressBarAdapter::SetPosition(int AValue) {
    if (FBar)
        FBar->setValue(AValue);
}

bool TProgressBarAdapter::Visible() const { return FBar && !FBar->isHidden(); }

void TProgressBarAdapter::SetVisible(bool AValue) {
    if (FBar)
        FBar->setVisible(AValue);
}
