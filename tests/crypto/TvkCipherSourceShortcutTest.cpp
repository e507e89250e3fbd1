// The cipher streams read the library's own memory and file input
// streams in large spans instead of 16-byte slices. These tests run a
// stream with the shortcut and one forced onto slices in lockstep, over
// two identical sources, and require the same bytes, counts, results,
// positions (the stream's and the source's) after every call: over
// sizes and offsets around slice and chunk boundaries, declared sizes
// that differ from the source, seeks, and a block cipher that fails.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "NptAes.h"
#include "NptDataBuffer.h"
#include "NptFile.h"
#include "NptMemoryStream.h"
#include "TestCipherStreams.h"
#include "TestStreams.h"
#include "TestTempDirectory.h"
#include "TvkBlockCipherFactory.h"
#include "TvkCipherInputStream.h"
#include "TvkDecryptingStream.h"
#include "TvkEncryptingStream.h"

namespace {

using tvk_test::kFactory;
using tvk_test::MakePattern;
using tvk_test::TestKey;
using Bytes = std::vector<NPT_Byte>;

// AES whose counter blocks of chunk fail_from and later fail, made by a
// factory that hands it out; the default factory's cipher never fails.
class FailingAes : public NPT_AesBlockEncrypter
{
public:
    explicit FailingAes(int fail_from) : NPT_AesBlockEncrypter(TestKey(), 16), m_FailFrom(fail_from) {}
    NPT_Result ProcessBlock(const NPT_UInt8* in, NPT_UInt8* out) override
    {
        const int chunk = (in[13] << 16) | (in[14] << 8) | in[15];
        if (chunk >= m_FailFrom) return NPT_ERROR_OUT_OF_RESOURCES;
        return NPT_AesBlockEncrypter::ProcessBlock(in, out);
    }

private:
    int m_FailFrom;
};

class FailingFactory : public TVK_BlockCipherFactory
{
public:
    explicit FailingFactory(int fail_from) : m_FailFrom(fail_from) {}
    NPT_Result Create(NPT_BlockCipher::Algorithm, NPT_BlockCipher::Direction, const NPT_UInt8*,
                      NPT_Size, NPT_BlockCipher*& cipher) override
    {
        cipher = new FailingAes(m_FailFrom);
        return NPT_SUCCESS;
    }

private:
    int m_FailFrom;
};

enum class SourceKind { Memory, File };
enum class Direction { Encrypt, Decrypt };

// One source of the given kind over data: a memory stream over its own
// copy, or a file stream over the file at path (which holds data).
NPT_InputStreamReference OpenSource(SourceKind kind, const Bytes& data, const std::string& path,
                                    std::vector<std::unique_ptr<NPT_File>>& files)
{
    if (kind == SourceKind::Memory) {
        return NPT_InputStreamReference(new NPT_MemoryStream(data.data(), static_cast<NPT_Size>(data.size())));
    }
    files.push_back(std::make_unique<NPT_File>(path.c_str()));
    NPT_InputStreamReference stream;
    EXPECT_EQ(files.back()->Open(NPT_FILE_OPEN_MODE_READ), NPT_SUCCESS);
    EXPECT_EQ(files.back()->GetInputStream(stream), NPT_SUCCESS);
    return stream;
}

// A stream with the shortcut and one reading slices, over twin sources.
struct Twins
{
    std::vector<std::unique_ptr<NPT_File>> files;
    NPT_InputStreamReference fast_source, slow_source, fast, slow;

