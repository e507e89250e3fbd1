// The managed binding's native DLL as the managed runtime meets it on
// Windows: loaded by its bare name from the directory it shares with
// this program, Helper's four entry points and the C interface (which
// the TvkCrypto namespace calls) found by their plain names, and
// driven with password bytes the way the assembly passes them (the
// system's ANSI code page), against the shared password-format vectors.
// The program links no part of the library: every byte comes through
// the DLL.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "TestJson.h"
#include "TestSha256.h"
#include "TestWin32Resources.h"
#include "TvkCrypto/c.h"
#include "TvkManagedNative.h"

namespace {

using tvk_test::FromHex;
using tvk_test::JsonParser;
using tvk_test::JsonValue;
using tvk_test::Sha256Hex;
using tvk_test::ToHex;
using Bytes = std::vector<std::uint8_t>;

const wchar_t* const kDllName = L"TVKCryptoWrapperNative.dll";

// The entry points, typed after the header the DLL is built from, so that
// a change of signature on either side fails to compile here.
struct EntryPoints
{
    decltype(&tvk_managed_run)          run          = nullptr;
    decltype(&tvk_managed_result_text)  result_text  = nullptr;
    decltype(&tvk_managed_result_bytes) result_bytes = nullptr;
    decltype(&tvk_managed_release)      release      = nullptr;
};

struct LoadedDll
{
    HMODULE      module = nullptr;
    EntryPoints  entry;
    std::string  error;  // empty when everything was found
};

std::wstring DirectoryOf(HMODULE module)
{
    std::wstring path(32768, L'\0');
    DWORD length = GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
    path.resize(length);
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());  // for messages only
}

template <typename Function>
void Resolve(LoadedDll& dll, const char* name, Function& function)
{
    FARPROC address = GetProcAddress(dll.module, name);
    if (address == nullptr) {
        dll.error += std::string("no export named ") + name + "; ";
        return;
    }
    // through the generic function pointer type, which every function
    // pointer converts to without a cast warning
    function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

// Loads the DLL once for the whole program. The current directory is
// moved away first, so the DLL can only be found where the runtime finds
// it for the assembly: in the directory of the process's program.
const LoadedDll& Dll()
{
    static const LoadedDll dll = [] {
        LoadedDll loaded;
        wchar_t temp[MAX_PATH + 1];
        DWORD temp_length = GetTempPathW(MAX_PATH + 1, temp);
        if (temp_length == 0 || !SetCurrentDirectoryW(temp)) {
            loaded.error = "cannot leave the program's directory; ";
        }
        loaded.module = LoadLibraryW(kDllName);
        if (loaded.module == nullptr) {
            loaded.error += "LoadLibraryW failed with error " +
                            std::to_string(GetLastError());
            return loaded;
        }
        Resolve(loaded, "tvk_managed_run", loaded.entry.run);
        Resolve(loaded, "tvk_managed_result_text", loaded.entry.result_text);
        Resolve(loaded, "tvk_managed_result_bytes", loaded.entry.result_bytes);
        Resolve(loaded, "tvk_managed_release", loaded.entry.release);
        return loaded;
    }();
    return dll;
}

#define ASSERT_DLL_LOADED() ASSERT_TRUE(Dll().error.empty()) << Dll().error

struct Outcome
{
    NPT_Result  result = NPT_FAILURE;
    Bytes       bytes;
    std::string text;
};

// One call as the assembly makes it: run, copy the bytes and the text
// out, release.
Outcome RunThroughDll(const std::string& password, NPT_Int32 direction, const Bytes& data)
{
    const EntryPoints& native = Dll().entry;
    Outcome outcome;
    TVK_ManagedRun* run = nullptr;
    outcome.result = native.run(password.c_str(), direction,
                                data.empty() ? nullptr : data.data(),
                                static_cast<NPT_UInt32>(data.size()), &run);
    EXPECT_NE(run, nullptr);
    if (run == nullptr) return outcome;
    NPT_UInt32 length = 0;
    const NPT_Byte* bytes = native.result_bytes(run, &length);
    EXPECT_NE(bytes, nullptr);
    if (bytes != nullptr) outcome.bytes.assign(bytes, bytes + length);
    const char* text = native.result_text(run);
    EXPECT_NE(text, nullptr);
    if (text != nullptr) outcome.text = text;
    native.release(run);
    return outcome;
}

const JsonValue& Vectors()
{
    static const JsonValue data =
        JsonParser::ParseFile(std::string(TVK_TEST_DATA_DIR) + "/password-format.json");
    return data;
}

Bytes Cleartext(const JsonValue& cleartext)
{
    Bytes bytes(cleartext["size"].AsUInt64());
    if (cleartext["kind"].AsString() == "xorshift32") {
        std::uint32_t x = 0x2545F491;
        for (auto& b : bytes) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = static_cast<std::uint8_t>(x >> 24);
        }
    } else {
        EXPECT_EQ(cleartext["kind"].AsString(), "zero");
    }
    return bytes;
}

