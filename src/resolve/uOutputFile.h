#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

// Where the output lines go: standard output or a file, written by one
// thread at a time, line by line as the run hands them over. A failed write is
// final: it is reported once, with the file's name and the system's reason,
// and nothing more is written or retried, not even when closing.
//
// A file is written whole: the lines go to a temporary file beside it, which
// replaces the file only when the run completed (Close with ACommit). A
// reader never sees half a rule set, and a broken run leaves the last good
// file as it was. A file in a folder the user may not write is held in an
// unnamed temporary file until then and copied in. Descriptor names
// (/dev/stdout, /dev/fd/N, /proc/self/fd/N) are written through; FIFOs and
// devices are written as they are, never renamed over.
//
// The window's job and veltrask-cli both write their files through it.
class TOutputFile {
public:
    TOutputFile() = default;
    // Closes a file it opened (errors there go unreported: call Close first).
    ~TOutputFile();

    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    // Writes to standard output, which stays open.
    void OpenStdout();
    // Standard output was closed when the program started (and now reaches
    // /dev/null): every write to it fails.
    static void SetStdoutClosed(bool AValue);
    // Creates the temporary file for AFileName in its folder; false with
    // AError naming the file. AFileName itself is not touched yet. A FIFO
    // without a reader is waited for as long as AAbort says no (checked
    // every 50 ms); then false with Interrupted() and no error. Without
    // AAbort the open waits for the reader.
    bool OpenFile(const QString& AFileName, QString& AError, const std::function<bool()>& AAbort = {});
    bool Interrupted() const { return FInterrupted; }
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
    // One line into a buffer written out in pieces of 4 KiB (and by Finish):
    // for a file filled from many small calls.
    bool AppendLine(const QString& ALine, QString& AError);
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
    bool FlushBuffer(QString& AError);
    QString FailText(int AError) const;
    bool OpenWaiting(const QByteArray& AName, const std::function<bool()>& AAbort, QString& AError);
    bool ReplaceHeld(QString& AError);

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
    QByteArray FBuffer;
    bool FHeld = false;        // FFd is an unnamed file held until the run completes
    bool FInterrupted = false;
    int FDescriptor = -1;      // the descriptor a descriptor name stands for
};
