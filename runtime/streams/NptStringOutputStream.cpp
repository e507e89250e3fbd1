/*****************************************************************
| NptStringOutputStream.cpp - output stream appending to a string.
****************************************************************/
#include "NptStringOutputStream.h"

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
    if (m_StringIsOwned) delete m_String;
}

NPT_Result
NPT_StringOutputStream::Write(const void* data, NPT_Size bytes_to_write, NPT_Size* bytes_written)
{
    if (bytes_written) *bytes_written = 0;
    // bytes that cannot be read are not reported as written
    if (data == nullptr && bytes_to_write > 0) return NPT_ERROR_INVALID_PARAMETERS;
    if (bytes_to_write) {
        m_String->Append(static_cast<const char*>(data), bytes_to_write);
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
