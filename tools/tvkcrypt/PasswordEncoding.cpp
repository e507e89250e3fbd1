/*****************************************************************
| PasswordEncoding.cpp - conversion of passwords to the bytes of a
| chosen encoding.
****************************************************************/
#include "PasswordEncoding.h"

#include <cstring>

#include "NptWipe.h"
#include "SystemText.h"
#include "QuotedName.h"

namespace tvkcrypt {

#include "CodePages.inc"

namespace {

struct NamedEncoding {
    const char*       name;       // as typed, lower case
    const char*       canonical;  // shown to the user
    int               kind;       // PasswordEncoding::Kind
    const NPT_UInt16* table;
};

enum { KIND_UTF8 = 1, KIND_TABLE = 2, KIND_ANSI = 3 };

// Canonical names first (in the order Names lists them), then aliases.
const NamedEncoding kEncodings[] = {
    {"utf8", "utf8", KIND_UTF8, nullptr},
    {"ansi", "ansi", KIND_ANSI, nullptr},
    {"cp1250", "cp1250", KIND_TABLE, kCp1250},
    {"cp1251", "cp1251", KIND_TABLE, kCp1251},
    {"cp1252", "cp1252", KIND_TABLE, kCp1252},
    {"cp1253", "cp1253", KIND_TABLE, kCp1253},
    {"cp1254", "cp1254", KIND_TABLE, kCp1254},
    {"cp1255", "cp1255", KIND_TABLE, kCp1255},
    {"cp1256", "cp1256", KIND_TABLE, kCp1256},
    {"cp1257", "cp1257", KIND_TABLE, kCp1257},
    {"latin1", "latin1", KIND_TABLE, kLatin1},
    {"iso-8859-2", "iso-8859-2", KIND_TABLE, kIso8859_2},
    {"iso-8859-15", "iso-8859-15", KIND_TABLE, kIso8859_15},
    {"cp437", "cp437", KIND_TABLE, kCp437},
    {"cp850", "cp850", KIND_TABLE, kCp850},
    {"cp866", "cp866", KIND_TABLE, kCp866},
    {"koi8-r", "koi8-r", KIND_TABLE, kKoi8R},
    // aliases
    {"utf-8", "utf8", KIND_UTF8, nullptr},
    {"windows-1250", "cp1250", KIND_TABLE, kCp1250},
    {"windows-1251", "cp1251", KIND_TABLE, kCp1251},
    {"windows-1252", "cp1252", KIND_TABLE, kCp1252},
    {"windows-1253", "cp1253", KIND_TABLE, kCp1253},
    {"windows-1254", "cp1254", KIND_TABLE, kCp1254},
    {"windows-1255", "cp1255", KIND_TABLE, kCp1255},
    {"windows-1256", "cp1256", KIND_TABLE, kCp1256},
    {"windows-1257", "cp1257", KIND_TABLE, kCp1257},
    {"iso-8859-1", "latin1", KIND_TABLE, kLatin1},
    {"latin2", "iso-8859-2", KIND_TABLE, kIso8859_2},
    {"latin9", "iso-8859-15", KIND_TABLE, kIso8859_15},
};
const std::size_t kCanonicalCount = 17;

std::string
LowerAscii(const std::string& text)
{
    std::string lower = text;
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

// Whether all of text is valid UTF-8.
bool
IsUtf8(const char* text, std::size_t length)
{
    NPT_UInt32 code_point;
    for (std::size_t i = 0; i < length;) {
        std::size_t size = DecodeUtf8(text + i, length - i, code_point);
        if (size == 0) return false;
        i += size;
    }
    return true;
}

// The byte of a single-byte code page for code_point, false when the
// code page has none.
bool
EncodeInTable(const NPT_UInt16* table, NPT_UInt32 code_point, unsigned char& byte)
{
    if (code_point < 0x80) {
        byte = static_cast<unsigned char>(code_point);
        return true;
    }
    if (code_point > 0xFFFF) return false;
    for (unsigned i = 0; i < 128; ++i) {
        if (table[i] == code_point) {  // 0 (undefined) never matches: code_point >= 0x80
            byte = static_cast<unsigned char>(0x80 + i);
            return true;
        }
    }
    return false;
}

}  // namespace

/*----------------------------------------------------------------------
|   DecodeUtf8
+---------------------------------------------------------------------*/
std::size_t
DecodeUtf8(const char* text, std::size_t length, NPT_UInt32& code_point)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    code_point = 0;
    if (length == 0) return 0;
    const unsigned char lead = bytes[0];
    std::size_t size;
    NPT_UInt32 value;
    NPT_UInt32 smallest;  // below it the form is overlong
    if (lead < 0x80) {
        code_point = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        size = 2;
        value = lead & 0x1F;
        smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        size = 3;
        value = lead & 0x0F;
        smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        size = 4;
        value = lead & 0x07;
        smallest = 0x10000;
    } else {
        return 0;  // a continuation byte, C0/C1 (always overlong) or F5-FF
    }
    if (length < size) return 0;
    for (std::size_t i = 1; i < size; ++i) {
        if ((bytes[i] & 0xC0) != 0x80) return 0;
        value = (value << 6) | (bytes[i] & 0x3F);
    }
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    code_point = value;
    return size;
}

/*----------------------------------------------------------------------
|   PasswordEncoding
+---------------------------------------------------------------------*/
std::string
PasswordEncoding::Names()
{
    std::string names;
    for (std::size_t i = 0; i < kCanonicalCount; ++i) {
        if (i > 0) names += ", ";
        names += kEncodings[i].name;
    }
    return names;
}

bool
PasswordEncoding::Find(const std::string& name, PasswordEncoding& encoding, std::string& error)
{
    encoding = PasswordEncoding();
    const std::string lower = LowerAscii(name);
    for (const NamedEncoding& entry : kEncodings) {
        if (lower != entry.name) continue;
        if (entry.kind == KIND_ANSI && AnsiCodePage() == 0) {
            error = "password encoding 'ansi' is the system code page of Windows, which this system "
                    "does not have; name the code page instead, such as cp1252";
            return false;
        }
        encoding.m_Kind = entry.kind == KIND_UTF8 ? UTF8 : entry.kind == KIND_ANSI ? ANSI : TABLE;
        encoding.m_Name = entry.canonical;
        encoding.m_Table = entry.table;
        return true;
    }
    error = "unknown password encoding " + QuotedName(name) + "; use one of " + Names();
    return false;
}

std::string
PasswordEncoding::Name() const
{
    if (m_Kind == ANSI) return "ansi (code page " + std::to_string(AnsiCodePage()) + ")";
    return m_Name;
}

bool
PasswordEncoding::Convert(const char* text, std::size_t length, char* output, std::size_t capacity,
                          std::size_t& output_length, const std::string& subject, std::string& error) const
{
    output_length = 0;
    const std::string too_long = subject + " is longer than " + std::to_string(capacity) + " bytes";
    if (m_Kind == AS_READ || m_Kind == UTF8) {
        if (m_Kind == UTF8 && !IsUtf8(text, length)) {
            error = subject + " is not valid UTF-8";
            return false;
        }
        if (length > capacity) {
            error = too_long;
            return false;
        }
        std::memcpy(output, text, length);
        output_length = length;
        return true;
    }

    // a code page: the text is read as UTF-8 characters
    if (!IsUtf8(text, length)) {
        error = subject + " is not valid UTF-8, so it cannot be converted to " + Name();
        return false;
    }
    TextConversion outcome = TEXT_OK;
    if (m_Kind == ANSI) {
        outcome = Utf8ToAnsi(text, length, output, capacity, output_length);
    } else {
        std::size_t written = 0;
        NPT_UInt32 code_point;
        for (std::size_t i = 0; i < length && outcome == TEXT_OK;) {
            i += DecodeUtf8(text + i, length - i, code_point);
            unsigned char byte = 0;
            if (!EncodeInTable(m_Table, code_point, byte)) {
                outcome = TEXT_UNREPRESENTABLE;
            } else if (written == capacity) {
                outcome = TEXT_TOO_LONG;
            } else {
                output[written++] = static_cast<char>(byte);
            }
        }
        if (outcome == TEXT_OK) {
            output_length = written;
        } else {
            NPT_WipeMemory(output, written);
        }
    }
    switch (outcome) {
        case TEXT_OK:
            return true;
        case TEXT_UNREPRESENTABLE:
            error = subject + " has a character that " + Name() + " cannot represent";
            break;
        case TEXT_TOO_LONG:
            error = too_long + " in " + Name();
            break;
        case TEXT_INVALID:
            error = subject + " is not valid UTF-8, so it cannot be converted to " + Name();
            break;
        case TEXT_UNAVAILABLE:
            error = "this system has no ANSI code page";
            break;
    }
    output_length = 0;
    return false;
}

}  // namespace tvkcrypt
