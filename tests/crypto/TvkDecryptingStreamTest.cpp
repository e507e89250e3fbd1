// TVK_DecryptingStream: round trips with the encrypting stream, random
// access (read sizes, short-reading sources, seeks anywhere) against an
// in-memory model, positioning rules and failures.

#include <gtest/gtest.h>

#include <random>
#include <string>
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

// A decrypting stream over the ciphertext of cleartext.
struct Fixture : tvk_test::CipherStreamFixture
{
    Bytes cleartext;

    explicit Fixture(const Bytes& clear, const NPT_LargeSize* size = nullptr)
        : CipherStreamFixture(ReferenceCiphertext(clear)), cleartext(clear)
    {
        EXPECT_EQ(TVK_DecryptingStream::Create(source_handle, TestKey(), 16, kFactory, stream,
                                               size, 6),
                  NPT_SUCCESS);
    }
};

TEST(DecryptingStream, RoundTripsTheEncryptingStream)
{
    for (size_t size : {0, 1, 15, 16, 17, 1023, 1024, 1025, 100000}) {
        SCOPED_TRACE(size);
        Bytes cleartext = MakePattern(size, 11);
        NPT_InputStreamReference clear_source(new FakeInputStream(cleartext));
        NPT_InputStreamReference encrypting;
        ASSERT_EQ(TVK_EncryptingStream::Create(clear_source, TestKey(), 16, kFactory, encrypting,
                                               nullptr, nullptr, 6),
                  NPT_SUCCESS);
        // the decrypting stream reads straight from the encrypting one,
        // whose Seek accepts exactly the positions the reader asks for
        NPT_LargeSize declared = size;
        NPT_InputStreamReference decrypting;
        ASSERT_EQ(TVK_DecryptingStream::Create(encrypting, TestKey(), 16, kFactory, decrypting,
                                               &declared, 6),
                  NPT_SUCCESS);
        EXPECT_EQ(ReadInPattern(*decrypting, {1, 15, 16, 17, 4096}), cleartext);
    }
}

/*----------------------------------------------------------------------
|   random access against a model
+---------------------------------------------------------------------*/
struct Model
{
    const Bytes& data;
    NPT_Position position = 0;
};

TEST(DecryptingStream, RandomSeekReadSkipMatchesAnInMemoryModel)
{
    const size_t size = 5 * 1024 + 300;
    Bytes cleartext = MakePattern(size, 13);
    const NPT_Position targets[] = {0, 1, 15, 16, 17, 1023, 1024, 1025, 2047, 2048, 2049,
                                    size - 1, size, size + 1, size + 1000};
    const NPT_Size requests[] = {0, 1, 5, 15, 16, 17, 31, 100, 1023, 1024, 1025, 4096};

    for (unsigned seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        Fixture f(cleartext);
        f.source->max_read = (seed % 4) * 5;  // 0: whole slices, else short reads
        Model model{cleartext};

        for (int step = 0; step < 400; ++step) {
            int op = random() % 3;
            if (op == 0) {
                NPT_Position target = random() % 2 ? targets[random() % std::size(targets)]
                                                   : random() % (size + 1);
                NPT_Result expected = target > size ? NPT_ERROR_INVALID_PARAMETERS : NPT_SUCCESS;
                ASSERT_EQ(f.stream->Seek(target), expected) << "Seek " << target;
                if (expected == NPT_SUCCESS) model.position = target;
            } else if (op == 1) {
                NPT_Size request = requests[random() % std::size(requests)];
                Bytes buffer(request + 1);
                NPT_Size got = 9999;
                NPT_Result result = f.stream->Read(buffer.data(), request, &got);
                NPT_Size left = static_cast<NPT_Size>(size - model.position);
                if (request > 0 && left == 0) {
                    ASSERT_EQ(result, NPT_ERROR_END_OF_STREAM);
                    ASSERT_EQ(got, 0u);
                } else {
                    NPT_Size expected = request < left ? request : left;
                    ASSERT_EQ(result, NPT_SUCCESS);
                    ASSERT_EQ(got, expected) << "Read " << request << " at " << model.position;
                    ASSERT_EQ(Bytes(buffer.begin(), buffer.begin() + got),
                              Bytes(cleartext.begin() + model.position,
                                    cleartext.begin() + model.position + got))
                        << "Read " << request << " at " << model.position;
                    model.position += got;
                }
            } else {
                NPT_Size count = random() % 2 ? requests[random() % std::size(requests)]
                                              : random() % 3000;
                NPT_Result expected = model.position + count > size
                                          ? NPT_ERROR_INVALID_PARAMETERS : NPT_SUCCESS;
                ASSERT_EQ(f.stream->Skip(count), expected) << "Skip " << count;
                if (expected == NPT_SUCCESS) model.position += count;
            }

            NPT_Position position = 0;
            NPT_LargeSize available = 0;
            ASSERT_EQ(f.stream->Tell(position), NPT_SUCCESS);
            ASSERT_EQ(position, model.position);
            ASSERT_EQ(f.stream->GetAvailable(available), NPT_SUCCESS);
            ASSERT_EQ(available, size - model.position);
        }
    }
}

