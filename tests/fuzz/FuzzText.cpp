// Fuzz target for the text parsers: the integer and float parsers, hex
// text of byte buffers and parameter lists. The first input byte picks
// the parser, the rest is the text (or the bytes) it gets.
//
// Integers are checked against a plain reference parser; floats against
// the C library's correctly rounded strtof; hex text and parameter
// lists by decoding what was encoded from them.

#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "NptHex.h"
#include "NptStringMap.h"
#include "NptStrings.h"
#include "NptUtils.h"

namespace {

using tvk_fuzz::Reader;

/*----------------------------------------------------------------------
|   integers
+---------------------------------------------------------------------*/
struct Parsed {
    NPT_Result         result = NPT_SUCCESS;
    std::uint64_t      magnitude = 0;
    bool               negative = false;
    NPT_Size           used = 0;
};

// The integer syntax from scratch: optional blanks (relaxed), an
// optional sign (signed parsers), digits, and in strict mode nothing
// after them. max is the largest magnitude accepted (with one more for
// a negative signed value). A magnitude too large is an overflow even
// if a stray byte follows it, since digits are taken first.
Parsed ReferenceInteger(const std::string& text, bool relaxed, bool allow_sign, std::uint64_t max)
{
    Parsed parsed;
    std::size_t p = 0;
    if (relaxed) while (p < text.size() && (text[p] == ' ' || text[p] == '\t')) ++p;
    if (p == text.size()) { parsed.result = NPT_ERROR_INVALID_PARAMETERS; return parsed; }
    if (allow_sign && (text[p] == '-' || text[p] == '+')) {
        parsed.negative = text[p] == '-';
        ++p;
    }
    std::size_t first_digit = p;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
        // max is at most 2^64 - 1 and a negative signed limit 2^63, so
        // limit never wraps; the test keeps magnitude * 10 + digit in range
        unsigned      digit = unsigned(text[p] - '0');
        std::uint64_t limit = max + (parsed.negative ? 1 : 0);
        if (parsed.magnitude > (limit - digit) / 10) {
            parsed.result = NPT_ERROR_OVERFLOW;
            return parsed;
        }
        parsed.magnitude = parsed.magnitude * 10 + digit;
        ++p;
    }
    if (p == first_digit || (!relaxed && p != text.size())) {
        parsed.result = NPT_ERROR_INVALID_PARAMETERS;
        return parsed;
    }
    parsed.used = static_cast<NPT_Size>(p);
    return parsed;
}

void CheckIntegers(const std::string& text)
{
    const std::uint64_t max_u64 = ~std::uint64_t(0);
    const std::uint64_t max_s64 = max_u64 >> 1;
    for (bool relaxed : {false, true}) {
        Parsed s = ReferenceInteger(text, relaxed, true, max_s64);
        NPT_Int64 s64 = 1;
        NPT_Size  used = 99;
        FUZZ_CHECK(NPT_ParseSigned64(text.c_str(), s64, relaxed, &used) == s.result);
        if (s.result == NPT_SUCCESS) {
            std::int64_t expected = s.negative ? static_cast<std::int64_t>(-static_cast<std::uint64_t>(s.magnitude))
                                               : static_cast<std::int64_t>(s.magnitude);
            FUZZ_CHECK(s64 == expected);
            FUZZ_CHECK(used == s.used);
            // the text of a parsed value parses back to it
            NPT_Int64 again = 0;
            FUZZ_CHECK(NPT_ParseSigned64(NPT_String::FromInteger(s64).GetChars(), again, false) == NPT_SUCCESS);
            FUZZ_CHECK(again == s64);
        } else {
            FUZZ_CHECK(s64 == 0 && used == 0);
        }

        NPT_Int32 s32 = 1;
        NPT_Result r32 = NPT_ParseSigned32(text.c_str(), s32, relaxed, &used);
        if (s.result != NPT_SUCCESS) {
            FUZZ_CHECK(r32 == s.result && s32 == 0);
        } else if (s64 < INT32_MIN || s64 > INT32_MAX) {
            FUZZ_CHECK(r32 == NPT_ERROR_OVERFLOW && s32 == 0);
        } else {
            FUZZ_CHECK(r32 == NPT_SUCCESS && s32 == s64 && used == s.used);
        }

        Parsed u = ReferenceInteger(text, relaxed, false, max_u64);
        NPT_UInt64 u64 = 1;
        FUZZ_CHECK(NPT_ParseUnsigned64(text.c_str(), u64, relaxed, &used) == u.result);
        if (u.result == NPT_SUCCESS) {
            FUZZ_CHECK(u64 == static_cast<std::uint64_t>(u.magnitude) && used == u.used);
        } else {
            FUZZ_CHECK(u64 == 0 && used == 0);
        }

        NPT_UInt32 u32 = 1;
        NPT_Result ru32 = NPT_ParseUnsigned32(text.c_str(), u32, relaxed, &used);
        if (u.result != NPT_SUCCESS) {
            FUZZ_CHECK(ru32 == u.result && u32 == 0);
        } else if (u64 > UINT32_MAX) {
            FUZZ_CHECK(ru32 == NPT_ERROR_OVERFLOW && u32 == 0);
        } else {
            FUZZ_CHECK(ru32 == NPT_SUCCESS && u32 == u64);
        }
    }
}

