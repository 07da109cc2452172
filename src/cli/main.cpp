#include "cli/uCliOptions.h"
#include "resolve/uOutputFile.h"
#include "cli/uCliRounds.h"
#include "text/uFdInputStream.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char* argv[]) {
    // Before anything opens a file: a closed descriptor 1 would otherwise be
    // taken by the next file (Qt's own first), and the output lines would go
    // into it. A closed standard output is then a write error of its own.
    const int Closed = OpenClosedStandardDescriptors();
    TOutputFile::SetStdoutClosed((Closed & (1 << 1)) != 0);
    QCoreApplication App(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("veltrask-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELTRASK_VERSION));

    TCliOptions Options;
    try {
        Options = ParseCliArguments(QCoreApplication::arguments().mid(1));
    } catch (const ECliUsageError& E) {
        std::fprintf(stderr, "veltrask-cli: %s\n", qUtf8Printable(E.Message()));
        return 2;
    }
    if (Options.Help) {
        std::fputs(qUtf8Printable(CliHelpText()), stdout);
        return 0;
    }
    if (Options.Version) {
        std::fputs(qUtf8Printable(CliVersionText()), stdout);
        return 0;
    }

    return RunCliRounds(Options);
}
