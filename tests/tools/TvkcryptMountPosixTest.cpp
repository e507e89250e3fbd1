/*****************************************************************
| TvkcryptMountPosixTest.cpp - tvkcrypt mount for real: as root with
| /dev/fuse (CI), skipped otherwise. Reads and ranges against the
| cleartext and decrypt --offset, hidden check files, a wrong password,
| a damaged block, a read-write round trip that decrypt and check
| accept, kill -9 during writes, and an unmount with files open.
****************************************************************/
#include <cerrno>
#include <csignal>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ToolRunner.h"

using namespace tvkcrypt_test;

namespace {

const char kPassword[] = "mount test";

bool
Mounted(const std::string& path)
{
    std::ifstream mounts("/proc/mounts");
    std::string device, point, rest;
    while (mounts >> device >> point && std::getline(mounts, rest)) {
        if (point == path) return true;
    }
    return false;
}

class MountTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (geteuid() != 0 || access("/dev/fuse", R_OK | W_OK) != 0) {
            GTEST_SKIP() << "mount tests need root and /dev/fuse";
        }
        char resolved[4096];
        ASSERT_NE(nullptr, realpath(m_Dir.Path().c_str(), resolved));
        m_Source = std::string(resolved) + "/src";
        m_Point = std::string(resolved) + "/mnt";
        ASSERT_TRUE(MakeSubdirectory(m_Source) && MakeSubdirectory(m_Point) && MakeSubdirectory(m_Source + "/sub"));
    }
    void TearDown() override
    {
        if (!m_Point.empty() && Mounted(m_Point)) RunTool(Spec({"unmount", m_Point}));
    }
    RunSpec Spec(const std::vector<std::string>& args)
    {
        RunSpec spec;
        spec.args = args;
        spec.env["TVK_PASSWORD"] = kPassword;
        return spec;
    }
    // encrypts clear into SOURCE/name, with its check file unless bare
    void Store(const std::string& name, const std::string& clear, bool bare = false)
    {
        WriteFile(m_Dir / "clear", clear);
        std::vector<std::string> args = {"encrypt", "-q", m_Dir / "clear", "-o", m_Source + "/" + name};
        if (bare) args.push_back("--no-check-file");
        ASSERT_EQ(0, RunTool(Spec(args)).exit_code);
    }
    void Mount(const std::vector<std::string>& options)
    {
        std::vector<std::string> args = {"mount", "-q"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(m_Source);
        args.push_back(m_Point);
        RunResult result = RunTool(Spec(args));
        ASSERT_EQ(0, result.exit_code) << result.err;
        ASSERT_TRUE(Mounted(m_Point));
    }
    // the status of a pread of size bytes at offset: 0 or errno
    int ReadAt(const std::string& path, off_t offset, std::size_t size, std::string& out)
    {
        int fd = open(path.c_str(), O_RDONLY);
        if (fd < 0) return errno;
        out.assign(size, '\0');
        ssize_t got = pread(fd, &out[0], size, offset);
        int error = got < 0 ? errno : 0;
        close(fd);
        out.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
        return error;
    }
    std::string Decrypt(const std::string& path, const std::vector<std::string>& extra = {})
    {
        std::vector<std::string> args = {"decrypt", "-q", path};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunTool(Spec(args)).out;
    }

    TempDir     m_Dir;
    std::string m_Source, m_Point;
};

TEST_F(MountTest, ReadsAgreeWithDecryptAndDamageFailsItsBlockOnly)
{
    const std::string big = PatternData(3 * 512 * 1024 + 777), small = "a small file\n";
    Store("big.bin.tvk", big);
    Store("sub/small.txt.tvk", small, true);
    // a wrong password is refused before anything is mounted
    RunSpec wrong = Spec({"mount", m_Source, m_Point});
    wrong.env["TVK_PASSWORD"] = "not it";
    RunResult refused = RunTool(wrong);
    EXPECT_EQ(1, refused.exit_code);
    EXPECT_NE(std::string::npos, refused.err.find("wrong password")) << refused.err;
    EXPECT_FALSE(Mounted(m_Point));

    Mount({"--direct-io"});
    EXPECT_EQ((std::vector<std::string>{"big.bin", "sub"}), ListDirectory(m_Point)) << "check files hidden";
    EXPECT_EQ(big, ReadFile(m_Point + "/big.bin"));
    EXPECT_EQ(small, ReadFile(m_Point + "/sub/small.txt"));
    for (off_t offset : {off_t(0), off_t(524287), off_t(1000000), off_t(big.size() - 5)}) {
        std::string got;
        EXPECT_EQ(0, ReadAt(m_Point + "/big.bin", offset, 70000, got));
        EXPECT_EQ(Decrypt(m_Source + "/big.bin.tvk", {"--offset", std::to_string(offset), "--length", "70000"}), got)
            << offset;
    }
    EXPECT_EQ(-1, open((m_Point + "/big.bin").c_str(), O_WRONLY));
    EXPECT_EQ(EROFS, errno);

    // one flipped byte in the second 512 KiB block
    std::string cipher = ReadFile(m_Source + "/big.bin.tvk");
    cipher[600000] ^= 0x20;
    WriteFile(m_Source + "/big.bin.tvk", cipher);
    std::string got;
    EXPECT_EQ(EIO, ReadAt(m_Point + "/big.bin", 600000, 100, got));
    EXPECT_EQ(0, ReadAt(m_Point + "/big.bin", 100, 100, got));
    EXPECT_EQ(0, ReadAt(m_Point + "/big.bin", 1100000, 100, got));
    EXPECT_EQ(big.substr(1100000, 100), got);
}

