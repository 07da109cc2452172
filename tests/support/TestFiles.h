#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <utility>

// The whole file, or "<missing>" when it cannot be read, so that a comparison
// failing on a missing file says so.
QByteArray ReadTestFile(const QString& FileName);

// Creates (or truncates) FileName with Data; a failure fails the running test.
void WriteTestFile(const QString& FileName, const QByteArray& Data);

// Every file of the committed fuzz corpus fuzz/corpus/ASubdir, by name, with
// its bytes; a missing or unreadable corpus fails the running test.
QList<std::pair<QString, QByteArray>> ReadFuzzCorpus(const QString& ASubdir);