std::string PasswordBytes(const std::string& name)
{
    for (const JsonValue& entry : Vectors()["passwords"].items) {
        if (entry["name"].AsString() == name) {
            Bytes bytes = FromHex(entry["password_hex"].AsString());
            return std::string(bytes.begin(), bytes.end());
        }
    }
    ADD_FAILURE() << "no password named " << name;
    return std::string();
}

// The bytes Marshal.StringToHGlobalAnsi makes of a string on a system
// whose ANSI code page is code_page.
std::string AnsiBytes(const wchar_t* text, UINT code_page)
{
    int size = WideCharToMultiByte(code_page, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(code_page, 0, text, -1, &bytes[0], size, nullptr, nullptr);
    bytes.resize(static_cast<size_t>(size) - 1);  // the terminator
    return bytes;
}

std::string UpToFirstZero(const Bytes& bytes)
{
    auto zero = std::find(bytes.begin(), bytes.end(), 0);
    return std::string(bytes.begin(), zero);
}

Bytes Pattern(size_t size, std::uint32_t seed)
{
    Bytes bytes(size);
    for (auto& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

// ---------------------------------------------------------------------------

TEST(ManagedNativeDll, LoadsByBareNameFromItsOwnDirectoryWithSystemDllsOnly)
{
    ASSERT_DLL_LOADED();
    std::wstring dll_dir = DirectoryOf(Dll().module);
    std::wstring program_dir = DirectoryOf(nullptr);
    EXPECT_EQ(CompareStringOrdinal(dll_dir.c_str(), -1, program_dir.c_str(), -1, TRUE),
              CSTR_EQUAL)
        << Narrow(dll_dir) << " vs " << Narrow(program_dir);

    // The compiler's runtime DLLs stay out of the process: the DLL carries
    // its own copy of them.
    for (const wchar_t* runtime : {L"libstdc++-6.dll", L"libgcc_s_dw2-1.dll",
                                   L"libgcc_s_seh-1.dll", L"libwinpthread-1.dll"}) {
        EXPECT_EQ(GetModuleHandleW(runtime), nullptr) << Narrow(runtime);
    }
    // The decorated forms of a 32-bit build are not what the assembly asks for.
    EXPECT_EQ(GetProcAddress(Dll().module, "_tvk_managed_run"), nullptr);
    // Explorer's Properties show the project's version
    EXPECT_EQ(tvk_test::FileVersion(Dll().module), std::string(TVK_TEST_VERSION) + ".0");
}

// Three chunks of zeros encrypt to the first block of the key stream of
// each chunk, which the vectors list for every password, among them
// "café" in the bytes the assembly passes on a Western European system.
TEST(ManagedNativeDll, KeysPasswordBytesAsTheVectorsList)
{
    ASSERT_DLL_LOADED();
    std::string cafe = AnsiBytes(L"caf\u00e9", 1252);
    EXPECT_EQ(cafe, PasswordBytes("cp1252_cafe"));
    EXPECT_EQ(ToHex(cafe.data(), cafe.size()), "636166e9");

    const Bytes zeros(3 * 1024, 0);
    int checked = 0;
    for (const JsonValue& entry : Vectors()["passwords"].items) {
        SCOPED_TRACE(entry["name"].AsString());
        Outcome outcome = RunThroughDll(PasswordBytes(entry["name"].AsString()), 0, zeros);
        ASSERT_EQ(outcome.result, NPT_SUCCESS);
        ASSERT_EQ(outcome.bytes.size(), zeros.size());
        for (size_t c = 0; c < 3; ++c) {
            EXPECT_EQ(ToHex(outcome.bytes.data() + 1024 * c, 16), entry["K_hex"][c].AsString())
                << "chunk " << c;
        }
        ++checked;
    }
    EXPECT_GE(checked, 5);
}

// Every whole-input vector through both directions: the ciphertext is
// byte-identical to the vector's, decrypting it gives the cleartext back,
// and the text result ends at the first zero byte as the string overload
// sees it.
TEST(ManagedNativeDll, WholeInputsMatchTheVectorsBothWays)
{
    ASSERT_DLL_LOADED();
    int checked = 0;
    for (const JsonValue& vector : Vectors()["vectors"].items) {
        SCOPED_TRACE(vector["id"].AsString());
        ASSERT_EQ(vector["offset"].AsUInt64(), 0u);
        const std::string password = PasswordBytes(vector["password"].AsString());
        const Bytes cleartext = Cleartext(vector["cleartext"]);

        Outcome encrypted = RunThroughDll(password, 0, cleartext);
        ASSERT_EQ(encrypted.result, NPT_SUCCESS);
        ASSERT_EQ(encrypted.bytes.size(), vector["length"].AsUInt64());
        EXPECT_EQ(Sha256Hex(encrypted.bytes.data(), encrypted.bytes.size()),
                  vector["ciphertext_sha256"].AsString());
        size_t edge = std::min<size_t>(64, encrypted.bytes.size());
        EXPECT_EQ(ToHex(encrypted.bytes.data(), edge), vector["ciphertext_head_hex"].AsString());
        if (!vector["ciphertext_tail_hex"].IsNull()) {
            EXPECT_EQ(ToHex(encrypted.bytes.data() + encrypted.bytes.size() - 64, 64),
                      vector["ciphertext_tail_hex"].AsString());
        }
        EXPECT_EQ(encrypted.text, UpToFirstZero(encrypted.bytes));

        Outcome decrypted = RunThroughDll(password, 1, encrypted.bytes);
        ASSERT_EQ(decrypted.result, NPT_SUCCESS);
        EXPECT_TRUE(decrypted.bytes == cleartext);
        EXPECT_EQ(decrypted.text, UpToFirstZero(cleartext));
        ++checked;
    }
    EXPECT_GE(checked, 20);
}

// Round trips across the chunk and slice edges; every direction but 0
// decrypts, as the assembly passes the enumeration's value unchecked.
TEST(ManagedNativeDll, RoundTripsAtChunkEdgesInEveryDirectionValue)
{
    ASSERT_DLL_LOADED();
    const std::string password = AnsiBytes(L"Pa\u00dfwort caf\u00e9", 1252);
    for (size_t size : {0u, 1u, 15u, 16u, 17u, 1023u, 1024u, 1025u, 65539u, 300000u}) {
        SCOPED_TRACE(size);
        const Bytes cleartext = Pattern(size, static_cast<std::uint32_t>(size) + 1);
        Outcome encrypted = RunThroughDll(password, 0, cleartext);
        ASSERT_EQ(encrypted.result, NPT_SUCCESS);
        ASSERT_EQ(encrypted.bytes.size(), size);
        if (size >= 16) {
            EXPECT_FALSE(encrypted.bytes == cleartext);
        }
        for (NPT_Int32 direction : {1, 2, -1}) {
            SCOPED_TRACE(direction);
            Outcome decrypted = RunThroughDll(password, direction, encrypted.bytes);
            ASSERT_EQ(decrypted.result, NPT_SUCCESS);
            EXPECT_TRUE(decrypted.bytes == cleartext);
        }
        // a password that differs in its last byte keys differently
        if (size >= 16) {
            Outcome other = RunThroughDll(password.substr(0, password.size() - 1) + 'e', 1,
                                encrypted.bytes);
            ASSERT_EQ(other.result, NPT_SUCCESS);
            EXPECT_FALSE(other.bytes == cleartext);
        }
    }
}

// Calls the assembly never makes, but another caller of the DLL might:
// each is refused with a result and no run, or is harmless.
TEST(ManagedNativeDll, RefusesNullArgumentsWithoutARun)
{
    ASSERT_DLL_LOADED();
    const EntryPoints& native = Dll().entry;
    const NPT_Byte data[4] = {1, 2, 3, 4};
    struct Case {
        const char*     name;
        const char*     password;
        const NPT_Byte* data;
        NPT_UInt32      size;
        bool            with_run;
        NPT_Result      expected;
    };
    const Case cases[] = {
        {"null run", "pw", data, 4, false, NPT_ERROR_INVALID_PARAMETERS},
        {"null password", nullptr, data, 4, true, NPT_ERROR_INVALID_PARAMETERS},
        {"null data with a size", "pw", nullptr, 4, true, NPT_ERROR_INVALID_PARAMETERS},
        {"null data without a size", "pw", nullptr, 0, true, NPT_SUCCESS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TVK_ManagedRun* run = reinterpret_cast<TVK_ManagedRun*>(std::uintptr_t{1});  // overwritten
        NPT_Result result = native.run(c.password, 0, c.data, c.size, c.with_run ? &run : nullptr);
        EXPECT_EQ(result, c.expected);
        if (!c.with_run) continue;
        if (c.expected == NPT_SUCCESS) {
            ASSERT_NE(run, nullptr);
            NPT_UInt32 length = 99;
            EXPECT_NE(native.result_bytes(run, &length), nullptr);
            EXPECT_EQ(length, 0u);
            EXPECT_STREQ(native.result_text(run), "");
            native.release(run);
        } else {
            EXPECT_EQ(run, nullptr);
        }
    }

    NPT_UInt32 length = 99;
    EXPECT_NE(native.result_bytes(nullptr, &length), nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_NE(native.result_bytes(nullptr, nullptr), nullptr);
    EXPECT_STREQ(native.result_text(nullptr), "");
    native.release(nullptr);
}

// Runs on two threads at once give what they give alone: the DLL keeps
// no state between calls.
TEST(ManagedNativeDll, RunsOnTwoThreadsAtOnceAsAlone)
{
    ASSERT_DLL_LOADED();
    const Bytes cleartext = Pattern(70000, 7);
    const std::string passwords[2] = {"first", PasswordBytes("cp1252_cafe")};
    Bytes alone[2];
    for (int t = 0; t < 2; ++t) alone[t] = RunThroughDll(passwords[t], 0, cleartext).bytes;
    ASSERT_FALSE(alone[0] == alone[1]);

    int mismatches[2] = {0, 0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                // no gtest assertions off the main thread: count instead
                const EntryPoints& native = Dll().entry;
                TVK_ManagedRun* run = nullptr;
                NPT_Result result = native.run(passwords[t].c_str(), 0, cleartext.data(),
                                               static_cast<NPT_UInt32>(cleartext.size()), &run);
                NPT_UInt32 length = 0;
                const NPT_Byte* bytes = run ? native.result_bytes(run, &length) : nullptr;
                if (result != NPT_SUCCESS || bytes == nullptr ||
                    !std::equal(bytes, bytes + length, alone[t].begin(), alone[t].end())) {
                    ++mismatches[t];
                }
                native.release(run);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(mismatches[0], 0);
    EXPECT_EQ(mismatches[1], 0);
}

} // namespace

extern "C" NPT_Result TvkTestRunWithStackShift(decltype(&tvk_managed_run) run, unsigned shift,
                                               const char* password, NPT_Int32 direction,
                                               const NPT_Byte* data, NPT_UInt32 size,
                                               TVK_ManagedRun** result);

// A 32-bit host may call with the stack aligned to 4 bytes only; the
// DLL's vector code (hardware AES keeps blocks on the stack) must not
// assume GCC's 16. Each shift reaches the entry point at another
// alignment; a misaligned vector store would end the program here.
TEST(ManagedNativeDll, RunsWhenCalledWithTheStackAlignedToFourBytesOnly)
{
    ASSERT_DLL_LOADED();
    const EntryPoints& native = Dll().entry;
    const std::string password = "stack alignment";
    const Bytes cleartext = Pattern(70000, 7);
    const Outcome expected = RunThroughDll(password, 0, cleartext);
    ASSERT_EQ(expected.result, NPT_SUCCESS);
    for (unsigned shift = 0; shift < 16; shift += 4) {
        SCOPED_TRACE(shift);
        for (NPT_Int32 direction : {0, 1}) {
            const Bytes& input = direction == 0 ? cleartext : expected.bytes;
            TVK_ManagedRun* run = nullptr;
            ASSERT_EQ(TvkTestRunWithStackShift(native.run, shift, password.c_str(), direction,
                                               input.data(), static_cast<NPT_UInt32>(input.size()),
                                               &run),
                      NPT_SUCCESS);
            ASSERT_NE(run, nullptr);
            NPT_UInt32 length = 0;
            const NPT_Byte* bytes = native.result_bytes(run, &length);
            const Bytes& want = direction == 0 ? expected.bytes : cleartext;
            EXPECT_TRUE(Bytes(bytes, bytes + length) == want);
            native.release(run);
        }
    }
}

// The TvkCrypto namespace's calls into the same DLL: the C interface's
// key and transform give what Helper's entry point gives, and its reader
// decrypts the stored README example through its check file.
TEST(ManagedNativeDll, ServesTheCInterfaceToTheTvkCryptoNamespace)
{
    ASSERT_DLL_LOADED();
    LoadedDll c_api = Dll();
    decltype(&tvk_key_create) key_create = nullptr;
    decltype(&tvk_transform) transform = nullptr;
    decltype(&tvk_key_destroy) key_destroy = nullptr;
    decltype(&tvk_reader_open) reader_open = nullptr;
    decltype(&tvk_reader_read) reader_read = nullptr;
    decltype(&tvk_reader_close) reader_close = nullptr;
    Resolve(c_api, "tvk_key_create", key_create);
    Resolve(c_api, "tvk_transform", transform);
    Resolve(c_api, "tvk_key_destroy", key_destroy);
    Resolve(c_api, "tvk_reader_open", reader_open);
    Resolve(c_api, "tvk_reader_read", reader_read);
    Resolve(c_api, "tvk_reader_close", reader_close);
    ASSERT_TRUE(c_api.error.empty()) << c_api.error;

    const std::string password = "c interface";
    const Bytes cleartext = Pattern(5000, 3);
    const Outcome expected = RunThroughDll(password, 0, cleartext);
    tvk_key* key = nullptr;
    ASSERT_EQ(key_create(password.data(), password.size(), &key), TVK_SUCCESS);
    Bytes data(cleartext.begin() + 1000, cleartext.end());
    ASSERT_EQ(transform(key, data.data(), data.size(), 1000), TVK_SUCCESS);
    key_destroy(key);
    EXPECT_TRUE(data == Bytes(expected.bytes.begin() + 1000, expected.bytes.end()));

    tvk_reader* reader = nullptr;
    const std::string path = std::string(TVK_TEST_DATA_DIR) + "/readme-example.tvk";
    ASSERT_EQ(reader_open(path.c_str(), "example password", 16, TVK_VERIFY_REQUIRED, nullptr, &reader),
              TVK_SUCCESS);
    char text[64];
    size_t got = 0;
    EXPECT_EQ(reader_read(reader, 4, text, sizeof text, &got, nullptr), TVK_SUCCESS);
    reader_close(reader);
    EXPECT_EQ(std::string(text, got), "README's C example reads these 64 bytes from the middle of files");
}
