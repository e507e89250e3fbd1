/*****************************************************************
| NptPbkdf2.h - PBKDF2 (RFC 8018) with HMAC-SHA-256 as its
| pseudo-random function: stretches a password and a salt into key
| bytes, at a cost set by the iteration count.
|
| The keyed HMAC states (the SHA-256 state after the inner and after
| the outer pad) are computed once per derivation; each iteration then
| costs exactly two SHA-256 compressions, with no allocation and no
| re-hashing of the pads. The password, pads, states and every
| intermediate block are wiped before the function returns.
|
| No shared state: safe to call from several threads at once.
****************************************************************/
#ifndef NPT_PBKDF2_H
#define NPT_PBKDF2_H

#include "NptTypes.h"
#include "NptResults.h"

// Writes out_size bytes of PBKDF2-HMAC-SHA-256(password, salt,
// iterations) into out. password and salt may be null only when their
// size is 0. A null out, an out_size of 0 or an iteration count of 0:
// NPT_ERROR_INVALID_PARAMETERS, and out is left untouched. Otherwise
// NPT_SUCCESS.
NPT_EXPORT NPT_Result NPT_DeriveKeyPbkdf2Sha256(const NPT_UInt8* password,
                                     NPT_Size         password_size,
                                     const NPT_UInt8* salt,
                                     NPT_Size         salt_size,
                                     NPT_UInt32       iterations,
                                     NPT_UInt8*       out,
                                     NPT_Size         out_size);

#endif // NPT_PBKDF2_H
