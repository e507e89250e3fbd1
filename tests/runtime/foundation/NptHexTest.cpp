#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "NptHex.h"

namespace {

std::vector<NPT_Byte> Data(const NPT_DataBuffer& buffer)
{
    return std::vector<NPT_Byte>(buffer.GetData(), buffer.GetData() + buffer.GetDataSize());
}

struct DecodeCase {
    const char*           text;
    NPT_Result            result;
    NPT_Size              data_size;
    std::vector<NPT_Byte> decoded; // leading bytes that must hold
};

} // namespace

TEST(NptHexTest, BytesFromHex)
{
    const DecodeCase cases[] = {
        {"", NPT_SUCCESS, 0, {}},
        {"00ff7F", NPT_SUCCESS, 3, {0x00, 0xFF, 0x7F}},
        {"aBcD", NPT_SUCCESS, 2, {0xAB, 0xCD}},
        {"0g", NPT_ERROR_INVALID_SYNTAX, 1, {}},
        {"01zz02", NPT_ERROR_INVALID_SYNTAX, 3, {0x01}},
        {"01 2", NPT_ERROR_INVALID_SYNTAX, 2, {0x01}},
    };
    for (const DecodeCase& c : cases) {
        NPT_DataBuffer buffer;
        EXPECT_EQ(NPT_BytesFromHex(c.text, buffer), c.result) << c.text;
        EXPECT_EQ(buffer.GetDataSize(), c.data_size) << c.text;
        std::vector<NPT_Byte> data = Data(buffer);
        data.resize(c.decoded.size());
        EXPECT_EQ(data, c.decoded) << c.text;
    }
}

