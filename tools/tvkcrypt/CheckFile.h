/*****************************************************************
| CheckFile.h - the check file that lets tvkcrypt recognise a wrong
| password and detect damaged or changed encrypted data, beside the
| header-less encrypted format, which it leaves untouched.
|
| The encrypted file stays exactly what the library writes. The check
| file, a separate small binary file, carries a random salt, the
| parameters of a slow key derivation, a password verifier, the size of
| the encrypted data and one authentication tag per block of ciphertext,
| plus a tag over all of it. With the password, a reader can tell a
| wrong password at once, and find which blocks of the ciphertext no
| longer match, including a range decryption that reads only some.
|
| Format, version 1 (all integers big-endian):
|
|   offset  size  field
|        0     8  magic "TVKCHECK"
|        8     1  version, 1
|        9     1  key derivation, 1 = PBKDF2-HMAC-SHA-256
|       10     1  tag algorithm, 1 = HMAC-SHA-256 (block tags cut to 16 bytes)
|       11     1  reserved, 0
|       12     4  PBKDF2 iteration count (1 .. kMaxCheckIterations)
|       16    32  salt (random, fresh for every check file)
|       48     4  block size B (a power of two, 1 KiB .. 1 GiB; 512
|                 KiB unless the writer chose otherwise)
|       52     8  data size S, the size of the encrypted file
|       60    32  verifier = HMAC(verifier key, bytes 0 .. 47)
|       92  16 n  tag of block i = HMAC(block key, i as 8 bytes || length
|                 as 8 bytes || ciphertext bytes i*B .. i*B+length-1),
|                 first 16 bytes; n = ceil(S / B), each block B bytes long
|                 except the last
|  92+16n    32  summary = HMAC(summary key, bytes 0 .. 91+16n)
| 124+16n    32  checksum = SHA-256(bytes 0 .. 123+16n)
|
| Keys: master = PBKDF2-HMAC-SHA-256(password, salt, iterations, 32
| bytes); verifier key, block key and summary key = HMAC(master,
| "tvkcheck verifier" / "tvkcheck block" / "tvkcheck summary"). One
| derivation chain serves all three, so a defender pays the same
| iteration count as an attacker who guesses passwords. The keys are
| independent of the format's AES key (SHA-1 of the password), which the
| check file neither holds nor helps to find: guessing the password
| against the verifier costs a full PBKDF2 run per guess, while the
| ciphertext alone already allows a guess per SHA-1 and AES block.
|
| What each part detects: the unkeyed checksum tells accidental damage
| of the check file without a password; the verifier, a wrong password;
| a block tag, any change of that block (its index and length are in
| the tag, so moved or cut blocks fail too); the summary, binding the
| header and the list of tags together, any change of the size, the
| block count or the order of tags, even when the checksum was made to
| match. A change of the salt or iteration count shows as a wrong
| password, since it changes every key.
|
| Speed: tags are HMAC-SHA-256 from precomputed key states; AddBlocks
| and VerifyBlocks take several consecutive blocks in one buffer and
| hash them two at a time, in lockstep (NPT_HmacSha256Key::MacPair),
| which on processors with the SHA instructions nearly doubles the rate
| of one thread. The default block size is half the tool's 1 MiB
| transfer, so every transfer holds such a pair.
|
| Threads: a writer's AddBlock(s) and a reader's VerifyBlock(s) may be
| called from several threads at once (on distinct blocks for the
| writer); everything else is for one thread at a time. Keys are wiped
| when the objects are destroyed; the password is never stored.
|
| Bounds: Parse refuses a check file larger than kMaxCheckFileSize
| before it copies or hashes a byte, and one that asks for more than
| kMaxCheckIterations, so a hostile file cannot make a reader allocate
| or compute without bound; a caller reads at most kMaxCheckFileSize + 1
| bytes of a file it means to parse.
|
| Portable C++: no I/O, no operating-system calls. The caller supplies
| the salt bytes (from its random source) and reads and writes files.
****************************************************************/
#ifndef TVKCRYPT_CHECK_FILE_H
#define TVKCRYPT_CHECK_FILE_H

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "NptHmacSha256Key.h"
#include "NptResults.h"
#include "NptTypes.h"

