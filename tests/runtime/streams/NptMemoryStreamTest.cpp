// NPT_MemoryStream: its two positions, growth and refusal of borrowed
// storage, SetDataSize, and life behind either interface's handle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "NptMemoryStream.h"
#include "NptStreamCopy.h"
#include "TestStreams.h"

using tvk_test::FakeInputStream;
using tvk_test::MakePattern;

namespace {

NPT_Position ReadPosition(NPT_MemoryStream& s)  { NPT_Position p = 99; s.InputTell(p);  return p; }
NPT_Position WritePosition(NPT_MemoryStream& s) { NPT_Position p = 99; s.OutputTell(p); return p; }
NPT_LargeSize Available(NPT_MemoryStream& s)    { NPT_LargeSize a = 99; s.GetAvailable(a); return a; }

TEST(MemoryStream, ReadsUpToTheDataSize)
{
    std::vector<NPT_Byte> data = MakePattern(10);
    NPT_MemoryStream stream(data.data(), 10);
    NPT_LargeSize size = 0;
    EXPECT_EQ(NPT_SUCCESS, stream.GetSize(size));
    EXPECT_EQ(10u, size);
    EXPECT_EQ(10u, Available(stream));

    NPT_Byte buffer[100];
    NPT_Size count = 0;
    EXPECT_EQ(NPT_SUCCESS, stream.Read(buffer, 4, &count));
    EXPECT_EQ(4u, count);
    EXPECT_EQ(6u, Available(stream));
    EXPECT_EQ(NPT_SUCCESS, stream.Read(buffer + 4, 100, &count));
    EXPECT_EQ(6u, count);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer));

    count = 99;
    EXPECT_EQ(NPT_ERROR_END_OF_STREAM, stream.Read(buffer, 100, &count));
    EXPECT_EQ(0u, count);
    // asking for nothing is not the end of the stream
    count = 99;
    EXPECT_EQ(NPT_SUCCESS, stream.Read(buffer, 0, &count));
    EXPECT_EQ(0u, count);
    // the copy is the stream's own
    data[0] ^= 0xFF;
    EXPECT_NE(data[0], stream.GetData()[0]);
}

// Every request size, so every copy path of Read, delivers exactly the
// next bytes and writes nothing past the count it reports.
TEST(MemoryStream, NullPointersAreRefusedWithoutMovingAPosition)
{
    std::vector<NPT_Byte> data = MakePattern(10);
    NPT_MemoryStream stream(data.data(), 10);
    NPT_Size count = 99;
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, stream.Read(nullptr, 4, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(0u, ReadPosition(stream));
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, stream.Write(nullptr, 4, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(0u, WritePosition(stream));
    EXPECT_EQ(10u, stream.GetDataSize());
}

TEST(MemoryStream, ReadsOfEverySizeDeliverExactlyTheData)
{
    const NPT_Size kSize = 40;
    std::vector<NPT_Byte> data = MakePattern(kSize);
    for (NPT_Size request = 1; request <= kSize + 1; ++request) {
        SCOPED_TRACE(request);
        NPT_MemoryStream stream(data.data(), kSize);
        std::vector<NPT_Byte> out(kSize + 64, 0xEE);
        NPT_Size total = 0, count = 0;
        while (stream.Read(out.data() + total, request, &count) == NPT_SUCCESS) {
            ASSERT_EQ(count, std::min(request, kSize - total));
            total += count;
            ASSERT_EQ(0xEE, out[total]);
        }
        EXPECT_EQ(kSize, total);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin()));
    }
}

// Seeking either side through its interface: up to the data size,
// never beyond, and never moving the other side.
class MemorySeekTest : public ::testing::TestWithParam<bool /* output side */> {};

