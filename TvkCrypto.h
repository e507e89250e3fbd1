/*****************************************************************
| TvkCrypto.h - the one header to include for the whole library:
| the NPT_ runtime layer (results, buffers, strings, handles, streams,
| files, block ciphers and digests) and the TVK_ encryption layer
| (counter-mode key stream, encrypting and decrypting streams, and
| TVK_CryptoHelper, which encrypts and decrypts with a password).
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

// streams
#include "NptStreams.h"

// cryptographic primitives
#include "NptBlockCipher.h"
#include "NptDigest.h"

#endif // TVK_CRYPTO_H
