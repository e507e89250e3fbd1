// The Windows text services: the system's ANSI code page without best
// fit (compared with the cp1252 table over the whole Basic Multilingual
// Plane where the system's code page is 1252, as in an English Wine
// prefix), and TVK_PASSWORD read from the wide environment as UTF-8 and
// removed from every copy of the environment.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "PasswordEncoding.h"
#include "SystemText.h"

using namespace tvkcrypt;

namespace {

std::string
Utf8Of(unsigned code_point)
{
    std::string text;
    if (code_point < 0x80) {
        text += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        text += static_cast<char>(0xC0 | (code_point >> 6));
        text += static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        text += static_cast<char>(0xE0 | (code_point >> 12));
        text += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code_point & 0x3F));
    }
    return text;
}

struct Result {
    bool        ok = false;
    std::string bytes;
};

Result
ConvertWith(const char* name, const std::string& text)
{
    PasswordEncoding encoding;
    std::string error;
    EXPECT_TRUE(PasswordEncoding::Find(name, encoding, error)) << error;
    Result result;
    char output[16];
    std::size_t length = 0;
    result.ok = encoding.Convert(text.data(), text.size(), output, sizeof(output), length, "the password", error);
    result.bytes.assign(output, length);
    return result;
}

TEST(AnsiCodePage, RefusesWhatCp1252LacksInsteadOfABestFit)
{
    if (AnsiCodePage() != 1252) {
        GTEST_SKIP() << "the system's ANSI code page is " << AnsiCodePage()
                     << ", not 1252 (an English Windows or Wine prefix has 1252)";
    }
    Result cafe = ConvertWith("ansi", "caf\xc3\xa9 \xe2\x82\xac");
    ASSERT_TRUE(cafe.ok);
    EXPECT_EQ(cafe.bytes, "caf\xe9 \x80");
    // look-alikes that best fit would give: 'a' for a with macron, 'L' for
    // L with stroke, '"' for a double prime
    for (const char* text : {"\xc4\x81", "\xc5\x81", "\xe2\x80\xb3", "\xd0\x96", "\xf0\x9f\x98\x80"}) {
        EXPECT_FALSE(ConvertWith("ansi", text).ok) << "took " << text;
    }
    // the whole plane: ansi and the cp1252 table agree, except on the five
    // bytes Python leaves undefined and Windows maps to C1 controls
    unsigned disagreements = 0;
    for (unsigned c = 1; c <= 0xFFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        const std::string text = Utf8Of(c);
        Result ansi = ConvertWith("ansi", text);
        Result table = ConvertWith("cp1252", text);
        if (c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) {
            EXPECT_FALSE(table.ok);
            continue;
        }
        if (ansi.ok != table.ok || ansi.bytes != table.bytes) {
            if (++disagreements <= 10) {
                ADD_FAILURE() << "U+" << std::hex << c << ": ansi and cp1252 differ";
            }
        }
    }
    EXPECT_EQ(disagreements, 0u);
}

const wchar_t kWideName[] = L"TVK_TEST_ENVIRONMENT_SECRET";
const char kName[] = "TVK_TEST_ENVIRONMENT_SECRET";

TEST(EnvironmentSecret, ReadsTheWideEnvironmentAsUtf8AndRemovesEveryCopy)
{
    struct Case {
        std::wstring      value;
        std::size_t       capacity;
        EnvironmentSecret outcome;
        std::string       taken;
    } cases[] = {
        // e acute, the euro sign, and U+1F600 as a surrogate pair
        {L"caf\u00e9 \u20ac \U0001F600", 64, SECRET_PRESENT, "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
        {L"caf\u00e9", 5, SECRET_PRESENT, "caf\xc3\xa9"},
        {L"caf\u00e9", 4, SECRET_TOO_LONG, ""},
        {std::wstring(L"ab") + wchar_t(0xD800) + L"cd", 64, SECRET_NOT_TEXT, ""},  // a lone high surrogate
        {std::wstring(L"ab") + wchar_t(0xDC00), 64, SECRET_NOT_TEXT, ""},         // a lone low surrogate
        {std::wstring(L"\U0001F600").substr(0, 1), 64, SECRET_NOT_TEXT, ""},       // a pair cut at the end
    };
    for (const Case& c : cases) {
        // through the C runtime, so that its narrow and wide copies exist too
        ASSERT_EQ(_wputenv_s(kWideName, c.value.c_str()), 0);
        ASSERT_NE(_wgetenv(kWideName), nullptr);
        char buffer[64];
        std::memset(buffer, 'x', sizeof(buffer));
        std::size_t length = 99;
        EXPECT_EQ(TakeEnvironmentSecret(kName, buffer, c.capacity, length), c.outcome) << c.taken;
        EXPECT_EQ(std::string(buffer, length), c.taken);
        for (std::size_t i = 0; c.outcome != SECRET_PRESENT && i < sizeof(buffer); ++i) {
            // what was converted before the failure is wiped
            EXPECT_TRUE(buffer[i] == 'x' || buffer[i] == '\0') << "byte " << i << " left in the buffer";
        }
        EXPECT_EQ(GetEnvironmentVariableW(kWideName, nullptr, 0), 0u) << "still in the process's block";
        EXPECT_EQ(_wgetenv(kWideName), nullptr) << "still in the runtime's wide environment";
        EXPECT_EQ(std::getenv(kName), nullptr) << "still in the runtime's narrow environment";
    }
    // unset, and set in the block only
    std::size_t length = 99;
    char buffer[8];
    EXPECT_EQ(TakeEnvironmentSecret(kName, buffer, sizeof(buffer), length), SECRET_ABSENT);
    EXPECT_EQ(length, 0u);
    ASSERT_TRUE(SetEnvironmentVariableW(kWideName, L"blockonly"));
    EXPECT_EQ(TakeEnvironmentSecret(kName, buffer, sizeof(buffer), length), SECRET_TOO_LONG);
    EXPECT_EQ(GetEnvironmentVariableW(kWideName, nullptr, 0), 0u);
}

}  // namespace
