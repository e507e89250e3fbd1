// The file-system operations of NPT_File: file information, the working
// directory, directories, removal, renaming, roots and listings, and the
// result codes they give. Windows-only cases are in
// NptFileSystemWin32Test.cpp.
#ifndef _WIN32
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <functional>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "NptFile.h"
#include "TestTempDirectory.h"
#include "FileTestFixtures.h"

using tvk_test::PathExists;
using tvk_test::ReadFileBytes;
using tvk_test::WriteFileBytes;
using namespace tvk_test_files;

namespace {

/*----------------------------------------------------------------------
|   time stamps
+---------------------------------------------------------------------*/
TEST(TimeStampTest, FromSecondsScalesAndHoldsAtTheLimits)
{
    EXPECT_EQ(0, NPT_TimeStamp().ToNanoSeconds());
    EXPECT_EQ(1234567890LL * kNanos, NPT_TimeStamp::FromSeconds(1234567890).ToNanoSeconds());
    EXPECT_EQ(-5 * kNanos, NPT_TimeStamp::FromSeconds(-5).ToNanoSeconds());
    EXPECT_EQ(1234567890, NPT_TimeStamp::FromSeconds(1234567890).ToSeconds());
    // Far beyond the year 2262 the count no longer fits: held, not wrapped.
    EXPECT_EQ(INT64_MAX, NPT_TimeStamp::FromSeconds(INT64_MAX / 2).ToNanoSeconds());
    EXPECT_EQ(INT64_MIN, NPT_TimeStamp::FromSeconds(INT64_MIN / 2).ToNanoSeconds());
}

/*----------------------------------------------------------------------
|   GetInfo
+---------------------------------------------------------------------*/
#ifndef _WIN32  // POSIX modes, times, paths and errno values
TEST_F(FileSystemTest, GetInfoOfARegularFile)
{
    WriteFileBytes(Path("a"), "0123456789");
    // A known modification time with a fraction of a second.
    struct timespec times[2] = {{1000000000, 0}, {1234567890, 500000000}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, Path("a").c_str(), times, 0));

    NPT_FileInfo info = DirtyInfo();
    ASSERT_EQ(NPT_SUCCESS, NPT_File::GetInfo(Path("a").c_str(), &info));
    EXPECT_EQ(NPT_FileInfo::FILE_TYPE_REGULAR, info.m_Type);
    EXPECT_EQ(10u, info.m_Size);
    EXPECT_EQ(NPT_FileInfo::ATTRIBUTE_READ_ONLY, info.m_AttributesMask);
    EXPECT_EQ(0u, info.m_Attributes);
    // Whole seconds: the fraction is dropped.
    EXPECT_EQ(1234567890LL * kNanos, info.m_ModificationTime.ToNanoSeconds());
    EXPECT_GT(info.m_CreationTime.ToNanoSeconds(), 0);
    EXPECT_EQ(0, info.m_CreationTime.ToNanoSeconds() % kNanos);

    // Without a record only existence is tested.
    EXPECT_EQ(NPT_SUCCESS, NPT_File::GetInfo(Path("a").c_str(), nullptr));
    EXPECT_EQ(NPT_ERROR_NO_SUCH_FILE, NPT_File::GetInfo(Path("b").c_str(), nullptr));
}

TEST_F(FileSystemTest, ReadOnlyAttributeFollowsTheOwnerWriteBit)
{
    WriteFileBytes(Path("a"), "x");
    struct Case { mode_t mode; NPT_UInt32 attributes; };
    const Case cases[] = {
        {0444, NPT_FileInfo::ATTRIBUTE_READ_ONLY},
        {0644, 0},
        {0200, 0},
        {0077, NPT_FileInfo::ATTRIBUTE_READ_ONLY},  // others may write, the owner not
    };
    for (const Case& c : cases) {
        ASSERT_EQ(0, chmod(Path("a").c_str(), c.mode));
        NPT_FileInfo info;
        ASSERT_EQ(NPT_SUCCESS, NPT_File::GetInfo(Path("a").c_str(), &info));
        EXPECT_EQ(NPT_FileInfo::ATTRIBUTE_READ_ONLY, info.m_AttributesMask) << std::oct << c.mode;
        EXPECT_EQ(c.attributes, info.m_Attributes) << std::oct << c.mode;
    }
}

