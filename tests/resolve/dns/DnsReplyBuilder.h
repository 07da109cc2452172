#pragma once

#include <QByteArray>
#include <QString>

// Builds reply datagrams byte by byte for the decoder and exchange tests.
// Counts follow the sections added unless set explicitly.
class TDnsReplyBuilder {
public:
    explicit TDnsReplyBuilder(quint16 AId = 0, quint16 AFlags = 0x8180);

    TDnsReplyBuilder& Question(const QByteArray& AName, quint16 AType = 1, quint16 AClass = 1);
    TDnsReplyBuilder& Answer(const QByteArray& AName, quint16 AType, const QByteArray& ARData, quint32 ATTL = 300);
    TDnsReplyBuilder& Authority(const QByteArray& AName, quint16 AType, const QByteArray& ARData, quint32 ATTL = 300);
    TDnsReplyBuilder& Additional(const QByteArray& AName, quint16 AType, const QByteArray& ARData, quint32 ATTL = 300);
    // A record whose RDLENGTH says ADeclared while ARData holds what follows.
    TDnsReplyBuilder& RawAnswer(const QByteArray& AName, quint16 AType, int ADeclared, const QByteArray& ARData);
    TDnsReplyBuilder& Counts(int AQd, int AAn, int ANs, int AAr);
    TDnsReplyBuilder& Append(const QByteArray& ABytes);

    QByteArray Bytes() const;
    int Size() const { return int(FBody.size()) + 12; }

    static QByteArray Name(const char* ADotted);       // encoded, with the root byte
    static QByteArray Pointer(int AOffset);            // 2-byte compression pointer
    static QByteArray Word(quint16 AValue);
    static QByteArray DWord(quint32 AValue);
    static QByteArray Ip(int A, int B, int C, int D);
    static QByteArray Hex(const char* AHex);           // "12 34 ab", spaces ignored

private:
    TDnsReplyBuilder& Record(int& ACount, const QByteArray& AName, quint16 AType, int ADeclared,
                             const QByteArray& ARData, quint32 ATTL);
    quint16 FId, FFlags;
    int FQd = 0, FAn = 0, FNs = 0, FAr = 0;
    QByteArray FBody;
};

#include <ostream>
// Readable QString values in test failure messages.
void PrintTo(const QString& AValue, std::ostream* AOut);
