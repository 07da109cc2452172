#include "app/QXMainUnit.h"

#include "app/ButtonExUnit.h"
#include "app/ListViewExUnit.h"
#include "app/uControlAdapters.h"
#include "app/uMemo.h"
#include "app/uRunOutcome.h"
#include "app/uStoredSettings.h"
#include "containers/VHashedStringList.h"
#include "containers/uFileUtils.h"
#include "containers/uIntList.h"
#include "engine/uFormat.h"
#include "engine/uLog.h"
#include "engine/uProgress.h"
#include "resolve/QXUtilsUnit.h"
#include "resolve/dns/IdDNSServer.h"
#include "resolve/uRulePresets.h"
#include "resolve/uRuleWriter.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QScopedValueRollback>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const char* const AppTitle = "Veltrask";
const char* const AppVersion = VELTRASK_VERSION;
const int ClientWidth = 1022;
const int ClientHeight = 610;
const int LeftColumnWidth = 313;
const int BorderWidth = 8;

// The zones a new installation starts with: one domain list, one address list.
const char* const DefaultDBLZone = "dbl.spamhaus.org";
const char* const DefaultRBLZone = "zen.spamhaus.org";

const char* const ListFileFilter = "Text files (*.txt)|*.txt|CSV files (*.csv)|*.csv|All files (*.*)|*.*";
const char* const LogFileFilter = "Text files (*.txt)|*.txt|All files (*.*)|*.*";

const char* const SourceListFileName = "srclist.txt";
const char* const ResultListFileName = "outlist.txt";
const char* const AddedListFileName = "newlist.txt";
// List files above this size are read once the window is shown (about 150,000 lines).
const qint64 DeferredListBytes = qint64(4) << 20;

// One log line for a list file that is not UTF-8, so that the user knows
// which file is read, and kept, in the 8-bit encoding.
void LogLegacyListFile(TLog* Log, const QString& FileName, const std::optional<TMemoEncoding>& Encoding) {
    if (Log != nullptr && Encoding && Encoding->Legacy8Bit)
        Log->LogDT(QStringLiteral("List file \"%1\" is not UTF-8: read as %2")
                       .arg(QDir::toNativeSeparators(FileName), Legacy8BitEncodingName()));
}

// "Desc|mask|Desc|mask" to Qt's "Desc (mask);;Desc (mask)"; "*.*" means every file here.
QStringList DialogFilters(const QString& Filter) {
    const QStringList Parts = Filter.split(QLatin1Char('|'));
    QStringList Result;
    for (int i = 0; i + 1 < Parts.size(); i += 2) {
        QString Desc = Parts[i];
        const int Paren = Desc.indexOf(QLatin1String(" ("));
        if (Paren >= 0)
            Desc.truncate(Paren);
        QString Mask = Parts[i + 1];
        Mask.replace(QLatin1String("*.*"), QLatin1String("*"));
        Mask.replace(QLatin1Char(';'), QLatin1Char(' '));
        Result << QStringLiteral("%1 (%2)").arg(Desc, Mask);
    }
    return Result;
}

QFileDialog* MakeDialog(QWidget* Owner, const char* Name, const char* Filter, bool Save) {
    auto* D = new QFileDialog(Owner);
    D->setObjectName(QLatin1String(Name));
    D->setNameFilters(DialogFilters(QLatin1String(Filter)));
    D->setOption(QFileDialog::ReadOnly, false);
    D->setSizeGripEnabled(true);
    if (Save) {
        D->setAcceptMode(QFileDialog::AcceptSave);
        D->setFileMode(QFileDialog::AnyFile);
        D->setDefaultSuffix(QStringLiteral("txt"));
    } else {
        D->setAcceptMode(QFileDialog::AcceptOpen);
        D->setFileMode(QFileDialog::ExistingFile);
    }
    return D;
}

template <class T> T* Named(T* W, const char* Name) {
    W->setObjectName(QLatin1String(Name));
    return W;
}

QPlainTextEdit* MakeMemo(const char* Name) {
    auto* M = Named(new TMemo, Name);
    M->setLineWrapMode(QPlainTextEdit::NoWrap);
    M->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // No line of a list can use a tab: Tab moves on, so focus never gets stuck.
    M->setTabChangesFocus(true);
    return M;
}

// The domain list and the two result lists: a million lines stay light.
TLinesEdit* MakeListEdit(const char* Name) {
    auto* M = Named(new TLinesEdit, Name);
    M->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return M;
}

QComboBox* MakeCombo(const char* Name, const QStringList& Items) {
    auto* C = Named(new QComboBox, Name);
    C->setEditable(false);
    C->addItems(Items);
    C->setCurrentIndex(0);
    return C;
}

QWidget* Row(std::initializer_list<QWidget*> Widgets, bool StretchAtEnd = true) {
    auto* W = new QWidget;
    auto* L = new QHBoxLayout(W);
    L->setContentsMargins(0, 0, 0, 0);
    for (QWidget* Child : Widgets)
        L->addWidget(Child);
    if (StretchAtEnd)
        L->addStretch(1);
    return W;
}

TButton* MakeButton(const QString& Caption, QWidget* Parent = nullptr) {
    auto* B = new TButton(Parent);
    B->setText(Caption);
    return B;
}

QStringList BlModeItems() { return {QStringLiteral("Suppress blacklisted"), QStringLiteral("Out blacklisted")}; }
QStringList DelimiterItems() {
    return {QStringLiteral("End-Of-Line"), QStringLiteral("Comma"), QStringLiteral("Semicolon")};
}

// Runs Proc; the message of an error it raises, or nothing. Handlers of the
// window show such errors in a box and go on.
template <class TProc> std::optional<QString> Catch(TProc&& Proc) {
    try {
        Proc();
    } catch (const Exception& E) {
        return E.Message();
    } catch (const std::exception& E) {
        return QString::fromLocal8Bit(E.what());
    }
    return std::nullopt;
}

// The run's status: a sentence of any length that never widens the window.
// Drawn elided in the middle when longer than its room (both ends of a
// file's name and of a reason carry meaning); text() keeps all of it.
class TStatusLabel : public QLabel {
public:
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter P(this);
        const QRect R = contentsRect();
        style()->drawItemText(&P, R, QStyle::visualAlignment(layoutDirection(), alignment()), palette(), isEnabled(),
                              fontMetrics().elidedText(text(), Qt::ElideMiddle, R.width()), foregroundRole());
    }
};

// The start button of the progress controller: it comes back only once the
// window has taken in the run's end, so a click never meets a run that is
// still stopping (and is not refused silently).
class TStartButtonAdapter : public TButtonAdapter {
public:
    TStartButtonAdapter(QAbstractButton* AButton, const TQXMainForm* AForm) : TButtonAdapter(AButton), FForm(AForm) {}
    void SetEnabled(bool AValue) override { TButtonAdapter::SetEnabled(AValue && !FForm->Running()); }

private:
    const TQXMainForm* FForm;
};

} // namespace

// --- Construction ----------------------------------------------------------

TQXMainForm::TQXMainForm(QWidget* AParent) : TQXMainForm(TDeferCreate{}, AParent) { FormCreate(); }

TQXMainForm::TQXMainForm(TDeferCreate, QWidget* AParent) : TVForm(AParent) {
    setObjectName(QStringLiteral("QXMainForm"));
    setWindowTitle(QLatin1String(AppTitle));
    CreateControls();
}

TQXMainForm::~TQXMainForm() { FormDestroy(); }

