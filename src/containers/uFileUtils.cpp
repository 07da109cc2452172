#include "containers/uFileUtils.h"

#include "containers/uStringList.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

namespace {

const char* const Windows1252Name = "windows-1252";

// Qt knows Windows-1252 only through ICU; Latin-1 is the built-in stand-in,
// which also maps every byte to a character of its own.
bool HasWindows1252() {
    static const bool Has = QStringDecoder(Windows1252Name).isValid();
    return Has;
}

constexpr auto Stateless = QStringConverter::Flag::Stateless;

QString DecodeLegacy8Bit(QByteArrayView Data) {
    QStringDecoder Decoder = HasWindows1252() ? QStringDecoder(Windows1252Name, Stateless)
                                              : QStringDecoder(QStringConverter::Latin1, Stateless);
    return Decoder.decode(Data);
}

QByteArray EncodeLegacy8Bit(const QString& Text) {
    QStringEncoder Encoder = HasWindows1252() ? QStringEncoder(Windows1252Name, Stateless)
                                              : QStringEncoder(QStringConverter::Latin1, Stateless);
    return Encoder.encode(Text);
}

} // namespace

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

QString DecodeListFileBytes(const QByteArray& Data, TTextEncoding& Encoding) {
    const bool Marked =
        Data.startsWith("\xEF\xBB\xBF") || Data.startsWith("\xFF\xFE") || Data.startsWith("\xFE\xFF");
    Encoding = TTextEncoding{};
    if (Marked || QByteArrayView(Data).isValidUtf8()) {
        const TDecodedText D = DecodeTextBytes(Data, QStringConverter::Utf8);
        Encoding.Encoding = D.Encoding;
        Encoding.BOM = D.BOM;
        Encoding.Invalid = EncodeTextBytes(D.Text, D.Encoding, D.BOM) != Data;
        return D.Text;
    }
    Encoding.Legacy8Bit = true;
    QString Text = DecodeLegacy8Bit(Data);
    Encoding.Invalid = EncodeLegacy8Bit(Text) != Data;
    return Text;
}

QByteArray EncodeListFileText(const QString& Text, const TTextEncoding& Encoding) {
    if (!Encoding.Legacy8Bit)
        return EncodeTextBytes(Text, Encoding.Encoding, Encoding.BOM);
    const QByteArray Data = EncodeLegacy8Bit(Text);
    if (DecodeLegacy8Bit(Data) == Text)
        return Data;
    return EncodeTextBytes(Text, QStringConverter::Utf8, false);
}

QString Legacy8BitEncodingName() {
    return HasWindows1252() ? QStringLiteral("Windows-1252") : QStringLiteral("Latin-1");
}
