/*****************************************************************
| TvkTransform.cpp - the block pipeline.
****************************************************************/
#include "TvkTransform.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "Hardening.h"
#include "NptAes.h"
#include "NptBlockCipher.h"
#include "NptWipe.h"
#include "TvkBlockCipherFactory.h"
#include "TvkCryptoHelper.h"
#include "TvkStreamCipher.h"

namespace tvkcrypt {

namespace {

struct Worker {
    std::unique_ptr<NPT_UInt8[]>         buffer;
    std::unique_ptr<TVK_CtrStreamCipher> cipher;
    std::unique_ptr<TVK_CtrStreamCipher> next_cipher;  // a rekey's second key stream
    std::vector<NPT_UInt64>              damaged;  // check blocks of the step that failed
};

// One block handed to a worker: its place in the output order, its
// offset from the start of the transformed range, and its size.
struct Block {
    NPT_UInt64  index = 0;
    NPT_UInt64  offset = 0;
    std::size_t size = 0;
};

// How the job is cut: the bytes of a step, of a worker's buffer, and
// whether check blocks are larger than a buffer (handled in pieces).
struct Plan {
    std::size_t step = kBlockSize;
    std::size_t buffer = kBlockSize;
    bool        pieces = false;
    unsigned    workers = 1;
};

NPT_UInt32
CheckBlockSizeOf(const TransformJob& job)
{
    if (job.verify != nullptr) return job.verify->BlockSize();
    if (job.tag != nullptr) return job.tag->BlockSize();
    return 0;
}

// A step is a whole number of check blocks (both are powers of two)
// unless a check block exceeds the buffer limit; a buffer holds no more
// than the job reads.
Plan
PlanFor(const TransformJob& job)
{
    Plan plan;
    const std::size_t limit = job.buffer_limit > 0 ? job.buffer_limit : kBufferLimit;
    const std::size_t check = CheckBlockSizeOf(job);
    const std::size_t base = kBlockSize < limit ? kBlockSize : limit;
    plan.pieces = check > limit;
    plan.step = plan.pieces ? limit : (check > base ? check : base);
    plan.buffer = plan.step;
    if (job.bounded && job.length < plan.buffer) plan.buffer = job.length > 0 ? std::size_t(job.length) : 1;
    plan.workers = job.workers < 1 || plan.pieces ? 1 : job.workers;
    if (job.bounded) {
        const NPT_UInt64 steps = job.length / plan.step + (job.length % plan.step != 0 ? 1 : 0);
        if (steps < plan.workers) plan.workers = steps > 0 ? unsigned(steps) : 1;
    }
    return plan;
}

class Pipeline
{
public:
    explicit Pipeline(const TransformJob& job) : m_Job(job), m_Plan(PlanFor(job)) {}
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    TransformOutcome Run();

private:
    bool MakeWorkers(std::vector<Worker>& workers);
    void Work(Worker& worker);
    bool Claim(NPT_UInt8* buffer, Block& block);
    bool ClaimAt(NPT_UInt8* buffer, Block& block);
    bool ClaimInOrder(NPT_UInt8* buffer, Block& block);
    bool ReadFull(NPT_UInt8* buffer, NPT_UInt64 offset, std::size_t size, std::size_t& got);
    std::size_t NextSize() const;
    void Fail(TransformOutcome::Failure failure, SysError error, NPT_Result result,
              NPT_UInt64 damaged_offset = 0);
    bool Check(Worker& worker, const Block& block);
    void ZeroDamaged(const Worker& worker, NPT_UInt8* part, std::size_t size, NPT_UInt64 begin) const;
    bool Produce(Worker& worker, const Block& block);
    bool TransformPart(Worker& worker, const Block& block, NPT_UInt8*& part, std::size_t& size,
                       NPT_UInt64& begin);
    bool Write(const Block& block, const NPT_UInt8* part, std::size_t size, NPT_UInt64 begin);

