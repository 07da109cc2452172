#include "containers/uFileUtils.h"

#include <QStringDecoder>
#include <gtest/gtest.h>

namespace {

QString Decode(const QByteArray& Data, TTextEncoding& E) {
    return DecodeListFileBytes(Data, E);
}

} // namespace

// Lists saved on other systems in an 8-bit code page: every byte is a
// character, and writing the text back gives the very same bytes.
TEST(ListFileEncoding, BytesThatAreNotUtf8ReadAsWindows1252AndGoBackUnchanged) {
    TTextEncoding E;
    EXPECT_EQ(Decode("caf\xE9.example\r\n", E), QString::fromUtf16(u"caf\u00e9.example\r\n"));
    EXPECT_TRUE(E.Legacy8Bit);
    EXPECT_FALSE(E.BOM);
    EXPECT_EQ(EncodeListFileText(QString::fromUtf16(u"caf\u00e9.example\r\n"), E), "caf\xE9.example\r\n");

    // All 256 byte values (a NUL and a lone 0x81 included), none lost.
    QByteArray All;
    for (int B = 0; B < 256; ++B)
        All += char(B);
    const QString Text = Decode(All, E);
    ASSERT_TRUE(E.Legacy8Bit);
    EXPECT_EQ(Text.size(), 256);
    EXPECT_FALSE(Text.contains(QChar(QChar::ReplacementCharacter)));
    EXPECT_EQ(EncodeListFileText(Text, E), All);
    if (QStringDecoder("windows-1252").isValid()) {
        EXPECT_EQ(Legacy8BitEncodingName(), "Windows-1252");
        EXPECT_EQ(Text.at(0x80), QChar(0x20AC));  // the euro sign, not a C1 control
    }
}

// Well-formed UTF-8 stays UTF-8; a mark decides even over bytes after it
// that are not UTF-8.
TEST(ListFileEncoding, MarksAndWellFormedUtf8KeepTheirEncoding) {
    const QString Text = QString::fromUtf16(u"b\u00fccher.de\r\n\u20ac\r\n");
    TTextEncoding E;
    EXPECT_EQ(Decode(Text.toUtf8(), E), Text);
    EXPECT_FALSE(E.Legacy8Bit);
    EXPECT_EQ(EncodeListFileText(Text, E), Text.toUtf8());
    EXPECT_EQ(Decode("\xEF\xBB\xBF" "a\xE9", E), QString::fromUtf16(u"a\ufffd"));
    EXPECT_FALSE(E.Legacy8Bit);
    EXPECT_TRUE(E.BOM);
}
