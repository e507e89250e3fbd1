/*****************************************************************
| NptTypes.h - fixed-width types shared by the whole runtime layer.
|
| Sizes and positions of streams are unsigned 64-bit byte counts
| (NPT_LargeSize, NPT_Position); a single transfer is an unsigned
| 32-bit byte count (NPT_Size).
****************************************************************/
#ifndef NPT_TYPES_H
#define NPT_TYPES_H

#include <cstdint>

#include "NptExport.h"

typedef std::int8_t   NPT_Int8;
typedef std::uint8_t  NPT_UInt8;
typedef std::int16_t  NPT_Int16;
typedef std::uint16_t NPT_UInt16;
typedef std::int32_t  NPT_Int32;
typedef std::uint32_t NPT_UInt32;
typedef std::int64_t  NPT_Int64;
typedef std::uint64_t NPT_UInt64;
typedef float         NPT_Float;

typedef NPT_UInt8  NPT_Byte;      // one byte of data
typedef NPT_UInt32 NPT_Size;      // byte count of one transfer or buffer
typedef NPT_UInt64 NPT_LargeSize; // byte count of a whole stream or file
typedef NPT_UInt64 NPT_Position;  // absolute byte position in a stream
typedef NPT_UInt32 NPT_Flags;     // bit set

#endif // NPT_TYPES_H
