#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "NptUtils.h"
#ifdef __linux__
#include "TestRepeatedMapping.h"  // Linux only (memfd_create)
#endif

namespace {

/*----------------------------------------------------------------------
|   byte order
+---------------------------------------------------------------------*/
TEST(ByteOrder, WritersStoreExactlyTheirWidth)
{
    struct Case {
        const char*            name;
        std::function<void(unsigned char*)> write;
        std::vector<unsigned char> expected;
    };
    const Case cases[] = {
        {"64Be", [](unsigned char* b) { NPT_BytesFromInt64Be(b, 0x0102030405060708ull); },
         {1, 2, 3, 4, 5, 6, 7, 8}},
        {"64Le", [](unsigned char* b) { NPT_BytesFromInt64Le(b, 0x0102030405060708ull); },
         {8, 7, 6, 5, 4, 3, 2, 1}},
        {"32Be", [](unsigned char* b) { NPT_BytesFromInt32Be(b, 0x01020304u); }, {1, 2, 3, 4}},
        {"32Le", [](unsigned char* b) { NPT_BytesFromInt32Le(b, 0x01020304u); }, {4, 3, 2, 1}},
        // the 24-bit forms take the low 24 bits only
        {"24Be", [](unsigned char* b) { NPT_BytesFromInt24Be(b, 0xFFAABBCCu); },
         {0xAA, 0xBB, 0xCC}},
        {"24Le", [](unsigned char* b) { NPT_BytesFromInt24Le(b, 0x00AABBCCu); },
         {0xCC, 0xBB, 0xAA}},
        {"16Be", [](unsigned char* b) { NPT_BytesFromInt16Be(b, 0xA1B2); }, {0xA1, 0xB2}},
        {"16Le", [](unsigned char* b) { NPT_BytesFromInt16Le(b, 0xA1B2); }, {0xB2, 0xA1}},
    };
    for (const Case& c : cases) {
        unsigned char bytes[10];
        std::memset(bytes, 0x5A, sizeof(bytes));
        c.write(bytes);
        std::vector<unsigned char> written(bytes, bytes + c.expected.size());
        EXPECT_EQ(c.expected, written) << c.name;
        EXPECT_EQ(0x5A, bytes[c.expected.size()]) << c.name << " wrote past its width";
    }
}

TEST(ByteOrder, ReadersTakeTheirOrderAndWidth)
{
    const unsigned char bytes[] = {0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0xFF};
    EXPECT_EQ(0x8182838485868788ull, NPT_Int64FromBytesBe(bytes));
    EXPECT_EQ(0x8887868584838281ull, NPT_Int64FromBytesLe(bytes));
    EXPECT_EQ(0x81828384u, NPT_Int32FromBytesBe(bytes));
    EXPECT_EQ(0x84838281u, NPT_Int32FromBytesLe(bytes));
    EXPECT_EQ(0x818283u, NPT_Int24FromBytesBe(bytes));
    EXPECT_EQ(0x838281u, NPT_Int24FromBytesLe(bytes));
    EXPECT_EQ(0x8182u, NPT_Int16FromBytesBe(bytes));
    EXPECT_EQ(0x8281u, NPT_Int16FromBytesLe(bytes));

    const unsigned char ascending[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(0x0807060504030201ull, NPT_Int64FromBytesLe(ascending));
}

/*----------------------------------------------------------------------
|   hexadecimal digits
+---------------------------------------------------------------------*/
TEST(Hex, NibbleFromHexAcceptsExactlyTheHexDigits)
{
    const std::string digits_lower = "0123456789abcdef";
    const std::string digits_upper = "0123456789ABCDEF";
    for (int c = -128; c < 256; ++c) {
        int expected = -1;
        if (c > 0) {
            std::size_t lower = digits_lower.find(char(c));
            std::size_t upper = digits_upper.find(char(c));
            if (lower != std::string::npos) expected = int(lower);
            if (upper != std::string::npos) expected = int(upper);
        }
        EXPECT_EQ(expected, NPT_NibbleFromHex(c)) << c;
    }
}

TEST(Hex, EveryByteRoundTripsInBothCases)
{
    for (int value = 0; value < 256; ++value) {
        for (bool uppercase : {false, true}) {
            char text[3] = {0, 0, 'Z'};
            NPT_HexFromByte(NPT_UInt8(value), text, uppercase);
            char expected[3];
            std::snprintf(expected, sizeof(expected), uppercase ? "%02X" : "%02x", value);
            EXPECT_EQ(expected[0], text[0]);
            EXPECT_EQ(expected[1], text[1]);
            EXPECT_EQ('Z', text[2]) << "no terminator is written";

            NPT_UInt8 decoded = 0;
            EXPECT_EQ(NPT_SUCCESS, NPT_ByteFromHex(text, decoded));
            EXPECT_EQ(value, decoded);
        }
    }
    EXPECT_EQ('F', NPT_HexFromNibble(15, true));
    EXPECT_EQ('a', NPT_HexFromNibble(10, false));
}

TEST(Hex, ByteFromHexRefusesNonDigitsAndKeepsTheByte)
{
    for (const char* text : {"g0", "0g", "  ", "-1", "x", ""}) {
        NPT_UInt8 byte = 0x77;
        EXPECT_EQ(NPT_ERROR_INVALID_SYNTAX, NPT_ByteFromHex(text, byte)) << '"' << text << '"';
        EXPECT_EQ(0x77, byte);
    }
    NPT_UInt8 byte = 0;
    EXPECT_EQ(NPT_SUCCESS, NPT_ByteFromHex("aF", byte));
    EXPECT_EQ(0xAF, byte);
}

/*----------------------------------------------------------------------
|   integer parsing
+---------------------------------------------------------------------*/
template <typename T>
struct IntCase {
    const char* text;
    bool        relaxed;
    NPT_Result  result;
    T           value;     // expected on success
    NPT_Size    chars;     // expected count on success
};

template <typename T, typename Parser>
void
CheckIntCases(Parser parse, const std::vector<IntCase<T>>& cases)
{
    for (const IntCase<T>& c : cases) {
        T        value = T(123);
        NPT_Size chars = 999;
        NPT_Result result = parse(c.text, value, c.relaxed, &chars);
        std::string label = std::string(c.text ? c.text : "(null)") +
                            (c.relaxed ? " relaxed" : " strict");
        EXPECT_EQ(c.result, result) << label;
        if (result == NPT_SUCCESS) {
            EXPECT_EQ(c.value, value) << label;
            EXPECT_EQ(c.chars, chars) << label;
        } else {
            EXPECT_EQ(T(0), value) << label;
            EXPECT_EQ(0u, chars) << label;
        }
        // the count is optional
        T again;
        EXPECT_EQ(c.result, parse(c.text, again, c.relaxed, nullptr)) << label;
    }
}

const NPT_Result OK = NPT_SUCCESS;
const NPT_Result BAD = NPT_ERROR_INVALID_PARAMETERS;
const NPT_Result OVER = NPT_ERROR_OVERFLOW;

TEST(ParseSigned64, Cases)
{
    const NPT_Int64 min = std::numeric_limits<NPT_Int64>::min();
    const NPT_Int64 max = std::numeric_limits<NPT_Int64>::max();
    CheckIntCases<NPT_Int64>(NPT_ParseSigned64, {
        {"0012", false, OK, 12, 4},
        {"+5", false, OK, 5, 2},
        {"-42", false, OK, -42, 3},
        {"9223372036854775807", false, OK, max, 19},
        {"-9223372036854775808", false, OK, min, 20},
        {"9223372036854775808", false, OVER, 0, 0},
        {"-9223372036854775809", false, OVER, 0, 0},
        {"-92233720368547758080", false, OVER, 0, 0},
        {"99999999999999999999", true, OVER, 0, 0},
        {"9223372036854775808x", true, OVER, 0, 0},
        {" 12", false, BAD, 0, 0},
        {" 12", true, OK, 12, 3},
        {"12x", false, BAD, 0, 0},
        {"12x", true, OK, 12, 2},
        {"\t -7 ", true, OK, -7, 4},
        {"-", false, BAD, 0, 0},
        {"-", true, BAD, 0, 0},
        {"+", true, BAD, 0, 0},
        {"- 5", true, BAD, 0, 0},
        {"", true, BAD, 0, 0},
        {" \t ", true, BAD, 0, 0},
        {"x12", true, BAD, 0, 0},
        {nullptr, true, BAD, 0, 0},
    });
}

TEST(ParseUnsigned64, Cases)
{
    CheckIntCases<NPT_UInt64>(NPT_ParseUnsigned64, {
        {"18446744073709551615", false, OK, ~0ull, 20},
        {"18446744073709551616", false, OVER, 0, 0},
        {"18446744073709551619", false, OVER, 0, 0},
        {"184467440737095516150", false, OVER, 0, 0},
        {"9223372036854775808", false, OK, 9223372036854775808ull, 19},
        {"+1", false, BAD, 0, 0},
        {"+1", true, BAD, 0, 0},
        {" 7z", true, OK, 7, 2},
        {"7 ", false, BAD, 0, 0},
        {nullptr, false, BAD, 0, 0},
    });
}

TEST(ParseSigned32, Cases)
{
    CheckIntCases<NPT_Int32>(NPT_ParseSigned32, {
        {"2147483647", false, OK, 2147483647, 10},
        {"-2147483648", false, OK, -2147483647 - 1, 11},
        {"2147483648", false, OVER, 0, 0},
        {"-2147483649", false, OVER, 0, 0},
        {"4294967296", false, OVER, 0, 0},
        {"99999999999999999999", false, OVER, 0, 0},
        {" -3;", true, OK, -3, 3},
        {"-", false, BAD, 0, 0},
    });
}

TEST(ParseUnsigned32, Cases)
{
    CheckIntCases<NPT_UInt32>(NPT_ParseUnsigned32, {
        {"4294967295", false, OK, 4294967295u, 10},
        {"4294967296", false, OVER, 0, 0},
        {"18446744073709551616", false, OVER, 0, 0},
        {"-1", false, BAD, 0, 0},
        {"\t10,", true, OK, 10, 3},
    });
}

#ifdef __linux__  // texts past 4 GiB are mapped with memfd_create
// More than 2^32 - 1 characters used (here blanks before the digit, in
// relaxed mode): their count does not fit chars_used, so a caller that
// asks for it is refused rather than told a count cut to 32 bits.
TEST(ParseInteger, CountPastFourGigabytesIsRefused)
{
    TVK_SKIP_UNDER_THREAD_SANITIZER();
    const std::uint64_t blanks = std::uint64_t(1) << 32;
    tvk_test::RepeatedMapping text(blanks, ' ', false, true);
    ASSERT_TRUE(text.Ok());
    std::memcpy(text.Data() + blanks, "7", 2);

    NPT_Int64 value = 99;
    NPT_Size  used = 99;
    EXPECT_EQ(NPT_ERROR_OUT_OF_RANGE, NPT_ParseSigned64(text.Data(), value, true, &used));
    EXPECT_EQ(0, value);
    EXPECT_EQ(0u, used);
}
#endif

/*----------------------------------------------------------------------
|   float parsing
+---------------------------------------------------------------------*/
struct FloatCase {
    const char* text;
    bool        relaxed;
    NPT_Result  result;
    float       value;
};

TEST(ParseFloat32, Cases)
{
    const float inf = std::numeric_limits<float>::infinity();
    const FloatCase cases[] = {
        {"1.5", false, OK, 1.5f},
        {".5", false, OK, 0.5f},
        {"-.25", false, OK, -0.25f},
        {"+4", false, OK, 4.0f},
        {"0.1", false, OK, 0.1f},
        {"2e3", false, OK, 2000.0f},
        {"-1.5e-2", false, OK, -0.015f},
        {" 3.25abc", true, OK, 3.25f},
        {"2e3x", true, OK, 2000.0f},
        {"5.", false, BAD, 0},
        {"5.", true, BAD, 0},
        {"5.x", true, BAD, 0},
        {"1.2.3", false, BAD, 0},
        {"1.2.3", true, BAD, 0},
        {"1e", false, BAD, 0},
        {"1ex", true, BAD, 0},
        {"1e 2", true, BAD, 0},
        {"e5", false, BAD, 0},
        {"-e5", true, BAD, 0},
        {"2e3x", false, BAD, 0},
        {"1e99999999999", false, BAD, 0},
        {" 3.25", false, BAD, 0},
        {"-", true, BAD, 0},
        {"", true, BAD, 0},
        {"  ", true, BAD, 0},
        {nullptr, true, BAD, 0},
        // beyond the float range: an infinity, not an out-of-range conversion
        {"1e300", false, OK, inf},
        {"-1e300", false, OK, -inf},
        {"100000000000000000000000000000000000000000000000000", false, OK, inf},
        {"340282346638528859811704183484516925440", false, OK,
         std::numeric_limits<float>::max()},
    };
    for (const FloatCase& c : cases) {
        NPT_Float value = 7.0f;
        std::string label = std::string(c.text ? c.text : "(null)") +
                            (c.relaxed ? " relaxed" : " strict");
        EXPECT_EQ(c.result, NPT_ParseFloat32(c.text, value, c.relaxed)) << label;
        if (c.result == NPT_SUCCESS && std::isfinite(c.value)) {
            EXPECT_FLOAT_EQ(c.value, value) << label;
        } else {
            EXPECT_EQ(c.value, value) << label;
        }
    }
}

// Whatever the mantissa and exponent, an accepted text gives the float
// nearest to its decimal value (what the C library's strtof, which
// rounds correctly, gives): never NaN, an infinity or zero only when
// the value itself lies beyond the float range.
TEST(ParseFloat32, GivesTheNearestFloat)
{
    const std::string zeros39(39, '0');
    const std::string zeros60(60, '0');
    const std::string zeros5000(5000, '0');
    const std::string texts[] = {
        "0e400", "-0e400", "0.0e-99999", "0e2147483647",
        "1" + zeros39 + "e-30",            // mantissa past the float range
        "1" + zeros5000 + "e-5000",        // mantissa past every range
        "1" + zeros5000,
        "0." + zeros60 + "1e61",           // fraction below the float range
        "0." + zeros5000 + "25e5001",
        "1e39", "-1e39", "1e-46", "1e-45", "2.5e-45", "1.17549435e-38",
        "3.4028235e38", "3.40282356e38", "3.40282357e38",
        "16777217", "16777219", "0.1", "7.038531e-26", ".1e1",
        "123456789012345678901234567890", "9.999999999999999999999e-1",
        "4.9406564584124654e-324", "1e2147483647", "1e-2147483648",
    };
    for (const std::string& text : texts) {
        NPT_Float value = 7.0f;
        ASSERT_EQ(NPT_SUCCESS, NPT_ParseFloat32(text.c_str(), value, false)) << text;
        float expected = std::strtof(text.c_str(), nullptr);
        EXPECT_FALSE(std::isnan(value)) << text;
        EXPECT_EQ(expected, value) << text;
        EXPECT_EQ(std::signbit(expected), std::signbit(value)) << text;
    }
}

/*----------------------------------------------------------------------
|   formatting to a callback
+---------------------------------------------------------------------*/
struct Collected {
    int         calls = 0;
    std::string text;
};

void
Collect(void* context, const char* text)
{
    Collected* collected = static_cast<Collected*>(context);
    ++collected->calls;
    collected->text = text;
}

Collected
Format(const char* format, ...)
{
    Collected collected;
    va_list args;
    va_start(args, format);
    NPT_FormatToCallback(Collect, &collected, format, args);
    va_end(args);
    return collected;
}

class FormatToCallback : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FormatToCallback, PassesTheWholeTextUpToTheLargestBuffer)
{
    const std::size_t length = GetParam();
    // arguments before and after the long one show that every retry
    // starts from the first argument again
    std::string middle(length - 4, 'm');
    Collected collected = Format("%d:%s:%d", 1, middle.c_str(), 2);
    std::string expected = "1:" + middle + ":2";
    ASSERT_EQ(length, expected.size());

    EXPECT_EQ(1, collected.calls);
    // the largest buffer is 65,536 bytes, of which 65,534 carry text
    const std::size_t kept = length < 65535 ? length : 65534;
    EXPECT_EQ(kept, collected.text.size());
    EXPECT_EQ(expected.substr(0, kept), collected.text);
}

INSTANTIATE_TEST_SUITE_P(Lengths, FormatToCallback,
                         ::testing::Values(4, 1021, 1022, 1023, 1024, 1025, 10238, 10239,
                                           10240, 28670, 28671, 65534, 65535, 65536, 70000,
                                           200000));

TEST(FormatToCallbackTest, EmptyTextStillCallsOnce)
{
    Collected collected = Format("%s", "");
    EXPECT_EQ(1, collected.calls);
    EXPECT_EQ("", collected.text);
}

} // namespace
