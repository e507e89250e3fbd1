/*****************************************************************
| NptHmacSha256Key.h - NPT_HmacSha256Key, an HMAC-SHA-256 key made
| ready for many messages: authenticates large blocks of data quickly,
| one or two at a time.
|
| The general NPT_HmacDigest (NptHmac.h) hashes the key pads again for
| every message and allocates its digests. This class hashes them once,
| when it is built, and keeps only the two SHA-256 states that follow
| (inner and outer pad); each Mac then starts from a copy of them, on
| the stack, with no allocation. MacPair computes two MACs of equally
| long messages together, their bulk in lockstep through
| NPT_Sha256Digest::CompressPair, which on processors with the SHA
| instructions takes about the time of one.
|
| Message computes one MAC over bytes that arrive in pieces, for
| messages too large to hold in memory at once.
|
| The results are plain HMAC-SHA-256 (RFC 2104) of head || data. The
| key states are wiped on destruction, the per-message states before
| each call returns (a Message's when it is destroyed). Mac and MacPair
| are const and keep no state between calls: several threads may use
| one key at once, each with Messages of its own.
****************************************************************/
#ifndef NPT_HMAC_SHA256_KEY_H
#define NPT_HMAC_SHA256_KEY_H

#include "NptTypes.h"

class NPT_EXPORT NPT_HmacSha256Key
{
public:
    static const NPT_Size MAC_SIZE = 32;

    // One MAC under a key, over a message given in pieces: Update with
    // each piece in order, then Finish once. The key must outlive it.
    class NPT_EXPORT Message
    {
    public:
        explicit Message(const NPT_HmacSha256Key& key);
        ~Message();
        Message(const Message&) = delete;
        Message& operator=(const Message&) = delete;

        // data may be null when size is 0.
        void Update(const NPT_UInt8* data, NPT_Size size);
        // Writes HMAC(key, all the pieces) into mac (MAC_SIZE bytes);
        // nothing may follow but destruction.
        void Finish(NPT_UInt8* mac);

    private:
        friend class NPT_HmacSha256Key;
        // a hash that continues from start (one block already in it)
        Message(const NPT_UInt32* start, const NPT_UInt32* outer_start);
        // counts whole blocks that the caller compressed itself
        void Skip(NPT_Size block_count);
        // the plain SHA-256 end of this hash, into digest
        void FinishHash(NPT_UInt8* digest);

        const NPT_UInt32* m_OuterStart;
        NPT_UInt32        m_State[8];
        NPT_UInt8         m_Buffer[64];
        NPT_Size          m_Pending;
        NPT_UInt64        m_Total; // bytes, the pad block included
    };

    // key may be null only when key_size is 0 (a null key with a size is
    // taken as the empty key). Keys longer than 64 bytes are replaced by
    // their SHA-256 digest, as HMAC prescribes.
    NPT_HmacSha256Key(const NPT_UInt8* key, NPT_Size key_size);
    ~NPT_HmacSha256Key();
    NPT_HmacSha256Key(const NPT_HmacSha256Key&) = delete;
    NPT_HmacSha256Key& operator=(const NPT_HmacSha256Key&) = delete;

    // Writes HMAC-SHA-256(key, head || data) into mac (MAC_SIZE bytes).
    // head and data may be null when their size is 0.
    void Mac(const NPT_UInt8* head,
             NPT_Size         head_size,
             const NPT_UInt8* data,
             NPT_Size         data_size,
             NPT_UInt8*       mac) const;

    // mac_a = HMAC(key, head_a || data_a), mac_b = HMAC(key, head_b ||
    // data_b): both heads head_size bytes, both data data_size bytes.
    void MacPair(const NPT_UInt8* head_a,
                 const NPT_UInt8* data_a,
                 const NPT_UInt8* head_b,
                 const NPT_UInt8* data_b,
                 NPT_Size         head_size,
                 NPT_Size         data_size,
                 NPT_UInt8*       mac_a,
                 NPT_UInt8*       mac_b) const;

private:
    NPT_UInt32 m_InnerStart[8];
    NPT_UInt32 m_OuterStart[8];
};

#endif // NPT_HMAC_SHA256_KEY_H
