/*****************************************************************
| TvkCheckFileKeys.cpp - check-file keys derived once, and their cache.
****************************************************************/
#include "TvkCheckFileKeys.h"

#include <algorithm>
#include <cstring>

#include "NptHmacSha256Key.h"
#include "NptPbkdf2.h"
#include "NptWipe.h"

namespace {

const char kVerifierLabel[] = "tvkcheck verifier";
const char kBlockLabel[] = "tvkcheck block";
const char kSummaryLabel[] = "tvkcheck summary";

void
MacOfLabel(const NPT_UInt8* key, const char* label, NPT_UInt8* out)
{
    NPT_HmacSha256Key(key, TVK_CheckFileKeys::KEY_SIZE)
        .Mac(nullptr, 0, reinterpret_cast<const NPT_UInt8*>(label), static_cast<NPT_Size>(std::strlen(label)), out);
}

}  // namespace

/*----------------------------------------------------------------------
|   TVK_CheckFileKeys
+---------------------------------------------------------------------*/
TVK_CheckFileKeys::TVK_CheckFileKeys() : m_Derived(false), m_Iterations(0), m_Salt(), m_Keys() {}

TVK_CheckFileKeys::~TVK_CheckFileKeys()
{
    NPT_WipeMemory(m_Keys, sizeof(m_Keys));
}

NPT_Result
TVK_CheckFileKeys::Derive(const NPT_UInt8* password, NPT_Size password_size, const NPT_UInt8* salt,
                          NPT_Size salt_size, NPT_UInt32 iterations)
{
    if (m_Derived) return NPT_ERROR_INVALID_STATE;
    if ((password == nullptr && password_size != 0) || salt == nullptr || salt_size != TVK_CheckFile::SALT_SIZE ||
        iterations == 0 || iterations > TVK_CheckFile::MAX_ITERATIONS) {
        return NPT_ERROR_INVALID_PARAMETERS;
    }
    NPT_UInt8 master[KEY_SIZE];
    NPT_Result result =
        NPT_DeriveKeyPbkdf2Sha256(password, password_size, salt, salt_size, iterations, master, KEY_SIZE);
    if (NPT_SUCCEEDED(result)) {
        MacOfLabel(master, kVerifierLabel, m_Keys);
        MacOfLabel(master, kBlockLabel, m_Keys + KEY_SIZE);
        MacOfLabel(master, kSummaryLabel, m_Keys + 2 * KEY_SIZE);
        std::memcpy(m_Salt, salt, sizeof(m_Salt));
        m_Iterations = iterations;
        m_Derived = true;
    }
    NPT_WipeMemory(master, sizeof(master));
    return result;
}

bool
TVK_CheckFileKeys::Fit(const NPT_UInt8* salt, NPT_UInt32 iterations) const
{
    return m_Derived && salt != nullptr && iterations == m_Iterations &&
           std::memcmp(salt, m_Salt, sizeof(m_Salt)) == 0;
}

/*----------------------------------------------------------------------
|   TVK_CheckFileKeyCache
+---------------------------------------------------------------------*/
NPT_Result
TVK_CheckFileKeyCache::Find(const NPT_UInt8* password, NPT_Size password_size, const NPT_UInt8* salt,
                            NPT_UInt32 iterations, std::shared_ptr<const TVK_CheckFileKeys>& keys)
{
    keys.reset();
    if (salt == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    Id id(salt, salt + TVK_CheckFile::SALT_SIZE);
    for (int shift = 24; shift >= 0; shift -= 8) id.push_back(static_cast<NPT_UInt8>(iterations >> shift));
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        std::shared_ptr<Entry>& slot = m_Entries[id];
        if (!slot) {
            slot = std::make_shared<Entry>();
            m_Order.push_back(id);
            if (m_Order.size() > MAX_ENTRIES) {
                m_Entries.erase(m_Order.front());
                m_Order.erase(m_Order.begin());
            }
        }
        entry = slot;
    }
    // one derivation per salt: the others wait for it
    std::lock_guard<std::mutex> lock(entry->lock);
    if (!entry->keys) {
        std::shared_ptr<TVK_CheckFileKeys> derived = std::make_shared<TVK_CheckFileKeys>();
        NPT_CHECK(derived->Derive(password, password_size, salt, TVK_CheckFile::SALT_SIZE, iterations));
        entry->keys = derived;
        std::lock_guard<std::mutex> count_lock(m_Lock);
        ++m_Derivations;
    }
    keys = entry->keys;
    return NPT_SUCCESS;
}

unsigned
TVK_CheckFileKeyCache::Derivations() const
{
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Derivations;
}

void
TVK_CheckFileKeyCache::Clear()
{
    std::lock_guard<std::mutex> lock(m_Lock);
    m_Entries.clear();
    m_Order.clear();
}
