/*****************************************************************
| TvkCheckFile.h - the check file, which tells a wrong password and
| damaged or changed encrypted data beside the header-less encrypted
| format, which it leaves untouched: TVK_CheckFile (its constants and
| costs), TVK_CheckFileWriter, TVK_CheckFileReader and
| TVK_CheckBlockPieces (one block's tag over bytes given in pieces).
|
| The encrypted file stays exactly what the library writes. The check
| file, a separate small binary file (by default the encrypted file's
| name with ".tvkcheck" appended), carries a random salt, the
| parameters of a slow key derivation, a password verifier, the size of
| the encrypted data and one authentication tag per block of
| ciphertext, plus a tag over all of it. With the password, a reader
| can tell a wrong password at once, and find which blocks of the
| ciphertext no longer match, including when only a range is read.
|
| Format, version 1 (all integers big-endian). This comment is the
| authoritative description:
|
|   offset  size  field
|        0     8  magic "TVKCHECK"
|        8     1  version, 1
|        9     1  key derivation, 1 = PBKDF2-HMAC-SHA-256
|       10     1  tag algorithm, 1 = HMAC-SHA-256 (block tags cut to 16 bytes)
|       11     1  reserved, 0
|       12     4  PBKDF2 iteration count (MIN_ITERATIONS .. MAX_ITERATIONS
|                 for a reader)
|       16    32  salt (random, fresh for every check file)
|       48     4  block size B (a power of two, 1 KiB .. 1 GiB; 512
|                 KiB unless the writer chose otherwise)
|       52     8  data size S, the size of the encrypted file
|       60    32  verifier = HMAC(verifier key, bytes 0 .. 47: magic
|                 through salt)
|       92  16 n  tag of block i = HMAC(block key, i as 8 bytes || length
|                 as 8 bytes || ciphertext bytes i*B .. i*B+length-1),
|                 first 16 bytes; n = ceil(S / B), each block B bytes long
|                 except the last
|  92+16n    32  summary = HMAC(summary key, bytes 0 .. 91+16n)
| 124+16n    32  checksum = SHA-256(bytes 0 .. 123+16n)
|
| HMAC is HMAC-SHA-256. Keys: master = PBKDF2-HMAC-SHA-256(password,
| salt, iterations, 32 bytes), where the password is the bytes the
| format's key is made from (no terminator); verifier key, block key and
| summary key = HMAC with master as the key over the ASCII label
| "tvkcheck verifier", "tvkcheck block" or "tvkcheck summary" (no
| terminator) as the message. One derivation chain serves all three,
| so a defender pays the same iteration count as an attacker who
| guesses passwords. The keys are independent of the format's AES key
| (SHA-1 of the password), which the check file neither holds nor
| helps to find: guessing the password against the verifier costs a
| full PBKDF2 run per guess, while the ciphertext alone already allows
| a guess per SHA-1 and AES block.
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
| Costs: a reader refuses a check file larger than MAX_FILE_SIZE before
| it copies or hashes a byte (a caller reads at most MAX_FILE_SIZE + 1
| bytes of a file it means to parse), and iteration counts above
| MAX_ITERATIONS: a hostile file can make it neither allocate nor
| compute without bound. It refuses counts below MIN_ITERATIONS too,
| the least that the library's writers ever choose: a verifier that
| costs a guesser next to nothing would contradict what the file
| promises, and a library has no one to warn. (Start takes any count
| from 1, for tests; CalibrateIterations never goes below the floor.)
| Blocks larger than a caller wants to hold in memory are verified or
| tagged in pieces with TVK_CheckBlockPieces.
|
| Speed: tags are HMAC-SHA-256 from precomputed key states; AddBlocks
| and VerifyBlocks take several consecutive blocks in one buffer and
| hash them two at a time, in lockstep (NPT_HmacSha256Key::MacPair),
| which on processors with the SHA instructions nearly doubles the rate
| of one thread.
|
| Results: NPT_SUCCESS, NPT_ERROR_INVALID_PARAMETERS (null pointers,
| sizes out of bounds), NPT_ERROR_INVALID_STATE (steps out of order),
| NPT_ERROR_OUT_OF_RANGE (more blocks than MAX_BLOCKS) and the
| check-file family of NptResults.h: TVK_ERROR_NOT_A_CHECK_FILE,
| TVK_ERROR_CHECK_FILE_UNSUPPORTED, TVK_ERROR_CHECK_FILE_DAMAGED,
| TVK_ERROR_WRONG_PASSWORD, TVK_ERROR_DATA_DAMAGED.
|
| Threads: a writer's AddBlock(s) and a reader's VerifyBlock(s) may be
| called from several threads at once (on distinct blocks for the
| writer), each with TVK_CheckBlockPieces objects of its own;
| everything else is for one thread at a time. Keys are wiped when the
| objects are destroyed; the password is never stored.
|
| Portable C++: no I/O, no operating-system calls but the clock of
| CalibrateIterations. The caller supplies the salt bytes (from its
| random source) and reads and writes files.
****************************************************************/
#ifndef TVK_CHECK_FILE_H
#define TVK_CHECK_FILE_H

