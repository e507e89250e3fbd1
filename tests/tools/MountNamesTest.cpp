/*****************************************************************
| MountNamesTest.cpp - the names a mount shows, and back: every shown
| name leads to its entry, hidden ones to none.
****************************************************************/
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MountNames.h"

using namespace tvkcrypt;

namespace {

const TreeStat::Kind F = TreeStat::REGULAR, D = TreeStat::DIRECTORY, O = TreeStat::OTHER;

struct Case {
    const char*                                   name;
    std::string                                   suffix;
    std::vector<std::pair<std::string, TreeStat::Kind>> entries;
    std::map<std::string, std::string>            shown;  // shown name -> raw name
    bool                                          clash;
};

TEST(MountNamesTest, ShownNamesAndTheirEntries)
{
    const Case cases[] = {
        {"suffix dropped, check files hidden", ".tvk",
         {{"a.tvk", F}, {"a.tvk.tvkcheck", F}, {"b", F}, {"d.tvk", D}},
         {{"a", "a.tvk"}, {"b", "b"}, {"d.tvk", "d.tvk"}}, false},
        {"a clash shows both raw names", ".tvk",
         {{"a", F}, {"a.tvk", F}, {"c.tvk", F}},
         {{"a", "a"}, {"a.tvk", "a.tvk"}, {"c", "c.tvk"}}, true},
        {"a directory takes the short name too", ".tvk", {{"x", D}, {"x.tvk", F}}, {{"x", "x"}, {"x.tvk", "x.tvk"}}, true},
        {"links, FIFOs and devices are hidden", ".tvk", {{"l.tvk", O}, {"p", O}}, {}, false},
        {"empty suffix keeps names", "", {{"a.tvk", F}, {"a.tvk.tvkcheck", F}}, {{"a.tvk", "a.tvk"}}, false},
        {"another suffix", ".enc", {{"a.enc", F}, {"b.tvk", F}, {".enc", F}},
         {{"a", "a.enc"}, {"b.tvk", "b.tvk"}, {".enc", ".enc"}}, false},
        {"a data file named like a check file", ".tvk", {{"r.tvkcheck.tvk", F}}, {{"r.tvkcheck", "r.tvkcheck.tvk"}}, false},
    };
    for (const Case& c : cases) {
        MountNames names(c.suffix);
        std::vector<SourceEntry> entries;
        std::map<std::string, TreeStat::Kind> kinds;
        for (const auto& entry : c.entries) {
            entries.push_back(SourceEntry{entry.first, entry.second});
            kinds[entry.first] = entry.second;
        }
        std::string clash;
        std::map<std::string, std::string> listed;
        auto look_up = [&](const std::string& name, TreeStat::Kind& kind) {
            auto found = kinds.find(name);
            if (found == kinds.end()) return false;
            kind = found->second;
            return true;
        };
        for (const SourceEntry& shown : names.Shown(entries, clash)) {
            std::string raw;
            EXPECT_TRUE(names.RawName(shown.name, look_up, raw)) << c.name << ": " << shown.name;
            listed[shown.name] = raw;
        }
        EXPECT_EQ(c.shown, listed) << c.name;
        EXPECT_EQ(c.clash, !clash.empty()) << c.name;
        // a name nothing shows under leads nowhere
        for (const auto& entry : c.entries) {
            std::string raw;
            if (c.shown.count(entry.first) == 0) {
                EXPECT_FALSE(names.RawName(entry.first, look_up, raw)) << c.name << ": " << entry.first;
            }
        }
    }
}

TEST(MountNamesTest, NewFilesTakeTheSuffixButNeverACheckFileName)
{
    std::string raw;
    EXPECT_TRUE(MountNames(".tvk").NewFileName("report", raw));
    EXPECT_EQ("report.tvk", raw);
    EXPECT_TRUE(MountNames(".tvk").NewFileName("x.tvkcheck", raw));
    EXPECT_EQ("x.tvkcheck.tvk", raw);
    EXPECT_FALSE(MountNames("").NewFileName("x.tvkcheck", raw));
}

}  // namespace
