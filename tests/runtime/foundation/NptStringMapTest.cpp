#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "NptStringMap.h"

namespace {

typedef std::vector<std::pair<std::string, std::string>> Pairs;

Pairs Entries(const NPT_StringMap& map)
{
    Pairs pairs;
    for (const NPT_StringMap::Entry& entry : map.GetEntries()) {
        pairs.emplace_back(std::string(entry.GetKey().GetChars(), entry.GetKey().GetLength()),
                           std::string(entry.GetValue().GetChars(), entry.GetValue().GetLength()));
    }
    return pairs;
}

struct ParseCase {
    const char* text;
    NPT_Result  result;
    Pairs       pairs; // in map order, after the call
};

} // namespace

TEST(NptStringMapTest, IndexingCreatesOneEntryPerKeyInInsertionOrder)
{
    NPT_StringMap map;
    map["b"] = "1";
    map["a"] = "2";
    map["b"] = "3";
    map["B"];
    EXPECT_EQ(Entries(map), (Pairs{{"b", "3"}, {"a", "2"}, {"B", ""}}));
    EXPECT_EQ(map.GetEntryCount(), 3u);

    const NPT_StringMap& view = map;
    ASSERT_NE(view.Find("a"), nullptr);
    EXPECT_STREQ(view.Find("a")->GetValue().GetChars(), "2");
    EXPECT_EQ(view.Find("A"), nullptr);
    EXPECT_EQ(view.Find(""), nullptr);

    NPT_StringMap copy(map);
    copy["a"] = "changed";
    EXPECT_STREQ(map.Find("a")->GetValue().GetChars(), "2");
    map.Clear();
    EXPECT_EQ(map.GetEntryCount(), 0u);
    EXPECT_EQ(copy.GetEntryCount(), 3u);
}

TEST(NptStringMapTest, ParameterListStateTable)
{
    const ParseCase cases[] = {
        // well-formed lists
        {"", NPT_SUCCESS, {}},
        {"  \t ", NPT_SUCCESS, {}},
        {"a=1", NPT_SUCCESS, {{"a", "1"}}},
        {"a = 1 ;b=2", NPT_SUCCESS, {{"a", "1"}, {"b", "2"}}},
        {" \ta  =  x y ; b=2;", NPT_SUCCESS, {{"a", "x y"}, {"b", "2"}}},
        {"a=\"x;y\\\"z\"", NPT_SUCCESS, {{"a", "x;y\"z"}}},
        {"a=\"\"", NPT_SUCCESS, {{"a", ""}}},
        {"a=\"v\" ; b=\"w\"  ", NPT_SUCCESS, {{"a", "v"}, {"b", "w"}}},
        {"a=\"x \"", NPT_SUCCESS, {{"a", "x"}}},            // stored values lose trailing blanks
        {"a=\"\\\\\"", NPT_SUCCESS, {{"a", "\\"}}},
        {"a=\"\\\xc3\"", NPT_SUCCESS, {{"a", "\xc3"}}},     // escaped high byte
        {"a=\"x\\\ny\"", NPT_SUCCESS, {{"a", "x\ny"}}},     // escaped line feed is kept
        {"a\r\n=1\n;\r\nb=2\r\n", NPT_SUCCESS, {{"a", "1"}, {"b", "2"}}},
        {"a=\"x\ny\"", NPT_SUCCESS, {{"a", "xy"}}},         // bare line feed is dropped
        {"a=x=y\"", NPT_SUCCESS, {{"a", "x=y\""}}},
        {"a=1;b=2;a=3", NPT_SUCCESS, {{"a", "3"}, {"b", "2"}}},
        {"Key=1;key=2", NPT_SUCCESS, {{"Key", "1"}, {"key", "2"}}},
        {"a=1;;b=2", NPT_SUCCESS, {{"a", "1"}, {";b", "2"}}},
        // malformed lists keep the pairs stored before the error
        {"a", NPT_ERROR_INVALID_SYNTAX, {}},
        {"a ", NPT_ERROR_INVALID_SYNTAX, {}},
        {"a=", NPT_ERROR_INVALID_SYNTAX, {}},
        {"a=  ", NPT_ERROR_INVALID_SYNTAX, {}},
        {"=1", NPT_ERROR_INVALID_SYNTAX, {}},
        {"a=\"abc", NPT_ERROR_INVALID_SYNTAX, {}},
        {"a=\"abc\\", NPT_ERROR_INVALID_SYNTAX, {}},
        {"a\t=1", NPT_ERROR_INVALID_SYNTAX, {}},
        {"a=\t1", NPT_ERROR_INVALID_SYNTAX, {}},
        {"a=1\t", NPT_ERROR_INVALID_SYNTAX, {}},
        {"a b=1", NPT_ERROR_INVALID_SYNTAX, {}},
        {"a=\xc3\xa9", NPT_ERROR_INVALID_SYNTAX, {}},
        {"a=\"\xc3\xa9\"", NPT_ERROR_INVALID_SYNTAX, {}},
        {"\x01" "a=1", NPT_ERROR_INVALID_SYNTAX, {}},
        {"a=1;b", NPT_ERROR_INVALID_SYNTAX, {{"a", "1"}}},
        {"a=1;b=\"x", NPT_ERROR_INVALID_SYNTAX, {{"a", "1"}}},
        {"a=\"v\" x", NPT_ERROR_INVALID_SYNTAX, {{"a", "v"}}},
        {"a=\"v\"\t", NPT_ERROR_INVALID_SYNTAX, {{"a", "v"}}},
    };
    for (const ParseCase& c : cases) {
        NPT_StringMap map;
        EXPECT_EQ(NPT_ParseParameterList(c.text, map), c.result) << '"' << c.text << '"';
        EXPECT_EQ(Entries(map), c.pairs) << '"' << c.text << '"';
    }
}

TEST(NptStringMapTest, ParameterListAddsToAnExistingMap)
{
    NPT_StringMap map;
    map["b"] = "old";
    map["z"] = "kept";
    EXPECT_EQ(NPT_ParseParameterList("a=1; b=new", map), NPT_SUCCESS);
    EXPECT_EQ(Entries(map), (Pairs{{"b", "new"}, {"z", "kept"}, {"a", "1"}}));
    EXPECT_EQ(NPT_ParseParameterList(nullptr, map), NPT_ERROR_INVALID_PARAMETERS);
    EXPECT_EQ(map.GetEntryCount(), 3u);
}