#include <memory>
#include <mutex>
#include <vector>

#include "NptDataBuffer.h"
#include "NptHmacSha256Key.h"
#include "NptResults.h"
#include "NptTypes.h"

class TVK_CheckFileKeys;

/*----------------------------------------------------------------------
|   TVK_CheckFile: the format's constants, and the choice of its costs
+---------------------------------------------------------------------*/
class NPT_EXPORT TVK_CheckFile
{
public:
    TVK_CheckFile() = delete;

    static constexpr NPT_UInt8  VERSION = 1;
    static constexpr NPT_Size   SALT_SIZE = 32;
    static constexpr NPT_Size   TAG_SIZE = 16;
    static constexpr NPT_UInt32 DEFAULT_BLOCK_SIZE = NPT_UInt32(1) << 19;
    static constexpr NPT_UInt32 MIN_BLOCK_SIZE = NPT_UInt32(1) << 10;
    static constexpr NPT_UInt32 MAX_BLOCK_SIZE = NPT_UInt32(1) << 30;
    static constexpr NPT_UInt32 MIN_ITERATIONS = 100000;
    static constexpr NPT_UInt32 MAX_ITERATIONS = NPT_UInt32(1) << 26;
    // 4 Mi blocks: 2 TiB of data at the default block size (see
    // BlockSizeFor for more)
    static constexpr NPT_UInt64 MAX_BLOCKS = NPT_UInt64(1) << 22;
    static constexpr NPT_Size   FIXED_SIZE = 92 + 32 + 32;
    static constexpr NPT_Size   MAX_FILE_SIZE = FIXED_SIZE + NPT_Size(MAX_BLOCKS) * TAG_SIZE;

    // The default block size, or the smallest larger power of two that
    // keeps data_size within MAX_BLOCKS blocks (data of unknown size:
    // pass the largest size expected, or 0).
    static NPT_UInt32 BlockSizeFor(NPT_UInt64 data_size);

    // Iteration count that makes one key derivation take about
    // target_seconds on this machine: PBKDF2 of 10,000 iterations is
    // timed and scaled, then clamped to MIN_ITERATIONS ..
    // MAX_ITERATIONS / 4.
    static NPT_UInt32 CalibrateIterations(double target_seconds = 0.2);

    // The scaling and clamping of CalibrateIterations, for a measured
    // rate in iterations per second.
    static NPT_UInt32 ChooseIterations(double iterations_per_second, double target_seconds);
};

class TVK_CheckFileReader;

