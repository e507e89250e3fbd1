// QuotedName: what a file name looks like in a message. Plain names stay
// readable; anything that could forge a line or drive the terminal is
// escaped. (Pasted into bash it names the same file:
// QuotedNamePosixTest.cpp.)
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "QuotedName.h"
#include "ToolRunner.h"

namespace tvkcrypt_test {
namespace {

using tvkcrypt::QuotedName;

struct QuoteCase {
    const char* what;
    std::string name;
    std::string quoted;
};

TEST(QuotedNameTest, EscapesWhatTheTerminalWouldObeyAndKeepsTheRest)
{
    const std::vector<QuoteCase> cases = {
        {"plain", "report.pdf", "'report.pdf'"},
        {"path with spaces", "my dir/a b.txt", "'my dir/a b.txt'"},
        {"empty", "", "''"},
        {"backslash stays literal in single quotes", "a\\b", "'a\\b'"},
        {"valid UTF-8 kept", "r\xC3\xA9sum\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x94\x91",
         "'r\xC3\xA9sum\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x94\x91'"},
        {"newline", "a\nb", "$'a\\nb'"},
        {"tab and carriage return", "a\tb\r", "$'a\\tb\\r'"},
        {"escape sequence", "\x1b[31mred", "$'\\x1b[31mred'"},
        {"DEL", "x\x7f", "$'x\\x7f'"},
        {"single quote", "it's", "$'it\\'s'"},
        {"backslash once escaping starts", "a\\b\n", "$'a\\\\b\\n'"},
        {"hex digits after an escape", "\x01" "ab", "$'\\x01ab'"},
        {"C1 control U+009B", "a\xC2\x9B" "b", "$'a\\xc2\\x9bb'"},
        {"U+00A0 is not a control", "a\xC2\xA0", "'a\xC2\xA0'"},
        {"stray continuation byte", "a\x80", "$'a\\x80'"},
        {"Latin-1 byte", "caf\xE9", "$'caf\\xe9'"},
        {"cut-short sequence at the end", "a\xE2\x82", "$'a\\xe2\\x82'"},
        {"overlong slash", "\xC0\xAF", "$'\\xc0\\xaf'"},
        {"overlong three bytes", "\xE0\x80\xAF", "$'\\xe0\\x80\\xaf'"},
        {"surrogate", "\xED\xA0\x80", "$'\\xed\\xa0\\x80'"},
        {"past U+10FFFF", "\xF4\x90\x80\x80", "$'\\xf4\\x90\\x80\\x80'"},
        {"highest code point", "\xF4\x8F\xBF\xBF", "'\xF4\x8F\xBF\xBF'"},
        {"right-to-left override U+202E", "a\xE2\x80\xAEgpj.exe", "$'a\\xe2\\x80\\xaegpj.exe'"},
        {"right-to-left isolate U+2067", "\xE2\x81\xA7x", "$'\\xe2\\x81\\xa7x'"},
        {"Arabic letter mark U+061C", "\xD8\x9C", "$'\\xd8\\x9c'"},
        {"zero-width space U+200B", "a\xE2\x80\x8B", "$'a\\xe2\\x80\\x8b'"},
        {"byte order mark U+FEFF", "\xEF\xBB\xBF" "a", "$'\\xef\\xbb\\xbfa'"},
        {"U+2010 hyphen is shown", "a\xE2\x80\x90", "'a\xE2\x80\x90'"},
    };
    for (const QuoteCase& c : cases) {
        EXPECT_EQ(QuotedName(c.name), c.quoted) << c.what;
    }
}

}  // namespace
}  // namespace tvkcrypt_test