/*----------------------------------------------------------------------
|   floats
+---------------------------------------------------------------------*/
// Equal, or neighbours; FLT_MAX and infinity count as neighbours, since
// the value may lie just around half an ulp above FLT_MAX.
bool Near(float a, float b)
{
    if (a == b) return true;
    if (std::isinf(a) || std::isinf(b)) {
        return std::signbit(a) == std::signbit(b) &&
               (std::fabs(a) == FLT_MAX || std::fabs(b) == FLT_MAX);
    }
    return std::nextafter(a, b) == b;
}

void CheckFloat(const std::string& text)
{
    NPT_Float strict = 7.0f;
    NPT_Result strict_result = NPT_ParseFloat32(text.c_str(), strict, false);
    if (strict_result == NPT_SUCCESS) {
        FUZZ_CHECK(!std::isnan(strict));
        // a text the strict parser accepts is a plain decimal number,
        // which strtof reads whole
        char* end = nullptr;
        float expected = std::strtof(text.c_str(), &end);
        FUZZ_CHECK(end == text.c_str() + text.size());
        FUZZ_CHECK(Near(strict, expected));
    } else {
        FUZZ_CHECK(strict == 0.0f);
    }

    NPT_Float relaxed = 7.0f;
    NPT_Result relaxed_result = NPT_ParseFloat32(text.c_str(), relaxed, true);
    if (relaxed_result == NPT_SUCCESS) {
        FUZZ_CHECK(!std::isnan(relaxed));
    } else {
        FUZZ_CHECK(relaxed == 0.0f);
    }
    if (strict_result == NPT_SUCCESS) {
        FUZZ_CHECK(relaxed_result == NPT_SUCCESS);
        FUZZ_CHECK(relaxed == strict || (std::isnan(relaxed) && std::isnan(strict)));
    }
}

