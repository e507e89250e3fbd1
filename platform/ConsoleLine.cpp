/*****************************************************************
| ConsoleLine.cpp - UTF-16 console input to a UTF-8 line in place.
****************************************************************/
#include "ConsoleLine.h"

namespace tvkcrypt {

static const unsigned long kReplacement = 0xFFFD;

static bool
IsHighSurrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

static bool
IsLowSurrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Appends the UTF-8 bytes of one code point, byte by byte so that a
// character cut at capacity leaves no copy anywhere else.
void
ConsoleLine::Put(unsigned long code)
{
    unsigned char bytes[4];
    std::size_t count;
    if (code < 0x80) {
        bytes[0] = static_cast<unsigned char>(code);
        count = 1;
    } else if (code < 0x800) {
        bytes[0] = static_cast<unsigned char>(0xC0 | (code >> 6));
        bytes[1] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        count = 2;
    } else if (code < 0x10000) {
        bytes[0] = static_cast<unsigned char>(0xE0 | (code >> 12));
        bytes[1] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
        bytes[2] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        count = 3;
    } else {
        bytes[0] = static_cast<unsigned char>(0xF0 | (code >> 18));
        bytes[1] = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F));
        bytes[2] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
        bytes[3] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        count = 4;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (m_Length < m_Capacity) {
            m_Buffer[m_Length++] = static_cast<char>(bytes[i]);
        } else {
            m_TooLong = true;
        }
        bytes[i] = 0;
    }
}

bool
ConsoleLine::Add(const char16_t* units, std::size_t count)
{
    for (std::size_t i = 0; i < count && !m_Done; ++i) {
        const char16_t unit = units[i];
        if (unit == u'\n') {
            Finish();
            break;
        }
        if (m_EndOfInput) continue;  // the rest of the line after Ctrl-Z
        if (unit == 0x1A && !m_AnyUnit) {
            m_EndOfInput = true;
            continue;
        }
        m_AnyUnit = true;
        if (IsHighSurrogate(unit)) {
            if (m_PendingHigh != 0) Put(kReplacement);
            m_PendingHigh = unit;
        } else if (IsLowSurrogate(unit)) {
            if (m_PendingHigh != 0) {
                Put(0x10000 + ((static_cast<unsigned long>(m_PendingHigh) - 0xD800) << 10) +
                    (static_cast<unsigned long>(unit) - 0xDC00));
            } else {
                Put(kReplacement);
            }
            m_PendingHigh = 0;
        } else {
            if (m_PendingHigh != 0) Put(kReplacement);
            m_PendingHigh = 0;
            Put(unit);
        }
    }
    return m_Done;
}

void
ConsoleLine::Finish()
{
    if (m_Done) return;
    m_Done = true;
    if (m_PendingHigh != 0) Put(kReplacement);
    m_PendingHigh = 0;
    if (m_EndOfInput) {
        m_Length = 0;
        m_TooLong = false;
        return;
    }
    if (m_Length > 0 && m_Buffer[m_Length - 1] == '\r') --m_Length;
}

}  // namespace tvkcrypt
