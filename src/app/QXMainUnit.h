#pragma once

#include "app/VFormUnit.h"
#include "app/uLinesEdit.h"
#include "containers/uFileUtils.h"

#include <QStringConverter>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QTabWidget;
class QWidget;
class TButton;
class TListView;
class TLog;
class TProgress;
class TQXUtils;
class TStringList;
class TMemoAdapter;
class TListViewAdapter;
class TButtonAdapter;
class TLabelAdapter;
class TProgressBarAdapter;

// The encoding a memo's text was last read from, so that its list file is
// written back the same way. No value: the system's 8-bit code page, no mark.
using TMemoEncoding = TTextEncoding;

// The program's only window: the inputs of a run, the run itself through the
// progress controller, the results, the log and the settings kept between starts.
class TQXMainForm : public TVForm {
    Q_OBJECT
public:
    explicit TQXMainForm(QWidget* AParent = nullptr);
    ~TQXMainForm() override;

    TQXUtils* Utils() const { return FUtils; }
    TLog* GetLog() const { return FLog; }
    TProgress* Progress() const { return FProgress; }
    // True between the start of a run and its end.
    bool Running() const { return FRunning; }
    // The window's own word on the last run: its status, and whether it
    // ended short of what was asked (failed lookups, Break, an error).
    QString RunStatus() const { return FRunStatus; }
    bool RunWarned() const { return FRunWarned; }
    // The window was asked to close during a run; it closes once the run has
    // ended and its results are in the lists.
    bool ClosePending() const { return FClosePending; }

    // The list file readers and writers of the window, public for the tests:
    // a UTF-8 or UTF-16 byte-order mark selects that encoding; without one
    // UTF-8, or Windows-1252 when the bytes are not UTF-8 (DecodeListFileBytes).
    static QStringList ReadListFile(const QString& FileName, std::optional<TMemoEncoding>& Encoding);
    static void WriteListFile(const QString& FileName, const QStringList& Lines,
                              const std::optional<TMemoEncoding>& Encoding);
    // Lines joined by Delimiter, none after the last, in the 8-bit code page.
    static void SaveLinesToFile(const QStringList& Lines, const QString& FileName, const QString& Delimiter);
    static QString GetDelimiter(QComboBox* Combo);
    // The memo's lines; a final line break adds no empty line.
    static QStringList MemoLines(const QPlainTextEdit* Memo);
    static void SetMemoLines(QPlainTextEdit* Memo, const QStringList& Lines);
    static QStringList MemoLines(const TLinesEdit* Memo) { return Memo->Lines(); }
    static void SetMemoLines(TLinesEdit* Memo, const QStringList& Lines) { Memo->SetLines(Lines); }

    // Path of "qx.ini"; on first use the settings folder may be created and seeded.
    QString GetSettingsFileName(bool FirstUse) const;
    void LoadSettings();
    void SaveSettings();

protected:
    // For windows derived from this one whose overrides (message boxes, file
    // dialogs) must already be in place while the settings are restored: the
    // controls are built, and the derived constructor calls FormCreate itself
    // (and its destructor FormDestroy).
    struct TDeferCreate {};
    TQXMainForm(TDeferCreate, QWidget* AParent = nullptr);
    void FormCreate();
    // Saves the settings and frees the job, the log and the controller; runs once.
    void FormDestroy();