/*----------------------------------------------------------------------
|   hex text
+---------------------------------------------------------------------*/
int Nibble(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void CheckHexText(const std::string& text)
{
    const NPT_Byte before[] = {1, 2, 3};
    NPT_DataBuffer bytes(before, 3);
    NPT_Result result = NPT_BytesFromHex(text.c_str(), bytes);
    if (text.size() % 2) {
        FUZZ_CHECK(result == NPT_ERROR_INVALID_PARAMETERS);
        FUZZ_CHECK(bytes.GetDataSize() == 3 && std::memcmp(bytes.GetData(), before, 3) == 0);
        return;
    }
    FUZZ_CHECK(bytes.GetDataSize() == text.size() / 2);
    std::size_t i = 0;
    for (; i < text.size() / 2; ++i) {
        int high = Nibble(text[2 * i]);
        int low = Nibble(text[2 * i + 1]);
        if (high < 0 || low < 0) break;
        FUZZ_CHECK(bytes.GetData()[i] == (high << 4 | low));
    }
    FUZZ_CHECK(result == (i == text.size() / 2 ? NPT_SUCCESS : NPT_ERROR_INVALID_SYNTAX));
}

void CheckHexOfBytes(Reader& input)
{
    std::string separator = input.Text(4);
    bool uppercase = input.Bool();
    std::vector<NPT_Byte> data = input.Rest();
    NPT_String text = NPT_HexFromBytes(data.data(), static_cast<NPT_Size>(data.size()),
                                       separator.empty() && input.Bool() ? nullptr : separator.c_str(),
                                       uppercase);
    std::size_t expected = data.empty() ? 0 : 2 * data.size() + separator.size() * (data.size() - 1);
    FUZZ_CHECK(text.GetLength() == expected);
    // taking the separators out gives text that decodes to the bytes
    std::string digits;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const char* at = text.GetChars() + i * (2 + separator.size());
        for (int k = 0; k < 2; ++k) {
            FUZZ_CHECK(Nibble(at[k]) >= 0);
            FUZZ_CHECK(uppercase ? !(at[k] >= 'a' && at[k] <= 'f') : !(at[k] >= 'A' && at[k] <= 'F'));
        }
        digits.append(at, 2);
        if (i + 1 < data.size()) FUZZ_CHECK(std::memcmp(at + 2, separator.data(), separator.size()) == 0);
    }
    NPT_DataBuffer decoded;
    FUZZ_CHECK(NPT_BytesFromHex(digits.c_str(), decoded) == NPT_SUCCESS);
    FUZZ_CHECK(decoded.GetDataSize() == data.size());
    FUZZ_CHECK(data.empty() || std::memcmp(decoded.GetData(), data.data(), data.size()) == 0);
}

/*----------------------------------------------------------------------
|   parameter lists
+---------------------------------------------------------------------*/
// Writes the map back as a list of quoted values, every byte that could
// end or break a value escaped; parsing that must give the same map.
std::string Serialise(const NPT_StringMap& map)
{
    std::string text;
    for (const NPT_StringMap::Entry& entry : map.GetEntries()) {
        if (!text.empty()) text += "; ";
        text += entry.GetKey().GetChars();
        text += "=\"";
        const NPT_String& value = entry.GetValue();
        for (NPT_Size i = 0; i < value.GetLength(); ++i) {
            char c = value[i];
            if (c == '"' || c == '\\' || static_cast<signed char>(c) < 0x20) text += '\\';
            text += c;
        }
        text += '"';
    }
    return text;
}

bool SameMap(const NPT_StringMap& a, const NPT_StringMap& b)
{
    if (a.GetEntryCount() != b.GetEntryCount()) return false;
    auto i = a.GetEntries().begin();
    auto j = b.GetEntries().begin();
    for (; i != a.GetEntries().end(); ++i, ++j) {
        if (i->GetKey() != j->GetKey() || i->GetValue() != j->GetValue()) return false;
    }
    return true;
}

void CheckParameterList(const std::string& text)
{
    NPT_StringMap map;
    NPT_Result result = NPT_ParseParameterList(text.c_str(), map);
    FUZZ_CHECK(result == NPT_SUCCESS || result == NPT_ERROR_INVALID_SYNTAX);
    for (const NPT_StringMap::Entry& entry : map.GetEntries()) {
        // names end at a space or at an '=' after their first byte
        const NPT_String& key = entry.GetKey();
        FUZZ_CHECK(key.GetLength() > 0);
        FUZZ_CHECK(key.Find(' ') < 0 && key.Find('=', 1) < 0);
        FUZZ_CHECK(map.Find(key.GetChars()) == &entry);
    }
    NPT_StringMap again;
    FUZZ_CHECK(NPT_ParseParameterList(Serialise(map).c_str(), again) == NPT_SUCCESS);
    FUZZ_CHECK(SameMap(map, again));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Reader input(data, size);
    const std::uint8_t choice = input.Byte();
    if (choice % 5 == 4) {
        CheckHexOfBytes(input);
        return 0;
    }
    std::vector<std::uint8_t> rest = input.Rest();
    std::string text;
    for (std::uint8_t b : rest) {
        if (b == 0) break;
        text.push_back(static_cast<char>(b));
    }
    switch (choice % 5) {
        case 0: CheckIntegers(text); break;
        case 1: CheckFloat(text); break;
        case 2: CheckHexText(text); break;
        case 3: CheckParameterList(text); break;
    }
    return 0;
}
