/*****************************************************************
| NptDigest.h - NPT_Digest, the message digest interface (SHA-1, MD5,
| SHA-256), and the HMAC factory.
|
| SHA-1 and MD5 are algorithms 0 and 1. SHA-256 came later and has the
| number 0x100, far from them on purpose: the numbers around 0 and 1
| (2, -1, ...) stay invalid, and code that tests for "0 or 1" keeps
| meaning "SHA-1 or MD5".
|
| A digest object computes one digest: create, Update any number of
| times, GetDigest once, delete. Digest state is wiped on destruction,
| since it may have been fed a password or a key.
****************************************************************/
#ifndef NPT_DIGEST_H
#define NPT_DIGEST_H

#include "NptTypes.h"
#include "NptResults.h"
#include "NptDataBuffer.h"

class NPT_EXPORT NPT_Digest
{
public:
    enum Algorithm : NPT_Int32 {
        SHA1   = 0,
        MD5    = 1,
        SHA256 = 0x100
    };

    // New SHA-1, MD5 or SHA-256 digest owned by the caller. Any other
    // algorithm: NPT_ERROR_NOT_SUPPORTED, digest left untouched.
    static NPT_Result Create(Algorithm algorithm, NPT_Digest*& digest);

    virtual ~NPT_Digest() {}
    virtual NPT_Result Update(const NPT_UInt8* data, NPT_Size data_size) = 0;
    // Finishes the computation; digest's data size becomes the digest size.
    virtual NPT_Result GetDigest(NPT_DataBuffer& digest) = 0;
};

class NPT_EXPORT NPT_Hmac
{
public:
    // New HMAC digest (RFC 2104) over SHA-1, MD5 or SHA-256, owned by the
    // caller. Any other algorithm: NPT_ERROR_NOT_SUPPORTED; a null key
    // with a nonzero key_size: NPT_ERROR_INVALID_PARAMETERS; digest left
    // untouched in both cases.
    static NPT_Result Create(NPT_Digest::Algorithm algorithm,
                             const NPT_UInt8*      key,
                             NPT_Size              key_size,
                             NPT_Digest*&          digest);
};

#endif // NPT_DIGEST_H
