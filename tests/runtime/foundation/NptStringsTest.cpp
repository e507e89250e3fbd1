#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "NptStrings.h"
#ifdef __linux__
#include "TestRepeatedMapping.h"  // Linux only (memfd_create)
#endif

namespace {

std::string Std(const NPT_String& s)
{
    return std::string(s.GetChars(), s.GetLength());
}

std::vector<std::string> Items(const NPT_List<NPT_String>& list)
{
    std::vector<std::string> items;
    for (const NPT_String& item : list) items.push_back(Std(item));
    return items;
}

} // namespace

/*----------------------------------------------------------------------
|   layout and empty strings
+---------------------------------------------------------------------*/
TEST(NptStringTest, BlockHeaderPrecedesCharacters)
{
    NPT_String s("hello");
    const NPT_String::Buffer* header = s.GetBuffer();
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(reinterpret_cast<const char*>(header) + 8, s.GetChars());
    EXPECT_EQ(header->m_Length, 5u);
    EXPECT_EQ(header->m_Allocated, 5u);
    EXPECT_EQ(s.GetChars()[5], '\0');
}

TEST(NptStringTest, EveryEmptyFormReadsAsTheEmptyString)
{
    NPT_String from_default;
    NPT_String from_null(static_cast<const char*>(nullptr));
    NPT_String from_empty("");
    NPT_String from_zero_bytes("abc", 0);
    NPT_String from_zero_repeat('x', 0);
    for (const NPT_String* s : {&from_default, &from_null, &from_empty, &from_zero_bytes, &from_zero_repeat}) {
        ASSERT_NE(s->GetChars(), nullptr);
        EXPECT_STREQ(s->GetChars(), "");
        EXPECT_EQ(s->GetLength(), 0u);
        EXPECT_TRUE(*s == from_default);
    }
    EXPECT_EQ(from_default.GetBuffer(), nullptr);
    // a block of length 0, which still copies to the null string
    EXPECT_NE(from_empty.GetBuffer(), nullptr);
    NPT_String copy(from_empty);
    EXPECT_EQ(copy.GetBuffer(), nullptr);
    NPT_String assigned("x");
    assigned = from_empty;
    EXPECT_EQ(assigned.GetBuffer(), nullptr);
}

TEST(NptStringTest, CopiesAndNewStringsAreExactlySized)
{
    NPT_String s("abc");
    s.Reserve(100);
    EXPECT_EQ(NPT_String(s).GetCapacity(), 3u);
    EXPECT_EQ((s + "de").GetCapacity(), 5u);
    EXPECT_EQ(("de" + s).GetCapacity(), 5u);
    EXPECT_EQ((s + 'd').GetCapacity(), 4u);
    EXPECT_EQ(s.SubString(1).GetCapacity(), 2u);
}

/*----------------------------------------------------------------------
|   capacity
+---------------------------------------------------------------------*/
TEST(NptStringTest, AppendingOneByteAtATimeDoublesTheCapacity)
{
    NPT_String s;
    std::vector<NPT_Size> capacities;
    for (int i = 0; i < 33; ++i) {
        s += 'x';
        if (capacities.empty() || capacities.back() != s.GetCapacity()) {
            capacities.push_back(s.GetCapacity());
        }
    }
    EXPECT_EQ(capacities, (std::vector<NPT_Size>{1, 2, 4, 8, 16, 32, 64}));
    EXPECT_EQ(s.GetLength(), 33u);
}

TEST(NptStringTest, ReserveDoublesUnlessMoreIsAskedAndAssignReusesTheBlock)
{
    NPT_String s;
    s.Reserve(8);
    s = "abc";
    EXPECT_EQ(s.GetCapacity(), 8u); // the reserved block took the text
    s.Reserve(10);
    EXPECT_EQ(s.GetCapacity(), 16u);
    s.Reserve(40);
    EXPECT_EQ(s.GetCapacity(), 40u);
    s.Reserve(5);
    EXPECT_EQ(s.GetCapacity(), 40u);
    EXPECT_STREQ(s.GetChars(), "abc");
    s = "";
    EXPECT_EQ(s.GetBuffer(), nullptr);
}

