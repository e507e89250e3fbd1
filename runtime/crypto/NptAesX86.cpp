/*****************************************************************
| NptAesX86.cpp - AES on the x86 AES instructions (AES-NI), for 32-bit
| and 64-bit builds.
|
| Only the functions here are compiled for the AES instruction set (per
| function target attributes); the rest of the library stays on the
| baseline instruction set, and the engine is offered only when the
| processor reports the instructions.
|
| Schedule layout: the encryption round keys (round count + 1 blocks of
| 16 bytes, in the byte order of the key) followed, at byte 240, by the
| decryption round keys of the equivalent inverse cipher (the encryption
| keys in reverse order, InvMixColumns applied to all but the outer two).
| The key expansion is the FIPS-197 one, with SubWord computed by the
| AESKEYGENASSIST instruction, so it also looks up no table.
|
| Several blocks are kept in flight at once (8 per pass, and the blocks
| left over in one narrower pass when encrypting): the AES instructions
| have a latency of several cycles but accept a new block every cycle or
| two. 32-bit builds encrypt with the round keys as memory operands, so
| that all eight of their vector registers hold blocks.
****************************************************************/
#include "NptAesEngine.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))

#include <cstdint>
#include <cstring>
#include <wmmintrin.h>
#include <emmintrin.h>

#include "NptWipe.h"

#define NPT_AES_X86_TARGET __attribute__((target("aes,sse2")))
// the lanes must stay in registers: unroll the loops over them
#define NPT_AES_UNROLL _Pragma("GCC unroll 8")

namespace {

const unsigned int kDecryptionOffset = 15 * 16;
const unsigned int kLanes = 8;

// SubWord of one key word (four bytes in memory order, little-endian):
// AESKEYGENASSIST puts SubWord of the input's second word into the
// result's first word, so the word is broadcast first.
NPT_AES_X86_TARGET inline NPT_UInt32 SubWord(NPT_UInt32 word)
{
    __m128i x = _mm_set1_epi32(static_cast<int>(word));
    return static_cast<NPT_UInt32>(_mm_cvtsi128_si32(_mm_aeskeygenassist_si128(x, 0)));
}

NPT_AES_X86_TARGET inline __m128i Load(const NPT_UInt8* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

NPT_AES_X86_TARGET inline void Store(NPT_UInt8* p, __m128i x)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), x);
}

// A round key for one instruction. From memory, each use is a fresh
// aligned load (the empty asm hides that it reads the same bytes as the
// one before), which the compiler folds into the AES instruction's memory
// operand instead of holding the key in a register: 32-bit x86 has eight
// vector registers in all, and eight blocks beside a round key would send
// one block to the stack and back in every round.
template <bool FromMemory>
NPT_AES_X86_TARGET inline __m128i RoundKey(const NPT_UInt8* key)
{
    if (!FromMemory) return Load(key);
    __asm__("" : "+r"(key));
    return _mm_load_si128(reinterpret_cast<const __m128i*>(key));
}

// Lanes independent blocks through all rounds at once.
template <unsigned int Lanes, bool KeysFromMemory>
NPT_AES_X86_TARGET inline void EncryptPass(const NPT_UInt8* schedule, NPT_UInt32 round_count,
                                           const NPT_UInt8* input, NPT_UInt8* output)
{
    __m128i b[Lanes];
    NPT_AES_UNROLL
    for (unsigned int j = 0; j < Lanes; ++j) {
        b[j] = _mm_xor_si128(Load(input + 16 * j), RoundKey<KeysFromMemory>(schedule));
    }
    for (NPT_UInt32 round = 1; round < round_count; ++round) {
        const NPT_UInt8* key = schedule + 16 * round;
        NPT_AES_UNROLL
        for (unsigned int j = 0; j < Lanes; ++j) b[j] = _mm_aesenc_si128(b[j], RoundKey<KeysFromMemory>(key));
    }
    const NPT_UInt8* last = schedule + 16 * round_count;
    NPT_AES_UNROLL
    for (unsigned int j = 0; j < Lanes; ++j) {
        Store(output + 16 * j, _mm_aesenclast_si128(b[j], RoundKey<KeysFromMemory>(last)));
    }
}