TEST_F(FileSystemTest, GetInfoIgnoresTrailingSeparatorsButKeepsTheRoot)
{
    ASSERT_EQ(0, mkdir(Path("sub").c_str(), 0755));
    WriteFileBytes(Path("file"), "abc");
    struct Case { std::string path; NPT_FileInfo::FileType type; };
    const Case cases[] = {
        {Path("sub"), NPT_FileInfo::FILE_TYPE_DIRECTORY},
        {Path("sub") + "/", NPT_FileInfo::FILE_TYPE_DIRECTORY},
        {Path("sub") + "//", NPT_FileInfo::FILE_TYPE_DIRECTORY},
        {Path("file") + "/", NPT_FileInfo::FILE_TYPE_REGULAR},
        {"/", NPT_FileInfo::FILE_TYPE_DIRECTORY},
        {"///", NPT_FileInfo::FILE_TYPE_DIRECTORY},
        {"/dev/null", NPT_FileInfo::FILE_TYPE_OTHER},
    };
    for (const Case& c : cases) {
        NPT_FileInfo info;
        EXPECT_EQ(NPT_SUCCESS, NPT_File::GetInfo(c.path.c_str(), &info)) << c.path;
        EXPECT_EQ(c.type, info.m_Type) << c.path;
    }
}

TEST_F(FileSystemTest, FailedGetInfoLeavesAClearedRecord)
{
    WriteFileBytes(Path("file"), "x");
    struct Case { const char* path; NPT_Result result; };
    const std::string missing = Path("missing");
    const std::string under_file = Path("file") + "/child";
    const std::string long_name = Path(std::string(300, 'n'));
    const Case cases[] = {
        {missing.c_str(), NPT_ERROR_NO_SUCH_FILE},
        {"", NPT_ERROR_NO_SUCH_FILE},
        {under_file.c_str(), NPT_ERROR_FILE_NOT_DIRECTORY},
        {long_name.c_str(), NPT_ERROR_INVALID_PARAMETERS},  // name too long
        {nullptr, NPT_ERROR_INVALID_PARAMETERS},
    };
    for (const Case& c : cases) {
        NPT_FileInfo info = DirtyInfo();
        EXPECT_EQ(c.result, NPT_File::GetInfo(c.path, &info)) << (c.path ? c.path : "(null)");
        ExpectCleared(info);
    }
}

TEST_F(FileSystemTest, GetInfoFollowsSymbolicLinksAndReportsLoops)
{
    WriteFileBytes(Path("target"), "12345");
    ASSERT_EQ(0, symlink("target", Path("link").c_str()));
    NPT_FileInfo info;
    ASSERT_EQ(NPT_SUCCESS, NPT_File::GetInfo(Path("link").c_str(), &info));
    EXPECT_EQ(NPT_FileInfo::FILE_TYPE_REGULAR, info.m_Type);
    EXPECT_EQ(5u, info.m_Size);

    ASSERT_EQ(0, symlink("loop", Path("loop").c_str()));
    // ELOOP is in neither table: it travels in the errno family.
    EXPECT_EQ(NPT_ERROR_BASE_ERRNO - ELOOP, NPT_File::GetInfo(Path("loop").c_str(), &info));
}
#endif

