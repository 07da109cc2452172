#pragma once

#include "engine/uControls.h"

#include <QElapsedTimer>
#include <QString>

// Standard error as the command line uses it: the log as it is written, one
// live progress line that log text never runs into, and error messages.
// When standard error is no terminal (a log file, a pipe) the progress comes
// as plain lines instead, at most one per kPlainProgressMSec, so that no
// carriage returns end up in the file. Main thread only.
class TCliConsole {
public:
    // AQuiet drops the log (the last line is still remembered); AFd is the
    // descriptor written to, standard error unless a test says otherwise.
    explicit TCliConsole(bool AQuiet, int AFd = 2);

    static constexpr int kPlainProgressMSec = 5000;

    TCliConsole(const TCliConsole&) = delete;
    TCliConsole& operator=(const TCliConsole&) = delete;

    // Log text with CR LF or LF breaks; written with LF breaks.
    void WriteLog(const QString& AText);
    // Replaces the progress line ("\r" in front, blanks over a longer old one);
    // on no terminal, writes it as a line of its own when its time has come.
    void ShowProgress(const QString& ALine);
    // Ends a shown progress line with a line break, so it stays on screen; on
    // no terminal, writes the last line given unless it was written already.
    void FinishProgress();
    // "veltrask-cli: <message>", shown even when quiet.
    void Error(const QString& AMessage);

    // The last line of log text, quiet or not.
    QString LastLogLine() const { return FLastLogLine; }

private:
    void Write(const QString& AText);
    void HideProgress();

    bool FQuiet;
    int FFd;
    bool FTerminal;
    QElapsedTimer FPlainTimer;   // since the last plain progress line (or the start)
    QString FPlainPending;       // given and not written yet
    QString FProgressLine;   // the line on screen, empty when none
    QString FLastLogLine;
};

// The log's memo over the console: append-only, so the log never reads back
// lines and never trims what it has already written.
class TConsoleMemo : public TMemoControl {
public:
    explicit TConsoleMemo(TCliConsole* AConsole) : FConsole(AConsole) {}

    int LineCount() const override { return 0; }
    QString Line(int) const override { return QString(); }
    // Clearing the log cannot take back what the terminal already shows.
    void SetText(const QString&) override {}
    int TextLength() const override { return 0; }
    void SetSelStart(int) override {}
    void ReplaceSelection(const QString& AText) override;

private:
    TCliConsole* FConsole;
};
