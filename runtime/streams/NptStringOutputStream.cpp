/*****************************************************************
| NptStringOutputStream.cpp - output stream appending to a string.
****************************************************************/
#include "NptStringOutputStream.h"

#include <cstddef>
#include <new>
#include <utility>

#include "NptWipe.h"

NPT_StringOutputStream::NPT_StringOutputStream(NPT_Size initial_capacity)
    : m_String(new NPT_String()), m_StringIsOwned(true)
{
    m_String->Reserve(initial_capacity);
}

NPT_StringOutputStream::NPT_StringOutputStream(NPT_String* string)
    : m_String(string ? string : new NPT_String()), m_StringIsOwned(string == nullptr)
{
}

NPT_StringOutputStream::~NPT_StringOutputStream()
{
    if (m_StringIsOwned) {
        WipeChars(*m_String);
        delete m_String;
    }
}

// Overwrites the string's whole block (characters and terminator) with
// zeros; its length is kept.
void
NPT_StringOutputStream::WipeChars(NPT_String& string)
{
    if (string.UseChars()) NPT_WipeMemory(string.UseChars(), std::size_t(string.GetCapacity()) + 1);
}

NPT_Result
NPT_StringOutputStream::Write(const void* data, NPT_Size bytes_to_write, NPT_Size* bytes_written)
{
    if (bytes_written) *bytes_written = 0;
    // bytes that cannot be read are not reported as written
    if (data == nullptr && bytes_to_write > 0) return NPT_ERROR_INVALID_PARAMETERS;
    const char* bytes = static_cast<const char*>(data);
    NPT_Size    length = m_String->GetLength();
    if (bytes_to_write > m_String->GetCapacity() - length) {
        // The string must move to a larger block. It is moved here rather
        // than by Append so that the block left behind, which holds
        // everything written so far, is wiped before it is freed. The
        // new bytes may come from that very block: they are appended
        // before it goes. The growth is the string's own: the capacity
        // doubles within the largest a string can have, and a length
        // beyond that fails as the string's allocation would.
        const NPT_UInt64 largest = 0xFFFFFFFFu - 9u;
        NPT_UInt64 needed  = NPT_UInt64(length) + bytes_to_write;
        NPT_UInt64 doubled = 2 * NPT_UInt64(m_String->GetCapacity());
        NPT_UInt64 wanted  = doubled > needed && doubled <= largest ? doubled : needed;
        if (wanted > largest) throw std::bad_alloc();
        NPT_String grown;
        grown.Reserve(static_cast<NPT_Size>(wanted));
        grown.Append(m_String->GetChars(), length);
        grown.Append(bytes, bytes_to_write);
        WipeChars(*m_String);
        *m_String = std::move(grown);
    } else if (bytes_to_write) {
        m_String->Append(bytes, bytes_to_write);
    }
    if (bytes_written) *bytes_written = bytes_to_write;
    return NPT_SUCCESS;
}

NPT_Result
NPT_StringOutputStream::Seek(NPT_Position /* position */)
{
    return NPT_ERROR_NOT_SUPPORTED;
}

NPT_Result
NPT_StringOutputStream::Tell(NPT_Position& position)
{
    position = m_String->GetLength();
    return NPT_SUCCESS;
}
