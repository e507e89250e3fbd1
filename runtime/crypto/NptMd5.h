/*****************************************************************
| NptMd5.h - NPT_Md5Digest, MD5 (RFC 1321) on NPT_BasicDigest.
|
| Created through NPT_Digest::Create(NPT_Digest::MD5, ...). The state
| words are wiped on destruction. One thread at a time.
****************************************************************/
#ifndef NPT_MD5_H
#define NPT_MD5_H

#include "NptBasicDigest.h"

class NPT_EXPORT NPT_Md5Digest : public NPT_BasicDigest
{
public:
    static const NPT_Size DIGEST_SIZE = 16;

    NPT_Md5Digest();
    ~NPT_Md5Digest() override;

    // Writes the 16-byte digest into digest (its data size becomes 16).
    // NPT_SUCCESS, or digest's error when a borrowed block is too small.
    NPT_Result GetDigest(NPT_DataBuffer& digest) override;

protected:
    void CompressBlock(const NPT_UInt8* block) override;

private:
    NPT_UInt32 m_State[4];
};

#endif // NPT_MD5_H
