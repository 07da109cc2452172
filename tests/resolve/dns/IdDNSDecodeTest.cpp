#include "DnsReplyBuilder.h"
#include "resolve/dns/IdDNSResolver.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <typeinfo>

namespace {

using B = TDnsReplyBuilder;
const quint16 kId = 0x1234;
const QByteArray kQName = B::Name("www.vt.test");   // at offset 12 in every reply below

// Runs the reply through the decoder; returns the error message, or "" when it passed.
QString Decode(TIdDNSResolver& R, const QByteArray& AReply, quint16 AId = kId) {
    try {
        R.ProcessReply(AReply, AId);
        return {};
    } catch (const EIdDnsResolverError& E) {
        return E.Message();
    }
}

template <class T>
const T* Item(const TIdDNSResolver& R, int AIndex) {
    const T* Rec = dynamic_cast<const T*>(R.QueryResult().GetItem(AIndex));
    EXPECT_NE(Rec, nullptr) << "item " << AIndex << " has another class";
    return Rec;
}

B Reply(quint16 AFlags = 0x8180) {
    B Builder(kId, AFlags);
    Builder.Question(kQName);
    return Builder;
}

} // namespace

TEST(DnsDecode, SizeIdAndRcodeChecksComeInOrder) {
    TIdDNSResolver R;
    EXPECT_EQ(Decode(R, B::Hex("123481")), "");   // 3 bytes: silently ignored
    EXPECT_EQ(Decode(R, B::Hex("1234818000")), "Received Packet is too small. Less than 12 bytes. 29");
    EXPECT_EQ(Decode(R, Reply().Bytes().left(11)), "Received Packet is too small. Less than 12 bytes. 29");
    EXPECT_EQ(Decode(R, Reply().Bytes().left(12)), "Invalid Packet Size 3");
    EXPECT_EQ(Decode(R, Reply().Bytes()), "Invalid Packet Size 3");   // all counts 0
    // The ID check comes before the RCODE and names the ID that was sent.
    EXPECT_EQ(Decode(R, B(0x4321, 0x8183).Question(kQName).Bytes(), 777), "Invalid Header Id 777");

    const char* Texts[] = {"DNS Server Reports Query Format Error", "DNS Server Reports Query Server Error",
                           "DNS Server Reports Query Name Error", "DNS Server Reports Query Not Implemented Error",
                           "DNS Server Reports Query Refused Error"};
    for (int RCode = 1; RCode <= 15; ++RCode) {
        const QByteArray Bytes = Reply(quint16(0x8180 | RCode)).Answer(B::Pointer(12), 1, B::Ip(1, 2, 3, 4)).Bytes();
        const QString Expected = RCode <= 5 ? QString(Texts[RCode - 1]) : QString("Server Returned Unknown Error");
        EXPECT_EQ(Decode(R, Bytes), Expected) << "RCODE " << RCode;
        EXPECT_EQ(R.QueryResult().Count(), 0) << "RCODE " << RCode;
    }
}

TEST(DnsDecode, EmptyRepliesLeaveTheCallersListAlone) {
    TIdDNSResolver R;
    R.QueryResult().Add(std::make_unique<TARecord>());
    EXPECT_EQ(Decode(R, QByteArray()), "");
    EXPECT_EQ(Decode(R, B::Hex("12345678")), "");
    EXPECT_EQ(R.QueryResult().Count(), 1);
    // A reply without records is an error even though the list is not empty.
    EXPECT_EQ(Decode(R, Reply().Bytes()), "Invalid Packet Size 3");
}

