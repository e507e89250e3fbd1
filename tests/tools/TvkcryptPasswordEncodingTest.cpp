// --password-encoding: "café" typed as UTF-8 keys with the bytes of the
// chosen code page, through every password source, so that data keyed
// with 63 61 66 e9 (the .NET entry point on a cp1252 system) opens, and
// check files record the converted password; refusals leave no output.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ToolRunner.h"
#include "TvkCryptoHelper.h"

namespace tvkcrypt_test {
namespace {

const char kCafeUtf8[] = "caf\xc3\xa9";
const char kCafeCp1252[] = "caf\xe9";

// The library's buffer form.
std::string
Library(const std::string& data, const char* password)
{
    NPT_DataBuffer output;
    EXPECT_EQ(TVK_CryptoHelper::EncryptDecryptWithPassword(password, NPT_BlockCipher::ENCRYPT,
                                                           reinterpret_cast<const NPT_UInt8*>(data.data()),
                                                           static_cast<NPT_Size>(data.size()), output),
              NPT_SUCCESS);
    return std::string(reinterpret_cast<const char*>(output.GetData()), output.GetDataSize());
}

RunResult
RunWithFile(const std::vector<std::string>& args, const std::string& password_file,
            const std::string& stdin_data = std::string())
{
    RunSpec spec;
    spec.args = args;
    spec.args.push_back("--password-file");
    spec.args.push_back(password_file);
    spec.stdin_data = stdin_data;
    return RunTool(spec);
}

std::string
Describe(const RunResult& run)
{
    return "exit " + std::to_string(run.exit_code) + ": " + run.err;
}

TEST(PasswordEncodingOption, Cp1252KeysLikeTheManagedEntryPointFromEachSource)
{
    TempDir dir;
    const std::string clear = PatternData(3000);  // three cipher chunks
    const std::string managed = Library(clear, kCafeCp1252);
    ASSERT_NE(managed, Library(clear, kCafeUtf8));

    // the environment
    RunResult run = RunWithPassword({"encrypt", "--password-encoding", "cp1252"}, kCafeUtf8, clear);
    ASSERT_EQ(run.exit_code, 0) << Describe(run);
    EXPECT_TRUE(run.out == managed) << "not keyed with 63 61 66 e9";
    run = RunWithPassword({"decrypt", "--password-encoding=CP1252"}, kCafeUtf8, managed);
    ASSERT_EQ(run.exit_code, 0) << Describe(run);
    EXPECT_TRUE(run.out == clear);

    // password files as Windows editors save them: a byte order mark and
    // CR LF; and as Unix ones do
    WriteFile(dir / "bom", std::string("\xEF\xBB\xBF") + kCafeUtf8 + "\r\n");
    WriteFile(dir / "plain", std::string(kCafeUtf8) + "\n");
    for (const char* file : {"bom", "plain"}) {
        run = RunWithFile({"encrypt", "--password-encoding", "windows-1252"}, dir / file, clear);
        ASSERT_EQ(run.exit_code, 0) << file << ": " << Describe(run);
        EXPECT_TRUE(run.out == managed) << file;
    }
}

TEST(PasswordEncodingOption, WithoutTheOptionThePasswordIsKeyedAsRead)
{
    TempDir dir;
    const std::string clear = PatternData(100);
    const std::string utf8 = Library(clear, kCafeUtf8);

    RunResult run = RunWithPassword({"encrypt"}, kCafeUtf8, clear);
    ASSERT_EQ(run.exit_code, 0) << Describe(run);
    EXPECT_TRUE(run.out == utf8);
    run = RunWithPassword({"encrypt", "--password-encoding", "utf8"}, kCafeUtf8, clear);
    ASSERT_EQ(run.exit_code, 0) << Describe(run);
    EXPECT_TRUE(run.out == utf8);

    // the byte order mark is no part of the password
    WriteFile(dir / "bom", std::string("\xEF\xBB\xBF") + kCafeUtf8 + "\n");
    run = RunWithFile({"encrypt"}, dir / "bom", clear);
    ASSERT_EQ(run.exit_code, 0) << Describe(run);
    EXPECT_TRUE(run.out == utf8);

#ifndef _WIN32
    // bytes that are not UTF-8 are still a password without the option,
    // as they always were, and cannot be converted with it
    run = RunWithPassword({"encrypt"}, kCafeCp1252, clear);
    ASSERT_EQ(run.exit_code, 0) << Describe(run);
    EXPECT_TRUE(run.out == Library(clear, kCafeCp1252));
    run = RunWithPassword({"encrypt", "--password-encoding", "cp1252"}, kCafeCp1252, clear);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("not valid UTF-8"), std::string::npos) << run.err;
#endif
}

TEST(PasswordEncodingOption, TheCheckFileRecordsTheConvertedPassword)
{
    TempDir dir;
    WriteFile(dir / "clear", PatternData(5000));
    RunResult run = RunWithPassword({"encrypt", "--password-encoding", "cp1252", dir / "clear", "-o", dir / "enc"},
                                    kCafeUtf8);
    ASSERT_EQ(run.exit_code, 0) << Describe(run);
    EXPECT_TRUE(ReadFile(dir / "enc") == Library(ReadFile(dir / "clear"), kCafeCp1252));
    ASSERT_TRUE(Exists(dir / "enc.tvkcheck"));

    // the same characters as UTF-8 are a wrong password
    run = RunWithPassword({"decrypt", dir / "enc", "-o", dir / "out"}, kCafeUtf8);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("wrong password"), std::string::npos) << run.err;
    EXPECT_FALSE(Exists(dir / "out"));
    run = RunWithPassword({"check", "--password-encoding", "latin1", dir / "enc"}, kCafeUtf8);
    EXPECT_EQ(run.exit_code, 0) << "latin1 has the same byte for e acute: " << Describe(run);
    run = RunWithPassword({"decrypt", "--password-encoding", "cp1252", dir / "enc", "-o", dir / "out"},
                          kCafeUtf8);
    ASSERT_EQ(run.exit_code, 0) << Describe(run);
    EXPECT_TRUE(ReadFile(dir / "out") == ReadFile(dir / "clear"));
}

