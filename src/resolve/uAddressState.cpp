#include "resolve/uAddressState.h"
#include "text/uEncoding.h"

#include "resolve/QXUtilsUnit.h"
#include "resolve/uAddressText.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kMagic = "# veltrask state 1";
// A clock set back a little (or a peer's clock) is no damage; a day is.
const qint64 kFutureSlackSec = 86400;

QString ErrnoText(int AErrno) {
    return QString::fromLocal8Bit(std::strerror(AErrno));
}

// The address as the writer writes it: a dotted quad or RFC 5952 text, with
// an optional "/prefix" of an address line.
bool IsStrictAddress(const QString& AText) {
    quint32 Value;
    int Prefix;
    if (ParseIPv4LineStrict(AText, Value, Prefix))
        return true;
    TIPv6Address Address6;
    return ParseIPv6Line(AText, Address6, Prefix) && FormatIPv6Line(Address6, Prefix) == AText;
}

} // namespace

QString TAddressState::Key(const QString& AAddress, const QString& ADomain) {
    return AAddress + QLatin1Char('\t') + ADomain.toCaseFolded();
}

QString TAddressState::CheckLine(const QByteArray& ALine, qint64 ANow, TEntry& AEntry) {
    const QList<QByteArray> Parts = ALine.split('\t');
    if (Parts.size() != 3)
        return QStringLiteral("not ADDRESS<TAB>DOMAIN<TAB>SECONDS");
    const QString Address = QString::fromUtf8(Parts.at(0)), Domain = QString::fromUtf8(Parts.at(1));
    if (!IsStrictAddress(Address))
        return QStringLiteral("not an address: \"%1\"").arg(Address.left(60));
    if (!TQXUtils::IsQueryableName(Domain) && !IsStrictAddress(Domain))
        return QStringLiteral("not a domain: \"%1\"").arg(Domain.left(60));
    const QByteArray& Seconds = Parts.at(2);
    bool Ok = !Seconds.isEmpty() && Seconds.size() <= 12;
    for (char C : Seconds)
        Ok = Ok && C >= '0' && C <= '9';
    const qint64 Seen = Ok ? Seconds.toLongLong() : 0;
    if (Seen <= 0 || Seen > ANow + kFutureSlackSec)
        return QStringLiteral("time out of range: \"%1\"").arg(QString::fromUtf8(Seconds.left(20)));
    AEntry.Address = Address;
    AEntry.Domain = Domain;
    AEntry.LastSeen = Seen;
    return QString();
}

