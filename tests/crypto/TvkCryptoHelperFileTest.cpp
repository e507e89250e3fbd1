// TVK_CryptoHelper, file form: round trips through files (chunk
// boundaries and 100 MiB), what happens to the output on every failure,
// the standard streams (in child processes, so that the test's own
// standard output is not disturbed), files held open by another process,
// and a full device.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "NptFile.h"
#include "TestStreams.h"
#include "TestTempDirectory.h"
#include "TvkCryptoHelper.h"

namespace {

namespace fs = std::filesystem;
using tvk_test::MakePattern;
using Bytes = std::vector<NPT_Byte>;

const char* const kPassword = "file password";

void WriteFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    ASSERT_TRUE(file.good()) << path;
}

Bytes ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

Bytes Encrypted(const Bytes& input)
{
    NPT_DataBuffer output;
    EXPECT_EQ(TVK_CryptoHelper::EncryptDecryptWithPassword(kPassword, NPT_BlockCipher::ENCRYPT,
                                                           input.data(),
                                                           static_cast<NPT_Size>(input.size()),
                                                           output),
              NPT_SUCCESS);
    return Bytes(output.GetData(), output.GetData() + output.GetDataSize());
}

NPT_Result RunFiles(NPT_BlockCipher::Direction direction, const std::string& in, const std::string& out)
{
    return TVK_CryptoHelper::EncryptDecryptWithPassword(kPassword, direction, in.c_str(),
                                                        out.c_str());
}

#ifndef _WIN32  // fork
// Runs body in a child process and returns its exit status (or -1 when
// it did not exit normally). The child never returns into the test.
int InChild(const std::function<int()>& body)
{
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}
#endif

class PasswordFileForm : public ::testing::Test
{
protected:
    void SetUp() override
    {
#ifdef _WIN32
        m_Temp.reset(new tvk_test::TempDirectory());
        m_Dir = m_Temp->Path();
#else
        std::string base = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string();
        std::string pattern = base + "/tvk_file_form_XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        m_Dir = name.data();
#endif
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(m_Dir, ignored);
        m_Temp.reset();
    }

    std::string Path(const std::string& name) const { return m_Dir + "/" + name; }

    std::string m_Dir;
    std::unique_ptr<tvk_test::TempDirectory> m_Temp;
};

TEST_F(PasswordFileForm, RoundTripsAroundChunkBoundaries)
{
    for (size_t size : {0, 1, 15, 16, 17, 1023, 1024, 1025, 65535, 65536, 65537, 100000}) {
        SCOPED_TRACE(size);
        Bytes input = MakePattern(size, 41);
        WriteFile(Path("in"), input);
        ASSERT_EQ(RunFiles(NPT_BlockCipher::ENCRYPT, Path("in"), Path("enc")), NPT_SUCCESS);
        EXPECT_EQ(ReadFile(Path("enc")), Encrypted(input));
        ASSERT_EQ(RunFiles(NPT_BlockCipher::DECRYPT, Path("enc"), Path("dec")), NPT_SUCCESS);
        EXPECT_EQ(ReadFile(Path("dec")), input);
    }
}

TEST_F(PasswordFileForm, RoundTripsAHundredMebibyteFile)
{
    const size_t kSize = 100u << 20;
    const size_t kBlock = 1u << 20;
    // Cheap, position-dependent content, generated again for the check.
    auto fill = [](std::vector<NPT_UInt64>& block, NPT_UInt64 index) {
        NPT_UInt64 x = 0x9E3779B97F4A7C15ULL * (index + 1);
        for (auto& word : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            word = x;
        }
    };
    std::vector<NPT_UInt64> block(kBlock / 8), other(kBlock / 8);
    {
        std::FILE* file = std::fopen(Path("big").c_str(), "wb");
        ASSERT_NE(file, nullptr);
        for (size_t i = 0; i < kSize / kBlock; ++i) {
            fill(block, i);
            ASSERT_EQ(std::fwrite(block.data(), 1, kBlock, file), kBlock);
        }
        ASSERT_EQ(std::fclose(file), 0);
    }

    ASSERT_EQ(RunFiles(NPT_BlockCipher::ENCRYPT, Path("big"), Path("big.enc")), NPT_SUCCESS);
    EXPECT_EQ(fs::file_size(Path("big.enc")), kSize);
    ASSERT_EQ(RunFiles(NPT_BlockCipher::DECRYPT, Path("big.enc"), Path("big.dec")), NPT_SUCCESS);

    std::FILE* encrypted = std::fopen(Path("big.enc").c_str(), "rb");
    std::FILE* decrypted = std::fopen(Path("big.dec").c_str(), "rb");
    ASSERT_NE(encrypted, nullptr);
    ASSERT_NE(decrypted, nullptr);
    size_t mismatches = 0, unchanged = 0;
    for (size_t i = 0; i < kSize / kBlock; ++i) {
        fill(block, i);
        ASSERT_EQ(std::fread(other.data(), 1, kBlock, decrypted), kBlock);
        if (std::memcmp(block.data(), other.data(), kBlock) != 0) ++mismatches;
        ASSERT_EQ(std::fread(other.data(), 1, kBlock, encrypted), kBlock);
        if (std::memcmp(block.data(), other.data(), kBlock) == 0) ++unchanged;
    }
    EXPECT_EQ(std::fgetc(decrypted), EOF);
    std::fclose(encrypted);
    std::fclose(decrypted);
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(unchanged, 0u);
}

