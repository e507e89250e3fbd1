/*****************************************************************
| MountFilePosixTest.cpp - an open file of the mount without a mount:
| verified reads, damage found block by block, writes in place whose
| check file made again verifies, and nothing damaged blessed by a
| write. Small check blocks (1 KiB) and the cheapest key derivation a
| reader accepts.
****************************************************************/
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MountFile.h"
#include "NptDataBuffer.h"
#include "ToolRunner.h"

using namespace tvkcrypt;
using namespace tvkcrypt_test;

namespace {

const char kPassword[] = "mount password";
const NPT_UInt32 kBlock = TVK_CheckFile::MIN_BLOCK_SIZE;

class MountFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(TVK_SUCCESS, tvk_key_create(kPassword, sizeof(kPassword) - 1, &m_Key));
        m_Secrets.key = m_Key;
        m_Secrets.password = reinterpret_cast<const NPT_UInt8*>(kPassword);
        m_Secrets.password_size = sizeof(kPassword) - 1;
        m_Secrets.iterations = TVK_CheckFile::MIN_ITERATIONS;
        std::unique_ptr<SourceDirectory> root;
        ASSERT_EQ(0, SourceDirectory::OpenRoot(m_Dir.Path(), root));
        m_Root = std::move(root);
    }
    void TearDown() override { tvk_key_destroy(m_Key); }

    // "f.tvk" holding clear encrypted, with its check file when checked.
    void Store(const std::string& clear, bool checked)
    {
        std::string cipher = clear;
        ASSERT_EQ(TVK_SUCCESS, tvk_transform(m_Key, &cipher[0], cipher.size(), 0));
        WriteFile(m_Dir / "f.tvk", cipher);
        if (checked) WriteFile(m_Dir / "f.tvk.tvkcheck", CheckFileOf(cipher));
    }
    std::string CheckFileOf(const std::string& cipher)
    {
        TVK_CheckFileWriter writer;
        const NPT_UInt8 salt[TVK_CheckFile::SALT_SIZE] = {7};
        EXPECT_EQ(NPT_SUCCESS, writer.Start(m_Secrets.password, m_Secrets.password_size, salt, sizeof(salt),
                                            m_Secrets.iterations, kBlock));
        if (!cipher.empty()) {
            EXPECT_EQ(NPT_SUCCESS, writer.AddBlocks(0, reinterpret_cast<const NPT_UInt8*>(cipher.data()),
                                                    static_cast<NPT_Size>(cipher.size())));
        }
        NPT_DataBuffer bytes;
        EXPECT_EQ(NPT_SUCCESS, writer.Serialize(cipher.size(), bytes));
        return std::string(reinterpret_cast<const char*>(bytes.GetData()), bytes.GetDataSize());
    }
    // The file as the mount opens it (its check file verified).
    std::unique_ptr<MountFile> Open(bool write)
    {
        FileHandle file;
        EXPECT_EQ(0, m_Root->OpenFile("f.tvk", write, file));
        TreeStat stat;
        EXPECT_EQ(0, StatFile(file, stat));
        std::shared_ptr<TVK_CheckFileReader> check;
        if (Exists(m_Dir / "f.tvk.tvkcheck")) {
            const std::string bytes = ReadFile(m_Dir / "f.tvk.tvkcheck");
            check.reset(new TVK_CheckFileReader);
            EXPECT_EQ(NPT_SUCCESS, check->Parse(reinterpret_cast<const NPT_UInt8*>(bytes.data()),
                                                static_cast<NPT_Size>(bytes.size())));
            EXPECT_EQ(NPT_SUCCESS, check->VerifyPassword(m_Secrets.password, m_Secrets.password_size));
        }
        return std::unique_ptr<MountFile>(new MountFile(m_Secrets, std::move(file), stat.size, write, check, false,
                                                        MountPlace{m_Root, "f.tvk", "'f'"},
                                                        [this](const std::string& line) { m_Logged += line + "\n"; }));
    }
    SysError Read(MountFile& file, NPT_UInt64 offset, std::size_t size, std::string& out)
    {
        out.assign(size, '\0');
        std::size_t got = 0;
        SysError error = file.Read(offset, &out[0], size, got);
        out.resize(got);
        return error;
    }
    // The stored pair decrypts to clear and its check file verifies.
    void ExpectStored(const std::string& clear)
    {
        std::string cipher = ReadFile(m_Dir / "f.tvk");
        const std::string check_bytes = ReadFile(m_Dir / "f.tvk.tvkcheck");
        TVK_CheckFileReader check;
        ASSERT_EQ(NPT_SUCCESS, check.Parse(reinterpret_cast<const NPT_UInt8*>(check_bytes.data()),
                                           static_cast<NPT_Size>(check_bytes.size())));
        ASSERT_EQ(NPT_SUCCESS, check.VerifyPassword(m_Secrets.password, m_Secrets.password_size));
        ASSERT_EQ(cipher.size(), check.ExpectedSize());
        if (!cipher.empty()) {
            EXPECT_EQ(NPT_SUCCESS, check.VerifyBlocks(0, reinterpret_cast<const NPT_UInt8*>(cipher.data()),
                                                      static_cast<NPT_Size>(cipher.size())));
        }
        ASSERT_EQ(TVK_SUCCESS, tvk_transform(m_Key, &cipher[0], cipher.size(), 0));
        EXPECT_EQ(clear, cipher);
    }

    TempDir                        m_Dir;
    std::shared_ptr<SourceDirectory> m_Root;
    tvk_key*                       m_Key = nullptr;
    MountSecrets                   m_Secrets;
    std::string                    m_Logged;
};