/*----------------------------------------------------------------------
|   working directory and roots
+---------------------------------------------------------------------*/
#ifndef _WIN32  // POSIX paths, roots and errno values
TEST_F(FileSystemTest, WorkingDirectoryIsReportedWhole)
{
    const std::string name = "répertoire-日本";
    ASSERT_EQ(0, mkdir(Path(name).c_str(), 0755));
    ChangeDirectory(Path(name));
    NPT_String path("unchanged?");
    ASSERT_EQ(NPT_SUCCESS, NPT_File::GetWorkingDirectory(path));
    EXPECT_EQ(Path(name), path.GetChars());

    // Deeper than 1024 bytes still works here.
    std::string deep = Path(name);
    while (deep.size() <= 1100) {
        deep += "/" + std::string(100, 'd');
        ASSERT_EQ(0, mkdir(deep.c_str(), 0755));
    }
    ChangeDirectory(deep);
    ASSERT_EQ(NPT_SUCCESS, NPT_File::GetWorkingDirectory(path));
    EXPECT_EQ(deep, path.GetChars());
}

TEST_F(FileSystemTest, RemovedWorkingDirectoryFailsAndLeavesThePath)
{
    ASSERT_EQ(0, mkdir(Path("gone").c_str(), 0755));
    ChangeDirectory(Path("gone"));
    ASSERT_EQ(0, rmdir(Path("gone").c_str()));
    NPT_String path("unchanged");
    EXPECT_EQ(NPT_ERROR_NO_SUCH_FILE, NPT_File::GetWorkingDirectory(path));
    EXPECT_STREQ("unchanged", path.GetChars());
}

TEST_F(FileSystemTest, RootsAreTheOneRootAndSeparatorIsSlash)
{
    NPT_List<NPT_String> roots;
    roots.Add(NPT_String("stale"));
    EXPECT_EQ(NPT_SUCCESS, NPT_File::GetRoots(roots));
    ASSERT_EQ(1u, roots.GetItemCount());
    EXPECT_STREQ("/", roots.GetFirstItem()->GetChars());
    EXPECT_STREQ("/", NPT_File::Separator);
}

/*----------------------------------------------------------------------
|   directories, removal, renaming
+---------------------------------------------------------------------*/
// Each operation against each kind of wrong path, and the code it gives.
TEST_F(FileSystemTest, OperationsMapTheirErrorsByMeaning)
{
    ASSERT_EQ(0, mkdir(Path("full").c_str(), 0755));
    WriteFileBytes(Path("full/inside"), "x");
    ASSERT_EQ(0, mkdir(Path("empty").c_str(), 0755));
    WriteFileBytes(Path("file"), "x");
    const std::string too_long = Path(std::string(300, 'n'));

    struct Case {
        const char* what;
        NPT_Result  (*operation)(const char*);
        std::string path;
        NPT_Result  result;
    };
    const Case cases[] = {
        {"mkdir existing dir", NPT_File::MakeDirectory, Path("empty"), NPT_ERROR_FILE_ALREADY_EXISTS},
        {"mkdir existing file", NPT_File::MakeDirectory, Path("file"), NPT_ERROR_FILE_ALREADY_EXISTS},
        {"mkdir missing parent", NPT_File::MakeDirectory, Path("no/d"), NPT_ERROR_NO_SUCH_FILE},
        {"mkdir under a file", NPT_File::MakeDirectory, Path("file/d"), NPT_ERROR_FILE_NOT_DIRECTORY},
        {"mkdir name too long", NPT_File::MakeDirectory, too_long, NPT_ERROR_INVALID_PARAMETERS},
        {"rmdir not empty", NPT_File::DeleteDirectory, Path("full"), NPT_ERROR_DIRECTORY_NOT_EMPTY},
        {"rmdir missing", NPT_File::DeleteDirectory, Path("missing"), NPT_ERROR_NO_SUCH_FILE},
        {"rmdir a file", NPT_File::DeleteDirectory, Path("file"), NPT_ERROR_FILE_NOT_DIRECTORY},
        {"unlink missing", NPT_File::RemoveFile, Path("missing"), NPT_ERROR_NO_SUCH_FILE},
        {"unlink a directory", NPT_File::RemoveFile, Path("empty"), NPT_ERROR_PERMISSION_DENIED},
        {"unlink under a file", NPT_File::RemoveFile, Path("file/x"), NPT_ERROR_FILE_NOT_DIRECTORY},
        {"unlink empty path", NPT_File::RemoveFile, "", NPT_ERROR_NO_SUCH_FILE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, c.operation(c.path.c_str())) << c.what;
    }
    // Nothing was removed on the way.
    EXPECT_EQ("x", ReadFileBytes(Path("full/inside")));
    EXPECT_TRUE(PathExists(Path("empty")));
    EXPECT_TRUE(PathExists(Path("file")));

    for (auto operation : {NPT_File::MakeDirectory, NPT_File::DeleteDirectory, NPT_File::RemoveFile}) {
        EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, operation(nullptr));
    }
}