    // check blocks larger than a buffer
    void WorkInPieces(Worker& worker);
    NPT_UInt64 PieceBlockLength(NPT_UInt64 index, NPT_UInt64 done) const;
    bool PieceBlock(Worker& worker, NPT_UInt64 index, NPT_UInt64 start, NPT_UInt64 length, bool write);
    bool VerifyPieces(Worker& worker, NPT_UInt64 index, NPT_UInt64 start, NPT_UInt64 length);
    bool NothingMore(Worker& worker, NPT_UInt64 done);

    const TransformJob& m_Job;
    const Plan          m_Plan;

    // claiming blocks, and the reads of a pipe, happen under m_ReadLock
    std::mutex  m_ReadLock;
    NPT_UInt64  m_NextIndex = 0;
    NPT_UInt64  m_NextOffset = 0;
    bool        m_InputDone = false;

    // ordered output: the worker holding block m_WriteTurn writes it and
    // passes the turn on. Progress and the outcome are kept under m_Lock.
    std::mutex              m_Lock;
    std::condition_variable m_TurnChanged;
    NPT_UInt64              m_WriteTurn = 0;
    std::atomic<bool>       m_Failed{false};
    TransformOutcome        m_Outcome;
};

std::size_t
Pipeline::NextSize() const
{
    if (!m_Job.bounded) return m_Plan.step;
    NPT_UInt64 left = m_Job.length - m_NextOffset;
    return left < m_Plan.step ? static_cast<std::size_t>(left) : m_Plan.step;
}

// The first failure is kept, except that a damaged block before the one
// reported first takes its place.
void
Pipeline::Fail(TransformOutcome::Failure failure, SysError error, NPT_Result result, NPT_UInt64 damaged_offset)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (!m_Failed.load()) {
        m_Outcome.failure = failure;
        m_Outcome.error = error;
        m_Outcome.result = result;
        m_Outcome.damaged_offset = damaged_offset;
        m_Failed.store(true);
    } else if (failure == TransformOutcome::DATA_CHANGED && m_Outcome.failure == failure &&
               damaged_offset < m_Outcome.damaged_offset) {
        m_Outcome.damaged_offset = damaged_offset;
    }
    m_TurnChanged.notify_all();
}

// Reads size bytes at offset (from the start of the range) of a
// seekable input, or the next ones of a pipe until they are there or
// it ends. A read error fails the job; got may be short at the end.
bool
Pipeline::ReadFull(NPT_UInt8* buffer, NPT_UInt64 offset, std::size_t size, std::size_t& got)
{
    got = 0;
    SysError error = 0;
    if (m_Job.input_seekable) {
        error = ReadAt(*m_Job.input, buffer, size, m_Job.input_position + offset, got);
    } else {
        while (!error && got < size) {
            std::size_t more = 0;
            error = ReadSome(*m_Job.input, buffer + got, size - got, more);
            if (more == 0) break;
            got += more;
        }
    }
    if (error) Fail(TransformOutcome::READ, error, NPT_SUCCESS);
    return !error;
}

// Seekable input: claim the next range under the lock, read it outside.
bool
Pipeline::ClaimAt(NPT_UInt8* buffer, Block& block)
{
    {
        std::lock_guard<std::mutex> lock(m_ReadLock);
        if (m_InputDone || m_Failed.load()) return false;
        block.size = NextSize();
        if (block.size == 0) {
            m_InputDone = true;
            return false;
        }
        block.index = m_NextIndex++;
        block.offset = m_NextOffset;
        m_NextOffset += block.size;
    }
    std::size_t got = 0;
    if (!ReadFull(buffer, block.offset, block.size, got)) return false;
    if (got < block.size) {
        // the file was cut while we read it: its end is gone
        Fail(TransformOutcome::INPUT_SHRANK, 0, NPT_SUCCESS);
        return false;
    }
    return true;
}

// Pipe input: one reader at a time, blocks numbered in reading order.
bool
Pipeline::ClaimInOrder(NPT_UInt8* buffer, Block& block)
{
    std::lock_guard<std::mutex> lock(m_ReadLock);
    if (m_InputDone || m_Failed.load()) return false;
    std::size_t wanted = NextSize();
    if (wanted == 0) {
        m_InputDone = true;
        return false;
    }
    std::size_t got = 0;
    if (CheckBlockSizeOf(m_Job) != 0) {
        // with a check file, steps must hold whole check blocks: read on
        // until the step is full or the input ends
        if (!ReadFull(buffer, m_NextOffset, wanted, got)) return false;
    } else if (SysError error = ReadSome(*m_Job.input, buffer, wanted, got)) {
        Fail(TransformOutcome::READ, error, NPT_SUCCESS);
        return false;
    }
    if (got == 0) {
        m_InputDone = true;
        return false;
    }
    block.index = m_NextIndex++;
    block.offset = m_NextOffset;
    block.size = got;
    m_NextOffset += got;
    return true;
}

bool
Pipeline::Claim(NPT_UInt8* buffer, Block& block)
{
    return m_Job.input_seekable ? ClaimAt(buffer, block) : ClaimInOrder(buffer, block);
}

// Verifies the ciphertext just read against its tags; on a mismatch,
// finds the first block that fails, or (job.damaged_blocks) every one,
// and goes on.
bool
Pipeline::Check(Worker& worker, const Block& block)
{
    worker.damaged.clear();
    if (m_Job.verify == nullptr) return true;
    const NPT_UInt8* buffer = worker.buffer.get();
    const TVK_CheckFileReader& reader = *m_Job.verify;
    const NPT_UInt64 block_size = reader.BlockSize();
    const NPT_UInt64 first = (m_Job.stream_offset + block.offset) / block_size;
    if (NPT_SUCCEEDED(reader.VerifyBlocks(first, buffer, static_cast<NPT_Size>(block.size)))) return true;
    NPT_UInt64 index = first;
    for (NPT_UInt64 at = 0; at < block.size; at += block_size, ++index) {
        const NPT_UInt64 left = block.size - at;
        const NPT_Size length = static_cast<NPT_Size>(left < block_size ? left : block_size);
        if (NPT_FAILED(reader.VerifyBlock(index, buffer + at, length))) {
            worker.damaged.push_back(index);
            if (m_Job.damaged_blocks == nullptr) break;
        }
    }
    if (m_Job.damaged_blocks != nullptr) {
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Job.damaged_blocks->insert(m_Job.damaged_blocks->end(), worker.damaged.begin(), worker.damaged.end());
        return true;
    }
    Fail(TransformOutcome::DATA_CHANGED, 0, NPT_SUCCESS, worker.damaged.front() * block_size);
    return false;
}

// Zeros in the output for the damaged check blocks of the step: part
// holds the range's bytes from begin, size long.
void
Pipeline::ZeroDamaged(const Worker& worker, NPT_UInt8* part, std::size_t size, NPT_UInt64 begin) const
{
    const NPT_UInt64 block_size = m_Job.verify->BlockSize();
    for (NPT_UInt64 index : worker.damaged) {
        // the block's bytes, from the start of the range
        NPT_UInt64 from = index * block_size - m_Job.stream_offset;
        NPT_UInt64 to = from + block_size;
        if (from < begin) from = begin;
        if (to > begin + size) to = begin + size;
        if (to > from) std::memset(part + (from - begin), 0, static_cast<std::size_t>(to - from));
    }
}

// The part of a block that lies in the output window, transformed
// (and tagged when a check file is being made): part, size and its
// offset begin from the start of the range.
bool
Pipeline::TransformPart(Worker& worker, const Block& block, NPT_UInt8*& part, std::size_t& size,
                        NPT_UInt64& begin)
{
    begin = block.offset;
    NPT_UInt64 end = block.offset + block.size;
    if (begin < m_Job.output_skip) begin = m_Job.output_skip;
    if (m_Job.output_bounded && end > m_Job.output_skip + m_Job.output_length) {
        end = m_Job.output_skip + m_Job.output_length;
    }
    const bool any = m_Job.key != nullptr && end > begin;
    size = any ? static_cast<std::size_t>(end - begin) : 0;
    part = worker.buffer.get() + (any ? begin - block.offset : 0);
    if (!any) return true;
    worker.cipher->SetStreamOffset(m_Job.stream_offset + begin);
    NPT_Size out_size = static_cast<NPT_Size>(size);
    NPT_Result result = worker.cipher->ProcessBuffer(part, static_cast<NPT_Size>(size), part, &out_size, false);
    if (NPT_SUCCEEDED(result) && worker.next_cipher) {
        worker.next_cipher->SetStreamOffset(m_Job.stream_offset + begin);
        result = worker.next_cipher->ProcessBuffer(part, static_cast<NPT_Size>(size), part, &out_size, false);
    }
    if (NPT_SUCCEEDED(result) && m_Job.tag != nullptr && !m_Plan.pieces) {
        result = m_Job.tag->AddBlocks((m_Job.stream_offset + begin) / m_Job.tag->BlockSize(), part,
                                      static_cast<NPT_Size>(size));
    }
    if (NPT_FAILED(result)) Fail(TransformOutcome::CIPHER, 0, result);
    return NPT_SUCCEEDED(result);
}

// Writes a part at its place, or in order, and counts the block done.
bool
Pipeline::Write(const Block& block, const NPT_UInt8* part, std::size_t size, NPT_UInt64 begin)
{
    SysError error = 0;
    if (m_Job.output_positioned) {
        if (size > 0) error = WriteAt(*m_Job.output, part, size, begin - m_Job.output_skip);
    } else {
        {
            std::unique_lock<std::mutex> lock(m_Lock);
            m_TurnChanged.wait(lock, [&] { return m_WriteTurn == block.index || m_Failed.load(); });
            if (m_Failed.load()) return false;
        }
        // this worker holds the turn: nobody else writes now
        if (size > 0 && m_Job.output != nullptr) error = WriteAll(*m_Job.output, part, size);
    }
    if (error) {
        Fail(TransformOutcome::WRITE, error, NPT_SUCCESS);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_Lock);
        if (m_Job.progress != nullptr) m_Job.progress->Advance(block.size);
        m_Outcome.bytes_done += size;
        m_Outcome.bytes_read += block.size;
        if (!m_Job.output_positioned) ++m_WriteTurn;
    }
    m_TurnChanged.notify_all();
    return true;
}

