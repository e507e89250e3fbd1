#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "NptHex.h"
#ifdef __linux__
#include "TestRepeatedMapping.h"  // Linux only (memfd_create)
#endif

#ifdef __linux__
using tvk_test::RepeatedMapping;
#endif

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

#ifdef __linux__  // texts past 4 GiB are mapped with memfd_create
// Positions in a text of more than 2^32 characters must not wrap: the
// pair at 2^32 is not the pair at 0. The text is valid hex up to 2^32
// and invalid there, so a decoder that wraps back to the start reports
// success.
TEST(NptHexTest, TextPastFourGigabytesIsDecodedWhereItIs)
{
    TVK_SKIP_UNDER_THREAD_SANITIZER();
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
#endif