TEST(DnsDecode, CnameThenTwoAddressRecordsInWireOrder) {
    TIdDNSResolver R;
    // CNAME www.vt.test -> host.vt.test (the "vt.test" tail compressed), then two
    // A records owned by the CNAME target given as a pointer into RDATA.
    const int CnameRData = 12 + kQName.size() + 4 + 2 + 10;
    const QByteArray Bytes = Reply()
                                 .Answer(B::Pointer(12), 5, QByteArray("\x04host", 5) + B::Pointer(16))
                                 .Answer(B::Pointer(CnameRData), 1, B::Ip(10, 0, 0, 1), 60)
                                 .Answer(B::Pointer(CnameRData), 1, B::Ip(192, 168, 200, 255), 61)
                                 .Bytes();
    ASSERT_EQ(Decode(R, Bytes), "");
    ASSERT_EQ(R.QueryResult().Count(), 3);
    const auto* Cname = Item<TNAMERecord>(R, 0);
    ASSERT_TRUE(Cname);
    EXPECT_EQ(Cname->RecType(), qtName);
    EXPECT_EQ(Cname->Name(), "www.vt.test");
    EXPECT_EQ(Cname->HostName(), "host.vt.test");
    const auto* A1 = Item<TARecord>(R, 1);
    const auto* A2 = Item<TARecord>(R, 2);
    ASSERT_TRUE(A1 && A2);
    EXPECT_EQ(A1->RecType(), qtA);
    EXPECT_EQ(A1->Name(), "host.vt.test");
    EXPECT_EQ(A1->IPAddress(), "10.0.0.1");
    EXPECT_EQ(A1->TTL(), 60u);
    EXPECT_EQ(A1->RecClass(), 1);
    EXPECT_EQ(A1->RDataLength(), 4);
    EXPECT_EQ(A1->RData(), B::Ip(10, 0, 0, 1));
    EXPECT_EQ(A2->IPAddress(), "192.168.200.255");
    EXPECT_EQ(A2->Section(), rsAnswer);
}

TEST(DnsDecode, SectionsUntaggedTypesAndTruncation) {
    TIdDNSResolver R;
    const QByteArray Soa = B::Name("ns.vt.test") + B::Name("admin.vt.test") + B::DWord(2024010101) +
                           B::DWord(3600) + B::DWord(600) + B::DWord(86400) + B::DWord(300);
    // No answer, an SOA in the authority section: one record, no error.
    ASSERT_EQ(Decode(R, Reply(0x8580).Authority(B::Name("vt.test"), 6, Soa).Bytes()), "");
    ASSERT_EQ(R.QueryResult().Count(), 1);
    const auto* S = Item<TSOARecord>(R, 0);
    ASSERT_TRUE(S);
    EXPECT_EQ(S->Section(), rsNameServer);
    EXPECT_EQ(S->RecType(), qtSOA);
    EXPECT_EQ(S->Primary(), "ns.vt.test");
    EXPECT_EQ(S->ResponsiblePerson(), "admin.vt.test");
    EXPECT_EQ(S->Serial(), 2024010101u);
    EXPECT_EQ(S->Refresh(), 3600u);
    EXPECT_EQ(S->Retry(), 600u);
    EXPECT_EQ(S->Expire(), 86400u);
    EXPECT_EQ(S->MinimumTTL(), 300u);

    // Types 39 and 46 are untagged plain records; 3 and 252 keep their tag.
    ASSERT_EQ(Decode(R, Reply()
                            .Answer(B::Pointer(12), 39, B::Name("other.test"))
                            .Answer(B::Pointer(12), 46, B::Ip(1, 2, 3, 4))
                            .Authority(B::Pointer(12), 3, QByteArray())
                            .Additional(B::Pointer(12), 252, QByteArray("x"))
                            .Bytes()),
              "");
    ASSERT_EQ(R.QueryResult().Count(), 4);
    for (int I = 0; I < 2; ++I) {
        const TResultRecord* Rec = R.QueryResult().GetItem(I);
        EXPECT_EQ(typeid(*Rec), typeid(TResultRecord));
        EXPECT_EQ(Rec->RecType(), qtUnknown);
        EXPECT_NE(Rec->RecType(), qtA);
    }
    EXPECT_EQ(R.QueryResult().GetItem(1)->TypeCode(), 46);
    EXPECT_EQ(R.QueryResult().GetItem(2)->RecType(), qtMD);
    EXPECT_EQ(R.QueryResult().GetItem(2)->Section(), rsNameServer);
    EXPECT_EQ(R.QueryResult().GetItem(3)->RecType(), qtAXFR);
    EXPECT_EQ(R.QueryResult().GetItem(3)->Section(), rsAdditional);

    // TC set and the counts promising more than the datagram holds: what is
    // there is decoded and the rest is not an error.
    ASSERT_EQ(Decode(R, Reply(0x8380).Answer(B::Pointer(12), 1, B::Ip(9, 9, 9, 9)).Counts(1, 3, 0, 0).Bytes()), "");
    ASSERT_EQ(R.QueryResult().Count(), 1);
    EXPECT_EQ(Item<TARecord>(R, 0)->IPAddress(), "9.9.9.9");
    // Without TC the same reply is malformed.
    EXPECT_TRUE(Decode(R, Reply().Answer(B::Pointer(12), 1, B::Ip(9, 9, 9, 9)).Counts(1, 3, 0, 0).Bytes())
                    .startsWith("Malformed reply"));
}

