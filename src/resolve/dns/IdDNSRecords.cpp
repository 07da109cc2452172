#include "resolve/dns/IdDNSRecords.h"

#include "containers/uException.h"
#include "resolve/dns/IdExceptions.h"

namespace {

const quint16 kTypeCodes[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13,  14,  15, 16,
                              21, 22, 23, 24, 28, 33, 35, 37, 38, 39, 40, 41, 251, 252, 255};
static_assert(sizeof(kTypeCodes) / sizeof(kTypeCodes[0]) == qtUnknown, "one wire code per member");

// A name may be 255 bytes on the wire; a legitimate name needs far fewer
// pointer hops than this, and a loop is caught long before it matters.
const int kMaxNameLength = 255;
const int kMaxPointerHops = 64;

[[noreturn]] void Malformed(const char* AWhat) {
    throw EIdDnsResolverError(QString("Malformed reply: %1").arg(QLatin1String(AWhat)));
}

QString DottedQuad(const TDNSMessageReader& AReader, int APos) {
    // Formatted by hand: this runs for every A record of every reply.
    char16_t Out[16];
    int N = 0;
    for (int I = 0; I < 4; ++I) {
        const int V = AReader.Byte(APos + I);
        if (I)
            Out[N++] = u'.';
        if (V >= 100)
            Out[N++] = char16_t(u'0' + V / 100);
        if (V >= 10)
            Out[N++] = char16_t(u'0' + V / 10 % 10);
        Out[N++] = char16_t(u'0' + V % 10);
    }
    return QString(reinterpret_cast<const QChar*>(Out), N);
}

} // namespace

quint16 QueryRecordTypeCode(TQueryRecordTypes AType) {
    return AType < qtUnknown ? kTypeCodes[AType] : 0;
}

TQueryRecordTypes RecordTagOfTypeCode(quint16 ACode) {
    switch (ACode) {
    case 1: return qtA;
    case 2: return qtNS;
    case 3: return qtMD;
    case 4: return qtMF;
    case 5: return qtName;
    case 6: return qtSOA;
    case 7: return qtMB;
    case 8: return qtMG;
    case 9: return qtMR;
    case 10: return qtNull;
    case 11: return qtWKS;
    case 12: return qtPTR;
    case 13: return qtHINFO;
    case 14: return qtMINFO;
    case 15: return qtMX;
    case 16: return qtTXT;
    case 28: return qtAAAA;
    case 33: return qtService;
    case 35: return qtNAPTR;
    case 252: return qtAXFR;
    default: return qtUnknown;   // also the vocabulary codes decoded as untagged records
    }
}

TQueryType::TQueryType(std::initializer_list<TQueryRecordTypes> AMembers) {
    for (TQueryRecordTypes M : AMembers)
        Include(M);
}

void TQueryType::Include(TQueryRecordTypes AType) {
    if (AType < qtUnknown)
        FBits |= quint32(1) << AType;
}

void TQueryType::Exclude(TQueryRecordTypes AType) {
    if (AType < qtUnknown)
        FBits &= ~(quint32(1) << AType);
}

bool TQueryType::Contains(TQueryRecordTypes AType) const {
    return AType < qtUnknown && (FBits & (quint32(1) << AType)) != 0;
}

int TQueryType::Count() const {
    int N = 0;
    for (quint32 B = FBits; B; B &= B - 1)
        ++N;
    return N;
}

// ---------------------------------------------------------------------------

TDNSMessageReader::TDNSMessageReader(const QByteArray& AMessage)
    : FMessage(AMessage), FData(reinterpret_cast<const uchar*>(AMessage.constData())), FSize(int(AMessage.size())) {}

void TDNSMessageReader::Need(int APos, int ACount, const char* AWhat) const {
    if (APos < 0 || ACount < 0 || APos > FSize || ACount > FSize - APos)
        Malformed(AWhat);
}

quint8 TDNSMessageReader::Byte(int APos) const {
    Need(APos, 1, "read past the end");
    return FData[APos];
}

quint16 TDNSMessageReader::Word(int APos) const {
    Need(APos, 2, "read past the end");
    return quint16((FData[APos] << 8) | FData[APos + 1]);
}