void TQXMainForm::CreateControls() {
    auto* Central = new QWidget(this);
    setCentralWidget(Central);
    auto* Main = new QHBoxLayout(Central);
    Main->setContentsMargins(BorderWidth, BorderWidth, BorderWidth, BorderWidth);
    Main->setSpacing(BorderWidth);

    // Left column: sources, template, servers and zones, threads, buttons.
    auto* Left = new QWidget;
    Left->setObjectName(QStringLiteral("LeftPanel"));
    auto* LeftL = new QVBoxLayout(Left);
    LeftL->setContentsMargins(0, 0, 0, 0);

    SourcePageControl = Named(new QTabWidget, "SourcePageControl");
    SrcListTabSheet = Named(new QWidget, "SrcListTabSheet");
    SrcFileTabSheet = Named(new QWidget, "SrcFileTabSheet");
    {
        auto* L = new QVBoxLayout(SrcListTabSheet);
        SourceListLabel = Named(new QLabel(QStringLiteral("List of domains (0):")), "SourceListLabel");
        SourceMemo = MakeListEdit("SourceMemo");
        // A file dropped on the list is read into it, as "Load from file..." reads one.
        SourceMemo->OnFileDrop = [this](const QString& FileName) { LoadSourceFile(FileName); };
        SourceLoadButton = Named(MakeButton(QStringLiteral("&Load from file...")), "SourceLoadButton");
        SourceClearButton = Named(MakeButton(QStringLiteral("Clear")), "SourceClearButton");
        L->addWidget(SourceListLabel);
        L->addWidget(SourceMemo, 1);
        L->addWidget(Row({SourceLoadButton, SourceClearButton}));
    }
    {
        auto* L = new QVBoxLayout(SrcFileTabSheet);
        Label7 = Named(new QLabel(QStringLiteral("Domain list file:")), "Label7");
        SourceFileEdit = Named(new QLineEdit, "SourceFileEdit");
        SourceBrowseButton = Named(MakeButton(QStringLiteral("Browse...")), "SourceBrowseButton");
        SourceExploreButton = Named(MakeButton(QStringLiteral("Explore to file")), "SourceExploreButton");
        L->addWidget(Label7);
        L->addWidget(SourceFileEdit);
        L->addWidget(Row({SourceBrowseButton, SourceExploreButton}));
        L->addStretch(1);
    }
    SourcePageControl->addTab(SrcListTabSheet, QStringLiteral("Domain List"));
    SourcePageControl->addTab(SrcFileTabSheet, QStringLiteral("Domain File"));
    LeftL->addWidget(SourcePageControl, 3);

    OutFormatCheckBox = Named(new QCheckBox(QStringLiteral("Out Format:")), "OutFormatCheckBox");
    OutFormatEdit = Named(new QLineEdit(QStringLiteral("-A OUTPUT -d %ip% -j REJECT")), "OutFormatEdit");
    Label4 = Named(new QLabel(QStringLiteral("%ip% - resolved IP, %domain% - domain.")), "Label4");
    PresetLabel = Named(new QLabel(QStringLiteral("&Preset:")), "PresetLabel");
    // The first entry, none, is empty: a window without a preset stores no key.
    PresetComboBox = MakeCombo("PresetComboBox", QStringList{QStringLiteral("(none)")} + RulePresetNames());
    // As wide as its names, so that the row still fits the window's width.
    PresetComboBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    PresetComboBox->setMinimumContentsLength(8);
    PresetLabel->setBuddy(PresetComboBox);
    FamilyLabel = Named(new QLabel(QStringLiteral("&Addresses:")), "FamilyLabel");
    FamilyComboBox = MakeCombo("FamilyComboBox", {QStringLiteral("IPv4"), QStringLiteral("IPv6"),
                                                  QStringLiteral("IPv4 and IPv6")});
    FamilyLabel->setBuddy(FamilyComboBox);
    OutFormat6Label = Named(new QLabel(QStringLiteral("Out Format IPv&6:")), "OutFormat6Label");
    OutFormat6Edit = Named(new QLineEdit, "OutFormat6Edit");
    OutFormat6Edit->setPlaceholderText(QStringLiteral("empty: the Out Format"));
    OutFormat6Label->setBuddy(OutFormat6Edit);
    {
        // The template's switch on the left, the address family on the right.
        auto* W = new QWidget;
        auto* L = new QHBoxLayout(W);
        L->setContentsMargins(0, 0, 0, 0);
        L->addWidget(OutFormatCheckBox);
        L->addStretch(1);
        L->addWidget(FamilyLabel);
        L->addWidget(FamilyComboBox);
        LeftL->addWidget(W);
    }
    LeftL->addWidget(OutFormatEdit);
    {
        auto* W = new QWidget;
        auto* L = new QHBoxLayout(W);
        L->setContentsMargins(0, 0, 0, 0);
        L->addWidget(OutFormat6Label);
        L->addWidget(OutFormat6Edit, 1);
        LeftL->addWidget(W);
    }
    LeftL->addWidget(Label4);
    {
        // The template row has no room left: the preset that fills the
        // templates has a row of its own under them.
        auto* W = new QWidget;
        auto* L = new QHBoxLayout(W);
        L->setContentsMargins(0, 0, 0, 0);
        L->addWidget(PresetLabel);
        L->addWidget(PresetComboBox);
        L->addStretch(1);
        LeftL->addWidget(W);
    }

    PageControl1 = Named(new QTabWidget, "PageControl1");
    DNSTabSheet = Named(new QWidget, "DNSTabSheet");
    DBLTabSheet = Named(new QWidget, "DBLTabSheet");
    RBLTabSheet = Named(new QWidget, "RBLTabSheet");
    {
        auto* L = new QVBoxLayout(DNSTabSheet);
        Label5 = Named(new QLabel(QStringLiteral("D&NS Servers:")), "Label5");
        DNSMemo = MakeMemo("DNSMemo");
        DNSMemo->setPlainText(QStringLiteral("8.8.8.8\n8.8.4.4"));
        // Retries, pause and time-out of the lookups, under the servers.
        RetriesLabel = Named(new QLabel(QStringLiteral("Retr&ies:")), "RetriesLabel");
        RetriesEdit = Named(new QLineEdit(QStringLiteral("0")), "RetriesEdit");
        PauseLabel = Named(new QLabel(QStringLiteral("Pa&use, ms:")), "PauseLabel");
        PauseEdit = Named(new QLineEdit(QStringLiteral("200")), "PauseEdit");
        TimeoutLabel = Named(new QLabel(QStringLiteral("Time-&out, ms:")), "TimeoutLabel");
        TimeoutEdit = Named(new QLineEdit(QStringLiteral("5000")), "TimeoutEdit");
        // A run-wide limit, for public resolvers that refuse a client above theirs.
        MaxQPSLabel = Named(new QLabel(QStringLiteral("&Max queries/s:")), "MaxQPSLabel");
        MaxQPSEdit = Named(new QLineEdit(QStringLiteral("0")), "MaxQPSEdit");
        auto* Lookups = new QGridLayout;
        Lookups->setContentsMargins(0, 0, 0, 0);
        Lookups->addWidget(RetriesLabel, 0, 0);
        Lookups->addWidget(RetriesEdit, 0, 1);
        Lookups->addWidget(PauseLabel, 0, 2);
        Lookups->addWidget(PauseEdit, 0, 3);
        Lookups->addWidget(TimeoutLabel, 1, 0);
        Lookups->addWidget(TimeoutEdit, 1, 1);
        Lookups->addWidget(MaxQPSLabel, 2, 0);
        Lookups->addWidget(MaxQPSEdit, 2, 1);
        // What may be written: one beside the list's caption, one under the
        // lookups; the panel is too narrow for both on one row.
        SpecialCheckBox = Named(new QCheckBox(QStringLiteral("Keep special addresses")), "SpecialCheckBox");
        SpecialCheckBox->setToolTip(QStringLiteral("Also write loopback, multicast, link-local and other addresses "
                                                   "no firewall should block, and blocks wider than /8 or /16"));
        CheckFailCheckBox =
            Named(new QCheckBox(QStringLiteral("Drop items whose check failed")), "CheckFailCheckBox");
        // The list may shrink to a few lines, so that the page asks no more
        // height than the RBL page.
        DNSMemo->setMinimumHeight(3 * DNSMemo->fontMetrics().lineSpacing());
        for (QLineEdit* E : {RetriesEdit, PauseEdit, TimeoutEdit, MaxQPSEdit})
            E->setFixedWidth(60);
        Lookups->setColumnStretch(4, 1);
        Label5->setBuddy(DNSMemo);
        RetriesLabel->setBuddy(RetriesEdit);
        PauseLabel->setBuddy(PauseEdit);
        TimeoutLabel->setBuddy(TimeoutEdit);
        MaxQPSLabel->setBuddy(MaxQPSEdit);
        // Narrow margins and no stretch after the check box: the page must fit
        // the column also when a small screen gives the column a scroll bar.
        const QMargins M = L->contentsMargins();
        L->setContentsMargins(2, M.top(), 2, M.bottom());
        auto* Caption = new QHBoxLayout;
        Caption->addWidget(Label5);
        Caption->addWidget(SpecialCheckBox, 1, Qt::AlignRight);
        L->addLayout(Caption);
        L->addWidget(DNSMemo, 1);
        L->addLayout(Lookups);
        L->addWidget(CheckFailCheckBox);
    }
    {
        auto* L = new QVBoxLayout(DBLTabSheet);
        DBLCheckBox = Named(new QCheckBox(QStringLiteral("DBL Services:")), "DBLCheckBox");
        DBLComboBox = MakeCombo("DBLComboBox", BlModeItems());
        DBLMemo = MakeMemo("DBLMemo");
        DBLMemo->setPlainText(QLatin1String(DefaultDBLZone));
        L->addWidget(Row({DBLCheckBox, DBLComboBox}));
        L->addWidget(DBLMemo, 1);
    }
    {
        auto* L = new QVBoxLayout(RBLTabSheet);
        RBLCheckBox = Named(new QCheckBox(QStringLiteral("RBL Services:")), "RBLCheckBox");
        RBLComboBox = MakeCombo("RBLComboBox", BlModeItems());
        RBLMemo = MakeMemo("RBLMemo");
        RBLMemo->setPlainText(QLatin1String(DefaultRBLZone));
        L->addWidget(Row({RBLCheckBox, RBLComboBox}));
        L->addWidget(RBLMemo, 1);
        // An IPv4 zone knows nothing of IPv6 addresses: their zones are a list
        // of their own, empty by default.
        RBL6Label = Named(new QLabel(QStringLiteral("IPv6 &zones:")), "RBL6Label");
        RBL6Memo = MakeMemo("RBL6Memo");
        RBL6Label->setBuddy(RBL6Memo);
        L->addWidget(RBL6Label);
        L->addWidget(RBL6Memo, 1);
        // Two lists share the page: each may shrink to a few lines, so that
        // the page asks no more height than the others.
        for (QPlainTextEdit* M : {RBLMemo, RBL6Memo})
            M->setMinimumHeight(3 * M->fontMetrics().lineSpacing());
    }
    PageControl1->addTab(DNSTabSheet, QStringLiteral("DNS"));
    PageControl1->addTab(DBLTabSheet, QStringLiteral("DBL"));
    PageControl1->addTab(RBLTabSheet, QStringLiteral("RBL"));
    LeftL->addWidget(PageControl1, 2);

    EditionLabel = Named(new QLabel(QStringLiteral("Edition")), "EditionLabel");
    ThreadsLabel = Named(new QLabel(QStringLiteral("&Threads:")), "ThreadsLabel");
    ThreadsEdit = Named(new QLineEdit(QStringLiteral("1")), "ThreadsEdit");
    ThreadsEdit->setMaximumWidth(60);
    ThreadsLabel->setBuddy(ThreadsEdit);
    // Small screens: the lists give way first, down to a line each; below
    // that the inputs scroll, so that the Threads row and the run's buttons
    // stay in sight at any height.
    for (QWidget* M : std::initializer_list<QWidget*>{SourceMemo, DNSMemo, DBLMemo})
        M->setMinimumHeight(M->fontMetrics().lineSpacing() + 2 * BorderWidth);
    auto* LeftColumn = Named(new QWidget, "LeftColumn");
    LeftColumn->setFixedWidth(LeftColumnWidth);
    auto* ColumnL = new QVBoxLayout(LeftColumn);
    ColumnL->setContentsMargins(0, 0, 0, 0);
    auto* LeftScroll = Named(new QScrollArea, "LeftScroll");
    LeftScroll->setFrameShape(QFrame::NoFrame);
    LeftScroll->setWidgetResizable(true);
    LeftScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    LeftScroll->setWidget(Left);
    ColumnL->addWidget(LeftScroll, 1);
    ColumnL->addWidget(Row({ThreadsLabel, ThreadsEdit, EditionLabel}));
    StartButton = Named(MakeButton(QStringLiteral("&Resolve")), "StartButton");
    BreakButton = Named(MakeButton(QStringLiteral("&Break")), "BreakButton");
    BreakButton->setEnabled(false);
    CloseButton = Named(MakeButton(QStringLiteral("&Close")), "CloseButton");
    ColumnL->addWidget(Row({StartButton, BreakButton, CloseButton}));
    Main->addWidget(LeftColumn);

    // Right: results above, log below.
    auto* Split = new QSplitter(Qt::Vertical);
    Split->setObjectName(QStringLiteral("RightSplitter"));
    ResultPageControl = Named(new QTabWidget, "ResultPageControl");
    OutListTabSheet = Named(new QWidget, "OutListTabSheet");
    OutFileTabSheet = Named(new QWidget, "OutFileTabSheet");
    {
        auto* L = new QGridLayout(OutListTabSheet);
        ResultListLabel = Named(new QLabel(QStringLiteral("Resolved list (0):")), "ResultListLabel");
        ResultMemo = MakeListEdit("ResultMemo");
        ResultSaveButton = Named(MakeButton(QStringLiteral("&Save to file...")), "ResultSaveButton");
        ResultDelimiterLabel = Named(new QLabel(QStringLiteral("Delimiter:")), "ResultDelimiterLabel");
        ResultDelimiterComboBox = MakeCombo("ResultDelimiterComboBox", DelimiterItems());
        ResultClearButton = Named(MakeButton(QStringLiteral("Clear")), "ResultClearButton");
        AddedCheckBox = Named(new QCheckBox(QStringLiteral("New records (0):")), "AddedCheckBox");
        AddedMemo = MakeListEdit("AddedMemo");
        // Its own letter: two buttons on one key would only take turns at the focus.
        AddedSaveButton = Named(MakeButton(QStringLiteral("Sa&ve to file...")), "AddedSaveButton");
        AddedDelimiterLabel = Named(new QLabel(QStringLiteral("Delimiter:")), "AddedDelimiterLabel");
        AddedDelimiterComboBox = MakeCombo("AddedDelimiterComboBox", DelimiterItems());
        AddedClearButton = Named(MakeButton(QStringLiteral("Clear")), "AddedClearButton");
        // Two lists side by side must fit the designed width: the rows under
        // them give up the slack of their combos and buttons.
        for (QComboBox* C : {ResultDelimiterComboBox, AddedDelimiterComboBox}) {
            C->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
            C->setMinimumContentsLength(8);
        }
        for (TButton* B : {ResultSaveButton, ResultClearButton, AddedSaveButton, AddedClearButton})
            B->setMinimumWidth(qMin(B->sizeHint().width(), B->fontMetrics().horizontalAdvance(QString(B->text()).remove(QLatin1Char('&'))) + 16));
        L->addWidget(ResultListLabel, 0, 0);
        L->addWidget(ResultMemo, 1, 0);
        L->addWidget(Row({ResultSaveButton, ResultDelimiterLabel, ResultDelimiterComboBox, ResultClearButton}), 2, 0);
        L->addWidget(AddedCheckBox, 0, 1);
        L->addWidget(AddedMemo, 1, 1);
        L->addWidget(Row({AddedSaveButton, AddedDelimiterLabel, AddedDelimiterComboBox, AddedClearButton}), 2, 1);
        L->setRowStretch(1, 1);
        L->setColumnStretch(0, 1);
        L->setColumnStretch(1, 1);
    }
    {
        auto* L = new QGridLayout(OutFileTabSheet);
        Label1 = Named(new QLabel(QStringLiteral("Resolved list file:")), "Label1");
        ResultFileEdit = Named(new QLineEdit, "ResultFileEdit");
        ResultBrowseButton = Named(MakeButton(QStringLiteral("Browse...")), "ResultBrowseButton");
        ResultExploreButton = Named(MakeButton(QStringLiteral("Explore to file")), "ResultExploreButton");
        Label2 = Named(new QLabel(QStringLiteral("Format:")), "Label2");
        OutFileFormatComboBox = MakeCombo("OutFileFormatComboBox", {QStringLiteral("UTF-8 without BOM"),
                                                                    QStringLiteral("UTF-8")});
        Label3 = Named(new QLabel(QStringLiteral("Line Endings:")), "Label3");
        OutFileEndingsComboBox =
            MakeCombo("OutFileEndingsComboBox", {QStringLiteral("Windows"), QStringLiteral("Unix")});
        // Unix until the user chooses: the files feed Linux tools (nft,
        // iptables-restore), which reject a CR. A stored choice still wins.
        OutFileEndingsComboBox->setCurrentIndex(1);
        // The IPv6 lines' own file, laid out like the first.
        Label6 = Named(new QLabel(QStringLiteral("Resolved IPv6 list file (empty: the file above):")), "Label6");
        ResultFile6Edit = Named(new QLineEdit, "ResultFile6Edit");
        ResultBrowse6Button = Named(MakeButton(QStringLiteral("Browse...")), "ResultBrowse6Button");
        ResultExplore6Button = Named(MakeButton(QStringLiteral("Explore to file")), "ResultExplore6Button");
        L->addWidget(Label1, 0, 0, 1, 4);
        L->addWidget(ResultFileEdit, 1, 0, 1, 4);
        L->addWidget(Row({ResultBrowseButton, ResultExploreButton}), 2, 0, 1, 4);
        L->addWidget(Label6, 3, 0, 1, 4);
        L->addWidget(ResultFile6Edit, 4, 0, 1, 4);
        L->addWidget(Row({ResultBrowse6Button, ResultExplore6Button}), 5, 0, 1, 4);
        L->addWidget(Label2, 6, 0);
        L->addWidget(OutFileFormatComboBox, 6, 1);
        L->addWidget(Label3, 6, 2);
        L->addWidget(OutFileEndingsComboBox, 6, 3);
        L->setRowStretch(7, 1);
        L->setColumnStretch(4, 1);
    }
    ResultPageControl->addTab(OutListTabSheet, QStringLiteral("Resolved List"));
    ResultPageControl->addTab(OutFileTabSheet, QStringLiteral("Resolved File"));
    Split->addWidget(ResultPageControl);

    LogPageControl = Named(new QTabWidget, "LogPageControl");
    LogTabSheet = Named(new QWidget, "LogTabSheet");
    ThreadsTabSheet = Named(new QWidget, "ThreadsTabSheet");
    {
        auto* L = new QVBoxLayout(LogTabSheet);
        LogTopPanel = Named(new QWidget, "LogTopPanel");
        LogTopPanel->setFixedHeight(29);
        DetailedLogCheckBox = Named(new QCheckBox(QStringLiteral("Detailed Log"), LogTopPanel), "DetailedLogCheckBox");
        LogFileCheckBox = Named(new QCheckBox(QStringLiteral("Log File:"), LogTopPanel), "LogFileCheckBox");
        LogFileEdit = Named(new QLineEdit(LogTopPanel), "LogFileEdit");
        LogFileBrowseButton = Named(MakeButton(QStringLiteral("..."), LogTopPanel), "LogFileBrowseButton");
        LogFileBrowseButton->setFixedSize(26, 25);
        DetailedLogCheckBox->setGeometry(0, 4, 110, 21);
        LogFileCheckBox->setGeometry(118, 4, 80, 21);
        LogFileEdit->setGeometry(204, 2, 200, 25);
        LogFileBrowseButton->move(410, 2);
        LogTopPanel->installEventFilter(this);
        LogMemo = MakeMemo("LogMemo");
        LogMemo->setReadOnly(true);
        LogMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        // A run's summary is longer than the log is wide at the designed size:
        // it wraps, so its last counts are read without scrolling.
        LogMemo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        LogMemo->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        L->addWidget(LogTopPanel);
        L->addWidget(LogMemo, 1);
    }
    {
        auto* L = new QVBoxLayout(ThreadsTabSheet);
        ThreadsListView = Named(new TListView, "ThreadsListView");
        L->addWidget(ThreadsListView);
    }
    LogPageControl->addTab(LogTabSheet, QStringLiteral("Log"));
    LogPageControl->addTab(ThreadsTabSheet, QStringLiteral("Threads"));
    Split->addWidget(LogPageControl);

    // The run's displays, under the log and level with the buttons.
    ProgressPanel = Named(new QWidget, "ProgressPanel");
    ProgressBar = Named(new QProgressBar, "ProgressBar");
    ProgressBar->setTextVisible(false); // the percentage has its own label
    ProgressLabel = Named(new QLabel(QStringLiteral("0 %")), "ProgressLabel");
    ElapsedTitleLabel = Named(new QLabel(QStringLiteral("Elapsed:")), "ElapsedTitleLabel");
    ElapsedLabel = Named(new QLabel, "ElapsedLabel");
    ProcessedTitleLabel = Named(new QLabel(QStringLiteral("Processed:")), "ProcessedTitleLabel");
    ProcessedLabel = Named(new QLabel, "ProcessedLabel");
    StatusLabel = Named(new TStatusLabel, "StatusLabel");
    // The cue of a run that ended short: the style's own icon, drawn for the palette in use.
    StatusIconLabel = Named(new QLabel, "StatusIconLabel");
    StatusIconLabel->setVisible(false);
    {
        // The status on a line of its own above the figures: how a run ended
        // is a sentence, which the row beside the figures has no room for.
        auto* Rows = new QVBoxLayout(ProgressPanel);
        Rows->setContentsMargins(0, 0, 0, 0);
        Rows->setSpacing(2);
        auto* StatusRow = new QHBoxLayout;
        StatusRow->addWidget(StatusIconLabel);
        StatusRow->addWidget(StatusLabel, 1);
        Rows->addLayout(StatusRow);
        auto* L = new QHBoxLayout;
        Rows->addLayout(L);
        // Room for the widest usual texts, so the row does not shift while it counts.
        const QFontMetrics M = ProgressLabel->fontMetrics();
        ProgressLabel->setMinimumWidth(M.horizontalAdvance(QStringLiteral("100 %")));
        ProgressLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        ElapsedLabel->setMinimumWidth(M.horizontalAdvance(QStringLiteral("00:00:00")));
        ProcessedLabel->setMinimumWidth(M.horizontalAdvance(QStringLiteral("0000000 lines, 00000/s")));
        StatusLabel->setMinimumWidth(M.horizontalAdvance(QStringLiteral("Resolving...")));
        L->addWidget(ProgressBar, 1);
        L->addWidget(ProgressLabel);
        L->addSpacing(BorderWidth);
        L->addWidget(ElapsedTitleLabel);
        L->addWidget(ElapsedLabel);
        L->addSpacing(BorderWidth);
        L->addWidget(ProcessedTitleLabel);
        L->addWidget(ProcessedLabel);
    }
    // The rows keep their height while their displays wait for the first run.
    ProgressPanel->setFixedHeight(StartButton->sizeHint().height() + StatusLabel->fontMetrics().lineSpacing() + 4);
    for (QWidget* W : ProgressDisplays())
        W->setVisible(false);

    auto* Right = Named(new QWidget, "RightPanel");
    auto* RightL = new QVBoxLayout(Right);
    RightL->setContentsMargins(0, 0, 0, 0);
    RightL->setSpacing(BorderWidth);
    RightL->addWidget(Split, 1);
    RightL->addWidget(ProgressPanel);
    Main->addWidget(Right, 1);

    TIntList Widths;
    Widths.Add(80);
    Widths.Add(120);
    // A full "yyyy-mm-dd hh:nn:ss" with the cell's margins.
    Widths.Add(qMax(120, ThreadsListView->fontMetrics().horizontalAdvance(QStringLiteral("2026-12-09 17:00:00")) + 24));
    ThreadsListView->AddColumns({QStringLiteral("Id"), QStringLiteral("Name"), QStringLiteral("Time"),
                                 QStringLiteral("Status")},
                                &Widths);
    ThreadsListView->header()->setStretchLastSection(true);
    ThreadsListView->SetReadOnly(true);
    ThreadsListView->SetColumnClick(false);
    ThreadsListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    ThreadsListView->SetOwnerData(true);

    SourceOpenDialog = MakeDialog(this, "SourceOpenDialog", ListFileFilter, false);
    ResultSaveDialog = MakeDialog(this, "ResultSaveDialog", ListFileFilter, true);
    ResultSave6Dialog = MakeDialog(this, "ResultSave6Dialog", ListFileFilter, true);
    AddedSaveDialog = MakeDialog(this, "AddedSaveDialog", ListFileFilter, true);
    LogSaveDialog = MakeDialog(this, "LogSaveDialog", LogFileFilter, true);

    resize(ClientWidth, ClientHeight);
    if (const QScreen* S = screen())
        move(S->availableGeometry().center() - rect().center());

    connect(SourceMemo, &TLinesEdit::textChanged, this, &TQXMainForm::SourceMemoChange);
    connect(ResultMemo, &TLinesEdit::textChanged, this, &TQXMainForm::ResultMemoChange);
    connect(AddedMemo, &TLinesEdit::textChanged, this, &TQXMainForm::AddedMemoChange);
    connect(SourceLoadButton, &QPushButton::clicked, this, &TQXMainForm::SourceLoadButtonClick);
    connect(SourceClearButton, &QPushButton::clicked, this, &TQXMainForm::SourceClearButtonClick);
    connect(ResultClearButton, &QPushButton::clicked, this, &TQXMainForm::ResultClearButtonClick);
    connect(AddedClearButton, &QPushButton::clicked, this, &TQXMainForm::AddedClearButtonClick);
    connect(SourceExploreButton, &QPushButton::clicked, this, &TQXMainForm::SourceExploreButtonClick);
    connect(ResultExploreButton, &QPushButton::clicked, this, &TQXMainForm::ResultExploreButtonClick);
    connect(ResultExplore6Button, &QPushButton::clicked, this, &TQXMainForm::ResultExplore6ButtonClick);
    connect(FamilyComboBox, &QComboBox::currentIndexChanged, this, &TQXMainForm::UpdateFamilyControls);
    connect(OutFormatCheckBox, &QCheckBox::toggled, this, &TQXMainForm::UpdateFamilyControls);
    connect(PresetComboBox, &QComboBox::activated, this, &TQXMainForm::PresetActivated);
    connect(ResultSaveButton, &QPushButton::clicked, this, &TQXMainForm::ResultSaveButtonClick);
    connect(AddedSaveButton, &QPushButton::clicked, this, &TQXMainForm::AddedSaveButtonClick);
    // Toggled, not clicked: restoring the box from the settings must act like a click.
    connect(DetailedLogCheckBox, &QCheckBox::toggled, this, &TQXMainForm::DetailedLogCheckBoxClick);
    connect(CloseButton, &QPushButton::clicked, this, &TQXMainForm::CloseButtonClick);
}

