/*****************************************************************
| NptSha1.h - NPT_Sha1Digest, SHA-1 (FIPS 180-1) on NPT_BasicDigest.
|
| Created through NPT_Digest::Create(NPT_Digest::SHA1, ...). The state
| words are wiped on destruction. One thread at a time.
****************************************************************/
#ifndef NPT_SHA1_H
#define NPT_SHA1_H

#include "NptBasicDigest.h"

class NPT_EXPORT NPT_Sha1Digest : public NPT_BasicDigest
{
public:
    static const NPT_Size DIGEST_SIZE = 20;

    NPT_Sha1Digest();
    ~NPT_Sha1Digest() override;

    // Writes the 20-byte digest into digest (its data size becomes 20).
    // NPT_SUCCESS, or digest's error when a borrowed block is too small.
    NPT_Result GetDigest(NPT_DataBuffer& digest) override;

protected:
    void CompressBlock(const NPT_UInt8* block) override;

private:
    NPT_UInt32 m_State[5];
};

#endif // NPT_SHA1_H