TEST(NptStringTest, SetLengthPadsOrTruncates)
{
    NPT_String s("ab");
    EXPECT_EQ(s.SetLength(5, true), NPT_SUCCESS);
    EXPECT_STREQ(s.GetChars(), "ab   ");
    EXPECT_EQ(s.SetLength(1, false), NPT_SUCCESS);
    EXPECT_STREQ(s.GetChars(), "a");
    EXPECT_EQ(s.SetLength(0, true), NPT_SUCCESS);
    EXPECT_EQ(s.GetBuffer(), nullptr);
}

/*----------------------------------------------------------------------
|   appending with the source inside the string itself
+---------------------------------------------------------------------*/
TEST(NptStringTest, SelfAppendCopiesBeforeTheBlockMoves)
{
    NPT_String s("abc"); // capacity 3: every append below reallocates
    s += s;
    EXPECT_STREQ(s.GetChars(), "abcabc");
    s.Append(s.GetChars() + 1, 2);
    EXPECT_STREQ(s.GetChars(), "abcabcbc");
    NPT_String t("xyz");
    t.Append(t.GetChars());
    EXPECT_STREQ(t.GetChars(), "xyzxyz");
}

TEST(NptStringTest, SelfInsertAndAssign)
{
    NPT_String s("abc");
    s.Insert(s.GetChars(), 1);
    EXPECT_STREQ(s.GetChars(), "aabcbc");
    s = s.GetChars() + 2;
    EXPECT_STREQ(s.GetChars(), "bcbc");
    s.Assign(s.GetChars() + 1, 2);
    EXPECT_STREQ(s.GetChars(), "cb");
    const NPT_String& alias = s;
    s = alias;
    EXPECT_STREQ(s.GetChars(), "cb");
    NPT_String r("a-b-c");
    r.Replace(r.GetChars() + 1, r.GetChars()); // "-b-c" does not occur twice
    EXPECT_STREQ(r.GetChars(), "aa-b-c");
    NPT_String q("a-b");
    q.Replace('-', q.GetChars());
    EXPECT_STREQ(q.GetChars(), "aa-bb");
}

TEST(NptStringTest, ConcatenationToleratesNullOperands)
{
    NPT_String a("ab");
    EXPECT_STREQ((a + static_cast<const char*>(nullptr)).GetChars(), "ab");
    EXPECT_STREQ((static_cast<const char*>(nullptr) + a).GetChars(), "ab");
    EXPECT_EQ((NPT_String() + "").GetBuffer(), nullptr);
}

/*----------------------------------------------------------------------
|   comparison
+---------------------------------------------------------------------*/
struct CompareCase {
    const char* a;
    const char* b;
    bool        ignore_case;
    int         expected;
};

TEST(NptStringTest, CompareReturnsTheSignedDifferenceOfTheFirstDifferingBytes)
{
    const CompareCase cases[] = {
        {"a", "A", true, 0},
        {"a", "B", true, 'A' - 'B'},
        {"a", "A", false, 32},
        {"a\x80", "a", false, -128},   // 0x80 orders before the terminator
        {"a", "a\xff", false, 1},
        {"\xe9", "e", false, -23 - 'e'},
        {"\xe9", "\xc9", true, 0x20},  // non-ASCII bytes never fold
        {"abc", "abd", false, -1},
        {"ab", "a", false, 'b'},
        {"", "", false, 0},
        {"Hello", "hELLO", true, 0},
        {"[", "a", true, '[' - 'A'},   // folding to upper case decides the order
    };
    for (const CompareCase& c : cases) {
        EXPECT_EQ(NPT_String(c.a).Compare(c.b, c.ignore_case), c.expected)
            << '"' << c.a << "\" vs \"" << c.b << '"';
    }
    EXPECT_EQ(NPT_String("a").Compare(nullptr), 'a');
}

TEST(NptStringTest, CompareNComparesExactlyCountBytes)
{
    NPT_String s("abc");
    EXPECT_EQ(s.CompareN("abX", 2), 0);
    EXPECT_EQ(s.CompareN("abX", 3), 'c' - 'X');
    EXPECT_EQ(s.CompareN("ABC", 4, true), 0);
    EXPECT_EQ(NPT_String("ab").CompareN("ab", 3), 0);
    EXPECT_EQ(s.CompareN("ab", 3), 'c');
}