// Tags existing ciphertext as it is read, or transforms and writes the
// part of a block that lies in the output window.
bool
Pipeline::Produce(Worker& worker, const Block& block)
{
    if (m_Job.key == nullptr && m_Job.tag != nullptr) {
        NPT_Result result = m_Job.tag->AddBlocks((m_Job.stream_offset + block.offset) / m_Job.tag->BlockSize(),
                                                 worker.buffer.get(), static_cast<NPT_Size>(block.size));
        if (NPT_FAILED(result)) {
            Fail(TransformOutcome::CIPHER, 0, result);
            return false;
        }
    }
    NPT_UInt8* part = nullptr;
    std::size_t size = 0;
    NPT_UInt64 begin = 0;
    if (!TransformPart(worker, block, part, size, begin)) return false;
    if (!worker.damaged.empty()) ZeroDamaged(worker, part, size, begin);
    return Write(block, part, size, begin);
}

void
Pipeline::Work(Worker& worker)
{
    Block block;
    while (Claim(worker.buffer.get(), block)) {
        if (!Check(worker, block) || !Produce(worker, block)) return;
    }
}

/*----------------------------------------------------------------------
|   check blocks larger than a buffer
+---------------------------------------------------------------------*/
// The length of check block index, which starts done bytes into the
// range: the check file's when verifying, the rest of the range (up to
// a block) when tagging; 0 past the end.
NPT_UInt64
Pipeline::PieceBlockLength(NPT_UInt64 index, NPT_UInt64 done) const
{
    NPT_UInt64 length = 0;
    if (m_Job.verify != nullptr) {
        length = m_Job.verify->BlockLength(index);
    } else {
        length = m_Job.tag->BlockSize();
    }
    if (m_Job.bounded && length > m_Job.length - done) length = m_Job.length - done;
    return length;
}

