/*****************************************************************
| NptHmac.h - NPT_HmacDigest, HMAC (RFC 2104) over SHA-1, MD5 or
| SHA-256.
|
| Built by NPT_Hmac::Create (NptDigest.h). It owns an inner and an outer
| digest that have already absorbed the key pads; Update feeds the inner
| digest and GetDigest finishes both. Keys longer than the 64-byte block
| are first replaced by their digest. The pads and any hashed key are
| wiped as soon as they are absorbed; the digests wipe their own state
| on destruction. One thread at a time; not copyable.
****************************************************************/
#ifndef NPT_HMAC_H
#define NPT_HMAC_H

#include "NptDigest.h"

class NPT_EXPORT NPT_HmacDigest : public NPT_Digest
{
public:
    // algorithm must be SHA1, MD5 or SHA256 (NPT_Hmac::Create checks it); key may
    // be null only when key_size is 0.
    NPT_HmacDigest(NPT_Digest::Algorithm algorithm, const NPT_UInt8* key, NPT_Size key_size);
    ~NPT_HmacDigest() override;
    NPT_HmacDigest(const NPT_HmacDigest&) = delete;
    NPT_HmacDigest& operator=(const NPT_HmacDigest&) = delete;

    // Returns what the inner digest's Update returns.
    NPT_Result Update(const NPT_UInt8* data, NPT_Size data_size) override;
    // Returns what the outer digest's GetDigest returns.
    NPT_Result GetDigest(NPT_DataBuffer& mac) override;

private:
    NPT_Digest* m_InnerDigest;
    NPT_Digest* m_OuterDigest;
};

#endif // NPT_HMAC_H