    Twins(SourceKind kind, Direction direction, const Bytes& data, const std::string& path,
          const NPT_LargeSize* size = nullptr, const NPT_Position* start = nullptr,
          TVK_BlockCipherFactory* factory = kFactory)
    {
        fast_source = OpenSource(kind, data, path, files);
        slow_source = OpenSource(kind, data, path, files);
        for (NPT_InputStreamReference* pair : {&fast, &slow}) {
            NPT_InputStreamReference& source = pair == &fast ? fast_source : slow_source;
            NPT_Result created =
                direction == Direction::Encrypt
                    ? TVK_EncryptingStream::Create(source, TestKey(), 16, factory, *pair, size, start, 6)
                    : TVK_DecryptingStream::Create(source, TestKey(), 16, factory, *pair, size, 6);
            EXPECT_EQ(created, NPT_SUCCESS);
        }
        static_cast<TVK_CipherInputStream*>(slow.AsPointer())->UseSlicesOnly();
    }

    // One Read of request bytes on both; everything observable must agree.
    // Returns the result.
    NPT_Result Read(NPT_Size request, const std::string& where)
    {
        Bytes fast_out(request + 8, 0xCC), slow_out(request + 8, 0xCC);
        NPT_Size fast_got = 777, slow_got = 777;
        NPT_Result fast_result = fast->Read(fast_out.data(), request, &fast_got);
        NPT_Result slow_result = slow->Read(slow_out.data(), request, &slow_got);
        EXPECT_EQ(fast_result, slow_result) << where;
        EXPECT_EQ(fast_got, slow_got) << where;
        EXPECT_EQ(fast_out, slow_out) << where;  // delivered bytes, and what lies beyond
        ExpectSamePositions(where);
        return slow_result;
    }

    NPT_Result Seek(NPT_Position position, const std::string& where)
    {
        NPT_Result fast_result = fast->Seek(position);
        NPT_Result slow_result = slow->Seek(position);
        EXPECT_EQ(fast_result, slow_result) << where;
        ExpectSamePositions(where);
        return slow_result;
    }

    void ExpectSamePositions(const std::string& where)
    {
        NPT_Position fast_position = 1, slow_position = 2;
        EXPECT_EQ(fast->Tell(fast_position), NPT_SUCCESS);
        EXPECT_EQ(slow->Tell(slow_position), NPT_SUCCESS);
        EXPECT_EQ(fast_position, slow_position) << where;
        NPT_LargeSize fast_available = 1, slow_available = 2;
        fast->GetAvailable(fast_available);
        slow->GetAvailable(slow_available);
        EXPECT_EQ(fast_available, slow_available) << where;
        EXPECT_EQ(fast_source->Tell(fast_position), NPT_SUCCESS);
        EXPECT_EQ(slow_source->Tell(slow_position), NPT_SUCCESS);
        EXPECT_EQ(fast_position, slow_position) << "source, " << where;
    }
};

struct ShortcutCase
{
    SourceKind kind;
    Direction  direction;
};

std::string NameOf(const ShortcutCase& c)
{
    return std::string(c.kind == SourceKind::Memory ? "Memory" : "File") +
           (c.direction == Direction::Encrypt ? "Encrypting" : "Decrypting");
}

void PrintTo(const ShortcutCase& c, std::ostream* os) { *os << NameOf(c); }

std::string Name(const ::testing::TestParamInfo<ShortcutCase>& info) { return NameOf(info.param); }

class SourceShortcut : public ::testing::TestWithParam<ShortcutCase>
{
protected:
    // The data, written to a file as well for file sources.
    std::string Prepare(const Bytes& data)
    {
        std::string path = m_Directory / ("data" + std::to_string(m_Files++));
        tvk_test::WriteFileBytes(path, std::string(data.begin(), data.end()));
        return path;
    }

