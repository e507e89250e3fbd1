// Default operations of NPT_InputStream / NPT_OutputStream: the full
// transfer loops, Skip, string writers, Load and the big-endian integers.
#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "NptStreams.h"
#include "TestStreams.h"

using tvk_test::BytesOf;
using tvk_test::FakeInputStream;
using tvk_test::FakeOutputStream;
using tvk_test::MakePattern;

namespace {

/*----------------------------------------------------------------------
|   ReadFully / WriteFully
+---------------------------------------------------------------------*/
struct FullTransferCase {
    const char* name;
    NPT_Size    stream_bytes;    // bytes the source holds / sink takes
    NPT_Size    chunk_limit;     // max bytes per Read / Write (0: any)
    bool        zero_success;    // Read/Write succeed with 0 bytes
    NPT_Size    request;         // bytes asked of ReadFully / WriteFully
    NPT_Result  expected;
    NPT_Size    expected_bytes;  // bytes that arrived
};

const FullTransferCase kFullTransferCases[] = {
    {"NothingAskedIsSuccess",      10, 0, false,  0, NPT_SUCCESS,             0},
    {"ShortTransfersAreJoined",    10, 3, false, 10, NPT_SUCCESS,            10},
    {"StreamEndsBeforeRequest",     6, 0, false, 10, NPT_ERROR_END_OF_STREAM, 6},
    {"ZeroByteSuccessIsInternal",  10, 0, true,  10, NPT_ERROR_INTERNAL,      0},
};

void PrintTo(const FullTransferCase& c, std::ostream* os) { *os << c.name; }

class FullTransferTest : public ::testing::TestWithParam<FullTransferCase> {};

TEST_P(FullTransferTest, ReadFully)
{
    const FullTransferCase& c = GetParam();
    FakeInputStream source(MakePattern(c.stream_bytes));
    source.max_read          = c.chunk_limit;
    source.zero_byte_success = c.zero_success;

    std::vector<NPT_Byte> buffer(16, 0xEE);
    EXPECT_EQ(c.expected, source.ReadFully(buffer.data(), c.request));
    EXPECT_EQ(c.expected_bytes, source.Position());
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + c.expected_bytes,
                           source.Data().begin()));
    if (c.request == 0) {
        EXPECT_EQ(0, source.read_calls);
    }
}

