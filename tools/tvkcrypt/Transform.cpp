/*****************************************************************
| Transform.cpp - the block pipeline of tvkcrypt.
****************************************************************/
#include "Transform.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "NptBlockCipher.h"
#include "NptWipe.h"
#include "Progress.h"
#include "TvkBlockCipherFactory.h"
#include "TvkCryptoHelper.h"
#include "TvkStreamCipher.h"

namespace tvkcrypt {

namespace {

struct Worker {
    std::unique_ptr<NPT_UInt8[]>         buffer;
    std::unique_ptr<TVK_CtrStreamCipher> cipher;
};

// One block handed to a worker: its place in the output order, its
// offset from the start of the transformed range, and its size.
struct Block {
    NPT_UInt64  index = 0;
    NPT_UInt64  offset = 0;
    std::size_t size = 0;
};

class Pipeline
{
public:
    explicit Pipeline(const TransformJob& job) : m_Job(job), m_Step(StepFor(job)) {}
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    TransformOutcome Run();

private:
    void Work(Worker& worker);
    bool Claim(NPT_UInt8* buffer, Block& block);
    bool ClaimAt(NPT_UInt8* buffer, Block& block);
    bool ClaimInOrder(NPT_UInt8* buffer, Block& block);
    std::size_t NextSize() const;
    void Fail(TransformOutcome::Failure failure, SysError error, NPT_Result result);
    bool Check(const NPT_UInt8* buffer, const Block& block);
    bool Produce(Worker& worker, const Block& block);
    static std::size_t StepFor(const TransformJob& job);
    NPT_UInt32 CheckBlockSize() const;

