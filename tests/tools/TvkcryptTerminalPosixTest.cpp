// tvkcrypt on a pseudo-terminal: the password prompt without echo,
// asked twice when encrypting or decrypting over an existing file, and
// shown even when standard output is a pipe; the progress bar on
// standard error, as wide as the terminal; and no encrypted bytes on a
// terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "ToolChecks.h"
#include "ToolRunner.h"
#include "TvkCryptoHelper.h"

namespace tvkcrypt_test {
namespace {

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
    const std::string encrypted = Library(clear, "s3cret word");
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
                   {{"Password for ", "s3cret word\n"}, {"Repeat password for ", "s3cret word\n"}}, 0, ""},
        // a mismatch asks again, three times in all
        PromptCase{"EncryptMismatchingThrice", "encrypt",
                   {{"Password for ", "s3cret word\n"}, {"Repeat password for ", "wrong word\n"},
                    {"try again", ""}, {"Password for ", "s3cret word\n"}, {"Repeat password for ", "wrong\n"},
                    {"try again", ""}, {"Password for ", "s3cret word\n"}, {"Repeat password for ", "wrong\n"}},
                   1, "tvkcrypt: the passwords do not match\r\n"},
        PromptCase{"EncryptMismatchingOnce", "encrypt",
                   {{"Password for ", "s3cret word\n"}, {"Repeat password for ", "wrong word\n"},
                    {"try again", ""}, {"Password for ", "s3cret word\n"},
                    {"Repeat password for ", "s3cret word\n"}},
                   0, ""},
        PromptCase{"DecryptAsksOnce", "decrypt", {{"Password for ", "s3cret word\n"}}, 0, ""},
        PromptCase{"EncryptEmpty", "encrypt", {{"Password for ", "\n"}}, 1, "is empty"},
        // end of input (Ctrl-D) gives up, even where an empty password
        // would be accepted
        PromptCase{"DecryptCtrlD", "decrypt", {{"Password for ", "\x04"}}, 1,
                   "tvkcrypt: no password entered"},
        PromptCase{"EncryptCtrlDOnRepeat", "encrypt",
                   {{"Password for ", "s3cret word\n"}, {"Repeat password for ", "\x04"}}, 1,
                   "tvkcrypt: no password entered"}),
    [](const ::testing::TestParamInfo<PromptCase>& info) { return info.param.name; });

// Enter alone is still an empty password for decrypting.
TEST(PromptEmptyTest, EnterGivesAnEmptyPasswordForDecrypting)
{
    TempDir dir;
    WriteFile(dir / "enc", "some data");
    TerminalResult result =
        RunOnTerminal({"decrypt", dir / "enc", "-o", dir / "out"}, {}, {{"Password for ", "\n"}});
    EXPECT_TRUE(result.all_steps_seen);
    EXPECT_EQ(result.run.exit_code, 0) << result.screen;
    EXPECT_EQ(ReadFile(dir / "out"), Library("some data", "", NPT_BlockCipher::DECRYPT));
}

// Ctrl-C at the prompt: the tool dies of SIGINT, but first turns the
// terminal's echo back on and removes nothing it should keep.
TEST(PromptInterruptTest, CtrlCRestoresEcho)
{
    TempDir dir;
    WriteFile(dir / "clear", "text");
    TerminalResult result = RunOnTerminal({"encrypt", dir / "clear", "-o", dir / "out"}, {},
                                          {{"Password for ", "abc"}, {"", "\x03", 200}});
    EXPECT_TRUE(result.all_steps_seen);
    EXPECT_EQ(result.run.signal, SIGINT) << result.screen;
    EXPECT_TRUE(result.echo_at_end);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"clear"});
}

