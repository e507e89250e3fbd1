/*****************************************************************
| NptAes.cpp - the AES block cipher classes and the choice of the
| implementation they run on.
|
| The best engine is detected once, on first use (a function-local
| static, so concurrent first calls are safe). A forced choice is kept in
| an atomic so that tests can switch while other threads build ciphers.
****************************************************************/
#include "NptAes.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "NptAesEngine.h"
#include "NptWipe.h"

namespace {

const NPT_AesEngine* DetectBestEngine()
{
    if (const NPT_AesEngine* x86 = NPT_AesX86Engine()) return x86;
    if (const NPT_AesEngine* arm = NPT_AesArmEngine()) return arm;
    return &NPT_AesPortableEngine();
}

const NPT_AesEngine* BestEngine()
{
    static const NPT_AesEngine* const best = DetectBestEngine();
    return best;
}

// null: no choice forced, use the best
std::atomic<const NPT_AesEngine*> g_ForcedEngine{nullptr};

const NPT_AesEngine* EngineFor(NPT_AesImplementation implementation)
{
    switch (implementation) {
        case NPT_AES_IMPL_AUTO:         return BestEngine();
        case NPT_AES_IMPL_HARDWARE_X86: return NPT_AesX86Engine();
        case NPT_AES_IMPL_HARDWARE_ARM: return NPT_AesArmEngine();
        case NPT_AES_IMPL_PORTABLE:     return &NPT_AesPortableEngine();
    }
    return nullptr;
}

const NPT_AesEngine* CurrentEngine()
{
    const NPT_AesEngine* forced = g_ForcedEngine.load(std::memory_order_acquire);
    return forced ? forced : BestEngine();
}

} // namespace

/*----------------------------------------------------------------------
|   NPT_AesEngine
+---------------------------------------------------------------------*/
void NPT_AesEngine::EncryptCbc(const NPT_UInt8* schedule,
                               NPT_UInt32       round_count,
                               NPT_UInt8*       chain,
                               const NPT_UInt8* input,
                               NPT_UInt8*       output,
                               NPT_Size         count) const
{
    for (std::size_t offset = 0; count > 0; --count, offset += 16) {
        for (unsigned int i = 0; i < 16; ++i) chain[i] ^= input[offset + i];
        Encrypt(schedule, round_count, chain, output + offset, 1);
        std::memcpy(chain, output + offset, 16);
    }
}

void NPT_AesEngine::DecryptCbc(const NPT_UInt8* schedule,
                               NPT_UInt32       round_count,
                               NPT_UInt8*       chain,
                               const NPT_UInt8* input,
                               NPT_UInt8*       output,
                               NPT_Size         count) const
{
    NPT_UInt8 saved[8 * 16];
    for (std::size_t offset = 0; count > 0;) {
        const NPT_Size blocks = count < 8 ? count : 8;
        std::memcpy(saved, input + offset, 16 * blocks);
        Decrypt(schedule, round_count, saved, output + offset, blocks);
        for (NPT_Size b = 0; b < blocks; ++b) {
            const NPT_UInt8* previous = b == 0 ? chain : saved + 16 * (b - 1);
            for (unsigned int i = 0; i < 16; ++i) output[offset + 16 * b + i] ^= previous[i];
        }
        std::memcpy(chain, saved + 16 * (blocks - 1), 16);
        offset += 16 * blocks;
        count -= blocks;
    }
}

/*----------------------------------------------------------------------
|   implementation choice
+---------------------------------------------------------------------*/
NPT_Result NPT_AesSelectImplementation(NPT_AesImplementation implementation)
{
    if (implementation < NPT_AES_IMPL_AUTO || implementation > NPT_AES_IMPL_PORTABLE) {
        return NPT_ERROR_INVALID_PARAMETERS;
    }
    const NPT_AesEngine* engine = EngineFor(implementation);
    if (engine == nullptr) return NPT_ERROR_NOT_SUPPORTED;
    g_ForcedEngine.store(implementation == NPT_AES_IMPL_AUTO ? nullptr : engine,
                         std::memory_order_release);
    return NPT_SUCCESS;
}

NPT_AesImplementation NPT_AesGetImplementation()
{
    return CurrentEngine()->GetImplementation();
}

bool NPT_AesIsImplementationSupported(NPT_AesImplementation implementation)
{
    if (implementation < NPT_AES_IMPL_AUTO || implementation > NPT_AES_IMPL_PORTABLE) return false;
    return EngineFor(implementation) != nullptr;
}