// Reads the check block index (length bytes from start) in pieces,
// verifying or tagging it over the pieces; write: the pieces are also
// transformed and written as they pass.
bool
Pipeline::PieceBlock(Worker& worker, NPT_UInt64 index, NPT_UInt64 start, NPT_UInt64 length, bool write)
{
    TVK_CheckBlockPieces pieces;
    NPT_Result result = m_Job.verify != nullptr
                            ? pieces.StartVerifying(*m_Job.verify, index)
                            : pieces.StartTagging(*m_Job.tag, index, static_cast<NPT_UInt32>(length));
    Block block;
    for (NPT_UInt64 at = 0; NPT_SUCCEEDED(result) && at < length; at += block.size) {
        if (write) block.index = m_NextIndex++;  // the turn of an ordered output
        block.offset = start + at;
        block.size = length - at < m_Plan.step ? static_cast<std::size_t>(length - at) : m_Plan.step;
        std::size_t got = 0;
        if (!ReadFull(worker.buffer.get(), block.offset, block.size, got)) return false;
        if (got < block.size) {
            if (m_Job.verify != nullptr) break;  // a cut block fails its tag
            Fail(TransformOutcome::INPUT_SHRANK, 0, NPT_SUCCESS);
            return false;
        }
        // ciphertext before the transform, or made by it
        if (m_Job.verify != nullptr || m_Job.key == nullptr) {
            result = pieces.Add(worker.buffer.get(), static_cast<NPT_Size>(block.size));
        }
        NPT_UInt8* part = nullptr;
        std::size_t size = 0;
        NPT_UInt64 begin = 0;
        if (NPT_SUCCEEDED(result) && write) {
            if (!TransformPart(worker, block, part, size, begin)) return false;
            if (m_Job.tag != nullptr && m_Job.key != nullptr) {
                result = pieces.Add(part, static_cast<NPT_Size>(size));
            }
            if (NPT_SUCCEEDED(result) && !Write(block, part, size, begin)) return false;
        }
    }
    if (NPT_SUCCEEDED(result)) result = pieces.Finish();
    if (result == TVK_ERROR_DATA_DAMAGED) {
        Fail(TransformOutcome::DATA_CHANGED, 0, NPT_SUCCESS, index * m_Job.verify->BlockSize());
    } else if (NPT_FAILED(result)) {
        Fail(TransformOutcome::CIPHER, 0, result);
    }
    return NPT_SUCCEEDED(result);
}

