// An outside program built against the installed package (static or
// shared, found with CMake or with pkg-config). It reaches the library
// only through the installed headers and exported symbols: it encrypts
// the FIPS-197 C.1 block and prints the ciphertext in hexadecimal, then
// round-trips a message through the password helper and decrypts a
// range of it with a decrypting stream, printing "round trip ok".
#include <cstdio>
#include <cstring>

#include <TvkCrypto.h>

static int
Fail(const char* step, NPT_Result result)
{
    std::printf("%s: %s\n", step, NPT_ResultText(result));
    return 1;
}

int main()
{
    NPT_UInt8 key[16], block[16];
    for (int i = 0; i < 16; ++i) {
        key[i]   = static_cast<NPT_UInt8>(i);
        block[i] = static_cast<NPT_UInt8>(i * 0x11);
    }
    NPT_BlockCipher* cipher = nullptr;
    NPT_Result result = NPT_BlockCipher::Create(NPT_BlockCipher::AES_128,
                                                NPT_BlockCipher::ENCRYPT,
                                                key, 16, cipher);
    if (result != NPT_SUCCESS) return Fail("block cipher", result);
    cipher->ProcessBlock(block, block);
    delete cipher;
    NPT_String hex = NPT_HexFromBytes(block, sizeof(block));
    std::printf("%s\n", hex.GetChars());

    // more than one 1024-byte chunk, so the key stream moves on
    static const char kLine[] = "tvkcrypto outside program. ";
    NPT_String message;
    while (message.GetLength() < 3000) message += kLine;
    NPT_DataBuffer encrypted;
    result = TVK_CryptoHelper::EncryptDecryptWithPassword(
        "outside", NPT_BlockCipher::ENCRYPT,
        reinterpret_cast<const NPT_UInt8*>(message.GetChars()), message.GetLength(), encrypted);
    if (result != NPT_SUCCESS) return Fail("encrypt", result);

    NPT_DataBuffer password_key;
    result = TVK_CryptoHelper::GenerateKey("outside", password_key);
    if (result != NPT_SUCCESS) return Fail("key", result);
    NPT_Reference<NPT_InputStream> source(
        new NPT_MemoryStream(encrypted.GetData(), encrypted.GetDataSize()));
    NPT_Reference<NPT_InputStream> decrypting;
    result = TVK_DecryptingStream::Create(source, password_key.GetData(), TVK_CryptoHelper::KEY_SIZE,
                                          &TVK_DefaultBlockCipherFactory::Instance, decrypting,
                                          nullptr, TVK_CryptoHelper::EXPANSION_FACTOR);
    if (result != NPT_SUCCESS) return Fail("decrypting stream", result);
    const NPT_Position offset = 2000;
    char range[100];
    result = decrypting->Seek(offset);
    if (result == NPT_SUCCESS) result = decrypting->ReadFully(range, sizeof(range));
    if (result != NPT_SUCCESS) return Fail("range", result);
    if (std::memcmp(range, message.GetChars() + offset, sizeof(range)) != 0) {
        std::printf("range differs\n");
        return 1;
    }
    std::printf("round trip ok\n");
    return 0;
}
