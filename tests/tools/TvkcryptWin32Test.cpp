// tvkcrypt.exe where Windows differs: standard streams that the runtime
// would translate in text mode, file names beyond the ANSI code page,
// backslashes and drive letters, a target held open by another program,
// read-only targets, links, a pair replaced on a volume without hard
// links, both workers on a large file, Ctrl-Break and a process ended
// outright.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "OutputPlace.h"
#include "TempOutput.h"
#include "TestWin32Resources.h"
#include "TvkEntryAlign.h"
#include "TvkTransform.h"
#include "ToolChecks.h"
#include "ToolRunner.h"

namespace tvkcrypt_test {
namespace {

const std::size_t B = tvkcrypt::kBlockSize;

// The names in dir that look like the tool's hidden temporaries.
std::vector<std::string>
Temporaries(const TempDir& dir)
{
    std::vector<std::string> found;
    for (const std::string& name : dir.List()) {
        if (name.find(".tvkcrypt-") != std::string::npos) found.push_back(name);
    }
    return found;
}

// A standard input that delivers 32 KiB and then stalls, open until the
// end of the scope: the tool has made its temporaries and waits for more.
struct StalledInput {
    HANDLE write_end = INVALID_HANDLE_VALUE;
    int    fd = -1;
    StalledInput() {
        HANDLE read_end = INVALID_HANDLE_VALUE;
        if (!CreatePipe(&read_end, &write_end, nullptr, 1 << 16)) return;
        const std::string block = PatternData(1 << 15, 1);
        DWORD written = 0;
        ::WriteFile(write_end, block.data(), static_cast<DWORD>(block.size()), &written, nullptr);
        fd = _open_osfhandle(reinterpret_cast<intptr_t>(read_end), _O_RDONLY | _O_BINARY);
    }
    ~StalledInput() {
        if (fd >= 0) CloseDescriptor(fd);
        if (write_end != INVALID_HANDLE_VALUE) CloseHandle(write_end);
    }
    StalledInput(const StalledInput&) = delete;
    StalledInput& operator=(const StalledInput&) = delete;
};

std::string
Backslashed(std::string path)
{
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

// Bytes that text mode would change: a byte-order mark at the start,
// lone and paired CR and LF, Ctrl-Z (the old end-of-file mark), NUL.
TEST(BinaryStreamsTest, EveryByteCrossesPipesUnchanged)
{
    std::string clear = "\xFF\xFE\n\r\n\x1A\r\r\n\x00\x1A";
    clear.append(1, '\0');
    clear += PatternData(3000);
    clear += "\r\n\x1A";
    const std::string encrypted = Library(clear, kPassword, NPT_BlockCipher::ENCRYPT);

    RunResult run = RunWithPassword({"encrypt"}, kPassword, clear);
    ExpectSuccess(run);
    EXPECT_TRUE(SameBytes(run.out, encrypted));

    // ciphertext bytes of every value, starting with FF FE, back again
    std::string crafted = "\xFF\xFE\x1A\r\n";
    crafted += PatternData(5000, 99);
    run = RunWithPassword({"decrypt"}, kPassword, crafted);
    ExpectSuccess(run);
    EXPECT_TRUE(SameBytes(run.out, Library(crafted, kPassword, NPT_BlockCipher::DECRYPT)));

    // and the password file read in binary too: "pw\r\n" is "pw"
    TempDir dir;
    WriteFile(dir / "pw", "pw\r\n");
    run = RunWithPassword({"encrypt", "--password-file", dir / "pw"}, "", clear);
    ExpectSuccess(run);
    EXPECT_TRUE(SameBytes(run.out, Library(clear, "pw", NPT_BlockCipher::ENCRYPT)));
}

// Names reach the system as UTF-16: characters outside any ANSI code
// page (and one outside the 16-bit range, a surrogate pair) survive the
// command line, and paths work with backslashes and a drive letter.
TEST(PathTest, UnicodeNamesBackslashesAndDriveLetters)
{
    TempDir dir;
    const std::string clear = PatternData(5000, 4);
    const std::string name = "caf\xC3\xA9-\xE6\x97\xA5\xE6\x9C\xAC-\xF0\x9F\x98\x80";  // café-日本-😀
    WriteFile(dir / (name + ".txt"), clear);
    ASSERT_TRUE(Exists(dir / (name + ".txt")));
    ASSERT_EQ(dir.Path()[1], ':') << "a path with a drive letter: " << dir.Path();

    ExpectSuccess(RunWithPassword({"encrypt", dir / (name + ".txt"), "-o", Backslashed(dir / (name + ".enc"))},
                                  kPassword));
    EXPECT_TRUE(SameBytes(ReadFile(dir / (name + ".enc")), Library(clear, kPassword, NPT_BlockCipher::ENCRYPT)));
    EXPECT_EQ(dir.List(), (std::vector<std::string>{name + ".enc", name + ".enc.tvkcheck", name + ".txt"}));

    // forward slashes only, and a subdirectory reached through ".."
    ASSERT_TRUE(MakeSubdirectory(dir / "sub"));
    std::string forward = dir.Path();
    for (char& c : forward) {
        if (c == '\\') c = '/';
    }
    RunResult run = RunWithPassword(
        {"decrypt", forward + "/sub/../" + name + ".enc", "-o", forward + "/sub/" + name}, kPassword);
    ExpectSuccess(run);
    EXPECT_TRUE(SameBytes(ReadFile(dir / ("sub/" + name)), clear));

    // a name in a message is shown as given, in UTF-8
    run = RunWithPassword({"decrypt", dir / (name + ".missing")}, kPassword);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find(name + ".missing"), std::string::npos) << run.err;
}

// A password beyond ASCII keys with its UTF-8 bytes whether it comes from
// the (UTF-16) environment or from a UTF-8 password file, whatever the
// ANSI code page.
TEST(PasswordTest, NonAsciiPasswordsAreKeyedAsUtf8FromEverySource)
{
    TempDir dir;
    const std::string clear = PatternData(2000, 8);
    const std::string password = "caf\xC3\xA9 \xCE\xBA\xCE\xBB\xCE\xB5\xCE\xB9\xCE\xB4\xCE\xAF \xF0\x9F\x94\x91";
    const std::string expected = Library(clear, password.c_str(), NPT_BlockCipher::ENCRYPT);
    RunResult run = RunWithPassword({"encrypt"}, password, clear);
    ExpectSuccess(run);
    EXPECT_TRUE(SameBytes(run.out, expected));

    WriteFile(dir / "pw", password + "\r\n");
    run = RunWithPassword({"decrypt", "--password-file", dir / "pw"}, "", expected);
    ExpectSuccess(run);
    EXPECT_TRUE(SameBytes(run.out, clear));
    // no advice about POSIX mode bits, which Windows files do not have
    EXPECT_EQ(run.err.find("chmod"), std::string::npos) << run.err;

    // Notepad's "Unicode": UTF-16 with its byte order mark, either order
    for (const char* mark : {"\xFF\xFE", "\xFE\xFF"}) {
        WriteFile(dir / "pw16", std::string(mark) + std::string("p\0w\0\r\0\n\0", 8));
        run = RunWithPassword({"decrypt", "--password-file", dir / "pw16"}, "", expected);
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_NE(run.err.find("is UTF-16 text (\"Unicode\" in Notepad); save"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("zero byte"), std::string::npos) << run.err;
    }
}

// Names as Windows makes them: the device names refused as outputs (NUL
// alone is the null device), a trailing dot or space dropped from the
// data file and its check file alike, a file in a drive's root in the
// \\?\ form, and leftover names in a folder written with backslashes.
TEST(PathTest, DeviceNamesTrailingDotsAndDriveRoots)
{
    EXPECT_EQ(tvkcrypt::CreatedName("dir\\x."), "dir\\x");
    EXPECT_EQ(tvkcrypt::CreatedName("Q:x. . "), "Q:x");
    EXPECT_EQ(tvkcrypt::CreatedName("a/.."), "a/..");
    EXPECT_EQ(tvkcrypt::CreatedName("\\\\?\\C:\\x."), "\\\\?\\C:\\x.");
    EXPECT_EQ(tvkcrypt::DirectoryPartOf("C:\\dir\\out.tvk"), "C:\\dir\\");
    EXPECT_EQ(tvkcrypt::DirectoryPartOf("Q:out.tvk"), "Q:");
    EXPECT_EQ(tvkcrypt::DirectoryPartOf("out.tvk"), "");

    TempDir dir;
    const std::string clear = PatternData(3000, 6);
    WriteFile(dir / "clear", clear);
    for (const char* name : {"nul.tvk", "NUL.txt", "aux.txt", "com1.tvk", "CON", "lpt1", "Com9 .x", "conout$"}) {
        SCOPED_TRACE(name);
        RunResult run = RunWithPassword({"encrypt", dir / "clear", "-o", dir / name}, kPassword);
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_NE(run.err.find("Windows keeps that name for a device"), std::string::npos) << run.err;
    }
    RunResult run = RunWithPassword({"encrypt", dir / "clear", "-o", "nul"}, kPassword);
    ExpectSuccess(run);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"clear"}));