/*----------------------------------------------------------------------
|   TVK_CheckFileWriter
|
|   Start derives the keys; AddBlock tags each block of ciphertext, in
|   any order; Serialize, given the final data size, checks that every
|   block is there with the right length and lays out the file.
+---------------------------------------------------------------------*/
class NPT_EXPORT TVK_CheckFileWriter
{
public:
    TVK_CheckFileWriter();
    ~TVK_CheckFileWriter();
    TVK_CheckFileWriter(const TVK_CheckFileWriter&) = delete;
    TVK_CheckFileWriter& operator=(const TVK_CheckFileWriter&) = delete;

    // Derives the keys from the password (password_size bytes, no
    // terminator) and salt (SALT_SIZE fresh random bytes). Takes as long
    // as PBKDF2 with that iteration count.
    // NPT_ERROR_INVALID_PARAMETERS: null pointer with a size, salt of
    // another size, iterations 0 or above MAX_ITERATIONS, block size not
    // a power of two within its bounds.
    // NPT_ERROR_INVALID_STATE: already started.
    NPT_Result Start(const NPT_UInt8* password,
                     NPT_Size         password_size,
                     const NPT_UInt8* salt,
                     NPT_Size         salt_size,
                     NPT_UInt32       iterations,
                     NPT_UInt32       block_size = TVK_CheckFile::DEFAULT_BLOCK_SIZE);

    // Starts from keys derived before (TvkCheckFileKeys.h): no key
    // derivation here, so that many check files written for one password
    // cost one derivation; they share the keys' salt.
    // NPT_ERROR_INVALID_PARAMETERS: keys not derived, block size not a
    // power of two within its bounds. NPT_ERROR_INVALID_STATE: already
    // started.
    NPT_Result Start(const TVK_CheckFileKeys& keys, NPT_UInt32 block_size = TVK_CheckFile::DEFAULT_BLOCK_SIZE);

    // Tags block index: size bytes of ciphertext starting at data offset
    // index * block size. Every block is block size bytes except the
    // last, which has 1 .. block size. Safe from several threads on
    // distinct indices.
    // NPT_ERROR_INVALID_STATE: not started, or this index already added.
    // NPT_ERROR_INVALID_PARAMETERS: null data, size 0 or above the
    // block size. NPT_ERROR_OUT_OF_RANGE: index beyond MAX_BLOCKS.
    NPT_Result AddBlock(NPT_UInt64 index, const NPT_UInt8* data, NPT_Size size);

    // Tags consecutive blocks first_index, first_index + 1, ... held one
    // after the other in data: whole blocks, the last of which may be
    // shorter (then it must be the last block of the data). Two at a
    // time where they are of equal length. Results as AddBlock; on a
    // failure the blocks before it have been added.
    NPT_Result AddBlocks(NPT_UInt64 first_index, const NPT_UInt8* data, NPT_Size size);

    // Continues the check file that reader holds, for data that changes
    // in place: the same salt, iteration count and block size, with
    // every tag reader has, so that only the blocks that change need
    // tagging again (ForgetBlock, then AddBlock; KeepBlocks when the
    // data is cut). Takes the keys reader derived when its password was
    // verified: no PBKDF2 run.
    // NPT_ERROR_INVALID_STATE: already started, or reader's password
    // not verified.
    NPT_Result StartFrom(const TVK_CheckFileReader& reader);

    // Makes block index untagged again, so that AddBlock may tag its new
    // content. Nothing happens to blocks never tagged.
    void ForgetBlock(NPT_UInt64 index);
    // Forgets every block from index count on (the data was cut).
    void KeepBlocks(NPT_UInt64 count);

    // Replaces the content of out with the check file for data_size
    // bytes of data.
    // NPT_ERROR_INVALID_STATE: not started, or a block is missing, has a
    // length that does not fit data_size, or lies beyond it.
    // NPT_ERROR_OUT_OF_RANGE: data_size needs more than MAX_BLOCKS
    // blocks. out is left untouched on failure.
    NPT_Result Serialize(NPT_UInt64 data_size, NPT_DataBuffer& out) const;

