#pragma once

#include <QString>
#include <QStringList>
#include <ostream>

// Readable failure output for Qt text in the tests of this folder.
inline void PrintTo(const QString& S, std::ostream* Os) {
    *Os << '"' << S.toUtf8().toStdString() << '"';
}

inline void PrintTo(const QStringList& L, std::ostream* Os) {
    *Os << '{';
    for (const QString& S : L) {
        PrintTo(S, Os);
        *Os << ' ';
    }
    *Os << '}';
}