// Ctrl-Z at the prompt, then fg: the stop gives the terminal its echo
// back (the line typed so far is dropped), the shell restores its own
// mode around the stop, and going on silences it again and shows the
// prompt again. (Run here in an orphaned process group, where the stop
// itself is not taken: the tool goes on at once, and SIGCONT comes as
// after a kill -STOP.)
TEST(PromptInterruptTest, CtrlZThenGoingOnSilencesTheTerminalAgain)
{
    TempDir dir;
    WriteFile(dir / "clear", "text");
    auto echoing = [](int master) {
        struct termios settings;
        return tcgetattr(master, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
    };
    bool echo_when_going_on = true;
    std::vector<TerminalStep> steps(4);
    steps[0].wait_for = "Password for ";
    steps[0].send = "half typed\x1a";
    steps[1].wait_for = "Password for ";
    steps[1].pause_ms = 100;
    steps[1].act = [&](pid_t pid, int master) {
        // what the shell does around a stop
        struct termios settings;
        tcgetattr(master, &settings);
        settings.c_lflag |= ECHO;
        tcsetattr(master, TCSANOW, &settings);
        kill(pid, SIGCONT);
    };
    steps[2].wait_for = "Password for ";
    steps[2].pause_ms = 100;
    steps[2].act = [&](pid_t, int master) { echo_when_going_on = echoing(master); };
    steps[2].send = "s3cret word\n";
    steps[3].wait_for = "Repeat password for ";
    steps[3].send = "s3cret word\n";
    TerminalResult result = RunOnTerminal({"encrypt", dir / "clear", "-o", dir / "out"}, {}, steps);
    EXPECT_TRUE(result.all_steps_seen) << result.screen;
    EXPECT_FALSE(echo_when_going_on);
    EXPECT_EQ(result.run.exit_code, 0) << result.screen;
    EXPECT_EQ(result.screen.find("s3cret"), std::string::npos) << "echoed: " << result.screen;
    EXPECT_EQ(ReadFile(dir / "out"), Library("text", "s3cret word"));
}

// What reaches a terminal as standard output: never encrypted data;
// decrypted data without a check file only when asked for with -o -
// (a wrong password would pour binary garbage); encrypting to a pipe
// says that no check file is written.
TEST(TerminalOutputTest, BinaryDataAndMissingCheckFiles)
{
    TempDir dir;
    WriteFile(dir / "clear", "hello");
    WriteFile(dir / "enc", Library("hello", "pw"));
    struct Case {
        std::vector<std::string> args;
        bool to_pipe;
        int exit_code;
        const char* shown;
    };
    const std::vector<Case> cases = {
        {{"encrypt", dir / "clear"}, false, 1, "refusing to write encrypted data to a terminal"},
        {{"decrypt", dir / "enc"}, false, 1, "use -o - to show it anyway"},
        {{"decrypt", "-o", "-", dir / "enc"}, false, 0, "hello"},
        {{"encrypt", dir / "clear"}, true, 0, "no check file is written for standard output"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + (c.to_pipe ? " to a pipe" : ""));
        int out[2];
        ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);  // a few bytes: the pipe holds them
        TerminalResult result = RunOnTerminal(c.args, {{"TVK_PASSWORD", "pw"}}, {}, -1, nullptr, 30,
                                              c.to_pipe ? out[1] : -1);
        close(out[0]);
        close(out[1]);
        EXPECT_EQ(result.run.exit_code, c.exit_code) << result.screen;
        EXPECT_NE(result.screen.find(c.shown), std::string::npos) << result.screen;
    }
}

// Ctrl-C while the bar shows: the bar goes with the process.
TEST(ProgressTest, ClearedOnInterrupt)
{
    TempDir dir;
    int feed[2];
    ASSERT_EQ(pipe2(feed, O_CLOEXEC), 0);
    signal(SIGPIPE, SIG_IGN);  // the feed outlives its reader
    const std::string chunk = PatternData(1 << 20);
    std::thread feeder([&] {
        for (int i = 0; i < 20 && write(feed[1], chunk.data(), chunk.size()) > 0; ++i) usleep(300 * 1000);
        close(feed[1]);
    });
    TerminalResult result =
        RunOnTerminal({"encrypt", "-o", dir / "out"}, {{"TVK_PASSWORD", "pw"}}, {{"encrypting ", "\x03"}}, feed[0]);
    close(feed[0]);
    feeder.join();
    EXPECT_EQ(result.run.signal, SIGINT) << result.screen;
    const std::string::size_type bar = result.screen.rfind("encrypting ");
    ASSERT_NE(bar, std::string::npos) << result.screen;
    EXPECT_NE(result.screen.find("\r\033[K", bar), std::string::npos) << result.screen;
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
        EXPECT_EQ(ReadFile(dir / "out"), Library(chunk + chunk, "pw"));
        if (quiet) {
            EXPECT_EQ(result.screen, "");
        } else {
            EXPECT_NE(result.screen.find("encrypting "), std::string::npos) << result.screen;
            EXPECT_NE(result.screen.find("MiB/s"), std::string::npos) << result.screen;
        }
    }
}

// Decrypting over an existing file with --force: a mistyped password
// would replace it with garbage, so it is asked twice; a new file, or
// one the run may not replace, needs it once.
TEST(PromptTwiceTest, DecryptingOverAnExistingFileConfirmsThePassword)
{
    struct Case {
        const char* name;
        bool target_exists;
        std::vector<TerminalStep> steps;
        int exit_code;
    };
    const std::vector<Case> cases = {
        {"existing, matching", true,
         {{"Password for ", "s3cret word\n"}, {"Repeat password for ", "s3cret word\n"}}, 0},
        {"existing, mismatching", true,
         {{"Password for ", "s3cret word\n"}, {"Repeat password for ", "wrong word\n"},
          {"Password for ", "s3cret word\n"}, {"Repeat password for ", "wrong word\n"},
          {"Password for ", "s3cret word\n"}, {"Repeat password for ", "wrong word\n"}}, 1},
        {"new file", false, {{"Password for ", "s3cret word\n"}}, 0},
    };
    const std::string clear = PatternData(3000);
    const std::string original = "the file before";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        WriteFile(dir / "enc", Library(clear, "s3cret word"));
        if (c.target_exists) WriteFile(dir / "out", original);
        TerminalResult result =
            RunOnTerminal({"decrypt", dir / "enc", "--force", "-o", dir / "out"}, {}, c.steps);
        EXPECT_TRUE(result.all_steps_seen) << result.screen;
        EXPECT_EQ(result.run.exit_code, c.exit_code) << result.screen;
        EXPECT_EQ(result.screen.find("s3cret"), std::string::npos) << "echoed: " << result.screen;
        if (c.exit_code == 0) {
            EXPECT_EQ(ReadFile(dir / "out"), clear);
            EXPECT_EQ(result.screen.find("Repeat") != std::string::npos, c.target_exists);
        } else {
            EXPECT_NE(result.screen.find("the passwords do not match"), std::string::npos);
            EXPECT_EQ(ReadFile(dir / "out"), original);
        }
    }
}