TEST(NptHexTest, OddOrMissingTextLeavesTheBufferUntouched)
{
    const NPT_Byte original[] = {9, 8, 7};
    NPT_DataBuffer buffer(original, 3);
    EXPECT_EQ(NPT_BytesFromHex("aBc", buffer), NPT_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(NPT_BytesFromHex(nullptr, buffer), NPT_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(Data(buffer), (std::vector<NPT_Byte>{9, 8, 7}));
}

TEST(NptHexTest, BorrowedBufferTooSmallReportsItsError)
{
    NPT_Byte block[2] = {0, 0};
    NPT_DataBuffer buffer(block, sizeof(block), false);
    EXPECT_EQ(NPT_BytesFromHex("010203", buffer), NPT_ERROR_NOT_SUPPORTED);
    EXPECT_EQ(NPT_BytesFromHex("0a0b", buffer), NPT_SUCCESS);
    EXPECT_EQ(block[0], 0x0A);
    EXPECT_EQ(block[1], 0x0B);
}

TEST(NptHexTest, HexFromBytes)
{
    const NPT_Byte bytes[] = {0x01, 0xAB, 0x00, 0xFF};
    EXPECT_STREQ(NPT_HexFromBytes(bytes, 2, ":", false).GetChars(), "01:ab");
    EXPECT_STREQ(NPT_HexFromBytes(bytes, 2, ":", true).GetChars(), "01:AB");
    EXPECT_STREQ(NPT_HexFromBytes(bytes, 2, nullptr).GetChars(), "01ab");
    EXPECT_STREQ(NPT_HexFromBytes(bytes, 2, "").GetChars(), "01ab");
    EXPECT_STREQ(NPT_HexFromBytes(bytes, 4, ", ", true).GetChars(), "01, AB, 00, FF");
    EXPECT_STREQ(NPT_HexFromBytes(bytes, 1, ":").GetChars(), "01");
    NPT_String none = NPT_HexFromBytes(bytes, 0, ":");
    EXPECT_EQ(none.GetLength(), 0u);
    EXPECT_EQ(NPT_HexFromBytes(nullptr, 4, ":").GetLength(), 0u);
    EXPECT_EQ(NPT_HexFromBytes(bytes, 4, ", ").GetCapacity(), 14u);
}

TEST(NptHexTest, RoundTripOfEveryByteValue)
{
    std::vector<NPT_Byte> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<NPT_Byte>(i);
    for (bool uppercase : {false, true}) {
        NPT_String text = NPT_HexFromBytes(all.data(), 256, nullptr, uppercase);
        ASSERT_EQ(text.GetLength(), 512u);
        NPT_DataBuffer decoded;
        ASSERT_EQ(NPT_BytesFromHex(text.GetChars(), decoded), NPT_SUCCESS);
        EXPECT_EQ(Data(decoded), all);
    }
}

namespace {

// A region of 'size' bytes made of one small shared chunk mapped again
// and again, so that texts and buffers of several GiB cost a few MiB of
// memory. Every copy of the chunk shows the same bytes: a write through
// one is seen through all. Optionally followed by one private page of
// its own. Unmapped on destruction.
class RepeatedMapping
{
public:
    static constexpr std::size_t kChunk = 16u << 20;

    // size is rounded up to whole chunks; the tail page follows them
    RepeatedMapping(std::uint64_t size, char fill, bool writable, bool tail_page)
        : m_Size(Chunks(size) + (tail_page ? kPage : 0))
    {
        size = Chunks(size);
        void* region = mmap(nullptr, m_Size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (region == MAP_FAILED) return;
        m_Region = static_cast<char*>(region);
        int fd = memfd_create("tvk-repeated", 0);
        if (fd < 0 || ftruncate(fd, kChunk) != 0) { Fail(fd); return; }
        const int protection = PROT_READ | (writable ? PROT_WRITE : 0);
        void* first = mmap(m_Region, kChunk, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0);
        if (first == MAP_FAILED) { Fail(fd); return; }
        std::memset(first, fill, kChunk);
        for (std::uint64_t at = 0; at < size; at += kChunk) {
            if (mmap(m_Region + at, kChunk, protection, MAP_SHARED | MAP_FIXED, fd, 0) == MAP_FAILED) {
                Fail(fd);
                return;
            }
        }
        close(fd);
        if (tail_page &&
            mmap(m_Region + size, kPage, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED) {
            Fail(-1);
            return;
        }
        m_Ok = true;
    }
    ~RepeatedMapping() { if (m_Region) munmap(m_Region, m_Size); }
    RepeatedMapping(const RepeatedMapping&) = delete;
    RepeatedMapping& operator=(const RepeatedMapping&) = delete;

    bool  Ok() const { return m_Ok; }
    char* Data() { return m_Region; }

private:
    static constexpr std::size_t kPage = 4096;
    static std::uint64_t Chunks(std::uint64_t size) { return (size + kChunk - 1) / kChunk * kChunk; }
    void Fail(int fd) { if (fd >= 0) close(fd); }

    std::uint64_t m_Size;
    char*         m_Region = nullptr;
    bool          m_Ok = false;
};

} // namespace

// Positions in a text of more than 2^32 characters must not wrap: the
// pair at 2^32 is not the pair at 0. The text is valid hex up to 2^32
// and invalid there, so a decoder that wraps back to the start reports
// success.
TEST(NptHexTest, TextPastFourGigabytesIsDecodedWhereItIs)
{
    const std::uint64_t valid_length = std::uint64_t(1) << 32;
    RepeatedMapping text(valid_length, '0', false, true);
    ASSERT_TRUE(text.Ok());
    std::memcpy(text.Data() + valid_length, "zz", 3);

    // the 2^31 + 1 decoded bytes go to a borrowed block mapped the same way
    const std::uint64_t byte_count = valid_length / 2 + 1;
    RepeatedMapping block(byte_count, 0x55, true, false);
    ASSERT_TRUE(block.Ok());
    NPT_DataBuffer bytes;
    bytes.SetBuffer(reinterpret_cast<NPT_Byte*>(block.Data()), static_cast<NPT_Size>(byte_count));

    EXPECT_EQ(NPT_BytesFromHex(text.Data(), bytes), NPT_ERROR_INVALID_SYNTAX);
    EXPECT_EQ(bytes.GetDataSize(), byte_count);
}
