// The progress bar's text: sizes as people read them, and a line that
// never runs past the terminal's last column, whatever its width.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "Progress.h"

namespace tvkcrypt_test {
namespace {

using tvkcrypt::Progress;

TEST(ProgressLineTest, SizesMoveUpAUnitInsteadOfShowing1024)
{
    const std::vector<std::pair<NPT_UInt64, std::string>> cases = {
        {0, "0 B"},
        {1023, "1023 B"},
        {1024, "1.0 KiB"},
        {1536, "1.5 KiB"},
        {(1u << 20) - 1, "1.0 MiB"},        // 1023.999 KiB
        {1u << 20, "1.0 MiB"},
        {(1ull << 30) - (1ull << 20), "1023.0 MiB"},
        {(1ull << 30) - 1, "1.0 GiB"},        // 1023.999 MiB
        {1ull << 30, "1.0 GiB"},
        {(1ull << 32) + (1ull << 31), "6.0 GiB"},
        {1ull << 40, "1.0 TiB"},
        {~0ull, "16.0 EiB"},
    };
    for (const auto& c : cases) EXPECT_EQ(Progress::FormatBytes(c.first), c.second) << c.first;
}

TEST(ProgressLineTest, FitsEveryWidthAndGivesUpPartsNarrowestLast)
{
    const NPT_UInt64 total = 3ull << 30;
    const NPT_UInt64 done = total / 4;
    const double rate = 150.0 * (1 << 20);
    for (unsigned columns = 0; columns <= 240; ++columns) {
        SCOPED_TRACE(columns);
        const std::string known = Progress::Line("encrypting", true, total, done, rate, columns);
        const std::string unknown = Progress::Line("encrypting", false, 0, done, rate, columns);
        EXPECT_LE(known.size(), columns > 0 ? columns - 1 : 0u) << known;
        EXPECT_LE(unknown.size(), columns > 0 ? columns - 1 : 0u) << unknown;
        for (char c : known + unknown) EXPECT_TRUE(c >= 0x20 && c < 0x7F);
        // with the bar there, it fills the line exactly
        if (known.find('[') != std::string::npos) {
            EXPECT_EQ(known.size(), columns - 1u) << known;
        }
    }
    // what each width keeps
    const std::string wide = Progress::Line("encrypting", true, total, done, rate, 200);
    EXPECT_EQ(wide.rfind("encrypting  25% [", 0), 0u) << wide;
    EXPECT_NE(wide.find("] 768.0 MiB of 3.0 GiB  150.0 MiB/s"), std::string::npos) << wide;
    const std::string bar = wide.substr(wide.find('[') + 1, wide.find(']') - wide.find('[') - 1);
    EXPECT_EQ(bar.find_first_not_of('#'), bar.size() / 4) << bar;

    const std::string forty = Progress::Line("encrypting", true, total, done, rate, 40);
    EXPECT_NE(forty.find('['), std::string::npos) << forty;
    EXPECT_EQ(forty.find("/s"), std::string::npos) << forty;

    EXPECT_EQ(Progress::Line("encrypting", true, total, done, rate, 16), "encrypting  25%");
    EXPECT_EQ(Progress::Line("decrypting", false, 0, done, rate, 200),
              "decrypting 768.0 MiB  150.0 MiB/s");
    EXPECT_EQ(Progress::Line("decrypting", false, 0, done, rate, 24), "decrypting 768.0 MiB");
    // more done than expected (a file that grew) stays at 100%
    EXPECT_NE(Progress::Line("encrypting", true, 10, 20, 0, 80).find("100% [####"), std::string::npos);
}

}  // namespace
}  // namespace tvkcrypt_test
