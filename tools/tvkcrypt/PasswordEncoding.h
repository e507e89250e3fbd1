/*****************************************************************
| PasswordEncoding.h - which bytes of a password tvkcrypt keys with.
|
| The key is derived from the password's bytes, so the same characters
| in two encodings give two keys. tvkcrypt reads passwords as UTF-8 (the
| terminal, the environment and password files; on Windows converted
| from UTF-16), while other producers of this format key with the
| bytes of a legacy code page: the managed entry point passes the
| password in the system's ANSI code page, so "café" became 63 61 66
| e9 (cp1252) there and 63 61 66 c3 a9 (UTF-8) here.
| --password-encoding names the encoding to key with.
|
| Encodings (names are case-insensitive; aliases in parentheses):
|   utf8 (utf-8)            the UTF-8 bytes; the password must be valid
|                           UTF-8
|   ansi                    Windows only: the system's ANSI code page
|   cp1250 ... cp1257       the Windows code pages (windows-1250 ...)
|   latin1 (iso-8859-1), iso-8859-2 (latin2), iso-8859-15 (latin9),
|   cp437, cp850, cp866, koi8-r
| A default-constructed PasswordEncoding (no option given) keys with the
| bytes exactly as read, so that passwords in other encodings that
| tvkcrypt has always accepted keep working.
|
| Convert writes into a caller's fixed buffer and keeps no copy: the
| only temporaries (on Windows, for ansi) are wiped. It fails, never
| substitutes: a character the encoding cannot represent, or text that
| is not UTF-8, is refused with a message naming the encoding, since a
| '?' in its place would key with different bytes. Messages never
| quote the password.
|
| Objects are plain values, usable from any thread.
****************************************************************/
#ifndef TVKCRYPT_PASSWORD_ENCODING_H
#define TVKCRYPT_PASSWORD_ENCODING_H

#include <cstddef>
#include <string>

#include "NptTypes.h"

namespace tvkcrypt {

class PasswordEncoding
{
public:
    // The bytes as read.
    PasswordEncoding() = default;

    // Looks up name. Returns false with a message in error for an
    // unknown name (listing the accepted ones), and for ansi where the
    // system has no ANSI code page.
    static bool Find(const std::string& name, PasswordEncoding& encoding, std::string& error);
    // The accepted names, for help and messages: "utf8, ansi, cp1250, ...".
    static std::string Names();

    // The encoding's name as the user should see it ("cp1252",
    // "ansi (code page 1252)"); "utf8" for the default.
    std::string Name() const;
    bool        IsDefault() const { return m_Kind == AS_READ; }

    // Converts text (length bytes) into output, at most capacity bytes;
    // output_length is the result's size. On failure returns false with
    // the reason in error, phrased to follow subject ("the password
    // entered"), and output_length 0. output may not overlap text.
    bool Convert(const char* text, std::size_t length, char* output, std::size_t capacity,
                 std::size_t& output_length, const std::string& subject, std::string& error) const;

private:
    enum Kind { AS_READ, UTF8, TABLE, ANSI };

    Kind              m_Kind = AS_READ;
    const char*       m_Name = "utf8";
    const NPT_UInt16* m_Table = nullptr;  // TABLE: characters of bytes 0x80-0xFF
};

// Decodes one UTF-8 character of text (length bytes > 0) into code_point
// and returns its size in bytes, or 0 when the bytes are not valid UTF-8
// (bad lead or continuation byte, a sequence cut short, an overlong
// form, a surrogate, or a value above U+10FFFF).
std::size_t DecodeUtf8(const char* text, std::size_t length, NPT_UInt32& code_point);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_PASSWORD_ENCODING_H