quint32 TDNSMessageReader::DWord(int APos) const {
    Need(APos, 4, "read past the end");
    return (quint32(FData[APos]) << 24) | (quint32(FData[APos + 1]) << 16) | (quint32(FData[APos + 2]) << 8) |
           quint32(FData[APos + 3]);
}

QString TDNSMessageReader::DecodeText(const char* AData, int ALength) {
    QString S(ALength, Qt::Uninitialized);
    QChar* Out = S.data();
    for (int I = 0; I < ALength; ++I) {
        const uchar C = uchar(AData[I]);
        Out[I] = QChar(C < 128 ? ushort(C) : ushort('?'));
    }
    return S;
}

QString TDNSMessageReader::ReadName(int APos, int& ANext) const {
    // The dotted text is at most 255 characters (254 plus a trailing "."),
    // so it is gathered on the stack and turned into a string once.
    char16_t Text[kMaxNameLength + 1];
    int TextLength = 0;
    int Pos = APos;
    int Resume = -1;
    int Hops = 0;
    int WireLength = 1;   // the terminating root byte
    bool Ended = false;
    while (Pos >= 0 && Pos < FSize) {
        int B = FData[Pos];
        if (B == 0) {
            Ended = true;
            break;
        }
        bool Jumped = false;
        while ((B & 0xC0) == 0xC0) {
            if (Pos + 1 >= FSize)
                Malformed("truncated compression pointer");
            if (Resume < 0)
                Resume = Pos + 1;
            const int Target = ((B & 0x3F) << 8) | FData[Pos + 1];
            if (Target >= FSize)
                Malformed("compression pointer past the end");
            if (++Hops > kMaxPointerHops)
                Malformed("compression loop");
            Pos = Target;
            B = FData[Pos];
            Jumped = true;
        }
        // A pointer to a root byte ends the name like a 0 byte in place does;
        // reading on behind it would pick up whatever follows the target.
        if (B == 0 && Jumped) {
            Ended = true;
            break;
        }
        const int Length = B;
        if (Pos + Length >= FSize)
            throw EIdDnsResolverError(QString("Invalid Packet Size %1").arg(3));
        WireLength += Length + 1;
        if (WireLength > kMaxNameLength)
            Malformed("name longer than 255 bytes");
        for (int I = 1; I <= Length; ++I) {
            const uchar C = FData[Pos + I];
            Text[TextLength++] = C < 128 ? char16_t(C) : u'?';
        }
        Text[TextLength++] = u'.';
        Pos += Length + 1;
    }
    if (!Ended)
        Malformed("name runs past the end");
    if (TextLength > 0)
        --TextLength;   // the trailing "."
    ANext = Resume >= 0 ? Resume + 1 : Pos + 1;
    return QString(reinterpret_cast<const QChar*>(Text), TextLength);
}

QString TDNSMessageReader::ReadCharString(int& APos, int ALimit) const {
    const int Limit = qMin(ALimit, FSize);
    if (APos < 0 || APos >= Limit)
        return {};
    const int Length = FData[APos];
    ++APos;
    if (Length == 0)
        return {};
    const int Take = qMin(Length, Limit - APos);
    const QString Text = DecodeText(reinterpret_cast<const char*>(FData + APos), Take);
    APos += Take;
    return Text;
}

// ---------------------------------------------------------------------------

void TResultRecord::Assign(const TResultRecord& ASource) {
    FRecType = ASource.FRecType;
    FTypeCode = ASource.FTypeCode;
    FRecClass = ASource.FRecClass;
    FName = ASource.FName;
    FTTL = ASource.FTTL;
    FRDataLength = ASource.FRDataLength;
    FRData = ASource.FRData;
    FSection = ASource.FSection;
}

void TResultRecord::Parse(const TDNSMessageReader&, int) {}

void TResultRecord::SetHeader(quint16 ATypeCode, quint16 AClass, const QString& AName, quint32 ATTL,
                              int ARDataLength, const QByteArray& ARData, TResultSection ASection) {
    FTypeCode = ATypeCode;
    FRecType = RecordTagOfTypeCode(ATypeCode);
    FRecClass = AClass;
    FName = AName;
    FTTL = ATTL;
    FRDataLength = ARDataLength;
    FRData = ARData;
    FSection = ASection;
}

int TResultRecord::RDataEnd(const TDNSMessageReader& AReader, int ARDataPos) const {
    return int(qMin<qint64>(qint64(ARDataPos) + FRDataLength, AReader.Size()));
}