void TQXMainForm::FormCreate() {
    if (FUtils)
        return;
    setWindowTitle(FormatAppTitleVersion(QLatin1String(AppTitle), QLatin1String(AppVersion), false));
    EditionLabel->setText(QStringLiteral("%1-Bit Edition").arg(QT_POINTER_SIZE * 8));

    FProgress = new TProgress;
    FProgress->SetUpdatePeriod(1000);
    FBreakButtonAdapter = std::make_unique<TButtonAdapter>(BreakButton);
    FStartButtonAdapter = std::make_unique<TStartButtonAdapter>(StartButton, this);
    FProgress->SetBreakButton(FBreakButtonAdapter.get());
    FProgress->SetStartButton(FStartButtonAdapter.get());
    FProgressBarAdapter = std::make_unique<TProgressBarAdapter>(ProgressBar);
    FProgress->SetProgressBar(FProgressBarAdapter.get());
    const struct {
        QLabel* Label;
        void (TProgress::*Set)(TLabelControl*);
    } Displays[] = {{ProgressLabel, &TProgress::SetProgressLabel},
                    {ElapsedLabel, &TProgress::SetElapsedLabel},
                    {ElapsedTitleLabel, &TProgress::SetElapsedTitleLabel},
                    {ProcessedLabel, &TProgress::SetProcessedLabel},
                    {ProcessedTitleLabel, &TProgress::SetProcessedTitleLabel},
                    {StatusLabel, &TProgress::SetStatusLabel}};
    for (const auto& D : Displays) {
        FLabelAdapters.push_back(std::make_unique<TLabelAdapter>(D.Label));
        (FProgress->*D.Set)(FLabelAdapters.back().get());
    }
    FProgress->BeforeStart = [this](TProgress* Sender, bool& Allow) { ProgressBeforeStart(Sender, Allow); };
    FProgress->AfterStop = [this](TProgress* Sender) { ProgressAfterStop(Sender); };
    FProgress->OnStart = [this](TProgress* Sender) { ProgressStart(Sender); };
    FProgress->OnTerminate = [this](TProgress* Sender) { ProgressTerminate(Sender); };
    FProgress->OnDisplay = [this](TProgress* Sender) { ProgressDisplay(Sender); };

    FLog = new TLog;
    FLog->SetUpdatePeriod(1000);
    FLog->SetUpdateCount(1000);
    FLog->SetMaxLogLines(500);
    FLogMemoAdapter = std::make_unique<TMemoAdapter>(LogMemo);
    FThreadsViewAdapter = std::make_unique<TListViewAdapter>(ThreadsListView);
    FLog->SetLogMemo(FLogMemoAdapter.get());
    FLog->SetThreadsView(FThreadsViewAdapter.get());

    FUtils = new TQXUtils(FProgress, FLog);

    PageControl1->setCurrentIndex(0);
    LogPageControl->setCurrentIndex(0);

    SourceBrowseButton->SetBrowse(SourceFileEdit, SourceOpenDialog);
    ResultBrowseButton->SetBrowse(ResultFileEdit, ResultSaveDialog);
    ResultBrowse6Button->SetBrowse(ResultFile6Edit, ResultSave6Dialog);
    LogFileBrowseButton->SetBrowse(LogFileEdit, LogSaveDialog);

    // A settings or list file that cannot be read still leaves a usable window.
    if (const auto Error = Catch([this] { LoadSettings(); }))
        ErrorMessage(*Error);
    SetControlsRunning(false);
}