TEST_P(FullTransferTest, WriteFully)
{
    const FullTransferCase& c = GetParam();
    FakeOutputStream sink;
    sink.max_write         = c.chunk_limit;
    sink.zero_byte_success = c.zero_success;
    sink.fail_after        = c.stream_bytes;
    sink.fail_code         = NPT_ERROR_END_OF_STREAM;

    std::vector<NPT_Byte> data = MakePattern(16);
    EXPECT_EQ(c.expected, sink.WriteFully(data.data(), c.request));
    ASSERT_EQ(c.expected_bytes, sink.Written().size());
    EXPECT_TRUE(std::equal(sink.Written().begin(), sink.Written().end(), data.begin()));
    if (c.request == 0) {
        EXPECT_EQ(0, sink.write_calls);
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, FullTransferTest, ::testing::ValuesIn(kFullTransferCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StreamDefaults, FailureCodesPassThroughUnchanged)
{
    FakeInputStream source(MakePattern(10));
    source.fail_after = 4;
    source.fail_code  = NPT_ERROR_PERMISSION_DENIED;
    NPT_Byte buffer[10];
    EXPECT_EQ(NPT_ERROR_PERMISSION_DENIED, source.ReadFully(buffer, 10));

    FakeOutputStream sink;
    sink.fail_after = 4;
    sink.fail_code  = NPT_ERROR_FILE_NOT_ENOUGH_SPACE;
    EXPECT_EQ(NPT_ERROR_FILE_NOT_ENOUGH_SPACE, sink.WriteFully(buffer, 10));
    EXPECT_EQ(4u, sink.Written().size());
}

/*----------------------------------------------------------------------
|   Skip
+---------------------------------------------------------------------*/
TEST(StreamDefaults, SkipSeeksFromToldPosition)
{
    FakeInputStream source(MakePattern(100));
    ASSERT_EQ(NPT_SUCCESS, source.Seek(10));
    EXPECT_EQ(NPT_SUCCESS, source.Skip(5));
    EXPECT_EQ(15u, source.Position());

    // a failing Tell stops Skip before any Seek
    source.tell_result = NPT_ERROR_NOT_SUPPORTED;
    int seeks = source.seek_calls;
    EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, source.Skip(5));
    EXPECT_EQ(seeks, source.seek_calls);

    // Seek's own failure is Skip's result
    source.tell_result = NPT_SUCCESS;
    EXPECT_EQ(NPT_ERROR_OUT_OF_RANGE, source.Skip(1000));
    EXPECT_EQ(15u, source.Position());
}

/*----------------------------------------------------------------------
|   WriteString / WriteLine
+---------------------------------------------------------------------*/
TEST(StreamDefaults, WriteStringAndLine)
{
    struct Case { const char* text; bool line; const char* expected; int writes; };
    const Case cases[] = {
        {nullptr, false, "",        0},
        {"",      false, "",        0},
        {"abc",   false, "abc",     1},
        {"abc",   true,  "abc\r\n", 2},
        {nullptr, true,  "\r\n",    1},
        {"",      true,  "\r\n",    1},
    };
    for (const Case& c : cases) {
        FakeOutputStream sink;
        NPT_Result result = c.line ? sink.WriteLine(c.text) : sink.WriteString(c.text);
        EXPECT_EQ(NPT_SUCCESS, result);
        EXPECT_EQ(c.expected, sink.WrittenText());
        EXPECT_EQ(c.writes, sink.write_calls) << (c.text ? c.text : "(null)");
    }
}

TEST(StreamDefaults, WriteLineStopsWhenTheTextFails)
{
    FakeOutputStream sink;
    sink.fail_after = 2;
    EXPECT_EQ(NPT_ERROR_WRITE_FAILED, sink.WriteLine("abc"));
    EXPECT_EQ("ab", sink.WrittenText());
    EXPECT_EQ(2, sink.write_calls);   // "ab", then the failing "c"; no line end
}

/*----------------------------------------------------------------------
|   Load
+---------------------------------------------------------------------*/
// An owned buffer already holding three bytes, so a test sees that Load
// replaces the content.
NPT_DataBuffer PrefilledBuffer()
{
    NPT_DataBuffer buffer;
    const NPT_Byte junk[3] = {1, 2, 3};
    buffer.SetData(junk, sizeof(junk));
    return buffer;
}

TEST(StreamLoad, LimitsOnMaxRead)
{
    FakeInputStream source(MakePattern(10));
    NPT_DataBuffer buffer = PrefilledBuffer();

    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, source.Load(buffer, 0x40000001));
    EXPECT_EQ(0u, buffer.GetDataSize());
    EXPECT_EQ(0, source.get_size_calls);

    EXPECT_EQ(NPT_SUCCESS, source.Load(buffer, 0x40000000));
    ASSERT_EQ(10u, buffer.GetDataSize());
    EXPECT_TRUE(std::equal(source.Data().begin(), source.Data().end(), buffer.GetData()));
}

struct LoadCase {
    const char* name;
    NPT_Size    stream_bytes;
    NPT_Size    max_read;
    NPT_Size    max_per_read;    // source short reads (0: none)
    bool        size_known;      // GetSize succeeds
    bool        available_known; // GetAvailable succeeds
    std::vector<NPT_Size> expected_requests;
    NPT_Size    expected_bytes;
};

const LoadCase kLoadCases[] = {
    // the size is known: one request for what is left, no end-of-stream read
    {"KnownSizeReadsInOne",     10000, 0,   0,    true,  true,  {10000},               10000},
    {"MaxReadCapsKnownSize",     1000, 100, 0,    true,  true,  {100},                   100},
    {"MaxReadAboveKnownSize",      50, 100, 0,    true,  true,  {50},                     50},
    {"EmptyStream",                 0, 0,   0,    true,  true,  {4096},                    0},
    // chunks follow GetAvailable as the source short-reads
    {"ChunksFollowAvailable",    2500, 0,   1000, true,  true,  {2500, 1500, 500},      2500},
    // without GetAvailable: 4096-byte chunks, the last one trimmed to the target
    {"DefaultChunksToTarget",   10000, 0,   0,    true,  false, {4096, 4096, 1808},    10000},
    // neither size nor available: default chunks until the end of the stream
    {"DefaultChunksToEnd",      10000, 0,   0,    false, false, {4096, 4096, 4096, 4096}, 10000},
    // unknown size: max_read is the target
    {"UnknownSizeMaxReadTarget", 10000, 5000, 0,  false, false, {4096, 904},            5000},
    {"UnknownSizeAvailable",     3000, 0,   0,    false, true,  {3000, 4096},           3000},
};