/*----------------------------------------------------------------------
|   search
+---------------------------------------------------------------------*/
struct FindCase {
    const char* text;
    const char* pattern;
    NPT_Size    start;
    bool        ignore_case;
    NPT_Int32   expected;
};

TEST(NptStringTest, FindString)
{
    const FindCase cases[] = {
        {"abc", "", 0, false, 0},
        {"abc", "", 2, false, 2},
        {"abc", "", 3, false, -1},
        {"abc", "abc", 3, false, -1},
        {"abc", "cd", 0, false, -1},
        {"abc", "bc", 0, false, 1},
        {"abc", "BC", 0, false, -1},
        {"abc", "BC", 0, true, 1},
        {"abcabd", "abd", 0, false, 3},
        {"abcabc", "abc", 1, false, 3},
        {"abcd", "cdx", 0, false, -1},
        {"", "a", 0, false, -1},
        {"abc", "abc", 100, false, -1},
    };
    for (const FindCase& c : cases) {
        EXPECT_EQ(NPT_String(c.text).Find(c.pattern, c.start, c.ignore_case), c.expected)
            << c.text << " / " << c.pattern << " from " << c.start;
    }
    EXPECT_EQ(NPT_String("abc").Find(static_cast<const char*>(nullptr)), -1);
    EXPECT_EQ(NPT_String().Find(""), -1);
}

TEST(NptStringTest, FindAndReverseFindCharacter)
{
    NPT_String s("abcABC");
    EXPECT_EQ(s.Find('b', 2), -1);
    EXPECT_EQ(s.Find('b', 2, true), 4);
    EXPECT_EQ(s.Find('\0'), -1);
    EXPECT_EQ(s.ReverseFind('a'), 0);
    EXPECT_EQ(s.ReverseFind('a', 0, true), 3);
    EXPECT_EQ(s.ReverseFind('c', 3), 2);
    EXPECT_EQ(s.ReverseFind('a', 6), -1);
    EXPECT_EQ(NPT_String().Find('a'), -1);
    EXPECT_EQ(NPT_String().ReverseFind('a'), -1);
}

TEST(NptStringTest, ReverseFindString)
{
    const FindCase cases[] = {
        {"abab", "b", 0, false, 3},
        {"abab", "b", 1, false, 1},
        {"abab", "ab", 0, false, 2},
        {"abab", "ab", 1, false, 0},
        {"abab", "ab", 3, false, -1},
        {"abab", "abcde", 0, false, -1},
        {"abab", "", 0, false, -1},
        {"abAB", "ab", 0, true, 2},
        {"abAB", "ab", 0, false, 0},
        {"", "a", 0, false, -1},
    };
    for (const FindCase& c : cases) {
        EXPECT_EQ(NPT_String(c.text).ReverseFind(c.pattern, c.start, c.ignore_case), c.expected)
            << c.text << " / " << c.pattern << " start " << c.start;
    }
    EXPECT_EQ(NPT_String("abc").ReverseFind(static_cast<const char*>(nullptr)), -1);
}

/*----------------------------------------------------------------------
|   editing
+---------------------------------------------------------------------*/
TEST(NptStringTest, SubStringClipsAndIgnoresOutOfRange)
{
    NPT_String s("abcdef");
    EXPECT_STREQ(s.SubString(2, 3).GetChars(), "cde");
    EXPECT_STREQ(s.SubString(4, 100).GetChars(), "ef");
    EXPECT_STREQ(s.SubString(4, 0xFFFFFFFFu).GetChars(), "ef");
    EXPECT_EQ(s.SubString(6, 1).GetBuffer(), nullptr);
    EXPECT_EQ(s.SubString(0, 0).GetBuffer(), nullptr);
}

TEST(NptStringTest, InsertAllocatesExactlyAndIgnoresBadPositions)
{
    NPT_String s("ace");
    s.Insert("b", 1);
    s.Insert("d", 3);
    s.Insert("f", 5);
    EXPECT_STREQ(s.GetChars(), "abcdef");
    EXPECT_EQ(s.GetCapacity(), 6u);
    s.Insert("x", 7);
    s.Insert("", 0);
    s.Insert(nullptr, 0);
    EXPECT_STREQ(s.GetChars(), "abcdef");
    NPT_String empty;
    empty.Insert("new", 0);
    EXPECT_STREQ(empty.GetChars(), "new");
}

