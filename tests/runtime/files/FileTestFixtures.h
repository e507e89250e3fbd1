/*****************************************************************
| FileTestFixtures.h - fixtures and helpers shared by the files layer's
| tests: the portable ones and those compiled for one platform only.
|
| Each fixture works in a fresh temporary directory; paths are UTF-8.
****************************************************************/
#ifndef TVK_TEST_FILE_TEST_FIXTURES_H
#define TVK_TEST_FILE_TEST_FIXTURES_H

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "NptFile.h"
#include "TestTempDirectory.h"

namespace tvk_test_files {

using tvk_test::TempDirectory;

/*----------------------------------------------------------------------
|   files and their streams
+---------------------------------------------------------------------*/
const NPT_FileOpenMode kRead   = NPT_FILE_OPEN_MODE_READ;
const NPT_FileOpenMode kWrite  = NPT_FILE_OPEN_MODE_WRITE;
const NPT_FileOpenMode kCreate = NPT_FILE_OPEN_MODE_WRITE | NPT_FILE_OPEN_MODE_CREATE |
                                 NPT_FILE_OPEN_MODE_TRUNCATE;  // 14, what callers use

class FileStreamTest : public ::testing::Test {
protected:
    ~FileStreamTest() override
    {
        std::error_code error;
        if (!saved_directory_.empty()) std::filesystem::current_path(saved_directory_, error);
        if (error) ADD_FAILURE() << "cannot return to " << saved_directory_.u8string();
    }

    std::string Path(const std::string& name) const { return dir_ / name; }

    // Makes the temporary directory the working directory for this test.
    void EnterTempDirectory()
    {
        saved_directory_ = std::filesystem::current_path();
        std::filesystem::current_path(std::filesystem::u8path(dir_.Path()));
    }

    // A file holding content, opened in mode; fails the test otherwise.
    void OpenWith(NPT_File& file, NPT_FileOpenMode mode)
    {
        ASSERT_EQ(NPT_SUCCESS, file.Open(mode)) << file.GetPath().GetChars();
    }

    // Opens file in mode and takes its input stream, its output stream or
    // both into the given handles; fails the test otherwise.
    void OpenForInput(NPT_File& file, NPT_FileOpenMode mode, NPT_InputStreamReference& in)
    {
        ASSERT_NO_FATAL_FAILURE(OpenWith(file, mode));
        ASSERT_EQ(NPT_SUCCESS, file.GetInputStream(in));
    }
    void OpenForOutput(NPT_File& file, NPT_FileOpenMode mode, NPT_OutputStreamReference& out)
    {
        ASSERT_NO_FATAL_FAILURE(OpenWith(file, mode));
        ASSERT_EQ(NPT_SUCCESS, file.GetOutputStream(out));
    }
    void OpenForBoth(NPT_File& file, NPT_FileOpenMode mode, NPT_InputStreamReference& in,
                     NPT_OutputStreamReference& out)
    {
        ASSERT_NO_FATAL_FAILURE(OpenForInput(file, mode, in));
        ASSERT_EQ(NPT_SUCCESS, file.GetOutputStream(out));
    }

    TempDirectory         dir_;
    std::filesystem::path saved_directory_;
};

inline std::string ReadAll(NPT_InputStream& stream)
{
    std::string result;
    char        buffer[7];  // small on purpose: many calls, odd sizes
    NPT_Size    count = 0;
    NPT_Result  rc;
    while ((rc = stream.Read(buffer, sizeof(buffer), &count)) == NPT_SUCCESS) {
        result.append(buffer, count);
    }
    EXPECT_EQ(NPT_ERROR_END_OF_STREAM, rc);
    return result;
}

/*----------------------------------------------------------------------
|   sharing: others may read, not write, while a file is open
+---------------------------------------------------------------------*/
struct SharingCase {
    const char*      name;
    NPT_FileOpenMode held;
    NPT_FileOpenMode second;
    bool             allowed;
};

const NPT_FileOpenMode kAppend = kWrite | NPT_FILE_OPEN_MODE_APPEND;

const SharingCase kSharingCases[] = {
    {"ReadThenRead", kRead, kRead, true},
    {"ReadThenWrite", kRead, kWrite, false},
    {"ReadThenTruncate", kRead, kCreate, false},
    {"ReadThenAppend", kRead, kAppend, false},
    {"WriteThenRead", kWrite, kRead, false},
    {"WriteThenWrite", kWrite, kWrite, false},
    {"TruncateThenRead", kCreate, kRead, false},
    {"AppendThenTruncate", kAppend, kCreate, false},
};

class SharingTest : public FileStreamTest,
                    public ::testing::WithParamInterface<SharingCase> {
protected:
    // The content after the second open: only the holder may have cut it.
    static std::string Expected(const SharingCase& c)
    {
        return (c.held & NPT_FILE_OPEN_MODE_TRUNCATE) ? "" : "original content";
    }
};

/*----------------------------------------------------------------------
|   file-system operations
+---------------------------------------------------------------------*/
const NPT_Int64 kNanos = 1000000000;

class FileSystemTest : public ::testing::Test {
protected:
    ~FileSystemTest() override
    {
        std::error_code error;
        if (!saved_directory_.empty()) std::filesystem::current_path(saved_directory_, error);
        if (error) ADD_FAILURE() << "cannot return to " << saved_directory_.u8string();
    }

    std::string Path(const std::string& name) const { return dir_ / name; }

    void ChangeDirectory(const std::string& path)
    {
        if (saved_directory_.empty()) saved_directory_ = std::filesystem::current_path();
        std::error_code error;
        std::filesystem::current_path(std::filesystem::u8path(path), error);
        ASSERT_FALSE(error) << path;
    }

    // Creates the directory name inside the temporary directory.
    void MakeDir(const std::string& name)
    {
        ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::u8path(Path(name)))) << name;
    }

    std::vector<std::string> List(const std::string& path, NPT_UInt32 start = 0,
                                  NPT_UInt32 max = 0, NPT_Result expected = NPT_SUCCESS)
    {
        NPT_List<NPT_String> entries;
        entries.Add(NPT_String("stale"));  // must be cleared
        EXPECT_EQ(expected, NPT_File::ListDirectory(path.c_str(), entries, start, max)) << path;
        std::vector<std::string> names;
        for (const NPT_String& name : entries) names.push_back(name.GetChars());
        return names;
    }

    TempDirectory         dir_;
    std::filesystem::path saved_directory_;
};

// A record with every field set, to see that a query clears it.
inline NPT_FileInfo DirtyInfo()
{
    NPT_FileInfo info;
    info.m_Type             = NPT_FileInfo::FILE_TYPE_REGULAR;
    info.m_Size             = 42;
    info.m_AttributesMask   = 0xFF;
    info.m_Attributes       = 0xFF;
    info.m_CreationTime     = NPT_TimeStamp::FromSeconds(7);
    info.m_ModificationTime = NPT_TimeStamp::FromSeconds(8);
    return info;
}

inline void ExpectCleared(const NPT_FileInfo& info)
{
    EXPECT_EQ(NPT_FileInfo::FILE_TYPE_NONE, info.m_Type);
    EXPECT_EQ(0u, info.m_Size);
    EXPECT_EQ(0u, info.m_AttributesMask);
    EXPECT_EQ(0u, info.m_Attributes);
    EXPECT_EQ(0, info.m_CreationTime.ToNanoSeconds());
    EXPECT_EQ(0, info.m_ModificationTime.ToNanoSeconds());
}

} // namespace tvk_test_files

#endif // TVK_TEST_FILE_TEST_FIXTURES_H