TEST(DnsDecode, AddressRecordData) {
    TIdDNSResolver R;
    ASSERT_EQ(Decode(R, Reply().Answer(B::Pointer(12), 1, QByteArray()).Bytes()), "");
    EXPECT_EQ(Item<TARecord>(R, 0)->IPAddress(), "");
    // Longer RDATA: the first four bytes; the next record still starts after the declared length.
    ASSERT_EQ(Decode(R, Reply()
                            .Answer(B::Pointer(12), 1, B::Ip(1, 2, 3, 4) + "zz")
                            .Answer(B::Pointer(12), 1, B::Ip(5, 6, 7, 8))
                            .Bytes()),
              "");
    ASSERT_EQ(R.QueryResult().Count(), 2);
    EXPECT_EQ(Item<TARecord>(R, 0)->IPAddress(), "1.2.3.4");
    EXPECT_EQ(Item<TARecord>(R, 1)->IPAddress(), "5.6.7.8");
    for (int Len = 1; Len <= 3; ++Len)
        EXPECT_EQ(Decode(R, Reply().Answer(B::Pointer(12), 1, QByteArray(Len, '\x01')).Bytes()),
                  "Malformed reply: A record data shorter than 4 bytes")
            << Len;
    // RDLENGTH 4 but the datagram ends after two bytes.
    EXPECT_EQ(Decode(R, Reply().RawAnswer(B::Pointer(12), 1, 4, B::Hex("0a0b")).Bytes()),
              "Malformed reply: A record data shorter than 4 bytes");
}

TEST(DnsDecode, LabelBytesAndRootNames) {
    TIdDNSResolver R;
    const QByteArray Owner = QByteArray("\x03" "a\x80\xff" "\x02" "ok", 7) + QByteArray(1, '\0');
    ASSERT_EQ(Decode(R, Reply().Answer(Owner, 1, B::Ip(1, 1, 1, 1)).Answer(QByteArray(1, '\0'), 1, B::Ip(2, 2, 2, 2))
                            .Bytes()),
              "");
    ASSERT_EQ(R.QueryResult().Count(), 2);
    EXPECT_EQ(R.QueryResult().GetItem(0)->Name(), "a??.ok");
    EXPECT_EQ(R.QueryResult().GetItem(1)->Name(), "");
    // A label length of 64 to 191 is still a length, not a pointer.
    const QByteArray Long = QByteArray(1, char(70)) + QByteArray(70, 'x') + QByteArray(1, '\0');
    ASSERT_EQ(Decode(R, Reply().Answer(Long, 1, B::Ip(3, 3, 3, 3)).Bytes()), "");
    EXPECT_EQ(R.QueryResult().GetItem(0)->Name(), QString(70, 'x'));
    // A pointer to a root byte ends the name there.
    // The question name's root byte is at offset 12 + size - 1.
    ASSERT_EQ(Decode(R, Reply().Answer(QByteArray("\x01z", 2) + B::Pointer(12 + kQName.size() - 1), 1,
                                       B::Ip(4, 4, 4, 4))
                            .Bytes()),
              "");
    EXPECT_EQ(R.QueryResult().GetItem(0)->Name(), "z");
    EXPECT_EQ(Item<TARecord>(R, 0)->IPAddress(), "4.4.4.4");
}

