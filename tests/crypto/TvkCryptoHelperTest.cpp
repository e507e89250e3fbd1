// TVK_CryptoHelper: key derivation, the stream and buffer forms (round
// trips, directions, wrong passwords, what reaches the sink on failure)
// and concurrent runs.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "NptDataBuffer.h"
#include "NptMemoryStream.h"
#include "TestStreams.h"
#include "TvkCryptoHelper.h"

namespace {

using tvk_test::FakeInputStream;
using tvk_test::FakeOutputStream;
using tvk_test::MakePattern;
using Bytes = std::vector<NPT_Byte>;

const char* const kPassword = "correct horse battery staple!";

Bytes BytesOf(const NPT_DataBuffer& buffer)
{
    return Bytes(buffer.GetData(), buffer.GetData() + buffer.GetDataSize());
}

// The buffer form into an empty buffer; fails the test on a failure code.
Bytes Transform(const char* password, int direction, const Bytes& input)
{
    NPT_DataBuffer output;
    EXPECT_EQ(TVK_CryptoHelper::EncryptDecryptWithPassword(
                  password, static_cast<NPT_BlockCipher::Direction>(direction), input.data(),
                  static_cast<NPT_Size>(input.size()), output),
              NPT_SUCCESS);
    return BytesOf(output);
}

/*----------------------------------------------------------------------
|   GenerateKey
+---------------------------------------------------------------------*/
TEST(GenerateKey, ReplacesTheBufferWithTheDigestOfTheBytesBeforeTheFirstZero)
{
    NPT_DataBuffer reference;
    ASSERT_EQ(TVK_CryptoHelper::GenerateKey("abc", reference), NPT_SUCCESS);
    ASSERT_EQ(reference.GetDataSize(), 20u);

    NPT_DataBuffer key;
    Bytes junk(100, 0xEE);
    ASSERT_EQ(key.SetData(junk.data(), 100), NPT_SUCCESS);
    const char with_zero[] = "abc\0def";
    ASSERT_EQ(TVK_CryptoHelper::GenerateKey(with_zero, key), NPT_SUCCESS);
    EXPECT_EQ(BytesOf(key), BytesOf(reference));

    NPT_DataBuffer other;
    ASSERT_EQ(TVK_CryptoHelper::GenerateKey("abd", other), NPT_SUCCESS);
    EXPECT_NE(BytesOf(other), BytesOf(reference));
}

TEST(GenerateKey, NullPasswordIsRefusedAndTheKeyUntouched)
{
    NPT_DataBuffer key;
    ASSERT_EQ(key.SetData(reinterpret_cast<const NPT_Byte*>("xyz"), 3), NPT_SUCCESS);
    EXPECT_EQ(TVK_CryptoHelper::GenerateKey(nullptr, key), NPT_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(BytesOf(key), (Bytes{'x', 'y', 'z'}));
}

/*----------------------------------------------------------------------
|   buffer form
+---------------------------------------------------------------------*/
class PasswordRoundTrip : public ::testing::TestWithParam<size_t>
{
};

TEST_P(PasswordRoundTrip, EncryptThenDecryptGivesTheInputBack)
{
    Bytes input = MakePattern(GetParam(), 21);
    if (!input.empty()) input[input.size() / 2] = 0;  // zero bytes are data too

    Bytes encrypted = Transform(kPassword, NPT_BlockCipher::ENCRYPT, input);
    ASSERT_EQ(encrypted.size(), input.size());
    if (input.size() >= 16) {
        EXPECT_NE(encrypted, input);
    }
    EXPECT_EQ(Transform(kPassword, NPT_BlockCipher::DECRYPT, encrypted), input);
    // every direction other than ENCRYPT decrypts
    EXPECT_EQ(Transform(kPassword, 2, encrypted), input);
    // the format is its own inverse: decrypting cleartext encrypts it
    EXPECT_EQ(Transform(kPassword, NPT_BlockCipher::DECRYPT, input), encrypted);

    Bytes wrong = Transform("correct horse battery staple?", NPT_BlockCipher::DECRYPT, encrypted);
    EXPECT_EQ(wrong.size(), input.size());
    if (!input.empty()) {
        EXPECT_NE(wrong, input);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, PasswordRoundTrip,
                         ::testing::Values(0, 1, 15, 16, 17, 1023, 1024, 1025, 100000));

TEST(PasswordBufferForm, WritesFromTheStartAndNeverShrinksTheOutput)
{
    NPT_DataBuffer output;
    Bytes old = MakePattern(10, 22);
    ASSERT_EQ(output.SetData(old.data(), 10), NPT_SUCCESS);
    Bytes input = MakePattern(4, 23);
    ASSERT_EQ(TVK_CryptoHelper::EncryptDecryptWithPassword(kPassword, NPT_BlockCipher::ENCRYPT,
                                                           input.data(), 4, output),
              NPT_SUCCESS);
    Bytes expected = Transform(kPassword, NPT_BlockCipher::ENCRYPT, input);
    expected.insert(expected.end(), old.begin() + 4, old.end());
    EXPECT_EQ(BytesOf(output), expected);
}

TEST(PasswordBufferForm, BadArgumentsLeaveTheOutputUntouched)
{
    NPT_DataBuffer output;
    Bytes input = MakePattern(10);
    EXPECT_EQ(TVK_CryptoHelper::EncryptDecryptWithPassword(nullptr, NPT_BlockCipher::ENCRYPT,
                                                           input.data(), 10, output),
              NPT_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(TVK_CryptoHelper::EncryptDecryptWithPassword(kPassword, NPT_BlockCipher::ENCRYPT,
                                                           nullptr, 10, output),
              NPT_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(output.GetDataSize(), 0u);
    EXPECT_EQ(output.GetBufferSize(), 0u);

    // no input at all is an empty input
    EXPECT_EQ(TVK_CryptoHelper::EncryptDecryptWithPassword(kPassword, NPT_BlockCipher::DECRYPT,
                                                           nullptr, 0, output),
              NPT_SUCCESS);
    EXPECT_EQ(output.GetDataSize(), 0u);
}

TEST(PasswordBufferForm, OutputThatCannotGrowReportsTheWriteFailure)
{
    Bytes input = MakePattern(100000, 24);
    Bytes block(70000);
    NPT_DataBuffer output;
    ASSERT_EQ(output.SetBuffer(block.data(), 70000), NPT_SUCCESS);
    EXPECT_EQ(TVK_CryptoHelper::EncryptDecryptWithPassword(kPassword, NPT_BlockCipher::ENCRYPT,
                                                           input.data(), 100000, output),
              NPT_ERROR_NOT_SUPPORTED);
    // the first copy block made it; nothing is rolled back
    Bytes expected = Transform(kPassword, NPT_BlockCipher::ENCRYPT, input);
    ASSERT_EQ(output.GetDataSize(), 65536u);
    EXPECT_EQ(BytesOf(output), Bytes(expected.begin(), expected.begin() + 65536));
}

TEST(PasswordBufferForm, FourThreadsAtOnceOnDistinctBuffers)
{
    const int kThreads = 4;
    std::vector<Bytes> inputs, expected;
    std::vector<std::string> passwords;
    for (int t = 0; t < kThreads; ++t) {
        inputs.push_back(MakePattern(200000 + 1000 * t, 30 + t));
        passwords.push_back("password " + std::to_string(t));
        expected.push_back(Transform(passwords[t].c_str(), NPT_BlockCipher::ENCRYPT, inputs[t]));
    }

    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 5; ++round) {
                NPT_DataBuffer encrypted, decrypted;
                NPT_Size size = static_cast<NPT_Size>(inputs[t].size());
                if (TVK_CryptoHelper::EncryptDecryptWithPassword(
                        passwords[t].c_str(), NPT_BlockCipher::ENCRYPT, inputs[t].data(), size,
                        encrypted) != NPT_SUCCESS ||
                    BytesOf(encrypted) != expected[t] ||
                    TVK_CryptoHelper::EncryptDecryptWithPassword(
                        passwords[t].c_str(), NPT_BlockCipher::DECRYPT, encrypted.GetData(), size,
                        decrypted) != NPT_SUCCESS ||
                    BytesOf(decrypted) != inputs[t]) {
                    ++failures[t];
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
}

/*----------------------------------------------------------------------
|   stream form
+---------------------------------------------------------------------*/
struct StreamRun
{
    FakeInputStream*          source;
    FakeOutputStream*         sink;
    NPT_InputStreamReference  input;
    NPT_OutputStreamReference output;

    explicit StreamRun(const Bytes& data)
        : source(new FakeInputStream(data)), sink(new FakeOutputStream()),
          input(source), output(sink) {}

    NPT_Result Run(const char* password, NPT_BlockCipher::Direction direction)
    {
        return TVK_CryptoHelper::EncryptDecryptWithPassword(password, direction, input, output);
    }
};

TEST(PasswordStreamForm, MatchesTheBufferFormWhateverTheSourceDoes)
{
    Bytes input = MakePattern(70000, 25);
    Bytes expected = Transform(kPassword, NPT_BlockCipher::ENCRYPT, input);
    for (NPT_Size max_read : {0u, 3u}) {
        StreamRun run(input);
        run.source->max_read = max_read;
        ASSERT_EQ(run.source->Seek(12345), NPT_SUCCESS);  // still read from 0
        run.sink->max_write = 1000;
        ASSERT_EQ(run.Run(kPassword, NPT_BlockCipher::ENCRYPT), NPT_SUCCESS);
        EXPECT_EQ(run.sink->Written(), expected);
        EXPECT_EQ(run.sink->flush_calls, 0);  // the sink's owner flushes
        EXPECT_EQ(run.input.GetCount(), 1u);  // the run's share is given back
    }
}

TEST(PasswordStreamForm, FailuresBeforeTheCopyLeaveTheSinkUntouched)
{
    for (NPT_BlockCipher::Direction direction : {NPT_BlockCipher::ENCRYPT, NPT_BlockCipher::DECRYPT}) {
        SCOPED_TRACE(direction);
        StreamRun no_password(MakePattern(100));
        EXPECT_EQ(no_password.Run(nullptr, direction), NPT_ERROR_INVALID_PARAMETERS);
        EXPECT_EQ(no_password.sink->write_calls + no_password.sink->seek_calls, 0);
        EXPECT_EQ(no_password.source->read_calls + no_password.source->get_size_calls, 0);

        StreamRun no_size(MakePattern(100));
        no_size.source->get_size_result = NPT_ERROR_NO_SUCH_FILE;
        EXPECT_EQ(no_size.Run(kPassword, direction), NPT_ERROR_NO_SUCH_FILE);
        EXPECT_EQ(no_size.sink->write_calls + no_size.sink->seek_calls, 0);

        NPT_InputStreamReference empty_input;
        NPT_OutputStreamReference empty_output;
        StreamRun run(MakePattern(100));
        EXPECT_EQ(TVK_CryptoHelper::EncryptDecryptWithPassword(kPassword, direction, empty_input,
                                                               run.output),
                  NPT_ERROR_INVALID_PARAMETERS);
        EXPECT_EQ(TVK_CryptoHelper::EncryptDecryptWithPassword(kPassword, direction, run.input,
                                                               empty_output),
                  NPT_ERROR_INVALID_PARAMETERS);
        EXPECT_EQ(run.sink->write_calls, 0);
    }
}

TEST(PasswordStreamForm, FailuresDuringTheCopyPassThroughAndKeepWhatWasWritten)
{
    Bytes input = MakePattern(200000, 26);
    Bytes expected = Transform(kPassword, NPT_BlockCipher::ENCRYPT, input);

    StreamRun failing_sink(input);
    failing_sink.sink->fail_after = 70000;
    failing_sink.sink->fail_code = NPT_ERROR_FILE_NOT_ENOUGH_SPACE;
    EXPECT_EQ(failing_sink.Run(kPassword, NPT_BlockCipher::ENCRYPT), NPT_ERROR_FILE_NOT_ENOUGH_SPACE);
    EXPECT_EQ(failing_sink.sink->Written(), Bytes(expected.begin(), expected.begin() + 70000));

    StreamRun failing_source(expected);
    failing_source.source->fail_after = 100000;
    failing_source.source->fail_code = NPT_ERROR_PERMISSION_DENIED;
    EXPECT_EQ(failing_source.Run(kPassword, NPT_BlockCipher::DECRYPT), NPT_ERROR_PERMISSION_DENIED);
    const Bytes& written = failing_source.sink->Written();
    EXPECT_EQ(written, Bytes(input.begin(), input.begin() + written.size()));

    StreamRun unseekable(input);
    unseekable.source->seek_result = NPT_ERROR_NOT_SUPPORTED;
    EXPECT_EQ(unseekable.Run(kPassword, NPT_BlockCipher::ENCRYPT), NPT_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(unseekable.sink->write_calls, 0);
}

// The buffer form runs in one pass when the output has room for the
// whole result; it must give what the streams and the copy give (the
// stream form over fakes), around chunk and copy-block sizes, into an
// empty output, one holding more or fewer bytes, the input's own block,
// and a block the input overlaps (which takes the streams).
TEST(PasswordBufferForm, OnePassRunEqualsTheStreamForm)
{
    enum Layout { EMPTY, LONGER, SHORTER, SAME_BLOCK, OVERLAPPING };
    for (size_t size : {1, 15, 16, 17, 1023, 1024, 1025, 65536, 65537, 200005}) {
        const Bytes input = MakePattern(size, 27);
        StreamRun reference(input);
        ASSERT_EQ(reference.Run(kPassword, NPT_BlockCipher::DECRYPT), NPT_SUCCESS);
        const Bytes& transformed = reference.sink->Written();

        for (Layout layout : {EMPTY, LONGER, SHORTER, SAME_BLOCK, OVERLAPPING}) {
            SCOPED_TRACE(std::to_string(size) + " layout " + std::to_string(layout));
            NPT_DataBuffer output;
            Bytes old = MakePattern(layout == LONGER ? size + 100 : size / 2, 28);
            Bytes expected = transformed;
            const NPT_UInt8* from = input.data();
            if (layout == LONGER || layout == SHORTER) {
                ASSERT_EQ(output.SetData(old.data(), static_cast<NPT_Size>(old.size())), NPT_SUCCESS);
                if (old.size() > size) expected.insert(expected.end(), old.begin() + size, old.end());
            } else if (layout == SAME_BLOCK) {
                ASSERT_EQ(output.SetData(input.data(), static_cast<NPT_Size>(size)), NPT_SUCCESS);
                from = output.GetData();
            } else if (layout == OVERLAPPING) {
                Bytes shifted(size + 8, 0xAB);
                std::copy(input.begin(), input.end(), shifted.begin() + 8);
                ASSERT_EQ(output.SetData(shifted.data(), static_cast<NPT_Size>(shifted.size())), NPT_SUCCESS);
                from = output.GetData() + 8;
                expected.insert(expected.end(), shifted.begin() + size, shifted.end());
            }
            ASSERT_EQ(TVK_CryptoHelper::EncryptDecryptWithPassword(
                          kPassword, NPT_BlockCipher::DECRYPT, from, static_cast<NPT_Size>(size), output),
                      NPT_SUCCESS);
            EXPECT_EQ(BytesOf(output), expected);
        }
    }
}

} // namespace
