// NPT_StreamToStreamCopy: chunking, size limits, offsets and how
// failures of either side come back.
#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "NptStreamCopy.h"
#include "TestStreams.h"

using tvk_test::FakeInputStream;
using tvk_test::FakeOutputStream;
using tvk_test::MakePattern;

namespace {

struct CopyCase {
    const char*   name;
    NPT_Size      source_bytes;
    NPT_Size      source_max_read;  // short reads of the source (0: none)
    NPT_Size      sink_max_write;   // short writes of the sink (0: none)
    NPT_Position  offset;
    NPT_LargeSize size;
    NPT_LargeSize expected_bytes;   // copied, starting at offset
};

const CopyCase kCopyCases[] = {
    {"EmptySource",              0,      0,     0,  0,  0,      0},
    {"WholeSourceTinyWrites",    200000, 0,     10, 0,  0,      200000},
    {"ShortReadsAndWrites",      200000, 65535, 13, 0,  0,      200000},
    {"SizeWithinSource",         1000,   0,     0,  0,  100,    100},
    {"SizeBeyondSource",         40,     0,     0,  0,  100,    40},
    {"SizeAcrossBlocks",         200000, 999,   7,  0,  70000,  70000},
    {"OffsetThenRest",           1000,   0,     0,  50, 0,      950},
    {"OffsetAndSize",            1000,   0,     0,  50, 100,    100},
};

void PrintTo(const CopyCase& c, std::ostream* os) { *os << c.name; }

class CopyTest : public ::testing::TestWithParam<CopyCase> {};

TEST_P(CopyTest, MovesEveryByteInOrder)
{
    const CopyCase& c = GetParam();
    FakeInputStream source(MakePattern(c.source_bytes));
    source.max_read = c.source_max_read;
    FakeOutputStream sink;
    sink.max_write = c.sink_max_write;

    NPT_LargeSize written = 12345;
    EXPECT_EQ(NPT_SUCCESS, NPT_StreamToStreamCopy(source, sink, c.offset, c.size, &written));
    EXPECT_EQ(c.expected_bytes, written);
    ASSERT_EQ(c.expected_bytes, sink.Written().size());
    EXPECT_TRUE(std::equal(sink.Written().begin(), sink.Written().end(),
                           source.Data().begin() + c.offset));

    // never more than one transfer block per read, never past the limit
    EXPECT_LE(source.MaxReadRequest(), 0x10000u);
    if (c.size) {
        EXPECT_EQ(c.offset + c.expected_bytes, source.Position());
    }
    EXPECT_EQ(c.offset ? 1 : 0, source.seek_calls);
}

INSTANTIATE_TEST_SUITE_P(Streams, CopyTest, ::testing::ValuesIn(kCopyCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StreamCopy, WholeBlocksToATenByteSink)
{
    // 200,000 bytes: full 64 KiB requests until the source runs dry,
    // each block written in tens plus one short write of 6 bytes
    FakeInputStream source(MakePattern(200000));
    FakeOutputStream sink;
    sink.max_write = 10;
    ASSERT_EQ(NPT_SUCCESS, NPT_StreamToStreamCopy(source, sink));
    EXPECT_EQ(std::vector<NPT_Size>(5, 0x10000), source.read_requests);
    EXPECT_EQ(3 * 6554 + 340, sink.write_calls);
}

struct FailureCase {
    const char*   name;
    NPT_Position  offset;
    bool          seek_fails, source_fails, sink_fails, sink_takes_nothing;
    NPT_Result    expected;
    NPT_LargeSize expected_bytes;
};

TEST(StreamCopy, FailuresPassThrough)
{
    const FailureCase cases[] = {
        {"SourceFails",     0,  false, true,  false, false, NPT_ERROR_PERMISSION_DENIED, 70000},
        {"SinkFails",       0,  false, false, true,  false, NPT_ERROR_WRITE_FAILED,      66500},
        {"OffsetSeekFails", 10, true,  false, false, false, NPT_ERROR_NOT_SUPPORTED,     0},
        // a sink succeeding without taking a byte must not hang the copy
        {"SinkTakesNothing", 0, false, false, false, true,  NPT_ERROR_INTERNAL,          0},
    };
    for (const FailureCase& c : cases) {
        FakeInputStream source(MakePattern(200000));
        if (c.seek_fails) source.seek_result = NPT_ERROR_NOT_SUPPORTED;
        if (c.source_fails) {
            source.fail_after = 70000;
            source.fail_code  = NPT_ERROR_PERMISSION_DENIED;
        }
        FakeOutputStream sink;
        sink.max_write = 1000;
        if (c.sink_fails) sink.fail_after = 66500;
        sink.zero_byte_success = c.sink_takes_nothing;

        NPT_LargeSize written = 99;
        EXPECT_EQ(c.expected, NPT_StreamToStreamCopy(source, sink, c.offset, 0, &written)) << c.name;
        EXPECT_EQ(c.expected_bytes, written) << c.name;
        ASSERT_EQ(c.expected_bytes, sink.Written().size()) << c.name;
        EXPECT_TRUE(std::equal(sink.Written().begin(), sink.Written().end(), source.Data().begin()));
        if (c.seek_fails) {
            EXPECT_EQ(0, source.read_calls);
        }
    }
}

} // namespace