TEST(DnsDecode, OtherRecordTypes) {
    TIdDNSResolver R;
    const QByteArray Bytes =
        Reply()
            .Answer(B::Pointer(12), 2, B::Name("ns1.vt.test"))
            .Answer(B::Pointer(12), 12, B::Pointer(12))
            .Answer(B::Pointer(12), 15, B::Word(10) + B::Name("mx.vt.test"))
            .Answer(B::Pointer(12), 16, QByteArray("\x03" "abc" "\x00" "\x02" "d\xe9", 8))
            .Answer(B::Pointer(12), 13, QByteArray("\x03" "x86" "\x05" "Linux", 10))
            .Answer(B::Pointer(12), 14, B::Name("rp.vt.test") + B::Name("err.vt.test"))
            .Answer(B::Pointer(12), 28, B::Hex("20010db8000000000000000000000001"))
            .Answer(B::Name("_sip._udp.vt.test"), 33, B::Word(1) + B::Word(5) + B::Word(5060) + B::Name("sip.vt.test"))
            .Answer(B::Pointer(12), 35,
                    B::Word(100) + B::Word(10) + QByteArray("\x01u\x07" "E2U+sip\x00", 11) + B::Name("r.vt.test"))
            .Answer(B::Pointer(12), 11, B::Ip(10, 0, 0, 9) + QByteArray("\x06\xff\x01", 3))
            .Bytes();
    ASSERT_EQ(Decode(R, Bytes), "");
    ASSERT_EQ(R.QueryResult().Count(), 10);
    EXPECT_EQ(Item<TNSRecord>(R, 0)->HostName(), "ns1.vt.test");
    EXPECT_EQ(Item<TNSRecord>(R, 0)->RecType(), qtNS);
    EXPECT_EQ(Item<TPTRRecord>(R, 1)->HostName(), "www.vt.test");
    EXPECT_EQ(Item<TMXRecord>(R, 2)->Preference(), 10);
    EXPECT_EQ(Item<TMXRecord>(R, 2)->ExchangeServer(), "mx.vt.test");
    EXPECT_EQ(Item<TTextRecord>(R, 3)->Text(), QStringList({"abc", "d?"}));
    EXPECT_EQ(Item<THINFORecord>(R, 4)->CPU(), "x86");
    EXPECT_EQ(Item<THINFORecord>(R, 4)->OS(), "Linux");
    EXPECT_EQ(Item<THINFORecord>(R, 4)->Text(), QStringList({"x86", "Linux"}));
    EXPECT_EQ(Item<TMINFORecord>(R, 5)->ResponsiblePersonMailbox(), "rp.vt.test");
    EXPECT_EQ(Item<TMINFORecord>(R, 5)->ErrorMailbox(), "err.vt.test");
    EXPECT_EQ(Item<TAAAARecord>(R, 6)->Address(), "2001:db8:0:0:0:0:0:1");
    const auto* Srv = Item<TSRVRecord>(R, 7);
    EXPECT_EQ(Srv->OriginalName(), "_sip._udp.vt.test");
    EXPECT_EQ(Srv->Name(), "vt.test");
    EXPECT_EQ(Srv->Service(), "sip");
    EXPECT_EQ(Srv->Protocol(), "udp");
    EXPECT_EQ(Srv->Priority(), 1);
    EXPECT_EQ(Srv->Weight(), 5);
    EXPECT_EQ(Srv->Port(), 5060);
    EXPECT_EQ(Srv->Target(), "sip.vt.test");
    const auto* Naptr = Item<TNAPTRRecord>(R, 8);
    EXPECT_EQ(Naptr->Order(), 100);
    EXPECT_EQ(Naptr->Preference(), 10);
    EXPECT_EQ(Naptr->Flags(), "u");
    EXPECT_EQ(Naptr->Service(), "E2U+sip");
    EXPECT_EQ(Naptr->RegExp(), "");
    EXPECT_EQ(Naptr->Replacement(), "r.vt.test");
    const auto* Wks = Item<TWKSRecord>(R, 9);
    EXPECT_EQ(Wks->IPAddress(), "10.0.0.9");
    EXPECT_EQ(Wks->Protocol(), 6);
    EXPECT_EQ(Wks->BitMap(), QByteArray("\xff\x01", 2));

    TSRVRecord Copy;
    Copy.Assign(*Srv);
    EXPECT_EQ(Copy.Target(), "sip.vt.test");
    EXPECT_EQ(Copy.Port(), 5060);
    EXPECT_EQ(Copy.Name(), "vt.test");
    EXPECT_EQ(Copy.RData(), Srv->RData());

    // SRV names without two "_" labels followed by more stay whole.
    ASSERT_EQ(Decode(R, Reply().Answer(B::Name("_sip.vt.test"), 33, B::Word(1) + B::Word(2) + B::Word(3) +
                                                                      B::Name("t.test"))
                            .Answer(B::Name("_a._b"), 33, B::Word(1) + B::Word(2) + B::Word(3) + B::Name("t.test"))
                            .Bytes()),
              "");
    EXPECT_EQ(Item<TSRVRecord>(R, 0)->Name(), "_sip.vt.test");
    EXPECT_EQ(Item<TSRVRecord>(R, 0)->Service(), "");
    EXPECT_EQ(Item<TSRVRecord>(R, 1)->Name(), "_a._b");

}