void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }

class LoadTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadTest, GathersTheStream)
{
    const LoadCase& c = GetParam();
    FakeInputStream source(MakePattern(c.stream_bytes));
    source.max_read = c.max_per_read;
    if (!c.size_known)      source.get_size_result      = NPT_ERROR_NOT_SUPPORTED;
    if (!c.available_known) source.get_available_result = NPT_ERROR_NOT_SUPPORTED;

    NPT_DataBuffer buffer = PrefilledBuffer();
    EXPECT_EQ(NPT_SUCCESS, source.Load(buffer, c.max_read));
    EXPECT_EQ(c.expected_requests, source.read_requests);
    ASSERT_EQ(c.expected_bytes, buffer.GetDataSize());
    if (c.expected_bytes) {
        EXPECT_TRUE(std::equal(buffer.GetData(), buffer.GetData() + c.expected_bytes,
                               source.Data().begin()));
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, LoadTest, ::testing::ValuesIn(kLoadCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StreamLoad, ReportedSizeBeyondLimit)
{
    FakeInputStream source(MakePattern(1000));
    source.reported_size = 0x40000001;
    NPT_DataBuffer buffer;
    EXPECT_EQ(NPT_ERROR_OUT_OF_RANGE, source.Load(buffer));
    EXPECT_EQ(0, source.read_calls);
    EXPECT_EQ(0u, buffer.GetBufferSize());

    EXPECT_EQ(NPT_SUCCESS, source.Load(buffer, 100));
    EXPECT_EQ(100u, buffer.GetDataSize());
}

TEST(StreamLoad, FailureKeepsWhatWasGathered)
{
    FakeInputStream source(MakePattern(10000));
    source.get_available_result = NPT_ERROR_NOT_SUPPORTED;
    source.fail_after = 5000;
    source.fail_code  = NPT_ERROR_PERMISSION_DENIED;
    NPT_DataBuffer buffer;
    EXPECT_EQ(NPT_ERROR_PERMISSION_DENIED, source.Load(buffer));
    ASSERT_EQ(5000u, buffer.GetDataSize());
    EXPECT_TRUE(std::equal(buffer.GetData(), buffer.GetData() + 5000, source.Data().begin()));
}

TEST(StreamLoad, BorrowedBufferTooSmallRefuses)
{
    NPT_Byte block[8];
    NPT_DataBuffer buffer;
    buffer.SetBuffer(block, sizeof(block));
    FakeInputStream source(MakePattern(100));
    EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, source.Load(buffer));
    EXPECT_EQ(0, source.read_calls);
}

// A source of unknown size whose GetAvailable reports `first` once and
// then `later`: drives an open-ended Load past the 1 GiB limit without
// allocating anything near it.
class GrowingAvailableStream : public FakeInputStream
{
public:
    GrowingAvailableStream(NPT_LargeSize first, NPT_LargeSize later)
        : FakeInputStream(MakePattern(100)), m_First(first), m_Later(later)
    {
        get_size_result = NPT_ERROR_NOT_SUPPORTED;
    }
    NPT_Result GetAvailable(NPT_LargeSize& available) override
    {
        available = get_available_calls++ == 0 ? m_First : m_Later;
        return NPT_SUCCESS;
    }
private:
    NPT_LargeSize m_First, m_Later;
};

TEST(StreamLoad, OpenEndedLoadPastLimit)
{
    // nothing gathered yet: the owned block is given back
    {
        GrowingAvailableStream source(0x40000001, 0);
        NPT_DataBuffer buffer(64);
        EXPECT_EQ(NPT_ERROR_OUT_OF_RANGE, source.Load(buffer));
        EXPECT_EQ(0u, buffer.GetBufferSize());
        EXPECT_EQ(0, source.read_calls);
    }
    // data gathered: the buffer refuses to shrink and keeps it
    {
        GrowingAvailableStream source(10, 0x40000000);
        NPT_DataBuffer buffer;
        EXPECT_EQ(NPT_ERROR_OUT_OF_RANGE, source.Load(buffer));
        ASSERT_EQ(10u, buffer.GetDataSize());
        EXPECT_TRUE(std::equal(buffer.GetData(), buffer.GetData() + 10, source.Data().begin()));
    }
    // borrowed block: untouched
    {
        GrowingAvailableStream source(0x40000001, 0);
        NPT_Byte block[16];
        NPT_DataBuffer buffer;
        buffer.SetBuffer(block, sizeof(block));
        EXPECT_EQ(NPT_ERROR_OUT_OF_RANGE, source.Load(buffer));
        EXPECT_EQ(16u, buffer.GetBufferSize());
        EXPECT_EQ(block, buffer.GetData());
    }
    // exactly the limit in one chunk is within it and goes on to Reserve
    // (which a small borrowed block refuses, so nothing is allocated)
    {
        GrowingAvailableStream source(0x40000000, 0);
        NPT_Byte block[16];
        NPT_DataBuffer buffer;
        buffer.SetBuffer(block, sizeof(block));
        EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, source.Load(buffer));
    }
}

