// File-system operations where only Windows behaves so: drive roots and
// the "\" separator, file information from _wstat64 (read-only
// attribute, 64-bit sizes, whole-second times, drive and backslash
// paths), the Win32 error numbers real failing calls return and the
// codes they become, MoveFileW never replacing a target, names outside
// ASCII through UTF-16, and paths that are not UTF-8.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FileTestFixtures.h"
#include "NptFile.h"
#include "TestTempDirectory.h"
#include "Win32ChildProcess.h"

using tvk_test::PathExists;
using tvk_test::ReadFileBytes;
using tvk_test::WriteFileBytes;
using tvk_test_win32::Narrow;
using tvk_test_win32::Widen;
using namespace tvk_test_files;

namespace {

std::string WithBackslashes(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

NPT_FileInfo::FileType TypeOf(const std::string& path, NPT_Result expected = NPT_SUCCESS)
{
    NPT_FileInfo info;
    EXPECT_EQ(expected, NPT_File::GetInfo(path.c_str(), &info)) << path;
    return info.m_Type;
}

/*----------------------------------------------------------------------
|   separator and roots
+---------------------------------------------------------------------*/
TEST_F(FileSystemTest, RootsAreThePresentDrivesAndSeparatorIsBackslash)
{
    EXPECT_STREQ("\\", NPT_File::Separator);

    NPT_List<NPT_String> roots;
    roots.Add(NPT_String("stale"));
    ASSERT_EQ(NPT_SUCCESS, NPT_File::GetRoots(roots));
    std::vector<std::string> listed;
    for (const NPT_String& root : roots) listed.push_back(root.GetChars());

    // Every root is "X:\", in letter order, and is a directory.
    ASSERT_FALSE(listed.empty());
    EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end()));
    for (const std::string& root : listed) {
        ASSERT_EQ(3u, root.size()) << root;
        EXPECT_TRUE(root[0] >= 'A' && root[0] <= 'Z') << root;
        EXPECT_EQ(":\\", root.substr(1)) << root;
        EXPECT_EQ(NPT_FileInfo::FILE_TYPE_DIRECTORY, TypeOf(root)) << root;
    }
    // The drive of the temporary directory is among them.
    const std::string own_root =
        std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(dir_.Path()[0])))) + ":\\";
    EXPECT_NE(listed.end(), std::find(listed.begin(), listed.end(), own_root)) << own_root;
}

/*----------------------------------------------------------------------
|   GetInfo
+---------------------------------------------------------------------*/
TEST_F(FileSystemTest, GetInfoOfDrivesTrailingSeparatorsAndBackslashPaths)
{
    MakeDir("sub");
    WriteFileBytes(Path("file"), "abc");
    const std::string drive = dir_.Path().substr(0, 2);  // e.g. "C:"
    struct Case { std::string path; NPT_FileInfo::FileType type; };
    const Case cases[] = {
        {drive, NPT_FileInfo::FILE_TYPE_DIRECTORY},          // a bare drive is its root
        {drive + "\\", NPT_FileInfo::FILE_TYPE_DIRECTORY},
        {drive + "/", NPT_FileInfo::FILE_TYPE_DIRECTORY},
        {"\\", NPT_FileInfo::FILE_TYPE_DIRECTORY},           // the current drive's root
        {"/", NPT_FileInfo::FILE_TYPE_DIRECTORY},
        {Path("sub") + "\\\\", NPT_FileInfo::FILE_TYPE_DIRECTORY},
        {Path("sub") + "/", NPT_FileInfo::FILE_TYPE_DIRECTORY},
        {WithBackslashes(Path("sub")), NPT_FileInfo::FILE_TYPE_DIRECTORY},
        {WithBackslashes(Path("file")), NPT_FileInfo::FILE_TYPE_REGULAR},
        {Path("file") + "\\", NPT_FileInfo::FILE_TYPE_REGULAR},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.type, TypeOf(c.path)) << c.path;
    }
}