TEST_P(MemorySeekTest, StaysWithinTheData)
{
    bool output = GetParam();
    NPT_MemoryStream stream(MakePattern(10).data(), 10);
    NPT_InputStream&  input = stream;
    NPT_OutputStream& sink  = stream;
    auto seek = [&](NPT_Position p) { return output ? sink.Seek(p) : input.Seek(p); };
    auto tell = [&]() { NPT_Position p = 0; output ? sink.Tell(p) : input.Tell(p); return p; };

    EXPECT_EQ(NPT_SUCCESS, seek(10));
    EXPECT_EQ(10u, tell());
    for (NPT_Position beyond : {NPT_Position(11), NPT_Position(0x100000005ULL)}) {
        EXPECT_EQ(NPT_ERROR_OUT_OF_RANGE, seek(beyond));
        EXPECT_EQ(10u, tell());
    }
    EXPECT_EQ(0u, output ? ReadPosition(stream) : WritePosition(stream));
    if (!output) {
        NPT_Byte byte;
        EXPECT_EQ(NPT_ERROR_END_OF_STREAM, input.Read(&byte, 1));
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, MemorySeekTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Output" : "Input"; });

TEST(MemoryStream, WritesOverwriteThenExtend)
{
    struct Case { NPT_Position at; NPT_Size bytes; NPT_Size expected_size; };
    const Case cases[] = {
        {0, 3, 10},    // overwrite the start, size kept
        {8, 5, 13},    // overwrite two bytes, extend by three
        {10, 4, 14},   // append at the end
        {4, 0, 10},    // nothing written
    };
    for (const Case& c : cases) {
        std::vector<NPT_Byte> original = MakePattern(10);
        std::vector<NPT_Byte> patch    = MakePattern(c.bytes, 7);
        NPT_MemoryStream stream(original.data(), 10);
        ASSERT_EQ(NPT_SUCCESS, stream.OutputSeek(c.at));
        NPT_Size written = 99;
        EXPECT_EQ(NPT_SUCCESS, stream.Write(patch.data(), c.bytes, &written));
        EXPECT_EQ(c.bytes, written);
        EXPECT_EQ(c.at + c.bytes, WritePosition(stream));
        EXPECT_EQ(0u, ReadPosition(stream));

        std::vector<NPT_Byte> expected = original;
        expected.resize(c.expected_size);
        std::copy(patch.begin(), patch.end(), expected.begin() + c.at);
        ASSERT_EQ(c.expected_size, stream.GetDataSize());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), stream.GetData()));
    }
}

TEST(MemoryStream, OwnedStorageGrowsGeometrically)
{
    // one byte at a time: the capacity doubles (1, 2, 4, ... 1024)
    // instead of following every write exactly
    NPT_MemoryStream stream;
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(NPT_SUCCESS, stream.WriteUInt8(NPT_UInt8(i)));
    EXPECT_EQ(1000u, stream.GetDataSize());
    EXPECT_EQ(1024u, stream.GetBuffer().GetBufferSize());
}

TEST(MemoryStream, BorrowedBlockIsNeverGrown)
{
    NPT_Byte block[4] = {};
    NPT_DataBuffer buffer;
    buffer.SetBuffer(block, sizeof(block));
    NPT_MemoryStream stream(buffer);

    const NPT_Byte bytes[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(NPT_SUCCESS, stream.Write(bytes, 4));
    EXPECT_EQ(0, std::memcmp(block, bytes, 4));
    EXPECT_EQ(4u, buffer.GetDataSize());

    NPT_Size written = 99;
    EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, stream.Write(bytes, 1, &written));
    EXPECT_EQ(0u, written);
    EXPECT_EQ(4u, WritePosition(stream));
    EXPECT_EQ(block, buffer.GetData());
    EXPECT_EQ(4u, buffer.GetBufferSize());
}

TEST(MemoryStream, CallersBufferSeesWritesAndSurvivesTheStream)
{
    NPT_DataBuffer buffer;
    {
        NPT_OutputStreamReference sink(new NPT_MemoryStream(buffer));
        FakeInputStream source(MakePattern(70000));
        ASSERT_EQ(NPT_SUCCESS, NPT_StreamToStreamCopy(source, *sink));
        EXPECT_EQ(70000u, buffer.GetDataSize());
    }
    // the stream is gone, the caller's buffer and its bytes are not
    std::vector<NPT_Byte> expected = MakePattern(70000);
    ASSERT_EQ(70000u, buffer.GetDataSize());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.GetData()));
}

TEST(MemoryStream, WriteEndPastFourGigabytesIsRefused)
{
    // a borrowed buffer claiming 2^32 - 1 bytes; the stream must refuse
    // before it touches memory
    NPT_Byte block[1] = {};
    NPT_DataBuffer buffer(block, 0xFFFFFFFFu, false);
    NPT_MemoryStream stream(buffer);
    ASSERT_EQ(NPT_SUCCESS, stream.OutputSeek(0xFFFFFFF0u));
    NPT_Byte data[32] = {};
    NPT_Size written = 99;
    EXPECT_EQ(NPT_ERROR_OUT_OF_RANGE, stream.Write(data, 32, &written));
    EXPECT_EQ(0u, written);
    EXPECT_EQ(0xFFFFFFF0u, WritePosition(stream));
}

