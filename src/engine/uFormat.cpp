#include "engine/uFormat.h"

#include <QDateTime>

TDateTime NowDateTime() {
    return QDateTime::currentMSecsSinceEpoch();
}

QString FormatDateTimeText(TDateTime AValue) {
    if (AValue == 0)
        return QString();
    return QDateTime::fromMSecsSinceEpoch(AValue).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

qint64 MilliSecondsBetween(TDateTime AFrom, TDateTime ATo) {
    return ATo >= AFrom ? ATo - AFrom : AFrom - ATo;
}

QString DetachedCopy(const QString& S) {
    return S.isEmpty() ? QString() : QString(S.constData(), S.size());
}

namespace {

[[noreturn]] void FormatError(const QString& AFormat) {
    throw EConvertError(QStringLiteral("Format '%1' invalid or incompatible with argument").arg(AFormat));
}

QString Pad(const QString& S, int Width, bool Left) {
    if (Width <= S.size())
        return S;
    const QString Fill(Width - S.size(), QLatin1Char(' '));
    return Left ? S + Fill : Fill + S;
}

QString ZeroPad(QString Digits, int Precision) {
    bool Neg = Digits.startsWith(QLatin1Char('-'));
    if (Neg)
        Digits.remove(0, 1);
    if (Precision > Digits.size())
        Digits.prepend(QString(Precision - Digits.size(), QLatin1Char('0')));
    return Neg ? QLatin1Char('-') + Digits : Digits;
}

}  // namespace

QString FormatText(const QString& AFormat, const QVariantList& AArgs) {
    QString R;
    R.reserve(AFormat.size() + 16);
    int Arg = 0;
    const int N = AFormat.size();
    for (int i = 0; i < N; ++i) {
        const QChar C = AFormat[i];
        if (C != QLatin1Char('%')) {
            R += C;
            continue;
        }
        if (++i >= N)
            FormatError(AFormat);
        if (AFormat[i] == QLatin1Char('%')) {
            R += QLatin1Char('%');
            continue;
        }
        bool Left = false;
        if (AFormat[i] == QLatin1Char('-')) {
            Left = true;
            if (++i >= N)
                FormatError(AFormat);
        }
        int Width = 0;
        while (i < N && AFormat[i].isDigit())
            Width = Width * 10 + AFormat[i++].digitValue();
        int Precision = -1;
        if (i < N && AFormat[i] == QLatin1Char('.')) {
            Precision = 0;
            ++i;
            while (i < N && AFormat[i].isDigit())
                Precision = Precision * 10 + AFormat[i++].digitValue();
        }
        if (i >= N || Arg >= AArgs.size())
            FormatError(AFormat);
        const QVariant& V = AArgs[Arg++];
        QString S;
        switch (AFormat[i].toLower().unicode()) {
        case 's':
            S = V.toString();
            if (Precision >= 0)
                S.truncate(Precision);
            break;
        case 'd': {
            bool Ok = false;
            const qlonglong X = V.toLongLong(&Ok);
            if (!Ok)
                FormatError(AFormat);
            S = ZeroPad(QString::number(X), Precision);
            break;
        }
        case 'u': {
            bool Ok = false;
            const qulonglong X = V.toULongLong(&Ok);
            if (!Ok)
                FormatError(AFormat);
            S = ZeroPad(QString::number(X), Precision);
            break;
        }
        case 'x': {
            bool Ok = false;
            const qulonglong X = V.toULongLong(&Ok);
            if (!Ok)
                FormatError(AFormat);
            S = ZeroPad(QString::number(X, 16), Precision);
            if (AFormat[i] == QLatin1Char('X'))
                S = S.toUpper();
            break;
        }
        case 'p':
            S = QStringLiteral("%1").arg(V.toULongLong(), 16, 16, QLatin1Char('0')).toUpper();
            break;
        default:
            FormatError(AFormat);
        }
        R += Pad(S, Width, Left);
    }
    return R;
}