// Replies that would lead a careless decoder outside the datagram or into an
// endless loop: each ends the lookup with a clear error.
TEST(DnsDecode, HostileRepliesFailCleanly) {
    struct TCase {
        const char* What;
        QByteArray Bytes;
        const char* Message;
    };
    QByteArray LongName;
    for (int I = 0; I < 5; ++I)
        LongName += QByteArray(1, char(60)) + QByteArray(60, 'n');
    LongName += QByteArray(1, '\0');
    const int Ans = 12 + kQName.size() + 4;   // offset of the first answer record
    const TCase Cases[] = {
        {"pointer past the end", Reply().Append(B::Pointer(0x3fff)).Counts(1, 1, 0, 0).Bytes(),
         "Malformed reply: compression pointer past the end"},
        {"pointer to itself", Reply().Append(B::Pointer(Ans)).Counts(1, 1, 0, 0).Bytes(),
         "Malformed reply: compression loop"},
        {"two pointers in a cycle",
         Reply().Append(B::Pointer(Ans + 2) + B::Pointer(Ans)).Counts(1, 1, 0, 0).Bytes(),
         "Malformed reply: compression loop"},
        {"label then pointer back", Reply().Append(QByteArray("\x01q", 2) + B::Pointer(Ans)).Counts(1, 1, 0, 0).Bytes(),
         "Malformed reply: compression loop"},
        {"pointer's second byte missing", Reply().Append(QByteArray(1, '\xc0')).Counts(1, 1, 0, 0).Bytes(),
         "Malformed reply: truncated compression pointer"},
        {"label past the end", Reply().Append(QByteArray("\x09" "abc", 4)).Counts(1, 1, 0, 0).Bytes(),
         "Invalid Packet Size 3"},
        {"name without its end", Reply().Append(QByteArray("\x03" "abc", 4)).Counts(1, 1, 0, 0).Bytes(),
         "Malformed reply: name runs past the end"},
        {"name over 255 bytes", Reply().Answer(LongName, 1, B::Ip(1, 2, 3, 4)).Bytes(),
         "Malformed reply: name longer than 255 bytes"},
        {"record header cut", Reply().Append(B::Pointer(12) + B::Word(1) + B::Word(1)).Counts(1, 1, 0, 0).Bytes(),
         "Malformed reply: record header past the end"},
        {"question cut", B(kId).Append(kQName + B::Word(1)).Counts(1, 1, 0, 0).Bytes(),
         "Malformed reply: question past the end"},
        {"short AAAA", Reply().Answer(B::Pointer(12), 28, B::Ip(1, 2, 3, 4)).Bytes(),
         "Malformed reply: record data shorter than its type needs"},
        {"short WKS", Reply().Answer(B::Pointer(12), 11, B::Ip(1, 2, 3, 4)).Bytes(),
         "Malformed reply: record data shorter than its type needs"},
        {"short SOA counters", Reply().Answer(B::Pointer(12), 6, B::Pointer(12) + B::Pointer(12) + B::DWord(1)).Bytes(),
         "Malformed reply: record data shorter than its type needs"},
        {"empty CNAME", Reply().Answer(B::Pointer(12), 5, QByteArray()).Answer(B::Pointer(12), 1, B::Ip(1, 1, 1, 1))
                            .Bytes(),
         "Malformed reply: record data shorter than its type needs"},
        {"CNAME name running into the next record",
         Reply().RawAnswer(B::Pointer(12), 5, 1, QByteArray("\x01x\x00", 3)).Bytes(),
         "Malformed reply: name runs past its record"},
        {"MX without a name", Reply().Answer(B::Pointer(12), 15, B::Word(5)).Bytes(),
         "Malformed reply: record data shorter than its type needs"},
    };
    for (const TCase& C : Cases) {
        TIdDNSResolver R;
        EXPECT_EQ(Decode(R, C.Bytes), QString(C.Message)) << C.What;
    }
}

