#include "CliProcess.h"
#include "support/TestFiles.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What a role's file is.
enum TKind {
    fkRegular,    // a file in the test's folder
    fkFifo,       // a FIFO whose other end the test serves
    fkHeldFifo,   // a FIFO nobody serves: it holds the run until a signal
    fkNull,       // /dev/null
    fkFull,       // /dev/full
    fkByteName,   // a regular file named "caf\xe9" (not UTF-8)
};

enum TRole { rlInput, rlKnown, rlLog };

struct TRoleCase {
    const char* Name;
    TRole Role;
    TKind Kind;
    int Signal;            // sent once the run is held (fkHeldFifo); 0: none
    int ExitCode;
    QStringList Out;       // the output lines, sorted
    QString Err;           // contained in standard error; empty: nothing written there
    QString LogHas;        // the log file's content holds it (regular files and a served FIFO)
    QStringList Extra = {};  // more options
};

const QByteArray kInput = "10.0.0.1\n10.0.0.2\n";
const QByteArray kKnown = "10.0.0.1\n";
const QByteArray kByteName = "caf\xe9";

// A file by its bytes, which QFile would take as UTF-8.
QByteArray ReadBytes(const QByteArray& APath) {
    QByteArray R;
    const int Fd = ::open(APath.constData(), O_RDONLY | O_NONBLOCK);
    char Buffer[4096];
    ssize_t N;
    while (Fd >= 0 && (N = ::read(Fd, Buffer, sizeof Buffer)) > 0)
        R.append(Buffer, N);
    if (Fd >= 0)
        ::close(Fd);
    return R;
}

void WriteBytes(const QByteArray& APath, const QByteArray& AData) {
    const int Fd = ::open(APath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(Fd, 0);
    ASSERT_EQ(::write(Fd, AData.constData(), size_t(AData.size())), AData.size());
    ::close(Fd);
}

// printf's octal escapes for every byte: the shell makes the name of them.
QString ShellBytes(const QByteArray& ABytes) {
    QString R;
    for (char C : ABytes)
        R += QStringLiteral("\\%1").arg(uint(uchar(C)), 3, 8, QLatin1Char('0'));
    return R;
}

QString Quoted(const QString& A) {
    QString Q = A;
    return "'" + Q.replace("'", "'\\''") + "'";
}

// The program's handlers are installed (SIGINT and SIGTERM caught): a signal
// sent now is the program's to handle, not its start-up's.
bool HandlersInstalled(qint64 APid) {
    QFile Status(QStringLiteral("/proc/%1/status").arg(APid));
    QFile Exe(QStringLiteral("/proc/%1/exe").arg(APid));
    if (Exe.symLinkTarget() != QFileInfo(QStringLiteral(VT_CLI_PATH)).canonicalFilePath() ||
        !Status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& Line : Status.readAll().split('\n'))
        if (Line.startsWith("SigCgt:")) {
            const quint64 Mask = Line.mid(7).trimmed().toULongLong(nullptr, 16);
            const quint64 Want = (1ULL << (SIGINT - 1)) | (1ULL << (SIGTERM - 1));
            return (Mask & Want) == Want;
        }
    return false;
}

// The far end of a FIFO, served by a thread: writes AData (a reader came)
// or reads everything (a writer came and closed). Gives up at the deadline,
// so a program that never opens its end cannot hang the test.
class TFifoPeer {
public:
    TFifoPeer(const QByteArray& APath, bool AWriter, const QByteArray& AData)
        : FThread([this, APath, AWriter, AData] { Serve(APath, AWriter, AData); }) {}
    ~TFifoPeer() {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
    }
    // What a reader got, once the writer has closed.
    QByteArray Got() {
        FThread.join();
        return FGot;
    }

private:
    void Serve(const QByteArray& APath, bool AWriter, const QByteArray& AData) {
        QDeadlineTimer Deadline(60000);
        int Fd = -1;
        if (AWriter) {
            while ((Fd = ::open(APath.constData(), O_WRONLY | O_NONBLOCK)) < 0 && !FStop && !Deadline.hasExpired())
                ::poll(nullptr, 0, 10);
            if (Fd < 0)
                return;
            ::fcntl(Fd, F_SETFL, 0);
            [[maybe_unused]] const ssize_t N = ::write(Fd, AData.constData(), size_t(AData.size()));
            ::close(Fd);
            return;
        }
        Fd = ::open(APath.constData(), O_RDONLY | O_NONBLOCK);
        bool Connected = false;
        while (Fd >= 0 && !FStop && !Deadline.hasExpired()) {
            pollfd P{Fd, POLLIN, 0};
            ::poll(&P, 1, 50);
            char Buffer[4096];
            const ssize_t N = ::read(Fd, Buffer, sizeof Buffer);
            if (N > 0) {
                Connected = true;
                FGot.append(Buffer, N);
            } else if (N == 0 && Connected) {
                break;  // the writer has closed
            }
        }
        if (Fd >= 0)
            ::close(Fd);
    }

    std::atomic<bool> FStop{false};
    QByteArray FGot;
    std::thread FThread;
};

} // namespace

