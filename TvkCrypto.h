/*****************************************************************
| TvkCrypto.h - the one header to include for the whole library:
| the NPT_ runtime layer (results, buffers, strings, handles, streams,
| files, block ciphers and digests) and the TVK_ encryption layer
| (counter-mode key stream, encrypting and decrypting streams, and
| TVK_CryptoHelper, which encrypts and decrypts with a password, and
| the check file that tells a wrong password and damaged data).
****************************************************************/
#ifndef TVK_CRYPTO_H
#define TVK_CRYPTO_H

// foundation
#include "NptTypes.h"
#include "NptResults.h"
#include "NptWipe.h"
#include "NptDataBuffer.h"
#include "NptReferences.h"
#include "NptUtils.h"
#include "NptStrings.h"
#include "NptList.h"
#include "NptStringMap.h"
#include "NptHex.h"

// streams
#include "NptStreams.h"
#include "NptDelegatingStreams.h"
#include "NptSubInputStream.h"
#include "NptStreamCopy.h"
#include "NptMemoryStream.h"
#include "NptStringOutputStream.h"

// files
#include "NptFile.h"
#include "NptStdcFile.h"

// cryptographic primitives
#include "NptBlockCipher.h"
#include "NptAes.h"
#include "NptDigest.h"
#include "NptBasicDigest.h"
#include "NptSha1.h"
#include "NptSha256.h"
#include "NptMd5.h"
#include "NptHmac.h"
#include "NptHmacSha256Key.h"
#include "NptPbkdf2.h"

// encryption layer
#include "TvkStreamCipher.h"
#include "TvkBlockCipherFactory.h"
#include "TvkEncryptingStream.h"
#include "TvkDecryptingStream.h"
#include "TvkCryptoHelper.h"
#include "TvkCheckFile.h"
#include "TvkCheckFileKeys.h"

#endif // TVK_CRYPTO_H