    tvk_test::TempDirectory m_Directory;
    int                     m_Files = 0;
};

const std::vector<NPT_Size> kRequestPatterns[] = {
    {1}, {15}, {16}, {17}, {31, 33}, {1023, 1}, {1024}, {1025}, {4096}, {65536},
    {5, 16, 0, 17, 1000, 48, 3, 2048, 1}};

TEST_P(SourceShortcut, ReadsEqualTheSlicesAtEverySizeAndPattern)
{
    const ShortcutCase c = GetParam();
    for (size_t size : {0, 1, 15, 16, 17, 1023, 1024, 1025, 2047, 5000, 70001}) {
        const Bytes data = MakePattern(size, static_cast<NPT_UInt32>(size));
        const std::string path = Prepare(data);
        for (const auto& pattern : kRequestPatterns) {
            Twins twins(c.kind, c.direction, data, path);
            for (size_t step = 0; step < 100000; ++step) {
                NPT_Size request = pattern[step % pattern.size()];
                std::string where = "size " + std::to_string(size) + " step " + std::to_string(step) +
                                    " request " + std::to_string(request);
                if (twins.Read(request, where) == NPT_ERROR_END_OF_STREAM) break;
                if (::testing::Test::HasFailure()) return;
            }
        }
    }
}

// A declared size below or above the source's, and for the encrypting
// stream a starting offset: the spans end where the slices end.
TEST_P(SourceShortcut, DeclaredSizesAndStartingOffsets)
{
    const ShortcutCase c = GetParam();
    const Bytes data = MakePattern(3000, 3);
    const std::string path = Prepare(data);
    for (NPT_LargeSize declared : {0ull, 1ull, 100ull, 1030ull, 2999ull, 3001ull, 9000ull}) {
        for (NPT_Position start : {0ull, 7ull, 1024ull, 1500ull, 3000ull}) {
            if (start > 0 && c.direction == Direction::Decrypt) continue;
            Twins twins(c.kind, c.direction, data, path, &declared, start ? &start : nullptr);
            for (size_t step = 0; step < 1000; ++step) {
                NPT_Size request = step % 2 ? 1000 : 37;
                std::string where = "declared " + std::to_string(declared) + " start " +
                                    std::to_string(start) + " step " + std::to_string(step);
                if (twins.Read(request, where) != NPT_SUCCESS) break;
            }
            if (::testing::Test::HasFailure()) return;
        }
    }
}

TEST_P(SourceShortcut, RandomSeeksAndReads)
{
    const ShortcutCase c = GetParam();
    if (c.direction == Direction::Encrypt) GTEST_SKIP() << "the encrypting stream does not seek";
    const size_t size = 9 * 1024 + 77;
    const Bytes data = MakePattern(size, 4);
    const std::string path = Prepare(data);
    const NPT_Position targets[] = {0, 1, 15, 16, 17, 1023, 1024, 1025, 4096, size - 16, size, size + 1};
    const NPT_Size requests[] = {0, 1, 15, 16, 17, 33, 1024, 1040, 4096, 20000};
    std::mt19937 random(5);
    Twins twins(c.kind, c.direction, data, path);
    for (int step = 0; step < 600 && !::testing::Test::HasFailure(); ++step) {
        std::string where = "step " + std::to_string(step);
        if (random() % 2) {
            twins.Seek(random() % 3 ? targets[random() % std::size(targets)] : random() % size, where);
        } else {
            twins.Read(requests[random() % std::size(requests)], where);
        }
    }
}

// A block cipher failing from some chunk on: the same failure at the
// same place, nothing untransformed delivered, the same retry behaviour.
TEST_P(SourceShortcut, BlockCipherFailureIsTheSame)
{
    const ShortcutCase c = GetParam();
    const Bytes data = MakePattern(6000, 6);
    const std::string path = Prepare(data);
    for (int fail_from : {0, 1, 3}) {
        FailingFactory factory(fail_from);
        for (NPT_Size request : {16u, 100u, 4096u, 65536u}) {
            Twins twins(c.kind, c.direction, data, path, nullptr, nullptr, &factory);
            bool failed = false;
            for (int step = 0; step < 200 && !failed; ++step) {
                std::string where = "fail from " + std::to_string(fail_from) + " request " +
                                    std::to_string(request) + " step " + std::to_string(step);
                NPT_Result result = twins.Read(request, where);
                failed = result == NPT_ERROR_OUT_OF_RESOURCES;
                if (failed) twins.Read(request, where + " retry");
                ASSERT_NE(result, NPT_ERROR_END_OF_STREAM) << where;
            }
            EXPECT_TRUE(failed);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, SourceShortcut,
                         ::testing::Values(ShortcutCase{SourceKind::Memory, Direction::Encrypt},
                                           ShortcutCase{SourceKind::Memory, Direction::Decrypt},
                                           ShortcutCase{SourceKind::File, Direction::Encrypt},
                                           ShortcutCase{SourceKind::File, Direction::Decrypt}),
                         Name);

// A memory stream lowered behind the stream's back reads as ended, in
// place as through Read.
TEST(SourceShortcutMemory, DataSizeLoweredBehindTheStreamsBack)
{
    const Bytes data = MakePattern(4000, 8);
    NPT_DataBuffer fast_buffer(data.data(), 4000, true), slow_buffer(data.data(), 4000, true);
    NPT_InputStreamReference fast_source(new NPT_MemoryStream(fast_buffer));
    NPT_InputStreamReference slow_source(new NPT_MemoryStream(slow_buffer));
    NPT_InputStreamReference fast, slow;
    ASSERT_EQ(TVK_DecryptingStream::Create(fast_source, TestKey(), 16, kFactory, fast, nullptr, 6), NPT_SUCCESS);
    ASSERT_EQ(TVK_DecryptingStream::Create(slow_source, TestKey(), 16, kFactory, slow, nullptr, 6), NPT_SUCCESS);
    static_cast<TVK_CipherInputStream*>(slow.AsPointer())->UseSlicesOnly();

    Bytes a(3000), b(3000);
    NPT_Size got_a = 0, got_b = 0;
    ASSERT_EQ(fast->Read(a.data(), 1000, &got_a), NPT_SUCCESS);
    ASSERT_EQ(slow->Read(b.data(), 1000, &got_b), NPT_SUCCESS);
    fast_buffer.SetDataSize(1500);
    slow_buffer.SetDataSize(1500);
    EXPECT_EQ(fast->Read(a.data(), 3000, &got_a), slow->Read(b.data(), 3000, &got_b));
    EXPECT_EQ(got_a, 500u);
    EXPECT_EQ(got_a, got_b);
    EXPECT_EQ(a, b);
    // below the stream's own position: its source Seek fails
    fast_buffer.SetDataSize(100);
    slow_buffer.SetDataSize(100);
    EXPECT_EQ(fast->Read(a.data(), 10, &got_a), NPT_ERROR_OUT_OF_RANGE);
    EXPECT_EQ(slow->Read(b.data(), 10, &got_b), NPT_ERROR_OUT_OF_RANGE);
}

// A class a caller derives from the library's memory stream may watch
// its Read calls: it sees the 16-byte slices, never a span.
class WatchedMemoryStream : public NPT_MemoryStream
{
public:
    using NPT_MemoryStream::NPT_MemoryStream;
    NPT_Result Read(void* buffer, NPT_Size bytes_to_read, NPT_Size* bytes_read) override
    {
        if (bytes_to_read > largest) largest = bytes_to_read;
        ++reads;
        return NPT_MemoryStream::Read(buffer, bytes_to_read, bytes_read);
    }
    NPT_Size largest = 0;
    int      reads   = 0;
};

TEST(SourceShortcutMemory, DerivedClassesGetTheSlices)
{
    const Bytes data = MakePattern(5000, 9);
    WatchedMemoryStream* watched = new WatchedMemoryStream(data.data(), 5000);
    NPT_InputStreamReference source(watched);
    NPT_InputStreamReference stream;
    ASSERT_EQ(TVK_EncryptingStream::Create(source, TestKey(), 16, kFactory, stream, nullptr, nullptr, 6),
              NPT_SUCCESS);
    EXPECT_EQ(tvk_test::ReadInPattern(*stream, {65536}), tvk_test::ReferenceCiphertext(data));
    EXPECT_EQ(watched->largest, 16u);
    EXPECT_EQ(watched->reads, 5000 / 16 + 1);  // the last slice short
}

} // namespace
