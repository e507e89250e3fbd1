/*****************************************************************
| NptAes.h - AES (FIPS-197) behind the NPT_BlockCipher interface.
|
| NPT_AesBlockCipher holds the key schedule and the round count;
| NPT_AesBlockEncrypter and NPT_AesBlockDecrypter add only the
| direction. NPT_BlockCipher::Create builds them with 16-byte keys;
| direct construction also accepts 24- and 32-byte keys (12 and 14
| rounds).
|
| No implementation looks up tables at positions that depend on the key
| or the data, so the cache reveals neither. Three implementations give
| the same results: the x86 AES instructions, the ARMv8 cryptography
| extensions, and a portable bitsliced one used where neither exists.
| The best one this processor offers is found once per process (thread-
| safe); each cipher object takes the one selected when it is
| constructed and keeps it for its life. NPT_AesSelectImplementation lets
| tests and benchmarks force one; the library reads no environment.
|
| Objects are immutable after construction, so several threads may call
| ProcessBlock and ProcessBlocks on one object at once. The key schedule
| is key material and is wiped when the object is destroyed. Copying is
| disabled so that key material is never duplicated behind the owner's
| back.
****************************************************************/
#ifndef NPT_AES_H
#define NPT_AES_H

#include <cstddef>
#include <new>

#include "NptBlockCipher.h"

enum NPT_AesImplementation : NPT_Int32 {
    NPT_AES_IMPL_AUTO         = 0, // the fastest this processor supports
    NPT_AES_IMPL_HARDWARE_X86 = 1, // AES-NI (32- and 64-bit x86)
    NPT_AES_IMPL_HARDWARE_ARM = 2, // ARMv8 cryptography extensions
    NPT_AES_IMPL_PORTABLE     = 3  // bitsliced, constant time, any processor
};

// Makes ciphers constructed from now on use the given implementation
// (AUTO: the best available, as at start-up). Objects that already
// exist keep theirs. Affects the whole process; meant for tests and
// benchmarks.
//   implementation this build or processor cannot run  NPT_ERROR_NOT_SUPPORTED
//   value outside the enumeration                       NPT_ERROR_INVALID_PARAMETERS
// On failure the selection is unchanged.
NPT_EXPORT NPT_Result NPT_AesSelectImplementation(NPT_AesImplementation implementation);
// The implementation ciphers constructed now get (never AUTO).
NPT_EXPORT NPT_AesImplementation NPT_AesGetImplementation();
// Whether this build on this processor can run the implementation
// (AUTO and PORTABLE always can).
NPT_EXPORT bool NPT_AesIsImplementationSupported(NPT_AesImplementation implementation);
// A short lower-case name ("x86-aesni", "armv8-ce", "portable", "auto"),
// or "unknown".
NPT_EXPORT const char* NPT_AesImplementationName(NPT_AesImplementation implementation);

class NPT_AesEngine;

class NPT_EXPORT NPT_AesBlockCipher : public NPT_BlockCipher
{
public:
    // Bytes of round keys kept, enough for every implementation: the
    // portable one stores 15 round keys as 8 bit planes of 64 bits.
    static const unsigned int SCHEDULE_SIZE = 15 * 8 * 8;

    ~NPT_AesBlockCipher() override;
    NPT_AesBlockCipher(const NPT_AesBlockCipher&) = delete;

    // The x86 engine reads an aligned schedule straight from memory. GCC
    // for 32-bit Windows takes plain new to align to 16 bytes, which the
    // C runtime's heap does only to 8, so the objects ask for it.
    static void* operator new(std::size_t size) { return ::operator new(size, std::align_val_t(16)); }
    static void operator delete(void* memory) { ::operator delete(memory, std::align_val_t(16)); }
    NPT_AesBlockCipher& operator=(const NPT_AesBlockCipher&) = delete;

    NPT_Size   GetBlockSize() override { return 16; }
    Algorithm  GetAlgorithm() override { return AES_128; }
    // Never reached through Create, which builds only the two concrete
    // classes: returns NPT_ERROR_INTERNAL.
    NPT_Result ProcessBlock(const NPT_UInt8* input, NPT_UInt8* output) override;

    NPT_UInt32 GetRoundCount() const { return m_RoundCount; }
    // The implementation this object runs on (never AUTO).
    NPT_AesImplementation GetImplementation() const;

protected:
    // key_size must be 16, 24 or 32 bytes. A null key or any other size
    // builds no schedule: the round count is 0 and ProcessBlock and
    // ProcessBlocks of the concrete classes then return
    // NPT_ERROR_INVALID_PARAMETERS without writing anything.
    NPT_AesBlockCipher(const NPT_UInt8* key, NPT_Size key_size);

    // Checks shared by both directions: a schedule exists, and the
    // pointers are set whenever count blocks are due.
    bool CanProcess(const NPT_UInt8* input, const NPT_UInt8* output, NPT_Size count) const
    {
        return m_RoundCount != 0 && (count == 0 || (input != nullptr && output != nullptr));
    }

    const NPT_AesEngine* m_Engine;
    NPT_UInt32           m_RoundCount;
    alignas(16) NPT_UInt8 m_Schedule[SCHEDULE_SIZE]; // engine-specific round keys
};

class NPT_EXPORT NPT_AesBlockEncrypter : public NPT_AesBlockCipher
{
public:
    NPT_AesBlockEncrypter(const NPT_UInt8* key, NPT_Size key_size)
        : NPT_AesBlockCipher(key, key_size) {}

    Direction  GetDirection() override { return ENCRYPT; }
    // FIPS-197 cipher on one block; input may equal output. Never fails
    // for an object built with a valid key; a null input or output
    // gives NPT_ERROR_INVALID_PARAMETERS.
    NPT_Result ProcessBlock(const NPT_UInt8* input, NPT_UInt8* output) override;
    // count blocks at once (pipelined on the hardware paths); the same
    // checks as ProcessBlock, and count 0 succeeds with nothing written.
    NPT_Result ProcessBlocks(const NPT_UInt8* input, NPT_UInt8* output, NPT_Size count) override;

protected:
    // CBC chaining inside the engine, with the round keys kept loaded.
    NPT_Result EncryptCbcBlocks(NPT_UInt8*       chain,
                                const NPT_UInt8* input,
                                NPT_UInt8*       output,
                                NPT_Size         count) override;
};

class NPT_EXPORT NPT_AesBlockDecrypter : public NPT_AesBlockCipher
{
public:
    NPT_AesBlockDecrypter(const NPT_UInt8* key, NPT_Size key_size)
        : NPT_AesBlockCipher(key, key_size) {}

    Direction  GetDirection() override { return DECRYPT; }
    // FIPS-197 inverse cipher on one block; input may equal output.
    // Never fails for an object built with a valid key; a null input or
    // output gives NPT_ERROR_INVALID_PARAMETERS.
    NPT_Result ProcessBlock(const NPT_UInt8* input, NPT_UInt8* output) override;
    NPT_Result ProcessBlocks(const NPT_UInt8* input, NPT_UInt8* output, NPT_Size count) override;

protected:
    // CBC chaining inside the engine, several blocks in flight, when the
    // output starts at or before the input (ProcessCbc's cases); any
    // other overlap goes through the base class's copying path.
    NPT_Result DecryptCbcBlocks(NPT_UInt8*       chain,
                                const NPT_UInt8* input,
                                NPT_UInt8*       output,
                                NPT_Size         count) override;
};

#endif // NPT_AES_H
