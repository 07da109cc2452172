#pragma once

#include <QByteArray>
#include <QString>

// The whole file, or "<missing>" when it cannot be read, so that a comparison
// failing on a missing file says so.
QByteArray ReadTestFile(const QString& FileName);

// Creates (or truncates) FileName with Data; a failure fails the running test.
void WriteTestFile(const QString& FileName, const QByteArray& Data);
