// Blocks that held cleartext or key stream are wiped before they are
// freed. This program replaces the global operator new and delete: while
// a test watches, every block freed is searched for a known run of
// bytes, and each block that still holds it is counted.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "NptMemoryStream.h"
#include "NptStreamCopy.h"
#include "NptStringOutputStream.h"
#include "TestCipherStreams.h"
#include "TvkCryptoHelper.h"
#include "TvkManagedNative.h"
#include "TvkDecryptingStream.h"
#include "TvkEncryptingStream.h"

namespace {

// Every block carries its size in front, so that delete can search it.
struct alignas(16) BlockHeader {
    std::size_t size;
};
static_assert(sizeof(BlockHeader) == 16, "the header keeps blocks 16-byte aligned");

bool              g_Watching = false;
const NPT_Byte*   g_Pattern = nullptr;
std::size_t       g_PatternSize = 0;
int               g_BlocksWithPattern = 0;

void* AllocateBlock(std::size_t size) noexcept
{
    BlockHeader* header = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
    if (header == nullptr) return nullptr;
    header->size = size;
    // a fresh block never shows what an earlier one left in that memory
    std::memset(header + 1, 0xa5, size);
    return header + 1;
}

void* AllocateOrThrow(std::size_t size)
{
    void* block = AllocateBlock(size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

// Whether block holds the pattern somewhere (memmem is not in every C
// library).
bool HoldsPattern(const void* block, std::size_t size) noexcept
{
    const NPT_Byte* bytes = static_cast<const NPT_Byte*>(block);
    for (std::size_t i = 0; i + g_PatternSize <= size; ++i) {
        if (bytes[i] == g_Pattern[0] && std::memcmp(bytes + i, g_Pattern, g_PatternSize) == 0) {
            return true;
        }
    }
    return false;
}

void FreeBlock(void* block) noexcept
{
    if (block == nullptr) return;
    BlockHeader* header = static_cast<BlockHeader*>(block) - 1;
    if (g_Watching && header->size >= g_PatternSize &&
        HoldsPattern(block, header->size)) {
        ++g_BlocksWithPattern;
    }
    std::free(header);
}

// Counts the freed blocks that still hold pattern while it lives.
class FreedBlockWatch
{
public:
    explicit FreedBlockWatch(const std::vector<NPT_Byte>& pattern)
    {
        g_Pattern = pattern.data();
        g_PatternSize = pattern.size();
        g_BlocksWithPattern = 0;
        g_Watching = true;
    }
    ~FreedBlockWatch() { g_Watching = false; }
    int Count() const { return g_BlocksWithPattern; }
};

std::vector<NPT_Byte> Repeated(const char* word, std::size_t size)
{
    std::vector<NPT_Byte> bytes(size);
    std::size_t length = std::strlen(word);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<NPT_Byte>(word[i % length]);
    return bytes;
}

using Bytes = std::vector<NPT_Byte>;
const Bytes kMarker = Repeated("CLEARTXT", 8);

// A memory stream over the caller's bytes: the stream keeps no copy.
struct BorrowedSource
{
    NPT_DataBuffer           buffer;
    NPT_InputStreamReference stream;
    explicit BorrowedSource(Bytes& bytes)
        : buffer(bytes.data(), static_cast<NPT_Size>(bytes.size()), false),
          stream(new NPT_MemoryStream(buffer))
    {
    }
};

} // namespace

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateBlock(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return AllocateBlock(size); }
void operator delete(void* block) noexcept { FreeBlock(block); }
void operator delete[](void* block) noexcept { FreeBlock(block); }
void operator delete(void* block, std::size_t) noexcept { FreeBlock(block); }
void operator delete[](void* block, std::size_t) noexcept { FreeBlock(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { FreeBlock(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { FreeBlock(block); }

namespace {

TEST(FreedMemory, WatchSeesAnUnwipedBlock)
{
    FreedBlockWatch watch(kMarker);
    delete[] new NPT_Byte[8]{'C', 'L', 'E', 'A', 'R', 'T', 'X', 'T'};
    EXPECT_EQ(watch.Count(), 1);
}

// A read shorter than a slice leaves transformed bytes in the stream's
// block buffer: cleartext when decrypting, key stream (the ciphertext of
// zeros) when encrypting.
TEST(FreedMemory, CipherStreamsWipeTheirBlockBuffer)
{
    for (bool decrypting : {true, false}) {
        SCOPED_TRACE(decrypting ? "decrypting" : "encrypting");
        Bytes cleartext = decrypting ? Repeated("CLEARTXT", 64) : Bytes(64, 0);
        Bytes ciphertext = tvk_test::ReferenceCiphertext(cleartext);
        Bytes& input = decrypting ? ciphertext : cleartext;
        Bytes secret(decrypting ? kMarker : Bytes(ciphertext.begin(), ciphertext.begin() + 8));
        Bytes delivered(64);

        FreedBlockWatch watch(secret);
        {
            BorrowedSource source(input);
            NPT_InputStreamReference stream;
            NPT_Result created =
                decrypting
                    ? TVK_DecryptingStream::Create(source.stream, tvk_test::TestKey(), 16,
                                                   tvk_test::kFactory, stream, nullptr, 6)
                    : TVK_EncryptingStream::Create(source.stream, tvk_test::TestKey(), 16,
                                                   tvk_test::kFactory, stream, nullptr, nullptr, 6);
            ASSERT_EQ(created, NPT_SUCCESS);
            ASSERT_EQ(stream->Read(delivered.data(), 1), NPT_SUCCESS);
        }
        EXPECT_EQ(watch.Count(), 0);
        EXPECT_EQ(delivered[0], decrypting ? cleartext[0] : ciphertext[0]);
    }
}

// A short copy fills only the start of the block, a long one all of it
// (and, ending with a shorter read, leaves older bytes behind that).
TEST(FreedMemory, StreamCopyWipesItsTransferBlock)
{
    for (std::size_t size : {8, 1000, 100000}) {
        SCOPED_TRACE(size);
        Bytes cleartext = Repeated("CLEARTXT", size);
        Bytes copy(cleartext.size());
        FreedBlockWatch watch(kMarker);
        {
            BorrowedSource source(cleartext);
            NPT_DataBuffer sink_buffer;
            sink_buffer.SetBuffer(copy.data(), static_cast<NPT_Size>(copy.size()));
            NPT_MemoryStream sink(sink_buffer);
            ASSERT_EQ(NPT_StreamToStreamCopy(*source.stream, sink), NPT_SUCCESS);
        }
        EXPECT_EQ(watch.Count(), 0);
        EXPECT_EQ(copy, cleartext);
    }
}

// A memory stream of its own collecting a decryption grows through
// several blocks; each one left behind, and the last when the stream
// goes, is wiped.
TEST(FreedMemory, MemoryStreamWipesTheBlocksItLeaves)
{
    Bytes cleartext = Repeated("CLEARTXT", 100000);
    Bytes ciphertext = tvk_test::ReferenceCiphertext(cleartext);
    Bytes collected;
    FreedBlockWatch watch(kMarker);
    {
        BorrowedSource source(ciphertext);
        NPT_InputStreamReference decrypting;
        ASSERT_EQ(TVK_DecryptingStream::Create(source.stream, tvk_test::TestKey(), 16,
                                               tvk_test::kFactory, decrypting, nullptr, 6),
                  NPT_SUCCESS);
        NPT_MemoryStream sink(16);
        ASSERT_EQ(NPT_StreamToStreamCopy(*decrypting, sink), NPT_SUCCESS);
        g_Watching = false;
        collected.assign(sink.GetData(), sink.GetData() + sink.GetDataSize());
        g_Watching = true;
    }
    EXPECT_EQ(watch.Count(), 0);
    EXPECT_EQ(collected, cleartext);
}

// The managed entry point's run: the result, its text copy and the
// collected string all go wiped.
TEST(FreedMemory, ManagedRunWipesItsResultAndTextCopy)
{
    Bytes cleartext = Repeated("CLEARTXT", 10000);
    NPT_DataBuffer key;
    ASSERT_EQ(TVK_CryptoHelper::GenerateKey("password", key), NPT_SUCCESS);
    Bytes ciphertext = tvk_test::ReferenceCiphertext(cleartext, 0, key.GetData());
    FreedBlockWatch watch(kMarker);
    TVK_ManagedRun* run = nullptr;
    ASSERT_EQ(tvk_managed_run("password", 1, ciphertext.data(),
                              static_cast<NPT_UInt32>(ciphertext.size()), &run),
              NPT_SUCCESS);
    const char* text = tvk_managed_result_text(run);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::memcmp(text, cleartext.data(), cleartext.size()), 0);
    tvk_managed_release(run);
    EXPECT_EQ(watch.Count(), 0);
}

// Growing moves the string to larger blocks; each one left behind, and
// the stream's own string when it goes, is wiped.
TEST(FreedMemory, StringOutputStreamWipesTheBlocksItLeaves)
{
    Bytes cleartext = Repeated("CLEARTXT", 64);
    NPT_String collected;
    FreedBlockWatch watch(kMarker);
    {
        NPT_StringOutputStream stream(16);
        for (int i = 0; i < 100; ++i) {
            ASSERT_EQ(stream.Write(cleartext.data() + i % 32, 32), NPT_SUCCESS);
        }
        // and bytes from its own block, which a growth must not lose
        const NPT_String& own = stream.GetString();
        ASSERT_EQ(stream.Write(own.GetChars(), own.GetLength()), NPT_SUCCESS);
        g_Watching = false;
        collected = stream.GetString();
        g_Watching = true;
    }
    EXPECT_EQ(watch.Count(), 0);
    ASSERT_EQ(collected.GetLength(), 6400u);
    for (NPT_Size i = 0; i < 6400; i += 32) {
        EXPECT_EQ(std::memcmp(collected.GetChars() + i, cleartext.data() + (i / 32) % 100 % 32, 32), 0) << i;
    }
}

} // namespace