void TQXMainForm::FormDestroy() {
    if (FDestroyed)
        return;
    FDestroyed = true;
    // A window whose settings were never restored must not overwrite them;
    // one closed by the user has saved them, or was told it could not.
    if (FUtils) {
        FUtils->BreakAndWait();
        // The program still ends when the settings cannot be written.
        if (!FSavedAtClose)
            if (const auto Error = Catch([this] { SaveSettings(); }))
                ErrorMessage(*Error);
    }
    delete FUtils;
    FUtils = nullptr;
    if (FLog) {
        FLog->SetLogMemo(nullptr);
        FLog->SetThreadsView(nullptr);
    }
    delete FLog;
    FLog = nullptr;
    if (FProgress) {
        FProgress->SetStartButton(nullptr);
        FProgress->SetBreakButton(nullptr);
    }
    delete FProgress;
    FProgress = nullptr;
}

void TQXMainForm::closeEvent(QCloseEvent* Event) {
    // Nothing of the job is in use: a normal close.
    if (!FUtils || FDestroyed || (!FRunning && FUtils->Idle())) {
        FClosePending = false;
        // Saved while the window is still there: a list file that cannot be
        // written keeps it open with the reason, so the list can be copied
        // elsewhere; the next close tries again and goes, saved or not.
        if (FUtils && !FDestroyed && !FSavedAtClose) {
            const auto Error = Catch([this] { SaveSettings(); });
            if (Error && !FCloseSaveFailed) {
                FCloseSaveFailed = true;
                Event->ignore();
                ErrorMessage(*Error + QStringLiteral("\n\nThe window stays open: copy the list elsewhere, or "
                                                     "close again to leave without saving it."));
                return;
            }
            FSavedAtClose = true;
        }
        Event->accept();
        return;
    }
    // During a run the close is remembered, not waited for: this event may
    // be delivered inside a worker's hand-off, which waits below it on the
    // stack. Break the run and close once it has ended.
    Event->ignore();
    if (!FClosePending) {
        FClosePending = true;
        FCaption = windowTitle();
        setWindowTitle(FCaption + QStringLiteral(" - Stopping..."));
    }
    FUtils->BreakAndNotify([Self = QPointer<TQXMainForm>(this)] {
        if (Self)
            Self->close();
    });
}

