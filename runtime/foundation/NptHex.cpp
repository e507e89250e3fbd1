/*****************************************************************
| NptHex.cpp - NPT_BytesFromHex and NPT_HexFromBytes.
****************************************************************/
#include "NptHex.h"

#include <cstring>
#include <new>

#include "NptUtils.h"

NPT_Result NPT_BytesFromHex(const char* text, NPT_DataBuffer& bytes)
{
    if (text == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    std::size_t length = std::strlen(text);
    if (length % 2) return NPT_ERROR_INVALID_PARAMETERS;
    if (length / 2 > 0xFFFFFFFFu) return NPT_ERROR_INVALID_PARAMETERS;
    NPT_Size byte_count = static_cast<NPT_Size>(length / 2);

    NPT_CHECK(bytes.SetDataSize(byte_count));
    // the text may pass 4 GiB: its positions are counted in std::size_t
    NPT_Byte*   out  = bytes.UseData();
    const char* pair = text;
    for (NPT_Size i = 0; i < byte_count; ++i, pair += 2) {
        NPT_UInt8 byte = 0;
        NPT_CHECK(NPT_ByteFromHex(pair, byte));
        out[i] = byte;
    }
    return NPT_SUCCESS;
}

NPT_String NPT_HexFromBytes(const NPT_Byte* data, NPT_Size size, const char* separator, bool uppercase)
{
    NPT_String result;
    if (data == nullptr || size == 0) return result;

    NPT_UInt64 separator_length = separator ? std::strlen(separator) : 0;
    NPT_UInt64 length = 2 * static_cast<NPT_UInt64>(size) + separator_length * (size - 1);
    // a text beyond what a string can hold is like a failed allocation
    if (length > 0xFFFFFFF0u) throw std::bad_alloc();

    result.SetLength(static_cast<NPT_Size>(length), false);
    char* out = result.UseChars();
    for (NPT_Size i = 0; i < size; ++i) {
        NPT_HexFromByte(data[i], out, uppercase);
        out += 2;
        if (separator_length && i + 1 < size) {
            std::memcpy(out, separator, static_cast<std::size_t>(separator_length));
            out += separator_length;
        }
    }
    return result;
}
