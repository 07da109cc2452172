#include "support/TestFiles.h"

#include <QFile>
#include <gtest/gtest.h>

QByteArray ReadTestFile(const QString& FileName) {
    QFile F(FileName);
    if (!F.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return F.readAll();
}

void WriteTestFile(const QString& FileName, const QByteArray& Data) {
    QFile F(FileName);
    ASSERT_TRUE(F.open(QIODevice::WriteOnly | QIODevice::Truncate)) << FileName.toStdString();
    ASSERT_EQ(F.write(Data), Data.size()) << FileName.toStdString();
}