TEST(NptStringTest, EraseClipsTheCountAndKeepsTheCapacity)
{
    NPT_String s("abcdef");
    s.Erase(1, 2);
    EXPECT_STREQ(s.GetChars(), "adef");
    s.Erase(2, 100);
    EXPECT_STREQ(s.GetChars(), "ad");
    s.Erase(2, 1);
    s.Erase(5, 1);
    s.Erase(0, 0);
    s.Erase(1, 0xFFFFFFFFu);
    EXPECT_STREQ(s.GetChars(), "a");
    EXPECT_EQ(s.GetCapacity(), 6u);
    NPT_String empty;
    empty.Erase(0, 1);
    EXPECT_EQ(empty.GetLength(), 0u);
}

struct ReplaceCase {
    const char* text;
    const char* pattern;
    const char* replacement;
    const char* expected;
};

TEST(NptStringTest, ReplaceStringTerminatesAndNeverRescansReplacements)
{
    const ReplaceCase cases[] = {
        {"aba", "a", "aa", "aabaa"},
        {"xx", "x", "xx", "xxxx"},
        {"abab", "ab", "", ""},
        {"abab", "ab", nullptr, ""},
        {"aaa", "aa", "b", "ba"},
        {"a.b.c", ".", "--", "a--b--c"},
        {"abc", "", "x", "abc"},
        {"abc", "x", "y", "abc"},
        {"abcabc", "bc", "BC", "aBCaBC"},
        {"aaaa", "a", "", ""},
        {"", "a", "b", ""},
    };
    for (const ReplaceCase& c : cases) {
        NPT_String s(c.text);
        s.Replace(c.pattern, c.replacement);
        EXPECT_STREQ(s.GetChars(), c.expected) << c.text << ": " << c.pattern;
    }
}

TEST(NptStringTest, ReplaceCharacters)
{
    NPT_String s("a,b,c");
    s.Replace(',', ';');
    EXPECT_STREQ(s.GetChars(), "a;b;c");
    s.Replace(';', '\0');
    s.Replace('\0', 'x');
    EXPECT_STREQ(s.GetChars(), "a;b;c");
    s.Replace(';', "; ");
    EXPECT_STREQ(s.GetChars(), "a; b; c");
    s.Replace(' ', "");
    s.Replace(' ', static_cast<const char*>(nullptr));
    EXPECT_STREQ(s.GetChars(), "a; b; c");
    s.Replace(' ', "_");
    EXPECT_STREQ(s.GetChars(), "a;_b;_c");
    NPT_String empty;
    empty.Replace('a', "bb");
    EXPECT_EQ(empty.GetLength(), 0u);
}

TEST(NptStringTest, CaseConversionTouchesOnlyAsciiLetters)
{
    NPT_String s("aZ\xe9\xc9[`@{");
    EXPECT_STREQ(s.ToUppercase().GetChars(), "AZ\xe9\xc9[`@{");
    EXPECT_STREQ(s.ToLowercase().GetChars(), "az\xe9\xc9[`@{");
    EXPECT_STREQ(s.GetChars(), "aZ\xe9\xc9[`@{");
}

struct TrimCase {
    const char* text;
    const char* chars; // null: whitespace
    const char* left;
    const char* right;
    const char* both;
};

TEST(NptStringTest, Trimming)
{
    const TrimCase cases[] = {
        {"  a b \t", nullptr, "a b \t", "  a b", "a b"},
        {" \t\r\n", nullptr, "", "", ""},
        {"xxaxx", "x", "axx", "xxa", "a"},
        {"xyaxy", "yx", "axy", "xya", "a"},
        {"abc", "", "abc", "abc", "abc"},
        {"abc", "xyz", "abc", "abc", "abc"},
        {"", nullptr, "", "", ""},
    };
    for (const TrimCase& c : cases) {
        NPT_String left(c.text), right(c.text), both(c.text);
        if (c.chars) {
            left.TrimLeft(c.chars);
            right.TrimRight(c.chars);
            both.Trim(c.chars);
        } else {
            left.TrimLeft();
            right.TrimRight();
            both.Trim();
        }
        EXPECT_EQ(Std(left), c.left) << '"' << c.text << '"';
        EXPECT_EQ(Std(right), c.right) << '"' << c.text << '"';
        EXPECT_EQ(Std(both), c.both) << '"' << c.text << '"';
    }
}