/*----------------------------------------------------------------------
|   big-endian integers
+---------------------------------------------------------------------*/
const std::vector<NPT_Byte> kBigEndianBytes = {
    0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88,  // UInt64
    0x89, 0xAB, 0xCD, 0xEF,                          // UInt32
    0xAB, 0xCD, 0xEF,                                // UInt24
    0x12, 0x34,                                      // UInt16
    0xFE,                                            // UInt8
};

TEST(StreamBigEndian, WritersEmitMostSignificantByteFirst)
{
    FakeOutputStream sink;
    EXPECT_EQ(NPT_SUCCESS, sink.WriteUInt64Be(0x0102030405060788ULL));
    EXPECT_EQ(NPT_SUCCESS, sink.WriteUInt32Be(0x89ABCDEF));
    EXPECT_EQ(NPT_SUCCESS, sink.WriteUInt24Be(0xFFABCDEF));  // high byte dropped
    EXPECT_EQ(NPT_SUCCESS, sink.WriteUInt16Be(0x1234));
    EXPECT_EQ(NPT_SUCCESS, sink.WriteUInt8(0xFE));
    EXPECT_EQ(kBigEndianBytes, sink.Written());
}

TEST(StreamBigEndian, ReadersAssembleAcrossShortReads)
{
    FakeInputStream source(kBigEndianBytes);
    source.max_read = 1;
    NPT_UInt64 v64 = 0;
    NPT_UInt32 v32 = 0, v24 = 0;
    NPT_UInt16 v16 = 0;
    NPT_UInt8  v8  = 0;
    EXPECT_EQ(NPT_SUCCESS, source.ReadUInt64Be(v64));
    EXPECT_EQ(NPT_SUCCESS, source.ReadUInt32Be(v32));
    EXPECT_EQ(NPT_SUCCESS, source.ReadUInt24Be(v24));
    EXPECT_EQ(NPT_SUCCESS, source.ReadUInt16Be(v16));
    EXPECT_EQ(NPT_SUCCESS, source.ReadUInt8(v8));
    EXPECT_EQ(0x0102030405060788ULL, v64);
    EXPECT_EQ(0x89ABCDEFu, v32);
    EXPECT_EQ(0xABCDEFu, v24);
    EXPECT_EQ(0x1234u, v16);
    EXPECT_EQ(0xFEu, v8);

    // nothing left: every reader clears its value and reports the end
    v64 = v32 = v24 = v16 = v8 = 7;
    EXPECT_EQ(NPT_ERROR_END_OF_STREAM, source.ReadUInt64Be(v64));
    EXPECT_EQ(NPT_ERROR_END_OF_STREAM, source.ReadUInt32Be(v32));
    EXPECT_EQ(NPT_ERROR_END_OF_STREAM, source.ReadUInt24Be(v24));
    EXPECT_EQ(NPT_ERROR_END_OF_STREAM, source.ReadUInt16Be(v16));
    EXPECT_EQ(NPT_ERROR_END_OF_STREAM, source.ReadUInt8(v8));
    EXPECT_EQ(0u, v64 | v32 | v24 | v16 | v8);
}

TEST(StreamBigEndian, TruncatedValueIsZero)
{
    FakeInputStream source(BytesOf("\x12"));
    NPT_UInt16 value = 99;
    EXPECT_EQ(NPT_ERROR_END_OF_STREAM, source.ReadUInt16Be(value));
    EXPECT_EQ(0u, value);
}

} // namespace
