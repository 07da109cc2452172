#include "cli/uCliOptions.h"
#include "resolve/uOutputFile.h"
#include "cli/uCliRounds.h"
#include "text/uEncoding.h"
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

    // The arguments as bytes: a file name that is not UTF-8 must reach the
    // file system as it was given, which Qt's decoding would not keep.
    QStringList Args;
    for (int I = 1; I < argc; ++I)
        Args << DecodeFileName(QByteArray(argv[I]));
    TCliOptions Options;
    try {
        Options = ParseCliArguments(Args);
    } catch (const ECliUsageError& E) {
        std::fprintf(stderr, "veltrask-cli: %s\n", EncodeFileName(E.Message()).constData());
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

    // Before anything is opened: a second role would destroy the file's first.
    if (const QString Conflict = CliFileRoleConflict(Options); !Conflict.isEmpty()) {
        std::fprintf(stderr, "veltrask-cli: %s\n", EncodeFileName(Conflict).constData());
        return 2;
    }
    return RunCliRounds(Options);
}
