#pragma once

#include "app/VFormUnit.h"

#include <QStringConverter>
#include <QStringList>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
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

// The encoding a memo's text was last read from, so that its list file is
// written back the same way. No value: the system's 8-bit code page, no mark.
struct TMemoEncoding {
    QStringConverter::Encoding Encoding = QStringConverter::System;
    bool BOM = false;
};

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

    // The list file readers and writers of the window, public for the tests:
    // a UTF-8 or UTF-16 byte-order mark selects that encoding, otherwise the
    // system's 8-bit code page.
    static QStringList ReadListFile(const QString& FileName, std::optional<TMemoEncoding>& Encoding);
    static void WriteListFile(const QString& FileName, const QStringList& Lines,
                              const std::optional<TMemoEncoding>& Encoding);
    // Lines joined by Delimiter, none after the last, in the 8-bit code page.
    static void SaveLinesToFile(const QStringList& Lines, const QString& FileName, const QString& Delimiter);
    static QString GetDelimiter(QComboBox* Combo);
    // The memo's lines; a final line break adds no empty line.
    static QStringList MemoLines(const QPlainTextEdit* Memo);
    static void SetMemoLines(QPlainTextEdit* Memo, const QStringList& Lines);

    // Path of "qx.ini"; on first use the settings folder may be created and seeded.
    QString GetSettingsFileName(bool FirstUse) const;
    void LoadSettings();
    void SaveSettings();

protected:
    void closeEvent(QCloseEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    // A file dialog's answer: the chosen file, or empty when cancelled. Tests replace it.
    virtual QString ExecFileDialog(QFileDialog* Dialog);

private:
    void CreateControls();
    void FormCreate();
    void FormDestroy();

    void SourceMemoChange();
    void ResultMemoChange();
    void AddedMemoChange();
    void SourceLoadButtonClick();
    void SourceClearButtonClick();
    void ResultClearButtonClick();
    void AddedClearButtonClick();
    void SourceExploreButtonClick();
    void ResultExploreButtonClick();
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
    void SaveMemoToFile(QPlainTextEdit* Memo, QComboBox* DelimiterCombo, QFileDialog* Dialog);
    void FillMemo(QPlainTextEdit* Memo, const TStringList* List);
    static void MemoToList(const QPlainTextEdit* Memo, TStringList& List);

    TQXUtils* FUtils = nullptr;
    TLog* FLog = nullptr;
    TProgress* FProgress = nullptr;
    bool FRunning = false;
    bool FDestroyed = false;

    std::unique_ptr<TMemoAdapter> FLogMemoAdapter;
    std::unique_ptr<TListViewAdapter> FThreadsViewAdapter;
    std::unique_ptr<TButtonAdapter> FStartButtonAdapter;
    std::unique_ptr<TButtonAdapter> FBreakButtonAdapter;

    std::optional<TMemoEncoding> FSourceMemoEncoding;
    std::optional<TMemoEncoding> FResultMemoEncoding;
    std::optional<TMemoEncoding> FAddedMemoEncoding;

public:
    // Controls, named as their objectName.
    QTabWidget* SourcePageControl;
    QWidget* SrcListTabSheet;
    QWidget* SrcFileTabSheet;
    QLabel* SourceListLabel;
    QPlainTextEdit* SourceMemo;
    TButton* SourceLoadButton;
    TButton* SourceClearButton;
    QLabel* Label7;
    QLineEdit* SourceFileEdit;
    TButton* SourceBrowseButton;
    TButton* SourceExploreButton;
    QCheckBox* OutFormatCheckBox;
    QLineEdit* OutFormatEdit;
    QLabel* Label4;
    QTabWidget* PageControl1;
    QWidget* DNSTabSheet;
    QWidget* DBLTabSheet;
    QWidget* RBLTabSheet;
    QLabel* Label5;
    QPlainTextEdit* DNSMemo;
    QCheckBox* DBLCheckBox;
    QComboBox* DBLComboBox;
    QPlainTextEdit* DBLMemo;
    QCheckBox* RBLCheckBox;
    QComboBox* RBLComboBox;
    QPlainTextEdit* RBLMemo;
    QLabel* EditionLabel;
    QLabel* ThreadsLabel;
    QLineEdit* ThreadsEdit;
    TButton* StartButton;
    TButton* BreakButton;
    TButton* CloseButton;
    QTabWidget* ResultPageControl;
    QWidget* OutListTabSheet;
    QWidget* OutFileTabSheet;
    QLabel* ResultListLabel;
    QPlainTextEdit* ResultMemo;
    TButton* ResultSaveButton;
    QLabel* ResultDelimiterLabel;
    QComboBox* ResultDelimiterComboBox;
    TButton* ResultClearButton;
    QCheckBox* AddedCheckBox;
    QPlainTextEdit* AddedMemo;
    TButton* AddedSaveButton;
    QLabel* AddedDelimiterLabel;
    QComboBox* AddedDelimiterComboBox;
    TButton* AddedClearButton;
    QLabel* Label1;
    QLineEdit* ResultFileEdit;
    TButton* ResultBrowseButton;
    TButton* ResultExploreButton;
    QLabel* Label2;
    QComboBox* OutFileFormatComboBox;
    QLabel* Label3;
    QComboBox* OutFileEndingsComboBox;
    QTabWidget* LogPageControl;
    QWidget* LogTabSheet;
    QWidget* ThreadsTabSheet;
    QWidget* LogTopPanel;
    QCheckBox* DetailedLogCheckBox;
    QCheckBox* LogFileCheckBox;
    QLineEdit* LogFileEdit;
    TButton* LogFileBrowseButton;
    QPlainTextEdit* LogMemo;
    TListView* ThreadsListView;

    QFileDialog* SourceOpenDialog;
    QFileDialog* ResultSaveDialog;
    QFileDialog* AddedSaveDialog;
    QFileDialog* LogSaveDialog;
};