    const TransformJob& m_Job;
    const std::size_t   m_Step;  // bytes per block of the pipeline

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

NPT_UInt32
Pipeline::CheckBlockSize() const
{
    if (m_Job.verify != nullptr) return m_Job.verify->BlockSize();
    if (m_Job.tag != nullptr) return m_Job.tag->BlockSize();
    return 0;
}

// A whole number of check blocks (both are powers of two).
std::size_t
Pipeline::StepFor(const TransformJob& job)
{
    NPT_UInt32 check = job.verify != nullptr ? job.verify->BlockSize()
                       : job.tag != nullptr  ? job.tag->BlockSize()
                                             : 0;
    return check > kBlockSize ? check : kBlockSize;
}

std::size_t
Pipeline::NextSize() const
{
    if (!m_Job.bounded) return m_Step;
    NPT_UInt64 left = m_Job.length - m_NextOffset;
    return left < m_Step ? static_cast<std::size_t>(left) : m_Step;
}

void
Pipeline::Fail(TransformOutcome::Failure failure, SysError error, NPT_Result result)
{
    std::lock_guard<std::mutex> lock(m_Lock);
    if (!m_Failed.load()) {
        m_Outcome.failure = failure;
        m_Outcome.error = error;
        m_Outcome.result = result;
        m_Failed.store(true);
    }
    m_TurnChanged.notify_all();
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
    SysError error = ReadAt(*m_Job.input, buffer, block.size, m_Job.input_position + block.offset, got);
    if (error) {
        Fail(TransformOutcome::READ, error, NPT_SUCCESS);
        return false;
    }
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
    // with a check file, steps must hold whole check blocks: read on
    // until the step is full or the input ends
    const bool whole = CheckBlockSize() != 0;
    std::size_t got = 0;
    for (;;) {
        std::size_t more = 0;
        SysError error = ReadSome(*m_Job.input, buffer + got, wanted - got, more);
        if (error) {
            Fail(TransformOutcome::READ, error, NPT_SUCCESS);
            return false;
        }
        got += more;
        if (!whole || more == 0 || got == wanted) break;
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

// Verifies the ciphertext just read against its tags.
bool
Pipeline::Check(const NPT_UInt8* buffer, const Block& block)
{
    if (m_Job.verify == nullptr) return true;
    const NPT_UInt64 first = (m_Job.stream_offset + block.offset) / m_Job.verify->BlockSize();
    if (m_Job.verify->VerifyBlocks(first, buffer, static_cast<NPT_Size>(block.size)) == NPT_SUCCESS) return true;
    Fail(TransformOutcome::DATA_CHANGED, 0, NPT_SUCCESS);
    return false;
}

// Transforms and writes the part of a block that lies in the output
// window (tagging the result when a check file is being made).
bool
Pipeline::Produce(Worker& worker, const Block& block)
{
    NPT_UInt8* buffer = worker.buffer.get();
    NPT_UInt64 begin = block.offset;
    NPT_UInt64 end = block.offset + block.size;
    if (begin < m_Job.output_skip) begin = m_Job.output_skip;
    if (m_Job.output_bounded && end > m_Job.output_skip + m_Job.output_length) {
        end = m_Job.output_skip + m_Job.output_length;
    }
    const bool any = m_Job.key != nullptr && end > begin;
    const std::size_t size = any ? static_cast<std::size_t>(end - begin) : 0;
    NPT_UInt8* part = buffer + (any ? begin - block.offset : 0);
    if (m_Job.key == nullptr && m_Job.tag != nullptr) {
        // tagging existing ciphertext as it is read
        NPT_Result result = m_Job.tag->AddBlocks((m_Job.stream_offset + block.offset) / m_Job.tag->BlockSize(),
                                                 buffer, static_cast<NPT_Size>(block.size));
        if (NPT_FAILED(result)) {
            Fail(TransformOutcome::CIPHER, 0, result);
            return false;
        }
    }
    if (any) {
        worker.cipher->SetStreamOffset(m_Job.stream_offset + begin);
        NPT_Size out_size = static_cast<NPT_Size>(size);
        NPT_Result result = worker.cipher->ProcessBuffer(part, static_cast<NPT_Size>(size), part, &out_size, false);
        if (NPT_SUCCEEDED(result) && m_Job.tag != nullptr) {
            result = m_Job.tag->AddBlocks((m_Job.stream_offset + begin) / m_Job.tag->BlockSize(), part,
                                          static_cast<NPT_Size>(size));
        }
        if (NPT_FAILED(result)) {
            Fail(TransformOutcome::CIPHER, 0, result);
            return false;
        }
    }
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

void
Pipeline::Work(Worker& worker)
{
    Block block;
    while (Claim(worker.buffer.get(), block)) {
        if (!Check(worker.buffer.get(), block) || !Produce(worker, block)) return;
    }
}

TransformOutcome
Pipeline::Run()
{
    unsigned count = m_Job.workers < 1 ? 1 : m_Job.workers;
    std::vector<Worker> workers(count);
    for (Worker& worker : workers) {
        worker.buffer.reset(new NPT_UInt8[m_Step]);
        if (m_Job.key == nullptr) continue;
        NPT_BlockCipher* block_cipher = nullptr;
        NPT_Result result = TVK_DefaultBlockCipherFactory::Instance.Create(
            NPT_BlockCipher::AES_128, NPT_BlockCipher::ENCRYPT, m_Job.key,
            TVK_CryptoHelper::KEY_SIZE, block_cipher);
        if (NPT_FAILED(result)) {
            NPT_WipeMemory(m_Job.key, TVK_CryptoHelper::KEY_SIZE);
            m_Outcome.failure = TransformOutcome::CIPHER;
            m_Outcome.result = result;
            return m_Outcome;
        }
        worker.cipher.reset(new TVK_CtrStreamCipher(block_cipher, TVK_CryptoHelper::EXPANSION_FACTOR));
    }
    // the ciphers hold the key now: no other copy is needed
    if (m_Job.key != nullptr) NPT_WipeMemory(m_Job.key, TVK_CryptoHelper::KEY_SIZE);

    std::vector<std::thread> threads;
    for (unsigned i = 1; i < count; ++i) {
        try {
            threads.emplace_back(&Pipeline::Work, this, std::ref(workers[i]));
        } catch (const std::system_error&) {
            break;  // fewer threads: the remaining workers share the job
        }
    }
    Work(workers[0]);
    for (std::thread& thread : threads) thread.join();

    // the buffers held cleartext
    for (Worker& worker : workers) NPT_WipeMemory(worker.buffer.get(), m_Step);
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
