// The library's file form as one command, for the scripts to time next
// to `openssl enc` on the same file:
//   tvk_file_form encrypt|decrypt INPUT OUTPUT
// The password is TVK_PASSWORD from the environment. Exit status 0 on
// success, 1 with the result code on failure, 2 on a usage error.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "NptResults.h"
#include "TvkCryptoHelper.h"

int main(int argc, char** argv)
{
    const char* password = std::getenv("TVK_PASSWORD");
    if (argc != 4 || password == nullptr ||
        (std::strcmp(argv[1], "encrypt") != 0 && std::strcmp(argv[1], "decrypt") != 0)) {
        std::fprintf(stderr, "usage: TVK_PASSWORD=... tvk_file_form encrypt|decrypt INPUT OUTPUT\n");
        return 2;
    }
    NPT_BlockCipher::Direction direction = std::strcmp(argv[1], "encrypt") == 0
                                               ? NPT_BlockCipher::ENCRYPT
                                               : NPT_BlockCipher::DECRYPT;
    NPT_Result result = TVK_CryptoHelper::EncryptDecryptWithPassword(password, direction, argv[2], argv[3]);
    if (result != NPT_SUCCESS) {
        std::fprintf(stderr, "tvk_file_form: failed with result %d\n", static_cast<int>(result));
        return 1;
    }
    return 0;
}
