// NPT_SubInputStream: windows over a shared source, their ends, seeking
// and the share the window holds on its source.
#include <gtest/gtest.h>

#include <vector>

#include "NptDataBuffer.h"
#include "NptSubInputStream.h"
#include "TestStreams.h"

using tvk_test::FakeInputStream;
using tvk_test::MakePattern;

namespace {

// A window over a FakeInputStream of `bytes` bytes, keeping a raw
// pointer to the fake for inspection.
struct Window {
    FakeInputStream*         source;
    NPT_InputStreamReference handle;
    NPT_SubInputStream       stream;

    Window(NPT_Size bytes, NPT_Position start, NPT_LargeSize size)
        : source(new FakeInputStream(MakePattern(bytes))),
          handle(source),
          stream(handle, start, size) {}
};

TEST(SubInputStream, WindowPastTheEndOfItsSource)
{
    // start 10, size 5 over 12 bytes: only bytes 10 and 11 exist
    Window w(12, 10, 5);
    NPT_Byte buffer[5] = {};
    NPT_Size count = 99;
    EXPECT_EQ(NPT_SUCCESS, w.stream.Read(buffer, 5, &count));
    EXPECT_EQ(2u, count);
    EXPECT_EQ(w.source->Data()[10], buffer[0]);
    EXPECT_EQ(w.source->Data()[11], buffer[1]);

    // the next read asks the source for the 3 bytes left in the window
    // and passes its end of stream on, the position unmoved
    EXPECT_EQ(NPT_ERROR_END_OF_STREAM, w.stream.Read(buffer, 5, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(3u, w.source->read_requests.back());
    NPT_Position position = 0;
    w.stream.Tell(position);
    EXPECT_EQ(2u, position);

    // at the end of the window the source isn't asked at all
    ASSERT_EQ(NPT_SUCCESS, w.stream.Seek(5));
    int reads = w.source->read_calls, seeks = w.source->seek_calls;
    EXPECT_EQ(NPT_ERROR_END_OF_STREAM, w.stream.Read(buffer, 5, &count));
    EXPECT_EQ(reads, w.source->read_calls);
    EXPECT_EQ(seeks, w.source->seek_calls);
}

TEST(SubInputStream, ReadsStayInsideTheWindow)
{
    Window w(1000, 100, 250);
    w.source->max_read = 64;
    NPT_LargeSize available = 0;
    // Load goes through Read, GetSize and GetAvailable of the window
    NPT_DataBuffer loaded;
    ASSERT_EQ(NPT_SUCCESS, w.stream.Load(loaded));
    ASSERT_EQ(250u, loaded.GetDataSize());
    EXPECT_TRUE(std::equal(loaded.GetData(), loaded.GetData() + 250,
                           w.source->Data().begin() + 100));
    EXPECT_EQ(NPT_SUCCESS, w.stream.GetAvailable(available));
    EXPECT_EQ(0u, available);
    // no read ever reached past the window
    EXPECT_LE(w.source->Position(), 350u);
}

TEST(SubInputStream, ResyncsSourceMovedByAnotherUser)
{
    Window w(100, 20, 10);
    NPT_Byte first[4], second[4];
    ASSERT_EQ(NPT_SUCCESS, w.stream.ReadFully(first, 4));
    w.source->Seek(90);   // someone else moves the shared source
    ASSERT_EQ(NPT_SUCCESS, w.stream.ReadFully(second, 4));
    EXPECT_TRUE(std::equal(first, first + 4, w.source->Data().begin() + 20));
    EXPECT_TRUE(std::equal(second, second + 4, w.source->Data().begin() + 24));
    EXPECT_EQ((std::vector<NPT_Position>{20, 90, 24}), w.source->seek_targets);
}

TEST(SubInputStream, SourceFailuresKeepThePosition)
{
    struct Case { NPT_Result seek; NPT_Result read; NPT_Result expected; };
    const Case cases[] = {
        {NPT_ERROR_NOT_SUPPORTED, NPT_SUCCESS,                 NPT_ERROR_NOT_SUPPORTED},
        {NPT_SUCCESS,             NPT_ERROR_PERMISSION_DENIED, NPT_ERROR_PERMISSION_DENIED},
    };
    for (const Case& c : cases) {
        Window w(100, 10, 50);
        ASSERT_EQ(NPT_SUCCESS, w.stream.Seek(5));
        w.source->seek_result = c.seek;
        if (c.read != NPT_SUCCESS) {
            w.source->fail_after = 0;
            w.source->fail_code  = c.read;
        }
        NPT_Byte buffer[8];
        NPT_Size count = 99;
        EXPECT_EQ(c.expected, w.stream.Read(buffer, 8, &count));
        EXPECT_EQ(0u, count);
        NPT_Position position = 0;
        w.stream.Tell(position);
        EXPECT_EQ(5u, position);
    }
}

TEST(SubInputStream, SeekWithinWindowOnly)
{
    Window w(100, 10, 5);
    NPT_Position position = 0;
    EXPECT_EQ(NPT_SUCCESS, w.stream.Seek(5));
    EXPECT_EQ(NPT_ERROR_OUT_OF_RANGE, w.stream.Seek(6));
    w.stream.Tell(position);
    EXPECT_EQ(5u, position);
    EXPECT_EQ(0, w.source->seek_calls);
}

TEST(SubInputStream, RefusesWhatItCannotReach)
{
    NPT_Byte buffer[4];
    // start + position would wrap around 2^64
    Window w(100, ~NPT_Position(0) - 2, 10);
    ASSERT_EQ(NPT_SUCCESS, w.stream.Seek(5));
    EXPECT_EQ(NPT_ERROR_OUT_OF_RANGE, w.stream.Read(buffer, 4));
    EXPECT_EQ(0, w.source->seek_calls);
    // no source at all
    NPT_SubInputStream orphan(NPT_InputStreamReference(), 0, 10);
    EXPECT_EQ(NPT_ERROR_INVALID_STATE, orphan.Read(buffer, 4));
}

TEST(SubInputStream, HoldsOneShareOfItsSource)
{
    bool deleted = false;
    FakeInputStream* raw = new FakeInputStream(MakePattern(10));
    raw->deleted_flag = &deleted;
    NPT_InputStreamReference source(raw);
    auto* window = new NPT_SubInputStream(source, 0, 10);
    EXPECT_EQ(2u, source.GetCount());

    source = NPT_InputStreamReference();   // the window's share keeps it alive
    EXPECT_FALSE(deleted);
    NPT_Byte byte = 0;
    EXPECT_EQ(NPT_SUCCESS, window->ReadUInt8(byte));

    delete window;                          // last share: the source goes
    EXPECT_TRUE(deleted);
}

} // namespace