    void closeEvent(QCloseEvent* Event) override;
    void showEvent(QShowEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    // A file dialog's answer: the chosen file, or empty when cancelled. Tests replace it.
    virtual QString ExecFileDialog(QFileDialog* Dialog);

private:
    void CreateControls();

    void SourceMemoChange();
    void ResultMemoChange();
    void AddedMemoChange();
    void SourceLoadButtonClick();
    void SourceClearButtonClick();
    void ResultClearButtonClick();
    void AddedClearButtonClick();
    void SourceExploreButtonClick();
    void ResultExploreButtonClick();
    void ResultExplore6ButtonClick();
    // The IPv6 template and file are for runs that deal in IPv6; the template
    // also needs the out format on.
    void UpdateFamilyControls();
    // A preset chosen: its templates go into the edits (see uRulePresets.h).
    void PresetActivated(int AIndex);
    // Format and Line Endings are the user's only without a preset.
    void UpdatePresetControls();
    void ResultSaveButtonClick();
    void AddedSaveButtonClick();
    void DetailedLogCheckBoxClick();
    void LogTopPanelResize();
    void CloseButtonClick();

    void SetControlsRunning(bool Running);
    bool CheckParams();
    void ProgressBeforeStart(TProgress* Sender, bool& Allow);
    void ProgressStart(TProgress* Sender);
    void ProgressTerminate(TProgress* Sender);
    void ProgressAfterStop(TProgress* Sender);
    void ProgressDisplay(TProgress* Sender);
    // Status, cue and summary of the run that has just ended; AError is why
    // it could not be closed, if it could not.
    void ShowRunOutcome(const std::optional<QString>& AError);
    // A file dropped on the domain list: read like "Load from file...".
    void LoadSourceFile(const QString& FileName);
    // The progress bar and the labels of the run, in the order they are laid out.
    QList<QWidget*> ProgressDisplays() const;
    void SaveMemoToFile(TLinesEdit* Memo, QComboBox* DelimiterCombo, QFileDialog* Dialog);
    void FillMemo(TLinesEdit* Memo, const TStringList* List);
    static void MemoToList(const QPlainTextEdit* Memo, TStringList& List);
    static void MemoToList(const TLinesEdit* Memo, TStringList& List);

    TQXUtils* FUtils = nullptr;
    TLog* FLog = nullptr;
    TProgress* FProgress = nullptr;
    bool FRunning = false;
    bool FDestroyed = false;
    bool FClosePending = false;
    // The settings and lists were saved by the close (or could not be, and
    // the user closed again): the window's end saves nothing more.
    bool FSavedAtClose = false;
    bool FCloseSaveFailed = false;  // the close's save failed once and was told
    bool FRunBroken = false;  // Break (or a close) cut the current run short
    QString FRunStatus;
    QString FStartError;  // why not every worker of the run could be started
    bool FRunWarned = false;
    QString FCaption;  // the caption while no close is pending

    std::unique_ptr<TMemoAdapter> FLogMemoAdapter;
    std::unique_ptr<TListViewAdapter> FThreadsViewAdapter;
    std::unique_ptr<TButtonAdapter> FStartButtonAdapter;
    std::unique_ptr<TButtonAdapter> FBreakButtonAdapter;
    std::unique_ptr<TProgressBarAdapter> FProgressBarAdapter;
    std::vector<std::unique_ptr<TLabelAdapter>> FLabelAdapters;

    std::optional<TMemoEncoding> FSourceMemoEncoding;
    std::optional<TMemoEncoding> FResultMemoEncoding;
    std::optional<TMemoEncoding> FAddedMemoEncoding;

    // What the window knows of each list file, so that a save never
    // overwrites one it did not read, nor one the user has not changed.
    struct TListFileState {
        bool Read = false;     // read, or absent when the settings were restored
        bool Changed = false;  // the list differs from the file since then
        bool Invalid = false;  // the file held bytes its encoding does not allow
    };
    TListFileState FSourceListFile, FResultListFile, FAddedListFile;
    bool FFillingList = false;  // a list being restored from its file is no change
    void SaveListFile(const QString& Dir, const char* Name, TLinesEdit* Memo,
                      const std::optional<TMemoEncoding>& Encoding, TListFileState& State);
    // Big list files are read once the window is on screen, so that it
    // appears at once; until then their lists count as unread.
    struct TDeferredList {
        QString Path;
        TLinesEdit* Memo;
        std::optional<TMemoEncoding>* Encoding;
        TListFileState* State;
    };
    std::vector<TDeferredList> FDeferredLists;
    void LoadDeferredLists();

public:
    // Controls, named as their objectName.
    QTabWidget* SourcePageControl = nullptr;
    QWidget* SrcListTabSheet = nullptr;
    QWidget* SrcFileTabSheet = nullptr;
    QLabel* SourceListLabel = nullptr;
    TLinesEdit* SourceMemo = nullptr;
    TButton* SourceLoadButton = nullptr;
    TButton* SourceClearButton = nullptr;
    QLabel* Label7 = nullptr;
    QLineEdit* SourceFileEdit = nullptr;
    TButton* SourceBrowseButton = nullptr;
    TButton* SourceExploreButton = nullptr;
    QCheckBox* OutFormatCheckBox = nullptr;
    QLineEdit* OutFormatEdit = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* PresetLabel = nullptr;
    QComboBox* PresetComboBox = nullptr;  // 0: "(none)", then RulePresetNames()
    // The templates before the first preset was chosen, for "(none)".
    struct {
        bool Valid = false;
        bool On = false;
        QString Format, Format6;
    } FPresetSaved;
    QLabel* FamilyLabel = nullptr;
    QComboBox* FamilyComboBox = nullptr;
    QLabel* OutFormat6Label = nullptr;
    QLineEdit* OutFormat6Edit = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* DNSTabSheet = nullptr;
    QWidget* DBLTabSheet = nullptr;
    QWidget* RBLTabSheet = nullptr;
    QLabel* Label5 = nullptr;
    QPlainTextEdit* DNSMemo = nullptr;
    QLabel* RetriesLabel = nullptr;
    QLineEdit* RetriesEdit = nullptr;
    QLabel* PauseLabel = nullptr;
    QLineEdit* PauseEdit = nullptr;
    QLabel* TimeoutLabel = nullptr;
    QLineEdit* TimeoutEdit = nullptr;
    QLabel* MaxQPSLabel = nullptr;
    QLineEdit* MaxQPSEdit = nullptr;
    // "Keep special addresses" and "Drop items whose check failed".
    QCheckBox* SpecialCheckBox = nullptr;
    QCheckBox* CheckFailCheckBox = nullptr;
    QCheckBox* DBLCheckBox = nullptr;
    QComboBox* DBLComboBox = nullptr;
    QPlainTextEdit* DBLMemo = nullptr;
    QCheckBox* RBLCheckBox = nullptr;
    QComboBox* RBLComboBox = nullptr;
    QPlainTextEdit* RBLMemo = nullptr;
    // The zones of IPv6 addresses; RBLMemo holds those of IPv4 ones.
    QLabel* RBL6Label = nullptr;
    QPlainTextEdit* RBL6Memo = nullptr;
    QLabel* EditionLabel = nullptr;
    QLabel* ThreadsLabel = nullptr;
    QLineEdit* ThreadsEdit = nullptr;
    TButton* StartButton = nullptr;
    TButton* BreakButton = nullptr;
    TButton* CloseButton = nullptr;
    QTabWidget* ResultPageControl = nullptr;
    QWidget* OutListTabSheet = nullptr;
    QWidget* OutFileTabSheet = nullptr;
    QLabel* ResultListLabel = nullptr;
    TLinesEdit* ResultMemo = nullptr;
    TButton* ResultSaveButton = nullptr;
    QLabel* ResultDelimiterLabel = nullptr;
    QComboBox* ResultDelimiterComboBox = nullptr;
    TButton* ResultClearButton = nullptr;
    QCheckBox* AddedCheckBox = nullptr;
    TLinesEdit* AddedMemo = nullptr;
    TButton* AddedSaveButton = nullptr;
    QLabel* AddedDelimiterLabel = nullptr;
    QComboBox* AddedDelimiterComboBox = nullptr;
    TButton* AddedClearButton = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* ResultFileEdit = nullptr;
    TButton* ResultBrowseButton = nullptr;
    TButton* ResultExploreButton = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* ResultFile6Edit = nullptr;
    TButton* ResultBrowse6Button = nullptr;
    TButton* ResultExplore6Button = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* OutFileFormatComboBox = nullptr;
    QLabel* Label3 = nullptr;
    QComboBox* OutFileEndingsComboBox = nullptr;
    QTabWidget* LogPageControl = nullptr;
    QWidget* LogTabSheet = nullptr;
    QWidget* ThreadsTabSheet = nullptr;
    QWidget* LogTopPanel = nullptr;
    QCheckBox* DetailedLogCheckBox = nullptr;
    QCheckBox* LogFileCheckBox = nullptr;
    QLineEdit* LogFileEdit = nullptr;
    TButton* LogFileBrowseButton = nullptr;
    QPlainTextEdit* LogMemo = nullptr;
    TListView* ThreadsListView = nullptr;
    QWidget* ProgressPanel = nullptr;
    QProgressBar* ProgressBar = nullptr;
    QLabel* ProgressLabel = nullptr;
    QLabel* ElapsedTitleLabel = nullptr;
    QLabel* ElapsedLabel = nullptr;
    QLabel* ProcessedTitleLabel = nullptr;
    QLabel* ProcessedLabel = nullptr;
    QLabel* StatusLabel = nullptr;
    QLabel* StatusIconLabel = nullptr;

    QFileDialog* SourceOpenDialog = nullptr;
    QFileDialog* ResultSaveDialog = nullptr;
    QFileDialog* ResultSave6Dialog = nullptr;
    QFileDialog* AddedSaveDialog = nullptr;
    QFileDialog* LogSaveDialog = nullptr;
};