TEST_F(FileSystemTest, AccessRefusedIsPermissionDenied)
{
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the super-user";
    ASSERT_EQ(0, mkdir(Path("locked").c_str(), 0755));
    WriteFileBytes(Path("locked/file"), "x");
    ASSERT_EQ(0, mkdir(Path("locked/sub").c_str(), 0755));
    ASSERT_EQ(0, chmod(Path("locked").c_str(), 0555));
    EXPECT_EQ(NPT_ERROR_PERMISSION_DENIED, NPT_File::MakeDirectory(Path("locked/new").c_str()));
    EXPECT_EQ(NPT_ERROR_PERMISSION_DENIED, NPT_File::RemoveFile(Path("locked/file").c_str()));
    EXPECT_EQ(NPT_ERROR_PERMISSION_DENIED, NPT_File::DeleteDirectory(Path("locked/sub").c_str()));
    EXPECT_EQ(NPT_ERROR_PERMISSION_DENIED,
              NPT_File::Rename(Path("locked/file").c_str(), Path("moved").c_str()));
    ASSERT_EQ(0, chmod(Path("locked").c_str(), 0));
    EXPECT_EQ(NPT_ERROR_PERMISSION_DENIED, NPT_File::GetInfo(Path("locked/file").c_str()));
    NPT_List<NPT_String> entries;
    EXPECT_EQ(NPT_ERROR_PERMISSION_DENIED, NPT_File::ListDirectory(Path("locked").c_str(), entries));
}
#endif

TEST_F(FileSystemTest, RenameMovesFilesAndDirectories)
{
    WriteFileBytes(Path("a"), "content of a");
    MakeDir("d");
    WriteFileBytes(Path("d/inner"), "inner");

    EXPECT_EQ(NPT_SUCCESS, NPT_File::Rename(Path("a").c_str(), Path("d/b").c_str()));
    EXPECT_FALSE(PathExists(Path("a")));
    EXPECT_EQ("content of a", ReadFileBytes(Path("d/b")));

    EXPECT_EQ(NPT_SUCCESS, NPT_File::Rename(Path("d").c_str(), Path("e").c_str()));
    EXPECT_EQ("inner", ReadFileBytes(Path("e/inner")));
    EXPECT_FALSE(PathExists(Path("d")));
}

TEST_F(FileSystemTest, RenameNeverReplacesAnExistingTarget)
{
    WriteFileBytes(Path("a"), "content of a");
    WriteFileBytes(Path("b"), "content of b");
    MakeDir("empty");
    MakeDir("other");

    struct Case { const char* from; const char* to; };
    const Case cases[] = {
        {"a", "b"},          // file onto file
#ifndef _WIN32
        {"a", "a"},          // onto itself (MoveFileW takes that as a move that changes nothing)
#endif
        {"a", "empty"},      // file onto directory
        {"other", "empty"},  // directory onto empty directory
        {"other", "b"},      // directory onto file
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NPT_ERROR_FILE_ALREADY_EXISTS, NPT_File::Rename(Path(c.from).c_str(), Path(c.to).c_str()))
            << c.from << " -> " << c.to;
    }
    EXPECT_EQ("content of a", ReadFileBytes(Path("a")));
    EXPECT_EQ("content of b", ReadFileBytes(Path("b")));
    EXPECT_TRUE(PathExists(Path("empty")));
    EXPECT_TRUE(PathExists(Path("other")));
}

