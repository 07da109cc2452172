#include "cli/uCliState.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace {

const QByteArray kMagic = "# veltrask state 1";

} // namespace

QString TAddressState::Key(const QString& AAddress, const QString& ADomain) {
    return AAddress + QLatin1Char('\t') + ADomain.toCaseFolded();
}

TAddressState::TLoadResult TAddressState::Load(const QString& AFileName, QString& ANote) {
    FEntries.clear();
    QFile F(AFileName);
    if (!F.exists())
        return lrMissing;
    if (!F.open(QIODevice::ReadOnly)) {
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
    int Bad = 0;
    if (Lines.size() < 2 || Lines.first() != kMagic) {
        Bad = 1;
    } else if (!Lines.last().isEmpty()) {
        Bad = int(Lines.size());  // cut short: its last line has no line break
    } else {
        Lines.removeLast();  // after the final line break
        for (int I = 1; I < Lines.size() && Bad == 0; ++I) {
            const QList<QByteArray> Parts = Lines.at(I).split('\t');
            bool Ok = Parts.size() == 3 && !Parts.at(0).isEmpty() && !Parts.at(1).isEmpty();
            const qint64 Seen = Ok ? Parts.at(2).toLongLong(&Ok) : 0;
            if (!Ok || Seen <= 0) {
                Bad = I + 1;
                break;
            }
            const QString Address = QString::fromUtf8(Parts.at(0)), Domain = QString::fromUtf8(Parts.at(1));
            TEntry& E = FEntries[Key(Address, Domain)];
            E.Address = Address;
            E.Domain = Domain;
            E.LastSeen = std::max(E.LastSeen, Seen);
        }
    }
    if (Bad == 0)
        return lrLoaded;
    FEntries.clear();
    const QString Aside = AFileName + QStringLiteral(".damaged");
    QFile::remove(Aside);
    if (!QFile::rename(AFileName, Aside)) {
        ANote = QStringLiteral("the state file %1 is damaged (line %2) and cannot be set aside").arg(AFileName).arg(Bad);
        return lrFailed;
    }
    ANote = QStringLiteral("the state file %1 is damaged (line %2); set aside as %3, starting with an empty state")
                .arg(AFileName)
                .arg(Bad)
                .arg(Aside);
    return lrSetAside;
}

bool TAddressState::Save(const QString& AFileName, qint64 ANow, qint64 AKeepSec, QString& AError) const {
    // A link is followed, so that the state may live where the link points.
    const QFileInfo Info(AFileName);
    QSaveFile F(Info.isSymLink() ? Info.symLinkTarget() : AFileName);
    if (!F.open(QIODevice::WriteOnly)) {
        AError = QStringLiteral("cannot write the state file %1: %2").arg(AFileName, F.errorString());
        return false;
    }
    QByteArray Data = kMagic + '\n';
    for (const TEntry& E : Current(ANow, AKeepSec))
        Data += E.Address.toUtf8() + '\t' + E.Domain.toUtf8() + '\t' + QByteArray::number(E.LastSeen) + '\n';
    if (F.write(Data) != Data.size() || !F.commit()) {
        AError = QStringLiteral("cannot write the state file %1: %2").arg(AFileName, F.errorString());
        return false;
    }
    return true;
}

void TAddressState::Note(const QString& AAddress, const QString& ADomain, qint64 ANow) {
    TEntry& E = FEntries[Key(AAddress, ADomain)];
    E.Address = AAddress;
    E.Domain = ADomain;
    E.LastSeen = std::max(E.LastSeen, ANow);
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
    if (AText.isEmpty() || AText.size() > 12)
        return -1;
    qint64 Unit = 1;
    QString Digits = AText;
    switch (AText.back().toLatin1()) {
    case 's': Unit = 1; Digits.chop(1); break;
    case 'm': Unit = 60; Digits.chop(1); break;
    case 'h': Unit = 3600; Digits.chop(1); break;
    case 'd': Unit = 86400; Digits.chop(1); break;
    default: break;
    }
    bool Ok = !Digits.isEmpty();
    for (QChar C : Digits)
        Ok = Ok && C >= QLatin1Char('0') && C <= QLatin1Char('9');
    const qint64 N = Ok ? Digits.toLongLong() : 0;
    return N > 0 ? N * Unit : -1;
}