void TResultRecord::NeedRData(int APos, int ACount, int AEnd) const {
    if (APos < 0 || ACount > AEnd - APos)
        Malformed("record data shorter than its type needs");
}

QString TResultRecord::ReadRDataName(const TDNSMessageReader& AReader, int& APos, int AEnd) const {
    if (APos >= AEnd)
        Malformed("record data shorter than its type needs");
    int Next = 0;
    const QString Name = AReader.ReadName(APos, Next);
    if (Next > AEnd)
        Malformed("name runs past its record");
    APos = Next;
    return Name;
}

// Each subclass copies its own fields when the source is of its class and
// otherwise only the shared ones.
#define VT_ASSIGN_SAME_CLASS(Class, Base)                                                                    \
    void Class::Assign(const TResultRecord& ASource) {                                                       \
        if (const auto* Same = dynamic_cast<const Class*>(&ASource))                                         \
            *this = *Same;                                                                                   \
        else                                                                                                 \
            Base::Assign(ASource);                                                                           \
    }

VT_ASSIGN_SAME_CLASS(TARecord, TRDATARecord)
VT_ASSIGN_SAME_CLASS(TNAMERecord, TResultRecord)
VT_ASSIGN_SAME_CLASS(TSOARecord, TResultRecord)
VT_ASSIGN_SAME_CLASS(TWKSRecord, TResultRecord)
VT_ASSIGN_SAME_CLASS(TMXRecord, TResultRecord)
VT_ASSIGN_SAME_CLASS(TTextRecord, TResultRecord)
VT_ASSIGN_SAME_CLASS(THINFORecord, TTextRecord)
VT_ASSIGN_SAME_CLASS(TMINFORecord, TResultRecord)
VT_ASSIGN_SAME_CLASS(TAAAARecord, TResultRecord)
VT_ASSIGN_SAME_CLASS(TSRVRecord, TResultRecord)
VT_ASSIGN_SAME_CLASS(TNAPTRRecord, TResultRecord)

void TARecord::Parse(const TDNSMessageReader& AReader, int ARDataPos) {
    const int End = RDataEnd(AReader, ARDataPos);
    if (End <= ARDataPos) {
        FIPAddress.clear();
        return;
    }
    if (End - ARDataPos < 4)
        Malformed("A record data shorter than 4 bytes");
    FIPAddress = DottedQuad(AReader, ARDataPos);
}

void TNAMERecord::Parse(const TDNSMessageReader& AReader, int ARDataPos) {
    int Pos = ARDataPos;
    FHostName = ReadRDataName(AReader, Pos, RDataEnd(AReader, ARDataPos));
}

void TSOARecord::Parse(const TDNSMessageReader& AReader, int ARDataPos) {
    const int End = RDataEnd(AReader, ARDataPos);
    int Pos = ARDataPos;
    FPrimary = ReadRDataName(AReader, Pos, End);
    FResponsiblePerson = ReadRDataName(AReader, Pos, End);
    NeedRData(Pos, 20, End);
    FSerial = AReader.DWord(Pos);
    FRefresh = AReader.DWord(Pos + 4);
    FRetry = AReader.DWord(Pos + 8);
    FExpire = AReader.DWord(Pos + 12);
    FMinimumTTL = AReader.DWord(Pos + 16);
}

void TWKSRecord::Parse(const TDNSMessageReader& AReader, int ARDataPos) {
    const int End = RDataEnd(AReader, ARDataPos);
    NeedRData(ARDataPos, 5, End);
    FIPAddress = DottedQuad(AReader, ARDataPos);
    FProtocol = AReader.Byte(ARDataPos + 4);
    FBitMap = AReader.Message().mid(ARDataPos + 5, End - ARDataPos - 5);
}

void TMXRecord::Parse(const TDNSMessageReader& AReader, int ARDataPos) {
    const int End = RDataEnd(AReader, ARDataPos);
    NeedRData(ARDataPos, 2, End);
    FPreference = AReader.Word(ARDataPos);
    int Pos = ARDataPos + 2;
    FExchangeServer = ReadRDataName(AReader, Pos, End);
}

void TTextRecord::Parse(const TDNSMessageReader& AReader, int ARDataPos) {
    const int End = RDataEnd(AReader, ARDataPos);
    FText.clear();
    int Pos = ARDataPos;
    while (Pos < End) {
        const QString S = AReader.ReadCharString(Pos, End);
        if (!S.isEmpty())
            FText.append(S);
    }
}