// Passes of Lanes blocks, then the rest in one narrower pass: a batch of
// 16 blocks takes two passes of eight, or three passes of 7, 7 and 2,
// never the latency of its leftover blocks one after the other.
template <unsigned int Lanes, bool KeysFromMemory>
NPT_AES_X86_TARGET void EncryptBlocks(const NPT_UInt8* schedule, NPT_UInt32 round_count,
                                      const NPT_UInt8* input, NPT_UInt8* output, NPT_Size count)
{
    for (; count >= Lanes; count -= Lanes, input += 16 * Lanes, output += 16 * Lanes) {
        EncryptPass<Lanes, KeysFromMemory>(schedule, round_count, input, output);
    }
    switch (count) {
        case 0: break;
        case 1: EncryptPass<1, KeysFromMemory>(schedule, round_count, input, output); break;
        case 2: EncryptPass<2, KeysFromMemory>(schedule, round_count, input, output); break;
        case 3: EncryptPass<3, KeysFromMemory>(schedule, round_count, input, output); break;
        case 4: EncryptPass<4, KeysFromMemory>(schedule, round_count, input, output); break;
        case 5: EncryptPass<5, KeysFromMemory>(schedule, round_count, input, output); break;
        case 6: EncryptPass<6, KeysFromMemory>(schedule, round_count, input, output); break;
        default: EncryptPass<7, KeysFromMemory>(schedule, round_count, input, output); break;
    }
}

// CBC encryption is one long dependency chain; with the round count
// known at compile time all round keys stay in registers across blocks.
template <unsigned int Rounds>
NPT_AES_X86_TARGET void EncryptCbcWith(const NPT_UInt8* schedule, NPT_UInt8* chain,
                                       const NPT_UInt8* input, NPT_UInt8* output,
                                       NPT_Size count)
{
    __m128i k[Rounds + 1];
    _Pragma("GCC unroll 15")
    for (unsigned int round = 0; round <= Rounds; ++round) k[round] = Load(schedule + 16 * round);
    __m128i state = Load(chain);
    for (std::size_t offset = 0; count > 0; --count, offset += 16) {
        state = _mm_xor_si128(state, _mm_xor_si128(Load(input + offset), k[0]));
        _Pragma("GCC unroll 15")
        for (unsigned int round = 1; round < Rounds; ++round) state = _mm_aesenc_si128(state, k[round]);
        state = _mm_aesenclast_si128(state, k[Rounds]);
        Store(output + offset, state);
    }
    Store(chain, state);
}

class X86Engine : public NPT_AesEngine
{
public:
    NPT_AesImplementation GetImplementation() const override { return NPT_AES_IMPL_HARDWARE_X86; }

    NPT_AES_X86_TARGET void ExpandKey(const NPT_UInt8* key, NPT_Size key_size,
                                      NPT_UInt32 round_count, NPT_UInt8* schedule) const override
    {
        // words in memory order: byte 0 of a word is its least significant
        NPT_UInt32 w[60];
        const unsigned int key_words = key_size / 4;
        const unsigned int total_words = 4 * (round_count + 1);
        std::memcpy(w, key, key_size);
        NPT_UInt32 round_constant = 1;
        for (unsigned int i = key_words; i < total_words; ++i) {
            NPT_UInt32 temp = w[i - 1];
            if (i % key_words == 0) {
                // RotWord moves byte 1 to byte 0: a right rotation here
                temp = SubWord((temp >> 8) | (temp << 24)) ^ round_constant;
                round_constant = (round_constant << 1) ^ ((round_constant >> 7) * 0x11b);
            } else if (key_words > 6 && i % key_words == 4) {
                temp = SubWord(temp);
            }
            w[i] = w[i - key_words] ^ temp;
        }
        std::memcpy(schedule, w, 4 * total_words);
        NPT_WipeMemory(w, sizeof(w));

        NPT_UInt8* decryption = schedule + kDecryptionOffset;
        Store(decryption, Load(schedule + 16 * round_count));
        for (NPT_UInt32 round = 1; round < round_count; ++round) {
            Store(decryption + 16 * round,
                  _mm_aesimc_si128(Load(schedule + 16 * (round_count - round))));
        }
        Store(decryption + 16 * round_count, Load(schedule));
    }

    NPT_AES_X86_TARGET void Encrypt(const NPT_UInt8* schedule, NPT_UInt32 round_count,
                                    const NPT_UInt8* input, NPT_UInt8* output,
                                    NPT_Size count) const override
    {
#if defined(__i386__)
        // the memory operands of the legacy encoding must be aligned; the
        // cipher's schedule is, and anything else takes the register form
        if ((reinterpret_cast<std::uintptr_t>(schedule) & 15) == 0) {
            EncryptBlocks<kLanes, true>(schedule, round_count, input, output, count);
        } else {
            EncryptBlocks<kLanes - 1, false>(schedule, round_count, input, output, count);
        }
#else
        EncryptBlocks<kLanes, false>(schedule, round_count, input, output, count);
#endif
    }