bool TQXMainForm::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched == LogTopPanel && Event->type() == QEvent::Resize)
        LogTopPanelResize();
    return TVForm::eventFilter(Watched, Event);
}

QString TQXMainForm::ExecFileDialog(QFileDialog* Dialog) {
    if (Dialog->exec() != QDialog::Accepted)
        return QString();
    return Dialog->selectedFiles().value(0);
}

// --- Memo helpers ----------------------------------------------------------

QStringList TQXMainForm::MemoLines(const QPlainTextEdit* Memo) {
    const QString Text = MemoText(Memo);
    if (Text.isEmpty())
        return {};
    QStringList Lines = Text.split(QLatin1Char('\n'));
    if (Lines.last().isEmpty())
        Lines.removeLast();
    return Lines;
}

void TQXMainForm::SetMemoLines(QPlainTextEdit* Memo, const QStringList& Lines) {
    QString Text = Lines.join(QLatin1Char('\n'));
    // A last empty line is a line of its own: it needs the break after it,
    // or MemoLines would read one line less.
    if (!Lines.isEmpty() && Lines.last().isEmpty())
        Text += QLatin1Char('\n');
    Memo->setPlainText(Text);
}

void TQXMainForm::MemoToList(const QPlainTextEdit* Memo, TStringList& List) {
    List.Clear();
    List.AddStrings(MemoLines(Memo));
}

void TQXMainForm::MemoToList(const TLinesEdit* Memo, TStringList& List) {
    List.Clear();
    List.AddStrings(Memo->Lines());
}

void TQXMainForm::FillMemo(TLinesEdit* Memo, const TStringList* List) {
    SetMemoLines(Memo, List->ToQStringList());
}

void TQXMainForm::SourceMemoChange() {
    if (!FFillingList)
        FSourceListFile.Changed = true;
    SourceListLabel->setText(QStringLiteral("List of domains (%1):").arg(SourceMemo->LineCount()));
}

void TQXMainForm::ResultMemoChange() {
    if (!FFillingList)
        FResultListFile.Changed = true;
    ResultListLabel->setText(QStringLiteral("Resolved list (%1):").arg(ResultMemo->LineCount()));
}

void TQXMainForm::AddedMemoChange() {
    if (!FFillingList)
        FAddedListFile.Changed = true;
    AddedCheckBox->setText(QStringLiteral("New records (%1):").arg(AddedMemo->LineCount()));
}

// --- List files ------------------------------------------------------------

QStringList TQXMainForm::ReadListFile(const QString& FileName, std::optional<TMemoEncoding>& Encoding) {
    TMemoEncoding E;
    const QString Text = DecodeListFileBytes(ReadFileBytes(FileName), E);
    Encoding = E;
    TStringList L;
    L.SetText(Text);
    return L.ToQStringList();
}

void TQXMainForm::WriteListFile(const QString& FileName, const QStringList& Lines,
                                const std::optional<TMemoEncoding>& Encoding) {
    const TMemoEncoding E = Encoding.value_or(TMemoEncoding{});
    QString Text;
    for (const QString& S : Lines)
        Text += S + QLatin1String("\r\n");
    WriteFileReplacing(FileName, EncodeListFileText(Text, E));
}

void TQXMainForm::SaveLinesToFile(const QStringList& Lines, const QString& FileName, const QString& Delimiter) {
    WriteFileReplacing(FileName, EncodeTextBytes(Lines.join(Delimiter), QStringConverter::System, false));
}

QString TQXMainForm::GetDelimiter(QComboBox* Combo) {
    switch (Combo->currentIndex()) {
    case 0:
        return QStringLiteral("\r\n");
    case 1:
        return QStringLiteral(",");
    case 2:
        return QStringLiteral(";");
    default:
        return QString();
    }
}

// --- Buttons ---------------------------------------------------------------

void TQXMainForm::SourceClearButtonClick() {
    SourceMemo->clear();
    SourceMemoChange();
}

void TQXMainForm::ResultClearButtonClick() {
    ResultMemo->clear();
    ResultMemoChange();
}

void TQXMainForm::AddedClearButtonClick() {
    AddedMemo->clear();
    AddedMemoChange();
}

void TQXMainForm::SourceLoadButtonClick() {
    SetFileDialogFileName(SourceOpenDialog, QString());
    const QString FileName = ExecFileDialog(SourceOpenDialog);
    if (!FileName.isEmpty())
        LoadSourceFile(FileName);
}

void TQXMainForm::LoadSourceFile(const QString& FileName) {
    // The memo changes only once the whole file has been read.
    if (const auto Error = Catch([&] {
            std::optional<TMemoEncoding> Encoding;
            const QStringList Lines = ReadListFile(FileName, Encoding);
            SetMemoLines(SourceMemo, Lines);
            FSourceMemoEncoding = Encoding;
            // srclist.txt now holds another file's list: its own bytes are no longer kept.
            FSourceListFile.Invalid = false;
            LogLegacyListFile(FLog, FileName, Encoding);
        }))
        ErrorMessage(*Error);
    SourceMemoChange();
}

void TQXMainForm::SaveMemoToFile(TLinesEdit* Memo, QComboBox* DelimiterCombo, QFileDialog* Dialog) {
    SetFileDialogFileName(Dialog, QString());
    const QString FileName = ExecFileDialog(Dialog);
    if (FileName.isEmpty())
        return;
    // A list of lines ends with a line break, and takes the chosen one (LF
    // for a preset's document, which its loader reads).
    QString Delimiter = GetDelimiter(DelimiterCombo);
    const bool Lines = DelimiterCombo->currentIndex() == 0;
    if (Lines)
        Delimiter = RulePresetByName(PresetComboBox->currentText()) != rpNone || OutFileEndingsComboBox->currentIndex() == 1
                        ? QStringLiteral("\n")
                        : QStringLiteral("\r\n");
    QStringList L = MemoLines(Memo);
    if (Lines && !L.isEmpty())
        L << QString();
    if (const auto Error = Catch([&] { SaveLinesToFile(L, FileName, Delimiter); }))
        ErrorMessage(*Error);
}

void TQXMainForm::ResultSaveButtonClick() { SaveMemoToFile(ResultMemo, ResultDelimiterComboBox, ResultSaveDialog); }

void TQXMainForm::AddedSaveButtonClick() { SaveMemoToFile(AddedMemo, AddedDelimiterComboBox, AddedSaveDialog); }

void TQXMainForm::SourceExploreButtonClick() { ExploreToFile(SourceFileEdit->text()); }

void TQXMainForm::ResultExploreButtonClick() { ExploreToFile(ResultFileEdit->text()); }

void TQXMainForm::ResultExplore6ButtonClick() { ExploreToFile(ResultFile6Edit->text()); }

void TQXMainForm::CloseButtonClick() { close(); }

void TQXMainForm::DetailedLogCheckBoxClick() {
    if (!FUtils)
        return;
    if (DetailedLogCheckBox->isChecked()) {
        if (LogFileCheckBox->isChecked() && LogFileEdit->text().isEmpty()) {
            WarnPleaseEnter(QStringLiteral("Log File Name"));
            DetailedLogCheckBox->setChecked(false); // runs this handler for the unchecked state
            return;
        }
        FUtils->SetLogFileName(LogFileCheckBox->isChecked() ? LogFileEdit->text() : QString());
        if (const auto Error = Catch([this] { FUtils->SetDetailedLog(true); })) {
            ErrorMessage(*Error);
            const QSignalBlocker Block(DetailedLogCheckBox);
            DetailedLogCheckBox->setChecked(FUtils->DetailedLog());
        }
    } else if (const auto Error = Catch([this] { FUtils->SetDetailedLog(false); })) {
        // Closing the log file flushes it, which may fail (a full disk): the
        // box tells so, and the log is off all the same: the file is gone by
        // then, so switching off again only clears the flag.
        Catch([this] { FUtils->SetDetailedLog(false); });
        ErrorMessage(*Error);
    }
    EnableControls(!FUtils->DetailedLog(), {LogFileCheckBox, LogFileEdit, LogFileBrowseButton});
}

