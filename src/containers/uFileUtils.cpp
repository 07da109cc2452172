#include "containers/uFileUtils.h"

#include "containers/uStringList.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

QByteArray ReadFileBytes(const QString& FileName) {
    QFile F(FileName);
    if (!F.open(QIODevice::ReadOnly))
        throw EFileError(QStringLiteral("Cannot open file \"%1\". %2").arg(FileName, F.errorString()));
    const QByteArray Data = F.readAll();
    if (F.error() != QFileDevice::NoError)
        throw EFileError(QStringLiteral("Cannot read file \"%1\". %2").arg(FileName, F.errorString()));
    return Data;
}

void WriteFileReplacing(const QString& FileName, const QByteArray& Data) {
    QSaveFile F(FileName);
    if (!F.open(QIODevice::WriteOnly))
        throw EFileError(QStringLiteral("Cannot create file \"%1\". %2").arg(FileName, F.errorString()));
    // Flushed before the commit: an error that shows only then (a full disk)
    // must not let the rename put a short file in place of the old one.
    if (F.write(Data) != Data.size() || !F.flush()) {
        const QString Msg = F.errorString();
        F.cancelWriting();
        throw EFileError(QStringLiteral("Cannot write file \"%1\". %2").arg(FileName, Msg));
    }
    if (!F.commit())
        throw EFileError(QStringLiteral("Cannot write file \"%1\". %2").arg(FileName, F.errorString()));
}

TDecodedText DecodeTextBytes(const QByteArray& Data, QStringConverter::Encoding DefaultEncoding) {
    TDecodedText R;
    R.Encoding = DefaultEncoding;
    qsizetype Skip = 0;
    if (Data.startsWith("\xEF\xBB\xBF")) {
        R.Encoding = QStringConverter::Utf8;
        Skip = 3;
    } else if (Data.startsWith("\xFF\xFE")) {
        R.Encoding = QStringConverter::Utf16LE;
        Skip = 2;
    } else if (Data.startsWith("\xFE\xFF")) {
        R.Encoding = QStringConverter::Utf16BE;
        Skip = 2;
    }
    R.BOM = Skip > 0;
    // The mark has been consumed here; the decoder must not drop a second one
    // that belongs to the text.
    QStringDecoder Decoder(R.Encoding, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    R.Text = Decoder.decode(QByteArrayView(Data).sliced(Skip));
    return R;
}

QByteArray EncodeTextBytes(const QString& Text, QStringConverter::Encoding Encoding, bool WriteBOM) {
    QByteArray Data;
    if (WriteBOM) {
        switch (Encoding) {
        case QStringConverter::Utf16LE:
            Data = QByteArray("\xFF\xFE", 2);
            break;
        case QStringConverter::Utf16BE:
            Data = QByteArray("\xFE\xFF", 2);
            break;
        case QStringConverter::Utf8:
            Data = QByteArray("\xEF\xBB\xBF", 3);
            break;
        default:
            break; // an 8-bit code page has no mark
        }
    }
    QStringEncoder Encoder(Encoding, QStringConverter::Flag::Stateless);
    Data += Encoder.encode(Text);
    return Data;
}
