/*****************************************************************
| NptUtils.h - byte-order conversions, hexadecimal digits, number
| parsing and formatting to a callback.
|
| Byte arrays are supplied by the caller and must be large enough for
| the width; nothing is checked. "Be" is most significant byte first,
| "Le" least significant first; 24-bit forms use the low 24 bits.
|
| Parsers set the result (and *chars_used) to 0 before anything else
| and leave it 0 on failure. relaxed = true skips leading spaces and
| tabs and stops successfully at the first byte that cannot continue
| the number; relaxed = false requires the whole text to be the number.
|   null or empty text, sign without digits, stray byte (strict)
|                                       NPT_ERROR_INVALID_PARAMETERS
|   value outside the result type       NPT_ERROR_OVERFLOW
| All functions are re-entrant and keep no state.
****************************************************************/
#ifndef NPT_UTILS_H
#define NPT_UTILS_H

#include <cstdarg>

#include "NptTypes.h"
#include "NptResults.h"

// byte order
NPT_EXPORT NPT_UInt64 NPT_Int64FromBytesBe(const unsigned char* bytes);
NPT_EXPORT NPT_UInt32 NPT_Int32FromBytesBe(const unsigned char* bytes);
NPT_EXPORT NPT_UInt32 NPT_Int24FromBytesBe(const unsigned char* bytes);
NPT_EXPORT NPT_UInt16 NPT_Int16FromBytesBe(const unsigned char* bytes);
NPT_EXPORT NPT_UInt64 NPT_Int64FromBytesLe(const unsigned char* bytes);
NPT_EXPORT NPT_UInt32 NPT_Int32FromBytesLe(const unsigned char* bytes);
NPT_EXPORT NPT_UInt32 NPT_Int24FromBytesLe(const unsigned char* bytes);
NPT_EXPORT NPT_UInt16 NPT_Int16FromBytesLe(const unsigned char* bytes);
NPT_EXPORT void NPT_BytesFromInt64Be(unsigned char* bytes, NPT_UInt64 value);
NPT_EXPORT void NPT_BytesFromInt32Be(unsigned char* bytes, NPT_UInt32 value);
NPT_EXPORT void NPT_BytesFromInt24Be(unsigned char* bytes, NPT_UInt32 value);
NPT_EXPORT void NPT_BytesFromInt16Be(unsigned char* bytes, NPT_UInt16 value);
NPT_EXPORT void NPT_BytesFromInt64Le(unsigned char* bytes, NPT_UInt64 value);
NPT_EXPORT void NPT_BytesFromInt32Le(unsigned char* bytes, NPT_UInt32 value);
NPT_EXPORT void NPT_BytesFromInt24Le(unsigned char* bytes, NPT_UInt32 value);
NPT_EXPORT void NPT_BytesFromInt16Le(unsigned char* bytes, NPT_UInt16 value);

// hexadecimal digits
// nibble must be 0..15
NPT_EXPORT char       NPT_HexFromNibble(unsigned int nibble, bool uppercase = false);
// 0..15 for a hex digit of either case, -1 for anything else
NPT_EXPORT int        NPT_NibbleFromHex(int c);
// two digits, high nibble first, into out[0] and out[1]; no terminator
NPT_EXPORT void       NPT_HexFromByte(NPT_UInt8 byte, char* out, bool uppercase = false);
// decodes text[0], text[1]; a non-digit gives NPT_ERROR_INVALID_SYNTAX
// and leaves byte unchanged
NPT_EXPORT NPT_Result NPT_ByteFromHex(const char* text, NPT_UInt8& byte);

// number parsing
NPT_EXPORT NPT_Result NPT_ParseSigned64(const char* text, NPT_Int64& value,
                             bool relaxed = true, NPT_Size* chars_used = nullptr);
NPT_EXPORT NPT_Result NPT_ParseUnsigned64(const char* text, NPT_UInt64& value,
                               bool relaxed = true, NPT_Size* chars_used = nullptr);
NPT_EXPORT NPT_Result NPT_ParseSigned32(const char* text, NPT_Int32& value,
                             bool relaxed = true, NPT_Size* chars_used = nullptr);
NPT_EXPORT NPT_Result NPT_ParseUnsigned32(const char* text, NPT_UInt32& value,
                               bool relaxed = true, NPT_Size* chars_used = nullptr);
NPT_EXPORT NPT_Result NPT_ParseFloat32(const char* text, NPT_Float& value, bool relaxed = true);

// Formats format with args and calls function(context, text) once with
// the result. Tries a 1024-byte local buffer, then heap buffers of
// 10,240, 28,672 and 65,536 bytes; text that does not fit even the last
// is passed truncated. If a heap buffer cannot be had, function is not
// called.
typedef void (*NPT_FormatOutputFunction)(void* context, const char* text);
NPT_EXPORT void NPT_FormatToCallback(NPT_FormatOutputFunction function,
                          void*                    context,
                          const char*              format,
                          va_list                  args);

#endif // NPT_UTILS_H