TEST_F(MountTest, ReadWriteRoundTripLeavesFilesThatDecryptAndCheckAccept)
{
    Store("old.tvk", PatternData(300000));
    Mount({"--read-write"});
    WriteFile(m_Point + "/new.txt", "written through the mount\n");
    std::string edited = PatternData(300000);
    {
        int fd = open((m_Point + "/old").c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(5, pwrite(fd, "HELLO", 5, 123456));
        ASSERT_EQ(0, ftruncate(fd, 200000));
        ASSERT_EQ(0, close(fd));
        edited.replace(123456, 5, "HELLO");
        edited.resize(200000);
    }
    ASSERT_EQ(0, rename((m_Point + "/old").c_str(), (m_Point + "/sub/renamed").c_str()));
    ASSERT_EQ(0, mkdir((m_Point + "/dir").c_str(), 0700));
    WriteFile(m_Point + "/gone", "x");
    ASSERT_EQ(0, unlink((m_Point + "/gone").c_str()));
    EXPECT_EQ((std::vector<std::string>{"dir", "new.txt", "sub"}), ListDirectory(m_Point));
    EXPECT_EQ((std::vector<std::string>{"dir", "new.txt.tvk", "new.txt.tvk.tvkcheck", "sub"}), ListDirectory(m_Source));
    ASSERT_EQ(0, RunTool(Spec({"unmount", m_Point})).exit_code);
    EXPECT_EQ("written through the mount\n", Decrypt(m_Source + "/new.txt.tvk"));
    EXPECT_EQ(edited, Decrypt(m_Source + "/sub/renamed.tvk"));
    for (const char* name : {"/new.txt.tvk", "/sub/renamed.tvk"}) {
        RunResult check = RunTool(Spec({"check", m_Source + name}));
        EXPECT_EQ(0, check.exit_code) << name << ": " << check.err;
    }
}

// In the foreground, the test works while the mount runs: writes cut
// short by kill -9 leave a pair that check flags, never wrong data that
// passes; and an unmount with a file open ends the mount once it is
// closed, its check file written.
TEST_F(MountTest, KillDuringWritesIsFlaggedAndUnmountWaitsForOpenFiles)
{
    Store("data.tvk", PatternData(100000));
    for (bool kill_it : {true, false}) {
        RunSpec spec = Spec({"mount", "-f", "-q", "--read-write", m_Source, m_Point});
        std::string expected = PatternData(100000);
        spec.watch = [&](ProcessId pid, const std::string&) {
            if (!Mounted(m_Point)) return false;
            int fd = open((m_Point + "/data").c_str(), O_WRONLY);
            if (fd < 0) return true;
            const std::string chunk(8192, kill_it ? 'k' : 'u');
            for (off_t at = 0; at < 65536; at += 8192) {
                if (pwrite(fd, chunk.data(), chunk.size(), at) == 8192) expected.replace(at, 8192, chunk);
            }
            if (kill_it) {
                kill(pid, SIGKILL);
            } else {
                EXPECT_EQ(0, RunTool(Spec({"unmount", m_Point})).exit_code);
            }
            close(fd);
            return true;
        };
        RunTool(spec);
        if (kill_it) RunTool(Spec({"unmount", m_Point}));  // the dead mount
        EXPECT_FALSE(Mounted(m_Point));
        RunResult check = RunTool(Spec({"check", m_Source + "/data.tvk"}));
        if (kill_it) {
            EXPECT_TRUE(check.exit_code != 0 || Decrypt(m_Source + "/data.tvk") == expected) << check.err;
            // what the next mount's writes start from: a pair that matches
            WriteFile(m_Dir / "clear", Decrypt(m_Source + "/data.tvk", {"--no-check-file"}));
            ASSERT_EQ(0, RunTool(Spec({"encrypt", "-q", "-f", m_Dir / "clear", "-o", m_Source + "/data.tvk"})).exit_code);
            expected = ReadFile(m_Dir / "clear");
        } else {
            EXPECT_EQ(0, check.exit_code) << check.err;
            EXPECT_EQ(expected.substr(65536), Decrypt(m_Source + "/data.tvk").substr(65536));
            EXPECT_EQ(std::string(8192, 'u'), Decrypt(m_Source + "/data.tvk").substr(0, 8192));
        }
    }
}

}  // namespace
