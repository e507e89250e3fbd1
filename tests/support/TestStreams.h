/*****************************************************************
| TestStreams.h - configurable fake streams shared by every stream test.
|
| FakeInputStream  a source over an in-memory byte vector. Options:
|                  short reads (max_read), a failure code after K bytes
|                  (fail_after/fail_code), failing or faked GetSize,
|                  GetAvailable, Seek and Tell, and a contract-breaking
|                  zero-byte success. It counts its calls and records the
|                  size of every Read request.
| FakeOutputStream a sink that records every byte it accepts. Options:
|                  short writes (max_write), a failure code after K bytes,
|                  failing Seek/Tell/Flush, zero-byte success. It counts
|                  Write, Flush, Seek and Tell calls and records requests.
|
| The options are plain public fields: set the ones a test needs after
| construction; the defaults give a well-behaved stream. The fakes can
| live on the stack or on the heap behind an NPT_Reference (a test that
| hands one to a wrapping stream keeps a raw pointer to inspect it).
|
| Not thread-safe; header-only so every test program can include it.
****************************************************************/
#ifndef TVK_TEST_STREAMS_H
#define TVK_TEST_STREAMS_H

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "NptStreams.h"

namespace tvk_test {

// Deterministic, non-repeating-looking bytes: byte i of a pattern with
// the given seed. Two different offsets rarely give equal runs, so a
// misplaced or reordered chunk is caught by comparison.
inline NPT_Byte PatternByte(NPT_UInt64 i, NPT_UInt32 seed = 0)
{
    NPT_UInt64 x = (i + 1) * 0x9E3779B97F4A7C15ULL + seed * 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 31;
    x *= 0x94D049BB133111EBULL;
    x ^= x >> 29;
    return static_cast<NPT_Byte>(x);
}

inline std::vector<NPT_Byte> MakePattern(size_t size, NPT_UInt32 seed = 0)
{
    std::vector<NPT_Byte> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = PatternByte(i, seed);
    return bytes;
}

inline std::vector<NPT_Byte> BytesOf(const std::string& text)
{
    return std::vector<NPT_Byte>(text.begin(), text.end());
}

/*----------------------------------------------------------------------
|   FakeInputStream
+---------------------------------------------------------------------*/
class FakeInputStream : public NPT_InputStream
{
public:
    // ---- options (defaults: a well-behaved stream over data) ----

    // At most this many bytes per Read (0: no limit).
    NPT_Size max_read = 0;
    // Once position >= fail_after, Read returns fail_code (count 0). A
    // read crossing the mark delivers the bytes up to it first.
    std::optional<NPT_Position> fail_after;
    NPT_Result fail_code = NPT_FAILURE;
    // Read returns NPT_SUCCESS with 0 bytes instead of delivering data
    // (breaks the Read contract on purpose).
    bool zero_byte_success = false;

    // Non-success codes make the call fail with that code (the output
    // is then 0).
    NPT_Result get_size_result      = NPT_SUCCESS;
    NPT_Result get_available_result = NPT_SUCCESS;
    NPT_Result seek_result          = NPT_SUCCESS;
    NPT_Result tell_result          = NPT_SUCCESS;
    // When set, reported instead of the real size / remaining count.
    std::optional<NPT_LargeSize> reported_size;
    std::optional<NPT_LargeSize> reported_available;

    // ---- observations ----
    int read_calls = 0, seek_calls = 0, tell_calls = 0;
    int get_size_calls = 0, get_available_calls = 0, close_calls = 0;
    std::vector<NPT_Size>     read_requests;   // bytes_to_read of each Read
    std::vector<NPT_Position> seek_targets;    // argument of each Seek
    // Set by the destructor when given: lets a test observe deletion
    // through a handle.
    bool* deleted_flag = nullptr;

    FakeInputStream() = default;
    explicit FakeInputStream(std::vector<NPT_Byte> data) : m_Data(std::move(data)) {}
    ~FakeInputStream() override { if (deleted_flag) *deleted_flag = true; }

    FakeInputStream(const FakeInputStream&) = delete;
    FakeInputStream& operator=(const FakeInputStream&) = delete;

    const std::vector<NPT_Byte>& Data() const { return m_Data; }
    NPT_Position Position() const { return m_Position; }
    NPT_Size MaxReadRequest() const
    {
        return read_requests.empty()
            ? 0 : *std::max_element(read_requests.begin(), read_requests.end());
    }

    NPT_Result Read(void* buffer, NPT_Size bytes_to_read, NPT_Size* bytes_read) override
    {
        ++read_calls;
        read_requests.push_back(bytes_to_read);
        if (bytes_read) *bytes_read = 0;
        if (bytes_to_read == 0) return NPT_SUCCESS;
        if (zero_byte_success) return NPT_SUCCESS;
        NPT_Position end = m_Data.size();
        if (fail_after) {
            if (m_Position >= *fail_after) return fail_code;
            end = std::min<NPT_Position>(end, *fail_after);
        }
        if (m_Position >= end) return NPT_ERROR_END_OF_STREAM;
        NPT_Size count = static_cast<NPT_Size>(
            std::min<NPT_Position>(bytes_to_read, end - m_Position));
        if (max_read && count > max_read) count = max_read;
        std::memcpy(buffer, m_Data.data() + m_Position, count);
        m_Position += count;
        if (bytes_read) *bytes_read = count;
        return NPT_SUCCESS;
    }

