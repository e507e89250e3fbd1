/*****************************************************************
| SystemText.h - the text services of the tvkcrypt tool that depend
| on the operating system: the password in the environment, and the
| system's ANSI code page.
|
| Like the other headers of this folder it includes no system header;
| the implementations are posix/SystemText.cpp and win32/SystemText.cpp.
|
| TakeEnvironmentSecret runs once, first thing in the process, before
| any thread starts (it changes the environment). On POSIX the value is
| the variable's bytes as they are; on Windows it is read from the wide
| (UTF-16) environment and handed over as UTF-8. Either way every copy
| of the value the process holds is wiped, and the variable removed,
| whatever the outcome.
|
| Utf8ToAnsi converts to the system's ANSI code page, the one Windows'
| "ANSI" functions use in programs without a code page of their own
| (the system locale's; not GetACP, which the tool's manifest makes
| UTF-8 where the system supports that), refusing characters the code page cannot represent
| instead of replacing them with a look-alike or '?'. Where the system
| has no such code page (POSIX) AnsiCodePage is 0 and Utf8ToAnsi gives
| TEXT_UNAVAILABLE. Both may be called from any thread.
****************************************************************/
#ifndef TVKCRYPT_SYSTEM_TEXT_H
#define TVKCRYPT_SYSTEM_TEXT_H

#include <cstddef>

namespace tvkcrypt {

enum EnvironmentSecret {
    SECRET_ABSENT,     // not set, or set to the empty string
    SECRET_PRESENT,    // the value is in the buffer
    SECRET_TOO_LONG,   // longer than the buffer
    SECRET_NOT_TEXT    // Windows: not valid UTF-16
};

// Copies the value of the variable name into buffer (at most capacity
// bytes, not zero-terminated; length is its size), then wipes the value
// wherever the process keeps it and removes the variable. Unless the
// result is SECRET_PRESENT, length is 0 and the buffer holds nothing of
// the value.
EnvironmentSecret TakeEnvironmentSecret(const char* name, char* buffer, std::size_t capacity,
                                        std::size_t& length);

enum TextConversion {
    TEXT_OK,
    TEXT_INVALID,          // the input is not valid UTF-8
    TEXT_UNREPRESENTABLE,  // a character has no byte sequence in the code page
    TEXT_TOO_LONG,         // the result does not fit the output buffer
    TEXT_UNAVAILABLE       // the system has no ANSI code page
};

// The number of the system's ANSI code page (1252 on western European
// Windows), or 0 where there is none.
unsigned AnsiCodePage();

// Converts length bytes of UTF-8 text into output (capacity bytes) in
// the ANSI code page; output_length is the size of the result. Any
// temporary copy is wiped. On failure output_length is 0 and the output
// buffer holds nothing of the text.
TextConversion Utf8ToAnsi(const char* text, std::size_t length, char* output, std::size_t capacity,
                          std::size_t& output_length);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_SYSTEM_TEXT_H
