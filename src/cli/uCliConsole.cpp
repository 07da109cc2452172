#include "cli/uCliConsole.h"

#include "text/uEncoding.h"

#include <cerrno>
#include <unistd.h>

TCliConsole::TCliConsole(bool AQuiet, int AFd) : FQuiet(AQuiet), FFd(AFd), FTerminal(::isatty(AFd) == 1) {
    FPlainTimer.start();
}

void TCliConsole::Write(const QString& AText) {
    // A file name that is not UTF-8 is shown with the bytes it has.
    const QByteArray Bytes = EncodeFileName(AText);
    const char* P = Bytes.constData();
    qsizetype Left = Bytes.size();
    while (Left > 0) {
        const ssize_t N = ::write(FFd, P, size_t(Left));
        if (N < 0 && errno == EINTR)
            continue;
        // Nowhere left to complain to about standard error itself.
        if (N <= 0)
            return;
        P += N;
        Left -= N;
    }
}

void TCliConsole::HideProgress() {
    if (FProgressLine.isEmpty())
        return;
    Write(QLatin1Char('\r') + QString(FProgressLine.size(), QLatin1Char(' ')) + QLatin1Char('\r'));
}

void TCliConsole::WriteLog(const QString& AText) {
    QString Text = AText;
    Text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    Text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (Text.isEmpty())
        return;
    const QString Trimmed = Text.endsWith(QLatin1Char('\n')) ? Text.chopped(1) : Text;
    FLastLogLine = Trimmed.mid(Trimmed.lastIndexOf(QLatin1Char('\n')) + 1);
    if (FQuiet)
        return;
    if (!Text.endsWith(QLatin1Char('\n')))
        Text += QLatin1Char('\n');
    HideProgress();
    Write(Text);
    if (!FProgressLine.isEmpty())
        Write(FProgressLine);
}

void TCliConsole::ShowProgress(const QString& ALine) {
    if (!FTerminal) {
        FPlainPending = ALine;
        if (FPlainTimer.elapsed() >= kPlainProgressMSec) {
            Write(FPlainPending + QLatin1Char('\n'));
            FPlainPending.clear();
            FPlainTimer.restart();
        }
        return;
    }
    // Blanks cover the rest of a longer line shown before.
    QString Line = ALine;
    if (Line.size() < FProgressLine.size())
        Line += QString(FProgressLine.size() - Line.size(), QLatin1Char(' '));
    Write(QLatin1Char('\r') + Line);
    FProgressLine = Line;
}

void TCliConsole::FinishProgress() {
    if (!FTerminal) {
        if (!FPlainPending.isEmpty())
            Write(FPlainPending + QLatin1Char('\n'));
        FPlainPending.clear();
        return;
    }
    if (FProgressLine.isEmpty())
        return;
    Write(QStringLiteral("\n"));
    FProgressLine.clear();
}

void TCliConsole::Error(const QString& AMessage) {
    HideProgress();
    Write(QStringLiteral("veltrask-cli: ") + AMessage + QLatin1Char('\n'));
    if (!FProgressLine.isEmpty())
        Write(FProgressLine);
}

void TConsoleMemo::ReplaceSelection(const QString& AText) {
    FConsole->WriteLog(AText);
}