/*----------------------------------------------------------------------
|   sizes, positioning, failures
+---------------------------------------------------------------------*/
TEST(DecryptingStream, EmptySourceEndsAtOnce)
{
    Fixture f(Bytes{});
    NPT_LargeSize size = 1;
    EXPECT_EQ(f.stream->GetSize(size), NPT_SUCCESS);
    EXPECT_EQ(size, 0u);
    NPT_Byte byte;
    EXPECT_EQ(f.stream->Read(&byte, 1), NPT_ERROR_END_OF_STREAM);
    EXPECT_EQ(f.stream->Seek(0), NPT_SUCCESS);
    EXPECT_EQ(f.stream->Seek(1), NPT_ERROR_INVALID_PARAMETERS);
}

TEST(DecryptingStream, GivenSizeLimitsTheOutput)
{
    Bytes cleartext = MakePattern(3000, 14);
    NPT_LargeSize size = 1100;
    Fixture f(cleartext, &size);
    EXPECT_EQ(ReadInPattern(*f.stream, {512}), Bytes(cleartext.begin(), cleartext.begin() + 1100));
    EXPECT_EQ(f.source->get_size_calls, 0);
    EXPECT_EQ(f.stream->Seek(1101), NPT_ERROR_INVALID_PARAMETERS);
}

TEST(DecryptingStream, FailedSourceSeekLeavesTheStreamReadingCorrectly)
{
    Bytes cleartext = MakePattern(4000, 16);
    Fixture f(cleartext);
    Bytes first(10);
    ASSERT_EQ(f.stream->ReadFully(first.data(), 10), NPT_SUCCESS);  // 6 bytes stay buffered

    f.source->seek_result = NPT_ERROR_OUT_OF_RANGE;
    EXPECT_EQ(f.stream->Seek(2500), NPT_ERROR_OUT_OF_RANGE);
    NPT_Position position = 0;
    EXPECT_EQ(f.stream->Tell(position), NPT_SUCCESS);
    EXPECT_EQ(position, 10u);
    f.source->seek_result = NPT_SUCCESS;

    // the cipher went back with the stream: the rest decrypts correctly
    Bytes rest = ReadInPattern(*f.stream, {1000});
    first.insert(first.end(), rest.begin(), rest.end());
    EXPECT_EQ(first, cleartext);
}

TEST(DecryptingStream, SourceSeekFailureInReadDeliversOnlyBufferedBytes)
{
    Bytes cleartext = MakePattern(100, 17);
    Fixture f(cleartext);
    Bytes out(10);
    ASSERT_EQ(f.stream->ReadFully(out.data(), 10), NPT_SUCCESS);

    f.source->seek_result = NPT_ERROR_PERMISSION_DENIED;
    NPT_Size got = 0;
    Bytes more(50);
    EXPECT_EQ(f.stream->Read(more.data(), 50, &got), NPT_ERROR_PERMISSION_DENIED);
    ASSERT_EQ(got, 6u);
    EXPECT_EQ(Bytes(more.begin(), more.begin() + 6), Bytes(cleartext.begin() + 10, cleartext.begin() + 16));
    // a request for nothing repositions the source too, and fails with it
    EXPECT_EQ(f.stream->Read(more.data(), 0, &got), NPT_ERROR_PERMISSION_DENIED);
}

TEST(DecryptingStream, SourceFailingMidwayCountsTheBytesBefore)
{
    Bytes cleartext = MakePattern(3000, 18);
    for (NPT_Position fail_at : {0, 9, 16, 1024, 2001}) {
        SCOPED_TRACE(fail_at);
        Fixture f(cleartext);
        f.source->fail_after = fail_at;
        f.source->fail_code = NPT_ERROR_INTERNAL;
        Bytes out(3000);
        NPT_Size got = 0;
        EXPECT_EQ(f.stream->Read(out.data(), 3000, &got), NPT_ERROR_INTERNAL);
        ASSERT_EQ(got, fail_at);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + got), Bytes(cleartext.begin(), cleartext.begin() + got));
    }
}

TEST(DecryptingStream, CreateFailuresLeaveNothingBehind)
{
    FakeInputStream* source = new FakeInputStream(MakePattern(10));
    NPT_InputStreamReference handle(source);
    NPT_InputStreamReference stream(new FakeInputStream());

    source->get_size_result = NPT_ERROR_NO_SUCH_FILE;
    EXPECT_EQ(TVK_DecryptingStream::Create(handle, TestKey(), 16, kFactory, stream, nullptr, 6),
              NPT_ERROR_NO_SUCH_FILE);
    EXPECT_TRUE(stream.IsNull());
    source->get_size_result = NPT_SUCCESS;

    EXPECT_EQ(TVK_DecryptingStream::Create(handle, TestKey(), 32, kFactory, stream, nullptr, 6),
              NPT_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(TVK_DecryptingStream::Create(handle, TestKey(), 16, nullptr, stream, nullptr, 6),
              NPT_ERROR_INVALID_PARAMETERS);
    NPT_InputStreamReference empty;
    EXPECT_EQ(TVK_DecryptingStream::Create(empty, TestKey(), 16, kFactory, stream, nullptr, 6),
              NPT_ERROR_INVALID_PARAMETERS);
    EXPECT_TRUE(stream.IsNull());
    EXPECT_EQ(handle.GetCount(), 1u);
    EXPECT_EQ(source->read_calls + source->seek_calls, 0);
}

} // namespace
