/*****************************************************************
| NptDigest.cpp - the digest factory.
****************************************************************/
#include "NptDigest.h"

#include "NptMd5.h"
#include "NptSha1.h"
#include "NptSha256.h"

NPT_Result NPT_Digest::Create(Algorithm algorithm, NPT_Digest*& digest)
{
    switch (algorithm) {
        case SHA1:
            digest = new NPT_Sha1Digest();
            return NPT_SUCCESS;
        case MD5:
            digest = new NPT_Md5Digest();
            return NPT_SUCCESS;
        case SHA256:
            digest = new NPT_Sha256Digest();
            return NPT_SUCCESS;
    }
    return NPT_ERROR_NOT_SUPPORTED;
}