    // "x." and "y " are made as x and y: the check files are x.tvkcheck
    // and y.tvkcheck, found again by decrypt x and decrypt "y "
    ExpectSuccess(RunWithPassword({"encrypt", dir / "clear", "-o", dir / "x."}, kPassword));
    ExpectSuccess(RunWithPassword({"encrypt", dir / "clear", "-o", dir / "y "}, kPassword));
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"clear", "x", "x.tvkcheck", "y", "y.tvkcheck"}));
    run = RunWithPassword({"decrypt", dir / "y "}, "wrong");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("wrong password"), std::string::npos) << run.err;

    // the root of the drive the scratch folder is on, in the long form
    const std::string root_file = "\\\\?\\" + dir.Path().substr(0, 2) + "\\tvkcrypt-root-" +
                                  std::to_string(GetCurrentProcessId()) + ".tvk";
    run = RunWithPassword({"encrypt", dir / "clear", "--no-check-file", "-o", root_file}, kPassword);
    if (run.exit_code == 1 && run.err.find("permission denied") != std::string::npos) {
        GTEST_SKIP() << "the drive's root is not writable here";
    }
    ExpectSuccess(run);
    EXPECT_TRUE(SameBytes(ReadFile(root_file), Library(clear, kPassword, NPT_BlockCipher::ENCRYPT)));
    EXPECT_TRUE(RemoveFile(root_file));
}