TAddressState::TLoadResult TAddressState::Load(const QString& AFileName, qint64 ANow, QString& ANote,
                                               QStringList& ASkipped) {
    FEntries.clear();
    FListed.clear();
    const QByteArray Name = EncodeFileName(AFileName);
    // Non-blocking: a FIFO put in the state's place must not stop the run
    // waiting for a writer; it is refused below like any file that is not one.
    const int Fd = ::open(Name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (Fd < 0 && errno == ENOENT)
        return lrMissing;
    if (Fd < 0) {
        ANote = QStringLiteral("cannot read the state file %1: %2").arg(AFileName, ErrnoText(errno));
        return lrFailed;
    }
    struct stat St;
    if (::fstat(Fd, &St) != 0 || !S_ISREG(St.st_mode)) {
        ::close(Fd);
        ANote = QStringLiteral("cannot read the state file %1: not a regular file").arg(AFileName);
        return lrFailed;
    }
    QFile F;
    if (!F.open(Fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(Fd);
        ANote = QStringLiteral("cannot read the state file %1: %2").arg(AFileName, F.errorString());
        return lrFailed;
    }
    const QByteArray Data = F.readAll();
    if (F.error() != QFileDevice::NoError) {
        ANote = QStringLiteral("cannot read the state file %1: %2").arg(AFileName, F.errorString());
        return lrFailed;
    }
    F.close();

    QList<QByteArray> Lines = Data.split('\n');
    // An editor's CR LF is no damage.
    for (QByteArray& L : Lines)
        if (L.endsWith('\r'))
            L.chop(1);
    if (Lines.first() != kMagic) {
        for (int N = 1; N < 1000; ++N) {
            const QString Aside = AFileName + QStringLiteral(".damaged.%1").arg(N);
            // Never over an earlier one: that may be the only copy of its entries.
            if (::renameat2(AT_FDCWD, Name.constData(), AT_FDCWD, EncodeFileName(Aside).constData(),
                            RENAME_NOREPLACE) == 0) {
                ANote = QStringLiteral("the state file %1 is no state file; set aside as %2, starting with an "
                                       "empty state")
                            .arg(AFileName, Aside);
                return lrSetAside;
            }
            if (errno != EEXIST)
                break;
        }
        ANote = QStringLiteral("the state file %1 is no state file and cannot be set aside: %2")
                    .arg(AFileName, ErrnoText(errno));
        return lrFailed;
    }
    // The writer ends every line with a line break: a last line without one
    // was cut short, its time perhaps in the middle of its digits.
    const bool Cut = !Lines.last().isEmpty();
    if (!Cut)
        Lines.removeLast();
    for (int I = 1; I < Lines.size(); ++I) {
        TEntry Entry;
        QString Why = Cut && I == Lines.size() - 1 ? QStringLiteral("cut short (no line break)")
                                                   : CheckLine(Lines.at(I), ANow, Entry);
        if (!Why.isEmpty()) {
            ASkipped << QStringLiteral("State line %1 skipped: %2").arg(I + 1).arg(Why);
            continue;
        }
        TEntry& E = FEntries[Key(Entry.Address, Entry.Domain)];
        E.Address = Entry.Address;
        E.Domain = Entry.Domain;
        E.LastSeen = std::max(E.LastSeen, Entry.LastSeen);
    }
    return lrLoaded;
}

bool TAddressState::Save(const QString& AFileName, qint64 ANow, qint64 AKeepSec, QString& AError) const {
    // A link is followed, so that the state may live where the link points.
    const QFileInfo Info(AFileName);
    const QFileInfo Target(Info.isSymLink() ? Info.symLinkTarget() : AFileName);
    const auto Fail = [&](const QString& AWhy) {
        AError = QStringLiteral("cannot write the state file %1: %2").arg(AFileName, AWhy);
        return false;
    };
    QByteArray Temp = EncodeFileName(Target.path() + QStringLiteral("/.") + Target.fileName() +
                                        QStringLiteral(".XXXXXX"));
    const int Fd = ::mkostemp(Temp.data(), O_CLOEXEC);
    if (Fd < 0)
        return Fail(ErrnoText(errno));
    // The new file keeps the old one's permissions; a new one is the user's own.
    struct stat Old;
    if (::stat(EncodeFileName(Target.filePath()).constData(), &Old) == 0)
        ::fchmod(Fd, Old.st_mode & 07777);
    QByteArray Data = kMagic + '\n';
    for (const TEntry& E : Current(ANow, AKeepSec))
        Data += E.Address.toUtf8() + '\t' + E.Domain.toUtf8() + '\t' + QByteArray::number(E.LastSeen) + '\n';
    qsizetype Done = 0;
    int Error = 0;
    while (Done < Data.size() && Error == 0) {
        const ssize_t N = ::write(Fd, Data.constData() + Done, size_t(Data.size() - Done));
        if (N > 0)
            Done += N;
        else if (errno != EINTR)
            Error = errno;
    }
    if (Error == 0 && ::fsync(Fd) != 0)
        Error = errno;
    if (::close(Fd) != 0 && Error == 0)
        Error = errno;
    if (Error == 0 && ::rename(Temp.constData(), EncodeFileName(Target.filePath()).constData()) != 0)
        Error = errno;
    if (Error != 0) {
        ::unlink(Temp.constData());
        return Fail(ErrnoText(Error));
    }
    return true;
}

void TAddressState::Note(const QString& AAddress, const QString& ADomain, qint64 ANow) {
    TEntry& E = FEntries[Key(AAddress, ADomain)];
    E.Address = AAddress;
    E.Domain = ADomain;
    E.LastSeen = std::max(E.LastSeen, ANow);
    FListed.insert(ADomain.toCaseFolded());
}

void TAddressState::NoteListed(const QString& ADomain) {
    FListed.insert(ADomain.toCaseFolded());
}

void TAddressState::KeepListedOnly() {
    for (auto It = FEntries.begin(); It != FEntries.end();)
        It = FListed.contains(It->Domain.toCaseFolded()) ? std::next(It) : FEntries.erase(It);
}

QList<TAddressState::TEntry> TAddressState::Current(qint64 ANow, qint64 AKeepSec) const {
    QList<TEntry> R;
    for (const TEntry& E : FEntries)
        if (ANow - E.LastSeen <= AKeepSec)
            R << E;
    std::sort(R.begin(), R.end(), [](const TEntry& A, const TEntry& B) {
        return A.Address != B.Address ? A.Address < B.Address : A.Domain < B.Domain;
    });
    return R;
}

qint64 TAddressState::ParseDuration(const QString& AText) {
    if (AText.size() < 2 || AText.size() > 12)
        return -1;
    qint64 Unit = 0;
    switch (AText.back().toLatin1()) {
    case 's': Unit = 1; break;
    case 'm': Unit = 60; break;
    case 'h': Unit = 3600; break;
    case 'd': Unit = 86400; break;
    default: return -1;
    }
    const QString Digits = AText.chopped(1);
    bool Ok = true;
    for (QChar C : Digits)
        Ok = Ok && C >= QLatin1Char('0') && C <= QLatin1Char('9');
    const qint64 N = Ok ? Digits.toLongLong() : 0;
    return N > 0 ? N * Unit : -1;
}
