// Default operations of NPT_InputStream / NPT_OutputStream: the full
// transfer loops, Skip, string writers, Load and the big-endian integers.
#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "NptStreams.h"
#include "NptSubInputStream.h"
#include "TestStreams.h"

using tvk_test::FakeInputStream;
using tvk_test::FakeOutputStream;
using tvk_test::MakePattern;

namespace {

// ReadFully and WriteFully share one table: the stream holds (or takes)
// stream_bytes, in transfers of at most chunk_limit bytes.
struct FullTransferCase {
    const char* name;
    NPT_Size    stream_bytes, chunk_limit;
    bool        zero_success;  // the stream breaks its contract
    NPT_Size    request;
    NPT_Result  expected;
    NPT_Size    expected_bytes;
};
void PrintTo(const FullTransferCase& c, std::ostream* os) { *os << c.name; }

const FullTransferCase kFullTransferCases[] = {
    {"NothingAsked",     10, 0, false,  0, NPT_SUCCESS,             0},
    {"ShortTransfers",   10, 3, false, 10, NPT_SUCCESS,            10},
    {"EndBeforeRequest",  6, 0, false, 10, NPT_ERROR_END_OF_STREAM, 6},
    {"ZeroByteSuccess",  10, 0, true,  10, NPT_ERROR_INTERNAL,      0},
};

class FullTransferTest : public ::testing::TestWithParam<FullTransferCase> {};

TEST_P(FullTransferTest, ReadFully)
{
    const FullTransferCase& c = GetParam();
    FakeInputStream source(MakePattern(c.stream_bytes));
    source.max_read          = c.chunk_limit;
    source.zero_byte_success = c.zero_success;
    std::vector<NPT_Byte> buffer(16);
    EXPECT_EQ(c.expected, source.ReadFully(buffer.data(), c.request));
    EXPECT_EQ(c.expected_bytes, source.Position());
    EXPECT_TRUE(std::equal(source.Data().begin(), source.Data().begin() + c.expected_bytes,
                           buffer.begin()));
    EXPECT_EQ(c.request == 0, source.read_calls == 0);
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
    EXPECT_EQ(c.request == 0, sink.write_calls == 0);
}

INSTANTIATE_TEST_SUITE_P(Streams, FullTransferTest, ::testing::ValuesIn(kFullTransferCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StreamDefaults, SkipSeeksFromToldPosition)
{
    FakeInputStream source(MakePattern(100));
    ASSERT_EQ(NPT_SUCCESS, source.Seek(10));
    EXPECT_EQ(NPT_SUCCESS, source.Skip(5));
    EXPECT_EQ(15u, source.Position());

    source.tell_result = NPT_ERROR_NOT_SUPPORTED;   // no Seek after a failed Tell
    EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, source.Skip(5));
    EXPECT_EQ(2, source.seek_calls);
}

TEST(StreamDefaults, SkipPastTwoToTheSixtyFourIsRefusedNotWrapped)
{
    // a window as large as the position type allows, over any source
    NPT_InputStreamReference source(new FakeInputStream(MakePattern(16)));
    NPT_SubInputStream window(source, 0, ~NPT_LargeSize(0));
    const NPT_Position near_end = ~NPT_Position(0) - 2;
    ASSERT_EQ(NPT_SUCCESS, window.Seek(near_end));
    EXPECT_EQ(NPT_ERROR_OUT_OF_RANGE, window.Skip(5));
    NPT_Position position = 0;
    ASSERT_EQ(NPT_SUCCESS, window.Tell(position));
    EXPECT_EQ(near_end, position);
    EXPECT_EQ(NPT_SUCCESS, window.Skip(2));   // up to the very last position
}

TEST(StreamDefaults, WriteStringAndLine)
{
    struct Case { const char* text; bool line; const char* expected; int writes; };
    const Case cases[] = {
        {nullptr, false, "", 0},        {"", false, "", 0},
        {"abc", false, "abc", 1},       {"abc", true, "abc\r\n", 2},
        {nullptr, true, "\r\n", 1},
    };
    for (const Case& c : cases) {
        FakeOutputStream sink;
        EXPECT_EQ(NPT_SUCCESS, c.line ? sink.WriteLine(c.text) : sink.WriteString(c.text));
        EXPECT_EQ(c.expected, sink.WrittenText());
        EXPECT_EQ(c.writes, sink.write_calls);
    }
    // a failing text ends WriteLine before the line end is tried
    FakeOutputStream sink;
    sink.fail_after = 2;
    EXPECT_EQ(NPT_ERROR_WRITE_FAILED, sink.WriteLine("abc"));
    EXPECT_EQ(2, sink.write_calls);
}

/*----------------------------------------------------------------------
|   Load
+---------------------------------------------------------------------*/
struct LoadCase {
    const char* name;
    NPT_Size    stream_bytes, max_read;
    NPT_Size    max_per_read;                 // source short reads (0: none)
    bool        size_known, available_known;  // GetSize / GetAvailable succeed
    std::vector<NPT_Size> expected_requests;
    NPT_Size    expected_bytes;
};
void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }

const LoadCase kLoadCases[] = {
    {"KnownSizeInOneRead",     10000, 0,    0,    true,  true,  {10000},                  10000},
    {"MaxReadBelowSize",        1000, 100,  0,    true,  true,  {100},                      100},
    {"MaxReadAboveSize",          50, 100,  0,    true,  true,  {50},                        50},
    {"MaxReadAtLimit",            10, 0x40000000, 0, true, true, {10},                       10},
    {"EmptyStream",                0, 0,    0,    true,  true,  {4096},                       0},
    {"ChunksFollowAvailable",   2500, 0,    1000, true,  true,  {2500, 1500, 500},         2500},
    {"DefaultChunksToTarget",  10000, 0,    0,    true,  false, {4096, 4096, 1808},       10000},
    {"DefaultChunksToEnd",     10000, 0,    0,    false, false, {4096, 4096, 4096, 4096}, 10000},
    {"UnknownSizeMaxRead",     10000, 5000, 0,    false, false, {4096, 904},               5000},
    {"UnknownSizeAvailable",    3000, 0,    0,    false, true,  {3000, 4096},              3000},
};

class LoadTest : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadTest, GathersTheStream)
{
    const LoadCase& c = GetParam();
    FakeInputStream source(MakePattern(c.stream_bytes));
    source.max_read = c.max_per_read;
    if (!c.size_known)      source.get_size_result      = NPT_ERROR_NOT_SUPPORTED;
    if (!c.available_known) source.get_available_result = NPT_ERROR_NOT_SUPPORTED;

    const NPT_Byte old_content[3] = {1, 2, 3};
    NPT_DataBuffer buffer(old_content, 3);
    EXPECT_EQ(NPT_SUCCESS, source.Load(buffer, c.max_read));
    EXPECT_EQ(c.expected_requests, source.read_requests);
    ASSERT_EQ(c.expected_bytes, buffer.GetDataSize());
    EXPECT_TRUE(std::equal(source.Data().begin(), source.Data().begin() + c.expected_bytes,
                           buffer.GetData()));
}

INSTANTIATE_TEST_SUITE_P(Streams, LoadTest, ::testing::ValuesIn(kLoadCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StreamLoad, LimitsAndFailures)
{
    FakeInputStream source(MakePattern(10000));
    NPT_DataBuffer buffer(MakePattern(3).data(), 3);
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, source.Load(buffer, 0x40000001));
    EXPECT_EQ(0u, buffer.GetDataSize());
    EXPECT_EQ(0, source.get_size_calls);

    source.reported_size = 0x40000001;   // too large unless max_read caps it
    EXPECT_EQ(NPT_ERROR_OUT_OF_RANGE, source.Load(buffer));
    EXPECT_EQ(0, source.read_calls);
    EXPECT_EQ(NPT_SUCCESS, source.Load(buffer, 100));
    EXPECT_EQ(100u, buffer.GetDataSize());

    // a failing Read keeps what was gathered before it
    FakeInputStream failing(MakePattern(10000));
    failing.get_available_result = NPT_ERROR_NOT_SUPPORTED;
    failing.fail_after = 5000;
    failing.fail_code  = NPT_ERROR_PERMISSION_DENIED;
    EXPECT_EQ(NPT_ERROR_PERMISSION_DENIED, failing.Load(buffer));
    ASSERT_EQ(5000u, buffer.GetDataSize());
    EXPECT_TRUE(std::equal(buffer.GetData(), buffer.GetData() + 5000, failing.Data().begin()));
}

// Unknown size; GetAvailable reports `first` once and then `later`: drives
// an open-ended Load past 1 GiB without allocating anything near it.
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
    GrowingAvailableStream empty(0x40000001, 0);
    NPT_DataBuffer buffer(64);
    EXPECT_EQ(NPT_ERROR_OUT_OF_RANGE, empty.Load(buffer));
    EXPECT_EQ(0u, buffer.GetBufferSize());

    // data gathered: the buffer refuses to shrink and keeps it
    GrowingAvailableStream some(10, 0x40000000);
    EXPECT_EQ(NPT_ERROR_OUT_OF_RANGE, some.Load(buffer));
    ASSERT_EQ(10u, buffer.GetDataSize());
    EXPECT_TRUE(std::equal(buffer.GetData(), buffer.GetData() + 10, some.Data().begin()));
}

/*----------------------------------------------------------------------
|   big-endian integers
+---------------------------------------------------------------------*/
TEST(StreamBigEndian, RoundTripMostSignificantByteFirst)
{
    const std::vector<NPT_Byte> bytes = {
        0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88,  // UInt64
        0x89, 0xAB, 0xCD, 0xEF, 0xAB, 0xCD, 0xEF,        // UInt32, UInt24
        0x12, 0x34, 0xFE,                                // UInt16, UInt8
    };
    FakeOutputStream sink;
    EXPECT_EQ(NPT_SUCCESS, sink.WriteUInt64Be(0x0102030405060788ULL));
    EXPECT_EQ(NPT_SUCCESS, sink.WriteUInt32Be(0x89ABCDEF));
    EXPECT_EQ(NPT_SUCCESS, sink.WriteUInt24Be(0xFFABCDEF));  // high byte dropped
    EXPECT_EQ(NPT_SUCCESS, sink.WriteUInt16Be(0x1234));
    EXPECT_EQ(NPT_SUCCESS, sink.WriteUInt8(0xFE));
    EXPECT_EQ(bytes, sink.Written());

    FakeInputStream source(bytes);
    source.max_read = 1;   // values assembled across short reads
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

    // a truncated value reads as 0 with the end of the stream
    FakeInputStream truncated(std::vector<NPT_Byte>{0x12});
    v16 = 99;
    EXPECT_EQ(NPT_ERROR_END_OF_STREAM, truncated.ReadUInt16Be(v16));
    EXPECT_EQ(0u, v16);
}

} // namespace