// A target another program holds open without sharing deletion cannot
// be replaced: the run fails saying so, the target keeps its content
// and the temporary is gone. A read-only, hidden or system target is
// replaced with --force and keeps those attributes.
TEST(TargetTest, InUseTargetIsLeftAloneAndReadOnlyTargetStaysReadOnly)
{
    TempDir dir;
    const std::string clear = PatternData(3000);
    WriteFile(dir / "clear", clear);
    WriteFile(dir / "target", "the old content");
    const std::vector<std::string> before = dir.List();
    HANDLE held = CreateFileW(Wide(dir / "target").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    RunResult run = RunWithPassword({"encrypt", dir / "clear", "--no-check-file", "-f", "-o", dir / "target"},
                                    kPassword);
    CloseHandle(held);
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_NE(run.err.find("/target': in use by another program"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(dir / "target"), "the old content");
    EXPECT_EQ(dir.List(), before);

    // the same for a check file held open
    WriteFile(dir / "target.tvkcheck", "the old check");
    held = CreateFileW(Wide(dir / "target.tvkcheck").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                       OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    run = RunWithPassword({"encrypt", dir / "clear", "-f", "-o", dir / "target"}, kPassword);
    CloseHandle(held);
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_NE(run.err.find("/target.tvkcheck': in use by another program"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(dir / "target"), "the old content");
    EXPECT_EQ(ReadFile(dir / "target.tvkcheck"), "the old check");
    RemoveFile(dir / "target.tvkcheck");
    // (the pair commit's hidden second name of the held file is not
    // this test's subject)
    for (const std::string& name : Temporaries(dir)) RemoveFile(dir / name);

    // without --force an existing name is never replaced
    run = RunWithPassword({"encrypt", dir / "clear", "-o", dir / "target"}, kPassword);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("already exists; use --force"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(dir / "target"), "the old content");

    ASSERT_TRUE(SetFileAttributesW(Wide(dir / "target").c_str(), FILE_ATTRIBUTE_READONLY));
    run = RunWithPassword({"encrypt", dir / "clear", "--no-check-file", "-f", "-o", dir / "target"}, kPassword);
    ExpectSuccess(run);
    EXPECT_TRUE(SameBytes(ReadFile(dir / "target"), Library(clear, kPassword, NPT_BlockCipher::ENCRYPT)));
    const DWORD attributes = GetFileAttributesW(Wide(dir / "target").c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_EQ(dir.List(), before);

    // hidden and system files stay so, read-only or not
    const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    for (DWORD old_attributes : {DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), kept}) {
        ASSERT_TRUE(SetFileAttributesW(Wide(dir / "target").c_str(), old_attributes));
        ExpectSuccess(
            RunWithPassword({"encrypt", dir / "clear", "--no-check-file", "-f", "-o", dir / "target"}, kPassword));
        EXPECT_EQ(GetFileAttributesW(Wide(dir / "target").c_str()) & kept, old_attributes);
    }
    EXPECT_EQ(dir.List(), before);
    SetFileAttributesW(Wide(dir / "target").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A check file held open by another program cannot be replaced: the
// run fails, the pair stays as it was, and no hidden second name of the
// old check file is left unsaid (removed, or named in the message).
TEST(TargetTest, HeldCheckFileLeavesThePairAndNoUnnamedLeftover)
{
    TempDir dir;
    WriteFile(dir / "clear", PatternData(3000));
    WriteFile(dir / "target", "the old content");
    WriteFile(dir / "target.tvkcheck", "the old check file");
    const std::vector<std::string> before = dir.List();
    HANDLE held = CreateFileW(Wide(dir / "target.tvkcheck").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    RunResult run = RunWithPassword({"encrypt", dir / "clear", "-f", "-o", dir / "target"}, kPassword);
    CloseHandle(held);
    EXPECT_EQ(run.exit_code, 1) << run.err;
    EXPECT_EQ(ReadFile(dir / "target"), "the old content");
    EXPECT_EQ(ReadFile(dir / "target.tvkcheck"), "the old check file");
    const std::string::size_type named = run.err.find("; remove '");
    if (named != std::string::npos) {
        const std::string::size_type start = named + std::strlen("; remove '");
        RemoveFile(run.err.substr(start, run.err.find('\'', start) - start));
    }
    EXPECT_EQ(dir.List(), before) << run.err;
}

// A symbolic link at the output name is replaced, not written through,
// unless --follow-symlinks.
TEST(TargetTest, SymbolicLinkIsReplacedUnlessFollowed)
{
    TempDir dir;
    WriteFile(dir / "clear", "new text");
    WriteFile(dir / "real", "the link's target");
    const DWORD unprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    if (!CreateSymbolicLinkW(Wide(Backslashed(dir / "link")).c_str(), Wide(Backslashed(dir / "real")).c_str(),
                             unprivileged) &&
        !CreateSymbolicLinkW(Wide(Backslashed(dir / "link")).c_str(), Wide(Backslashed(dir / "real")).c_str(), 0)) {
        GTEST_SKIP() << "no symbolic links here (error " << GetLastError() << ")";
    }
    // Wine 8 reports success without making a link the system shows as one
    const DWORD made = GetFileAttributesW(Wide(dir / "link").c_str());
    if (made == INVALID_FILE_ATTRIBUTES || !(made & FILE_ATTRIBUTE_REPARSE_POINT)) {
        GTEST_SKIP() << "symbolic links are not shown as reparse points here";
    }
    const std::string expected = Library("new text", kPassword, NPT_BlockCipher::ENCRYPT);

    ExpectSuccess(RunWithPassword({"encrypt", dir / "clear", "--no-check-file", "--follow-symlinks", "-f", "-o",
                                   dir / "link"},
                                  kPassword));
    EXPECT_TRUE(SameBytes(ReadFile(dir / "real"), expected));
    EXPECT_NE(GetFileAttributesW(Wide(dir / "link").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);

    WriteFile(dir / "real", "the link's target");
    ExpectSuccess(RunWithPassword({"encrypt", dir / "clear", "--no-check-file", "-f", "-o", dir / "link"},
                                  kPassword));
    EXPECT_EQ(ReadFile(dir / "real"), "the link's target");
    EXPECT_EQ(GetFileAttributesW(Wide(dir / "link").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    EXPECT_TRUE(SameBytes(ReadFile(dir / "link"), expected));
}

// On a volume without hard links (FAT, exFAT: memory cards, USB sticks)
// the old check file of a replaced pair moves to its hidden name instead
// of gaining a second one. A replacement refused midway (the target held
// open without sharing deletion) brings it back: the old pair stays
// usable; a free target gets the new pair, with nothing hidden left.
// Run by FatVolumeWin32.sh, which mounts such a volume for it.
TEST(FatVolumeTest, DISABLED_PairIsReplacedWithoutHardLinks)
{
    const char* volume = std::getenv("TVK_TEST_FAT_DIR");
    if (volume == nullptr || *volume == '\0') GTEST_SKIP() << "no volume: FatVolumeWin32.sh mounts one";
    TempDir dir(HostPath(volume));
    ASSERT_FALSE(dir.Path().empty()) << volume;
    WriteFile(dir / "old", PatternData(3000, 11));
    const std::string clear = PatternData(5000, 12);
    WriteFile(dir / "new", clear);
    // what is tested is the way without hard links
    ASSERT_FALSE(CreateHardLinkW(Wide(Backslashed(dir / "link")).c_str(), Wide(Backslashed(dir / "old")).c_str(),
                                 nullptr))
        << volume << " has hard links";

    ExpectSuccess(RunWithPassword({"encrypt", dir / "old", "-o", dir / "F"}, kPassword));
    const std::string old_data = ReadFile(dir / "F"), old_check = ReadFile(dir / "F.tvkcheck");
    const std::vector<std::string> pair = {"F", "F.tvkcheck", "new", "old"};
    ASSERT_EQ(dir.List(), pair);
    HANDLE held = CreateFileW(Wide(dir / "F").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    RunResult run = RunWithPassword({"encrypt", dir / "new", "-f", "-o", dir / "F"}, kPassword);
    CloseHandle(held);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("/F': in use by another program"), std::string::npos) << run.err;
    EXPECT_TRUE(SameBytes(ReadFile(dir / "F"), old_data));
    EXPECT_TRUE(SameBytes(ReadFile(dir / "F.tvkcheck"), old_check));
    EXPECT_EQ(dir.List(), pair);

    ExpectSuccess(RunWithPassword({"encrypt", dir / "new", "-f", "-o", dir / "F"}, kPassword));
    EXPECT_EQ(dir.List(), pair);
    // verified against the new check file as it decrypts
    run = RunWithPassword({"decrypt", dir / "F"}, kPassword);
    ExpectSuccess(run);
    EXPECT_TRUE(SameBytes(run.out, clear));
}

// Files of several blocks go through both workers with positioned
// reads and writes on one handle each: file to file, in place, and a
// range in the middle.
TEST(WorkersTest, LargeFilesMatchTheLibrary)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    if (system.dwNumberOfProcessors < 2) GTEST_SKIP() << "one processor: the tool uses one worker";
    TempDir dir;
    const std::string clear = PatternData(6 * B + 12345, 21);
    const std::string encrypted = Library(clear, kPassword, NPT_BlockCipher::ENCRYPT);
    WriteFile(dir / "clear", clear);

    ExpectSuccess(RunWithPassword({"encrypt", dir / "clear", "-o", dir / "enc"}, kPassword));
    EXPECT_TRUE(SameBytes(ReadFile(dir / "enc"), encrypted));

    WriteFile(dir / "inplace", std::string(100, 'x'));
    ExpectSuccess(RunWithPassword({"decrypt", dir / "enc", "-f", "--in-place", "-o", dir / "inplace"}, kPassword));
    EXPECT_TRUE(SameBytes(ReadFile(dir / "inplace"), clear));

    RunResult run = RunWithPassword(
        {"decrypt", dir / "enc", "--offset", std::to_string(B - 3), "--length", std::to_string(3 * B)}, kPassword);
    ExpectSuccess(run);
    EXPECT_TRUE(SameBytes(run.out, clear.substr(B - 3, 3 * B)));
}

// Ctrl-Break (Ctrl-C is off in a new process group) while the tool waits
// for more input: the console control handler removes the temporary and
// the check file's temporary, the target stays, and the exit status is
// that of an interrupt. Wine without a terminal has no console that can
// carry the event (GenerateConsoleCtrlEvent fails): the test is skipped
// there, and the one below calls the handler directly instead.
TEST(ConsoleControlTest, CtrlBreakRemovesTheTemporariesAndKeepsTheTarget)
{
    // the event travels through a console shared with the tool
    bool own_console = false;
    if (GetConsoleWindow() == nullptr && !AttachConsole(ATTACH_PARENT_PROCESS)) own_console = AllocConsole() != 0;
    SetConsoleCtrlHandler(nullptr, TRUE);  // this process ignores the event it sends

    TempDir dir;
    WriteFile(dir / "target", "the old content");
    WriteFile(dir / "target.tvkcheck", "the old check");
    const std::vector<std::string> before = dir.List();
    auto feed = std::make_unique<StalledInput>();
    ASSERT_GE(feed->fd, 0);

    RunSpec spec;
    spec.args = {"encrypt", "-f", "-o", dir / "target"};
    spec.env["TVK_PASSWORD"] = kPassword;
    spec.stdin_fd = feed->fd;
    spec.creation_flags = CREATE_NEW_PROCESS_GROUP;
    spec.timeout_seconds = 30;
    bool both_seen = false;
    DWORD send_error = 0;
    spec.watch = [&](ProcessId pid, const std::string&) {
        both_seen = Temporaries(dir).size() == 2;
        if (!both_seen) return false;
        Sleep(200);
        if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, pid)) {
            send_error = GetLastError();
            HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
            if (process != nullptr) {
                TerminateProcess(process, 9);
                CloseHandle(process);
            }
        }
        return true;
    };
    RunResult run = RunTool(spec);
    feed.reset();
    SetConsoleCtrlHandler(nullptr, FALSE);
    if (own_console) FreeConsole();

    ASSERT_TRUE(both_seen) << "the tool never made its temporaries: " << run.err;
    if (send_error != 0) {
        for (const std::string& name : Temporaries(dir)) RemoveFile(dir / name);
        GTEST_SKIP() << "no console to carry Ctrl-Break here (error " << send_error << ")";
    }
    EXPECT_FALSE(run.timed_out) << "the event never reached the tool";
    EXPECT_EQ(run.exit_code, 130) << run.err;
    EXPECT_EQ(ReadFile(dir / "target"), "the old content");
    EXPECT_EQ(ReadFile(dir / "target.tvkcheck"), "the old check");
    EXPECT_EQ(dir.List(), before);
}

// Ended outright while it waits for more input (End process, a crash,
// TerminateProcess: no handler runs): the system removes the
// temporaries, which were marked delete-on-close when they were made,
// the partial cleartext of a decryption among them.
TEST(KillTest, TerminatedToolLeavesNoTemporary)
{
    const struct {
        const char* command;
        std::size_t temporaries;  // the output, and the check file when encrypting
    } cases[] = {{"encrypt", 2}, {"decrypt", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        TempDir dir;
        WriteFile(dir / "target", "the old content");
        const std::vector<std::string> before = dir.List();
        StalledInput feed;
        ASSERT_GE(feed.fd, 0);
        RunSpec spec;
        spec.args = {c.command, "-f", "-o", dir / "target"};
        spec.env["TVK_PASSWORD"] = kPassword;
        spec.stdin_fd = feed.fd;
        spec.timeout_seconds = 30;
        bool seen = false;
        spec.watch = [&](ProcessId pid, const std::string&) {
            seen = Temporaries(dir).size() == c.temporaries;
            if (!seen) return false;
            Sleep(200);  // the data read so far is written meanwhile
            HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
            if (process != nullptr) {
                TerminateProcess(process, 9);
                CloseHandle(process);
            }
            return true;
        };
        RunResult run = RunTool(spec);
        ASSERT_TRUE(seen) << "the tool never made its temporaries: " << run.err;
        EXPECT_EQ(run.exit_code, 9) << run.err;
        EXPECT_EQ(ReadFile(dir / "target"), "the old content");
        EXPECT_EQ(dir.List(), before);
    }
}

// tvkcrypt.exe carries the project's version (as --version says it) and
// a manifest that declares long paths and UTF-8.
TEST(ResourcesTest, VersionResourceAndManifest)
{
    HMODULE tool = LoadLibraryExW(Wide(ToolPath()).c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(tool, nullptr) << GetLastError();
    EXPECT_EQ(tvk_test::FileVersion(tool), std::string(TVK_TEST_VERSION) + ".0");
    const std::string manifest = tvk_test::ProgramManifest(tool);
    FreeLibrary(tool);
    EXPECT_NE(manifest.find("<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true<"),
              std::string::npos) << manifest;
    EXPECT_NE(manifest.find(">UTF-8</activeCodePage>"), std::string::npos) << manifest;
    RunSpec spec;
    spec.args = {"--version"};
    RunResult run = RunTool(spec);
    ExpectSuccess(run);
    EXPECT_NE(run.out.find(TVK_TEST_VERSION), std::string::npos) << run.out;
}

// The handler itself, called as the system calls it (on a thread of its
// own) in a copy of this program that holds two open temporaries: both
// go, the target stays, and the process ends with the status of an
// interrupt (Ctrl-C, Ctrl-Break) or a hang-up (console closed, logoff).
extern "C" BOOL WINAPI TvkcryptOnConsoleControl(DWORD event);

const char kChildDirectory[] = "TVK_TEST_CONTROL_DIRECTORY";
const char kChildEvent[] = "TVK_TEST_CONTROL_EVENT";

// a thread procedure: entered as the system enters the handler
TVK_ALIGN_ENTRY DWORD WINAPI
CallTheHandler(void* event)
{
    return TvkcryptOnConsoleControl(static_cast<DWORD>(reinterpret_cast<uintptr_t>(event)));
}

// Runs only in the copy started by the test below.
TEST(ConsoleControlChild, DISABLED_HoldTemporariesThenCallTheHandler)
{
    const char* directory = std::getenv(kChildDirectory);
    const char* event = std::getenv(kChildEvent);
    ASSERT_TRUE(directory != nullptr && event != nullptr);
    tvkcrypt::OutputPlace place, check_place;
    ASSERT_EQ(place.Locate(std::string(directory) + "/target", false), 0);
    ASSERT_EQ(check_place.Locate(std::string(directory) + "/target.tvkcheck", false), 0);
    tvkcrypt::TempOutput output, check;
    ASSERT_EQ(output.Create(place), 0);
    ASSERT_EQ(check.Create(check_place), 0);
    const std::string data = PatternData(100000);
    ASSERT_EQ(tvkcrypt::WriteAt(output.File(), data.data(), data.size(), 0), 0);
    ASSERT_EQ(ListDirectory(directory).size(), 4u);
    HANDLE thread = CreateThread(nullptr, 0, CallTheHandler,
                                 reinterpret_cast<void*>(static_cast<uintptr_t>(std::atoi(event))), 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, 10000);
    ADD_FAILURE() << "the handler returned instead of ending the process";
}

TEST(ConsoleControlTest, TheHandlerRemovesTemporariesAndEndsLikeASignal)
{
    wchar_t self[MAX_PATH + 1];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
    ASSERT_TRUE(length > 0 && length <= MAX_PATH);
    const struct {
        DWORD event;
        int   exit_code;
    } cases[] = {{CTRL_C_EVENT, 130}, {CTRL_BREAK_EVENT, 130}, {CTRL_CLOSE_EVENT, 129}};
    for (const auto& c : cases) {
        SCOPED_TRACE("event " + std::to_string(c.event));
        TempDir dir;
        WriteFile(dir / "target", "the old content");
        WriteFile(dir / "target.tvkcheck", "the old check");
        const std::vector<std::string> before = dir.List();
        RunSpec spec;
        spec.program = Utf8(std::wstring(self, length));
        spec.args = {"--gtest_also_run_disabled_tests",
                     "--gtest_filter=ConsoleControlChild.DISABLED_HoldTemporariesThenCallTheHandler"};
        spec.env[kChildDirectory] = dir.Path();
        spec.env[kChildEvent] = std::to_string(c.event);
        RunResult run = RunTool(spec);
        EXPECT_EQ(run.exit_code, c.exit_code) << run.out << run.err;
        EXPECT_EQ(ReadFile(dir / "target"), "the old content");
        EXPECT_EQ(ReadFile(dir / "target.tvkcheck"), "the old check");
        EXPECT_EQ(dir.List(), before);
    }
}

}  // namespace
}  // namespace tvkcrypt_test