TEST(DnsDecode, RecordsBeforeAFailureStayAndACutRecordFails) {
    TIdDNSResolver R;
    EXPECT_EQ(Decode(R, Reply().Answer(B::Pointer(12), 1, B::Ip(1, 2, 3, 4)).Append(B::Pointer(0x3ff0))
                            .Counts(1, 2, 0, 0).Bytes()),
              "Malformed reply: compression pointer past the end");
    ASSERT_EQ(R.QueryResult().Count(), 1);
    EXPECT_EQ(Item<TARecord>(R, 0)->IPAddress(), "1.2.3.4");

    // TXT whose declared data and string run past the datagram: a reply
    // that does not decode whole is no answer, and the record does not join.
    ASSERT_EQ(Decode(R, Reply().RawAnswer(B::Pointer(12), 16, 40, QByteArray("\x05" "ab" "", 3)).Bytes()),
              "Malformed reply: record data past the end");
    EXPECT_EQ(R.QueryResult().Count(), 0);
    EXPECT_TRUE(R.BadReply());
}

TEST(DnsHeader, BinaryFormAndShortMessages) {
    TDNSHeader H;
    H.ID = 0xBEEF;
    H.BitCode = 0x8583;
    H.QDCount = 1;
    H.ANCount = 2;
    H.NSCount = 3;
    H.ARCount = 0x0104;
    const QByteArray Bytes = H.GenerateBinaryHeader();
    EXPECT_EQ(Bytes, B::Hex("beef 8583 0001 0002 0003 0104"));
    EXPECT_EQ(H.RCode(), 3);
    TDNSHeader Read;
    Read.ParseQuery(Bytes.left(11));
    EXPECT_EQ(Read.ID, 0);
    Read.ParseQuery(Bytes + "tail");
    EXPECT_EQ(Read.GenerateBinaryHeader(), Bytes);
    Read.ClearByteCode();
    EXPECT_EQ(Read.BitCode, 0);
}

// Every committed fuzz input (seeds and past findings) decodes or fails with
// the client's own error, never anything else.
TEST(DnsDecode, ReplaysFuzzCorpus) {
    const QDir Dir(QStringLiteral(VT_SOURCE_DIR "/fuzz/corpus/dns_reply"));
    const QStringList Files = Dir.entryList(QDir::Files);
    ASSERT_FALSE(Files.isEmpty()) << Dir.absolutePath().toStdString();
    int Decoded = 0;
    for (const QString& F : Files) {
        QFile File(Dir.filePath(F));
        ASSERT_TRUE(File.open(QIODevice::ReadOnly)) << F.toStdString();
        TIdDNSResolver R;
        try {
            R.ProcessReply(File.readAll().left(8192), 0x1234);
            if (R.QueryResult().Count() > 0)
                ++Decoded;
        } catch (const EIdDnsResolverError&) {
        } catch (...) {
            ADD_FAILURE() << F.toStdString() << " raised something other than EIdDnsResolverError";
        }
    }
    EXPECT_GT(Decoded, 0);
}
