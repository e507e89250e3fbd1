// Constant-time check of the portable AES, run under Valgrind Memcheck.
//
// The key and the data are marked undefined; Memcheck then reports every
// conditional branch and every memory address computed from them. The
// portable implementation is forced and run through key expansion, single
// blocks, batches (full and partial) in both directions, and CBC
// encryption, for all three key sizes. The program exits 0 only if
// Memcheck counted no error; it never looks at its results, since
// branching on them would itself be reported.
//
// Outside Valgrind the client requests do nothing, and the program says
// so and exits with 77 (skipped).
#include <valgrind/memcheck.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "NptAes.h"

namespace {

void Exercise(NPT_Size key_size)
{
    NPT_UInt8 key[32];
    NPT_UInt8 data[16 * 9];
    NPT_UInt8 out[16 * 9];
    NPT_UInt8 iv[16];
    for (unsigned int i = 0; i < sizeof(key); ++i) key[i] = static_cast<NPT_UInt8>(i * 31 + 7);
    for (unsigned int i = 0; i < sizeof(data); ++i) data[i] = static_cast<NPT_UInt8>(i * 13 + 1);
    std::memset(iv, 0x5c, sizeof(iv));
    VALGRIND_MAKE_MEM_UNDEFINED(key, sizeof(key));
    VALGRIND_MAKE_MEM_UNDEFINED(data, sizeof(data));
    VALGRIND_MAKE_MEM_UNDEFINED(iv, sizeof(iv));

    NPT_AesBlockEncrypter encrypter(key, key_size);
    NPT_AesBlockDecrypter decrypter(key, key_size);
    encrypter.ProcessBlock(data, out);
    encrypter.ProcessBlock(out, out);
    encrypter.ProcessBlocks(data, out, 9);  // two full batches and one block
    decrypter.ProcessBlock(data, out);
    decrypter.ProcessBlocks(data, out, 9);
    decrypter.ProcessBlocks(out, out, 6);

    NPT_DataBuffer cbc;
    encrypter.ProcessCbc(data, sizeof(data) - 5, iv, cbc);
}

} // namespace

int main()
{
    if (!RUNNING_ON_VALGRIND) {
        std::printf("SKIPPED: run this under valgrind --tool=memcheck\n");
        return 77;
    }
    if (NPT_AesSelectImplementation(NPT_AES_IMPL_PORTABLE) != NPT_SUCCESS) return 2;
    for (NPT_Size key_size : {16u, 24u, 32u}) Exercise(key_size);

    const unsigned long errors = VALGRIND_COUNT_ERRORS;
    if (errors != 0) {
        std::printf("FAILED: %lu secret-dependent branches or addresses in the portable AES\n", errors);
        return 1;
    }
    std::printf("portable AES: no branch or address depends on the key or the data\n");
    return 0;
}
