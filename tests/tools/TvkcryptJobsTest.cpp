// Jobs beyond one file and their messages: a tree mirrored, checked and
// decrypted with one key derivation for the check files it writes;
// damaged ranges named and salvaged; files moved to a new password; and
// the smaller edges (sizes with IEC suffixes, a command's own help, the
// names in messages).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ToolChecks.h"
#include "ToolRunner.h"

namespace tvkcrypt_test {
namespace {

bool
Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::size_t
Lines(const std::string& text)
{
    std::size_t count = 0;
    for (char c : text) count += c == '\n';
    return count;
}

// src/ with a nested tree; names with spaces.
struct Tree {
    Tree()
    {
        MakeSubdirectory(dir / "src");
        MakeSubdirectory(dir / "src/a");
        MakeSubdirectory(dir / "src/a/empty");
        WriteFile(dir / "src/top", PatternData(3000, 1));
        WriteFile(dir / "src/a/with space", PatternData(70000, 2));
        WriteFile(dir / "src/a/zero", "");
    }
    TempDir dir;
};

TEST(TreeJobTest, MirrorsChecksAndDecryptsWithOneSaltPerJob)
{
    Tree tree;
    const TempDir& dir = tree.dir;
    RunResult encrypted = RunWithPassword({"encrypt", "-r", dir / "src", "-o", dir / "enc", "-j", "2"}, kPassword);
    ASSERT_EQ(encrypted.exit_code, 0) << encrypted.err;
    EXPECT_TRUE(Contains(encrypted.err, "3 files: 3 ok")) << encrypted.err;
    EXPECT_EQ(ListDirectory(dir / "enc/a"),
              (std::vector<std::string>{"empty", "with space.tvk", "with space.tvk.tvkcheck", "zero.tvk",
                                        "zero.tvk.tvkcheck"}));
    EXPECT_TRUE(SameBytes(ReadFile(dir / "enc/a/with space.tvk"), Library(PatternData(70000, 2), kPassword)));
    // one derivation for the job: every check file has the same salt
    EXPECT_EQ(ReadFile(dir / "enc/top.tvk.tvkcheck").substr(16, 32),
              ReadFile(dir / "enc/a/with space.tvk.tvkcheck").substr(16, 32));

    RunResult checked = RunWithPassword({"check", "-r", dir / "enc", "--json"}, kPassword);
    EXPECT_EQ(checked.exit_code, 0) << checked.err;
    EXPECT_EQ(Lines(checked.out), 3u) << checked.out;
    EXPECT_TRUE(Contains(checked.out, "\"result\":\"ok\",\"bytes\":70000,\"damaged\":[]")) << checked.out;

    RunResult decrypted = RunWithPassword({"decrypt", "-r", dir / "enc", "-o", dir / "dec"}, kPassword);
    EXPECT_EQ(decrypted.exit_code, 0) << decrypted.err;
    EXPECT_EQ(ReadFile(dir / "dec/a/with space"), PatternData(70000, 2));
    EXPECT_EQ(ReadFile(dir / "dec/top"), PatternData(3000, 1));
    EXPECT_TRUE(Exists(dir / "dec/a/empty"));

    // files that already exist fail one by one; the wrong password too
    RunResult again = RunWithPassword({"decrypt", "-r", dir / "enc", "-o", dir / "dec"}, kPassword);
    EXPECT_EQ(again.exit_code, 16 + 4) << again.err;
    EXPECT_TRUE(Contains(again.err, "already exists")) << again.err;
    RunResult wrong = RunWithPassword({"check", "-r", dir / "enc"}, "not it");
    EXPECT_EQ(wrong.exit_code, 16 + 2) << wrong.err;
    EXPECT_TRUE(Contains(wrong.err, "3 wrong password")) << wrong.err;
    // a destination inside the source is refused before anything is made
    RunResult inside = RunWithPassword({"encrypt", "-r", dir / "src", "-o", dir / "src/a/out"}, kPassword);
    EXPECT_EQ(inside.exit_code, 1);
    EXPECT_TRUE(Contains(inside.err, "is inside the source")) << inside.err;
    EXPECT_FALSE(Exists(dir / "src/a/out"));
}

// Two damaged blocks of 1 KiB in 5 KiB: named by check and decrypt,
// salvaged with zeros in their place and the rest byte-exact.
TEST(DamageTest, RangesAreNamedAndSalvageKeepsTheIntactBlocks)
{
    TempDir dir;
    const std::string clear = PatternData(5000, 3);
    std::string enc = Library(clear, kPassword);
    WriteFile(dir / "f.tvkcheck", CheckFileFor(enc, 1024));
    enc[1500] ^= 1;
    enc[3072] ^= 1;
    WriteFile(dir / "f", enc);
    const std::string ranges = "bytes 1024-2047 (block 1), bytes 3072-4095 (block 3)";

    RunResult checked = RunWithPassword({"check", dir / "f"}, kPassword);
    EXPECT_EQ(checked.exit_code, 1);
    EXPECT_TRUE(Contains(checked.err, "is damaged or was changed: " + ranges)) << checked.err;
    RunResult refused = RunWithPassword({"decrypt", dir / "f", "-o", dir / "out"}, kPassword);
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_TRUE(Contains(refused.err, ranges)) << refused.err;
    EXPECT_FALSE(Exists(dir / "out"));

    RunResult salvaged = RunWithPassword({"decrypt", "--salvage", "--json", dir / "f", "-o", dir / "out"}, kPassword);
    EXPECT_EQ(salvaged.exit_code, 3) << salvaged.err;
    EXPECT_TRUE(Contains(salvaged.err, ranges)) << salvaged.err;
    EXPECT_TRUE(Contains(salvaged.out, "\"result\":\"salvaged\",\"bytes\":5000,\"damaged\":[[1024,2048],[3072,4096]]"))
        << salvaged.out;
    std::string expected = clear;
    expected.replace(1024, 1024, std::string(1024, '\0'));
    expected.replace(3072, 1024, std::string(1024, '\0'));
    EXPECT_TRUE(SameBytes(ReadFile(dir / "out"), expected));
}

TEST(RekeyTest, NewPasswordDecryptsAndTheOldIsRefused)
{
    TempDir dir;
    const std::string clear = PatternData(40000, 4);
    WriteFile(dir / "clear", clear);
    WriteFile(dir / "new", "new password\n");
    ASSERT_EQ(RunWithPassword({"encrypt", dir / "clear", "-o", dir / "f.tvk"}, kPassword).exit_code, 0);
    const std::string before = ReadFile(dir / "f.tvk");

    RunResult wrong = RunWithPassword({"rekey", dir / "f.tvk", "--new-password-file", dir / "new"}, "not it");
    EXPECT_EQ(wrong.exit_code, 1);
    EXPECT_TRUE(Contains(wrong.err, "wrong password")) << wrong.err;
    EXPECT_EQ(ReadFile(dir / "f.tvk"), before);

    RunResult rekeyed = RunWithPassword({"rekey", dir / "f.tvk", "--new-password-file", dir / "new"}, kPassword);
    ASSERT_EQ(rekeyed.exit_code, 0) << rekeyed.err;
    EXPECT_TRUE(SameBytes(ReadFile(dir / "f.tvk"), Library(clear, "new password")));
    RunResult old = RunWithPassword({"decrypt", dir / "f.tvk", "-o", dir / "out"}, kPassword);
    EXPECT_EQ(old.exit_code, 1);
    EXPECT_TRUE(Contains(old.err, "wrong password")) << old.err;
    RunResult fresh = RunWithPassword({"decrypt", dir / "f.tvk", "-o", dir / "out"}, "new password");
    EXPECT_EQ(fresh.exit_code, 0) << fresh.err;
    EXPECT_EQ(ReadFile(dir / "out"), clear);
}

// The smaller edges, one run each.
TEST(RoughEdgesTest, MessagesAndOptions)
{
    TempDir dir;
    const std::string clear = PatternData(3000, 5);
    WriteFile(dir / "enc", Library(clear, kPassword));
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int exit_code;
        std::string in_err, in_out;
    };
    const std::vector<Case> cases = {
        {"IEC suffixes", {"decrypt", "--offset", "1KiB", "--length", "1K", dir / "enc", "-o", dir / "slice"}, 0, "", ""},
        {"a command's own help", {"encrypt", "--help"}, 0, "", "Usage: tvkcrypt encrypt"},
        {"missing output directory", {"decrypt", dir / "enc", "-o", dir / "nowhere/out"}, 1,
         "the directory '" + dir / "nowhere/' does not exist", ""},
        {"check without a check file", {"check", dir / "enc"}, 1, "check --create", ""},
        {"salvage needs a check file", {"decrypt", "--salvage", dir / "enc", "-o", dir / "out"}, 1,
         "--salvage needs the check file", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunResult run = RunWithPassword(c.args, kPassword);
        EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
        EXPECT_TRUE(Contains(run.err, c.in_err)) << run.err;
        EXPECT_TRUE(Contains(run.out, c.in_out)) << run.out;
    }
    EXPECT_EQ(ReadFile(dir / "slice"), clear.substr(1024, 1024));
    EXPECT_LT(Lines(RunWithPassword({"encrypt", "--help"}, kPassword).out), 15u);
}

}  // namespace
}  // namespace tvkcrypt_test
