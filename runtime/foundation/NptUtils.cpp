/*****************************************************************
| NptUtils.cpp - byte order, hexadecimal digits, number parsing and
| formatting to a callback.
****************************************************************/
#include "NptUtils.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <new>

/*----------------------------------------------------------------------
|   byte order
+---------------------------------------------------------------------*/
NPT_UInt64
NPT_Int64FromBytesBe(const unsigned char* bytes)
{
    return (NPT_UInt64(bytes[0]) << 56) | (NPT_UInt64(bytes[1]) << 48) |
           (NPT_UInt64(bytes[2]) << 40) | (NPT_UInt64(bytes[3]) << 32) |
           (NPT_UInt64(bytes[4]) << 24) | (NPT_UInt64(bytes[5]) << 16) |
           (NPT_UInt64(bytes[6]) <<  8) |  NPT_UInt64(bytes[7]);
}

NPT_UInt32
NPT_Int32FromBytesBe(const unsigned char* bytes)
{
    return (NPT_UInt32(bytes[0]) << 24) | (NPT_UInt32(bytes[1]) << 16) |
           (NPT_UInt32(bytes[2]) <<  8) |  NPT_UInt32(bytes[3]);
}

NPT_UInt32
NPT_Int24FromBytesBe(const unsigned char* bytes)
{
    return (NPT_UInt32(bytes[0]) << 16) | (NPT_UInt32(bytes[1]) << 8) |
            NPT_UInt32(bytes[2]);
}

NPT_UInt16
NPT_Int16FromBytesBe(const unsigned char* bytes)
{
    return NPT_UInt16((NPT_UInt32(bytes[0]) << 8) | NPT_UInt32(bytes[1]));
}

NPT_UInt64
NPT_Int64FromBytesLe(const unsigned char* bytes)
{
    return (NPT_UInt64(bytes[7]) << 56) | (NPT_UInt64(bytes[6]) << 48) |
           (NPT_UInt64(bytes[5]) << 40) | (NPT_UInt64(bytes[4]) << 32) |
           (NPT_UInt64(bytes[3]) << 24) | (NPT_UInt64(bytes[2]) << 16) |
           (NPT_UInt64(bytes[1]) <<  8) |  NPT_UInt64(bytes[0]);
}

NPT_UInt32
NPT_Int32FromBytesLe(const unsigned char* bytes)
{
    return (NPT_UInt32(bytes[3]) << 24) | (NPT_UInt32(bytes[2]) << 16) |
           (NPT_UInt32(bytes[1]) <<  8) |  NPT_UInt32(bytes[0]);
}

NPT_UInt32
NPT_Int24FromBytesLe(const unsigned char* bytes)
{
    return (NPT_UInt32(bytes[2]) << 16) | (NPT_UInt32(bytes[1]) << 8) |
            NPT_UInt32(bytes[0]);
}

NPT_UInt16
NPT_Int16FromBytesLe(const unsigned char* bytes)
{
    return NPT_UInt16((NPT_UInt32(bytes[1]) << 8) | NPT_UInt32(bytes[0]));
}

void
NPT_BytesFromInt64Be(unsigned char* bytes, NPT_UInt64 value)
{
    for (int i = 7; i >= 0; --i) {
        bytes[i] = static_cast<unsigned char>(value);
        value >>= 8;
    }
}

void
NPT_BytesFromInt32Be(unsigned char* bytes, NPT_UInt32 value)
{
    bytes[0] = static_cast<unsigned char>(value >> 24);
    bytes[1] = static_cast<unsigned char>(value >> 16);
    bytes[2] = static_cast<unsigned char>(value >>  8);
    bytes[3] = static_cast<unsigned char>(value);
}

void
NPT_BytesFromInt24Be(unsigned char* bytes, NPT_UInt32 value)
{
    bytes[0] = static_cast<unsigned char>(value >> 16);
    bytes[1] = static_cast<unsigned char>(value >>  8);
    bytes[2] = static_cast<unsigned char>(value);
}

void
NPT_BytesFromInt16Be(unsigned char* bytes, NPT_UInt16 value)
{
    bytes[0] = static_cast<unsigned char>(value >> 8);
    bytes[1] = static_cast<unsigned char>(value);
}