TEST_F(FileSystemTest, RenameErrors)
{
    WriteFileBytes(Path("a"), "x");
    EXPECT_EQ(NPT_ERROR_NO_SUCH_FILE, NPT_File::Rename(Path("missing").c_str(), Path("b").c_str()));
    EXPECT_EQ(NPT_ERROR_NO_SUCH_FILE, NPT_File::Rename(Path("a").c_str(), Path("no/b").c_str()));
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, NPT_File::Rename(nullptr, Path("b").c_str()));
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, NPT_File::Rename(Path("a").c_str(), nullptr));
    EXPECT_EQ("x", ReadFileBytes(Path("a")));
}

#ifndef _WIN32  // seccomp
// Where renameat2 is missing (old kernels, filtered system calls), the
// moves fall back to link and unlink, or a checked rename for
// directories, with the same results. The child process below loses
// renameat2 to a seccomp filter and runs the rename cases there; it
// exits with the number of the first check that failed.
TEST_F(FileSystemTest, RenameWithoutRenameat2KeepsItsContract)
{
#if defined(SYS_renameat2) && defined(__x86_64__)
    WriteFileBytes(Path("a"), "content of a");
    WriteFileBytes(Path("b"), "content of b");
    ASSERT_EQ(0, mkdir(Path("d").c_str(), 0755));
    ASSERT_EQ(0, mkdir(Path("e").c_str(), 0755));

    std::function<int()> body = [&]() -> int {
        struct sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_renameat2, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (ENOSYS & SECCOMP_RET_DATA)),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        struct sock_fprog program = {static_cast<unsigned short>(sizeof(filter) / sizeof(filter[0])),
                                     filter};
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return 100;
        if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) return 100;
        if (syscall(SYS_renameat2, AT_FDCWD, "x", AT_FDCWD, "y", 0) == 0 || errno != ENOSYS) return 101;

        int check = 0;
        auto rename = [&](const char* from, const char* to) {
            return NPT_File::Rename(Path(from).c_str(), Path(to).c_str());
        };
        if (++check, rename("a", "b") != NPT_ERROR_FILE_ALREADY_EXISTS) return check;
        if (++check, rename("d", "e") != NPT_ERROR_FILE_ALREADY_EXISTS) return check;
        if (++check, rename("d", "b") != NPT_ERROR_FILE_ALREADY_EXISTS) return check;
        if (++check, rename("missing", "c") != NPT_ERROR_NO_SUCH_FILE) return check;
        if (++check, rename("a", "c") != NPT_SUCCESS) return check;
        if (++check, PathExists(Path("a")) || ReadFileBytes(Path("c")) != "content of a") return check;
        if (++check, rename("d", "f") != NPT_SUCCESS) return check;
        if (++check, PathExists(Path("d")) || !PathExists(Path("f"))) return check;
        if (++check, ReadFileBytes(Path("b")) != "content of b") return check;
        return 0;
    };
    fflush(nullptr);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(body());
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 100) GTEST_SKIP() << "no seccomp filters here";
    EXPECT_EQ(0, WEXITSTATUS(status)) << "first failed check";
#else
    GTEST_SKIP() << "the filter is written for x86-64";
#endif
}
#endif

/*----------------------------------------------------------------------
|   ListDirectory
+---------------------------------------------------------------------*/
TEST_F(FileSystemTest, ListDirectoryAppliesStartAndMaxToTheSystemOrder)
{
    for (int i = 0; i < 10; ++i) WriteFileBytes(Path("f" + std::to_string(i)), "");
    const std::vector<std::string> all = List(dir_.Path());
    ASSERT_EQ(10u, all.size());
    std::vector<std::string> sorted = all;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ("f0", sorted.front());
    EXPECT_EQ("f9", sorted.back());

    struct Case { NPT_UInt32 start, max; size_t first, count; };
    const Case cases[] = {
        {2, 3, 2, 3},   // the 3rd to the 5th
        {2, 0, 2, 8},   // max 0: everything from the 3rd on
        {0, 1, 0, 1},
        {9, 5, 9, 1},   // max beyond what is left
        {10, 0, 10, 0}, // start at the end
        {50, 2, 10, 0}, // start beyond the end
    };
    for (const Case& c : cases) {
        std::vector<std::string> expected(all.begin() + c.first, all.begin() + c.first + c.count);
        EXPECT_EQ(expected, List(dir_.Path(), c.start, c.max)) << c.start << "/" << c.max;
    }
    // A trailing separator lists the same directory.
    EXPECT_EQ(all, List(dir_.Path() + "/"));
}

