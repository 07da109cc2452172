#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <cstddef>
#include <cstdint>
#include <string>

// The text a fuzz input stands for. Its first byte picks how the rest
// becomes text: as UTF-8 (even), or mapped byte by byte onto AAlphabet, the
// characters the parser under test is made of (odd), so that the search
// spends its time on lines that nearly parse. ASize must be at least 1.
inline QString FuzzInputText(const uint8_t* AData, size_t ASize, const char* AAlphabet) {
    const char* Bytes = reinterpret_cast<const char*>(AData + 1);
    const qsizetype Len = qsizetype(ASize - 1);
    if ((AData[0] & 1) == 0)
        return QString::fromUtf8(Bytes, Len);
    const size_t N = std::char_traits<char>::length(AAlphabet);
    QString Text;
    Text.reserve(Len);
    for (qsizetype I = 0; I < Len; ++I)
        Text.append(QLatin1Char(AAlphabet[uint8_t(Bytes[I]) % N]));
    return Text;
}

// The host-name rules, written out here apart from the code they check:
// dot-separated labels of 1 to 63 letters, digits, "-" and "_", each starting
// and ending with a letter or a digit, 253 characters at most.
inline bool RefIsHostName(QStringView AText) {
    if (AText.isEmpty() || AText.size() > 253)
        return false;
    for (const QStringView Label : AText.split(u'.')) {
        if (Label.isEmpty() || Label.size() > 63)
            return false;
        for (qsizetype I = 0; I < Label.size(); ++I) {
            const char16_t C = Label[I].unicode();
            const bool Alnum = (C >= u'a' && C <= u'z') || (C >= u'A' && C <= u'Z') || (C >= u'0' && C <= u'9');
            const bool Inner = (C == u'-' || C == u'_') && I > 0 && I + 1 < Label.size();
            if (!Alnum && !Inner)
                return false;
        }
    }
    return true;
}
