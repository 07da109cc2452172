#include "app/uCipher.h"

#include <nettle/base64.h>
#include <nettle/sha1.h>

#include <cstring>
#include <string.h>

namespace {

void Wipe(void* P, size_t N) {
    explicit_bzero(P, N);
}

} // namespace

TTwofishCipher::TTwofishCipher() {
    std::memset(&FCtx, 0, sizeof(FCtx));
    std::memset(FIV, 0, sizeof(FIV));
    std::memset(FCV, 0, sizeof(FCV));
}

TTwofishCipher::~TTwofishCipher() {
    Burn();
}

void TTwofishCipher::InitKey(const QByteArray& Key) {
    if (Key.isEmpty() || Key.size() > TWOFISH_MAX_KEY_SIZE)
        throw ECipherError(QStringLiteral("Invalid key size (%1 bytes)").arg(Key.size()), "ECipherError");
    Burn();
    // Twofish defines 128, 192 and 256-bit keys; anything shorter is padded
    // with zero bytes up to the next of them. Done here so the result does not
    // hang on how a library treats odd lengths.
    const int Padded = Key.size() <= 16 ? 16 : (Key.size() <= 24 ? 24 : 32);
    std::uint8_t Buf[TWOFISH_MAX_KEY_SIZE] = {};
    std::memcpy(Buf, Key.constData(), size_t(Key.size()));
    twofish_set_key(&FCtx, size_t(Padded), Buf);
    Wipe(Buf, sizeof(Buf));
    FInitialized = true;
    Reset();
}

void TTwofishCipher::InitStr(const QByteArray& Passphrase) {
    QByteArray Digest = Sha1Digest(Passphrase);
    InitKey(Digest);
    Wipe(Digest.data(), size_t(Digest.size()));
    const std::uint8_t Zero[BlockSize] = {};
    EncryptBlock(Zero, FIV);
    Reset();
}

void TTwofishCipher::CheckInitialized() const {
    if (!FInitialized)
        throw ECipherError(QStringLiteral("Cipher not initialized"), "ECipherError");
}

void TTwofishCipher::EncryptBlock(const std::uint8_t* In, std::uint8_t* Out) const {
    CheckInitialized();
    twofish_encrypt(&FCtx, BlockSize, Out, In);
}

void TTwofishCipher::DecryptBlock(const std::uint8_t* In, std::uint8_t* Out) const {
    CheckInitialized();
    twofish_decrypt(&FCtx, BlockSize, Out, In);
}

void TTwofishCipher::SetIV(const QByteArray& IV) {
    if (IV.size() != BlockSize)
        throw ECipherError(QStringLiteral("Invalid IV size (%1 bytes)").arg(IV.size()), "ECipherError");
    std::memcpy(FIV, IV.constData(), BlockSize);
    Reset();
}

QByteArray TTwofishCipher::IV() const {
    return QByteArray(reinterpret_cast<const char*>(FIV), BlockSize);
}

void TTwofishCipher::Reset() {
    std::memcpy(FCV, FIV, BlockSize);
}

QByteArray TTwofishCipher::EncryptCFB8bit(const QByteArray& Data) {
    CheckInitialized();
    QByteArray Result(Data.size(), Qt::Uninitialized);
    std::uint8_t Temp[BlockSize];
    for (qsizetype i = 0; i < Data.size(); ++i) {
        twofish_encrypt(&FCtx, BlockSize, Temp, FCV);
        const std::uint8_t C = std::uint8_t(Data[i]) ^ Temp[0];
        std::memmove(FCV, FCV + 1, BlockSize - 1);
        FCV[BlockSize - 1] = C;
        Result[i] = char(C);
    }
    Wipe(Temp, sizeof(Temp));
    return Result;
}

QByteArray TTwofishCipher::DecryptCFB8bit(const QByteArray& Data) {
    CheckInitialized();
    QByteArray Result(Data.size(), Qt::Uninitialized);
    std::uint8_t Temp[BlockSize];
    for (qsizetype i = 0; i < Data.size(); ++i) {
        twofish_encrypt(&FCtx, BlockSize, Temp, FCV);
        const std::uint8_t C = std::uint8_t(Data[i]);
        std::memmove(FCV, FCV + 1, BlockSize - 1);
        FCV[BlockSize - 1] = C;
        Result[i] = char(C ^ Temp[0]);
    }
    Wipe(Temp, sizeof(Temp));
    return Result;
}

void TTwofishCipher::Burn() {
    Wipe(&FCtx, sizeof(FCtx));
    Wipe(FIV, sizeof(FIV));
    Wipe(FCV, sizeof(FCV));
    FInitialized = false;
}

QByteArray Sha1Digest(const QByteArray& Data) {
    sha1_ctx Ctx;
    sha1_init(&Ctx);
    sha1_update(&Ctx, size_t(Data.size()), reinterpret_cast<const std::uint8_t*>(Data.constData()));
    QByteArray Digest(SHA1_DIGEST_SIZE, Qt::Uninitialized);
    sha1_digest(&Ctx, SHA1_DIGEST_SIZE, reinterpret_cast<std::uint8_t*>(Digest.data()));
    return Digest;
}

QByteArray Base64Encode(const QByteArray& Data) {
    QByteArray Text(qsizetype(BASE64_ENCODE_RAW_LENGTH(size_t(Data.size()))), Qt::Uninitialized);
    base64_encode_raw(Text.data(), size_t(Data.size()), reinterpret_cast<const std::uint8_t*>(Data.constData()));
    return Text;
}

QByteArray Base64Decode(const QByteArray& Text) {
    // Keep the alphabet only, so stray blanks, line breaks or damage do not
    // make the whole value unreadable; then pad to whole groups.
    QByteArray Clean;
    Clean.reserve(Text.size() + 3);
    for (char Ch : Text) {
        if ((Ch >= 'A' && Ch <= 'Z') || (Ch >= 'a' && Ch <= 'z') || (Ch >= '0' && Ch <= '9') || Ch == '+' ||
            Ch == '/')
            Clean.append(Ch);
    }
    if (Clean.size() % 4 == 1)
        Clean.chop(1);
    while (Clean.size() % 4 != 0)
        Clean.append('=');
    base64_decode_ctx Ctx;
    base64_decode_init(&Ctx);
    QByteArray Result(qsizetype(BASE64_DECODE_LENGTH(size_t(Clean.size()))) + 1, Qt::Uninitialized);
    size_t DstLength = size_t(Result.size());
    if (!base64_decode_update(&Ctx, &DstLength, reinterpret_cast<std::uint8_t*>(Result.data()),
                              size_t(Clean.size()), Clean.constData()))
        return QByteArray();
    Result.truncate(qsizetype(DstLength));
    return Result;
}
