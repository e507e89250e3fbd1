// Encrypts the FIPS-197 Appendix C.1 example block with AES-128 and
// prints the plaintext, key and ciphertext in hexadecimal.
#include <cstdio>

#include "TvkCrypto.h"

namespace {

void PrintHex(const char* label, const NPT_UInt8* bytes, unsigned int size)
{
    std::printf("%-11s", label);
    for (unsigned int i = 0; i < size; ++i) std::printf("%02x", bytes[i]);
    std::printf("\n");
}

} // namespace

int main()
{
    const NPT_UInt8 key[16] = {
        0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
        0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};
    const NPT_UInt8 plaintext[16] = {
        0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
        0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
    NPT_UInt8 ciphertext[16];

    NPT_BlockCipher* cipher = nullptr;
    NPT_Result result = NPT_BlockCipher::Create(NPT_BlockCipher::AES_128,
                                                NPT_BlockCipher::ENCRYPT,
                                                key, sizeof(key), cipher);
    if (result == NPT_SUCCESS) result = cipher->ProcessBlock(plaintext, ciphertext);
    delete cipher;
    if (result != NPT_SUCCESS) {
        std::fprintf(stderr, "aes_example: %s\n", NPT_ResultText(result));
        return 1;
    }

    PrintHex("plaintext:", plaintext, sizeof(plaintext));
    PrintHex("key:", key, sizeof(key));
    PrintHex("ciphertext:", ciphertext, sizeof(ciphertext));
    return 0;
}