const char* NPT_AesImplementationName(NPT_AesImplementation implementation)
{
    switch (implementation) {
        case NPT_AES_IMPL_AUTO:         return "auto";
        case NPT_AES_IMPL_HARDWARE_X86: return "x86-aesni";
        case NPT_AES_IMPL_HARDWARE_ARM: return "armv8-ce";
        case NPT_AES_IMPL_PORTABLE:     return "portable";
    }
    return "unknown";
}

/*----------------------------------------------------------------------
|   NPT_AesBlockCipher
+---------------------------------------------------------------------*/
NPT_AesBlockCipher::NPT_AesBlockCipher(const NPT_UInt8* key, NPT_Size key_size)
    : m_Engine(CurrentEngine()), m_RoundCount(0), m_Schedule()
{
    if (key == nullptr || (key_size != 16 && key_size != 24 && key_size != 32)) {
        return; // no schedule: ProcessBlock refuses to run
    }
    m_RoundCount = (key_size / 8) * 2 + 6;
    m_Engine->ExpandKey(key, key_size, m_RoundCount, m_Schedule);
}

NPT_AesBlockCipher::~NPT_AesBlockCipher()
{
    NPT_WipeMemory(m_Schedule, sizeof(m_Schedule));
}

NPT_AesImplementation NPT_AesBlockCipher::GetImplementation() const
{
    return m_Engine->GetImplementation();
}

NPT_Result NPT_AesBlockCipher::ProcessBlock(const NPT_UInt8*, NPT_UInt8*)
{
    return NPT_ERROR_INTERNAL;
}

/*----------------------------------------------------------------------
|   NPT_AesBlockEncrypter and NPT_AesBlockDecrypter
+---------------------------------------------------------------------*/
NPT_Result NPT_AesBlockEncrypter::ProcessBlock(const NPT_UInt8* input, NPT_UInt8* output)
{
    if (!CanProcess(input, output, 1)) return NPT_ERROR_INVALID_PARAMETERS;
    m_Engine->Encrypt(m_Schedule, m_RoundCount, input, output, 1);
    return NPT_SUCCESS;
}

NPT_Result NPT_AesBlockEncrypter::ProcessBlocks(const NPT_UInt8* input, NPT_UInt8* output, NPT_Size count)
{
    if (!CanProcess(input, output, count)) return NPT_ERROR_INVALID_PARAMETERS;
    if (count) m_Engine->Encrypt(m_Schedule, m_RoundCount, input, output, count);
    return NPT_SUCCESS;
}

NPT_Result NPT_AesBlockEncrypter::EncryptCbcBlocks(NPT_UInt8*       chain,
                                                   const NPT_UInt8* input,
                                                   NPT_UInt8*       output,
                                                   NPT_Size         count)
{
    if (!CanProcess(input, output, count) || chain == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    if (count) m_Engine->EncryptCbc(m_Schedule, m_RoundCount, chain, input, output, count);
    return NPT_SUCCESS;
}

NPT_Result NPT_AesBlockDecrypter::DecryptCbcBlocks(NPT_UInt8*       chain,
                                                   const NPT_UInt8* input,
                                                   NPT_UInt8*       output,
                                                   NPT_Size         count)
{
    if (!CanProcess(input, output, count) || chain == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    const std::uintptr_t in = reinterpret_cast<std::uintptr_t>(input);
    const std::uintptr_t out = reinterpret_cast<std::uintptr_t>(output);
    if (out > in && out < in + std::uintptr_t(count) * 16) {
        return NPT_BlockCipher::DecryptCbcBlocks(chain, input, output, count);
    }
    if (count) m_Engine->DecryptCbc(m_Schedule, m_RoundCount, chain, input, output, count);
    return NPT_SUCCESS;
}

NPT_Result NPT_AesBlockDecrypter::ProcessBlock(const NPT_UInt8* input, NPT_UInt8* output)
{
    if (!CanProcess(input, output, 1)) return NPT_ERROR_INVALID_PARAMETERS;
    m_Engine->Decrypt(m_Schedule, m_RoundCount, input, output, 1);
    return NPT_SUCCESS;
}

NPT_Result NPT_AesBlockDecrypter::ProcessBlocks(const NPT_UInt8* input, NPT_UInt8* output, NPT_Size count)
{
    if (!CanProcess(input, output, count)) return NPT_ERROR_INVALID_PARAMETERS;
    if (count) m_Engine->Decrypt(m_Schedule, m_RoundCount, input, output, count);
    return NPT_SUCCESS;
}
