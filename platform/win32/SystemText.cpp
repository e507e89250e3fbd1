/*****************************************************************
| SystemText.cpp - Windows implementation of the tvkcrypt tool's text
| services (declared in SystemText.h).
|
| The environment is read from the process's own (UTF-16) block, not
| from the C runtime's narrow copy, which holds the value already
| converted to the ANSI code page with '?' for what that lacks. The
| value then has up to three more copies: the block itself, and the C
| runtime's wide and narrow environments; each is overwritten before the
| variable is removed.
****************************************************************/
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include "SystemText.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include <windows.h>

#include "NptWipe.h"

namespace tvkcrypt {

namespace {

// A heap block for a secret, wiped before it is freed.
template <typename T>
class WipedBlock
{
public:
    explicit WipedBlock(std::size_t count) : m_Items(count) {}
    ~WipedBlock() { NPT_WipeMemory(m_Items.data(), m_Items.size() * sizeof(T)); }
    WipedBlock(const WipedBlock&) = delete;
    WipedBlock& operator=(const WipedBlock&) = delete;
    T* Data() { return m_Items.data(); }

private:
    std::vector<T> m_Items;
};

// UTF-16 (count units) to UTF-8 in buffer. A lone surrogate is
// SECRET_NOT_TEXT: the system would turn it into U+FFFD, a different
// password.
EnvironmentSecret
Utf16ToUtf8(const wchar_t* text, std::size_t count, char* buffer, std::size_t capacity, std::size_t& length)
{
    std::size_t written = 0;
    EnvironmentSecret outcome = SECRET_PRESENT;
    for (std::size_t i = 0; i < count && outcome == SECRET_PRESENT; ++i) {
        unsigned long c = static_cast<unsigned short>(text[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<unsigned short>(text[++i]) - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            outcome = SECRET_NOT_TEXT;
            break;
        }
        unsigned char bytes[4];
        std::size_t size;
        if (c < 0x80) {
            bytes[0] = static_cast<unsigned char>(c);
            size = 1;
        } else if (c < 0x800) {
            bytes[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
            bytes[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            size = 2;
        } else if (c < 0x10000) {
            bytes[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
            bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            bytes[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            size = 3;
        } else {
            bytes[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
            bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
            bytes[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            bytes[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            size = 4;
        }
        if (size > capacity - written) {
            outcome = SECRET_TOO_LONG;
        } else {
            std::memcpy(buffer + written, bytes, size);
            written += size;
        }
        NPT_WipeMemory(bytes, sizeof(bytes));
    }
    if (outcome == SECRET_PRESENT) {
        length = written;
    } else {
        NPT_WipeMemory(buffer, written);
    }
    return outcome;
}

}  // namespace

EnvironmentSecret
TakeEnvironmentSecret(const char* name, char* buffer, std::size_t capacity, std::size_t& length)
{
    length = 0;
    std::wstring wide_name;
    for (const char* c = name; *c != '\0'; ++c) wide_name += static_cast<wchar_t>(static_cast<unsigned char>(*c));

    EnvironmentSecret outcome = SECRET_ABSENT;
    // the process's block: the size with the terminating zero, 0 when unset
    DWORD needed = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
    if (needed > 1) {
        WipedBlock<wchar_t> value(needed);
        DWORD count = GetEnvironmentVariableW(wide_name.c_str(), value.Data(), needed);
        if (count > 0 && count < needed) {
            outcome = Utf16ToUtf8(value.Data(), count, buffer, capacity, length);
            // the same length again, so that the block's copy is
            // overwritten where it lies
            WipedBlock<wchar_t> filler(count + 1);
            for (DWORD i = 0; i < count; ++i) filler.Data()[i] = L'*';
            filler.Data()[count] = L'\0';
            SetEnvironmentVariableW(wide_name.c_str(), filler.Data());
        }
    }
    // the C runtime's copies, made at start-up
    if (wchar_t* wide = _wgetenv(wide_name.c_str())) {
        NPT_WipeMemory(wide, std::wcslen(wide) * sizeof(wchar_t));
    }
    if (char* narrow = std::getenv(name)) NPT_WipeMemory(narrow, std::strlen(narrow));
    // "NAME=" removes the variable from both of the runtime's copies and
    // from the block
    _wputenv((wide_name + L"=").c_str());
    SetEnvironmentVariableW(wide_name.c_str(), nullptr);
    return outcome;
}

// The system's ANSI code page, which other programs (the .NET entry
// point) key with. Not GetACP: the tool's manifest asks for UTF-8 as the
// process's own code page where the system supports that.
unsigned
AnsiCodePage()
{
    DWORD code_page = 0;
    if (GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                       reinterpret_cast<LPWSTR>(&code_page), sizeof(code_page) / sizeof(wchar_t)) == 0 ||
        code_page == 0) {
        return GetACP();
    }
    return code_page;
}

TextConversion
Utf8ToAnsi(const char* text, std::size_t length, char* output, std::size_t capacity, std::size_t& output_length)
{
    output_length = 0;
    if (length == 0) return TEXT_OK;
    if (length > static_cast<std::size_t>(INT_MAX)) return TEXT_TOO_LONG;
    const int text_size = static_cast<int>(length);
    int wide_count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, text_size, nullptr, 0);
    if (wide_count <= 0) return TEXT_INVALID;
    WipedBlock<wchar_t> wide(static_cast<std::size_t>(wide_count));
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, text_size, wide.Data(), wide_count) != wide_count) {
        return TEXT_INVALID;
    }

    const UINT code_page = AnsiCodePage();
    if (code_page == CP_UTF8) {
        // the system keys with UTF-8 itself (the "beta: use Unicode UTF-8"
        // setting); the text is known to be valid
        if (length > capacity) return TEXT_TOO_LONG;
        std::memcpy(output, text, length);
        output_length = length;
        return TEXT_OK;
    }
    // WC_NO_BEST_FIT_CHARS: no look-alikes ("a" for U+0101); a character
    // without its own bytes gets the default character and sets used_default
    BOOL used_default = FALSE;
    int size = WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide.Data(), wide_count, nullptr, 0, nullptr,
                                   &used_default);
    if (size <= 0 || used_default) return TEXT_UNREPRESENTABLE;
    if (static_cast<std::size_t>(size) > capacity) return TEXT_TOO_LONG;
    used_default = FALSE;
    int written = WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide.Data(), wide_count, output, size,
                                      nullptr, &used_default);
    if (written != size || used_default) {
        NPT_WipeMemory(output, static_cast<std::size_t>(size));
        return TEXT_UNREPRESENTABLE;
    }
    output_length = static_cast<std::size_t>(written);
    return TEXT_OK;
}

}  // namespace tvkcrypt
