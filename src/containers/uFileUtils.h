#pragma once

#include <QByteArray>
#include <QString>
#include <QStringConverter>

// Whole-file reading and replacing, shared by every list and settings file.
// Errors raise EFileError with the file system's message.

QByteArray ReadFileBytes(const QString& FileName);

// Replaces FileName by Data through a temporary file in the same folder: the
// old file stays untouched unless every byte reached the disk.
void WriteFileReplacing(const QString& FileName, const QByteArray& Data);

// Text of a file's bytes: a UTF-8 or UTF-16 byte-order mark selects that
// encoding (and is dropped), otherwise DefaultEncoding applies.
struct TDecodedText {
    QString Text;
    QStringConverter::Encoding Encoding = QStringConverter::Utf8;
    bool BOM = false;
};
TDecodedText DecodeTextBytes(const QByteArray& Data, QStringConverter::Encoding DefaultEncoding);

// Text in Encoding, led by that encoding's byte-order mark when WriteBOM is set.
QByteArray EncodeTextBytes(const QString& Text, QStringConverter::Encoding Encoding, bool WriteBOM);

// The encoding a list file was read in, so that a save writes it back alike.
struct TTextEncoding {
    QStringConverter::Encoding Encoding = QStringConverter::System;
    bool BOM = false;
    // Read as Windows-1252 (Latin-1 where Qt has no such codec): a file
    // without a mark whose bytes are not UTF-8. Encoding is then unused.
    bool Legacy8Bit = false;
    // The bytes were not all valid in the encoding (a stray byte after a
    // UTF-8 mark, an odd UTF-16 length): writing the text back would not
    // give them again.
    bool Invalid = false;
};

// Text of a list file's bytes: a UTF-8 or UTF-16 byte-order mark selects that
// encoding; without one, well-formed UTF-8 reads as UTF-8 and anything else
// as Windows-1252, where every byte is a character and none is lost.
QString DecodeListFileBytes(const QByteArray& Data, TTextEncoding& Encoding);
// Text in Encoding, led by its mark when BOM is set. An 8-bit encoding that
// cannot hold every character (typed since the file was read) gives way to
// UTF-8 without a mark, which the next read recognises: nothing turns into "?".
QByteArray EncodeListFileText(const QString& Text, const TTextEncoding& Encoding);
// Name of the 8-bit encoding list files fall back to: "Windows-1252" or "Latin-1".
QString Legacy8BitEncodingName();