void
NPT_BytesFromInt64Le(unsigned char* bytes, NPT_UInt64 value)
{
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<unsigned char>(value);
        value >>= 8;
    }
}

void
NPT_BytesFromInt32Le(unsigned char* bytes, NPT_UInt32 value)
{
    bytes[0] = static_cast<unsigned char>(value);
    bytes[1] = static_cast<unsigned char>(value >>  8);
    bytes[2] = static_cast<unsigned char>(value >> 16);
    bytes[3] = static_cast<unsigned char>(value >> 24);
}

void
NPT_BytesFromInt24Le(unsigned char* bytes, NPT_UInt32 value)
{
    bytes[0] = static_cast<unsigned char>(value);
    bytes[1] = static_cast<unsigned char>(value >>  8);
    bytes[2] = static_cast<unsigned char>(value >> 16);
}

void
NPT_BytesFromInt16Le(unsigned char* bytes, NPT_UInt16 value)
{
    bytes[0] = static_cast<unsigned char>(value);
    bytes[1] = static_cast<unsigned char>(value >> 8);
}

/*----------------------------------------------------------------------
|   hexadecimal digits
+---------------------------------------------------------------------*/
char
NPT_HexFromNibble(unsigned int nibble, bool uppercase)
{
    if (nibble < 10) return static_cast<char>('0' + nibble);
    return static_cast<char>((uppercase ? 'A' : 'a') + nibble - 10);
}

int
NPT_NibbleFromHex(int c)
{
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= '0' && c <= '9') return c - '0';
    return -1;
}

void
NPT_HexFromByte(NPT_UInt8 byte, char* out, bool uppercase)
{
    out[0] = NPT_HexFromNibble(byte >> 4, uppercase);
    out[1] = NPT_HexFromNibble(byte & 0x0F, uppercase);
}

NPT_Result
NPT_ByteFromHex(const char* text, NPT_UInt8& byte)
{
    // the low digit is only looked at when the high one is valid, so a
    // text that ends after one byte is never read past its terminator
    int high = NPT_NibbleFromHex(static_cast<unsigned char>(text[0]));
    if (high < 0) return NPT_ERROR_INVALID_SYNTAX;
    int low = NPT_NibbleFromHex(static_cast<unsigned char>(text[1]));
    if (low < 0) return NPT_ERROR_INVALID_SYNTAX;
    byte = static_cast<NPT_UInt8>(high * 16 + low);
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   number parsing
+---------------------------------------------------------------------*/
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Parses the magnitude of an integer. allow_sign: a leading '-' or '+'
// is taken (and '-' reported in negative). limit: the largest magnitude
// that may still be multiplied by 10. max_value: the largest magnitude
// accepted after a step (2^63 - 1 for signed, 2^64 - 1 for unsigned).
// The count is returned only on success.
NPT_Result
ParseMagnitude(const char* text,
               bool        relaxed,
               bool        allow_sign,
               NPT_UInt64  limit,
               NPT_UInt64& magnitude,
               bool&       negative,
               NPT_UInt64& count)
{
    magnitude = 0;
    negative  = false;
    count     = 0;
    if (text == nullptr) return NPT_ERROR_INVALID_PARAMETERS;

    // blanks and digits may run past 4 GiB: counted in 64 bits
    const char* p    = text;
    NPT_UInt64  used = 0;
    if (relaxed) {
        while (IsBlank(*p)) { ++p; ++used; }
    }
    if (*p == '\0') return NPT_ERROR_INVALID_PARAMETERS;

    if (allow_sign && (*p == '-' || *p == '+')) {
        negative = (*p == '-');
        ++p;
        ++used;
        if (*p == '\0') return NPT_ERROR_INVALID_PARAMETERS;
    }

    const NPT_UInt64 signed_max = 0x7FFFFFFFFFFFFFFFull;
    NPT_UInt64 m      = 0;
    bool       digits = false;
    for (; *p; ++p) {
        if (!IsDigit(*p)) {
            if (relaxed && digits) break;
            return NPT_ERROR_INVALID_PARAMETERS;
        }
        if (m > limit) return NPT_ERROR_OVERFLOW;
        NPT_UInt64 next = m * 10 + NPT_UInt64(*p - '0');
        if (allow_sign) {
            // only the most negative value may exceed 2^63 - 1
            if (next > signed_max && !(next == signed_max + 1 && negative)) {
                return NPT_ERROR_OVERFLOW;
            }
        } else if (next < m) {
            // the step wrapped around 2^64
            return NPT_ERROR_OVERFLOW;
        }
        m      = next;
        digits = true;
        ++used;
    }

    magnitude = m;
    count     = used;
    return NPT_SUCCESS;
}

} // namespace