    NPT_UInt32 BlockSize() const { return m_BlockSize; }

private:
    friend class TVK_CheckBlockPieces;
    NPT_Result StoreTag(NPT_UInt64 index, NPT_Size size, const NPT_UInt8* mac);

    bool       m_Started;
    NPT_UInt32 m_Iterations;
    NPT_UInt32 m_BlockSize;
    NPT_UInt8  m_Salt[TVK_CheckFile::SALT_SIZE];
    NPT_UInt8  m_VerifierKey[32];
    NPT_UInt8  m_SummaryKey[32];
    std::unique_ptr<NPT_HmacSha256Key> m_BlockKey; // set by Start

    mutable std::mutex       m_Lock;     // guards the two vectors below
    std::vector<NPT_UInt8>   m_Tags;     // TAG_SIZE per block
    std::vector<NPT_UInt32>  m_Lengths;  // 0: block not added yet
};

/*----------------------------------------------------------------------
|   TVK_CheckFileReader
|
|   Parse checks the file's structure (no password needed);
|   VerifyPassword derives the keys and checks the verifier and the
|   summary; VerifyBlock then checks blocks of ciphertext, in any order
|   and from any thread.
+---------------------------------------------------------------------*/
class NPT_EXPORT TVK_CheckFileReader
{
public:
    TVK_CheckFileReader();
    ~TVK_CheckFileReader();
    TVK_CheckFileReader(const TVK_CheckFileReader&) = delete;
    TVK_CheckFileReader& operator=(const TVK_CheckFileReader&) = delete;

    // Takes a copy of the check file's size bytes.
    // TVK_ERROR_NOT_A_CHECK_FILE: no magic. TVK_ERROR_CHECK_FILE_UNSUPPORTED:
    // another version, unknown algorithms, an iteration count outside
    // MIN_ITERATIONS .. MAX_ITERATIONS. TVK_ERROR_CHECK_FILE_DAMAGED: cut
    // short, longer than MAX_FILE_SIZE, checksum mismatch, fields that
    // contradict each other. NPT_ERROR_INVALID_PARAMETERS: null bytes
    // with a size. NPT_ERROR_INVALID_STATE: parsed already.
    NPT_Result Parse(const NPT_UInt8* bytes, NPT_Size size);

    // Derives the keys (a full PBKDF2 run) and compares the verifier in
    // constant time. TVK_ERROR_WRONG_PASSWORD: no match.
    // TVK_ERROR_CHECK_FILE_DAMAGED: the password matches but the summary
    // does not: the sizes or tags were changed. NPT_ERROR_INVALID_STATE:
    // not parsed. NPT_ERROR_INVALID_PARAMETERS: a null password with a
    // size. On success VerifyBlock becomes usable.
    NPT_Result VerifyPassword(const NPT_UInt8* password, NPT_Size password_size);
    // The same with keys derived before, from a TVK_CheckFileKeyCache:
    // no key derivation here. NPT_ERROR_INVALID_PARAMETERS: the keys are
    // not those of this file's salt and iteration count.
    NPT_Result VerifyPassword(const TVK_CheckFileKeys& keys);
    bool IsPasswordVerified() const { return m_Verified; }
    // The salt (SALT_SIZE bytes) after a successful Parse, else null.
    const NPT_UInt8* Salt() const;

    // Checks block index against its tag: size must be BlockLength(index)
    // and the bytes must be the ciphertext the tag was made for.
    // TVK_ERROR_DATA_DAMAGED otherwise, including an index past the last
    // block. NPT_ERROR_INVALID_STATE: password not verified.
    // NPT_ERROR_INVALID_PARAMETERS: null data with a size. Safe from
    // several threads at once.
    NPT_Result VerifyBlock(NPT_UInt64 index, const NPT_UInt8* data, NPT_Size size) const;

