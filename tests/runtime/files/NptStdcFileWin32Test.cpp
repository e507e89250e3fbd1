// Files and their streams where only Windows behaves so: byte-exact
// content (no byte-order marks, no CR/LF or Ctrl-Z translation), share
// modes against other handles and other processes, binary standard
// streams through pipes, backslash and drive paths, and names that are
// not UTF-8.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
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
using tvk_test_win32::RunChild;
using tvk_test_win32::Widen;
using namespace tvk_test_files;

namespace {

// Child role: opens ARG1 in mode ARG2 through NPT_File; exits 0 when
// it opened, 1 when refused with NPT_ERROR_NO_SUCH_FILE, 2 otherwise.
const bool kOpenRole = tvk_test_win32::RegisterChildRole(
    "open", [](const std::string& path, const std::string& mode) {
        NPT_File   file(path.c_str());
        NPT_Result rc = file.Open(static_cast<NPT_FileOpenMode>(std::stoul(mode)));
        return rc == NPT_SUCCESS ? 0 : rc == NPT_ERROR_NO_SUCH_FILE ? 1 : 2;
    });

// Child role: copies "@STDIN" to "@STDOUT" through the file streams;
// exits 0 on success, else the step that failed.
const bool kCopyRole = tvk_test_win32::RegisterChildRole(
    "copy-standard-streams", [](const std::string&, const std::string&) {
        NPT_File input(NPT_FILE_STANDARD_INPUT);
        NPT_File output(NPT_FILE_STANDARD_OUTPUT);
        if (input.Open(NPT_FILE_OPEN_MODE_READ) != NPT_SUCCESS) return 10;
        if (output.Open(NPT_FILE_OPEN_MODE_WRITE) != NPT_SUCCESS) return 11;
        NPT_InputStreamReference  in;
        NPT_OutputStreamReference out;
        if (input.GetInputStream(in) != NPT_SUCCESS) return 12;
        if (output.GetOutputStream(out) != NPT_SUCCESS) return 13;
        char       buffer[7];  // many reads, so a Ctrl-Z would end one early
        NPT_Size   count = 0;
        NPT_Result rc;
        while ((rc = in->Read(buffer, sizeof(buffer), &count)) == NPT_SUCCESS) {
            if (out->WriteFully(buffer, count) != NPT_SUCCESS) return 14;
        }
        if (rc != NPT_ERROR_END_OF_STREAM) return 15;
        return out->Flush() == NPT_SUCCESS ? 0 : 16;
    });

// Bytes a text-mode runtime would change: byte-order marks at the start,
// CR, LF, CR LF, Ctrl-Z (0x1A) and NUL.
const std::string kTextTraps[] = {
    std::string("\xFF\xFE" "after a UTF-16 mark", 21),
    std::string("\xEF\xBB\xBF" "after a UTF-8 mark", 21),
    std::string("\xFE\xFF", 2),
    std::string("line\nline\r\nline\rend\x1A" "after Ctrl-Z\n", 34),
    std::string("\x1A", 1),
    std::string("\0\r\n\0", 4),
};

/*----------------------------------------------------------------------
|   byte-exact content
+---------------------------------------------------------------------*/
TEST_F(FileStreamTest, ContentIsByteExactInBothDirections)
{
    for (const std::string& content : kTextTraps) {
        SCOPED_TRACE(testing::PrintToString(content));
        // written through the layer, read raw
        {
            NPT_File file(Path("written").c_str());
            NPT_OutputStreamReference out;
            ASSERT_NO_FATAL_FAILURE(OpenForOutput(file, kCreate, out));
            ASSERT_EQ(NPT_SUCCESS, out->WriteFully(content.data(), static_cast<NPT_Size>(content.size())));
        }
        EXPECT_EQ(content, ReadFileBytes(Path("written")));

        // written raw, read through the layer, with its size
        WriteFileBytes(Path("raw"), content);
        NPT_File file(Path("raw").c_str());
        NPT_InputStreamReference in;
        ASSERT_NO_FATAL_FAILURE(OpenForInput(file, kRead, in));
        NPT_LargeSize size = 0;
        ASSERT_EQ(NPT_SUCCESS, in->GetSize(size));
        EXPECT_EQ(content.size(), size);
        EXPECT_EQ(content, ReadAll(*in));
    }
}

TEST_F(FileStreamTest, NewAndAppendedFilesGetNoByteOrderMark)
{
    for (NPT_FileOpenMode mode : {kCreate, kWrite | NPT_FILE_OPEN_MODE_APPEND}) {
        std::string name = "new" + std::to_string(mode);
        {
            NPT_File file(Path(name).c_str());
            OpenWith(file, mode);
        }
        EXPECT_EQ("", ReadFileBytes(Path(name))) << mode;

        NPT_File file(Path(name).c_str());
        NPT_OutputStreamReference out;
        ASSERT_NO_FATAL_FAILURE(OpenForOutput(file, mode, out));
        ASSERT_EQ(NPT_SUCCESS, out->WriteFully("a\n", 2));
        out.Release();
        file.Close();
        EXPECT_EQ("a\n", ReadFileBytes(Path(name))) << mode;
    }
}

/*----------------------------------------------------------------------
|   share modes
+---------------------------------------------------------------------*/
TEST_P(SharingTest, AcrossProcessesWithShareModes)
{
    const SharingCase& c = GetParam();
    WriteFileBytes(Path("shared"), "original content");
    NPT_File held(Path("shared").c_str());
    OpenWith(held, c.held);
    const std::string mode = std::to_string(c.second);
    EXPECT_EQ(c.allowed ? 0 : 1, RunChild("open", Path("shared"), mode));
    EXPECT_EQ(Expected(c), ReadFileBytes(Path("shared")));
    held.Close();
    EXPECT_EQ(0, RunChild("open", Path("shared"), mode));
}

// The share mode binds every opener, not only this layer: a handle that
// asks for write access while the file is open here is refused, one that
// only reads is let in, and the file's own reading goes on.
TEST_F(FileStreamTest, ShareModeRefusesOtherWritersButNotReaders)
{
    WriteFileBytes(Path("a"), "0123456789");
    NPT_File file(Path("a").c_str());
    NPT_InputStreamReference in;
    ASSERT_NO_FATAL_FAILURE(OpenForInput(file, kRead, in));
    const std::wstring path = Widen(Path("a"));

    struct Case { const char* what; DWORD access; DWORD share; DWORD creation; bool allowed; };
    const Case cases[] = {
        {"reader sharing read and write", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, true},
        {"reader sharing read only", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, true},
        {"writer", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, false},
        {"truncating writer", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, TRUNCATE_EXISTING, false},
        {"exclusive reader", GENERIC_READ, 0, OPEN_EXISTING, false},
    };
    for (const Case& c : cases) {
        HANDLE handle = CreateFileW(path.c_str(), c.access, c.share, nullptr, c.creation,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(c.allowed, handle != INVALID_HANDLE_VALUE) << c.what;
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        } else {
            EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError()) << c.what;
        }
    }
    EXPECT_EQ("0123456789", ReadAll(*in));