namespace tvkcrypt {

const NPT_UInt8  kCheckFileVersion = 1;
const NPT_Size   kCheckSaltSize = 32;
const NPT_Size   kCheckBlockTagSize = 16;
const NPT_UInt32 kDefaultCheckBlockSize = NPT_UInt32(1) << 19;
const NPT_UInt32 kMinCheckBlockSize = NPT_UInt32(1) << 10;
const NPT_UInt32 kMaxCheckBlockSize = NPT_UInt32(1) << 30;
const NPT_UInt32 kMaxCheckIterations = NPT_UInt32(1) << 26;
// 4 Mi blocks: 2 TiB of data at the default block size (see
// CheckBlockSizeFor for more)
const NPT_UInt64 kMaxCheckBlocks = NPT_UInt64(1) << 22;
const std::size_t kCheckFileFixedSize = 92 + 32 + 32;
const std::size_t kMaxCheckFileSize = kCheckFileFixedSize + kMaxCheckBlocks * kCheckBlockTagSize;

enum CheckResult {
    CHECK_OK = 0,
    CHECK_NOT_A_CHECK_FILE, // it does not start with the magic
    CHECK_UNSUPPORTED,      // a later version, or algorithms or costs this version does not take
    CHECK_DAMAGED,          // the check file itself is cut, changed or inconsistent
    CHECK_WRONG_PASSWORD,   // the password does not match the verifier
    CHECK_DATA_CHANGED,     // the data does not match its tag (or has no tag)
    CHECK_INVALID_USE       // the caller's mistake: bad arguments, or steps out of order
};

// A short English description of a result, e.g. "wrong password".
const char* CheckResultText(CheckResult result);

/*----------------------------------------------------------------------
|   CheckFileWriter
|
|   Start derives the keys; AddBlock tags each block of ciphertext, in
|   any order; Serialize, given the final data size, checks that every
|   block is there with the right length and lays out the file.
+---------------------------------------------------------------------*/
class CheckFileWriter
{
public:
    CheckFileWriter();
    ~CheckFileWriter();
    CheckFileWriter(const CheckFileWriter&) = delete;
    CheckFileWriter& operator=(const CheckFileWriter&) = delete;

    // Derives the keys from the password (password_size bytes, no
    // terminator) and salt (kCheckSaltSize fresh random bytes). Takes
    // as long as PBKDF2 with that iteration count.
    // NPT_ERROR_INVALID_PARAMETERS: null pointer with a size, salt of
    // another size, iterations 0 or above kMaxCheckIterations, block
    // size not a power of two within its bounds.
    // NPT_ERROR_INVALID_STATE: already started.
    NPT_Result Start(const NPT_UInt8* password,
                     NPT_Size         password_size,
                     const NPT_UInt8* salt,
                     NPT_Size         salt_size,
                     NPT_UInt32       iterations,
                     NPT_UInt32       block_size = kDefaultCheckBlockSize);

    // Tags block index: size bytes of ciphertext starting at data offset
    // index * block size. Every block is block size bytes except the
    // last, which has 1 .. block size. Safe from several threads on
    // distinct indices.
    // NPT_ERROR_INVALID_STATE: not started, or this index already added.
    // NPT_ERROR_INVALID_PARAMETERS: null data, size 0 or above the
    // block size. NPT_ERROR_OUT_OF_RANGE: index beyond kMaxCheckBlocks.
    NPT_Result AddBlock(NPT_UInt64 index, const NPT_UInt8* data, NPT_Size size);

    // Tags consecutive blocks first_index, first_index + 1, ... held one
    // after the other in data: whole blocks, the last of which may be
    // shorter (then it must be the last block of the data). Two at a
    // time where they are of equal length. Results as AddBlock; on a
    // failure the blocks before it have been added.
    NPT_Result AddBlocks(NPT_UInt64 first_index, const NPT_UInt8* data, NPT_Size size);

    // Replaces out with the check file for data_size bytes of data.
    // NPT_ERROR_INVALID_STATE: not started, or a block is missing, has a
    // length that does not fit data_size, or lies beyond it.
    // NPT_ERROR_OUT_OF_RANGE: data_size needs more than kMaxCheckBlocks
    // blocks. out is left untouched on failure.
    NPT_Result Serialize(NPT_UInt64 data_size, std::vector<NPT_UInt8>& out) const;

    NPT_UInt32 BlockSize() const { return m_BlockSize; }

private:
    bool       m_Started;
    NPT_UInt32 m_Iterations;
    NPT_UInt32 m_BlockSize;
    NPT_UInt8  m_Salt[kCheckSaltSize];
    NPT_UInt8  m_VerifierKey[32];
    NPT_UInt8  m_SummaryKey[32];
    std::unique_ptr<NPT_HmacSha256Key> m_BlockKey; // set by Start

    NPT_Result StoreTag(NPT_UInt64 index, NPT_Size size, const NPT_UInt8* mac);

