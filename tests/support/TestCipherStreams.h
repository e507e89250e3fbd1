/*****************************************************************
| TestCipherStreams.h - helpers for tests of the encrypting and
| decrypting streams.
|
| ReferenceCiphertext computes the expected output independently of the
| streams: one TVK_CtrStreamCipher::ProcessBuffer call over the whole
| input at the given stream offset. ReadInPattern reads a stream to its
| end with a cycle of request sizes and checks Tell and GetAvailable
| after every call. CipherStreamFixture holds the fake source a stream
| under test reads from and the handle the stream is created into.
|
| Header-only; test code only.
****************************************************************/
#ifndef TVK_TEST_CIPHER_STREAMS_H
#define TVK_TEST_CIPHER_STREAMS_H

#include <gtest/gtest.h>

#include <vector>

#include "NptBlockCipher.h"
#include "NptStreams.h"
#include "TestStreams.h"
#include "TvkBlockCipherFactory.h"
#include "TvkStreamCipher.h"

namespace tvk_test {

// A fixed 16-byte key for stream tests.
inline const NPT_UInt8* TestKey()
{
    static const NPT_UInt8 key[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                                      0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};
    return key;
}

// The factory the streams' callers pass.
inline TVK_BlockCipherFactory* const kFactory = &TVK_DefaultBlockCipherFactory::Instance;

// A fake source over bytes, and the handle a test creates its cipher
// stream into. source stays reachable for setting the fake's options;
// source_handle owns it.
struct CipherStreamFixture
{
    FakeInputStream*         source;
    NPT_InputStreamReference source_handle;
    NPT_InputStreamReference stream;

    explicit CipherStreamFixture(const std::vector<NPT_Byte>& bytes)
        : source(new FakeInputStream(bytes)), source_handle(source)
    {
    }
};

// Bytes start .. end of data transformed at their own stream offsets.
inline std::vector<NPT_Byte> ReferenceCiphertext(const std::vector<NPT_Byte>& data,
                                                 size_t           start = 0,
                                                 const NPT_UInt8* key = TestKey(),
                                                 NPT_UInt8        expansion_factor = 6)
{
    NPT_BlockCipher* block_cipher = nullptr;
    EXPECT_EQ(TVK_DefaultBlockCipherFactory::Instance.Create(
                  NPT_BlockCipher::AES_128, NPT_BlockCipher::ENCRYPT, key, 16, block_cipher),
              NPT_SUCCESS);
    TVK_CtrStreamCipher cipher(block_cipher, expansion_factor);
    std::vector<NPT_Byte> out(data.size() - start);
    EXPECT_EQ(cipher.SetStreamOffset(start), NPT_SUCCESS);
    EXPECT_EQ(cipher.ProcessBuffer(data.data() + start, static_cast<NPT_Size>(out.size()),
                                   out.data(), nullptr, true),
              NPT_SUCCESS);
    return out;
}

// Reads stream to its end, cycling through the request sizes of pattern.
// After each call Tell must have advanced by the bytes delivered and
// GetAvailable must be the declared size minus the position. Stops at
// the first failure (reported).
inline std::vector<NPT_Byte> ReadInPattern(NPT_InputStream&             stream,
                                           const std::vector<NPT_Size>& pattern)
{
    NPT_LargeSize size = 0;
    NPT_Position start = 0;
    EXPECT_EQ(stream.GetSize(size), NPT_SUCCESS);
    EXPECT_EQ(stream.Tell(start), NPT_SUCCESS);
    std::vector<NPT_Byte> out;
    for (size_t step = 0;; ++step) {
        NPT_Size request = pattern[step % pattern.size()];
        std::vector<NPT_Byte> chunk(request + 1);
        NPT_Size got = 12345;
        NPT_Result result = stream.Read(chunk.data(), request, &got);
        if (result == NPT_ERROR_END_OF_STREAM) {
            EXPECT_EQ(got, 0u);
            break;
        }
        EXPECT_EQ(result, NPT_SUCCESS);
        if (result != NPT_SUCCESS) break;
        EXPECT_LE(got, request);
        EXPECT_TRUE(got > 0 || request == 0);
        out.insert(out.end(), chunk.begin(), chunk.begin() + got);

        NPT_Position position = 0;
        NPT_LargeSize available = 0;
        EXPECT_EQ(stream.Tell(position), NPT_SUCCESS);
        EXPECT_EQ(position, start + out.size());
        EXPECT_EQ(stream.GetAvailable(available), NPT_SUCCESS);
        EXPECT_EQ(available, size - start - out.size());
        if (step > 1000000) {
            ADD_FAILURE() << "the stream never ends";
            break;
        }
    }
    return out;
}

} // namespace tvk_test

#endif // TVK_TEST_CIPHER_STREAMS_H