void THINFORecord::Parse(const TDNSMessageReader& AReader, int ARDataPos) {
    TTextRecord::Parse(AReader, ARDataPos);
    const int End = RDataEnd(AReader, ARDataPos);
    int Pos = ARDataPos;
    FCPU = AReader.ReadCharString(Pos, End);
    FOS = AReader.ReadCharString(Pos, End);
}

void TMINFORecord::Parse(const TDNSMessageReader& AReader, int ARDataPos) {
    const int End = RDataEnd(AReader, ARDataPos);
    int Pos = ARDataPos;
    FResponsiblePersonMailbox = ReadRDataName(AReader, Pos, End);
    FErrorMailbox = ReadRDataName(AReader, Pos, End);
}

void TAAAARecord::Parse(const TDNSMessageReader& AReader, int ARDataPos) {
    NeedRData(ARDataPos, 16, RDataEnd(AReader, ARDataPos));
    QStringList Groups;
    for (int I = 0; I < 8; ++I)
        Groups << QString::number(AReader.Word(ARDataPos + 2 * I), 16);
    FAddress = Groups.join(QLatin1Char(':'));
}

void TSRVRecord::Parse(const TDNSMessageReader& AReader, int ARDataPos) {
    FOriginalName = FName;
    const QStringList Labels = FName.split(QLatin1Char('.'));
    if (Labels.size() > 2 && Labels[0].size() >= 2 && Labels[0].startsWith(QLatin1Char('_')) &&
        Labels[1].size() >= 2 && Labels[1].startsWith(QLatin1Char('_'))) {
        FService = Labels[0].mid(1);
        FProtocol = Labels[1].mid(1);
        FName = Labels.mid(2).join(QLatin1Char('.'));
    }
    const int End = RDataEnd(AReader, ARDataPos);
    NeedRData(ARDataPos, 6, End);
    FPriority = AReader.Word(ARDataPos);
    FWeight = AReader.Word(ARDataPos + 2);
    FPort = AReader.Word(ARDataPos + 4);
    int Pos = ARDataPos + 6;
    FTarget = ReadRDataName(AReader, Pos, End);
}

void TNAPTRRecord::Parse(const TDNSMessageReader& AReader, int ARDataPos) {
    const int End = RDataEnd(AReader, ARDataPos);
    NeedRData(ARDataPos, 4, End);
    FOrder = AReader.Word(ARDataPos);
    FPreference = AReader.Word(ARDataPos + 2);
    int Pos = ARDataPos + 4;
    FFlags = AReader.ReadCharString(Pos, End);
    FService = AReader.ReadCharString(Pos, End);
    FRegExp = AReader.ReadCharString(Pos, End);
    FReplacement = ReadRDataName(AReader, Pos, End);
}

std::unique_ptr<TResultRecord> CreateRecordOfTypeCode(quint16 ACode) {
    switch (ACode) {
    case 1: return std::make_unique<TARecord>();
    case 2: return std::make_unique<TNSRecord>();
    case 5: return std::make_unique<TNAMERecord>();
    case 6: return std::make_unique<TSOARecord>();
    case 11: return std::make_unique<TWKSRecord>();
    case 12: return std::make_unique<TPTRRecord>();
    case 13: return std::make_unique<THINFORecord>();
    case 14: return std::make_unique<TMINFORecord>();
    case 15: return std::make_unique<TMXRecord>();
    case 16: return std::make_unique<TTextRecord>();
    case 28: return std::make_unique<TAAAARecord>();
    case 33: return std::make_unique<TSRVRecord>();
    case 35: return std::make_unique<TNAPTRRecord>();
    default: return std::make_unique<TResultRecord>();
    }
}

// ---------------------------------------------------------------------------

TResultRecord* TQueryResult::GetItem(int AIndex) const {
    if (AIndex < 0 || AIndex >= Count())
        throw EListError(QString("List index out of bounds (%1)").arg(AIndex));
    return FItems[size_t(AIndex)].get();
}

TResultRecord* TQueryResult::Add(std::unique_ptr<TResultRecord> ARecord) {
    FItems.push_back(std::move(ARecord));
    return FItems.back().get();
}
