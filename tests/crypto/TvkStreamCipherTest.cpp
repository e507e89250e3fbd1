// The counter-mode key stream: standard AES-CTR vectors for expansion
// factor 0, a byte-wise reference model for every factor and every XOR
// width this processor has, split processing, positioning, wrap-around
// at 2^32, batches of chunks, and the failure paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "NptAes.h"
#include "TestHex.h"
#include "TvkStreamCipher.h"

using tvk_test::FromHex;
using tvk_test::ToHex;
using Bytes = std::vector<NPT_UInt8>;

namespace {

const Bytes kKey = FromHex("000102030405060708090a0b0c0d0e0f");

// AES-128 encrypter that counts its calls and can be told to fail: on
// every block, or on the counter blocks of chunk fail_from and later.
class CountingAes : public NPT_AesBlockEncrypter {
public:
    explicit CountingAes(const Bytes& key, int* calls, bool fail = false, int fail_from = -1)
        : NPT_AesBlockEncrypter(key.data(), 16), calls_(calls), fail_(fail), fail_from_(fail_from) {}
    // The AES classes make batches without calling ProcessBlock; route
    // them through it, one block at a time, so that every block is seen.
    NPT_Result ProcessBlocks(const NPT_UInt8* in, NPT_UInt8* out, NPT_Size count) override
    {
        return NPT_BlockCipher::ProcessBlocks(in, out, count);
    }
    NPT_Result ProcessBlock(const NPT_UInt8* in, NPT_UInt8* out) override
    {
        ++*calls_;
        const int chunk = (in[13] << 16) | (in[14] << 8) | in[15];
        if (fail_ || (fail_from_ >= 0 && chunk >= fail_from_)) return NPT_ERROR_OUT_OF_RESOURCES;
        return NPT_AesBlockEncrypter::ProcessBlock(in, out);
    }
private:
    int* calls_;
    bool fail_;
    int  fail_from_;
};

// Counts the batched calls and the blocks in them, as a hardware AES
// that pipelines would receive them.
class BatchCountingAes : public NPT_AesBlockEncrypter {
public:
    explicit BatchCountingAes(std::vector<NPT_Size>* batches)
        : NPT_AesBlockEncrypter(kKey.data(), 16), batches_(batches) {}
    NPT_Result ProcessBlocks(const NPT_UInt8* in, NPT_UInt8* out, NPT_Size count) override
    {
        batches_->push_back(count);
        return NPT_AesBlockEncrypter::ProcessBlocks(in, out, count);
    }
private:
    std::vector<NPT_Size>* batches_;
};

// Selects an XOR width for the life of a test and goes back to the
// widest afterwards; skips the test where the processor lacks the width.
class XorWidthScope {
public:
    explicit XorWidthScope(TVK_CtrStreamCipher::XorWidth width)
        : supported_(TVK_CtrStreamCipher::SelectXorWidth(width) == NPT_SUCCESS) {}
    ~XorWidthScope() { TVK_CtrStreamCipher::SelectXorWidth(TVK_CtrStreamCipher::XOR_WIDTH_AUTO); }
    bool supported() const { return supported_; }
private:
    bool supported_;
};

const TVK_CtrStreamCipher::XorWidth kWidths[] = {
    TVK_CtrStreamCipher::XOR_WIDTH_PORTABLE, TVK_CtrStreamCipher::XOR_WIDTH_SSE2,
    TVK_CtrStreamCipher::XOR_WIDTH_AVX2, TVK_CtrStreamCipher::XOR_WIDTH_AVX512};

// The key stream straight from its definition, one byte at a time.
NPT_UInt8 ReferenceKeyByte(NPT_UInt64 offset, unsigned int factor)
{
    NPT_AesBlockEncrypter aes(kKey.data(), 16);
    const NPT_UInt32 o = static_cast<NPT_UInt32>(offset);
    const NPT_UInt32 chunk = o >> ((factor > 8 ? 8 : factor) + 4);
    NPT_UInt8 block[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                           NPT_UInt8(chunk >> 24), NPT_UInt8(chunk >> 16),
                           NPT_UInt8(chunk >> 8), NPT_UInt8(chunk)};
    aes.ProcessBlock(block, block);
    return block[o % 16];
}

Bytes Reference(const Bytes& in, NPT_UInt64 offset, unsigned int factor)
{
    Bytes out(in.size());
    for (size_t i = 0; i < in.size(); ++i) out[i] = in[i] ^ ReferenceKeyByte(offset + i, factor);
    return out;
}

Bytes RandomBytes(size_t size, unsigned int seed)
{
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (auto& b : bytes) b = static_cast<NPT_UInt8>(random());
    return bytes;
}

std::unique_ptr<TVK_CtrStreamCipher> MakeCipher(NPT_UInt8 factor, int* calls = nullptr)
{
    static int ignored;
    return std::make_unique<TVK_CtrStreamCipher>(new CountingAes(kKey, calls ? calls : &ignored), factor);
}

Bytes Process(TVK_CtrStreamCipher& cipher, const Bytes& in)
{
    Bytes out(in.size());
    NPT_Size out_size = static_cast<NPT_Size>(out.size());
    EXPECT_EQ(NPT_SUCCESS, cipher.ProcessBuffer(in.data(), static_cast<NPT_Size>(in.size()),
                                                out.data(), &out_size, false));
    EXPECT_EQ(in.size(), out_size);
    return out;
}

/*----------------------------------------------------------------------
|   expansion factor 0 is standard AES-128-CTR with a zero counter block
|
|   Generated once with
|     openssl enc -aes-128-ctr -K <key> -iv 00000000000000000000000000000000 -nopad
|   The last vector is the tail of 4112 zero bytes (offsets 4080 to
|   4111), where the counter carries into its third byte.
+---------------------------------------------------------------------*/
struct CtrVector {
    const char* key;
    NPT_UInt64  offset;
    const char* plaintext;
    const char* ciphertext;
};

const CtrVector kOpenSslVectors[] = {
    {"000102030405060708090a0b0c0d0e0f", 0,
     "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"
     "202122232425262728292a2b2c2d2e2f303132333435363738393a3b3c3d3e3f",
     "c6a03934838a5d8567468b69adc5d6766357018681d5a2095162a7f879e93315"
     "69f7a570bdbe80abcba050434cac9eb2899c191d005ff40f68640c65a08ac269"},
    {"2b7e151628aed2a6abf7158809cf4f3c", 0,
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
     "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710deadbeef01",
     "1636d5ee34f80625d77f8e56ca884345f93ff7172ab212233043091582dde197"
     "a7f732b5eb2506139aecf52925f84d66b0035b8eaa9a42b619338ae29d65969554d189427d"},
    {"000102030405060708090a0b0c0d0e0f", 4080,
     "0000000000000000000000000000000000000000000000000000000000000000",
     "39bbd9edf829063d5e7e702ebea40a381337d5314ce3de09efb09d44a44830f5"},
};

TEST(CtrStreamCipherTest, FactorZeroEqualsStandardAesCtr)
{
    for (const CtrVector& v : kOpenSslVectors) {
        TVK_CtrStreamCipher cipher(new NPT_AesBlockEncrypter(FromHex(v.key).data(), 16), 0);
        ASSERT_EQ(NPT_SUCCESS, cipher.SetStreamOffset(v.offset));
        EXPECT_EQ(v.ciphertext, ToHex(Process(cipher, FromHex(v.plaintext))));
    }
}

/*----------------------------------------------------------------------
|   every factor against the byte-wise reference, whole and split
+---------------------------------------------------------------------*/
class CtrFactorTest
    : public ::testing::TestWithParam<std::tuple<int, TVK_CtrStreamCipher::XorWidth>>
{
protected:
    void SetUp() override
    {
        width_ = std::make_unique<XorWidthScope>(std::get<1>(GetParam()));
        if (!width_->supported()) GTEST_SKIP() << "XOR width not available here";
    }
    std::unique_ptr<XorWidthScope> width_;
};

TEST_P(CtrFactorTest, SplitProcessingAtAnyBoundaryMatchesReference)
{
    const unsigned int factor = static_cast<unsigned int>(std::get<0>(GetParam()));
    const Bytes in = RandomBytes(9000, factor);
    const Bytes expected = Reference(in, 0, factor);

    auto whole = MakeCipher(static_cast<NPT_UInt8>(factor));
    EXPECT_EQ(expected, Process(*whole, in));
    EXPECT_EQ(9000u, whole->GetStreamOffset());

    std::mt19937 random(factor + 100);
    const size_t fixed[] = {1, 15, 16, 17, 1023, 1024, 1025, 4095, 4097};
    for (size_t round = 0; round < 12; ++round) {
        auto split = MakeCipher(static_cast<NPT_UInt8>(factor));
        Bytes out;
        for (size_t at = 0; at < in.size();) {
            size_t piece = round < 9 ? fixed[round] : 1 + random() % 3000;
            piece = std::min(piece, in.size() - at);
            Bytes part = Process(*split, Bytes(in.begin() + at, in.begin() + at + piece));
            out.insert(out.end(), part.begin(), part.end());
            at += piece;
        }
        ASSERT_EQ(expected, out) << "round " << round;
    }
}

TEST_P(CtrFactorTest, SetStreamOffsetOnAndOffChunkBoundaries)
{
    const unsigned int factor = static_cast<unsigned int>(std::get<0>(GetParam()));
    const Bytes in = RandomBytes(300, factor + 7);
    for (NPT_UInt64 offset : {0ull, 1ull, 16ull, 1000ull, 1024ull, 4096ull, 5000ull, 123457ull}) {
        auto cipher = MakeCipher(static_cast<NPT_UInt8>(factor));
        Process(*cipher, Bytes(77)); // start from somewhere else
        ASSERT_EQ(NPT_SUCCESS, cipher->SetStreamOffset(offset));
        EXPECT_EQ(offset, cipher->GetStreamOffset());
        EXPECT_EQ(Reference(in, offset, factor), Process(*cipher, in)) << offset;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Factors, CtrFactorTest,
    ::testing::Combine(::testing::Values(0, 1, 4, 6, 8, 9, 255), ::testing::ValuesIn(kWidths)),
    [](const ::testing::TestParamInfo<CtrFactorTest::ParamType>& info) {
        return "Factor" + std::to_string(std::get<0>(info.param)) + "_Width" +
               std::to_string(static_cast<int>(std::get<1>(info.param)));
    });

// Every start offset within a 64-byte register and every length up to a
// few registers past a chunk boundary, at the streams' factor: the wide
// loops, their narrower tails and the batch edges all meet here.
class CtrWidthTest : public ::testing::TestWithParam<TVK_CtrStreamCipher::XorWidth>
{
protected:
    void SetUp() override
    {
        width_ = std::make_unique<XorWidthScope>(GetParam());
        if (!width_->supported()) GTEST_SKIP() << "XOR width not available here";
    }
    std::unique_ptr<XorWidthScope> width_;
};

TEST_P(CtrWidthTest, EveryAlignmentAndLengthAroundChunkEdges)
{
    const NPT_UInt8 factor = 6;
    const Bytes in = RandomBytes(3 * 1024 + 600, 77);
    const Bytes expected = Reference(in, 0, factor);
    for (NPT_UInt64 start : {0ull, 1ull, 15ull, 16ull, 33ull, 63ull, 64ull, 1000ull, 1023ull}) {
        for (size_t length = 0; length < in.size() - start; length += (length < 300 ? 1 : 97)) {
            auto cipher = MakeCipher(factor);
            ASSERT_EQ(NPT_SUCCESS, cipher->SetStreamOffset(start));
            Bytes part(in.begin() + start, in.begin() + start + length);
            // through an output one byte off the input's alignment
            Bytes out(length + 1);
            ASSERT_EQ(NPT_SUCCESS, cipher->ProcessBuffer(part.data(), static_cast<NPT_Size>(length),
                                                         out.data() + 1, nullptr, false));
            ASSERT_EQ(Bytes(expected.begin() + start, expected.begin() + start + length),
                      Bytes(out.begin() + 1, out.end()))
                << "start " << start << " length " << length;
        }
    }
}

// The widest XOR aligns its stores: a head up to the output's next
// 64-byte boundary, the key turned to match, a masked end. Every output
// alignment, apart and in place, from a chunk boundary and from inside a
// chunk.
TEST_P(CtrWidthTest, EveryOutputAlignmentApartAndInPlace)
{
    const NPT_UInt8 factor = 6;
    const Bytes in = RandomBytes(2 * 1024 + 300, 78);
    const Bytes expected = Reference(in, 0, factor);
    for (NPT_UInt64 start : {0ull, 5ull}) {
        const size_t length = in.size() - start;
        for (size_t shift = 0; shift < 64; ++shift) {
            for (bool in_place : {false, true}) {
                auto cipher = MakeCipher(factor);
                ASSERT_EQ(NPT_SUCCESS, cipher->SetStreamOffset(start));
                Bytes buffer(length + 64);
                NPT_UInt8* out = buffer.data() + shift;
                std::copy(in.begin() + start, in.end(), out);
                const Bytes apart(in.begin() + start, in.end());
                ASSERT_EQ(NPT_SUCCESS, cipher->ProcessBuffer(in_place ? out : apart.data(),
                                                             static_cast<NPT_Size>(length), out, nullptr, false));
                ASSERT_EQ(Bytes(expected.begin() + start, expected.end()), Bytes(out, out + length))
                    << "start " << start << " shift " << shift << (in_place ? " in place" : "");
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Widths, CtrWidthTest, ::testing::ValuesIn(kWidths),
                         [](const ::testing::TestParamInfo<CtrWidthTest::ParamType>& info) {
                             return "Width" + std::to_string(static_cast<int>(info.param));
                         });

TEST(CtrStreamCipherTest, XorWidthSelection)
{
    EXPECT_TRUE(TVK_CtrStreamCipher::IsXorWidthSupported(TVK_CtrStreamCipher::XOR_WIDTH_PORTABLE));
    EXPECT_EQ(NPT_ERROR_NOT_SUPPORTED,
              TVK_CtrStreamCipher::SelectXorWidth(static_cast<TVK_CtrStreamCipher::XorWidth>(48)));
    {
        XorWidthScope portable(TVK_CtrStreamCipher::XOR_WIDTH_PORTABLE);
        ASSERT_TRUE(portable.supported());
        EXPECT_EQ(TVK_CtrStreamCipher::XOR_WIDTH_PORTABLE, TVK_CtrStreamCipher::GetXorWidth());
    }
    // the automatic choice is the widest one available
    TVK_CtrStreamCipher::XorWidth widest = TVK_CtrStreamCipher::XOR_WIDTH_PORTABLE;
    for (auto width : kWidths) {
        if (TVK_CtrStreamCipher::IsXorWidthSupported(width)) widest = width;
    }
    EXPECT_EQ(widest, TVK_CtrStreamCipher::GetXorWidth());
}

/*----------------------------------------------------------------------
|   batches of chunks
+---------------------------------------------------------------------*/
TEST(CtrStreamCipherTest, ChunksOfOneCallShareOneBatchedBlockCipherCall)
{
    std::vector<NPT_Size> batches;
    TVK_CtrStreamCipher cipher(new BatchCountingAes(&batches), 6);
    const Bytes in = RandomBytes((TVK_CtrStreamCipher::BATCH_CHUNKS + 1) * 1024 + 2600, 5);
    ASSERT_EQ(NPT_SUCCESS, cipher.SetStreamOffset(100));  // one block, not batched
    Bytes part(in.begin() + 100, in.end());
    EXPECT_EQ(Reference(part, 100, 6), Process(cipher, part));
    // the rest of chunk 0 on its own, then a full batch, then the last 3
    // chunks (the last one partial) together
    EXPECT_EQ((std::vector<NPT_Size>{TVK_CtrStreamCipher::BATCH_CHUNKS, 3}), batches);
    // a piece within one chunk needs no batch
    Process(cipher, Bytes(1000));
    EXPECT_EQ(2u, batches.size());
}

TEST(CtrStreamCipherTest, BatchesCrossTheWrapAt2To32)
{
    const Bytes in = RandomBytes(40000, 10);
    for (NPT_UInt64 start : {0x100000000ull - 3072, 0x100000000ull - 3000}) {
        auto cipher = MakeCipher(6);
        ASSERT_EQ(NPT_SUCCESS, cipher->SetStreamOffset(start));
        EXPECT_EQ(Reference(in, start, 6), Process(*cipher, in)) << start;
        EXPECT_EQ((start + in.size()) & 0xFFFFFFFFu, cipher->GetStreamOffset());
    }
}

// A block cipher that starts failing in the middle of a batch: the
// chunks before the failing one are delivered, counted and passed by
// the offset, exactly as if each chunk had been made on its own.
TEST(CtrStreamCipherTest, FailureInsideABatchKeepsTheChunksBeforeIt)
{
    const Bytes in = RandomBytes(10 * 1024 + 300, 12);
    for (int fail_from : {0, 1, 4, 10}) {
        int calls = 0;
        TVK_CtrStreamCipher cipher(new CountingAes(kKey, &calls, false, fail_from), 6);
        Bytes out(in.size(), 0xEE);
        NPT_Size out_size = static_cast<NPT_Size>(out.size());
        EXPECT_EQ(NPT_ERROR_OUT_OF_RESOURCES,
                  cipher.ProcessBuffer(in.data(), static_cast<NPT_Size>(in.size()), out.data(),
                                       &out_size, false));
        const size_t good = size_t(fail_from) * 1024;
        ASSERT_EQ(good, out_size) << fail_from;
        EXPECT_EQ(good, cipher.GetStreamOffset());
        EXPECT_EQ(Reference(Bytes(in.begin(), in.begin() + good), 0, 6),
                  Bytes(out.begin(), out.begin() + good));
    }
}

/*----------------------------------------------------------------------
|   properties of the streams' factor 6
+---------------------------------------------------------------------*/
TEST(CtrStreamCipherTest, OneBlockCipherCallPerChunk)
{
    int calls = 0;
    auto cipher = MakeCipher(6, &calls);
    Process(*cipher, Bytes(16384));
    EXPECT_EQ(16, calls);
    ASSERT_EQ(NPT_SUCCESS, cipher->SetStreamOffset(100));
    Process(*cipher, Bytes(924)); // up to the end of chunk 0
    EXPECT_EQ(17, calls);
}

TEST(CtrStreamCipherTest, ProcessingTwiceRestoresInputAlsoInPlace)
{
    const Bytes in = RandomBytes(5000, 3);
    auto cipher = MakeCipher(6);
    ASSERT_EQ(NPT_SUCCESS, cipher->SetStreamOffset(333));
    Bytes data = in;
    ASSERT_EQ(NPT_SUCCESS, cipher->ProcessBuffer(data.data(), 5000, data.data(), nullptr, true));
    EXPECT_EQ(Reference(in, 333, 6), data);
    ASSERT_EQ(NPT_SUCCESS, cipher->SetStreamOffset(333));
    ASSERT_EQ(NPT_SUCCESS, cipher->ProcessBuffer(data.data(), 5000, data.data(), nullptr, false));
    EXPECT_EQ(in, data);
}

TEST(CtrStreamCipherTest, OffsetsWrapModulo2To32)
{
    const Bytes in = RandomBytes(40, 9);
    auto cipher = MakeCipher(6);
    ASSERT_EQ(NPT_SUCCESS, cipher->SetStreamOffset((1ull << 32) + 5000));
    EXPECT_EQ(5000u, cipher->GetStreamOffset());
    EXPECT_EQ(Reference(in, 5000, 6), Process(*cipher, in));

    ASSERT_EQ(NPT_SUCCESS, cipher->SetStreamOffset(0xFFFFFFFFull - 19)); // 20 bytes before the end
    Bytes expected = Reference(Bytes(in.begin(), in.begin() + 20), 0xFFFFFFFFull - 19, 6);
    Bytes after = Reference(Bytes(in.begin() + 20, in.end()), 0, 6);
    expected.insert(expected.end(), after.begin(), after.end());
    EXPECT_EQ(expected, Process(*cipher, in));
    EXPECT_EQ(20u, cipher->GetStreamOffset());
}

TEST(CtrStreamCipherTest, SettingTheCurrentOffsetComputesNothing)
{
    int calls = 0;
    auto cipher = MakeCipher(6, &calls);
    EXPECT_EQ(NPT_SUCCESS, cipher->SetStreamOffset(0));
    EXPECT_EQ(0, calls);
    EXPECT_EQ(NPT_SUCCESS, cipher->SetStreamOffset(100));
    EXPECT_EQ(1, calls);
    EXPECT_EQ(NPT_SUCCESS, cipher->SetStreamOffset(100));
    EXPECT_EQ(NPT_SUCCESS, cipher->SetStreamOffset(2048)); // chunk boundary: computed on use
    EXPECT_EQ(1, calls);
}

TEST(CtrStreamCipherTest, SizeChecksAndEmptyInput)
{
    int calls = 0;
    auto cipher = MakeCipher(6, &calls);
    Bytes in(32, 1), out(32, 0);
    NPT_Size out_size = 31;
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, cipher->ProcessBuffer(in.data(), 32, out.data(), &out_size, false));
    EXPECT_EQ(31u, out_size);
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, cipher->ProcessBuffer(nullptr, 32, out.data(), nullptr, false));
    EXPECT_EQ(0u, cipher->GetStreamOffset());
    EXPECT_EQ(Bytes(32, 0), out);

    out_size = 99;
    EXPECT_EQ(NPT_SUCCESS, cipher->ProcessBuffer(nullptr, 0, nullptr, &out_size, false));
    EXPECT_EQ(0u, out_size);
    EXPECT_EQ(0, calls);
    EXPECT_EQ(NPT_SUCCESS, cipher->ProcessBuffer(in.data(), 32, out.data(), nullptr, false));
    EXPECT_EQ(Reference(in, 0, 6), out);
}

TEST(CtrStreamCipherTest, WithoutBlockCipherOnlyTheOffsetMoves)
{
    TVK_CtrStreamCipher cipher(nullptr, 6);
    EXPECT_EQ(NPT_SUCCESS, cipher.SetStreamOffset(100));
    EXPECT_EQ(100u, cipher.GetStreamOffset());
    Bytes data(16);
    NPT_Size out_size = 16;
    EXPECT_EQ(NPT_ERROR_INVALID_STATE, cipher.ProcessBuffer(data.data(), 16, data.data(), &out_size, false));
    EXPECT_EQ(100u, cipher.GetStreamOffset());
}

TEST(CtrStreamCipherTest, BlockCipherFailureIsReportedNotHidden)
{
    int calls = 0;
    TVK_CtrStreamCipher cipher(new CountingAes(kKey, &calls, true), 6);
    Bytes data(2000, 0x55);
    NPT_Size out_size = 2000;
    EXPECT_EQ(NPT_ERROR_OUT_OF_RESOURCES,
              cipher.ProcessBuffer(data.data(), 2000, data.data(), &out_size, false));
    EXPECT_EQ(0u, out_size);
    EXPECT_EQ(Bytes(2000, 0x55), data);
}

} // namespace
