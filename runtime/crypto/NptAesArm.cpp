/*****************************************************************
| NptAesArm.cpp - AES on the ARMv8 cryptography extensions (aarch64).
|
| Only the functions here are compiled for the cryptography extension
| (per-function target attributes); the engine is offered only when the
| operating system reports the AES instructions (NPT_CpuHasArmAes).
|
| AESE adds the round key before ShiftRows and SubBytes, and AESMC is
| MixColumns on its own, so a round is AESE with round key r followed by
| AESMC, and the last round key is added with a plain XOR. Decryption is
| the equivalent inverse cipher with AESD and AESIMC over the schedule's
| second half, as in the x86 engine: encryption keys first, decryption
| keys (reversed, InvMixColumns on the inner ones) at byte 240.
|
| The key expansion is the FIPS-197 one with SubWord done by AESE: with
| the word repeated in all four columns ShiftRows moves nothing, and a
| zero round key leaves SubBytes alone.
****************************************************************/
#include "NptAesEngine.h"
#include "NptCpuFeatures.h"

#if defined(__aarch64__) && defined(__GNUC__)

#include <arm_neon.h>
#include <cstring>

#include "NptWipe.h"

#define NPT_AES_ARM_TARGET __attribute__((target("+crypto")))

namespace {

const unsigned int kDecryptionOffset = 15 * 16;
const unsigned int kLanes = 8;

NPT_AES_ARM_TARGET inline NPT_UInt32 SubWord(NPT_UInt32 word)
{
    uint8x16_t x = vreinterpretq_u8_u32(vdupq_n_u32(word));
    x = vaeseq_u8(x, vdupq_n_u8(0));
    return vgetq_lane_u32(vreinterpretq_u32_u8(x), 0);
}

class ArmEngine : public NPT_AesEngine
{
public:
    NPT_AesImplementation GetImplementation() const override { return NPT_AES_IMPL_HARDWARE_ARM; }

    NPT_AES_ARM_TARGET void ExpandKey(const NPT_UInt8* key, NPT_Size key_size,
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
        vst1q_u8(decryption, vld1q_u8(schedule + 16 * round_count));
        for (NPT_UInt32 round = 1; round < round_count; ++round) {
            vst1q_u8(decryption + 16 * round,
                     vaesimcq_u8(vld1q_u8(schedule + 16 * (round_count - round))));
        }
        vst1q_u8(decryption + 16 * round_count, vld1q_u8(schedule));
    }

    NPT_AES_ARM_TARGET void Encrypt(const NPT_UInt8* schedule, NPT_UInt32 round_count,
                                    const NPT_UInt8* input, NPT_UInt8* output,
                                    NPT_Size count) const override
    {
        const uint8x16_t before_last = vld1q_u8(schedule + 16 * (round_count - 1));
        const uint8x16_t last = vld1q_u8(schedule + 16 * round_count);
        std::size_t offset = 0;
        for (; count >= kLanes; count -= kLanes, offset += 16 * kLanes) {
            uint8x16_t b[kLanes];
            for (unsigned int j = 0; j < kLanes; ++j) b[j] = vld1q_u8(input + offset + 16 * j);
            for (NPT_UInt32 round = 0; round + 1 < round_count; ++round) {
                const uint8x16_t k = vld1q_u8(schedule + 16 * round);
                for (unsigned int j = 0; j < kLanes; ++j) b[j] = vaesmcq_u8(vaeseq_u8(b[j], k));
            }
            for (unsigned int j = 0; j < kLanes; ++j) {
                vst1q_u8(output + offset + 16 * j, veorq_u8(vaeseq_u8(b[j], before_last), last));
            }
        }
        for (; count > 0; --count, offset += 16) {
            uint8x16_t b = vld1q_u8(input + offset);
            for (NPT_UInt32 round = 0; round + 1 < round_count; ++round) {
                b = vaesmcq_u8(vaeseq_u8(b, vld1q_u8(schedule + 16 * round)));
            }
            vst1q_u8(output + offset, veorq_u8(vaeseq_u8(b, before_last), last));
        }
    }

