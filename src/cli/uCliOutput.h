#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Where the output lines go: standard output or a file, written by the main
// thread only, line by line as the run hands them over. A failed write is
// final: it is reported once, with the file's name and the system's reason,
// and nothing more is written or retried, not even when closing.
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
    // Creates AFileName or empties it; false with AError naming the file.
    bool OpenFile(const QString& AFileName, QString& AError);

    void SetLineBreak(const QByteArray& AValue) { FLineBreak = AValue; }
    // UTF-8 byte-order mark in front of the first line.
    void SetWriteBOM(bool AValue) { FWriteBOM = AValue; }

    // Writes ALines in UTF-8, each with the line break; false with AError on
    // the first failure, and false without a new message after it.
    bool WriteLines(const QStringList& ALines, QString& AError);
    // Closes a file it opened; false with AError when the system reports a
    // late write error there.
    bool Close(QString& AError);

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

    int FFd = -1;
    bool FOwnsFd = false;
    bool FFailed = false;
    bool FWriteBOM = false;
    bool FWroteAny = false;
    QByteArray FLineBreak = "\n";
    QString FName;
};