    mutable std::mutex       m_Lock; // guards the two vectors below
    std::vector<NPT_UInt8>   m_Tags;     // kCheckBlockTagSize per block
    std::vector<NPT_UInt32>  m_Lengths;  // 0: block not added yet
};

/*----------------------------------------------------------------------
|   CheckFileReader
|
|   Parse checks the file's structure (no password needed);
|   VerifyPassword derives the keys and checks the verifier and the
|   summary; VerifyBlock then checks blocks of ciphertext, in any order
|   and from any thread.
+---------------------------------------------------------------------*/
class CheckFileReader
{
public:
    CheckFileReader();
    ~CheckFileReader();
    CheckFileReader(const CheckFileReader&) = delete;
    CheckFileReader& operator=(const CheckFileReader&) = delete;

    // Takes a copy of the check file's size bytes.
    // CHECK_NOT_A_CHECK_FILE: no magic. CHECK_UNSUPPORTED: another
    // version, unknown algorithms, more than kMaxCheckIterations.
    // CHECK_DAMAGED: cut short, longer than kMaxCheckFileSize, checksum
    // mismatch, fields that contradict each other.
    // CHECK_INVALID_USE: null bytes with a size, or parsed already.
    CheckResult Parse(const NPT_UInt8* bytes, std::size_t size);

    // Derives the keys (a full PBKDF2 run) and compares the verifier in
    // constant time. CHECK_WRONG_PASSWORD: no match. CHECK_DAMAGED: the
    // password matches but the summary does not: the sizes or tags were
    // changed. CHECK_INVALID_USE: not parsed, or a null password with a
    // size. On success VerifyBlock becomes usable.
    CheckResult VerifyPassword(const NPT_UInt8* password, NPT_Size password_size);

    // Checks block index against its tag: size must be BlockLength(index)
    // and the bytes must be the ciphertext the tag was made for.
    // CHECK_DATA_CHANGED otherwise, including an index past the last
    // block. CHECK_INVALID_USE: password not verified, or null data.
    // Safe from several threads at once.
    CheckResult VerifyBlock(NPT_UInt64 index, const NPT_UInt8* data, NPT_Size size) const;

    // Checks the consecutive blocks first_index, first_index + 1, ...
    // held one after the other in data (size bytes, which must end at a
    // block boundary or at the end of the data), two at a time. The
    // first failure found, as VerifyBlock; CHECK_DATA_CHANGED too when
    // size does not fit the blocks. Safe from several threads at once.
    CheckResult VerifyBlocks(NPT_UInt64 first_index, const NPT_UInt8* data, NPT_Size size) const;

    // The size the encrypted file must have, the block size, the block
    // count and the iteration count, valid after a successful Parse.
    NPT_UInt64 ExpectedSize() const { return m_DataSize; }
    NPT_UInt32 BlockSize() const { return m_BlockSize; }
    NPT_UInt64 BlockCount() const { return m_BlockCount; }
    NPT_UInt32 Iterations() const { return m_Iterations; }

    // Length of block index (0 past the last block).
    NPT_UInt64 BlockLength(NPT_UInt64 index) const;

    // The blocks that bytes offset .. offset + length - 1 of the data
    // touch, clipped to the data: first and count (count 0 when the
    // range is empty or lies past the end). To verify the range, read
    // and check whole blocks first .. first + count - 1.
    void BlocksForRange(NPT_UInt64 offset, NPT_UInt64 length, NPT_UInt64& first, NPT_UInt64& count) const;

private:
    bool                   m_Parsed;
    bool                   m_Verified;
    std::vector<NPT_UInt8> m_Bytes;
    NPT_UInt32             m_Iterations;
    NPT_UInt32             m_BlockSize;
    NPT_UInt64             m_DataSize;
    NPT_UInt64             m_BlockCount;
    std::unique_ptr<NPT_HmacSha256Key> m_BlockKey; // set once the password is verified

    bool TagMatches(NPT_UInt64 index, const NPT_UInt8* mac) const;
};

// The default block size, or the smallest larger power of two that
// keeps data_size within kMaxCheckBlocks blocks (data of unknown size:
// pass the largest size expected).
NPT_UInt32 CheckBlockSizeFor(NPT_UInt64 data_size);

// Iteration count that makes one key derivation take about
// target_seconds on this machine: PBKDF2 of 10,000 iterations is
// timed and scaled, then clamped to 100,000 .. kMaxCheckIterations / 4.
NPT_UInt32 CalibrateCheckIterations(double target_seconds = 0.2);

// The scaling and clamping of CalibrateCheckIterations, for a measured
// rate in iterations per second.
NPT_UInt32 ChooseCheckIterations(double iterations_per_second, double target_seconds);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_CHECK_FILE_H
