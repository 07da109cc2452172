#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// The record-type vocabulary, in this order; used for the questions sent and as
// the tag of decoded records. qtUnknown is not part of the vocabulary: it marks
// an untagged record and is never a member of a TQueryType.
enum TQueryRecordTypes : quint8 {
    qtA, qtNS, qtMD, qtMF, qtName, qtSOA, qtMB, qtMG, qtMR, qtNull, qtWKS, qtPTR, qtHINFO, qtMINFO, qtMX,
    qtTXT, qtRT, qtNSAP, qtNSAP_PTR, qtSIG, qtAAAA, qtService, qtNAPTR, qtCERT, qtV6Addr, qtDName, qtR40,
    qtOptional, qtIXFR, qtAXFR, qtSTAR,
    qtUnknown
};

// Wire TYPE code of a vocabulary member (0 for qtUnknown).
quint16 QueryRecordTypeCode(TQueryRecordTypes AType);
// The tag a reply record of this wire TYPE gets (qtUnknown when untagged).
TQueryRecordTypes RecordTagOfTypeCode(quint16 ACode);

// A set of TQueryRecordTypes held in 32 bits.
class TQueryType {
public:
    TQueryType() = default;
    TQueryType(std::initializer_list<TQueryRecordTypes> AMembers);
    void Include(TQueryRecordTypes AType);
    void Exclude(TQueryRecordTypes AType);
    bool Contains(TQueryRecordTypes AType) const;
    int Count() const;
    bool IsEmpty() const { return FBits == 0; }
    quint32 Bits() const { return FBits; }
    bool operator==(const TQueryType& AOther) const { return FBits == AOther.FBits; }

private:
    quint32 FBits = 0;
};

enum TResultSection { rsAnswer, rsNameServer, rsAdditional };

// The one way the decoder reads a reply: every fetch checks the remaining
// length first and raises EIdDnsResolverError instead of reading outside.
class TDNSMessageReader {
public:
    explicit TDNSMessageReader(const QByteArray& AMessage);
    int Size() const { return FSize; }
    const QByteArray& Message() const { return FMessage; }

    quint8 Byte(int APos) const;
    quint16 Word(int APos) const;
    quint32 DWord(int APos) const;
    // Raises with AWhat unless [APos, APos + ACount) lies inside the message.
    void Need(int APos, int ACount, const char* AWhat) const;

    // Reads a (possibly compressed) name at APos; ANext gets the position after it.
    QString ReadName(int APos, int& ANext) const;
    // A length byte and that many bytes, cut at ALimit; at or past ALimit the
    // text is empty and APos does not move.
    QString ReadCharString(int& APos, int ALimit) const;

    // A byte below 128 is that character, any other becomes "?".
    static QString DecodeText(const char* AData, int ALength);

private:
    const QByteArray& FMessage;
    const uchar* FData;
    int FSize;
};

// A decoded resource record. Unknown types are plain records of this class.
class TResultRecord {
public:
    TResultRecord() = default;
    virtual ~TResultRecord() = default;

    // Copies all fields from a record of the same class.
    virtual void Assign(const TResultRecord& ASource);
    // Decodes the type-specific fields from RDATA at ARDataPos; the base has none.
    virtual void Parse(const TDNSMessageReader& AReader, int ARDataPos);

    TQueryRecordTypes RecType() const { return FRecType; }
    quint16 TypeCode() const { return FTypeCode; }
    quint16 RecClass() const { return FRecClass; }
    const QString& Name() const { return FName; }
    quint32 TTL() const { return FTTL; }
    int RDataLength() const { return FRDataLength; }
    const QByteArray& RData() const { return FRData; }
    TResultSection Section() const { return FSection; }

    // Sets the fields every record shares, as read from the record's header.
    void SetHeader(quint16 ATypeCode, quint16 AClass, const QString& AName, quint32 ATTL, int ARDataLength,
                   const QByteArray& ARData, TResultSection ASection);

protected:
    // End of RDATA inside the message.
    int RDataEnd(const TDNSMessageReader& AReader, int ARDataPos) const;
    // A name starting in RDATA that must also end inside it.
    QString ReadRDataName(const TDNSMessageReader& AReader, int& APos, int AEnd) const;
    void NeedRData(int APos, int ACount, int AEnd) const;

    TQueryRecordTypes FRecType = qtUnknown;
    quint16 FTypeCode = 0;
    quint16 FRecClass = 0;
    QString FName;
    quint32 FTTL = 0;
    int FRDataLength = 0;
    QByteArray FRData;
    TResultSection FSection = rsAnswer;
};

class TRDATARecord : public TResultRecord {};

class TARecord : public TRDATARecord {
public:
    void Assign(const TResultRecord& ASource) override;
    void Parse(const TDNSMessageReader& AReader, int ARDataPos) override;
    const QString& IPAddress() const { return FIPAddress; }

private:
    QString FIPAddress;
};

class TNAMERecord : public TResultRecord {
public:
    void Assign(const TResultRecord& ASource) override;
    void Parse(const TDNSMessageReader& AReader, int ARDataPos) override;
    const QString& HostName() const { return FHostName; }

private:
    QString FHostName;
};

