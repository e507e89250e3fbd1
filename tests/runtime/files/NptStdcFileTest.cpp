// Files opened through NPT_File and their input and output streams:
// open modes, stream getters, reading, writing, positions and sizes,
// sharing between opens (in this process and another), and the
// standard streams. Windows-only cases are in NptStdcFileWin32Test.cpp.
#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <filesystem>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "NptFile.h"
#include "NptStdcFile.h"
#include "TestStreams.h"
#include "TestTempDirectory.h"
#include "FileTestFixtures.h"

using tvk_test::PathExists;
using tvk_test::ReadFileBytes;
using tvk_test::WriteFileBytes;
using namespace tvk_test_files;

namespace {

#ifndef _WIN32  // fork
// Runs body in a child process and returns its exit status (0..255), or
// -1 when it did not exit normally.
int RunInChild(const std::function<int()>& body)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// The result of opening path in mode from another process, as a small
// code the child can exit with.
int OpenInChild(const std::string& path, NPT_FileOpenMode mode)
{
    return RunInChild([&] {
        NPT_File file(path.c_str());
        NPT_Result rc = file.Open(mode);
        return rc == NPT_SUCCESS ? 0 : rc == NPT_ERROR_NO_SUCH_FILE ? 1 : 2;
    });
}
#endif

/*----------------------------------------------------------------------
|   open modes
+---------------------------------------------------------------------*/
TEST_F(FileStreamTest, OpenTwiceFailsAndKeepsTheFirstOpen)
{
    WriteFileBytes(Path("a"), "0123456789");
    NPT_File file(Path("a").c_str());
    OpenWith(file, kRead);
    EXPECT_EQ(NPT_ERROR_FILE_ALREADY_OPEN, file.Open(kRead));
    EXPECT_EQ(NPT_ERROR_FILE_ALREADY_OPEN, file.Open(kCreate));

    NPT_InputStreamReference in;
    ASSERT_EQ(NPT_SUCCESS, file.GetInputStream(in));
    EXPECT_EQ("0123456789", ReadAll(*in));
    EXPECT_EQ("0123456789", ReadFileBytes(Path("a")));  // not truncated
}

TEST_F(FileStreamTest, CreateModeTruncatesAnExistingFileAndCreatesAMissingOne)
{
    WriteFileBytes(Path("old"), "previous content");
    for (const char* name : {"old", "new"}) {
        NPT_File file(Path(name).c_str());
        OpenWith(file, kCreate);
        NPT_FileInfo info;
        ASSERT_EQ(NPT_SUCCESS, NPT_File::GetInfo(Path(name).c_str(), &info)) << name;
        EXPECT_EQ(0u, info.m_Size) << name;
    }
}

TEST_F(FileStreamTest, WriteOnlyModeNeedsAnExistingFileAndDoesNotTruncate)
{
    NPT_File missing(Path("missing").c_str());
    EXPECT_EQ(NPT_ERROR_NO_SUCH_FILE, missing.Open(kWrite));
    EXPECT_FALSE(PathExists(Path("missing")));

    WriteFileBytes(Path("a"), "abcdef");
    {
        NPT_File file(Path("a").c_str());
        NPT_OutputStreamReference out;
        ASSERT_NO_FATAL_FAILURE(OpenForOutput(file, kWrite, out));
        ASSERT_EQ(NPT_SUCCESS, out->WriteFully("XY", 2));
    }
    EXPECT_EQ("XYcdef", ReadFileBytes(Path("a")));
}

TEST_F(FileStreamTest, AppendModeCreatesAndWritesAtTheEnd)
{
    WriteFileBytes(Path("a"), "abc");
    for (const char* name : {"a", "b"}) {
        NPT_File file(Path(name).c_str());
        NPT_OutputStreamReference out;
        ASSERT_NO_FATAL_FAILURE(OpenForOutput(file, kWrite | NPT_FILE_OPEN_MODE_APPEND, out));
        ASSERT_EQ(NPT_SUCCESS, out->Seek(0));  // appending ignores the position
        ASSERT_EQ(NPT_SUCCESS, out->WriteFully("de", 2));
    }
    EXPECT_EQ("abcde", ReadFileBytes(Path("a")));
    EXPECT_EQ("de", ReadFileBytes(Path("b")));
}

TEST_F(FileStreamTest, MissingFileOrMissingDirectoryCannotBeOpened)
{
    struct Case { std::string path; NPT_FileOpenMode mode; };
    const Case cases[] = {
        {Path("missing"), kRead},
        {Path("no/such/dir/file"), kCreate},
        {Path("no/such/dir/file"), kWrite | NPT_FILE_OPEN_MODE_APPEND},
        {"", kRead},
    };
    for (const Case& c : cases) {
        NPT_File file(c.path.c_str());
        EXPECT_EQ(NPT_ERROR_NO_SUCH_FILE, file.Open(c.mode)) << c.path;
        NPT_InputStreamReference in;
        EXPECT_EQ(NPT_ERROR_FILE_NOT_OPEN, file.GetInputStream(in)) << c.path;
    }
    NPT_File null_path(nullptr);
    EXPECT_EQ(NPT_ERROR_NO_SUCH_FILE, null_path.Open(kRead));
}

TEST_F(FileStreamTest, DirectoryCannotBeOpenedAsAFile)
{
    for (NPT_FileOpenMode mode : {kRead, kWrite, kCreate, kWrite | NPT_FILE_OPEN_MODE_APPEND}) {
        NPT_File file(dir_.Path().c_str());
        EXPECT_EQ(NPT_ERROR_NO_SUCH_FILE, file.Open(mode)) << mode;
    }
}

#ifndef _WIN32  // permission bits
TEST_F(FileStreamTest, UnreadableFileCannotBeOpened)
{
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the super-user";
    WriteFileBytes(Path("secret"), "x");
    ASSERT_EQ(0, chmod(Path("secret").c_str(), 0));
    NPT_File file(Path("secret").c_str());
    EXPECT_EQ(NPT_ERROR_NO_SUCH_FILE, file.Open(kRead));
}
#endif

/*----------------------------------------------------------------------
|   stream getters
+---------------------------------------------------------------------*/
TEST_F(FileStreamTest, StreamGettersFollowTheModeAndEmptyTheHandleFirst)
{
    WriteFileBytes(Path("a"), "abc");
    struct Case {
        NPT_FileOpenMode mode;
        NPT_Result       input;
        NPT_Result       output;
    };
    const Case cases[] = {
        {kRead, NPT_SUCCESS, NPT_ERROR_FILE_NOT_WRITABLE},
        // "r+b" is readable underneath, yet without READ no input stream
        {kWrite, NPT_ERROR_FILE_NOT_READABLE, NPT_SUCCESS},
        {kRead | kWrite, NPT_SUCCESS, NPT_SUCCESS},
        // neither bit: opened for reading, but both getters refuse
        {0, NPT_ERROR_FILE_NOT_READABLE, NPT_ERROR_FILE_NOT_WRITABLE},
    };
    for (const Case& c : cases) {
        NPT_File file(Path("a").c_str());
        NPT_InputStreamReference  in(new tvk_test::FakeInputStream());
        NPT_OutputStreamReference out(new tvk_test::FakeOutputStream());
        OpenWith(file, c.mode);
        EXPECT_EQ(c.input, file.GetInputStream(in)) << c.mode;
        EXPECT_EQ(c.input != NPT_SUCCESS, in.IsNull()) << c.mode;
        EXPECT_EQ(c.output, file.GetOutputStream(out)) << c.mode;
        EXPECT_EQ(c.output != NPT_SUCCESS, out.IsNull()) << c.mode;
    }

    NPT_File closed(Path("a").c_str());
    NPT_InputStreamReference  in(new tvk_test::FakeInputStream());
    NPT_OutputStreamReference out(new tvk_test::FakeOutputStream());
    EXPECT_EQ(NPT_ERROR_FILE_NOT_OPEN, closed.GetInputStream(in));
    EXPECT_EQ(NPT_ERROR_FILE_NOT_OPEN, closed.GetOutputStream(out));
    EXPECT_TRUE(in.IsNull());
    EXPECT_TRUE(out.IsNull());
}

TEST_F(FileStreamTest, StreamOutlivesTheFileAndReachesTheDiskWhenReleased)
{
    NPT_OutputStreamReference out;
    {
        NPT_File file(Path("a").c_str());
        ASSERT_NO_FATAL_FAILURE(OpenForOutput(file, kCreate, out));
        EXPECT_EQ(NPT_SUCCESS, file.Close());
    }
    ASSERT_EQ(NPT_SUCCESS, out->WriteFully("payload", 7));
    out.Release();
    EXPECT_EQ("payload", ReadFileBytes(Path("a")));
}

TEST_F(FileStreamTest, StreamsOfOneFileShareOnePosition)
{
    NPT_File file(Path("a").c_str());
    NPT_InputStreamReference  in;
    NPT_OutputStreamReference out;
    ASSERT_NO_FATAL_FAILURE(OpenForBoth(file, kCreate | kRead, in, out));
    ASSERT_EQ(NPT_SUCCESS, out->WriteFully("abcdef", 6));
    NPT_Position position = 0;
    ASSERT_EQ(NPT_SUCCESS, in->Tell(position));
    EXPECT_EQ(6u, position);
    ASSERT_EQ(NPT_SUCCESS, in->Seek(2));
    EXPECT_EQ("cdef", ReadAll(*in));
}

TEST_F(FileStreamTest, CopyOfAFileStartsClosedWithTheSamePath)
{
    WriteFileBytes(Path("a"), "abc");
    WriteFileBytes(Path("b"), "xyz");
    NPT_File a(Path("a").c_str());
    OpenWith(a, kRead);
    NPT_File b(Path("b").c_str());
    OpenWith(b, kCreate);

    b = a;  // closes b's open file
    EXPECT_EQ(a.GetPath(), b.GetPath());
    NPT_InputStreamReference in;
    EXPECT_EQ(NPT_ERROR_FILE_NOT_OPEN, b.GetInputStream(in));
    EXPECT_EQ(NPT_SUCCESS, a.GetInputStream(in));  // the source stays open
    NPT_File c(a);
    EXPECT_EQ(a.GetPath(), c.GetPath());
    EXPECT_EQ(NPT_ERROR_FILE_NOT_OPEN, c.GetInputStream(in));

    // b's lock went with its open: another write open of "b" succeeds.
    NPT_File again(Path("b").c_str());
    EXPECT_EQ(NPT_SUCCESS, again.Open(kWrite));
}

/*----------------------------------------------------------------------
|   reading, writing, positions and sizes
+---------------------------------------------------------------------*/
TEST_F(FileStreamTest, ShortReadThenEndOfStream)
{
    WriteFileBytes(Path("ten"), "0123456789");
    NPT_File file(Path("ten").c_str());
    NPT_InputStreamReference in;
    ASSERT_NO_FATAL_FAILURE(OpenForInput(file, kRead, in));

    char     buffer[16];
    NPT_Size count = 99;
    EXPECT_EQ(NPT_SUCCESS, in->Read(buffer, 16, &count));
    EXPECT_EQ(10u, count);
    EXPECT_EQ(0, std::memcmp(buffer, "0123456789", 10));
    count = 99;
    EXPECT_EQ(NPT_ERROR_END_OF_STREAM, in->Read(buffer, 16, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(NPT_ERROR_END_OF_STREAM, in->Read(buffer, 16, nullptr));
}

TEST_F(FileStreamTest, ReadAndWriteRejectBadArguments)
{
    NPT_File file(Path("a").c_str());
    NPT_InputStreamReference  in;
    NPT_OutputStreamReference out;
    ASSERT_NO_FATAL_FAILURE(OpenForBoth(file, kCreate | kRead, in, out));

    NPT_Size count = 99;
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, in->Read(nullptr, 4, &count));
    EXPECT_EQ(0u, count);
    count = 99;
    EXPECT_EQ(NPT_ERROR_WRITE_FAILED, out->Write("x", 0, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(NPT_ERROR_INVALID_PARAMETERS, out->Write(nullptr, 4, &count));
    EXPECT_EQ(0u, count);

    // A read of nothing is a success with nothing, also at the end.
    char buffer[4];
    count = 99;
    EXPECT_EQ(NPT_SUCCESS, in->Read(buffer, 0, &count));
    EXPECT_EQ(0u, count);
}

TEST_F(FileStreamTest, SizeAvailableSeekAndTell)
{
    WriteFileBytes(Path("ten"), "0123456789");
    NPT_File file(Path("ten").c_str());
    NPT_InputStreamReference in;
    ASSERT_NO_FATAL_FAILURE(OpenForInput(file, kRead, in));

    NPT_LargeSize size = 0, available = 0;
    EXPECT_EQ(NPT_SUCCESS, in->GetSize(size));
    EXPECT_EQ(10u, size);
    EXPECT_EQ(NPT_SUCCESS, in->GetAvailable(available));
    EXPECT_EQ(10u, available);

    char buffer[4];
    ASSERT_EQ(NPT_SUCCESS, in->ReadFully(buffer, 4));
    EXPECT_EQ(NPT_SUCCESS, in->GetAvailable(available));
    EXPECT_EQ(6u, available);
    NPT_Position position = 0;
    EXPECT_EQ(NPT_SUCCESS, in->Tell(position));
    EXPECT_EQ(4u, position);

    ASSERT_EQ(NPT_SUCCESS, in->Seek(7));
    ASSERT_EQ(NPT_SUCCESS, in->ReadFully(buffer, 3));
    EXPECT_EQ(0, std::memcmp(buffer, "789", 3));
    ASSERT_EQ(NPT_SUCCESS, in->Skip(0));

    // Beyond the end: the position moves, nothing is available.
    ASSERT_EQ(NPT_SUCCESS, in->Seek(20));
    available = 99;
    EXPECT_EQ(NPT_FAILURE, in->GetAvailable(available));
    EXPECT_EQ(0u, available);
    EXPECT_EQ(NPT_ERROR_END_OF_STREAM, in->Read(buffer, 4));

    // A position the platform cannot represent.
    EXPECT_EQ(NPT_FAILURE, in->Seek(~NPT_Position(0)));
}

TEST_F(FileStreamTest, PositionsAndSizesBeyond4GiB)
{
    const NPT_LargeSize size = (NPT_LargeSize(5) << 30) + 3;  // sparse, costs no space
    {
        NPT_File file(Path("sparse").c_str());
        OpenWith(file, kCreate);
    }
    std::error_code error;
    std::filesystem::resize_file(std::filesystem::u8path(Path("sparse")), size, error);
    if (error) GTEST_SKIP() << "no large sparse files here";
    NPT_File file(Path("sparse").c_str());
    NPT_InputStreamReference  in;
    NPT_OutputStreamReference out;
    ASSERT_NO_FATAL_FAILURE(OpenForBoth(file, kRead | kWrite, in, out));

    NPT_LargeSize reported = 0, available = 0;
    ASSERT_EQ(NPT_SUCCESS, in->GetSize(reported));
    EXPECT_EQ(size, reported);
    ASSERT_EQ(NPT_SUCCESS, out->Seek(size - 3));
    ASSERT_EQ(NPT_SUCCESS, out->WriteFully("xyz", 3));
    ASSERT_EQ(NPT_SUCCESS, out->Flush());
    NPT_Position position = 0;
    ASSERT_EQ(NPT_SUCCESS, out->Tell(position));
    EXPECT_EQ(size, position);

    ASSERT_EQ(NPT_SUCCESS, in->Seek(size - 5));
    ASSERT_EQ(NPT_SUCCESS, in->GetAvailable(available));
    EXPECT_EQ(5u, available);
    EXPECT_EQ(std::string("\0\0xyz", 5), ReadAll(*in));
}

#ifndef _WIN32  // an open file cannot lose its name on Windows
TEST_F(FileStreamTest, GetSizeFailsLeavingTheSizeWhenTheNameIsGone)
{
    WriteFileBytes(Path("a"), "abc");
    NPT_File file(Path("a").c_str());
    NPT_InputStreamReference in;
    ASSERT_NO_FATAL_FAILURE(OpenForInput(file, kRead, in));
    ASSERT_EQ(0, unlink(Path("a").c_str()));

    NPT_LargeSize size = 1234, available = 99;
    EXPECT_EQ(NPT_ERROR_NO_SUCH_FILE, in->GetSize(size));
    EXPECT_EQ(1234u, size);
    EXPECT_EQ(NPT_FAILURE, in->GetAvailable(available));
    EXPECT_EQ(0u, available);
}
#endif

TEST_F(FileStreamTest, LargeDataRoundTripsThroughManyTransferSizes)
{
    const std::vector<NPT_Byte> data = tvk_test::MakePattern(3 * 1024 * 1024 + 123);
    {
        NPT_File file(Path("big").c_str());
        NPT_OutputStreamReference out;
        ASSERT_NO_FATAL_FAILURE(OpenForOutput(file, kCreate, out));
        const NPT_Size sizes[] = {1, 16, 1000, 65536, 200000, 4095};
        size_t offset = 0;
        for (size_t i = 0; offset < data.size(); ++i) {
            NPT_Size n = static_cast<NPT_Size>(std::min<size_t>(sizes[i % 6], data.size() - offset));
            ASSERT_EQ(NPT_SUCCESS, out->WriteFully(&data[offset], n));
            offset += n;
        }
        ASSERT_EQ(NPT_SUCCESS, out->Flush());
    }

    NPT_File file(Path("big").c_str());
    NPT_InputStreamReference in;
    ASSERT_NO_FATAL_FAILURE(OpenForInput(file, kRead, in));
    NPT_LargeSize size = 0;
    ASSERT_EQ(NPT_SUCCESS, in->GetSize(size));
    ASSERT_EQ(data.size(), size);

    // Requests of 64 KiB served in slices of 16 bytes after a seek to the
    // current position, as a decrypting stream reads its source.
    std::vector<NPT_Byte> back(data.size());
    NPT_Position position = 0;
    while (position < data.size()) {
        ASSERT_EQ(NPT_SUCCESS, in->Seek(position));
        NPT_Position end = std::min<NPT_Position>(position + 65536, data.size());
        while (position < end) {
            NPT_Size count = 0;
            NPT_Size n = static_cast<NPT_Size>(std::min<NPT_Position>(16, end - position));
            ASSERT_EQ(NPT_SUCCESS, in->Read(&back[position], n, &count));
            ASSERT_GT(count, 0u);
            position += count;
        }
    }
    EXPECT_EQ(NPT_ERROR_END_OF_STREAM, in->Read(&back[0], 1));
    EXPECT_TRUE(data == back);
}

TEST_F(FileStreamTest, UnbufferedWritesReachTheFileAtOnce)
{
    NPT_File file(Path("a").c_str());
    NPT_OutputStreamReference out;
    ASSERT_NO_FATAL_FAILURE(OpenForOutput(file, kCreate | NPT_FILE_OPEN_MODE_UNBUFFERED, out));
    ASSERT_EQ(NPT_SUCCESS, out->WriteFully("abc", 3));
    EXPECT_EQ("abc", ReadFileBytes(Path("a")));  // no Flush, no close
}

#ifndef _WIN32  // /dev/full
TEST_F(FileStreamTest, FlushReportsDataThatCannotBeWritten)
{
    NPT_File file("/dev/full");
    if (file.Open(kCreate) != NPT_SUCCESS) GTEST_SKIP() << "no /dev/full here";
    NPT_OutputStreamReference out;
    ASSERT_EQ(NPT_SUCCESS, file.GetOutputStream(out));
    // The small write only fills the buffer; the flush meets the full device.
    NPT_Size count = 0;
    ASSERT_EQ(NPT_SUCCESS, out->Write("abc", 3, &count));
    EXPECT_EQ(3u, count);
    EXPECT_EQ(NPT_ERROR_WRITE_FAILED, out->Flush());

    // Once the file has failed, later writes fail too.
    EXPECT_EQ(NPT_ERROR_WRITE_FAILED, out->Write("abc", 3, &count));
}

TEST_F(FileStreamTest, WriteThatOverflowsTheBufferIntoAFullDeviceFails)
{
    NPT_File file("/dev/full");
    if (file.Open(kCreate) != NPT_SUCCESS) GTEST_SKIP() << "no /dev/full here";
    NPT_OutputStreamReference out;
    ASSERT_EQ(NPT_SUCCESS, file.GetOutputStream(out));
    std::vector<NPT_Byte> data(NPT_StdcFile::BUFFER_SIZE, 0x5A);
    // Fills the buffer but for 10 bytes.
    ASSERT_EQ(NPT_SUCCESS, out->Write(data.data(), NPT_StdcFile::BUFFER_SIZE - 10));
    // The C library takes 10 bytes, fails to empty the full buffer and
    // drops it, yet counts the 10 bytes as written: that is no success.
    NPT_Size count = 99;
    EXPECT_EQ(NPT_ERROR_WRITE_FAILED, out->Write(data.data(), 100, &count));
    EXPECT_EQ(0u, count);
    // Nothing is buffered any more, but the loss is still reported.
    EXPECT_EQ(NPT_ERROR_WRITE_FAILED, out->Flush());
}
#endif

/*----------------------------------------------------------------------
|   sharing: others may read, not write, while a file is open
+---------------------------------------------------------------------*/
TEST_P(SharingTest, WithinOneProcess)
{
    const SharingCase& c = GetParam();
    WriteFileBytes(Path("shared"), "original content");
    NPT_File held(Path("shared").c_str());
    OpenWith(held, c.held);
    // The file's streams keep the file open after the file is closed.
    NPT_InputStreamReference  in;
    NPT_OutputStreamReference out;
    if (c.held & kRead) {
        ASSERT_EQ(NPT_SUCCESS, held.GetInputStream(in));
    }
    if (c.held & kWrite) {
        ASSERT_EQ(NPT_SUCCESS, held.GetOutputStream(out));
    }
    held.Close();

    NPT_File second(Path("shared").c_str());
    EXPECT_EQ(c.allowed ? NPT_SUCCESS : NPT_ERROR_NO_SUCH_FILE, second.Open(c.second));
    second.Close();
    EXPECT_EQ(Expected(c), ReadFileBytes(Path("shared")));

    // Once every share is gone, the file opens in any mode.
    in.Release();
    out.Release();
    EXPECT_EQ(NPT_SUCCESS, second.Open(c.second));
}

#ifndef _WIN32  // fork; NptStdcFileWin32Test.cpp has the Windows form
TEST_P(SharingTest, AcrossProcesses)
{
    const SharingCase& c = GetParam();
    WriteFileBytes(Path("shared"), "original content");
    NPT_File held(Path("shared").c_str());
    OpenWith(held, c.held);
    EXPECT_EQ(c.allowed ? 0 : 1, OpenInChild(Path("shared"), c.second));
    EXPECT_EQ(Expected(c), ReadFileBytes(Path("shared")));
    held.Close();
    EXPECT_EQ(0, OpenInChild(Path("shared"), c.second));
}
#endif

INSTANTIATE_TEST_SUITE_P(Modes, SharingTest, ::testing::ValuesIn(kSharingCases),
                         [](const ::testing::TestParamInfo<SharingCase>& info) {
                             return std::string(info.param.name);
                         });

#ifndef _WIN32  // fork and devices
TEST_F(FileStreamTest, TruncatingOpenIsRefusedWhileAnotherProcessWrites)
{
    WriteFileBytes(Path("shared"), "keep me");
    int ready[2], done[2];
    ASSERT_EQ(0, pipe(ready));
    ASSERT_EQ(0, pipe(done));
    fflush(nullptr);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        NPT_File file(Path("shared").c_str());
        char signal = file.Open(kWrite) == NPT_SUCCESS ? 'y' : 'n';
        if (write(ready[1], &signal, 1) != 1) _exit(3);
        if (read(done[0], &signal, 1) != 1) _exit(4);
        _exit(0);
    }
    char signal = 0;
    ASSERT_EQ(1, read(ready[0], &signal, 1));
    ASSERT_EQ('y', signal);

    NPT_File file(Path("shared").c_str());
    EXPECT_EQ(NPT_ERROR_NO_SUCH_FILE, file.Open(kCreate));
    EXPECT_EQ(NPT_ERROR_NO_SUCH_FILE, file.Open(kRead));
    EXPECT_EQ("keep me", ReadFileBytes(Path("shared")));

    ASSERT_EQ(1, write(done[1], "x", 1));
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);

    // The holder is gone with its process.
    EXPECT_EQ(NPT_SUCCESS, file.Open(kCreate));
    EXPECT_EQ("", ReadFileBytes(Path("shared")));
}

TEST_F(FileStreamTest, DevicesAreNotLocked)
{
    NPT_File first("/dev/null");
    NPT_File second("/dev/null");
    if (first.Open(kCreate) != NPT_SUCCESS) GTEST_SKIP() << "no /dev/null here";
    EXPECT_EQ(NPT_SUCCESS, second.Open(kCreate));
    NPT_FileInfo info;
    ASSERT_EQ(NPT_SUCCESS, NPT_File::GetInfo("/dev/null", &info));
    EXPECT_EQ(NPT_FileInfo::FILE_TYPE_OTHER, info.m_Type);
}
#endif

/*----------------------------------------------------------------------
|   standard streams
+---------------------------------------------------------------------*/
#ifndef _WIN32  // descriptors; NptStdcFileWin32Test.cpp has the Windows form
// Sends file descriptor 1 to a file for the life of the object.
class StdoutRedirect {
public:
    explicit StdoutRedirect(const std::string& path)
    {
        fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, STDOUT_FILENO);
        close(fd);
    }
    ~StdoutRedirect()
    {
        fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }

private:
    int saved_;
};

TEST_F(FileStreamTest, StandardOutputIsWrittenAndNeverClosed)
{
    EnterTempDirectory();
    {
        StdoutRedirect redirect(Path("captured"));
        {
            NPT_File file("@STDOUT");
            EXPECT_TRUE(file.IsStandardStream());
            ASSERT_EQ(NPT_SUCCESS, file.Open(kCreate));
            EXPECT_FALSE(PathExists(Path("@STDOUT")));  // no file was made
            NPT_OutputStreamReference out;
            ASSERT_EQ(NPT_SUCCESS, file.GetOutputStream(out));
            ASSERT_EQ(NPT_SUCCESS, out->WriteFully("hello ", 6));
            EXPECT_EQ(NPT_SUCCESS, out->Flush());
        }
        // File, record and stream are gone; standard output is still open.
        EXPECT_NE(-1, fcntl(STDOUT_FILENO, F_GETFD));
        EXPECT_GE(fputs("world", stdout), 0);
        EXPECT_EQ(0, fflush(stdout));
        EXPECT_EQ(0, ferror(stdout));
    }
    EXPECT_EQ("hello world", ReadFileBytes(Path("captured")));
}
#endif

TEST_F(FileStreamTest, StandardInputHasNoSizeEvenWhenAFileCarriesItsName)
{
    EnterTempDirectory();
    WriteFileBytes(Path("@STDIN"), "a file, not standard input");
    NPT_File file("@STDIN");
    ASSERT_EQ(NPT_SUCCESS, file.Open(kRead));
    NPT_InputStreamReference in;
    ASSERT_EQ(NPT_SUCCESS, file.GetInputStream(in));
    NPT_LargeSize size = 77, available = 77;
    EXPECT_EQ(NPT_ERROR_NO_SUCH_FILE, in->GetSize(size));
    EXPECT_EQ(77u, size);
    EXPECT_EQ(NPT_FAILURE, in->GetAvailable(available));
    EXPECT_EQ(0u, available);
}

TEST_F(FileStreamTest, ReservedNamesAreExactAndCaseSensitive)
{
    EnterTempDirectory();
    for (const char* name : {"@stdout", "@StdErr", "@STDIN ", "./@STDOUT"}) {
        NPT_File file(name);
        EXPECT_FALSE(file.IsStandardStream()) << name;
        ASSERT_EQ(NPT_SUCCESS, file.Open(kCreate)) << name;
        file.Close();
        EXPECT_TRUE(PathExists(dir_ / name)) << name;
    }
    for (const char* name : {"@STDIN", "@STDOUT", "@STDERR"}) {
        EXPECT_TRUE(NPT_File(name).IsStandardStream()) << name;
    }
}

}  // namespace