TEST_F(FileSystemTest, GetInfoReportsSizeReadOnlyAttributeAndWholeSecondTimes)
{
    WriteFileBytes(Path("a"), "0123456789");
    const std::wstring wide = Widen(Path("a"));

    NPT_FileInfo info = DirtyInfo();
    ASSERT_EQ(NPT_SUCCESS, NPT_File::GetInfo(Path("a").c_str(), &info));
    EXPECT_EQ(NPT_FileInfo::FILE_TYPE_REGULAR, info.m_Type);
    EXPECT_EQ(10u, info.m_Size);
    EXPECT_EQ(NPT_FileInfo::ATTRIBUTE_READ_ONLY, info.m_AttributesMask);
    EXPECT_EQ(0u, info.m_Attributes);
    EXPECT_GT(info.m_CreationTime.ToNanoSeconds(), 0);
    EXPECT_EQ(0, info.m_CreationTime.ToNanoSeconds() % kNanos);
    EXPECT_EQ(0, info.m_ModificationTime.ToNanoSeconds() % kNanos);

    ASSERT_TRUE(SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_EQ(NPT_SUCCESS, NPT_File::GetInfo(Path("a").c_str(), &info));
    EXPECT_EQ(NPT_FileInfo::ATTRIBUTE_READ_ONLY, info.m_Attributes);
    ASSERT_TRUE(SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL));

    // Sizes beyond 4 GiB (sparse where the file system allows).
    const NPT_LargeSize large = (NPT_LargeSize(5) << 30) + 7;
    std::error_code error;
    std::filesystem::resize_file(std::filesystem::u8path(Path("a")), large, error);
    if (!error) {
        ASSERT_EQ(NPT_SUCCESS, NPT_File::GetInfo(Path("a").c_str(), &info));
        EXPECT_EQ(large, info.m_Size);
    }

    // Failures leave a cleared record; a null record tests existence.
    info = DirtyInfo();
    EXPECT_EQ(NPT_ERROR_NO_SUCH_FILE, NPT_File::GetInfo(Path("missing").c_str(), &info));
    ExpectCleared(info);
    EXPECT_EQ(NPT_SUCCESS, NPT_File::GetInfo(Path("a").c_str(), nullptr));
    EXPECT_EQ(NPT_ERROR_NO_SUCH_FILE, NPT_File::GetInfo(Path("missing").c_str(), nullptr));
}

/*----------------------------------------------------------------------
|   working directory
+---------------------------------------------------------------------*/
TEST_F(FileSystemTest, WorkingDirectoryComesBackAsUtf8)
{
    const std::string name = "répertoire-日本-\xF0\x9F\x94\x90";
    MakeDir(name);
    ChangeDirectory(Path(name));
    NPT_String path("unchanged?");
    ASSERT_EQ(NPT_SUCCESS, NPT_File::GetWorkingDirectory(path));
    // The system's own spelling of the directory, as UTF-8.
    wchar_t buffer[2048];
    ASSERT_GT(GetCurrentDirectoryW(2048, buffer), 0u);
    EXPECT_EQ(Narrow(buffer), path.GetChars());
    EXPECT_EQ(WithBackslashes(Path(name)), WithBackslashes(path.GetChars()));
}

/*----------------------------------------------------------------------
|   Win32 errors
+---------------------------------------------------------------------*/
// Each operation against each kind of wrong path: the Win32 error the
// system call itself gives, and the code the operation returns for it.
TEST_F(FileSystemTest, RealWin32ErrorsMapToTheirCodes)
{
    MakeDir("full");
    WriteFileBytes(Path("full/inside"), "x");
    MakeDir("empty");
    WriteFileBytes(Path("file"), "x");
    WriteFileBytes(Path("held"), "x");
    NPT_File held(Path("held").c_str());
    ASSERT_EQ(NPT_SUCCESS, held.Open(NPT_FILE_OPEN_MODE_READ));

    auto make   = [](const std::wstring& p) { return CreateDirectoryW(p.c_str(), nullptr); };
    auto remove = [](const std::wstring& p) { return RemoveDirectoryW(p.c_str()); };
    auto erase  = [](const std::wstring& p) { return DeleteFileW(p.c_str()); };
    struct Case {
        const char*                               what;
        std::function<BOOL(const std::wstring&)>  call;
        NPT_Result                                (*operation)(const char*);
        std::string                               path;
        DWORD                                     error;
        NPT_Result                                result;
    };
    const Case cases[] = {
        {"mkdir existing dir", make, NPT_File::MakeDirectory, Path("empty"), ERROR_ALREADY_EXISTS,
         NPT_ERROR_FILE_ALREADY_EXISTS},
        {"mkdir existing file", make, NPT_File::MakeDirectory, Path("file"), ERROR_ALREADY_EXISTS,
         NPT_ERROR_FILE_ALREADY_EXISTS},
        {"mkdir missing parent", make, NPT_File::MakeDirectory, Path("no/d"), ERROR_PATH_NOT_FOUND,
         NPT_ERROR_NO_SUCH_FILE},
        {"rmdir not empty", remove, NPT_File::DeleteDirectory, Path("full"), ERROR_DIR_NOT_EMPTY,
         NPT_ERROR_DIRECTORY_NOT_EMPTY},
        {"rmdir missing", remove, NPT_File::DeleteDirectory, Path("missing"), ERROR_FILE_NOT_FOUND,
         NPT_ERROR_NO_SUCH_FILE},
        {"delete missing", erase, NPT_File::RemoveFile, Path("missing"), ERROR_FILE_NOT_FOUND,
         NPT_ERROR_NO_SUCH_FILE},
        {"delete in missing dir", erase, NPT_File::RemoveFile, Path("no/x"), ERROR_PATH_NOT_FOUND,
         NPT_ERROR_NO_SUCH_FILE},
        {"delete a directory", erase, NPT_File::RemoveFile, Path("empty"), ERROR_ACCESS_DENIED,
         NPT_ERROR_PERMISSION_DENIED},
        {"delete a file open here", erase, NPT_File::RemoveFile, Path("held"), ERROR_SHARING_VIOLATION,
         NPT_ERROR_FILE_BUSY},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(c.call(Widen(c.path))) << c.what;
        EXPECT_EQ(c.error, GetLastError()) << c.what;
        EXPECT_EQ(c.result, NPT_MapWin32Error(c.error)) << c.what;
        EXPECT_EQ(c.result, c.operation(c.path.c_str())) << c.what;
    }
    // Nothing was removed on the way.
    EXPECT_EQ("x", ReadFileBytes(Path("full/inside")));
    EXPECT_EQ("x", ReadFileBytes(Path("held")));
    EXPECT_TRUE(PathExists(Path("empty")));

    NPT_List<NPT_String> entries;
    EXPECT_EQ(NPT_ERROR_NO_SUCH_FILE, NPT_File::ListDirectory(Path("missing").c_str(), entries));
    EXPECT_EQ(NPT_ERROR_NO_SUCH_FILE, NPT_File::ListDirectory(Path("no/such/dir").c_str(), entries));
}

