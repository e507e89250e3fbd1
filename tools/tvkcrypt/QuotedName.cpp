/*****************************************************************
| QuotedName.cpp - quoting of file names for messages.
****************************************************************/
#include "QuotedName.h"

#include <cstddef>

namespace tvkcrypt {

// Length of the valid UTF-8 sequence of two to four bytes at text[at],
// 0 when there is none (a stray continuation byte, an overlong form, a
// surrogate, a value past U+10FFFF, or a sequence cut short).
std::size_t
Utf8SequenceLength(const std::string& text, std::size_t at)
{
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char byte = static_cast<unsigned char>(text[at + i]);
        if (byte < (i == 1 ? low : 0x80) || byte > (i == 1 ? high : 0xBF)) return 0;
    }
    // U+0080..U+009F are control characters, which some terminals obey
    if (lead == 0xC2 && static_cast<unsigned char>(text[at + 1]) <= 0x9F) return 0;
    return length;
}

// The code point of the valid sequence of length bytes at text[at].
static unsigned long
CodePoint(const std::string& text, std::size_t at, std::size_t length)
{
    static const unsigned char kLeadMask[] = {0, 0, 0x1F, 0x0F, 0x07};
    unsigned long value = static_cast<unsigned char>(text[at]) & kLeadMask[length];
    for (std::size_t i = 1; i < length; ++i) {
        value = (value << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
    }
    return value;
}

// Characters that show nothing themselves but change what the rest
// looks like: the bidirectional controls, which can show a name
// reversed ("gpj.exe" as "exe.jpg"), the zero-width and invisible
// format characters, which hide a difference between two names, and
// the line and paragraph separators.
static bool
IsHiddenFormat(unsigned long c)
{
    return c == 0x00AD || c == 0x061C || c == 0x180E || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x2064) ||
           (c >= 0x2066 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB);
}

// Appends \xNN for one byte.
static void
AppendHexEscape(std::string& text, unsigned char byte)
{
    static const char hex[] = "0123456789abcdef";
    text += "\\x";
    text += hex[byte >> 4];
    text += hex[byte & 0xF];
}

std::string
QuotedName(const std::string& name)
{
    std::string plain = "'";
    std::string escaped = "$'";
    bool needs_escapes = false;
    for (std::size_t i = 0; i < name.size();) {
        const unsigned char byte = static_cast<unsigned char>(name[i]);
        if (byte >= 0x80) {
            const std::size_t length = Utf8SequenceLength(name, i);
            if (length > 0 && !IsHiddenFormat(CodePoint(name, i, length))) {
                plain.append(name, i, length);
                escaped.append(name, i, length);
                i += length;
                continue;
            }
            if (length > 0) {
                // a hidden format character: every byte of it escaped
                needs_escapes = true;
                for (std::size_t end = i + length; i < end; ++i) {
                    AppendHexEscape(escaped, static_cast<unsigned char>(name[i]));
                }
                continue;
            }
        }
        ++i;
        if (byte >= 0x20 && byte < 0x7F && byte != '\'' && byte != '\\') {
            plain += static_cast<char>(byte);
            escaped += static_cast<char>(byte);
            continue;
        }
        if (byte == '\\') {
            plain += '\\';  // literal inside single quotes
            escaped += "\\\\";
            continue;
        }
        needs_escapes = true;
        switch (byte) {
            case '\'': escaped += "\\'"; break;
            case '\n': escaped += "\\n"; break;
            case '\t': escaped += "\\t"; break;
            case '\r': escaped += "\\r"; break;
            default:
                AppendHexEscape(escaped, byte);
                break;
        }
    }
    return needs_escapes ? escaped + "'" : plain + "'";
}

}  // namespace tvkcrypt
