// ConsoleLine: the console's UTF-16 reads of one typed line, turned into
// the UTF-8 bytes the password is keyed with. Pairs split between two
// reads, unpaired surrogates, Ctrl-Z, lines longer than the buffer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ConsoleLine.h"

namespace tvkcrypt_test {
namespace {

using tvkcrypt::ConsoleLine;

struct LineCase {
    const char*                 what;
    std::vector<std::u16string> reads;     // one per ReadConsoleW
    std::size_t                 capacity;
    std::string                 expected;  // the bytes in the buffer
    bool                        too_long;
    bool                        end_of_input;
    bool                        done;      // a line feed was seen
};

TEST(ConsoleLineTest, GivesTheUtf8OfTheTypedLine)
{
    const std::vector<LineCase> cases = {
        {"ASCII with CR LF", {u"pass word\r\n"}, 64, "pass word", false, false, true},
        {"empty line", {u"\r\n"}, 64, "", false, false, true},
        {"over several reads", {u"ab", u"cd\r", u"\n"}, 64, "abcd", false, false, true},
        {"two and three bytes", {u"caf\u00E9 \u20AC\r\n"}, 64, "caf\xC3\xA9 \xE2\x82\xAC", false, false, true},
        {"pair in one read", {u"k\U0001F511\r\n"}, 64, "k\xF0\x9F\x94\x91", false, false, true},
        {"pair split between reads", {std::u16string(u"a") + char16_t(0xD83D), std::u16string(1, char16_t(0xDD11)) + u"\r\n"},
         64, "a\xF0\x9F\x94\x91", false, false, true},
        {"lone high surrogate before a letter", {std::u16string(1, char16_t(0xD83D)) + u"x\r\n"}, 64,
         "\xEF\xBF\xBDx", false, false, true},
        {"two high surrogates, then the pair's low one",
         {std::u16string{char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDD11)} + u"\r\n"}, 64,
         "\xEF\xBF\xBD\xF0\x9F\x94\x91", false, false, true},
        {"lone low surrogate", {std::u16string(1, char16_t(0xDD11)) + u"\r\n"}, 64, "\xEF\xBF\xBD", false,
         false, true},
        {"high surrogate when the input ends", {std::u16string(u"z") + char16_t(0xD83D)}, 64, "z\xEF\xBF\xBD",
         false, false, false},
        {"Ctrl-Z first ends the input", {u"\x1A\r\n"}, 64, "", false, true, true},
        {"Ctrl-Z first, text after it ignored", {u"\x1A" u"abc\r\n"}, 64, "", false, true, true},
        {"Ctrl-Z later is a character", {u"a\x1A" u"b\r\n"}, 64, "a\x1A" "b", false, false, true},
        {"longer than the buffer", {u"abcdef", u"gh\r\n"}, 3, "abc", true, false, true},
        {"a character cut at the end of the buffer", {u"a\u20AC\r\n"}, 2, "a\xE2", true, false, true},
        {"exactly the buffer", {u"abc\r\n"}, 3, "abc", true, false, true},
        {"units after the line feed are not taken", {u"ab\r\ncd"}, 64, "ab", false, false, true},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::string buffer(c.capacity, '\xAA');
        ConsoleLine line(&buffer[0], c.capacity);
        bool done = false;
        for (const std::u16string& read : c.reads) {
            ASSERT_FALSE(done) << "a read after the line ended";
            done = line.Add(read.data(), read.size());
        }
        line.Finish();
        EXPECT_EQ(done, c.done);
        EXPECT_EQ(buffer.substr(0, line.Length()), c.expected);
        EXPECT_EQ(line.TooLong(), c.too_long);
        EXPECT_EQ(line.EndOfInput(), c.end_of_input);
        // nothing written past the buffer's capacity
        EXPECT_LE(line.Length(), c.capacity);
    }
}

// Input that ends before anything was typed is not an empty line.
TEST(ConsoleLineTest, NothingTypedIsToldFromAnEmptyLine)
{
    char buffer[8];
    ConsoleLine nothing(buffer, sizeof(buffer));
    nothing.Finish();
    EXPECT_FALSE(nothing.AnyUnit());
    EXPECT_EQ(nothing.Length(), 0u);

    ConsoleLine empty(buffer, sizeof(buffer));
    const std::u16string line_end = u"\r\n";
    EXPECT_TRUE(empty.Add(line_end.data(), line_end.size()));
    EXPECT_TRUE(empty.AnyUnit());
    EXPECT_EQ(empty.Length(), 0u);
}

}  // namespace
}  // namespace tvkcrypt_test
