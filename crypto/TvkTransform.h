/*****************************************************************
| TvkTransform.h - the block pipeline that encrypts or decrypts a file
| or a pipe with TVK_CtrStreamCipher, for the tool and the library's
| file form.
|
| The format is a key stream XORed onto the data at each byte's offset,
| so any block can be transformed on its own once its cipher is placed
| at the block's offset. RunTransform reads the input in large blocks,
| transforms each in place, and writes it out. Each worker owns one
| block buffer and one cipher. A seekable input is read with positioned
| reads (no shared file position); a pipe is read by one worker at a
| time, in order. A fresh output file is written with positioned writes
| too, so the workers never wait for each other; any other output (a
| pipe, a terminal, a device) gets the blocks in order: one worker reads
| and transforms block k+1 while the other writes block k.
|
| Encrypting and decrypting are the same transformation: the caller
| only chooses the key.
|
| With a check file, the pipeline works in whole check blocks: the read
| window starts at a block boundary, every step covers whole blocks
| (a pipe is read until a step is full), and each worker verifies the
| ciphertext it read against its tags before transforming it (so no
| unverified byte is ever written out), or tags the ciphertext it made.
| The part of the window that was asked for is given by output_skip and
| output_length; the rest is read only to be verified.
|
| Memory: a worker's buffer holds one step (kBlockSize, or a check
| block when larger), never more than the job reads and never more than
| buffer_limit, whatever the check file says; only as many workers start
| as there are steps. A check block larger than buffer_limit (a check
| file may have blocks of 1 GiB) is handled by one worker in pieces of
| buffer_limit bytes, its tag computed over the pieces as they pass
| (TVK_CheckBlockPieces). Tagging needs the job bounded then. Verifying
| before decrypting: into an output that is discarded on failure, the
| pieces are decrypted as they pass and the block's tag is checked at
| its end; into any other output each block is read twice, verified
| first and then decrypted, and a block that changes between the two
| readings fails at its end (a seekable input only; a pipe is refused,
| NPT_ERROR_NOT_SUPPORTED).
|
| Private to the library (its signatures hold the platform's files). A
| job is run by one thread at a time, which starts the workers.
****************************************************************/
#ifndef TVK_TRANSFORM_H
#define TVK_TRANSFORM_H

#include <cstddef>
#include <vector>

#include "FileHandle.h"
#include "NptResults.h"
#include "NptTypes.h"
#include "SysError.h"
#include "TvkCheckFile.h"

namespace tvkcrypt {

// Bytes per block read, transformed and written in one step.
const std::size_t kBlockSize = std::size_t(1) << 20;
// The most a worker's buffer holds by default.
const std::size_t kBufferLimit = std::size_t(16) << 20;

// What a running job reports: the bytes handled so far, from the thread
// that writes them (one at a time).
class TransformProgress
{
public:
    virtual ~TransformProgress() = default;
    virtual void Advance(NPT_UInt64 bytes) = 0;
};

struct TransformJob {
    const FileHandle* input = nullptr;
    // true: a file, read with ReadAt from input_position on, which must
    // deliver all length bytes (fewer means it was cut while we read);
    // false: a pipe or device, read in order until its end
    bool        input_seekable = false;
    NPT_UInt64  input_position = 0;
    // when bounded, at most length bytes are transformed
    bool        bounded = false;
    NPT_UInt64  length = 0;
    // key-stream offset of the first byte transformed
    NPT_UInt64  stream_offset = 0;
    const FileHandle* output = nullptr;
    // true: block at offset x goes to output position x (a new file that
    // nobody else writes); false: blocks are written in order
    bool        output_positioned = false;
    // true: the output is a temporary that nobody sees unless the job
    // succeeds (see the memory note above)
    bool        output_discarded_on_failure = false;
    // of the bytes read, the first output_skip are not written out, and
    // (when output_bounded) at most output_length after them
    NPT_UInt64  output_skip = 0;
    bool        output_bounded = false;
    NPT_UInt64  output_length = 0;
    // 16 bytes, wiped by RunTransform as soon as the ciphers hold it;
    // null: nothing is transformed or written (verification only)
    NPT_UInt8*  key = nullptr;
    // 16 bytes, wiped as key is: the data goes through key's stream and
    // then this one's, in one pass (a rekey: new = old XOR old stream
    // XOR new stream)
    NPT_UInt8*  next_key = nullptr;
    // blocks read are verified before they are transformed (stream_offset
    // is then a multiple of the block size), and blocks made are tagged
    // (stream_offset 0); both only for a rekey, and not in pieces
    // (NPT_ERROR_NOT_SUPPORTED)
    const TVK_CheckFileReader* verify = nullptr;
    TVK_CheckFileWriter*       tag = nullptr;
    // with verify: a block that does not match its tag does not stop the
    // job; its index is added here (in no order), and its bytes in the
    // output are zeros (salvage; to report every damaged block). Check
    // blocks larger than buffer_limit still stop at the first.
    std::vector<NPT_UInt64>*   damaged_blocks = nullptr;
    unsigned    workers = 1;
    std::size_t buffer_limit = kBufferLimit;
    TransformProgress* progress = nullptr;   // may be null
};

struct TransformOutcome {
    enum Failure {
        NONE,
        READ,          // error: errno of the read
        WRITE,         // error: errno of the write
        INPUT_SHRANK,  // a file delivered fewer bytes than it had
        CIPHER,        // result: the library's code
        DATA_CHANGED   // a block does not match its tag
    };
    Failure     failure = NONE;
    SysError    error = 0;
    NPT_Result  result = NPT_SUCCESS;
    NPT_UInt64  bytes_done = 0;     // bytes written
    NPT_UInt64  bytes_read = 0;     // bytes read and handled
    // DATA_CHANGED: the data offset of the check block that failed
    NPT_UInt64  damaged_offset = 0;
    std::size_t buffer_size = 0;    // bytes of each worker's buffer
    unsigned    workers = 0;        // workers that ran
};

TransformOutcome RunTransform(const TransformJob& job);

}  // namespace tvkcrypt

#endif  // TVK_TRANSFORM_H