NPT_Result
NPT_ParseSigned64(const char* text, NPT_Int64& value, bool relaxed, NPT_Size* chars_used)
{
    value = 0;
    if (chars_used) *chars_used = 0;

    NPT_UInt64 m;
    bool       negative;
    NPT_UInt64 count;
    NPT_CHECK(ParseMagnitude(text, relaxed, true, 0x0CCCCCCCCCCCCCCCull, m, negative, count));
    if (chars_used && count > 0xFFFFFFFFu) return NPT_ERROR_OUT_OF_RANGE;

    if (negative) {
        value = (m == 0x8000000000000000ull) ? INT64_MIN : -static_cast<NPT_Int64>(m);
    } else {
        value = static_cast<NPT_Int64>(m);
    }
    if (chars_used) *chars_used = static_cast<NPT_Size>(count);
    return NPT_SUCCESS;
}

NPT_Result
NPT_ParseUnsigned64(const char* text, NPT_UInt64& value, bool relaxed, NPT_Size* chars_used)
{
    value = 0;
    if (chars_used) *chars_used = 0;

    NPT_UInt64 m;
    bool       negative;
    NPT_UInt64 count;
    NPT_CHECK(ParseMagnitude(text, relaxed, false, 0x1999999999999999ull, m, negative, count));
    if (chars_used && count > 0xFFFFFFFFu) return NPT_ERROR_OUT_OF_RANGE;

    value = m;
    if (chars_used) *chars_used = static_cast<NPT_Size>(count);
    return NPT_SUCCESS;
}

NPT_Result
NPT_ParseSigned32(const char* text, NPT_Int32& value, bool relaxed, NPT_Size* chars_used)
{
    value = 0;
    NPT_Int64 wide;
    NPT_CHECK(NPT_ParseSigned64(text, wide, relaxed, chars_used));
    if (wide < INT32_MIN || wide > INT32_MAX) {
        if (chars_used) *chars_used = 0;
        return NPT_ERROR_OVERFLOW;
    }
    value = static_cast<NPT_Int32>(wide);
    return NPT_SUCCESS;
}

NPT_Result
NPT_ParseUnsigned32(const char* text, NPT_UInt32& value, bool relaxed, NPT_Size* chars_used)
{
    value = 0;
    NPT_UInt64 wide;
    NPT_CHECK(NPT_ParseUnsigned64(text, wide, relaxed, chars_used));
    if (wide > 0xFFFFFFFFull) {
        if (chars_used) *chars_used = 0;
        return NPT_ERROR_OVERFLOW;
    }
    value = static_cast<NPT_UInt32>(wide);
    return NPT_SUCCESS;
}

namespace {

// Rounds to a 32-bit float. A magnitude beyond the float range becomes
// an infinity (as the hardware conversion does) instead of being
// converted out of range.
float
ToFloat(long double x)
{
    // values below FLT_MAX + half an ulp still round to FLT_MAX
    const long double round_limit = static_cast<long double>(FLT_MAX) +
                                    std::ldexp(1.0L, FLT_MAX_EXP - FLT_MANT_DIG - 1);
    if (std::isnan(x)) return static_cast<float>(x);
    if (x >= round_limit)  return HUGE_VALF;
    if (x <= -round_limit) return -HUGE_VALF;
    if (x > FLT_MAX)  return FLT_MAX;
    if (x < -FLT_MAX) return -FLT_MAX;
    return static_cast<float>(x);
}

} // namespace

