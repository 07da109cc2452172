#include "support/TestFiles.h"

#include <QDir>
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

QList<std::pair<QString, QByteArray>> ReadFuzzCorpus(const QString& ASubdir) {
    QList<std::pair<QString, QByteArray>> Inputs;
    const QDir Dir(QStringLiteral(VT_SOURCE_DIR "/fuzz/corpus/") + ASubdir);
    for (const QString& Name : Dir.entryList(QDir::Files, QDir::Name)) {
        QFile F(Dir.filePath(Name));
        if (!F.open(QIODevice::ReadOnly)) {
            ADD_FAILURE() << "cannot read " << F.fileName().toStdString();
            continue;
        }
        Inputs.append({Name, F.readAll()});
    }
    EXPECT_FALSE(Inputs.isEmpty()) << Dir.path().toStdString();
    return Inputs;
}
