/*****************************************************************
| TvkCKey.h - tvk_key, the C interface's key: the format's AES key
| schedule in secret memory (never swapped or dumped where the system
| allows it, wiped when freed), and the in-place transform of any
| buffer at any stream offset. The readers and writers of the C
| interface keep their key in one too.
|
| Private to the library. Created and destroyed by one thread; Transform
| from any number of threads at once (the schedule never changes).
****************************************************************/
#ifndef TVK_C_KEY_H
#define TVK_C_KEY_H

#include <cstddef>
#include <cstdint>

#include "NptAes.h"
#include "NptResults.h"
#include "TvkCrypto/c.h"

struct tvk_key {
public:
    // A new key from the format's 16 key bytes, or from a password
    // (refused as CheckPassword refuses it). key is null on failure.
    static NPT_Result Create(const uint8_t raw[TVK_KEY_SIZE], tvk_key*& key);
    static NPT_Result FromPassword(const void* password, std::size_t password_size, tvk_key*& key);
    // Wipes and frees key (null is allowed).
    static void Destroy(tvk_key* key);

    // XORs the key stream at stream offset offset onto size bytes at
    // data, in slices that NPT_Size can hold.
    NPT_Result Transform(void* data, std::size_t size, uint64_t offset) const;

    // The format's key bytes of a password into raw (CheckPassword first).
    static NPT_Result Derive(const void* password, std::size_t password_size, uint8_t raw[TVK_KEY_SIZE]);

private:
    explicit tvk_key(const uint8_t* raw) : m_Cipher(raw, TVK_KEY_SIZE) {}
    ~tvk_key() = default;
    tvk_key(const tvk_key&) = delete;
    tvk_key& operator=(const tvk_key&) = delete;

    // immutable once built: several threads may run it at once
    mutable NPT_AesBlockEncrypter m_Cipher;
};

#endif  // TVK_C_KEY_H