// Each file role (the input, the known lines, the log file) against each
// kind of file, through the program. The input is two address lines, which
// need no DNS server. A held FIFO keeps the run waiting (for a writer, or
// for the log's reader) until the signal, which must end it as such.
TEST(CliFileRolesTest, EveryRoleWorksWithEveryKindOfFile) {
    const QStringList Both = {"10.0.0.1", "10.0.0.2"};
    const QStringList New = {"10.0.0.2"};
    const QString NoSpace = "veltrask-cli: cannot write log %1: No space left on device\n";
    const QList<TRoleCase> Cases = {
        {"input file", rlInput, fkRegular, 0, 0, Both, "", ""},
        {"input FIFO", rlInput, fkFifo, 0, 0, Both, "", ""},
        {"input FIFO without writer, SIGINT", rlInput, fkHeldFifo, SIGINT, 130, {}, "", ""},
        {"input FIFO without writer, 500 threads, SIGINT", rlInput, fkHeldFifo, SIGINT, 130, {}, "", "", {"-t", "500"}},
        {"input /dev/null", rlInput, fkNull, 0, 0, {}, "", ""},
        {"input named in bytes", rlInput, fkByteName, 0, 0, Both, "", ""},
        {"known file", rlKnown, fkRegular, 0, 0, New, "", ""},
        {"known FIFO", rlKnown, fkFifo, 0, 0, New, "", ""},
        {"known FIFO without writer, SIGTERM", rlKnown, fkHeldFifo, SIGTERM, 143, {}, "", ""},
        {"known /dev/null", rlKnown, fkNull, 0, 0, Both, "", ""},
        {"known named in bytes", rlKnown, fkByteName, 0, 0, New, "", ""},
        {"log file", rlLog, fkRegular, 0, 0, Both, "", "Done: 2 lines"},
        {"log FIFO", rlLog, fkFifo, 0, 0, Both, "", "Done: 2 lines"},
        {"log FIFO without reader, SIGTERM", rlLog, fkHeldFifo, SIGTERM, 143, {}, "", ""},
        {"log /dev/null", rlLog, fkNull, 0, 0, Both, "", ""},
        // The lines written before the failure was seen depend on timing.
        {"log /dev/full", rlLog, fkFull, 0, 1, {"*"}, NoSpace.arg("/dev/full"), ""},
        {"log /dev/full, appending", rlLog, fkFull, 0, 1, {"*"}, NoSpace.arg("/dev/full"), "", {"--log-append"}},
        {"log named in bytes", rlLog, fkByteName, 0, 0, Both, "", "Done: 2 lines"},
    };
    for (const TRoleCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        QTemporaryDir Dir;
        ASSERT_TRUE(Dir.isValid());
        const QByteArray Folder = QFile::encodeName(Dir.path()) + "/";
        // The role's file, by its bytes.
        QByteArray Path = Folder + "role";
        if (C.Kind == fkNull)
            Path = "/dev/null";
        else if (C.Kind == fkFull)
            Path = "/dev/full";
        else if (C.Kind == fkByteName)
            Path = Folder + kByteName;
        const QByteArray Content = C.Role == rlInput ? kInput : C.Role == rlKnown ? kKnown : QByteArray();
        if (C.Kind == fkFifo || C.Kind == fkHeldFifo)
            ASSERT_EQ(::mkfifo(Path.constData(), 0600), 0);
        else if ((C.Kind == fkRegular || C.Kind == fkByteName) && C.Role != rlLog)
            WriteBytes(Path, Content);
        const QString Input = Dir.filePath("input.txt");
        WriteTestFile(Input, kInput);

        // The arguments go through the shell, which hands the name over as bytes.
        QStringList Args = QStringList{"-s", "127.0.0.1:9", "--pause", "0", "-q"} + C.Extra;
        const QString Role = "\"$F\"";
        if (C.Role == rlKnown)
            Args << "--known" << Role;
        if (C.Role == rlLog)
            Args << "-v" << "--log-file" << Role;
        Args << (C.Role == rlInput ? Role : Input);
        QString Script = "F=$(printf '" + ShellBytes(Path) + "'); exec " + Quoted(VT_CLI_PATH);
        for (const QString& A : Args)
            Script += " " + (A == Role ? A : Quoted(A));
        QProcess P;
        P.start("/bin/sh", {"-c", Script});
        ASSERT_TRUE(P.waitForStarted(10000));
        P.closeWriteChannel();
        std::unique_ptr<TFifoPeer> Peer;
        if (C.Kind == fkFifo)
            Peer = std::make_unique<TFifoPeer>(Path, C.Role != rlLog, Content);
        if (C.Signal != 0) {
            QDeadlineTimer Deadline(30000);
            while (!HandlersInstalled(P.processId()) && !Deadline.hasExpired() && P.state() == QProcess::Running)
                P.waitForFinished(10);
            ASSERT_EQ(P.state(), QProcess::Running) << P.readAllStandardError().toStdString();
            ::kill(P.processId(), C.Signal);
        }
        // A generous bound, only against a hang.
        const bool Ended = P.waitForFinished(30000);
        if (!Ended)
            P.kill();
        P.waitForFinished(5000);
        const QByteArray PeerGot = C.Kind == fkFifo && C.Role == rlLog ? Peer->Got() : QByteArray();
        Peer.reset();
        ASSERT_TRUE(Ended);
        const QByteArray Err = P.readAllStandardError();
        EXPECT_EQ(P.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(P.exitCode(), C.ExitCode) << Err.toStdString();
        if (C.Err.isEmpty())
            EXPECT_TRUE(Err.isEmpty()) << Err.toStdString();
        else
            EXPECT_TRUE(QString::fromUtf8(Err).contains(C.Err)) << Err.toStdString();
        QStringList Out = QString::fromUtf8(P.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        if (C.Out != QStringList{"*"}) {
            EXPECT_EQ(Sorted(Out), C.Out);
        }
        if (!C.LogHas.isEmpty()) {
            const QByteArray Log = C.Kind == fkFifo ? PeerGot : ReadBytes(Path);
            EXPECT_TRUE(QString::fromUtf8(Log).contains(C.LogHas)) << Log.toStdString();
        }
        if (C.Kind == fkByteName) {
            EXPECT_EQ(::unlink(Path.constData()), 0) << "no file of that very name";
        }
    }
}

// One file in two roles is refused before anything is opened: neither file
// is touched. A name not there yet is the same file as the same path.
TEST(CliFileRolesTest, OneFileServesOneRole) {
    QTemporaryDir Dir;
    ASSERT_TRUE(Dir.isValid());
    const QString In = Dir.filePath("in.txt"), Known = Dir.filePath("known.txt"), Link = Dir.filePath("link.txt");
    const QString New = Dir.filePath("new.txt");
    WriteTestFile(In, kInput);
    WriteTestFile(Known, kKnown);
    ASSERT_EQ(::link(QFile::encodeName(In).constData(), QFile::encodeName(Link).constData()), 0);
    const QString InDotted = Dir.path() + "/./in.txt";
    const struct {
        QStringList Args;
        QString Message;  // empty: accepted
    } Cases[] = {
        {{"-v", "--log-file", In, In}, In + " is both the input and the log file"},
        {{"-v", "--log-file", Known, "--known", Known, In}, Known + " is both the file of known lines and the log file"},
        {{"--state", New, "-o", New, In}, New + " is both the output file and the state file"},
        {{"--known", Link, In}, In + " is both the input and the file of known lines"},
        {{"-o", InDotted, In}, In + " is both the input and the output file"},
        {{"-v", "--log-file", "/dev/null", "-o", "/dev/null", In}, ""},
        {{"--family", "both", "-o", New, "--output6", New, In}, ""},
    };
    for (const auto& C : Cases) {
        const TCliResult R = RunCli(QStringList{"-s", "127.0.0.1:9", "--pause", "0", "-q"} + C.Args, {}, 30000);
        SCOPED_TRACE(C.Args.join(' ').toStdString());
        ASSERT_TRUE(R.Finished);
        if (C.Message.isEmpty()) {
            EXPECT_EQ(R.ExitCode, 0) << R.ErrText().toStdString();
        } else {
            EXPECT_EQ(R.ExitCode, 2);
            EXPECT_EQ(R.ErrText(), "veltrask-cli: " + C.Message + "\n");
        }
        EXPECT_EQ(ReadTestFile(In), kInput);
        EXPECT_EQ(ReadTestFile(Known), kKnown);
        QFile::remove(New);
    }
    // Standard input redirected from the file is that file too.
    QProcess P;
    P.setStandardInputFile(In);
    P.start(VT_CLI_PATH, {"-s", "127.0.0.1:9", "-q", "-v", "--log-file", In});
    ASSERT_TRUE(P.waitForFinished(30000));
    EXPECT_EQ(P.exitCode(), 2);
    EXPECT_EQ(P.readAllStandardError(), "veltrask-cli: " + QFile::encodeName(In) + " is both the input and the log file\n");
    EXPECT_EQ(ReadTestFile(In), kInput);
}
