// tvkcrypt on a pseudo-terminal: the password prompt without echo,
// asked twice when encrypting; the progress bar on standard error; and
// no encrypted bytes on a terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ToolRunner.h"
#include "TvkCryptoHelper.h"

namespace tvkcrypt_test {
namespace {

std::string
LibraryTransform(const std::string& data, const char* password,
               NPT_BlockCipher::Direction direction = NPT_BlockCipher::ENCRYPT)
{
    TempDir dir;
    WriteFile(dir / "in", data);
    EXPECT_EQ(TVK_CryptoHelper::EncryptDecryptWithPassword(password, direction,
                                                           (dir / "in").c_str(),
                                                           (dir / "out").c_str()),
              NPT_SUCCESS);
    return ReadFile(dir / "out");
}

struct PromptCase {
    std::string name;
    std::string command;
    std::vector<TerminalStep> steps;
    int exit_code;
    std::string message;  // expected on the terminal ("" for none)
};

void
PrintTo(const PromptCase& c, std::ostream* os)
{
    *os << c.name;
}

class PromptTest : public ::testing::TestWithParam<PromptCase>
{
};

TEST_P(PromptTest, AsksWithoutEcho)
{
    const PromptCase& c = GetParam();
    TempDir dir;
    const std::string clear = PatternData(4000);
    WriteFile(dir / "clear", clear);
    const std::string encrypted = LibraryTransform(clear, "s3cret word");
    WriteFile(dir / "enc", encrypted);
    const std::string input = c.command == "encrypt" ? dir / "clear" : dir / "enc";

    TerminalResult result = RunOnTerminal({c.command, input, "-o", dir / "out"}, {}, c.steps);
    EXPECT_TRUE(result.all_steps_seen) << result.screen;
    EXPECT_EQ(result.run.exit_code, c.exit_code) << result.screen;
    EXPECT_EQ(result.screen.find("s3cret"), std::string::npos) << "echoed: " << result.screen;
    EXPECT_EQ(result.screen.find("wrong"), std::string::npos) << "echoed: " << result.screen;
    if (!c.message.empty()) {
        EXPECT_NE(result.screen.find(c.message), std::string::npos) << result.screen;
    }
    if (c.exit_code == 0) {
        EXPECT_EQ(ReadFile(dir / "out"), c.command == "encrypt" ? encrypted : clear);
        if (c.command == "decrypt") {
            EXPECT_EQ(result.screen.find("Repeat"), std::string::npos);
        }
    } else {
        EXPECT_FALSE(Exists(dir / "out"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Dialogues, PromptTest,
    ::testing::Values(
        PromptCase{"EncryptMatching", "encrypt",
                   {{"Password: ", "s3cret word\n"}, {"Repeat password: ", "s3cret word\n"}}, 0, ""},
        PromptCase{"EncryptMismatching", "encrypt",
                   {{"Password: ", "s3cret word\n"}, {"Repeat password: ", "wrong word\n"}}, 1,
                   "tvkcrypt: the passwords do not match"},
        PromptCase{"DecryptAsksOnce", "decrypt", {{"Password: ", "s3cret word\n"}}, 0, ""},
        PromptCase{"EncryptEmpty", "encrypt", {{"Password: ", "\n"}}, 1, "is empty"},
        // end of input (Ctrl-D) gives up, even where an empty password
        // would be accepted
        PromptCase{"DecryptCtrlD", "decrypt", {{"Password: ", "\x04"}}, 1,
                   "tvkcrypt: no password entered"},
        PromptCase{"EncryptCtrlDOnRepeat", "encrypt",
                   {{"Password: ", "s3cret word\n"}, {"Repeat password: ", "\x04"}}, 1,
                   "tvkcrypt: no password entered"}),
    [](const ::testing::TestParamInfo<PromptCase>& info) { return info.param.name; });

// Enter alone is still an empty password for decrypting.
TEST(PromptEmptyTest, EnterGivesAnEmptyPasswordForDecrypting)
{
    TempDir dir;
    WriteFile(dir / "enc", "some data");
    TerminalResult result =
        RunOnTerminal({"decrypt", dir / "enc", "-o", dir / "out"}, {}, {{"Password: ", "\n"}});
    EXPECT_TRUE(result.all_steps_seen);
    EXPECT_EQ(result.run.exit_code, 0) << result.screen;
    EXPECT_EQ(ReadFile(dir / "out"), LibraryTransform("some data", "", NPT_BlockCipher::DECRYPT));
}

// Ctrl-C at the prompt: the tool dies of SIGINT, but first turns the
// terminal's echo back on and removes nothing it should keep.
TEST(PromptInterruptTest, CtrlCRestoresEcho)
{
    TempDir dir;
    WriteFile(dir / "clear", "text");
    TerminalResult result = RunOnTerminal({"encrypt", dir / "clear", "-o", dir / "out"}, {},
                                          {{"Password: ", "abc"}, {"", "\x03", 200}});
    EXPECT_TRUE(result.all_steps_seen);
    EXPECT_EQ(result.run.signal, SIGINT) << result.screen;
    EXPECT_TRUE(result.echo_at_end);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"clear"});
}

TEST(TerminalOutputTest, EncryptedDataIsNotWrittenToATerminal)
{
    TempDir dir;
    WriteFile(dir / "clear", "hello");
    TerminalResult result = RunOnTerminal({"encrypt", dir / "clear"}, {{"TVK_PASSWORD", "pw"}}, {});
    EXPECT_EQ(result.run.exit_code, 1);
    EXPECT_NE(result.screen.find("refusing to write encrypted data to a terminal"), std::string::npos)
        << result.screen;
}

// Data arriving through a pipe (size unknown) for longer than the bar's
// delay: the bar shows on the terminal, unless --quiet.
TEST(ProgressTest, ShownForSlowUnknownSizeInputUnlessQuiet)
{
    for (bool quiet : {false, true}) {
        SCOPED_TRACE(quiet ? "quiet" : "not quiet");
        TempDir dir;
        int feed[2];
        ASSERT_EQ(pipe2(feed, O_CLOEXEC), 0);
        const std::string chunk = PatternData(1 << 20);
        std::vector<std::string> args = {"encrypt", "-o", dir / "out"};
        if (quiet) args.push_back("--quiet");
        TerminalResult result = RunOnTerminal(
            args, {{"TVK_PASSWORD", "pw"}}, {}, feed[0], [&]() {
                close(feed[0]);
                for (int i = 0; i < 2; ++i) {
                    ASSERT_EQ(write(feed[1], chunk.data(), chunk.size()), ssize_t(chunk.size()));
                    usleep(700 * 1000);
                }
                close(feed[1]);
            });
        EXPECT_EQ(result.run.exit_code, 0) << result.screen;
        EXPECT_EQ(ReadFile(dir / "out"), LibraryTransform(chunk + chunk, "pw"));
        if (quiet) {
            EXPECT_EQ(result.screen, "");
        } else {
            EXPECT_NE(result.screen.find("encrypting "), std::string::npos) << result.screen;
            EXPECT_NE(result.screen.find("MiB/s"), std::string::npos) << result.screen;
        }
    }
}

}  // namespace
}  // namespace tvkcrypt_test