TEST_F(FileSystemTest, ListDirectorySkipsOnlyTheDotEntries)
{
    EXPECT_TRUE(List(dir_.Path()).empty());  // no "." and no ".."
    MakeDir("sub");
    WriteFileBytes(Path(".hidden"), "");
    std::vector<std::string> names = List(dir_.Path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{".hidden", "sub"}), names);
}

TEST_F(FileSystemTest, ListDirectoryErrors)
{
    WriteFileBytes(Path("file"), "");
    EXPECT_TRUE(List("", 0, 0, NPT_ERROR_INVALID_PARAMETERS).empty());
    EXPECT_TRUE(List(Path("missing"), 0, 0, NPT_ERROR_NO_SUCH_FILE).empty());
#ifndef _WIN32
    EXPECT_TRUE(List(Path("file"), 0, 0, NPT_ERROR_FILE_NOT_DIRECTORY).empty());
#endif
    NPT_List<NPT_String> entries;
    entries.Add(NPT_String("stale"));
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, NPT_File::ListDirectory(nullptr, entries));
    EXPECT_EQ(0u, entries.GetItemCount());
}

/*----------------------------------------------------------------------
|   names outside ASCII
+---------------------------------------------------------------------*/
TEST_F(FileSystemTest, NamesOutsideAsciiTravelAsCompleteUtf8)
{
    const std::vector<std::string> names = {
        "é",
        "日本語のファイル名.txt",
        "emoji-\xF0\x9F\x94\x90",                 // outside the basic plane
        std::string(60, 'x') + "Ω" + std::string(40, 'y') + "ü",
    };
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string path = Path(names[i]);
        NPT_File file(path.c_str());
        ASSERT_EQ(NPT_SUCCESS, file.Open(NPT_FILE_OPEN_MODE_WRITE | NPT_FILE_OPEN_MODE_CREATE))
            << names[i];
        NPT_OutputStreamReference out;
        ASSERT_EQ(NPT_SUCCESS, file.GetOutputStream(out));
        ASSERT_EQ(NPT_SUCCESS, out->WriteFully(names[i].data(), static_cast<NPT_Size>(names[i].size())));
    }
    std::vector<std::string> listed = List(dir_.Path());
    std::sort(listed.begin(), listed.end());
    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, listed);

    for (const std::string& name : names) {
        NPT_FileInfo info;
        ASSERT_EQ(NPT_SUCCESS, NPT_File::GetInfo(Path(name).c_str(), &info)) << name;
        EXPECT_EQ(name.size(), info.m_Size) << name;
        EXPECT_EQ(name, ReadFileBytes(Path(name)));
    }
    const std::string moved = "déplacé-→";
    EXPECT_EQ(NPT_SUCCESS, NPT_File::Rename(Path(names[1]).c_str(), Path(moved).c_str()));
    EXPECT_EQ(names[1], ReadFileBytes(Path(moved)));
    EXPECT_EQ(NPT_SUCCESS, NPT_File::RemoveFile(Path(moved).c_str()));
    EXPECT_EQ(NPT_SUCCESS, NPT_File::MakeDirectory(Path("ディレクトリ").c_str()));
    EXPECT_EQ(NPT_SUCCESS, NPT_File::DeleteDirectory(Path("ディレクトリ").c_str()));
}

}  // namespace