TEST(PasswordEncodingOption, RefusalsNameTheProblemAndCreateNoOutput)
{
    TempDir dir;
    WriteFile(dir / "clear", "data");
    struct Case {
        std::vector<std::string> options;
        std::string password;
        int exit_code;
        std::string message;
    } cases[] = {
        {{"--password-encoding", "cp1252x"}, kCafeUtf8, 2, "unknown password encoding 'cp1252x'; use one of utf8,"},
        {{"--password-encoding="}, kCafeUtf8, 2, "unknown password encoding"},
        {{"--password-encoding"}, kCafeUtf8, 2, "needs a value"},
        {{"--password-encoding", "cp1252", "--password-encoding", "utf8"}, kCafeUtf8, 2, "more than once"},
        // a with macron: a best fit would key with 'a'
        {{"--password-encoding", "cp1252"}, "p\xc4\x81ss", 1, "TVK_PASSWORD has a character that cp1252 cannot"},
        {{"--password-encoding", "latin1"}, "\xe2\x82\xac", 1, "latin1 cannot represent"},
#ifndef _WIN32
        {{"--password-encoding", "ansi"}, kCafeUtf8, 2, "name the code page instead, such as cp1252"},
#endif
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"encrypt", dir / "clear", "-o", dir / "enc"};
        // an option without its value goes last
        args.insert(args.end(), c.options.begin(), c.options.end());
        RunResult run = RunWithPassword(args, c.password);
        EXPECT_EQ(run.exit_code, c.exit_code) << c.message << ": " << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find(c.password), std::string::npos) << "the password shown: " << run.err;
        EXPECT_EQ(dir.List(), std::vector<std::string>{"clear"});
    }
}

#ifndef _WIN32
// The prompt: the confirmation compares what was typed, the key takes the
// converted bytes.
TEST(PasswordEncodingOption, ThePromptsPasswordIsConvertedAfterTheConfirmation)
{
    TempDir dir;
    WriteFile(dir / "clear", "typed at the prompt");
    TerminalResult result =
        RunOnTerminal({"encrypt", "--password-encoding", "cp1252", dir / "clear", "-o", dir / "enc"}, {},
                      {{"Password for ", std::string(kCafeUtf8) + "\n"},
                       {"Repeat password for ", std::string(kCafeUtf8) + "\n"}});
    EXPECT_TRUE(result.all_steps_seen) << result.screen;
    ASSERT_EQ(result.run.exit_code, 0) << result.screen;
    EXPECT_TRUE(ReadFile(dir / "enc") == Library("typed at the prompt", kCafeCp1252));
}
#endif

}  // namespace
}  // namespace tvkcrypt_test