TEST_F(MountFileTest, ReadsDecryptAnyRangeAndADamagedBlockFailsAlone)
{
    const std::string clear = PatternData(5 * kBlock + 300);
    for (bool checked : {false, true}) {
        Store(clear, checked);
        std::unique_ptr<MountFile> file = Open(false);
        for (auto range : {std::make_pair(0, 10), std::make_pair(1000, 2000), std::make_pair(5000, 9999)}) {
            std::string got;
            EXPECT_EQ(0, Read(*file, range.first, range.second, got));
            EXPECT_EQ(clear.substr(range.first, range.second), got) << checked;
        }
    }
    // one flipped byte in block 2: that block fails, its neighbours read
    std::string cipher = ReadFile(m_Dir / "f.tvk");
    cipher[2 * kBlock + 5] ^= 1;
    WriteFile(m_Dir / "f.tvk", cipher);
    std::unique_ptr<MountFile> file = Open(false);
    std::string got;
    EXPECT_EQ(EIO, Read(*file, 2 * kBlock + 100, 10, got));
    EXPECT_EQ(EIO, Read(*file, kBlock, 2 * kBlock, got)) << "a read that reaches into it";
    EXPECT_EQ(0, Read(*file, kBlock, kBlock, got));
    EXPECT_EQ(clear.substr(kBlock, kBlock), got);
    EXPECT_EQ(0, Read(*file, 3 * kBlock, 10, got));
    EXPECT_NE(std::string::npos, m_Logged.find("bytes 2048 to 3071")) << m_Logged;
    EXPECT_EQ(m_Logged.find('\n'), m_Logged.size() - 1) << "reported once";
    // and a write into it is refused rather than tagged as good
    std::unique_ptr<MountFile> writable = Open(true);
    EXPECT_EQ(EIO, writable->Write(2 * kBlock + 1, "x", 1));
}

TEST_F(MountFileTest, WritesResizesAndCommitsLeaveAPairThatVerifies)
{
    std::string clear = PatternData(3 * kBlock + 10);
    Store(clear, true);
    std::unique_ptr<MountFile> file = Open(true);
    struct Step { const char* name; NPT_UInt64 offset; std::string data; NPT_UInt64 resize; };
    const Step steps[] = {
        {"inside a block", 100, "hello", 0},
        {"across blocks", kBlock - 2, "across", 0},
        {"past the end, leaving a gap", 5 * kBlock, "tail", 0},
        {"cut inside a block", 0, "", 4 * kBlock + 7},
        {"grown by resizing", 0, "", 6 * kBlock},
        {"cut to nothing", 0, "", 1},
    };
    for (const Step& step : steps) {
        if (step.resize != 0) {
            ASSERT_EQ(0, file->Resize(step.resize - (step.resize == 1 ? 1 : 0))) << step.name;
            clear.resize(static_cast<std::size_t>(step.resize == 1 ? 0 : step.resize), '\0');
        } else {
            ASSERT_EQ(0, file->Write(step.offset, step.data.data(), step.data.size())) << step.name;
            if (clear.size() < step.offset) clear.resize(static_cast<std::size_t>(step.offset), '\0');
            clear.replace(static_cast<std::size_t>(step.offset), step.data.size(), step.data);
        }
        std::string got;
        EXPECT_EQ(0, Read(*file, 0, clear.size() + 10, got)) << step.name;
        EXPECT_EQ(clear, got) << step.name;
        ASSERT_EQ(0, file->Commit(false)) << step.name;
        ExpectStored(clear);
    }
}

}  // namespace