    // Checks the consecutive blocks first_index, first_index + 1, ...
    // held one after the other in data (size bytes, which must end at a
    // block boundary or at the end of the data), two at a time. The
    // first failure found, as VerifyBlock; TVK_ERROR_DATA_DAMAGED too
    // when size does not fit the blocks. Safe from several threads at
    // once.
    NPT_Result VerifyBlocks(NPT_UInt64 first_index, const NPT_UInt8* data, NPT_Size size) const;

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
    friend class TVK_CheckBlockPieces;
    friend class TVK_CheckFileWriter;
    bool TagMatches(NPT_UInt64 index, const NPT_UInt8* mac) const;

    bool                   m_Parsed;
    bool                   m_Verified;
    std::vector<NPT_UInt8> m_Bytes;
    NPT_UInt32             m_Iterations;
    NPT_UInt32             m_BlockSize;
    NPT_UInt64             m_DataSize;
    NPT_UInt64             m_BlockCount;
    std::unique_ptr<NPT_HmacSha256Key> m_BlockKey; // set once the password is verified
    // the keys as derived, for a writer that continues the file
    NPT_UInt8              m_VerifierKey[32];
    NPT_UInt8              m_BlockKeyBytes[32];
    NPT_UInt8              m_SummaryKey[32];
};

/*----------------------------------------------------------------------
|   TVK_CheckBlockPieces: the tag of one block over its bytes given in
|   order, in pieces of any size, for blocks too large to hold in
|   memory at once (a check file may have blocks of 1 GiB). Start with
|   a verified reader (the block's length is its BlockLength) or a
|   started writer (the length is given), Add every byte of the block,
|   then Finish: it compares the tag (reader) or stores it (writer).
|   One thread at a time; the reader or writer must outlive it.
+---------------------------------------------------------------------*/
class NPT_EXPORT TVK_CheckBlockPieces
{
public:
    TVK_CheckBlockPieces();
    ~TVK_CheckBlockPieces();
    TVK_CheckBlockPieces(const TVK_CheckBlockPieces&) = delete;
    TVK_CheckBlockPieces& operator=(const TVK_CheckBlockPieces&) = delete;

    // NPT_ERROR_INVALID_STATE: the password is not verified.
    // TVK_ERROR_DATA_DAMAGED: index is past the last block.
    NPT_Result StartVerifying(const TVK_CheckFileReader& reader, NPT_UInt64 index);
    // NPT_ERROR_INVALID_STATE: the writer is not started.
    // NPT_ERROR_INVALID_PARAMETERS: length 0 or above the block size.
    // NPT_ERROR_OUT_OF_RANGE: index beyond MAX_BLOCKS.
    NPT_Result StartTagging(TVK_CheckFileWriter& writer, NPT_UInt64 index, NPT_UInt32 length);

    // The next size bytes of the block. More bytes than the block holds:
    // TVK_ERROR_DATA_DAMAGED when verifying, NPT_ERROR_INVALID_PARAMETERS
    // when tagging. NPT_ERROR_INVALID_STATE: not started.
    NPT_Result Add(const NPT_UInt8* data, NPT_Size size);
    // Bytes of the block not added yet.
    NPT_UInt64 Remaining() const { return m_Remaining; }

    // Verifying: NPT_SUCCESS when every byte came and the tag matches,
    // else TVK_ERROR_DATA_DAMAGED. Tagging: the writer's AddBlock
    // results (NPT_ERROR_INVALID_STATE when bytes are missing). The
    // object can then be started again.
    NPT_Result Finish();

private:
    void Begin(const NPT_HmacSha256Key& key, NPT_UInt64 index, NPT_UInt32 length);

    const TVK_CheckFileReader*                  m_Reader = nullptr;
    TVK_CheckFileWriter*                        m_Writer = nullptr;
    NPT_UInt64                                  m_Index = 0;
    NPT_UInt32                                  m_Length = 0;
    NPT_UInt64                                  m_Remaining = 0;
    std::unique_ptr<NPT_HmacSha256Key::Message> m_Mac;
};

#endif // TVK_CHECK_FILE_H