NPT_Result
NPT_ParseFloat32(const char* text, NPT_Float& value, bool relaxed)
{
    value = 0.0f;
    if (text == nullptr || *text == '\0') return NPT_ERROR_INVALID_PARAMETERS;

    const char* p = text;
    if (relaxed) {
        while (IsBlank(*p)) ++p;
        if (*p == '\0') return NPT_ERROR_INVALID_PARAMETERS;
    }

    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = (*p == '-');
        ++p;
        if (*p == '\0') return NPT_ERROR_INVALID_PARAMETERS;
    }

    // The digits are kept as an integer of up to 19 significant digits
    // and a power of ten, so that neither a long mantissa nor a large
    // exponent leaves the range of the arithmetic before the two meet.
    // Digits past the 19th only shift the power (they are below the
    // precision of any float).
    NPT_UInt64 significand = 0;
    int        kept        = 0;      // significant digits in significand
    NPT_Int64  power       = 0;      // value = significand x 10^power
    bool       fraction    = false;
    bool       digits      = false;
    bool       stopped     = false;
    NPT_Int32  exp_value   = 0;
    for (; *p && !stopped; ++p) {
        char c = *p;
        if (IsDigit(c)) {
            int digit = c - '0';
            if (kept < 19 && (significand != 0 || digit != 0)) {
                significand = significand * 10 + NPT_UInt64(digit);
                ++kept;
                if (fraction) --power;
            } else if (significand == 0) {
                if (fraction) --power;   // a leading zero of the fraction
            } else if (!fraction) {
                ++power;                 // a dropped digit of the integer part
            }
            digits = true;
        } else if (c == '.') {
            // one decimal point, and only directly before a digit
            if (fraction || !IsDigit(p[1])) return NPT_ERROR_INVALID_PARAMETERS;
            fraction = true;
        } else if (c == 'e' || c == 'E') {
            char next = p[1];
            if (next != '+' && next != '-' && !IsDigit(next)) {
                return NPT_ERROR_INVALID_PARAMETERS;
            }
            if (NPT_FAILED(NPT_ParseSigned32(p + 1, exp_value, relaxed, nullptr))) {
                return NPT_ERROR_INVALID_PARAMETERS;
            }
            stopped = true;
        } else {
            if (!relaxed) return NPT_ERROR_INVALID_PARAMETERS;
            stopped = true;
        }
    }
    if (!digits) return NPT_ERROR_INVALID_PARAMETERS;

    // Scale in extended precision and round to float once. Beyond these
    // powers the result is an infinity or zero whatever the significand
    // (at most 19 digits), and the power function would overflow.
    float result = 0.0f;
    power += exp_value;
    if (significand != 0) {
        long double magnitude = static_cast<long double>(significand);
        if (power > 4000) {
            result = HUGE_VALF;
        } else if (power < -4000) {
            result = 0.0f;
        } else if (power >= 0) {
            result = ToFloat(magnitude * std::pow(10.0L, static_cast<long double>(power)));
        } else {
            result = ToFloat(magnitude / std::pow(10.0L, static_cast<long double>(-power)));
        }
    }
    value = negative ? -result : result;
    return NPT_SUCCESS;
}

/*----------------------------------------------------------------------
|   formatting to a callback
+---------------------------------------------------------------------*/
namespace {

// Formats into buffer (size bytes) with at most size - 2 characters, as
// a bounded formatter given size - 1 bytes writes, and terminates the
// last byte. Returns false when the text was truncated or the
// formatter failed.
bool
FormatInto(char* buffer, NPT_Size size, const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    buffer[0] = '\0';
    int n = std::vsnprintf(buffer, size - 1, format, copy);
    va_end(copy);
    buffer[size - 1] = '\0';
    return n >= 0 && NPT_Size(n) < size - 1;
}

} // namespace

void
NPT_FormatToCallback(NPT_FormatOutputFunction function,
                     void*                    context,
                     const char*              format,
                     va_list                  args)
{
    const NPT_Size kLocalSize = 1024;
    const NPT_Size kMaxSize   = 65536;

    char local[kLocalSize];
    if (FormatInto(local, kLocalSize, format, args)) {
        function(context, local);
        return;
    }

    // 1024 -> 10,240 -> 28,672 -> 65,536; the last is used even when the
    // text still does not fit
    char*    heap = nullptr;
    NPT_Size size = kLocalSize;
    while (size < kMaxSize) {
        size = 2 * size + 8192;
        delete[] heap;
        heap = new (std::nothrow) char[size];
        if (heap == nullptr) return;
        if (FormatInto(heap, size, format, args)) break;
    }
    function(context, heap);
    delete[] heap;
}