    // The eight ciphertext blocks of a pass are loaded before any
    // plaintext is stored, so output may equal input or start before it.
    NPT_AES_ARM_TARGET void DecryptCbc(const NPT_UInt8* schedule, NPT_UInt32 round_count,
                                       NPT_UInt8* chain, const NPT_UInt8* input,
                                       NPT_UInt8* output, NPT_Size count) const override
    {
        const NPT_UInt8* keys = schedule + kDecryptionOffset;
        const uint8x16_t before_last = vld1q_u8(keys + 16 * (round_count - 1));
        const uint8x16_t last = vld1q_u8(keys + 16 * round_count);
        uint8x16_t previous = vld1q_u8(chain);
        std::size_t offset = 0;
        for (; count >= kLanes; count -= kLanes, offset += 16 * kLanes) {
            uint8x16_t c[kLanes], b[kLanes];
            for (unsigned int j = 0; j < kLanes; ++j) b[j] = c[j] = vld1q_u8(input + offset + 16 * j);
            for (NPT_UInt32 round = 0; round + 1 < round_count; ++round) {
                const uint8x16_t k = vld1q_u8(keys + 16 * round);
                for (unsigned int j = 0; j < kLanes; ++j) b[j] = vaesimcq_u8(vaesdq_u8(b[j], k));
            }
            for (unsigned int j = 0; j < kLanes; ++j) {
                const uint8x16_t plain = veorq_u8(vaesdq_u8(b[j], before_last), last);
                vst1q_u8(output + offset + 16 * j, veorq_u8(plain, j ? c[j - 1] : previous));
            }
            previous = c[kLanes - 1];
        }
        for (; count > 0; --count, offset += 16) {
            const uint8x16_t c = vld1q_u8(input + offset);
            uint8x16_t b = c;
            for (NPT_UInt32 round = 0; round + 1 < round_count; ++round) {
                b = vaesimcq_u8(vaesdq_u8(b, vld1q_u8(keys + 16 * round)));
            }
            vst1q_u8(output + offset, veorq_u8(veorq_u8(vaesdq_u8(b, before_last), last), previous));
            previous = c;
        }
        vst1q_u8(chain, previous);
    }

    NPT_AES_ARM_TARGET void Decrypt(const NPT_UInt8* schedule, NPT_UInt32 round_count,
                                    const NPT_UInt8* input, NPT_UInt8* output,
                                    NPT_Size count) const override
    {
        const NPT_UInt8* keys = schedule + kDecryptionOffset;
        const uint8x16_t before_last = vld1q_u8(keys + 16 * (round_count - 1));
        const uint8x16_t last = vld1q_u8(keys + 16 * round_count);
        std::size_t offset = 0;
        for (; count >= kLanes; count -= kLanes, offset += 16 * kLanes) {
            uint8x16_t b[kLanes];
            for (unsigned int j = 0; j < kLanes; ++j) b[j] = vld1q_u8(input + offset + 16 * j);
            for (NPT_UInt32 round = 0; round + 1 < round_count; ++round) {
                const uint8x16_t k = vld1q_u8(keys + 16 * round);
                for (unsigned int j = 0; j < kLanes; ++j) b[j] = vaesimcq_u8(vaesdq_u8(b[j], k));
            }
            for (unsigned int j = 0; j < kLanes; ++j) {
                vst1q_u8(output + offset + 16 * j, veorq_u8(vaesdq_u8(b[j], before_last), last));
            }
        }
        for (; count > 0; --count, offset += 16) {
            uint8x16_t b = vld1q_u8(input + offset);
            for (NPT_UInt32 round = 0; round + 1 < round_count; ++round) {
                b = vaesimcq_u8(vaesdq_u8(b, vld1q_u8(keys + 16 * round)));
            }
            vst1q_u8(output + offset, veorq_u8(vaesdq_u8(b, before_last), last));
        }
    }
};

} // namespace

const NPT_AesEngine* NPT_AesArmEngine()
{
    static const ArmEngine engine;
    static const bool available = NPT_CpuHasArmAes();
    return available ? &engine : nullptr;
}

#else // not aarch64

const NPT_AesEngine* NPT_AesArmEngine()
{
    return nullptr;
}

#endif