TEST_F(FileSystemTest, MoveFileWNeverReplacesAnExistingTarget)
{
    WriteFileBytes(Path("a"), "content of a");
    WriteFileBytes(Path("b"), "content of b");
    MakeDir("empty");
    MakeDir("other");
    struct Case { const char* from; const char* to; };
    const Case cases[] = {
        {"a", "b"},          // file onto file
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

    // A move that replaces nothing succeeds, with backslashes too.
    EXPECT_EQ(NPT_SUCCESS, NPT_File::Rename(WithBackslashes(Path("a")).c_str(),
                                            WithBackslashes(Path("other/c")).c_str()));
    EXPECT_EQ("content of a", ReadFileBytes(Path("other/c")));
}

/*----------------------------------------------------------------------
|   listings and names
+---------------------------------------------------------------------*/
TEST_F(FileSystemTest, ListDirectoryWithEitherSeparatorOrNone)
{
    MakeDir("d");
    for (const char* name : {"x", "y", "z"}) WriteFileBytes(Path(std::string("d/") + name), "");
    const std::vector<std::string> expected = {"x", "y", "z"};
    for (const std::string& path : {Path("d"), Path("d") + "\\", Path("d") + "/", WithBackslashes(Path("d"))}) {
        std::vector<std::string> names = List(path);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(expected, names) << path;
    }
}

// Names made by the system from UTF-16 come back as complete UTF-8, and
// names made here reach the system as their UTF-16 form.
TEST_F(FileSystemTest, NamesRoundTripThroughUtf16)
{
    const std::vector<std::wstring> wide_names = {
        L"\u00e9t\u00e9", L"\u65e5\u672c\u8a9e", L"\U0001F510-key", std::wstring(100, L'\u00fc'),
    };
    for (const std::wstring& name : wide_names) {
        HANDLE handle = CreateFileW((Widen(dir_.Path()) + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, handle);
        CloseHandle(handle);
    }
    std::vector<std::string> listed = List(dir_.Path());
    std::sort(listed.begin(), listed.end());
    std::vector<std::string> expected;
    for (const std::wstring& name : wide_names) expected.push_back(Narrow(name));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, listed);

    // And back: each listed name opens, renames and is removed by itself.
    for (const std::string& name : listed) {
        EXPECT_EQ(NPT_SUCCESS, NPT_File::GetInfo(Path(name).c_str())) << name;
        EXPECT_EQ(NPT_SUCCESS, NPT_File::Rename(Path(name).c_str(), Path(name + "\xC3\xB8").c_str())) << name;
        EXPECT_EQ(NPT_SUCCESS, NPT_File::RemoveFile(Path(name + "\xC3\xB8").c_str())) << name;
    }
    EXPECT_TRUE(List(dir_.Path()).empty());
}

// Bytes that are not UTF-8 would become U+FFFD on the way to the system,
// naming some other file: every operation refuses them before any call.
TEST_F(FileSystemTest, PathsThatAreNotUtf8AreRefusedByEveryOperation)
{
    const std::string bad = Path("bad\xFF");
    // The name the lossy conversion would have produced exists.
    WriteFileBytes(Path("bad\xEF\xBF\xBD"), "replacement");

    NPT_FileInfo info = DirtyInfo();
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, NPT_File::GetInfo(bad.c_str(), &info));
    ExpectCleared(info);
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, NPT_File::MakeDirectory(bad.c_str()));
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, NPT_File::DeleteDirectory(bad.c_str()));
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, NPT_File::RemoveFile(bad.c_str()));
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, NPT_File::Rename(bad.c_str(), Path("new").c_str()));
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, NPT_File::Rename(Path("bad\xEF\xBF\xBD").c_str(), bad.c_str()));
    NPT_List<NPT_String> entries;
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, NPT_File::ListDirectory(bad.c_str(), entries));
    NPT_File file(bad.c_str());
    EXPECT_EQ(NPT_ERROR_NO_SUCH_FILE, file.Open(NPT_FILE_OPEN_MODE_READ));

    EXPECT_EQ("replacement", ReadFileBytes(Path("bad\xEF\xBF\xBD")));
    EXPECT_EQ(std::vector<std::string>{"bad\xEF\xBF\xBD"}, List(dir_.Path()));
}

}  // namespace
