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
    {"WholeSourceShortReads",    200000, 7000,  0,  0,  0,      200000},
    {"ShortReadsAndWrites",      200000, 65535, 13, 0,  0,      200000},
    {"SizeWithinSource",         1000,   0,     0,  0,  100,    100},
    {"SizeBeyondSource",         40,     0,     0,  0,  100,    40},
    {"SizeAcrossChunks",         200000, 0,     0,  0,  70000,  70000},
    {"SizeWithShortReads",       200000, 999,   7,  0,  70000,  70000},
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

TEST(StreamCopy, ReadRequestsFollowSizeAndBlock)
{
    // 200,000 bytes to the end: full blocks until the source runs dry
    {
        FakeInputStream source(MakePattern(200000));
        FakeOutputStream sink;
        sink.max_write = 10;
        ASSERT_EQ(NPT_SUCCESS, NPT_StreamToStreamCopy(source, sink));
        std::vector<NPT_Size> expected(5, 0x10000);
        EXPECT_EQ(expected, source.read_requests);  // the last one sees the end
        // each block is written in tens plus one short write of 6 bytes
        EXPECT_EQ(3 * 6554 + 340, sink.write_calls);
    }
    // a size limit trims the last request to what remains
    {
        FakeInputStream source(MakePattern(200000));
        FakeOutputStream sink;
        ASSERT_EQ(NPT_SUCCESS, NPT_StreamToStreamCopy(source, sink, 0, 70000));
        EXPECT_EQ((std::vector<NPT_Size>{0x10000, 70000 - 0x10000}), source.read_requests);
    }
}

TEST(StreamCopy, SourceFailurePassesThrough)
{
    const NPT_Result codes[] = {NPT_FAILURE, NPT_ERROR_PERMISSION_DENIED,
                                NPT_ERROR_INTERNAL, NPT_ERROR_BASE_ERRNO - 5};
    for (NPT_Result code : codes) {
        FakeInputStream source(MakePattern(200000));
        source.fail_after = 70000;
        source.fail_code  = code;
        FakeOutputStream sink;
        NPT_LargeSize written = 0;
        EXPECT_EQ(code, NPT_StreamToStreamCopy(source, sink, 0, 0, &written));
        EXPECT_EQ(70000u, written);
        EXPECT_EQ(70000u, sink.Written().size());
    }
}

TEST(StreamCopy, SinkFailurePassesThrough)
{
    FakeInputStream source(MakePattern(200000));
    FakeOutputStream sink;
    sink.max_write  = 1000;
    sink.fail_after = 66500;
    sink.fail_code  = NPT_ERROR_FILE_NOT_ENOUGH_SPACE;
    NPT_LargeSize written = 0;
    EXPECT_EQ(NPT_ERROR_FILE_NOT_ENOUGH_SPACE,
              NPT_StreamToStreamCopy(source, sink, 0, 0, &written));
    EXPECT_EQ(66500u, written);
    EXPECT_TRUE(std::equal(sink.Written().begin(), sink.Written().end(), source.Data().begin()));
}

TEST(StreamCopy, FailingOffsetSeekReadsNothing)
{
    FakeInputStream source(MakePattern(100));
    source.seek_result = NPT_ERROR_NOT_SUPPORTED;
    FakeOutputStream sink;
    NPT_LargeSize written = 99;
    EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, NPT_StreamToStreamCopy(source, sink, 10, 0, &written));
    EXPECT_EQ(0u, written);
    EXPECT_EQ(0, source.read_calls);
}

TEST(StreamCopy, SinkTakingNothingEndsTheCopy)
{
    // a sink that succeeds without taking a byte must not hold the copy
    // in an endless loop
    FakeInputStream source(MakePattern(100));
    FakeOutputStream sink;
    sink.zero_byte_success = true;
    EXPECT_EQ(NPT_ERROR_INTERNAL, NPT_StreamToStreamCopy(source, sink));
    EXPECT_EQ(1, sink.write_calls);
}

} // namespace