    // A file another handle holds for writing does not open here.
    in.Release();
    file.Close();
    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    EXPECT_EQ(NPT_ERROR_NO_SUCH_FILE, file.Open(kRead));
    EXPECT_EQ(NPT_ERROR_NO_SUCH_FILE, file.Open(kCreate));
    CloseHandle(writer);
    EXPECT_EQ("0123456789", ReadFileBytes(Path("a")));
    EXPECT_EQ(NPT_SUCCESS, file.Open(kRead));
}

/*----------------------------------------------------------------------
|   standard streams
+---------------------------------------------------------------------*/
// Pipes data through a child that copies its standard input to its
// standard output with "@STDIN" and "@STDOUT"; returns what came out.
std::string PipeThroughChild(const std::string& data, int& exit_code)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE in_read = nullptr, in_write = nullptr, out_read = nullptr, out_write = nullptr;
    if (!CreatePipe(&in_read, &in_write, &inherit, 1 << 16) ||
        !CreatePipe(&out_read, &out_write, &inherit, 1 << 16)) {
        exit_code = -1;
        return std::string();
    }
    SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    DWORD written = 0;
    WriteFile(in_write, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    CloseHandle(in_write);  // the child sees the end of its input

    exit_code = RunChild("copy-standard-streams", "", "", in_read, out_write);
    CloseHandle(in_read);
    CloseHandle(out_write);

    std::string output;
    char        buffer[4096];
    DWORD       count = 0;
    while (ReadFile(out_read, buffer, sizeof(buffer), &count, nullptr) && count > 0) {
        output.append(buffer, count);
    }
    CloseHandle(out_read);
    return output;
}