// A seekable input's block verified first, then read again, decrypted
// and written; the second reading must match the tag too.
bool
Pipeline::VerifyPieces(Worker& worker, NPT_UInt64 index, NPT_UInt64 start, NPT_UInt64 length)
{
    return PieceBlock(worker, index, start, length, false) && PieceBlock(worker, index, start, length, true);
}

// After the last block of a pipe being verified: any further byte is
// an extension of the data.
bool
Pipeline::NothingMore(Worker& worker, NPT_UInt64 done)
{
    if (m_Job.bounded || m_Job.input_seekable) return true;
    std::size_t got = 0;
    if (!ReadFull(worker.buffer.get(), done, 1, got)) return false;
    if (got == 0) return true;
    m_Outcome.bytes_read += got;
    Fail(TransformOutcome::DATA_CHANGED, 0, NPT_SUCCESS, done);
    return false;
}

void
Pipeline::WorkInPieces(Worker& worker)
{
    const NPT_UInt64 block_size = CheckBlockSizeOf(m_Job);
    const bool verify_first = m_Job.verify != nullptr && m_Job.key != nullptr && !m_Job.output_discarded_on_failure;
    const bool ready = m_Job.verify != nullptr ? (!verify_first || m_Job.input_seekable) : m_Job.bounded;
    if (!ready) {
        Fail(TransformOutcome::CIPHER, 0, NPT_ERROR_NOT_SUPPORTED);
        return;
    }
    NPT_UInt64 done = 0;
    for (NPT_UInt64 index = m_Job.stream_offset / block_size;; ++index) {
        const NPT_UInt64 length = PieceBlockLength(index, done);
        if (length == 0) {
            NothingMore(worker, done);
            return;
        }
        const bool ok = verify_first ? VerifyPieces(worker, index, done, length)
                                     : PieceBlock(worker, index, done, length, true);
        if (!ok) return;
        done += length;
    }
}

