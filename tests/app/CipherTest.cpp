#include "app/uCipher.h"

#include <QCryptographicHash>
#include <gtest/gtest.h>

namespace {

QByteArray Hex(const char* S) {
    return QByteArray::fromHex(S);
}

QByteArray EncryptOneBlock(const QByteArray& Key, const QByteArray& Plain) {
    TTwofishCipher C;
    C.InitKey(Key);
    QByteArray Out(16, '\0');
    C.EncryptBlock(reinterpret_cast<const std::uint8_t*>(Plain.constData()),
                   reinterpret_cast<std::uint8_t*>(Out.data()));
    return Out;
}

// Published Twofish known answers for the block function.
TEST(CipherTwofish, PublishedVectors) {
    const QByteArray Zero16(16, '\0');
    // 128-bit zero key, zero block, and the first two steps of the chained table.
    EXPECT_EQ(EncryptOneBlock(Zero16, Zero16).toHex(), QByteArray("9f589f5cf6122c32b6bfec2f2ae8c35a"));
    EXPECT_EQ(EncryptOneBlock(Zero16, Hex("9F589F5CF6122C32B6BFEC2F2AE8C35A")).toHex(),
              QByteArray("d491db16e7b1c39e86cb086b789f5419"));
    EXPECT_EQ(EncryptOneBlock(Hex("9F589F5CF6122C32B6BFEC2F2AE8C35A"), Hex("D491DB16E7B1C39E86CB086B789F5419")).toHex(),
              QByteArray("019f9809de1711858faac3a3ba20fbc3"));
    // 192-bit key.
    EXPECT_EQ(EncryptOneBlock(Hex("0123456789ABCDEFFEDCBA98765432100011223344556677"), Zero16).toHex(),
              QByteArray("cfd1d2e5a9be9cdf501f13b892bd2248"));
    // 256-bit key.
    EXPECT_EQ(EncryptOneBlock(Hex("0123456789ABCDEFFEDCBA987654321000112233445566778899AABBCCDDEEFF"), Zero16)
                  .toHex(),
              QByteArray("37527be0052334b89f0cfccae87cfa20"));
}

TEST(CipherTwofish, DecryptBlockInvertsAndShortKeysArePaddedWithZeros) {
    const QByteArray Key20 = Hex("0123456789ABCDEFFEDCBA987654321000112233");
    const QByteArray Key24 = Key20 + QByteArray(4, '\0');
    const QByteArray Plain = Hex("00112233445566778899AABBCCDDEEFF");
    const QByteArray Cipher20 = EncryptOneBlock(Key20, Plain);
    EXPECT_EQ(Cipher20, EncryptOneBlock(Key24, Plain));
    EXPECT_NE(Cipher20, EncryptOneBlock(Hex("0123456789ABCDEFFEDCBA9876543210"), Plain));

    TTwofishCipher C;
    C.InitKey(Key20);
    QByteArray Back(16, '\0');
    C.DecryptBlock(reinterpret_cast<const std::uint8_t*>(Cipher20.constData()),
                   reinterpret_cast<std::uint8_t*>(Back.data()));
    EXPECT_EQ(Back, Plain);
}

TEST(CipherTwofish, RejectsUseWithoutKeyAndBadSizes) {
    TTwofishCipher C;
    EXPECT_FALSE(C.Initialized());
    EXPECT_THROW(C.EncryptCFB8bit("x"), ECipherError);
    EXPECT_THROW(C.InitKey(QByteArray()), ECipherError);
    EXPECT_THROW(C.InitKey(QByteArray(33, 'k')), ECipherError);
    C.InitStr("pass");
    EXPECT_TRUE(C.Initialized());
    EXPECT_THROW(C.SetIV(QByteArray(15, '\0')), ECipherError);
    C.Burn();
    EXPECT_FALSE(C.Initialized());
    EXPECT_EQ(C.IV(), QByteArray(16, '\0'));
    EXPECT_THROW(C.EncryptCFB8bit("x"), ECipherError);
}

TEST(CipherTwofish, PassphraseKeyIsSha1AndIvIsTheZeroBlockEnciphered) {
    const QByteArray Pass = "0123456789abcdef";
    TTwofishCipher C;
    C.InitStr(Pass);
    const QByteArray Key = QCryptographicHash::hash(Pass, QCryptographicHash::Sha1);
    EXPECT_EQ(C.IV(), EncryptOneBlock(Key, QByteArray(16, '\0')));
}

TEST(CipherCfb8, RoundTripContinuationAndReset) {
    TTwofishCipher C;
    C.InitStr("some passphrase!");
    const QByteArray Data("The quick brown fox jumps over the lazy dog \x01\x00\xff", 47);
    C.Reset();
    const QByteArray Whole = C.EncryptCFB8bit(Data);
    ASSERT_EQ(Whole.size(), Data.size());
    EXPECT_NE(Whole, Data);
    // Split encryption continues the register.
    C.Reset();
    QByteArray Split = C.EncryptCFB8bit(Data.left(7));
    Split += C.EncryptCFB8bit(Data.mid(7));
    EXPECT_EQ(Split, Whole);
    // Without a reset the register carries on and the output differs.
    EXPECT_NE(C.EncryptCFB8bit(Data), Whole);
    C.Reset();
    EXPECT_EQ(C.DecryptCFB8bit(Whole), Data);
    // One flipped byte damages that byte and at most the next 16.
    QByteArray Damaged = Whole;
    Damaged[3] = char(Damaged[3] ^ 0x40);
    C.Reset();
    const QByteArray Plain = C.DecryptCFB8bit(Damaged);
    EXPECT_EQ(Plain.left(3), Data.left(3));
    EXPECT_EQ(Plain[3], char(Data[3] ^ 0x40));
    EXPECT_EQ(Plain.mid(20), Data.mid(20));
}

TEST(CipherDigest, Sha1KnownAnswers) {
    EXPECT_EQ(Sha1Digest("abc").toHex(), QByteArray("a9993e364706816aba3e25717850c26c9cd0d89d"));
    EXPECT_EQ(Sha1Digest("").toHex(), QByteArray("da39a3ee5e6b4b0d3255bfef95601890afd80709"));
}

TEST(CipherBase64, StandardAlphabetAndPadding) {
    const char* Plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
    const char* Coded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(Base64Encode(Plain[i]), QByteArray(Coded[i]));
        EXPECT_EQ(Base64Decode(Coded[i]), QByteArray(Plain[i]));
    }
    EXPECT_EQ(Base64Encode("\xfb\xff\xfe"), QByteArray("+//+"));
    EXPECT_EQ(Base64Decode("+//+"), QByteArray("\xfb\xff\xfe"));
    const QByteArray Long(100, 'x');
    EXPECT_FALSE(Base64Encode(Long).contains('\n'));
}

TEST(CipherBase64, DamagedTextDecodesWhatItCan) {
    EXPECT_EQ(Base64Decode("Zm9v YmFy\r\n"), QByteArray("foobar"));
    EXPECT_EQ(Base64Decode("Zm9vYg"), QByteArray("foob"));     // padding missing
    EXPECT_EQ(Base64Decode("Zm9vY"), QByteArray("foo"));       // dangling character
    const QByteArray Inner = Base64Decode("Zg==Zg==");  // inner padding is skipped, not fatal
    ASSERT_EQ(Inner.size(), 3);
    EXPECT_EQ(Inner[0], 'f');
    EXPECT_TRUE(Base64Decode("!!!").isEmpty());
    EXPECT_TRUE(Base64Decode("").isEmpty());
}

} // namespace
