// An outside program built against the installed package: encrypts the
// FIPS-197 C.1 block and prints the ciphertext in hexadecimal.
#include <cstdio>

#include <TvkCrypto.h>

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
    if (result != NPT_SUCCESS) {
        std::printf("%s\n", NPT_ResultText(result));
        return 1;
    }
    cipher->ProcessBlock(block, block);
    delete cipher;
    for (int i = 0; i < 16; ++i) std::printf("%02x", block[i]);
    std::printf("\n");
    return 0;
}