TEST(StandardStreamsWin32, BinaryModeCarriesEveryByteThroughPipesUnchanged)
{
    std::string all_bytes;
    for (int i = 0; i < 256; ++i) all_bytes += static_cast<char>(i);
    std::vector<std::string> inputs(std::begin(kTextTraps), std::end(kTextTraps));
    inputs.push_back(all_bytes + all_bytes);
    inputs.push_back("\n");
    for (const std::string& input : inputs) {
        SCOPED_TRACE(testing::PrintToString(input.substr(0, 24)));
        int exit_code = -1;
        std::string output = PipeThroughChild(input, exit_code);
        EXPECT_EQ(0, exit_code);
        EXPECT_EQ(input, output);
    }
}

/*----------------------------------------------------------------------
|   paths
+---------------------------------------------------------------------*/
TEST_F(FileStreamTest, BackslashForwardSlashAndDrivePathsNameOneFile)
{
    WriteFileBytes(Path("a"), "same file");
    std::string backslashed = Path("a");
    for (char& c : backslashed) {
        if (c == '/') c = '\\';
    }
    std::string forward = Path("a");
    for (char& c : forward) {
        if (c == '\\') c = '/';
    }
    ASSERT_EQ(':', backslashed[1]) << "the temporary directory has a drive letter";
    std::string lower_drive = backslashed;
    lower_drive[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(lower_drive[0])));

    for (const std::string& path : {backslashed, forward, lower_drive}) {
        NPT_File file(path.c_str());
        NPT_InputStreamReference in;
        ASSERT_NO_FATAL_FAILURE(OpenForInput(file, kRead, in));
        EXPECT_EQ("same file", ReadAll(*in)) << path;
        NPT_LargeSize size = 0;
        EXPECT_EQ(NPT_SUCCESS, in->GetSize(size)) << path;
        EXPECT_EQ(9u, size) << path;
    }
}

TEST_F(FileStreamTest, NamesOutsideAsciiOpenTheFileWithThatUtf16Name)
{
    const char* names[] = {"é", "日本語.txt", "emoji-\xF0\x9F\x94\x90", "Ωmega"};
    for (const char* name : names) {
        {
            NPT_File file(Path(name).c_str());
            NPT_OutputStreamReference out;
            ASSERT_NO_FATAL_FAILURE(OpenForOutput(file, kCreate, out));
            ASSERT_EQ(NPT_SUCCESS, out->WriteFully(name, static_cast<NPT_Size>(std::strlen(name))));
        }
        // The system knows the file by the UTF-16 form of the name.
        const std::wstring wide = Widen(Path(name));
        HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, handle) << name;
        char  buffer[64];
        DWORD count = 0;
        EXPECT_TRUE(ReadFile(handle, buffer, sizeof(buffer), &count, nullptr));
        CloseHandle(handle);
        EXPECT_EQ(std::string(name), std::string(buffer, count));
    }
}

// Bytes that are not UTF-8 would reach the system as U+FFFD, so that
// different byte strings name one file: such a path is refused and
// nothing is created.
TEST_F(FileStreamTest, PathsThatAreNotUtf8AreRefusedAndCreateNothing)
{
    const char* bad[] = {
        "\xFF",              // never in UTF-8
        "a\x80" "b",         // stray continuation byte
        "\xC3",              // truncated sequence
        "\xC0\xAF",          // overlong "/"
        "\xE0\x80\xAF",      // overlong, three bytes
        "\xED\xA0\x80",      // surrogate U+D800
        "\xF4\x90\x80\x80",  // beyond U+10FFFF
        "\xEF\xBF\xBD",      // valid (U+FFFD itself): allowed, see below
    };
    for (const char* name : bad) {
        const std::string path = Path(name);
        NPT_File file(path.c_str());
        const bool valid = std::string(name) == "\xEF\xBF\xBD";
        EXPECT_EQ(valid ? NPT_SUCCESS : NPT_ERROR_NO_SUCH_FILE, file.Open(kCreate))
            << testing::PrintToString(std::string(name));
        file.Close();
        if (valid) {
            std::error_code ignored;
            std::filesystem::remove(std::filesystem::u8path(path), ignored);
        }
    }
    NPT_List<NPT_String> entries;
    ASSERT_EQ(NPT_SUCCESS, NPT_File::ListDirectory(dir_.Path().c_str(), entries));
    EXPECT_EQ(0u, entries.GetItemCount());
}

}  // namespace