TEST_F(PasswordFileForm, LongerOutputIsCutToTheNewLength)
{
    Bytes input = MakePattern(3000, 42);
    WriteFile(Path("in"), input);
    WriteFile(Path("out"), MakePattern(10000, 43));
    ASSERT_EQ(RunFiles(NPT_BlockCipher::ENCRYPT, Path("in"), Path("out")), NPT_SUCCESS);
    EXPECT_EQ(ReadFile(Path("out")), Encrypted(input));
}

#ifndef _WIN32  // POSIX permission bits; Windows files have none
// A new output may hold decrypted secrets: only its owner may read it,
// whatever the umask lets through. An existing output keeps its mode.
TEST_F(PasswordFileForm, NewOutputIsPrivateAndAnExistingOneKeepsItsMode)
{
    WriteFile(Path("in"), MakePattern(100, 44));
    WriteFile(Path("existing"), MakePattern(10, 45));
    ASSERT_EQ(chmod(Path("existing").c_str(), 0664), 0);

    const mode_t old_umask = umask(022);
    NPT_Result created  = RunFiles(NPT_BlockCipher::DECRYPT, Path("in"), Path("new"));
    NPT_Result replaced = RunFiles(NPT_BlockCipher::DECRYPT, Path("in"), Path("existing"));
    umask(old_umask);
    ASSERT_EQ(created, NPT_SUCCESS);
    ASSERT_EQ(replaced, NPT_SUCCESS);

    struct stat info;
    ASSERT_EQ(stat(Path("new").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    ASSERT_EQ(stat(Path("existing").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0664u);
}
#endif

TEST_F(PasswordFileForm, FailuresBeforeTheOutputIsOpenedLeaveItUncreated)
{
    WriteFile(Path("in"), MakePattern(100));

    EXPECT_EQ(RunFiles(NPT_BlockCipher::ENCRYPT, Path("missing"), Path("out")), NPT_ERROR_NO_SUCH_FILE);
    EXPECT_FALSE(fs::exists(Path("out")));

    EXPECT_EQ(TVK_CryptoHelper::EncryptDecryptWithPassword(nullptr, NPT_BlockCipher::ENCRYPT,
                                                           Path("in").c_str(), Path("out").c_str()),
              NPT_ERROR_INVALID_PARAMETERS);
    EXPECT_FALSE(fs::exists(Path("out")));

    // a directory is no input either
    EXPECT_EQ(RunFiles(NPT_BlockCipher::DECRYPT, m_Dir, Path("out")), NPT_ERROR_NO_SUCH_FILE);
    EXPECT_FALSE(fs::exists(Path("out")));
}

TEST_F(PasswordFileForm, OutputInAMissingDirectoryFailsAndReleasesTheInput)
{
    WriteFile(Path("in"), MakePattern(100));
    EXPECT_EQ(RunFiles(NPT_BlockCipher::ENCRYPT, Path("in"), Path("nowhere/out")), NPT_ERROR_NO_SUCH_FILE);
    EXPECT_FALSE(fs::exists(Path("nowhere")));
    // the input was closed again: it can be opened for writing
    NPT_File input(Path("in").c_str());
    EXPECT_EQ(input.Open(NPT_FILE_OPEN_MODE_WRITE), NPT_SUCCESS);
}

TEST_F(PasswordFileForm, SameFileInAndOutFailsAndLeavesItUnchanged)
{
    Bytes content = MakePattern(5000, 44);
    WriteFile(Path("file"), content);
    EXPECT_EQ(RunFiles(NPT_BlockCipher::ENCRYPT, Path("file"), Path("file")), NPT_ERROR_NO_SUCH_FILE);
    EXPECT_EQ(ReadFile(Path("file")), content);
    // the same file under another name
    EXPECT_EQ(RunFiles(NPT_BlockCipher::DECRYPT, Path("file"), m_Dir + "/./file"), NPT_ERROR_NO_SUCH_FILE);
    EXPECT_EQ(ReadFile(Path("file")), content);
}

#ifndef _WIN32  // fork and pipes
// Another process holds a file open through the library while this one
// runs: a file open for reading elsewhere cannot be written here, and
// one open for writing elsewhere cannot be read.
TEST_F(PasswordFileForm, FilesHeldOpenByAnotherProcessAreRefused)
{
    Bytes content = MakePattern(5000, 45);
    WriteFile(Path("held"), content);
    WriteFile(Path("other"), MakePattern(300, 46));

    for (NPT_FileOpenMode mode : {NPT_FILE_OPEN_MODE_READ, NPT_FILE_OPEN_MODE_WRITE}) {
        SCOPED_TRACE(mode);
        int ready[2], release[2];
        ASSERT_EQ(pipe(ready), 0);
        ASSERT_EQ(pipe(release), 0);
        std::string held = Path("held");
        std::fflush(nullptr);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            NPT_File file(held.c_str());
            char byte = file.Open(mode) == NPT_SUCCESS ? 'y' : 'n';
            if (write(ready[1], &byte, 1) != 1) _exit(2);
            if (read(release[0], &byte, 1) != 1) _exit(3);
            _exit(0);
        }
        char byte = 0;
        ASSERT_EQ(read(ready[0], &byte, 1), 1);
        ASSERT_EQ(byte, 'y');

        if (mode == NPT_FILE_OPEN_MODE_READ) {
            EXPECT_EQ(RunFiles(NPT_BlockCipher::ENCRYPT, held, held), NPT_ERROR_NO_SUCH_FILE);
            EXPECT_EQ(RunFiles(NPT_BlockCipher::ENCRYPT, Path("other"), held), NPT_ERROR_NO_SUCH_FILE);
        } else {
            EXPECT_EQ(RunFiles(NPT_BlockCipher::ENCRYPT, held, Path("fresh")), NPT_ERROR_NO_SUCH_FILE);
            EXPECT_FALSE(fs::exists(Path("fresh")));
        }
        EXPECT_EQ(ReadFile(held), content);

        ASSERT_EQ(write(release[1], "x", 1), 1);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
    }
    // once the other process is gone, the file is free again
    EXPECT_EQ(RunFiles(NPT_BlockCipher::ENCRYPT, Path("other"), Path("held")), NPT_SUCCESS);
}
#endif

TEST_F(PasswordFileForm, StandardInputHasNoSizeAndLeavesTheOutputAlone)
{
    ASSERT_FALSE(fs::exists("@STDIN"));
    Bytes content = MakePattern(700, 47);
    WriteFile(Path("out"), content);
    EXPECT_EQ(RunFiles(NPT_BlockCipher::DECRYPT, "@STDIN", Path("out")), NPT_ERROR_NO_SUCH_FILE);
    EXPECT_EQ(ReadFile(Path("out")), content);
    EXPECT_EQ(RunFiles(NPT_BlockCipher::ENCRYPT, "@STDIN", Path("new")), NPT_ERROR_NO_SUCH_FILE);
    EXPECT_FALSE(fs::exists(Path("new")));
}

#ifndef _WIN32  // fork, descriptors and /dev/full
TEST_F(PasswordFileForm, StandardOutputReceivesTheResultAndStaysOpen)
{
    Bytes input = MakePattern(70000, 48);
    WriteFile(Path("in"), input);
    std::string in = Path("in"), captured = Path("stdout");

    int status = InChild([&] {
        int fd = open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || dup2(fd, 1) < 0) return 10;
        close(fd);
        if (RunFiles(NPT_BlockCipher::ENCRYPT, in, "@STDOUT") != NPT_SUCCESS) return 11;
        if (RunFiles(NPT_BlockCipher::ENCRYPT, in, "@STDOUT") != NPT_SUCCESS) return 12;
        // still open: the descriptor and the C stream both take more
        if (fcntl(1, F_GETFD) == -1 || write(1, "|", 1) != 1) return 13;
        if (std::fputs("end", stdout) < 0 || std::fflush(stdout) != 0) return 14;
        return 0;
    });
    ASSERT_EQ(status, 0);

    Bytes expected = Encrypted(input);
    Bytes twice = expected;
    twice.insert(twice.end(), expected.begin(), expected.end());
    for (char c : std::string("|end")) twice.push_back(static_cast<NPT_Byte>(c));
    EXPECT_EQ(ReadFile(captured), twice);
}

TEST_F(PasswordFileForm, FullDeviceIsAnErrorNotSuccess)
{
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    for (size_t size : {10, 1 << 20}) {
        SCOPED_TRACE(size);
        WriteFile(Path("in"), MakePattern(size, 49));
        // small outputs only fail when flushed, large ones while written
        EXPECT_NE(RunFiles(NPT_BlockCipher::ENCRYPT, Path("in"), "/dev/full"), NPT_SUCCESS);

        std::string in = Path("in");
        int status = InChild([&] {
            int fd = open("/dev/full", O_WRONLY);
            if (fd < 0 || dup2(fd, 1) < 0) return 10;
            close(fd);
            return RunFiles(NPT_BlockCipher::ENCRYPT, in, "@STDOUT") == NPT_SUCCESS ? 1 : 0;
        });
        EXPECT_EQ(status, 0);
    }
}
#endif

} // namespace