/*----------------------------------------------------------------------
|   the run
+---------------------------------------------------------------------*/
// A worker's counter-mode cipher under the 16-byte key.
static NPT_Result
MakeCipher(const NPT_UInt8* key, std::unique_ptr<TVK_CtrStreamCipher>& cipher)
{
    NPT_BlockCipher* block_cipher = nullptr;
    NPT_Result result = TVK_DefaultBlockCipherFactory::Instance.Create(
        NPT_BlockCipher::AES_128, NPT_BlockCipher::ENCRYPT, key, TVK_CryptoHelper::KEY_SIZE, block_cipher);
    if (NPT_FAILED(result)) return result;
    // its schedule starts with the key itself: out of swap, like the key
    if (const NPT_AesBlockEncrypter* aes = dynamic_cast<const NPT_AesBlockEncrypter*>(block_cipher)) {
        LockSecretRange(aes, sizeof(*aes));
    }
    cipher.reset(new TVK_CtrStreamCipher(block_cipher, TVK_CryptoHelper::EXPANSION_FACTOR));
    return NPT_SUCCESS;
}

bool
Pipeline::MakeWorkers(std::vector<Worker>& workers)
{
    for (Worker& worker : workers) {
        worker.buffer.reset(new (std::nothrow) NPT_UInt8[m_Plan.buffer]);
        NPT_Result result = worker.buffer ? NPT_SUCCESS : NPT_ERROR_OUT_OF_MEMORY;
        if (NPT_SUCCEEDED(result) && m_Job.key != nullptr) result = MakeCipher(m_Job.key, worker.cipher);
        if (NPT_SUCCEEDED(result) && m_Job.next_key != nullptr) result = MakeCipher(m_Job.next_key, worker.next_cipher);
        // one reader of a block both verifies and tags it: not in pieces
        if (NPT_SUCCEEDED(result) && m_Plan.pieces && m_Job.verify != nullptr && m_Job.tag != nullptr) {
            result = NPT_ERROR_NOT_SUPPORTED;
        }
        if (NPT_FAILED(result)) {
            m_Outcome.failure = TransformOutcome::CIPHER;
            m_Outcome.result = result;
            return false;
        }
    }
    return true;
}

TransformOutcome
Pipeline::Run()
{
    std::vector<Worker> workers(m_Plan.workers);
    const bool made = MakeWorkers(workers);
    // the ciphers hold the key now: no other copy is needed
    if (m_Job.key != nullptr) NPT_WipeMemory(m_Job.key, TVK_CryptoHelper::KEY_SIZE);
    if (m_Job.next_key != nullptr) NPT_WipeMemory(m_Job.next_key, TVK_CryptoHelper::KEY_SIZE);
    m_Outcome.buffer_size = m_Plan.buffer;
    if (!made) return m_Outcome;

    std::vector<std::thread> threads;
    if (m_Plan.pieces) {
        WorkInPieces(workers[0]);
    } else {
        for (unsigned i = 1; i < workers.size(); ++i) {
            try {
                threads.emplace_back(&Pipeline::Work, this, std::ref(workers[i]));
            } catch (const std::system_error&) {
                break;  // fewer threads: the remaining workers share the job
            }
        }
        Work(workers[0]);
        for (std::thread& thread : threads) thread.join();
    }
    m_Outcome.workers = static_cast<unsigned>(threads.size()) + 1;

    // the buffers held cleartext
    for (Worker& worker : workers) NPT_WipeMemory(worker.buffer.get(), m_Plan.buffer);
    return m_Outcome;
}

}  // namespace

TransformOutcome
RunTransform(const TransformJob& job)
{
    Pipeline pipeline(job);
    return pipeline.Run();
}

}  // namespace tvkcrypt
