#pragma once

#include "containers/uException.h"

#include <QByteArray>
#include <nettle/twofish.h>

#include <cstdint>

VT_DECLARE_EXCEPTION(ECipherError, Exception)

// Twofish in 8-bit cipher feedback, the way single settings values are
// enciphered. The key comes either raw (InitKey) or from a passphrase
// (InitStr: its SHA-1 digest is the key and the encryption of a zero block
// is the initial vector). The feedback register is reset to the initial
// vector with Reset; the key material is wiped by Burn and on destruction.
class TTwofishCipher {
public:
    static constexpr int BlockSize = TWOFISH_BLOCK_SIZE;

    TTwofishCipher();
    ~TTwofishCipher();

    TTwofishCipher(const TTwofishCipher&) = delete;
    TTwofishCipher& operator=(const TTwofishCipher&) = delete;

    // Key of 1 to 32 bytes; shorter keys are padded with zero bytes to the
    // next of 128, 192 or 256 bits. The initial vector becomes all zeros.
    void InitKey(const QByteArray& Key);
    // Key := SHA-1 of the passphrase's bytes (160 bits); IV := E(zero block).
    void InitStr(const QByteArray& Passphrase);
    bool Initialized() const { return FInitialized; }

    // The raw block function, one 16-byte block.
    void EncryptBlock(const std::uint8_t* In, std::uint8_t* Out) const;
    void DecryptBlock(const std::uint8_t* In, std::uint8_t* Out) const;

    void SetIV(const QByteArray& IV);
    QByteArray IV() const;
    // Feedback register := initial vector.
    void Reset();

    // CFB-8 over the data, continuing from the current register.
    QByteArray EncryptCFB8bit(const QByteArray& Data);
    QByteArray DecryptCFB8bit(const QByteArray& Data);

    // Wipes key schedule, initial vector and register.
    void Burn();

private:
    void CheckInitialized() const;

    twofish_ctx FCtx;
    std::uint8_t FIV[BlockSize];
    std::uint8_t FCV[BlockSize];
    bool FInitialized = false;
};

// SHA-1 digest (20 bytes).
QByteArray Sha1Digest(const QByteArray& Data);
// Standard Base64 ("+", "/", "=" padding, no line breaks).
QByteArray Base64Encode(const QByteArray& Data);
// Lenient decoding: characters outside the alphabet and padding are skipped;
// a dangling last character is dropped. Never fails.
QByteArray Base64Decode(const QByteArray& Text);