// Reads a pipe to its end on a thread, pausing delay_ms after each MiB
// when asked (a reader that keeps the tool busy for a while).
class PipeReader
{
public:
    explicit PipeReader(int delay_ms) {
        if (pipe2(m_Fds, O_CLOEXEC) != 0) m_Fds[0] = m_Fds[1] = -1;
        m_Thread = std::thread([this, delay_ms] {
            char buffer[1 << 16];
            ssize_t n;
            while ((n = read(m_Fds[0], buffer, sizeof(buffer))) > 0) {
                const std::size_t mib_before = m_Data.size() >> 20;
                m_Data.append(buffer, static_cast<std::size_t>(n));
                if (delay_ms > 0 && (m_Data.size() >> 20) != mib_before) {
                    usleep(static_cast<useconds_t>(delay_ms) * 1000);
                }
            }
        });
    }
    ~PipeReader() { Finish(); }
    int WriteEnd() const { return m_Fds[1]; }
    // Call once the writer is gone: returns everything read.
    const std::string& Finish() {
        if (m_Fds[1] >= 0) close(m_Fds[1]);
        m_Fds[1] = -1;
        if (m_Thread.joinable()) m_Thread.join();
        if (m_Fds[0] >= 0) close(m_Fds[0]);
        m_Fds[0] = -1;
        return m_Data;
    }

private:
    int m_Fds[2];
    std::string m_Data;
    std::thread m_Thread;
};

// "tvkcrypt decrypt f | less": the prompt goes to the terminal, not into
// the pipe, and only the cleartext goes down the pipe.
TEST(PipedOutputTest, ThePromptStillReachesTheTerminal)
{
    TempDir dir;
    const std::string clear = PatternData(4000);
    WriteFile(dir / "enc", Library(clear, "s3cret word"));
    PipeReader out(0);
    TerminalResult result = RunOnTerminal({"decrypt", dir / "enc"}, {}, {{"Password for ", "s3cret word\n"}},
                                          -1, nullptr, 30, out.WriteEnd());
    EXPECT_TRUE(result.all_steps_seen) << result.screen;
    EXPECT_EQ(result.run.exit_code, 0) << result.screen;
    EXPECT_EQ(out.Finish(), clear);
    EXPECT_EQ(result.screen.find("s3cret"), std::string::npos) << result.screen;
}

// The lines the bar drew: the text after each "\r" up to its "\033[K".
std::vector<std::string>
BarLines(const std::string& screen)
{
    std::vector<std::string> lines;
    std::string::size_type at = 0;
    while ((at = screen.find('\r', at)) != std::string::npos) {
        std::string::size_type end = screen.find("\033[K", at);
        if (end == std::string::npos) break;
        if (end > at + 1) lines.push_back(screen.substr(at + 1, end - at - 1));
        at = end;
    }
    return lines;
}

// A file of known size (the bar with its percentage) written to a slow
// pipe: the bar fills a 40-column terminal, and once the terminal is
// resized to 200 columns the next lines fill that.
TEST(ProgressTest, FitsTheTerminalAndFollowsAResize)
{
    TempDir dir;
    const off_t size = off_t(65) << 20;  // above the bar's 64 MiB threshold
    int fd = open((dir / "big").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
    PipeReader out(40);
    TerminalResult result = RunOnTerminal(
        {"encrypt", "--no-check-file", dir / "big"}, {{"TVK_PASSWORD", "pw"}},
        {{"encrypting", ""}, {"\033[K", "", 0, 200}}, -1, nullptr, 120, out.WriteEnd(), 40);
    EXPECT_TRUE(result.all_steps_seen) << result.screen;
    EXPECT_EQ(result.run.exit_code, 0) << result.screen;
    EXPECT_EQ(out.Finish().size(), static_cast<std::size_t>(size));

    const std::vector<std::string> lines = BarLines(result.screen);
    ASSERT_GE(lines.size(), 2u) << result.screen;
    EXPECT_EQ(lines.front().size(), 39u) << lines.front();
    EXPECT_NE(lines.front().find('['), std::string::npos) << lines.front();
    EXPECT_EQ(lines.back().size(), 199u) << lines.back();
    EXPECT_NE(lines.back().find(" of 65.0 MiB  "), std::string::npos) << lines.back();
    for (const std::string& line : lines) EXPECT_LE(line.size(), 199u) << line;
}

}  // namespace
}  // namespace tvkcrypt_test
