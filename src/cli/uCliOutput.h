#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Where the output lines go: standard output or a file, written by the main
// thread only, line by line as the run hands them over. A failed write is
// final: it is reported once, with the file's name and the system's reason,
// and nothing more is written or retried, not even when closing.
//
// A file is written whole: the lines go to a temporary file beside it, which
// replaces the file only when the run completed (Close with ACommit). A
// reader never sees half a rule set, and a broken run leaves the last good
// file as it was.
class TCliOutput {
public:
    TCliOutput() = default;
    // Closes a file it opened (errors there go unreported: call Close first).
    ~TCliOutput();

    TCliOutput(const TCliOutput&) = delete;
    TCliOutput& operator=(const TCliOutput&) = delete;

    // Writes to standard output, which stays open.
    void OpenStdout();
    // Standard output was closed when the program started (and now reaches
    // /dev/null): every write to it fails.
    static void SetStdoutClosed(bool AValue);
    // Creates the temporary file for AFileName in its folder; false with
    // AError naming the file. AFileName itself is not touched yet.
    bool OpenFile(const QString& AFileName, QString& AError);
    // Lines written first (after the byte-order mark) and last, by Open and
    // by a committing Close.
    void SetHeader(const QStringList& ALines) { FHeader = ALines; }
    // Writes the header to standard output (a file gets it when opened).
    bool WriteHeader(QString& AError) { return WriteHeaderFooter(FHeader, AError); }
    void SetFooter(const QStringList& ALines) { FFooter = ALines; }

    void SetLineBreak(const QByteArray& AValue) { FLineBreak = AValue; }
    // UTF-8 byte-order mark in front of the first line.
    void SetWriteBOM(bool AValue) { FWriteBOM = AValue; }

    // Writes ALines in UTF-8, each with the line break; false with AError on
    // the first failure, and false without a new message after it.
    bool WriteLines(const QStringList& ALines, QString& AError);
    // Closes a file it opened; false with AError when the system reports a
    // late write error there. ACommit: the run completed, the temporary file
    // replaces the target, unless the target already holds exactly the same
    // bytes (then it is left alone and Changed() is false). Without ACommit,
    // or after any failure, the temporary file is removed and the target is
    // left as it was. On standard output the footer is written on commit.
    bool Close(QString& AError, bool ACommit = true);
    // Close in two steps, so that two files are replaced only when both were
    // written whole: Finish writes the footer (ACommit), flushes and closes;
    // then Replace puts a finished file in place, or Discard drops it.
    bool Finish(QString& AError, bool ACommit);
    bool Replace(QString& AError);
    void Discard() { RemoveTemp(); }

    // The last Close replaced the target file.
    bool Changed() const { return FChanged; }
    // A file output (not standard output) is open or was opened.
    bool IsFile() const { return !FTarget.isEmpty(); }

    bool Failed() const { return FFailed; }
    // "standard output" or the file name as given.
    QString Name() const { return FName; }

    // Signal handler side: true while output bytes are being written, so
    // that an immediate exit would cut a line. Async-signal-safe.
    static bool Writing();
    // Signal handler side: exit with ACode as soon as the output ends on a
    // whole line (at once when nothing is being written). Async-signal-safe.
    static void ExitAfterWholeLine(int ACode);

private:
    bool WriteAll(const QByteArray& ABytes, QString& AError);
    QString FailText(int AError) const;

    bool WriteHeaderFooter(const QStringList& ALines, QString& AError);
    void RemoveTemp();

    int FFd = -1;
    QString FTarget;       // the file to replace; empty for standard output
    QByteArray FTempName;  // the temporary file while it exists
    bool FChanged = false;
    QStringList FHeader, FFooter;
    bool FOwnsFd = false;
    bool FFailed = false;
    bool FWriteBOM = false;
    bool FWroteAny = false;
    QByteArray FLineBreak = "\n";
    QString FName;
};