TEST(MemoryStream, SetDataSizeLowersBothPositions)
{
    NPT_MemoryStream stream(MakePattern(10).data(), 10);
    ASSERT_EQ(NPT_SUCCESS, stream.InputSeek(5));
    ASSERT_EQ(NPT_SUCCESS, stream.OutputSeek(8));
    EXPECT_EQ(NPT_SUCCESS, stream.SetDataSize(2));
    EXPECT_EQ(2u, ReadPosition(stream));
    EXPECT_EQ(2u, WritePosition(stream));
    EXPECT_EQ(0u, Available(stream));

    // a borrowed block refuses to grow and nothing moves
    NPT_Byte block[4];
    NPT_DataBuffer borrowed;
    borrowed.SetBuffer(block, sizeof(block));
    NPT_MemoryStream over_borrowed(borrowed);
    EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED, over_borrowed.SetDataSize(5));
    EXPECT_EQ(0u, borrowed.GetDataSize());
}

TEST(MemoryStream, DataLoweredBehindItsBackReadsAsTheEnd)
{
    NPT_DataBuffer buffer(MakePattern(10).data(), 10);
    NPT_MemoryStream stream(buffer);
    ASSERT_EQ(NPT_SUCCESS, stream.InputSeek(8));
    buffer.SetDataSize(3);   // against the rules, but must stay safe
    NPT_Byte byte;
    EXPECT_EQ(NPT_ERROR_END_OF_STREAM, stream.Read(&byte, 1));
    EXPECT_EQ(0u, Available(stream));
}

// Reading in place hands out the bytes Read would have copied, moves the
// reading position alike, and ends where Read ends, also when the data
// was lowered behind the stream's back.
TEST(MemoryStream, ReadInPlaceDeliversWhatReadWould)
{
    const std::vector<NPT_Byte> data = MakePattern(100, 3);
    NPT_DataBuffer copying_buffer(data.data(), 100), in_place_buffer(data.data(), 100);
    NPT_MemoryStream copying(copying_buffer), in_place(in_place_buffer);
    const NPT_Size requests[] = {0, 1, 16, 33, 7, 200, 5};
    for (NPT_Size request : requests) {
        if (request == 200) {   // lowered below the end, above the position
            copying_buffer.SetDataSize(80);
            in_place_buffer.SetDataSize(80);
        }
        std::vector<NPT_Byte> copy(request + 1, 0xEE);
        NPT_Size count = 99;
        NPT_Result result = copying.Read(copy.data(), request, &count);
        const NPT_Byte* bytes = reinterpret_cast<const NPT_Byte*>(1);
        NPT_Size got = in_place.ReadInPlace(bytes, request);
        ASSERT_EQ(count, got) << request;
        EXPECT_EQ(got == 0, bytes == nullptr) << request;
        if (got > 0) {
            EXPECT_EQ(NPT_SUCCESS, result);
            EXPECT_EQ(0, std::memcmp(copy.data(), bytes, got)) << request;
            EXPECT_EQ(in_place_buffer.GetData() + ReadPosition(in_place) - got, bytes);
        }
        EXPECT_EQ(ReadPosition(copying), ReadPosition(in_place)) << request;
    }
    EXPECT_EQ(80u, ReadPosition(in_place));
}

// A handle to the stream itself converts to a handle of either
// interface; the view taken is the last to let go.
template <typename View>
void LastShareThroughView()
{
    View view;
    {
        NPT_Reference<NPT_MemoryStream> stream(new NPT_MemoryStream(MakePattern(8).data(), 8));
        view = stream;
        EXPECT_EQ(2u, stream.GetCount());
    }
    EXPECT_EQ(1u, view.GetCount());
    NPT_Position position = 1;
    EXPECT_EQ(NPT_SUCCESS, view->Tell(position));
    EXPECT_EQ(0u, position);
}

TEST(MemoryStream, EitherInterfaceHandleDeletesIt)
{
    // held through the second base alone: deleting there must free the
    // whole object (the sanitizer build checks the address and size)
    {
        NPT_OutputStreamReference output(new NPT_MemoryStream(MakePattern(8).data(), 8));
        EXPECT_EQ(NPT_SUCCESS, output->WriteUInt32Be(0x01020304));
    }
    LastShareThroughView<NPT_InputStreamReference>();
    LastShareThroughView<NPT_OutputStreamReference>();
}

} // namespace