    NPT_AES_X86_TARGET void EncryptCbc(const NPT_UInt8* schedule, NPT_UInt32 round_count,
                                       NPT_UInt8* chain, const NPT_UInt8* input,
                                       NPT_UInt8* output, NPT_Size count) const override
    {
        switch (round_count) {
            case 10: EncryptCbcWith<10>(schedule, chain, input, output, count); break;
            case 12: EncryptCbcWith<12>(schedule, chain, input, output, count); break;
            default: EncryptCbcWith<14>(schedule, chain, input, output, count); break;
        }
    }

    // The eight ciphertext blocks of a pass are loaded before any
    // plaintext is stored, so output may equal input or start before it.
    NPT_AES_X86_TARGET void DecryptCbc(const NPT_UInt8* schedule, NPT_UInt32 round_count,
                                       NPT_UInt8* chain, const NPT_UInt8* input,
                                       NPT_UInt8* output, NPT_Size count) const override
    {
        const NPT_UInt8* keys = schedule + kDecryptionOffset;
        const __m128i first = Load(keys);
        const __m128i last = Load(keys + 16 * round_count);
        __m128i previous = Load(chain);
        std::size_t offset = 0;
        for (; count >= kLanes; count -= kLanes, offset += 16 * kLanes) {
            __m128i c[kLanes], b[kLanes];
            NPT_AES_UNROLL
            for (unsigned int j = 0; j < kLanes; ++j) {
                c[j] = Load(input + offset + 16 * j);
                b[j] = _mm_xor_si128(c[j], first);
            }
            for (NPT_UInt32 round = 1; round < round_count; ++round) {
                const __m128i k = Load(keys + 16 * round);
                NPT_AES_UNROLL
                for (unsigned int j = 0; j < kLanes; ++j) b[j] = _mm_aesdec_si128(b[j], k);
            }
            NPT_AES_UNROLL
            for (unsigned int j = 0; j < kLanes; ++j) {
                Store(output + offset + 16 * j,
                      _mm_xor_si128(_mm_aesdeclast_si128(b[j], last), j ? c[j - 1] : previous));
            }
            previous = c[kLanes - 1];
        }
        for (; count > 0; --count, offset += 16) {
            const __m128i c = Load(input + offset);
            __m128i b = _mm_xor_si128(c, first);
            for (NPT_UInt32 round = 1; round < round_count; ++round) {
                b = _mm_aesdec_si128(b, Load(keys + 16 * round));
            }
            Store(output + offset, _mm_xor_si128(_mm_aesdeclast_si128(b, last), previous));
            previous = c;
        }
        Store(chain, previous);
    }

    NPT_AES_X86_TARGET void Decrypt(const NPT_UInt8* schedule, NPT_UInt32 round_count,
                                    const NPT_UInt8* input, NPT_UInt8* output,
                                    NPT_Size count) const override
    {
        const NPT_UInt8* keys = schedule + kDecryptionOffset;
        const __m128i first = Load(keys);
        const __m128i last = Load(keys + 16 * round_count);
        std::size_t offset = 0;
        for (; count >= kLanes; count -= kLanes, offset += 16 * kLanes) {
            __m128i b[kLanes];
            NPT_AES_UNROLL
            for (unsigned int j = 0; j < kLanes; ++j) {
                b[j] = _mm_xor_si128(Load(input + offset + 16 * j), first);
            }
            for (NPT_UInt32 round = 1; round < round_count; ++round) {
                const __m128i k = Load(keys + 16 * round);
                NPT_AES_UNROLL
                for (unsigned int j = 0; j < kLanes; ++j) b[j] = _mm_aesdec_si128(b[j], k);
            }
            NPT_AES_UNROLL
            for (unsigned int j = 0; j < kLanes; ++j) {
                Store(output + offset + 16 * j, _mm_aesdeclast_si128(b[j], last));
            }
        }
        for (; count > 0; --count, offset += 16) {
            __m128i b = _mm_xor_si128(Load(input + offset), first);
            for (NPT_UInt32 round = 1; round < round_count; ++round) {
                b = _mm_aesdec_si128(b, Load(keys + 16 * round));
            }
            Store(output + offset, _mm_aesdeclast_si128(b, last));
        }
    }
};

bool ProcessorHasAesNi()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2") && __builtin_cpu_supports("aes");
}

} // namespace

const NPT_AesEngine* NPT_AesX86Engine()
{
    static const X86Engine engine;
    static const bool available = ProcessorHasAesNi();
    return available ? &engine : nullptr;
}

#else // not x86

const NPT_AesEngine* NPT_AesX86Engine()
{
    return nullptr;
}

#endif