    // Positions up to the data size are accepted; beyond it
    // NPT_ERROR_OUT_OF_RANGE.
    NPT_Result Seek(NPT_Position position) override
    {
        ++seek_calls;
        seek_targets.push_back(position);
        if (seek_result != NPT_SUCCESS) return seek_result;
        if (position > m_Data.size()) return NPT_ERROR_OUT_OF_RANGE;
        m_Position = position;
        return NPT_SUCCESS;
    }

    NPT_Result Tell(NPT_Position& position) override
    {
        ++tell_calls;
        position = 0;
        if (tell_result != NPT_SUCCESS) return tell_result;
        position = m_Position;
        return NPT_SUCCESS;
    }

    NPT_Result GetSize(NPT_LargeSize& size) override
    {
        ++get_size_calls;
        size = 0;
        if (get_size_result != NPT_SUCCESS) return get_size_result;
        size = reported_size ? *reported_size : m_Data.size();
        return NPT_SUCCESS;
    }

    NPT_Result GetAvailable(NPT_LargeSize& available) override
    {
        ++get_available_calls;
        available = 0;
        if (get_available_result != NPT_SUCCESS) return get_available_result;
        available = reported_available ? *reported_available
                  : (m_Position < m_Data.size() ? m_Data.size() - m_Position : 0);
        return NPT_SUCCESS;
    }

    NPT_Result Close() override { ++close_calls; return NPT_SUCCESS; }

private:
    std::vector<NPT_Byte> m_Data;
    NPT_Position          m_Position = 0;
};

/*----------------------------------------------------------------------
|   FakeOutputStream
+---------------------------------------------------------------------*/
class FakeOutputStream : public NPT_OutputStream
{
public:
    // ---- options ----

    // At most this many bytes accepted per Write (0: no limit).
    NPT_Size max_write = 0;
    // Once fail_after bytes were accepted, Write returns fail_code
    // (count 0). A write crossing the mark accepts the bytes up to it.
    std::optional<NPT_LargeSize> fail_after;
    NPT_Result fail_code = NPT_ERROR_WRITE_FAILED;
    // Write returns NPT_SUCCESS having accepted nothing (breaks the Write
    // contract on purpose).
    bool zero_byte_success = false;
    NPT_Result seek_result  = NPT_SUCCESS;
    NPT_Result tell_result  = NPT_SUCCESS;
    NPT_Result flush_result = NPT_SUCCESS;

    // ---- observations ----
    int write_calls = 0, flush_calls = 0, seek_calls = 0, tell_calls = 0;
    std::vector<NPT_Size> write_requests;   // bytes_to_write of each Write
    bool* deleted_flag = nullptr;           // set by the destructor

    FakeOutputStream() = default;
    ~FakeOutputStream() override { if (deleted_flag) *deleted_flag = true; }

    FakeOutputStream(const FakeOutputStream&) = delete;
    FakeOutputStream& operator=(const FakeOutputStream&) = delete;

    // Every byte accepted, in order.
    const std::vector<NPT_Byte>& Written() const { return m_Written; }
    std::string WrittenText() const { return std::string(m_Written.begin(), m_Written.end()); }
    NPT_Size MaxWriteRequest() const
    {
        return write_requests.empty()
            ? 0 : *std::max_element(write_requests.begin(), write_requests.end());
    }

    NPT_Result Write(const void* data, NPT_Size bytes_to_write, NPT_Size* bytes_written) override
    {
        ++write_calls;
        write_requests.push_back(bytes_to_write);
        if (bytes_written) *bytes_written = 0;
        if (bytes_to_write == 0 || zero_byte_success) return NPT_SUCCESS;
        NPT_Size count = bytes_to_write;
        if (fail_after) {
            if (m_Written.size() >= *fail_after) return fail_code;
            count = static_cast<NPT_Size>(
                std::min<NPT_LargeSize>(count, *fail_after - m_Written.size()));
        }
        if (max_write && count > max_write) count = max_write;
        const NPT_Byte* bytes = static_cast<const NPT_Byte*>(data);
        m_Written.insert(m_Written.end(), bytes, bytes + count);
        if (bytes_written) *bytes_written = count;
        return NPT_SUCCESS;
    }

    // Only records the call; the fake always appends.
    NPT_Result Seek(NPT_Position) override
    {
        ++seek_calls;
        return seek_result;
    }

    NPT_Result Tell(NPT_Position& position) override
    {
        ++tell_calls;
        position = 0;
        if (tell_result != NPT_SUCCESS) return tell_result;
        position = m_Written.size();
        return NPT_SUCCESS;
    }

    NPT_Result Flush() override { ++flush_calls; return flush_result; }

private:
    std::vector<NPT_Byte> m_Written;
};

} // namespace tvk_test

#endif // TVK_TEST_STREAMS_H
