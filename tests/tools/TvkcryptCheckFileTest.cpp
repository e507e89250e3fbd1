// Check files through the tool: a wrong password is refused before any
// output exists; every flipped bit, cut and extension of the encrypted
// file is reported, whole and in the ranges that touch it, while ranges
// that do not still decrypt; damaged and foreign check files are
// refused; the pair is replaced together or not at all; the encrypted
// file does not change with a check file beside it.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <string>
#include <vector>

#include "NptSha256.h"
#include "ToolChecks.h"
#include "ToolRunner.h"
#include "TvkCheckFile.h"
#include "TvkCryptoHelper.h"

namespace tvkcrypt_test {
namespace {

const char kOld[] = "the file before the run";
const std::size_t kCheckBlock = 1024;

// A check file for ciphertext with small blocks, so that damage is
// found in many places.
std::string
MakeCheckFile(const std::string& ciphertext, const char* password = kPassword)
{
    return CheckFileFor(ciphertext, kCheckBlock, password);
}

bool
Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// A directory with clear, enc (the library's encryption of clear),
// enc.tvkcheck (small blocks) and out (an older file).
struct Scene {
    explicit Scene(std::size_t size) : clear(PatternData(size, 11)), enc(Library(clear, kPassword)) {
        WriteFile(dir / "clear", clear);
        WriteFile(dir / "enc", enc);
        WriteFile(dir / "enc.tvkcheck", MakeCheckFile(enc));
        WriteFile(dir / "out", kOld);
    }
    TempDir     dir;
    std::string clear;
    std::string enc;
};

// Runs decrypt over dir/enc to dir/out and checks the outcome: success
// with the expected cleartext, or "damaged" with out untouched.
void
ExpectDecrypt(const Scene& s, const std::vector<std::string>& range, bool ok, const std::string& expected)
{
    std::vector<std::string> args = {"decrypt", s.dir / "enc", "-f", "-o", s.dir / "out"};
    args.insert(args.end(), range.begin(), range.end());
    WriteFile(s.dir / "out", kOld);
    const std::vector<std::string> before = s.dir.List();
    RunResult run = RunWithPassword(args, kPassword);
    if (ok) {
        EXPECT_EQ(run.exit_code, 0) << run.err;
        EXPECT_TRUE(ReadFile(s.dir / "out") == expected);
    } else {
        EXPECT_EQ(run.exit_code, 1) << run.err;
        EXPECT_TRUE(Contains(run.err, "is damaged or was changed")) << run.err;
        EXPECT_TRUE(ReadFile(s.dir / "out") == kOld);
    }
    EXPECT_EQ(s.dir.List(), before);
}

std::string
RangeArg(std::size_t value)
{
    return std::to_string(value);
}

TEST(CheckFileTool, WrongPasswordIsRefusedBeforeAnyOutput)
{
    Scene s(3 * kCheckBlock + 100);
    const std::vector<std::string> before = s.dir.List();
    struct Case {
        std::vector<std::string> args;
    } cases[] = {
        {{"decrypt", s.dir / "enc", "-f", "-o", s.dir / "out"}},
        {{"decrypt", s.dir / "enc", "--offset", "1500", "--length", "10"}},
        {{"decrypt", "--check-file", s.dir / "enc.tvkcheck"}},
        {{"check", s.dir / "enc"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1]);
        RunResult run = RunWithPassword(c.args, "correct h0rse", c.args.size() == 3 ? s.enc : "");
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_EQ(run.err, "tvkcrypt: wrong password\n");
        EXPECT_TRUE(run.out.empty());
        EXPECT_EQ(ReadFile(s.dir / "out"), kOld);
        EXPECT_EQ(s.dir.List(), before);
    }
}

TEST(CheckFileTool, EncryptedFileIsTheSameWithAndWithoutItsCheckFile)
{
    TempDir dir;
    const std::string clear = PatternData(3 * 512 * 1024 + 77, 5);  // four tag blocks
    WriteFile(dir / "clear", clear);
    const std::string expected = Library(clear, kPassword);

    ASSERT_EQ(RunWithPassword({"encrypt", dir / "clear", "-o", dir / "with"}, kPassword).exit_code, 0);
    ASSERT_EQ(RunWithPassword({"encrypt", dir / "clear", "--no-check-file", "-o", dir / "without"}, kPassword)
                  .exit_code,
              0);
    RunResult piped = RunWithPassword({"encrypt", "--check-file", dir / "piped.check"}, kPassword, clear);
    ASSERT_EQ(piped.exit_code, 0) << piped.err;
    EXPECT_TRUE(ReadFile(dir / "with") == expected);
    EXPECT_TRUE(ReadFile(dir / "without") == expected);
    EXPECT_TRUE(piped.out == expected);
    EXPECT_TRUE(Exists(dir / "with.tvkcheck"));
    EXPECT_FALSE(Exists(dir / "without.tvkcheck"));
#ifndef _WIN32
    EXPECT_EQ(ModeOf(dir / "with.tvkcheck"), 0600u);  // Windows files have no mode bits
#endif

    // each check file verifies its data, and decrypting through it works
    RunResult check = RunWithPassword({"check", dir / "with"}, kPassword);
    EXPECT_EQ(check.exit_code, 0) << check.err;
    check = RunWithPassword({"check", dir / "with", "--check-file", dir / "piped.check"}, kPassword);
    EXPECT_EQ(check.exit_code, 0) << check.err;
    RunResult back = RunWithPassword({"decrypt", dir / "with"}, kPassword);
    EXPECT_EQ(back.exit_code, 0) << back.err;
    EXPECT_TRUE(back.out == clear);
    // the two check files have their own salts
    EXPECT_NE(ReadFile(dir / "with.tvkcheck"), ReadFile(dir / "piped.check"));
}

TEST(CheckFileTool, CheckCreateMakesAVerifyingCheckFileForTheLibrarysFileForm)
{
    TempDir dir;
    const std::string clear = PatternData(600 * 1024 + 5, 9);
    WriteFile(dir / "enc", Library(clear, kPassword));
    RunResult create = RunWithPassword({"check", "--create", dir / "enc"}, kPassword);
    ASSERT_EQ(create.exit_code, 0) << create.err;
    EXPECT_TRUE(Contains(create.err, "cannot be confirmed")) << create.err;
    EXPECT_EQ(RunWithPassword({"check", dir / "enc"}, kPassword).exit_code, 0);
    RunResult back = RunWithPassword({"decrypt", dir / "enc"}, kPassword);
    EXPECT_EQ(back.exit_code, 0) << back.err;
    EXPECT_TRUE(back.out == clear);
    EXPECT_EQ(RunWithPassword({"check", dir / "enc"}, "other").err, "tvkcrypt: wrong password\n");
    // an existing check file is replaced only with --force
    RunResult again = RunWithPassword({"check", "--create", dir / "enc"}, kPassword);
    EXPECT_EQ(again.exit_code, 1);
    EXPECT_TRUE(Contains(again.err, "already exists")) << again.err;
    EXPECT_EQ(RunWithPassword({"check", "--create", "-q", "-f", dir / "enc"}, kPassword).err, "");
}

// A bit flipped in block k: found by whole decryptions, by the check
// command, by ranges touching k (to a file and to a pipe, where nothing
// of the damaged block comes out), and not by ranges beside it.
TEST(CheckFileTool, EveryFlippedBitIsFoundWhereverItIsRead)
{
    Scene s(4 * kCheckBlock + 300);
    const std::size_t blocks = 5;
    for (std::size_t block = 0; block < blocks; ++block) {
        for (std::size_t sample : {0u, 1u, 511u, 1023u}) {
            const std::size_t byte = block * kCheckBlock + sample;
            if (byte >= s.enc.size()) continue;
            const int bit = static_cast<int>(sample % 8);
            SCOPED_TRACE("byte " + std::to_string(byte) + " bit " + std::to_string(bit));
            std::string changed = s.enc;
            changed[byte] = static_cast<char>(changed[byte] ^ (1 << bit));
            WriteFile(s.dir / "enc", changed);

            ExpectDecrypt(s, {}, false, "");
            EXPECT_EQ(RunWithPassword({"check", s.dir / "enc"}, kPassword).exit_code, 1);
            // a range ending in the block, and one starting in it
            ExpectDecrypt(s, {"--offset", RangeArg(byte > 10 ? byte - 10 : 0), "--length", "11"}, false, "");
            ExpectDecrypt(s, {"--offset", RangeArg(byte), "--length", "1"}, false, "");
            RunResult piped = RunWithPassword(
                {"decrypt", "--check-file", s.dir / "enc.tvkcheck", "--offset", RangeArg(byte)}, kPassword,
                changed);
            EXPECT_EQ(piped.exit_code, 1);
            EXPECT_TRUE(piped.out.empty());
            // the neighbours still decrypt
            if (block > 0) {
                const std::size_t end = block * kCheckBlock;
                ExpectDecrypt(s, {"--offset", "0", "--length", RangeArg(end)}, true, s.clear.substr(0, end));
            }
            if (block + 1 < blocks) {
                const std::size_t start = (block + 1) * kCheckBlock;
                ExpectDecrypt(s, {"--offset", RangeArg(start)}, true, s.clear.substr(start));
            }
        }
    }
}

TEST(CheckFileTool, EveryBitOfASmallFileIsCovered)
{
    const std::string clear = PatternData(24, 3);
    const std::string enc = Library(clear, kPassword);
    TempDir dir;
    WriteFile(dir / "enc.tvkcheck", MakeCheckFile(enc));
    for (std::size_t bit = 0; bit < enc.size() * 8; ++bit) {
        std::string changed = enc;
        changed[bit / 8] = static_cast<char>(changed[bit / 8] ^ (1 << (bit % 8)));
        WriteFile(dir / "enc", changed);
        RunResult run = RunWithPassword({"check", "-q", dir / "enc"}, kPassword);
        ASSERT_EQ(run.exit_code, 1) << "bit " << bit << " not found: " << run.err;
    }
}

TEST(CheckFileTool, CutAndExtendedFilesAreFound)
{
    const std::size_t size = 4 * kCheckBlock + 300;
    struct Case {
        const char* name;
        std::size_t keep;     // bytes of the original kept
        std::string append;   // bytes added after them
    } cases[] = {
        {"last byte cut", size - 1, ""},
        {"last block cut", 4 * kCheckBlock, ""},
        {"cut to one block", kCheckBlock, ""},
        {"emptied", 0, ""},
        {"one byte added", size, "x"},
        {"a block added", size, std::string(kCheckBlock, 'y')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s(size);
        const std::string changed = s.enc.substr(0, c.keep) + c.append;
        WriteFile(s.dir / "enc", changed);
        ExpectDecrypt(s, {}, false, "");
        ExpectDecrypt(s, {"--offset", RangeArg(size - 5)}, false, "");
        EXPECT_EQ(RunWithPassword({"check", s.dir / "enc"}, kPassword).exit_code, 1);
        RunResult piped =
            RunWithPassword({"decrypt", "--check-file", s.dir / "enc.tvkcheck"}, kPassword, changed);
        EXPECT_EQ(piped.exit_code, 1);
        EXPECT_TRUE(Contains(piped.err, "standard input is damaged or was changed")) << piped.err;
        // a pipe never delivers bytes of a block it has not verified
        EXPECT_EQ(piped.out.size() % kCheckBlock, 0u);
        EXPECT_TRUE(piped.out == s.clear.substr(0, piped.out.size()));
    }
}

// The SHA-256 over a check file's bytes, as its last 32 bytes.
std::string
WithChecksum(std::string bytes)
{
    NPT_Sha256Digest digest;
    digest.Update(reinterpret_cast<const NPT_UInt8*>(bytes.data()), static_cast<NPT_Size>(bytes.size() - 32));
    NPT_DataBuffer sum;
    digest.GetDigest(sum);
    bytes.replace(bytes.size() - 32, 32, reinterpret_cast<const char*>(sum.GetData()), 32);
    return bytes;
}

TEST(CheckFileTool, DamagedOrForeignCheckFilesAreRefused)
{
    const std::size_t size = 2 * kCheckBlock + 10;
    const std::string good = MakeCheckFile(Library(PatternData(size, 11), kPassword));
    std::string tag_changed = good;
    tag_changed[92] = static_cast<char>(tag_changed[92] ^ 1);
    std::string version = good;
    version[8] = 2;
    std::string bigger = good;  // says the data is one byte longer
    bigger[59] = static_cast<char>(bigger[59] + 1);
    struct Case {
        const char* name;
        std::string content;
        const char* message;
    } cases[] = {
        {"empty", "", "is damaged or was changed"},
        {"foreign", "#!/bin/sh\necho hello\n", "is not a tvkcrypt check file"},
        {"cut", good.substr(0, good.size() - 1), "is damaged or was changed"},
        {"byte flipped", tag_changed, "is damaged or was changed"},
        {"tag changed, checksum made to match", WithChecksum(tag_changed), "is damaged or was changed"},
        {"size changed, checksum made to match", WithChecksum(bigger), "is damaged or was changed"},
        {"later version", version, "unsupported version"},
        {"a directory", "", "not a regular file"},
#ifndef _WIN32
        // opened without waiting for a writer, then refused
        {"a FIFO", "", "not a regular file"},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s(size);
        RemoveFile(s.dir / "enc.tvkcheck");
        if (std::string(c.name) == "a directory") {
            MakeSubdirectory(s.dir / "enc.tvkcheck");
#ifndef _WIN32
        } else if (std::string(c.name) == "a FIFO") {
            ASSERT_EQ(mkfifo((s.dir / "enc.tvkcheck").c_str(), 0600), 0);
#endif
        } else {
            WriteFile(s.dir / "enc.tvkcheck", c.content);
        }
        const std::vector<std::string> before = s.dir.List();
        for (const char* command : {"decrypt", "check"}) {
            RunResult run = command == std::string("check")
                                ? RunWithPassword({"check", s.dir / "enc"}, kPassword)
                                : RunWithPassword({"decrypt", s.dir / "enc", "-f", "-o", s.dir / "out"}, kPassword);
            EXPECT_EQ(run.exit_code, 1) << command;
            EXPECT_TRUE(Contains(run.err, c.message)) << command << ": " << run.err;
            EXPECT_TRUE(Contains(run.err, "enc.tvkcheck")) << run.err;
        }
        EXPECT_EQ(ReadFile(s.dir / "out"), kOld);
        EXPECT_EQ(s.dir.List(), before);
    }
}

// A check file may have blocks of up to 1 GiB: a small file under one
// decrypts and checks with buffers the size of the data (each took
// 1 GiB before), and a flipped byte is still found.
TEST(CheckFileTool, HugeCheckBlocksOverSmallDataAreReadInPieces)
{
    const std::string clear = PatternData(3 << 20, 4);
    const std::string enc = Library(clear, kPassword);
    TempDir dir;
    WriteFile(dir / "enc.tvkcheck", CheckFileFor(enc, TVK_CheckFile::MAX_BLOCK_SIZE));
    for (bool damaged : {false, true}) {
        std::string input = enc;
        if (damaged) input[(2 << 20) + 7] ^= 1;
        WriteFile(dir / "enc", input);
        RunResult to_file = RunWithPassword({"decrypt", dir / "enc", "-f", "-o", dir / "out"}, kPassword);
        RunResult to_pipe = RunWithPassword({"decrypt", dir / "enc", "--offset", "5", "--length", "9"}, kPassword);
        RunResult checked = RunWithPassword({"check", dir / "enc"}, kPassword);
        EXPECT_EQ(to_file.exit_code, damaged ? 1 : 0) << to_file.err;
        EXPECT_EQ(to_pipe.exit_code, damaged ? 1 : 0) << to_pipe.err;
        EXPECT_EQ(checked.exit_code, damaged ? 1 : 0) << checked.err;
        if (damaged) {
            EXPECT_TRUE(to_pipe.out.empty());
            EXPECT_TRUE(Contains(to_file.err, "is damaged or was changed")) << to_file.err;
        } else {
            EXPECT_TRUE(ReadFile(dir / "out") == clear);
            EXPECT_EQ(to_pipe.out, clear.substr(5, 9));
        }
    }
}

TEST(CheckFileTool, WithoutACheckFileDecryptionWorksAsBefore)
{
    Scene s(5000);
    RemoveFile(s.dir / "enc.tvkcheck");
    RunResult run = RunWithPassword({"decrypt", s.dir / "enc"}, "any password");
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out.size(), s.clear.size());
    // a named check file must be there
    run = RunWithPassword({"decrypt", s.dir / "enc", "--check-file", s.dir / "missing"}, kPassword);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(Contains(run.err, "cannot open the check file")) << run.err;
    // --no-check-file ignores a check file that is there
    WriteFile(s.dir / "enc.tvkcheck", "junk");
    EXPECT_EQ(RunWithPassword({"decrypt", "--no-check-file", s.dir / "enc"}, "x").exit_code, 0);
}

#ifndef _WIN32
// The pseudo-terminal and signal runs below need POSIX.
TEST(CheckFileTool, OnATerminalANoteSaysThePasswordCannotBeChecked)
{
    Scene s(5000);
    RemoveFile(s.dir / "enc.tvkcheck");
    // on a terminal, one note says the password cannot be checked;
    // --quiet drops it, and a check file makes it needless
    for (bool quiet : {false, true}) {
        std::vector<std::string> args = {"decrypt", s.dir / "enc", "-f", "-o", s.dir / "out"};
        if (quiet) args.push_back("-q");
        TerminalResult shown = RunOnTerminal(args, {{"TVK_PASSWORD", kPassword}}, {});
        EXPECT_EQ(shown.run.exit_code, 0) << shown.screen;
        const std::string::size_type note = shown.screen.find("password cannot be checked");
        EXPECT_EQ(note != std::string::npos, !quiet) << shown.screen;
        if (note != std::string::npos) {
            EXPECT_EQ(shown.screen.find("password cannot be checked", note + 1), std::string::npos);
        }
    }
    WriteFile(s.dir / "enc.tvkcheck", MakeCheckFile(s.enc));
    TerminalResult checked =
        RunOnTerminal({"decrypt", s.dir / "enc", "-f", "-o", s.dir / "out"}, {{"TVK_PASSWORD", kPassword}}, {});
    EXPECT_EQ(checked.run.exit_code, 0) << checked.screen;
    EXPECT_EQ(checked.screen.find("cannot be checked"), std::string::npos) << checked.screen;
}

// Replacing an encrypted file and its check file: an interruption
// leaves both old files and nothing else; a stale pair is reported.
TEST(CheckFileSignals, InterruptedEncryptionLeavesBothFilesAsTheyWere)
{
    TempDir dir;
    WriteFile(dir / "enc", kOld);
    WriteFile(dir / "enc.tvkcheck", "old check");
    const std::vector<std::string> before = dir.List();
    int feed[2];
    ASSERT_EQ(pipe(feed), 0);
    const std::string block = PatternData(1 << 16, 1);
    ASSERT_EQ(write(feed[1], block.data(), block.size()), static_cast<ssize_t>(block.size()));
    RunSpec spec;
    spec.args = {"encrypt", "-f", "-o", dir / "enc"};
    spec.env["TVK_PASSWORD"] = kPassword;
    spec.stdin_fd = feed[0];
    bool killed = false;
    spec.watch = [&](pid_t pid, const std::string&) {
        // both temporaries exist once the key derivation is done: wait a
        // little for it, then interrupt while the input still flows
        usleep(600 * 1000);
        killed = kill(pid, SIGTERM) == 0;
        return true;
    };
    RunResult run = RunTool(spec);
    close(feed[0]);
    close(feed[1]);
    EXPECT_TRUE(killed);
    EXPECT_EQ(run.signal, SIGTERM) << run.err;
    EXPECT_EQ(ReadFile(dir / "enc"), kOld);
    EXPECT_EQ(ReadFile(dir / "enc.tvkcheck"), "old check");
    EXPECT_EQ(dir.List(), before);
}
#endif  // POSIX

TEST(CheckFileTool, ANewCheckFileBesideOldDataIsReportedNotAccepted)
{
    // what a reader sees after a kill between the two renames
    Scene s(3000);
    const std::string other = Library(PatternData(3000, 99), kPassword);
    WriteFile(s.dir / "enc.tvkcheck", MakeCheckFile(other));
    RunResult run = RunWithPassword({"check", s.dir / "enc"}, kPassword);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(Contains(run.err, "is damaged or was changed")) << run.err;
}

TEST(CheckFileTool, OptionsAreChecked)
{
    struct Case {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"check"}, "check needs the encrypted file's name"},
        {{"check", "f", "-o", "x"}, "-o does not apply"},
        {{"check", "--no-check-file", "f"}, "cannot work with --no-check-file"},
        {{"decrypt", "--create", "f"}, "--create works with check only"},
        {{"encrypt", "--check-file", "a", "--no-check-file"}, "exclude each other"},
        {{"check", "--offset", "1", "f"}, "decrypt only"},
    };
    for (const Case& c : cases) {
        RunResult run = RunWithPassword(c.args, kPassword);
        EXPECT_EQ(run.exit_code, 2) << c.args[0];
        EXPECT_TRUE(Contains(run.err, c.message)) << run.err;
    }
}

}  // namespace
}  // namespace tvkcrypt_test
