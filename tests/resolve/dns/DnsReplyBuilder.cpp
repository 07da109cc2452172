#include "DnsReplyBuilder.h"

#include <QList>

TDnsReplyBuilder::TDnsReplyBuilder(quint16 AId, quint16 AFlags) : FId(AId), FFlags(AFlags) {}

QByteArray TDnsReplyBuilder::Word(quint16 AValue) {
    QByteArray B;
    B.append(char(AValue >> 8));
    B.append(char(AValue & 0xff));
    return B;
}

QByteArray TDnsReplyBuilder::DWord(quint32 AValue) {
    return Word(quint16(AValue >> 16)) + Word(quint16(AValue & 0xffff));
}

QByteArray TDnsReplyBuilder::Ip(int A, int B, int C, int D) {
    QByteArray R;
    for (int V : {A, B, C, D})
        R.append(char(V));
    return R;
}

QByteArray TDnsReplyBuilder::Name(const char* ADotted) {
    QByteArray Out;
    for (const QByteArray& Part : QByteArray(ADotted).split('.')) {
        if (Part.isEmpty())
            continue;
        Out.append(char(Part.size()));
        Out.append(Part);
    }
    Out.append(char(0));
    return Out;
}

QByteArray TDnsReplyBuilder::Pointer(int AOffset) {
    return Word(quint16(0xC000 | AOffset));
}

TDnsReplyBuilder& TDnsReplyBuilder::Question(const QByteArray& AName, quint16 AType, quint16 AClass) {
    FBody += AName + Word(AType) + Word(AClass);
    ++FQd;
    return *this;
}

TDnsReplyBuilder& TDnsReplyBuilder::Record(int& ACount, const QByteArray& AName, quint16 AType, int ADeclared,
                                           const QByteArray& ARData, quint32 ATTL) {
    FBody += AName + Word(AType) + Word(1) + DWord(ATTL) + Word(quint16(ADeclared)) + ARData;
    ++ACount;
    return *this;
}

TDnsReplyBuilder& TDnsReplyBuilder::Answer(const QByteArray& AName, quint16 AType, const QByteArray& ARData,
                                           quint32 ATTL) {
    return Record(FAn, AName, AType, int(ARData.size()), ARData, ATTL);
}

TDnsReplyBuilder& TDnsReplyBuilder::Authority(const QByteArray& AName, quint16 AType, const QByteArray& ARData,
                                              quint32 ATTL) {
    return Record(FNs, AName, AType, int(ARData.size()), ARData, ATTL);
}

TDnsReplyBuilder& TDnsReplyBuilder::Additional(const QByteArray& AName, quint16 AType, const QByteArray& ARData,
                                               quint32 ATTL) {
    return Record(FAr, AName, AType, int(ARData.size()), ARData, ATTL);
}

TDnsReplyBuilder& TDnsReplyBuilder::RawAnswer(const QByteArray& AName, quint16 AType, int ADeclared,
                                              const QByteArray& ARData) {
    return Record(FAn, AName, AType, ADeclared, ARData, 300);
}

TDnsReplyBuilder& TDnsReplyBuilder::Counts(int AQd, int AAn, int ANs, int AAr) {
    FQd = AQd;
    FAn = AAn;
    FNs = ANs;
    FAr = AAr;
    return *this;
}

TDnsReplyBuilder& TDnsReplyBuilder::Append(const QByteArray& ABytes) {
    FBody += ABytes;
    return *this;
}

QByteArray TDnsReplyBuilder::Bytes() const {
    return Word(FId) + Word(FFlags) + Word(quint16(FQd)) + Word(quint16(FAn)) + Word(quint16(FNs)) +
           Word(quint16(FAr)) + FBody;
}

QByteArray TDnsReplyBuilder::Hex(const char* AHex) {
    return QByteArray::fromHex(QByteArray(AHex).replace(' ', ""));
}

void PrintTo(const QString& AValue, std::ostream* AOut) {
    *AOut << '"' << AValue.toStdString() << '"';
}
