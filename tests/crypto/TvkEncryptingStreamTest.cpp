// TVK_EncryptingStream: the output equals one cipher pass over the whole
// cleartext whatever the read sizes and source behaviour; the source is
// read in slices of at most 16 bytes at the stream's own position;
// sizes, start offsets, Seek rules and failures.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "TestCipherStreams.h"
#include "TestStreams.h"
#include "TvkBlockCipherFactory.h"
#include "TvkDecryptingStream.h"
#include "TvkEncryptingStream.h"

namespace {

using tvk_test::FakeInputStream;
using tvk_test::kFactory;
using tvk_test::MakePattern;
using tvk_test::ReadInPattern;
using tvk_test::ReferenceCiphertext;
using tvk_test::TestKey;
using Bytes = std::vector<NPT_Byte>;

// An encrypting stream over cleartext.
struct Fixture : tvk_test::CipherStreamFixture
{
    explicit Fixture(const Bytes& cleartext,
                     const NPT_LargeSize* size = nullptr,
                     const NPT_Position* start = nullptr)
        : CipherStreamFixture(cleartext)
    {
        EXPECT_EQ(TVK_EncryptingStream::Create(source_handle, TestKey(), 16, kFactory, stream,
                                               size, start, 6),
                  NPT_SUCCESS);
    }
};

/*----------------------------------------------------------------------
|   read sizes x source read limits x cleartext sizes
+---------------------------------------------------------------------*/
struct ReadPattern
{
    const char*           name;
    std::vector<NPT_Size> sizes;
};

void PrintTo(const ReadPattern& pattern, std::ostream* os) { *os << pattern.name; }

const ReadPattern kPatterns[] = {
    {"Ones", {1}},
    {"Sevens", {7}},
    {"Sixteens", {16}},
    {"Seventeens", {17}},
    {"Pages", {4096}},
    {"Copy", {65536}},
    {"Mixed", {1, 7, 16, 0, 17, 4096, 15, 33, 1024}},
};

class EncryptingStreamReads
    : public ::testing::TestWithParam<std::tuple<ReadPattern, NPT_Size, size_t>>
{
};

TEST_P(EncryptingStreamReads, EqualOneCipherPassOverTheWholeInput)
{
    const ReadPattern& pattern = std::get<0>(GetParam());
    NPT_Size max_read = std::get<1>(GetParam());
    size_t size = std::get<2>(GetParam());

    Bytes cleartext = MakePattern(size, 7);
    Fixture f(cleartext);
    f.source->max_read = max_read;

    Bytes out = ReadInPattern(*f.stream, pattern.sizes);
    EXPECT_EQ(out, ReferenceCiphertext(cleartext));

    // slices of at most 16 bytes, and the source repositioned at every Read
    EXPECT_LE(f.source->MaxReadRequest(), 16u);
    if (size > 0) {
        EXPECT_GT(f.source->seek_calls, 0);
    }
    for (NPT_Position target : f.source->seek_targets) EXPECT_LE(target, size);
}

INSTANTIATE_TEST_SUITE_P(
    All, EncryptingStreamReads,
    ::testing::Combine(::testing::ValuesIn(kPatterns),
                       ::testing::Values(0u, 1u, 5u, 16u),
                       ::testing::Values(0, 1, 15, 16, 17, 1023, 1024, 1025, 5000)),
    [](const ::testing::TestParamInfo<EncryptingStreamReads::ParamType>& info) {
        return std::string(std::get<0>(info.param).name) + "_MaxRead" +
               std::to_string(std::get<1>(info.param)) + "_Size" +
               std::to_string(std::get<2>(info.param));
    });

/*----------------------------------------------------------------------
|   sizes, start offsets, positioning
+---------------------------------------------------------------------*/
TEST(EncryptingStream, EmptySourceEndsAtOnce)
{
    Fixture f(Bytes{});
    NPT_LargeSize size = 1;
    EXPECT_EQ(f.stream->GetSize(size), NPT_SUCCESS);
    EXPECT_EQ(size, 0u);
    NPT_Byte byte;
    NPT_Size got = 7;
    EXPECT_EQ(f.stream->Read(&byte, 1, &got), NPT_ERROR_END_OF_STREAM);
    EXPECT_EQ(got, 0u);
    // a request for nothing still repositions the source
    int seeks = f.source->seek_calls;
    EXPECT_EQ(f.stream->Read(&byte, 0, &got), NPT_SUCCESS);
    EXPECT_EQ(f.source->seek_calls, seeks + 1);
}

// Handed over in the middle, or moved by others between reads, the
// source is still read from 0 at the stream's own position.
TEST(EncryptingStream, SourceMovedByOthersIsReadAtTheStreamsPosition)
{
    Bytes cleartext = MakePattern(2000, 2);
    Fixture f(cleartext);
    Bytes out;
    for (NPT_Size done = 0; done < cleartext.size();) {
        ASSERT_EQ(f.source->Seek((done * 7 + 1500) % 1999), NPT_SUCCESS);
        Bytes chunk(9);
        NPT_Size got = 0;
        ASSERT_EQ(f.stream->Read(chunk.data(), 9, &got), NPT_SUCCESS);
        out.insert(out.end(), chunk.begin(), chunk.begin() + got);
        done += got;
    }
    EXPECT_EQ(out, ReferenceCiphertext(cleartext));
}

TEST(EncryptingStream, DeclaredSizeBoundsTheOutput)
{
    Bytes cleartext = MakePattern(1000, 3);
    Bytes reference = ReferenceCiphertext(cleartext);

    NPT_LargeSize smaller = 300;
    Fixture a(cleartext, &smaller);
    EXPECT_EQ(ReadInPattern(*a.stream, {64}), Bytes(reference.begin(), reference.begin() + 300));

    // a source shorter than declared ends the stream early; GetSize keeps
    // the declared size
    NPT_LargeSize larger = 5000;
    Fixture b(cleartext, &larger);
    Bytes out(6000);
    NPT_Size got = 0;
    EXPECT_EQ(b.stream->Read(out.data(), 6000, &got), NPT_SUCCESS);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + got), reference);
    EXPECT_EQ(b.stream->Read(out.data(), 10, &got), NPT_ERROR_END_OF_STREAM);
    NPT_LargeSize size = 0;
    EXPECT_EQ(b.stream->GetSize(size), NPT_SUCCESS);
    EXPECT_EQ(size, 5000u);
    EXPECT_EQ(b.source->get_size_calls, 0);
}

