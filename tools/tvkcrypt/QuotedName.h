/*****************************************************************
| QuotedName.h - file names as tvkcrypt shows them in messages.
|
| A file name may hold any byte but '/' and the zero byte: a newline
| would forge a second message line, an escape sequence would drive the
| terminal. Every name in a message goes through QuotedName, which
| gives a form that shows each byte for what it is and that a POSIX
| shell (bash, zsh, ksh) reads back as the same name:
|   - 'name' in single quotes when every byte is printable ASCII other
|     than the single quote, or part of valid UTF-8 that is not a
|     control character;
|   - otherwise $'name', in which a newline, tab and carriage return
|     show as \n, \t and \r, a backslash as \\, a single quote as \',
|     and every other control byte (C0, DEL, the C1 controls U+0080 to
|     U+009F), every byte of an invisible format character (the
|     bidirectional controls such as U+202E, which show a name
|     reversed, the zero-width characters, U+2028/U+2029 and the
|     byte order mark) and every byte that is not part of valid UTF-8
|     as \xNN (two hex digits). Other multibyte UTF-8 stays as it is.
| Pure function: no allocation failure is reported other than
| std::bad_alloc; any thread.
****************************************************************/
#ifndef TVKCRYPT_QUOTED_NAME_H
#define TVKCRYPT_QUOTED_NAME_H

#include <string>

namespace tvkcrypt {

std::string QuotedName(const std::string& name);
// The length of the valid UTF-8 sequence at text[at] that is not a C1
// control (1 for printable ASCII too), or 0.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t at);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_QUOTED_NAME_H