class TNSRecord : public TNAMERecord {};
class TPTRRecord : public TNAMERecord {};

class TSOARecord : public TResultRecord {
public:
    void Assign(const TResultRecord& ASource) override;
    void Parse(const TDNSMessageReader& AReader, int ARDataPos) override;
    const QString& Primary() const { return FPrimary; }
    const QString& ResponsiblePerson() const { return FResponsiblePerson; }
    quint32 Serial() const { return FSerial; }
    quint32 Refresh() const { return FRefresh; }
    quint32 Retry() const { return FRetry; }
    quint32 Expire() const { return FExpire; }
    quint32 MinimumTTL() const { return FMinimumTTL; }

private:
    QString FPrimary;
    QString FResponsiblePerson;
    quint32 FSerial = 0, FRefresh = 0, FRetry = 0, FExpire = 0, FMinimumTTL = 0;
};

class TWKSRecord : public TResultRecord {
public:
    void Assign(const TResultRecord& ASource) override;
    void Parse(const TDNSMessageReader& AReader, int ARDataPos) override;
    const QString& IPAddress() const { return FIPAddress; }
    quint8 Protocol() const { return FProtocol; }
    const QByteArray& BitMap() const { return FBitMap; }

private:
    QString FIPAddress;
    quint8 FProtocol = 0;
    QByteArray FBitMap;
};

class TMXRecord : public TResultRecord {
public:
    void Assign(const TResultRecord& ASource) override;
    void Parse(const TDNSMessageReader& AReader, int ARDataPos) override;
    quint16 Preference() const { return FPreference; }
    const QString& ExchangeServer() const { return FExchangeServer; }

private:
    quint16 FPreference = 0;
    QString FExchangeServer;
};

class TTextRecord : public TResultRecord {
public:
    void Assign(const TResultRecord& ASource) override;
    void Parse(const TDNSMessageReader& AReader, int ARDataPos) override;
    const QStringList& Text() const { return FText; }

private:
    QStringList FText;
};

class THINFORecord : public TTextRecord {
public:
    void Assign(const TResultRecord& ASource) override;
    void Parse(const TDNSMessageReader& AReader, int ARDataPos) override;
    const QString& CPU() const { return FCPU; }
    const QString& OS() const { return FOS; }

private:
    QString FCPU;
    QString FOS;
};

class TMINFORecord : public TResultRecord {
public:
    void Assign(const TResultRecord& ASource) override;
    void Parse(const TDNSMessageReader& AReader, int ARDataPos) override;
    const QString& ResponsiblePersonMailbox() const { return FResponsiblePersonMailbox; }
    const QString& ErrorMailbox() const { return FErrorMailbox; }

private:
    QString FResponsiblePersonMailbox;
    QString FErrorMailbox;
};

class TAAAARecord : public TResultRecord {
public:
    void Assign(const TResultRecord& ASource) override;
    void Parse(const TDNSMessageReader& AReader, int ARDataPos) override;
    // Eight groups of lower-case hex without leading zeros, e.g. "2001:db8:0:0:0:0:0:1".
    const QString& Address() const { return FAddress; }

private:
    QString FAddress;
};

class TSRVRecord : public TResultRecord {
public:
    void Assign(const TResultRecord& ASource) override;
    void Parse(const TDNSMessageReader& AReader, int ARDataPos) override;
    const QString& OriginalName() const { return FOriginalName; }
    const QString& Service() const { return FService; }
    const QString& Protocol() const { return FProtocol; }
    quint16 Priority() const { return FPriority; }
    quint16 Weight() const { return FWeight; }
    quint16 Port() const { return FPort; }
    const QString& Target() const { return FTarget; }

private:
    QString FOriginalName;
    QString FService;
    QString FProtocol;
    quint16 FPriority = 0, FWeight = 0, FPort = 0;
    QString FTarget;
};

class TNAPTRRecord : public TResultRecord {
public:
    void Assign(const TResultRecord& ASource) override;
    void Parse(const TDNSMessageReader& AReader, int ARDataPos) override;
    quint16 Order() const { return FOrder; }
    quint16 Preference() const { return FPreference; }
    const QString& Flags() const { return FFlags; }
    const QString& Service() const { return FService; }
    const QString& RegExp() const { return FRegExp; }
    const QString& Replacement() const { return FReplacement; }

private:
    quint16 FOrder = 0, FPreference = 0;
    QString FFlags, FService, FRegExp, FReplacement;
};

// A new record object of the class a reply record of this wire TYPE decodes into.
std::unique_ptr<TResultRecord> CreateRecordOfTypeCode(quint16 ACode);

// The decoded records of one reply, in reply order; owns its items.
class TQueryResult {
public:
    void Clear() { FItems.clear(); }
    int Count() const { return int(FItems.size()); }
    // Raises EListError "List index out of bounds (%d)" for a bad index.
    TResultRecord* GetItem(int AIndex) const;
    TResultRecord* Items(int AIndex) const { return GetItem(AIndex); }
    TResultRecord* Add(std::unique_ptr<TResultRecord> ARecord);

private:
    std::vector<std::unique_ptr<TResultRecord>> FItems;
};