TEST(EncryptingStream, StartingPositionEncryptsTheRestAtItsTrueOffsets)
{
    Bytes cleartext = MakePattern(3100, 4);
    for (NPT_Position start : {1, 15, 16, 1023, 1024, 1025, 3000, 3100}) {
        SCOPED_TRACE(start);
        Fixture f(cleartext, nullptr, &start);
        NPT_Position position = 99;
        EXPECT_EQ(f.stream->Tell(position), NPT_SUCCESS);
        EXPECT_EQ(position, 0u);
        NPT_LargeSize size = 0;
        EXPECT_EQ(f.stream->GetSize(size), NPT_SUCCESS);
        EXPECT_EQ(size, cleartext.size());
        EXPECT_EQ(ReadInPattern(*f.stream, {17, 1000}), ReferenceCiphertext(cleartext, start));
        ASSERT_FALSE(f.source->seek_targets.empty());
        EXPECT_EQ(f.source->seek_targets.front(), start);
    }
}

TEST(EncryptingStream, SeeksOnlyToWhereItIs)
{
    Bytes cleartext = MakePattern(100, 5);
    Fixture f(cleartext);
    EXPECT_EQ(f.stream->Seek(0), NPT_SUCCESS);
    EXPECT_EQ(f.stream->Skip(0), NPT_SUCCESS);
    Bytes out(40);
    ASSERT_EQ(f.stream->ReadFully(out.data(), 40), NPT_SUCCESS);
    EXPECT_EQ(f.stream->Seek(40), NPT_SUCCESS);
    EXPECT_EQ(f.stream->Seek(0), NPT_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(f.stream->Seek(41), NPT_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(f.stream->Skip(1), NPT_ERROR_NOT_SUPPORTED);
    // nothing moved: the rest follows on
    Bytes rest = ReadInPattern(*f.stream, {1000});
    out.insert(out.end(), rest.begin(), rest.end());
    EXPECT_EQ(out, ReferenceCiphertext(cleartext));
}

/*----------------------------------------------------------------------
|   creation and failures
+---------------------------------------------------------------------*/
TEST(EncryptingStream, CreateFailuresLeaveNothingBehind)
{
    Bytes cleartext = MakePattern(10);
    bool deleted = false;
    FakeInputStream* source = new FakeInputStream(cleartext);
    source->deleted_flag = &deleted;
    NPT_InputStreamReference handle(source);
    NPT_InputStreamReference stream(new FakeInputStream());  // must be emptied

    source->get_size_result = NPT_ERROR_NO_SUCH_FILE;
    EXPECT_EQ(TVK_EncryptingStream::Create(handle, TestKey(), 16, kFactory, stream, nullptr,
                                           nullptr, 6),
              NPT_ERROR_NO_SUCH_FILE);
    EXPECT_TRUE(stream.IsNull());
    source->get_size_result = NPT_SUCCESS;

    EXPECT_EQ(TVK_EncryptingStream::Create(handle, TestKey(), 15, kFactory, stream, nullptr,
                                           nullptr, 6),
              NPT_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(TVK_EncryptingStream::Create(handle, nullptr, 16, kFactory, stream, nullptr,
                                           nullptr, 6),
              NPT_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(TVK_EncryptingStream::Create(handle, TestKey(), 16, nullptr, stream, nullptr,
                                           nullptr, 6),
              NPT_ERROR_INVALID_PARAMETERS);
    NPT_InputStreamReference empty;
    EXPECT_EQ(TVK_EncryptingStream::Create(empty, TestKey(), 16, kFactory, stream, nullptr,
                                           nullptr, 6),
              NPT_ERROR_INVALID_PARAMETERS);
    EXPECT_TRUE(stream.IsNull());
    EXPECT_EQ(handle.GetCount(), 1u);

    // a stream shares the source and gives its share back when destroyed
    ASSERT_EQ(TVK_EncryptingStream::Create(handle, TestKey(), 16, kFactory, stream, nullptr,
                                           nullptr, 6),
              NPT_SUCCESS);
    EXPECT_EQ(handle.GetCount(), 2u);
    handle.Release();
    EXPECT_FALSE(deleted);
    stream.Release();
    EXPECT_TRUE(deleted);
}

TEST(EncryptingStream, SourceSeekFailureFailsEveryReadButDeliversBufferedBytes)
{
    Bytes cleartext = MakePattern(100, 6);
    Bytes reference = ReferenceCiphertext(cleartext);
    Fixture f(cleartext);
    Bytes out(10);
    NPT_Size got = 0;
    ASSERT_EQ(f.stream->Read(out.data(), 10, &got), NPT_SUCCESS);  // 6 bytes stay buffered
    ASSERT_EQ(got, 10u);

    f.source->seek_result = NPT_ERROR_PERMISSION_DENIED;
    Bytes more(20);
    EXPECT_EQ(f.stream->Read(more.data(), 20, &got), NPT_ERROR_PERMISSION_DENIED);
    ASSERT_EQ(got, 6u);
    EXPECT_EQ(Bytes(more.begin(), more.begin() + 6), Bytes(reference.begin() + 10, reference.begin() + 16));
    EXPECT_EQ(f.stream->Read(more.data(), 20, &got), NPT_ERROR_PERMISSION_DENIED);
    EXPECT_EQ(got, 0u);

    // once the source recovers, the stream carries on where it stood
    f.source->seek_result = NPT_SUCCESS;
    Bytes rest = ReadInPattern(*f.stream, {33});
    EXPECT_EQ(rest, Bytes(reference.begin() + 16, reference.end()));
}

TEST(EncryptingStream, SourceFailingMidwayCountsTheBytesBefore)
{
    Bytes cleartext = MakePattern(5000, 8);
    Bytes reference = ReferenceCiphertext(cleartext);
    for (NPT_Position fail_at : {0, 5, 16, 100, 1030}) {
        for (NPT_Size request : {7u, 4096u}) {
            SCOPED_TRACE(std::to_string(fail_at) + " / " + std::to_string(request));
            Fixture f(cleartext);
            f.source->fail_after = fail_at;
            f.source->fail_code = NPT_ERROR_INTERNAL;
            Bytes out;
            NPT_Result result = NPT_SUCCESS;
            while (result == NPT_SUCCESS) {
                Bytes chunk(request);
                NPT_Size got = 0;
                result = f.stream->Read(chunk.data(), request, &got);
                out.insert(out.end(), chunk.begin(), chunk.begin() + got);
            }
            EXPECT_EQ(result, NPT_ERROR_INTERNAL);
            // every byte the source gave before failing arrives, correct
            ASSERT_EQ(out.size(), fail_at);
            EXPECT_EQ(out, Bytes(reference.begin(), reference.begin() + out.size()));
            NPT_Position position = 0;
            EXPECT_EQ(f.stream->Tell(position), NPT_SUCCESS);
            EXPECT_EQ(position, out.size());
        }
    }
}

// Sources that break the Read contract: one that reports a byte more
// than it was asked for (counting it would run past the caller's buffer)
// and one that reports success with nothing (which would keep the read
// loop turning forever). Both streams end such a read with
// NPT_ERROR_INTERNAL and deliver nothing.
class OverclaimingSource : public FakeInputStream
{
public:
    using FakeInputStream::FakeInputStream;
    NPT_Result Read(void* buffer, NPT_Size bytes_to_read, NPT_Size* bytes_read) override
    {
        NPT_Result result = FakeInputStream::Read(buffer, bytes_to_read, bytes_read);
        if (bytes_read && *bytes_read) ++*bytes_read;
        return result;
    }
};

TEST(CipherStreams, SourceBreakingTheReadContractIsAnInternalError)
{
    for (bool overclaiming : {true, false}) {
        for (NPT_Size request : {5u, 100u}) {
            FakeInputStream* fake = overclaiming ? new OverclaimingSource(MakePattern(1000))
                                                 : new FakeInputStream(MakePattern(1000));
            fake->zero_byte_success = !overclaiming;
            NPT_InputStreamReference source(fake);
            NPT_InputStreamReference encrypting, decrypting;
            ASSERT_EQ(TVK_EncryptingStream::Create(source, TestKey(), 16, kFactory, encrypting,
                                                   nullptr, nullptr, 6),
                      NPT_SUCCESS);
            ASSERT_EQ(TVK_DecryptingStream::Create(source, TestKey(), 16, kFactory, decrypting,
                                                   nullptr, 6),
                      NPT_SUCCESS);
            Bytes out(request);
            NPT_Size got = 99;
            EXPECT_EQ(encrypting->Read(out.data(), request, &got), NPT_ERROR_INTERNAL);
            EXPECT_EQ(got, 0u);
            EXPECT_EQ(decrypting->Read(out.data(), request, &got), NPT_ERROR_INTERNAL);
            EXPECT_EQ(got, 0u);
        }
    }
}

TEST(CipherStreams, NullBufferIsRefused)
{
    NPT_InputStreamReference source(new FakeInputStream(MakePattern(100)));
    NPT_InputStreamReference decrypting;
    ASSERT_EQ(TVK_DecryptingStream::Create(source, TestKey(), 16, kFactory, decrypting,
                                           nullptr, 6),
              NPT_SUCCESS);
    NPT_Byte first[5];
    ASSERT_EQ(decrypting->Read(first, 5), NPT_SUCCESS);  // leaves bytes in the block buffer
    NPT_Size got = 99;
    EXPECT_EQ(decrypting->Read(nullptr, 8, &got), NPT_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(got, 0u);
}

} // namespace