void TQXMainForm::LogTopPanelResize() {
    const int W = LogTopPanel->contentsRect().width();
    LogFileEdit->resize(qMax(0, W - LogFileBrowseButton->width() - LogFileEdit->x() - 8), LogFileEdit->height());
    LogFileBrowseButton->move(W - LogFileBrowseButton->width(), LogFileBrowseButton->y());
}

// --- The run ---------------------------------------------------------------

void TQXMainForm::SetControlsRunning(bool Running) {
    EnableControls(!Running,
                   {SourceMemo, SourceLoadButton, SourceClearButton, SourceFileEdit, SourceBrowseButton,
                    SourceExploreButton, DBLCheckBox, DBLComboBox, DBLMemo, RBLCheckBox, RBLComboBox, RBLMemo,
                    RBL6Memo,
                    DNSMemo, OutFormatCheckBox, OutFormatEdit, ResultMemo, ResultSaveButton,
                    ResultDelimiterComboBox, ResultClearButton, AddedCheckBox, AddedMemo, AddedSaveButton,
                    AddedDelimiterComboBox, AddedClearButton, ResultFileEdit, ResultBrowseButton,
                    ResultExploreButton, OutFileFormatComboBox, OutFileEndingsComboBox, SourcePageControl,
                    ResultPageControl, ThreadsEdit, RetriesEdit, PauseEdit, TimeoutEdit, MaxQPSEdit, FamilyComboBox,
                    OutFormat6Edit, ResultFile6Edit, ResultBrowse6Button, ResultExplore6Button, PresetComboBox,
                    SpecialCheckBox, CheckFailCheckBox});
    CloseButton->setEnabled(!Running);
    if (!Running) {
        UpdateFamilyControls();
        UpdatePresetControls();
    }
}

void TQXMainForm::UpdateFamilyControls() {
    // During a run everything stays as SetControlsRunning left it.
    if (!FamilyComboBox->isEnabled())
        return;
    const bool IPv6 = FamilyComboBox->currentIndex() > 0;
    const bool Template6 = IPv6 && OutFormatCheckBox->isChecked();
    OutFormat6Label->setEnabled(Template6);
    OutFormat6Edit->setEnabled(Template6);
    for (QWidget* W : std::initializer_list<QWidget*>{Label6, ResultFile6Edit, ResultBrowse6Button,
                                                       ResultExplore6Button})
        W->setEnabled(IPv6);
}

void TQXMainForm::PresetActivated(int AIndex) {
    // The templates are filled in and stay editable for the user's own runs
    // later; the run itself writes the preset's whole document. "(none)"
    // gives back the templates there were before the first preset.
    const TRulePresetKind Kind = AIndex > 0 ? RulePresetByName(PresetComboBox->itemText(AIndex)) : rpNone;
    if (Kind == rpNone) {
        if (FPresetSaved.Valid) {
            OutFormatCheckBox->setChecked(FPresetSaved.On);
            OutFormatEdit->setText(FPresetSaved.Format);
            OutFormat6Edit->setText(FPresetSaved.Format6);
            FPresetSaved.Valid = false;
        }
        UpdatePresetControls();
        return;
    }
    if (!FPresetSaved.Valid)
        FPresetSaved = {true, OutFormatCheckBox->isChecked(), OutFormatEdit->text(), OutFormat6Edit->text()};
    const TRulePreset P = MakeRulePreset(Kind, QStringLiteral("veltrask"));
    OutFormatCheckBox->setChecked(true);
    OutFormatEdit->setText(P.Format);
    OutFormat6Edit->setText(P.Format6);
    UpdatePresetControls();
}

void TQXMainForm::UpdatePresetControls() {
    // A preset's file is UTF-8 without a mark, LF, whatever these say.
    const bool None = RulePresetByName(PresetComboBox->currentText()) == rpNone;
    const bool Idle = PresetComboBox->isEnabled();
    OutFileFormatComboBox->setEnabled(None && Idle);
    OutFileEndingsComboBox->setEnabled(None && Idle);
}

bool TQXMainForm::CheckParams() {
    TStringList L;
    // 1. Source
    if (SourcePageControl->currentIndex() == 0) {
        FUtils->SetSourceMode(srcList);
        MemoToList(SourceMemo, L);
        FUtils->AssignDomainList(&L);
        if (!CheckIf(FUtils->DomainList()->Count() > 0, QStringLiteral("List of domains")))
            return false;
    } else {
        FUtils->SetSourceMode(srcFile);
        if (!CheckNotEmpty(SourceFileEdit->text(), QStringLiteral("Domain list file")))
            return false;
        FUtils->SetDomainListFile(SourceFileEdit->text());
    }
    // 2. DNS
    MemoToList(DNSMemo, L);
    FUtils->AssignDNSList(&L);
    if (!CheckIf(FUtils->DNSList()->Count() > 0, QStringLiteral("DNS Servers")))
        return false;
    // A malformed entry would fail every lookup sent to it.
    for (int I = 0; I < FUtils->DNSList()->Count(); ++I)
        if (!IsValidDNSServerEntry(FUtils->DNSList()->Get(I))) {
            Warning(QStringLiteral("Bad DNS server: %1").arg(FUtils->DNSList()->Get(I).trimmed()));
            return false;
        }
    // 3. DBL
    if (DBLCheckBox->isChecked()) {
        MemoToList(DBLMemo, L);
        FUtils->AssignDBLServices(&L);
        if (!CheckIf(FUtils->DBLServices()->Count() > 0, QStringLiteral("DBL Services")))
            return false;
        FUtils->SetDBLMode(DBLComboBox->currentIndex() == 1 ? blSave : blSuppress);
    } else {
        FUtils->SetDBLMode(blNone);
    }
    // 4. RBL
    if (RBLCheckBox->isChecked()) {
        MemoToList(RBLMemo, L);
        FUtils->AssignRBLServices(&L);
        MemoToList(RBL6Memo, L);
        FUtils->AssignRBL6Services(&L);
        if (!CheckIf(FUtils->RBLServices()->Count() > 0 || FUtils->RBL6Services()->Count() > 0,
                     QStringLiteral("RBL Services")))
            return false;
        // Every IPv6 address of the run would fail its check, which no
        // setting of the run could help: the run is refused instead.
        if (FamilyComboBox->currentIndex() > 0 &&
            !CheckIf(FUtils->RBL6Services()->Count() > 0, QStringLiteral("RBL IPv6 zones")))
            return false;
        FUtils->SetRBLMode(RBLComboBox->currentIndex() == 1 ? blSave : blSuppress);
    } else {
        FUtils->SetRBLMode(blNone);
    }
    // A zone that is no name would make every check fail.
    if (const QString Bad = FUtils->BadZoneName(); !Bad.isEmpty()) {
        Warning(QStringLiteral("Bad zone name: %1").arg(Bad));
        return false;
    }
    FUtils->SetCheckFailDrop(CheckFailCheckBox->isChecked());
    FUtils->SetKeepSpecial(SpecialCheckBox->isChecked());
    // 5. Template
    if (OutFormatCheckBox->isChecked() && !CheckNotEmpty(OutFormatEdit->text(), QStringLiteral("Out Format")))
        return false;
    FUtils->SetOutFormat(OutFormatEdit->text());
    FUtils->SetCustomOutFormat(OutFormatCheckBox->isChecked());
    // The IPv6 template may be empty: the IPv4 one serves both then.
    FUtils->SetCustomOutFormat6(OutFormat6Edit->text());
    switch (FamilyComboBox->currentIndex()) {
    case 1:
        FUtils->SetAddressFamily(afIPv6);
        break;
    case 2:
        FUtils->SetAddressFamily(afBoth);
        break;
    default:
        FUtils->SetAddressFamily(afIPv4);
        break;
    }
    // 6. Output
    if (ResultPageControl->currentIndex() == 0) {
        if (AddedCheckBox->isChecked()) {
            FUtils->SetResultMode(outListNew);
            MemoToList(ResultMemo, *FUtils->ResultList());
        } else {
            FUtils->SetResultMode(outList);
        }
    } else {
        FUtils->SetResultMode(outFile);
        if (!CheckNotEmpty(ResultFileEdit->text(), QStringLiteral("Resolved list file")))
            return false;
        FUtils->SetResolvedListFile(ResultFileEdit->text());
        // Empty: the IPv6 lines go to the same file.
        FUtils->SetResolvedListFile6(ResultFile6Edit->text());
        FUtils->SetOutFileBOM(OutFileFormatComboBox->currentIndex() == 1);
        FUtils->SetOutFileLineBreak(OutFileEndingsComboBox->currentIndex() == 1 ? QStringLiteral("\n")
                                                                                 : QStringLiteral("\r\n"));
    }
    // The document of a preset, the same as veltrask-cli writes for it.
    const TRulePresetKind Preset = RulePresetByName(PresetComboBox->currentText());
    FUtils->SetOutFileFrame({}, {});
    FUtils->SetOutFileFrame6({}, {});
    if (Preset == rpNone) {
        FUtils->ClearRuleDocument();
    } else {
        const bool ToFile = FUtils->ResultMode() == outFile;
        // iptables-restore and ip6tables-restore read different files.
        if (ToFile && Preset == rpIPTables && FUtils->AddressFamily() == afBoth &&
            !CheckNotEmpty(ResultFile6Edit->text(), QStringLiteral("IPv6 file of the iptables preset")))
            return false;
        TRuleWriterSettings S;
        S.Preset = Preset;
        S.Family = FUtils->AddressFamily();
        S.Split6 = ToFile && FUtils->IPv6On() && !ResultFile6Edit->text().isEmpty() &&
                   ResultFile6Edit->text() != ResultFileEdit->text();
        if (const QString Error = RuleSetNameError(S.SetName); !Error.isEmpty()) {
            ErrorMessage(Error);
            return false;
        }
        FUtils->SetRuleDocument(S);
        // The Resolved list then holds the document alone, as the file would.
        if (!ToFile)
            FUtils->ResultList()->Clear();
    }
    // 7. Threads
    if (!CheckStrToInt(ThreadsEdit->text(), QStringLiteral("Threads"), 1, 500))
        return false;
    int Threads = 0;
    TryStrToInt(ThreadsEdit->text(), Threads);
    FUtils->SetThreads(Threads);
    // 8. Lookups, checked and copied one after the other like Threads.
    const struct {
        QLineEdit* Edit;
        const char* Name;
        int Min, Max;
        void (TQXUtils::*Set)(int);
    } Lookups[] = {{RetriesEdit, "Retries", 0, 10, &TQXUtils::SetDNSRetries},
                   {PauseEdit, "Pause", 0, 60000, &TQXUtils::SetPauseMSec},
                   {TimeoutEdit, "Time-out", 1, 60000, &TQXUtils::SetDNSTimeoutMSec},
                   {MaxQPSEdit, "Max queries/s", 0, 100000, &TQXUtils::SetMaxQPS}};
    for (const auto& E : Lookups) {
        if (!CheckStrToInt(E.Edit->text(), QLatin1String(E.Name), E.Min, E.Max))
            return false;
        int Value = 0;
        TryStrToInt(E.Edit->text(), Value);
        (FUtils->*E.Set)(Value);
    }
    return true;
}