TEST(NptStringTest, TrimKeepsTheBlockAndSingleCharacterForms)
{
    NPT_String s("xxaxx");
    const NPT_String::Buffer* block = s.GetBuffer();
    s.Trim('x');
    EXPECT_STREQ(s.GetChars(), "a");
    EXPECT_EQ(s.GetBuffer(), block);
    EXPECT_EQ(s.GetCapacity(), 5u);
    NPT_String t("--a--");
    t.TrimLeft('-');
    EXPECT_STREQ(t.GetChars(), "a--");
    t.TrimRight('-');
    EXPECT_STREQ(t.GetChars(), "a");
}

/*----------------------------------------------------------------------
|   numbers and formatting
+---------------------------------------------------------------------*/
TEST(NptStringTest, FromIntegerCoversTheWholeRange)
{
    const struct { NPT_Int64 value; const char* text; } signed_cases[] = {
        {0, "0"},
        {7, "7"},
        {-7, "-7"},
        {1000, "1000"},
        {LLONG_MAX, "9223372036854775807"},
        {LLONG_MIN, "-9223372036854775808"},
    };
    for (const auto& c : signed_cases) {
        EXPECT_STREQ(NPT_String::FromInteger(c.value).GetChars(), c.text);
    }
    EXPECT_STREQ(NPT_String::FromUnsignedInteger(0).GetChars(), "0");
    EXPECT_STREQ(NPT_String::FromUnsignedInteger(ULLONG_MAX).GetChars(), "18446744073709551615");
}

TEST(NptStringTest, FormatGrowsTheTrialSizeByDoubling)
{
    std::string text255(255, 'a');
    NPT_String s255 = NPT_String::Format("%s", text255.c_str());
    EXPECT_EQ(Std(s255), text255);
    EXPECT_EQ(s255.GetCapacity(), 256u); // fitted on the first attempt

    std::string text256(256, 'b');
    NPT_String s256 = NPT_String::Format("%s", text256.c_str());
    EXPECT_EQ(Std(s256), text256);
    EXPECT_EQ(s256.GetCapacity(), 512u); // needed the second attempt

    EXPECT_STREQ(NPT_String::Format("%d-%s-%04x", -12, "ab", 255).GetChars(), "-12-ab-00ff");
    EXPECT_EQ(NPT_String::Format("%s", "").GetBuffer(), nullptr);
}

TEST(NptStringTest, FormatBeyondTheLargestTrialSizeGivesAnEmptyString)
{
    std::string largest(524287, 'c');
    NPT_String fits = NPT_String::Format("%s", largest.c_str());
    EXPECT_EQ(fits.GetLength(), 524287u);
    EXPECT_EQ(fits.GetCapacity(), 524288u);

    std::string too_long(524288, 'd');
    NPT_String empty = NPT_String::Format("%s", too_long.c_str());
    EXPECT_EQ(empty.GetLength(), 0u);
    EXPECT_STREQ(empty.GetChars(), "");
}

