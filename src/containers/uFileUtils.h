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