void TQXMainForm::ProgressBeforeStart(TProgress*, bool& Allow) {
    // Every step below that raises is shown in a box and the window goes on;
    // nothing of a start may escape to the event loop, which would end the program.
    Allow = false;
    // A window that is closing starts nothing, silently.
    if (FClosePending || FDestroyed)
        return;
    // A run never starts on a list whose file has not been read yet.
    if (!FDeferredLists.empty())
        LoadDeferredLists();
    bool Valid = false;
    if (const auto Error = Catch([&] { Valid = CheckParams(); })) {
        ErrorMessage(*Error);
        return;
    }
    if (!Valid || FClosePending)
        return;
    // Settings that cannot be saved keep the run from starting, with the reason shown.
    if (const auto Error = Catch([this] { SaveSettings(); })) {
        ErrorMessage(*Error);
        return;
    }
    FRunning = true;
    FRunBroken = false;
    SetControlsRunning(true);
    // A log file that cannot be emptied is written on after the old lines;
    // the run itself is not at stake, and no box stops it: the log says so.
    if (const auto Error = Catch([this] { FLog->ClearLog(); })) {
        LogMemo->clear();
        Catch([&] { FLog->LogDT(*Error); });
    }
    // The run's service thread may fail to start: then there is no run.
    if (const auto Error = Catch([this] { FUtils->BeforeStart(); })) {
        SetControlsRunning(false);
        FRunning = false;
        StartButton->setEnabled(true);
        ErrorMessage(*Error);
        return;
    }
    FRunStatus.clear();
    FStartError.clear();
    FRunWarned = false;
    StatusIconLabel->setVisible(false);
    StatusLabel->setToolTip(QString());
    Allow = true;
}

void TQXMainForm::ProgressStart(TProgress* Sender) {
    // Shown from the first run on; afterwards they keep the last run's figures.
    for (QWidget* W : ProgressDisplays())
        W->setVisible(true);
    // Closed while the run was being prepared: nothing was there to break yet.
    if (FClosePending)
        Sender->BreakClick();
    // A worker that cannot be created stops the creating; those already
    // running end the run as usual, and its status tells why it is short.
    if (const auto Error = Catch([this] { FUtils->StartResolveThreads(); }))
        FStartError = *Error;
}

void TQXMainForm::ProgressTerminate(TProgress* Sender) {
    FRunBroken = true;
    Sender->SetStatus(QStringLiteral("Stopping..."));
    StatusLabel->setText(Sender->Status());
    if (FLog->ActiveThreads() == 0)
        Sender->EndProgress();
}

void TQXMainForm::ProgressAfterStop(TProgress*) {
    // Closing the run flushes the output file, which may fail (a full disk).
    // The window comes back all the same, with the reason in its status.
    const std::optional<QString> Error = Catch([this] { FUtils->AfterStop(); });
    switch (FUtils->ResultMode()) {
    case outList:
        FillMemo(ResultMemo, FUtils->ResultList());
        FResultMemoEncoding.reset();
        ResultMemoChange();
        break;
    case outListNew:
        FillMemo(ResultMemo, FUtils->ResultList());
        FillMemo(AddedMemo, FUtils->AddedList());
        FAddedMemoEncoding.reset();
        ResultMemoChange();
        AddedMemoChange();
        break;
    case outFile:
        break;
    }
    SetControlsRunning(false);
    FRunning = false;
    // Set last, so that neither a failed close nor a stale "Stopping..." is what the idle window says.
    ShowRunOutcome(Error);
    StartButton->setEnabled(true);
    // The close waits only for the last thread to leave now.
    if (FClosePending)
        setWindowTitle(FCaption);
    // A run refused for a server name that cannot be looked up: the box a
    // malformed server entry gets.
    if (const QString Server = FUtils->DNSServerError(); !Server.isEmpty())
        QMetaObject::invokeMethod(
            this, [this, Server] { Warning(QStringLiteral("Cannot resolve DNS server: %1").arg(Server)); },
            Qt::QueuedConnection);
}

void TQXMainForm::ProgressDisplay(TProgress* Sender) {
    // The count of lines done, with their rate over the run so far or the whole last run.
    const TDateTime Start = Sender->StartTime();
    if (Start == 0)
        return;
    const TDateTime End = Sender->EndTime();
    const qint64 MSec = MilliSecondsBetween(Start, End != 0 ? End : NowDateTime());
    const qint64 Done = Sender->Processed();
    QString Text = QStringLiteral("%1 %2").arg(Done).arg(Done == 1 ? QStringLiteral("line") : QStringLiteral("lines"));
    if (MSec > 0)
        Text += QStringLiteral(", %1/s").arg(Done * 1000 / MSec);
    // Failures show while the run goes on, not only in its summary.
    const TQXRunCounters C = FUtils->RunCounters();
    if (const qint64 Failed = C.LookupsFailed + C.BLChecksFailed; Failed > 0)
        Text += QStringLiteral(", %1 failed").arg(Failed);
    ProcessedLabel->setText(Text);
    // A log file that fails ends the run, as other run errors do: the user
    // asked for a record of it. The status then names the reason.
    if (FRunning && End == 0 && !Sender->Terminated() && FUtils->DetailedLog() && !FLog->LogFileError().isEmpty())
        Sender->BreakClick();
}

void TQXMainForm::ShowRunOutcome(const std::optional<QString>& AError) {
    // Every kind of error ends here, in the status and nowhere else (no box):
    // the first a worker met, or the one of opening or closing the run.
    QString Error = FUtils->RunError();
    // A log file that failed keeps its error in the log, not in a worker;
    // it stays there until the file is opened again.
    if (Error.isEmpty() && FUtils->DetailedLog())
        Error = FLog->LogFileError();
    if (Error.isEmpty() && AError)
        Error = AError->isEmpty() ? QStringLiteral("unknown error") : *AError;
    if (Error.isEmpty())
        Error = FStartError;
    const TQXRunCounters Counters = FUtils->RunCounters();
    const TRunOutcome Outcome = RunOutcome(Counters, FRunBroken, Error);
    FRunStatus = Outcome.Status;
    FRunWarned = Outcome.Kind != rokCompleted;
    // A run that ended before its start was announced still has its figures to show.
    for (QWidget* W : ProgressDisplays())
        W->setVisible(true);
    FProgress->SetStatus(Outcome.Status);
    StatusLabel->setText(Outcome.Status);
    // The row may show it elided: the whole of it stays at hand.
    StatusLabel->setToolTip(Outcome.Status);
    if (Outcome.Kind == rokIncomplete || Outcome.Kind == rokFailed) {
        const QStyle::StandardPixmap Icon =
            Outcome.Kind == rokFailed ? QStyle::SP_MessageBoxCritical : QStyle::SP_MessageBoxWarning;
        const int Size = StatusLabel->fontMetrics().height();
        StatusIconLabel->setPixmap(style()->standardIcon(Icon, nullptr, this).pixmap(Size, Size));
        StatusIconLabel->setToolTip(Outcome.Status);
        StatusIconLabel->setVisible(true);
    } else {
        StatusIconLabel->setVisible(false);
    }
}

QList<QWidget*> TQXMainForm::ProgressDisplays() const {
    return {ProgressBar, ProgressLabel, ElapsedTitleLabel, ElapsedLabel, ProcessedTitleLabel, ProcessedLabel,
            StatusLabel};
}

// --- Settings --------------------------------------------------------------

QString TQXMainForm::GetSettingsFileName(bool FirstUse) const {
    const QString Dir =
        GetAppSettingsDir(QStringLiteral("Veltrask"), FirstUse ? QStringLiteral("qx.ini") : QString());
    return GetAppConfigFile(QStringLiteral("qx.ini"), Dir);
}