TEST(NptStringTest, ToIntegerAndToFloatPassRelaxedThroughAndClearOnFailure)
{
    NPT_Int32 i32 = 5;
    EXPECT_EQ(NPT_String("2147483648").ToInteger(i32), NPT_ERROR_OVERFLOW);
    EXPECT_EQ(i32, 0);
    NPT_UInt32 u32 = 5;
    EXPECT_EQ(NPT_String("4294967295").ToInteger(u32), NPT_SUCCESS);
    EXPECT_EQ(u32, 4294967295u);
    NPT_Int64 i64 = 0;
    EXPECT_EQ(NPT_String(" 12x").ToInteger(i64, true), NPT_SUCCESS);
    EXPECT_EQ(i64, 12);
    EXPECT_EQ(NPT_String(" 12x").ToInteger(i64, false), NPT_ERROR_INVALID_PARAMETERS);
    NPT_UInt64 u64 = 1;
    EXPECT_EQ(NPT_String().ToInteger(u64), NPT_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(u64, 0u);
    NPT_Float f = 1.0f;
    EXPECT_EQ(NPT_String("5.").ToFloat(f), NPT_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(f, 0.0f);
}

/*----------------------------------------------------------------------
|   splitting, joining and the list
+---------------------------------------------------------------------*/
struct SplitCase {
    const char*              text;
    const char*              separator;
    std::vector<std::string> items;
};

TEST(NptStringTest, SplitKeepsEmptyItemsAndJoinRestoresTheText)
{
    const SplitCase cases[] = {
        {"a,,b,", ",", {"a", "", "b", ""}},
        {",a", ",", {"", "a"}},
        {"", ",", {""}},
        {",", ",", {"", ""}},
        {"a,b", "", {"a,b"}},
        {"", "", {""}},
        {"a::b:c::", "::", {"a", "b:c", ""}},
        {"no separator", ";", {"no separator"}},
    };
    for (const SplitCase& c : cases) {
        NPT_String text(c.text);
        NPT_List<NPT_String> items = text.Split(c.separator);
        EXPECT_EQ(Items(items), c.items) << '"' << c.text << "\" at \"" << c.separator << '"';
        EXPECT_EQ(items.GetItemCount(), c.items.size());
        EXPECT_EQ(Std(NPT_String::Join(items, c.separator)), c.text);
    }
}

TEST(NptStringTest, JoinPlacesTheSeparatorOnlyBetweenItems)
{
    NPT_List<NPT_String> list;
    EXPECT_EQ(NPT_String::Join(list, ",").GetBuffer(), nullptr);
    list.Add("a");
    EXPECT_STREQ(NPT_String::Join(list, ",").GetChars(), "a");
    list.Add("");
    list.Add("b");
    EXPECT_STREQ(NPT_String::Join(list, ",").GetChars(), "a,,b");
    EXPECT_STREQ(NPT_String::Join(list, ", ").GetChars(), "a, , b");
    EXPECT_STREQ(NPT_String::Join(list, "").GetChars(), "ab");
}

TEST(NptListTest, CopiesOwnTheirItemsAndKeepTheOrder)
{
    NPT_List<NPT_String> list;
    for (const char* s : {"one", "two", "three"}) EXPECT_EQ(list.Add(s), NPT_SUCCESS);
    NPT_List<NPT_String> copy(list);
    *copy.GetFirstItem() = "changed";
    EXPECT_EQ(Items(list), (std::vector<std::string>{"one", "two", "three"}));
    NPT_List<NPT_String> assigned;
    assigned.Add("old");
    assigned = copy;
    EXPECT_EQ(Items(assigned), (std::vector<std::string>{"changed", "two", "three"}));
    EXPECT_EQ(list.Clear(), NPT_SUCCESS);
    EXPECT_EQ(list.GetItemCount(), 0u);
    EXPECT_FALSE(list.GetFirstItem());
    EXPECT_EQ(copy.GetItemCount(), 3u);
}

#ifdef __linux__  // texts past 4 GiB are mapped with memfd_create
// A text longer than any string can hold fails as an allocation would,
// whichever operation takes it, instead of being cut to the low 32 bits
// of its length (a text of 2^32 + 5 bytes became one of 5).
TEST(NptStringTest, TextPastFourGigabytesIsRefusedNotCut)
{
    TVK_SKIP_UNDER_THREAD_SANITIZER();
    const std::uint64_t body = std::uint64_t(1) << 32;
    tvk_test::RepeatedMapping mapping(body, 'x', false, true);
    ASSERT_TRUE(mapping.Ok());
    std::memcpy(mapping.Data() + body, "abcde", 6);
    const char* text = mapping.Data();

    NPT_String s("ab");
    EXPECT_THROW(NPT_String{text}, std::bad_alloc);
    EXPECT_THROW(s = text, std::bad_alloc);
    EXPECT_THROW(s.Append(text), std::bad_alloc);
    EXPECT_THROW(s += text, std::bad_alloc);
    EXPECT_THROW(s + text, std::bad_alloc);
    EXPECT_THROW(text + s, std::bad_alloc);
    EXPECT_THROW(s.Insert(text, 1), std::bad_alloc);
    EXPECT_STREQ(s.GetChars(), "ab");
}
#endif
