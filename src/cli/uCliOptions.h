#pragma once

#include "containers/uException.h"
#include "resolve/QXUtilsUnit.h"

#include <QString>
#include <QStringList>

// A malformed command line: unknown option, missing value, value out of range.
VT_DECLARE_EXCEPTION(ECliUsageError, Exception)

// Everything the command line can say, as given. The values are checked for
// form here; whether the run can start (empty lists and names) is decided by
// the runner in the window's order of checks.
struct TCliOptions {
    bool Help = false;
    bool Version = false;

    bool HasSourceFile = false;   // a FILE operand was given ("-" counts as none)
    QString SourceFile;

    QStringList DNSServers;       // empty: the defaults
    QString ThreadsText = QStringLiteral("1");
    bool HasFormat = false;
    QString Format;
    TQXAddressFamily Family = afIPv4;
    bool HasFormat6 = false;      // --format6: the template of IPv6 lines
    QString Format6;

    QStringList DBLZones;         // any --dbl turns DBL on
    bool DBLOn = false;
    bool DBLOut = false;          // --dbl-mode out
    QStringList RBLZones;
    QStringList RBL6Zones;   // --rbl6: the zones of IPv6 addresses
    bool RBLOn = false;
    bool RBLOut = false;
    bool AllowSpecial = false;    // --allow-special
    bool CheckFailDrop = false;   // --on-check-failure drop

    bool HasOutput = false;
    QString OutputFile;
    bool OutputBOM = false;
    bool UnixLineEnding = false;
    bool HasLineEnding = false;   // --line-ending given
    bool HasOutput6 = false;      // --output6: the IPv6 lines go elsewhere
    QString OutputFile6;

    bool HasKnown = false;
    QString KnownFile;
    bool Unique = false;          // each output line only the first time
    bool Aggregate = false;       // the fewest CIDR blocks, at the end of the run

    int PauseMSec = 200;
    int TimeoutMSec = 5000;
    int Retries = 0;
    int MaxQPS = 0;               // --max-qps; 0: no limit

    // Rule sets kept current (see uCliRounds.h).
    QString Preset;               // --preset: a name of RulePresetNames(), lower case
    QString SetName = QStringLiteral("veltrask");
    bool HasSetName = false;
    QStringList Header;           // --header lines, in the order given
    QStringList Footer;
    bool HasState = false;
    QString StateFile;
    qint64 KeepSec = 7 * 86400;   // --keep
    bool HasKeep = false;
    qint64 EverySec = 0;          // --every; 0: one run
    bool HasOnChange = false;
    QString OnChange;
    bool HasApply = false;        // --apply: run after every completed round
    QString Apply;

    bool Detailed = false;
    bool HasLogFile = false;
    QString LogFile;
    bool LogAppend = false;
    bool Quiet = false;
    bool Progress = false;
};

// The DNS servers used when no --dns is given: the name servers of
// /etc/resolv.conf, or 8.8.8.8 and 8.8.4.4 when it names none.
QStringList DefaultDNSServers();
// The addresses of the "nameserver" lines of AFileName, in their order.
QStringList ResolvConfServers(const QString& AFileName);

// Parses the arguments (without the program name). Raises ECliUsageError with
// a one-line message naming the offending option.
TCliOptions ParseCliArguments(const QStringList& AArgs);

// Two roles on one file (the input, the output, the known lines, the state,
// the log) would destroy one of them before it is read: "FILE is both the
// input and the log file", or empty when every file has one role. The same
// inode, or the same path where a file does not exist yet, is one file. The
// output and the IPv6 output may share one; a character device (/dev/null, a
// terminal) takes any number of writers. Looks at the files, opens none.
QString CliFileRoleConflict(const TCliOptions& AOptions);

// The --help text, ending with a line break.
QString CliHelpText();

// "veltrask-cli <version>".
QString CliVersionText();