namespace {

TCtrlRecs MainTable(TQXMainForm* F) {
    return {MakeCtrlRec(F->DNSMemo, QStringLiteral("DNSList")),
            MakeCtrlRec(F->DBLCheckBox, QStringLiteral("DBLCheck")),
            MakeCtrlRec(F->DBLComboBox, QStringLiteral("DBLMode")),
            MakeCtrlRec(F->DBLMemo, QStringLiteral("DBLServices")),
            MakeCtrlRec(F->RBLCheckBox, QStringLiteral("RBLCheck")),
            MakeCtrlRec(F->RBLComboBox, QStringLiteral("RBLMode")),
            MakeCtrlRec(F->RBLMemo, QStringLiteral("RBLServices")),
            MakeCtrlRec(F->RBL6Memo, QStringLiteral("RBL6Services")),
            MakeCtrlRec(F->AddedCheckBox, QStringLiteral("OutListNew")),
            // Restored before the templates it fills, so that their stored
            // (perhaps edited) texts win; "none" is empty and not stored.
            MakeCtrlRec(F->PresetComboBox, QStringLiteral("Preset")),
            MakeCtrlRec(F->OutFormatCheckBox, QStringLiteral("OutFormat")),
            MakeCtrlRec(F->OutFormatEdit, QStringLiteral("OutFormatText")),
            MakeCtrlRec(F->SourceFileEdit, QStringLiteral("SrcFileName")),
            MakeCtrlRec(F->ResultFileEdit, QStringLiteral("OutFileName")),
            MakeCtrlRec(F->SourcePageControl, QStringLiteral("SrcType")),
            MakeCtrlRec(F->ResultPageControl, QStringLiteral("OutType")),
            MakeCtrlRec(F->OutFileFormatComboBox, QStringLiteral("OutFileFormat")),
            MakeCtrlRec(F->OutFileEndingsComboBox, QStringLiteral("OutFileEndings")),
            MakeCtrlRec(F->ThreadsEdit, QStringLiteral("Threads")),
            MakeCtrlRec(F->RetriesEdit, QStringLiteral("DNSRetries")),
            MakeCtrlRec(F->PauseEdit, QStringLiteral("PauseMSec")),
            MakeCtrlRec(F->TimeoutEdit, QStringLiteral("DNSTimeoutMSec")),
            MakeCtrlRec(F->MaxQPSEdit, QStringLiteral("MaxQPS")),
            MakeCtrlRec(F->SpecialCheckBox, QStringLiteral("KeepSpecial")),
            MakeCtrlRec(F->CheckFailCheckBox, QStringLiteral("CheckFailDrop")),
            MakeCtrlRec(F->FamilyComboBox, QStringLiteral("AddressFamily")),
            MakeCtrlRec(F->OutFormat6Edit, QStringLiteral("OutFormat6Text")),
            MakeCtrlRec(F->ResultFile6Edit, QStringLiteral("OutFileName6"))};
}

TCtrlRecs LogTable(TQXMainForm* F) {
    return {MakeCtrlRec(F->LogFileEdit, QStringLiteral("LogFileName")),
            MakeCtrlRec(F->LogFileCheckBox, QStringLiteral("LogFile")),
            MakeCtrlRec(F->DetailedLogCheckBox, QStringLiteral("DetailedLog"))};
}

} // namespace

void TQXMainForm::LoadSettings() {
    const QString FileName = GetSettingsFileName(true);
    // Each file that cannot be read is told, and the others are still
    // shown as they hold them: one bad file empties no other list.
    QStringList Errors;
    // Without a settings file the controls keep their defaults, but list
    // files that are there are still the user's lists: they are shown, and
    // so never saved over with an empty list.
    if (QFileInfo::exists(FileName)) {
        if (const auto Error = Catch([&] {
                TVHashedStringList Values(SettingsHashBuckets);
                LoadSettingsFile(Values, FileName);
                const QByteArray Passphrase = StoredSettingsPassphrase();
                LoadCtrls(Values, Passphrase, MainTable(this));
                LoadCtrls(Values, Passphrase, LogTable(this));
            }))
            Errors << *Error;
    }

    const QString Dir = QFileInfo(FileName).absolutePath();
    const struct {
        const char* Name;
        TLinesEdit* Memo;
        std::optional<TMemoEncoding>* Encoding;
        TListFileState* State;
    } Files[] = {{SourceListFileName, SourceMemo, &FSourceMemoEncoding, &FSourceListFile},
                 {ResultListFileName, ResultMemo, &FResultMemoEncoding, &FResultListFile},
                 {AddedListFileName, AddedMemo, &FAddedMemoEncoding, &FAddedListFile}};
    for (const auto& F : Files) {
        const QString Path = BuildFilePath(Dir, QLatin1String(F.Name));
        if (!QFileInfo::exists(Path)) {
            *F.State = TListFileState{true, F.State->Changed, false};
            continue;
        }
        if (!isVisible() && QFileInfo(Path).size() > DeferredListBytes) {
            FDeferredLists.push_back({Path, F.Memo, F.Encoding, F.State});
            F.Memo->setPlaceholderText(QStringLiteral("Reading %1...").arg(QLatin1String(F.Name)));
            continue;
        }
        // Unread, the file is never saved over unless its list is changed.
        std::optional<TMemoEncoding> Encoding;
        QStringList Lines;
        if (const auto Error = Catch([&] { Lines = ReadListFile(Path, Encoding); })) {
            Errors << *Error;
            continue;
        }
        {
            const QScopedValueRollback<bool> Filling(FFillingList, true);
            SetMemoLines(F.Memo, Lines);
        }
        *F.Encoding = Encoding;
        *F.State = TListFileState{true, false, Encoding && Encoding->Invalid};
        LogLegacyListFile(FLog, Path, Encoding);
    }
    if (!Errors.isEmpty())
        throw EFileError(Errors.join(QLatin1Char('\n')));
}

void TQXMainForm::showEvent(QShowEvent* Event) {
    TVForm::showEvent(Event);
    // Shown again after a close: what changes now is saved at the next one.
    FSavedAtClose = false;
    FCloseSaveFailed = false;
    // A moment later than the first paint is queued, so the window is drawn
    // before the editor spends its seconds on a long list.
    if (!FDeferredLists.empty())
        QTimer::singleShot(50, this, [this] { LoadDeferredLists(); });
}

void TQXMainForm::LoadDeferredLists() {
    std::vector<TDeferredList> Lists;
    Lists.swap(FDeferredLists);
    for (const TDeferredList& L : Lists) {
        L.Memo->setPlaceholderText(QString());
        // A list the user has typed into meanwhile is the user's; its file stays unread and unsaved over.
        if (L.State->Changed)
            continue;
        if (const auto Error = Catch([&] {
                std::optional<TMemoEncoding> Encoding;
                const QStringList Lines = ReadListFile(L.Path, Encoding);
                {
                    const QScopedValueRollback<bool> Filling(FFillingList, true);
                    SetMemoLines(L.Memo, Lines);
                }
                *L.Encoding = Encoding;
                *L.State = TListFileState{true, false, Encoding && Encoding->Invalid};
                LogLegacyListFile(FLog, L.Path, Encoding);
            }))
            ErrorMessage(*Error);
    }
}

void TQXMainForm::SaveListFile(const QString& Dir, const char* Name, TLinesEdit* Memo,
                               const std::optional<TMemoEncoding>& Encoding, TListFileState& State) {
    const QString Path = BuildFilePath(Dir, QLatin1String(Name));
    // A file the window never read, or one whose list is as it was read, is
    // left as it is: byte for byte, whatever its mark and content.
    if (!State.Changed && (!State.Read || QFileInfo::exists(Path)))
        return;
    if (State.Invalid) {
        // Its text, written back, would put replacement characters where the
        // file had bytes of its own; the file is kept and the user told.
        if (FLog)
            FLog->LogDT(QStringLiteral("List file \"%1\" is not saved: it holds bytes that are not valid %2, "
                                       "which saving would replace")
                            .arg(QDir::toNativeSeparators(Path),
                                 Encoding && !Encoding->Legacy8Bit
                                     ? QString::fromLatin1(QStringConverter::nameForEncoding(Encoding->Encoding))
                                     : Legacy8BitEncodingName()));
        return;
    }
    WriteListFile(Path, MemoLines(Memo), Encoding);
    State = TListFileState{true, false, false};
}

void TQXMainForm::SaveSettings() {
    const QString FileName = GetSettingsFileName(false);
    TVHashedStringList Values(SettingsHashBuckets);
    const QByteArray Passphrase = StoredSettingsPassphrase();
    SaveCtrls(Values, Passphrase, MainTable(this));
    SaveCtrls(Values, Passphrase, LogTable(this));
    // A file that cannot be written keeps no other from being saved; the
    // reasons are raised together once all were tried.
    QStringList Errors;
    if (const auto Error = Catch([&] { SaveSettingsFile(Values, FileName); }))
        Errors << *Error;

    const QString Dir = QFileInfo(FileName).absolutePath();
    const struct {
        const char* Name;
        TLinesEdit* Memo;
        const std::optional<TMemoEncoding>& Encoding;
        TListFileState& State;
    } Files[] = {{SourceListFileName, SourceMemo, FSourceMemoEncoding, FSourceListFile},
                 {ResultListFileName, ResultMemo, FResultMemoEncoding, FResultListFile},
                 {AddedListFileName, AddedMemo, FAddedMemoEncoding, FAddedListFile}};
    for (const auto& F : Files)
        if (const auto Error = Catch([&] { SaveListFile(Dir, F.Name, F.Memo, F.Encoding, F.State); }))
            Errors << *Error;
    if (!Errors.isEmpty())
        throw EFileError(Errors.join(QLatin1Char('\n')));
}
