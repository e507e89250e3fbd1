/*****************************************************************
| NptHex.h - hexadecimal text of whole byte buffers.
|
| NPT_BytesFromHex decodes a hex text (either case, two digits per byte,
| no separators) into a data buffer; NPT_HexFromBytes renders bytes as
| hex text with an optional separator between neighbouring bytes. Both
| keep no state and may be called from any thread.
****************************************************************/
#ifndef NPT_HEX_H
#define NPT_HEX_H

#include "NptTypes.h"
#include "NptResults.h"
#include "NptDataBuffer.h"
#include "NptStrings.h"

// Decodes the whole NUL-terminated text into bytes (data size =
// strlen(text) / 2; an empty text gives a data size of 0).
//   text null or of odd length (bytes untouched)
//                                      NPT_ERROR_INVALID_PARAMETERS
//   a byte that is not a hex digit     NPT_ERROR_INVALID_SYNTAX; bytes
//                                      keeps the new data size and the
//                                      bytes decoded before it
//   bytes cannot take the data size    the buffer's SetDataSize error
NPT_EXPORT NPT_Result NPT_BytesFromHex(const char* text, NPT_DataBuffer& bytes);

// Two hex digits per byte (A..F when uppercase, a..f otherwise), with
// separator (may be null) between neighbours. Null data or size 0 give
// the empty string.
NPT_EXPORT NPT_String NPT_HexFromBytes(const NPT_Byte* data,
                            NPT_Size        size,
                            const char*     separator = nullptr,
                            bool            uppercase = false);

#endif // NPT_HEX_H
