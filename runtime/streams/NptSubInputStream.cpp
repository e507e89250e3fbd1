/*****************************************************************
| NptSubInputStream.cpp - a window of another input stream.
****************************************************************/
#include "NptSubInputStream.h"

NPT_SubInputStream::NPT_SubInputStream(const NPT_InputStreamReference& source,
                                       NPT_Position                    start,
                                       NPT_LargeSize                   size)
    : m_Source(source), m_Position(0), m_Start(start), m_Size(size)
{
}

NPT_Result
NPT_SubInputStream::Read(void* buffer, NPT_Size bytes_to_read, NPT_Size* bytes_read)
{
    if (bytes_read) *bytes_read = 0;
    if (bytes_to_read == 0) return NPT_SUCCESS;

    // never read past the end of the window
    NPT_LargeSize left = m_Size - m_Position;
    if (bytes_to_read > left) {
        bytes_to_read = static_cast<NPT_Size>(left);
        if (bytes_to_read == 0) return NPT_ERROR_END_OF_STREAM;
    }

    if (m_Source.IsNull()) return NPT_ERROR_INVALID_STATE;
    // the source position start + position must not wrap around
    if (m_Position > ~NPT_Position(0) - m_Start) return NPT_ERROR_OUT_OF_RANGE;
    NPT_CHECK(m_Source->Seek(m_Start + m_Position));

    NPT_Size count = 0;
    NPT_CHECK(m_Source->Read(buffer, bytes_to_read, &count));
    // a source claiming more than asked would push the position past
    // the window
    if (count > bytes_to_read) return NPT_ERROR_INTERNAL;
    m_Position += count;
    if (bytes_read) *bytes_read = count;
    return NPT_SUCCESS;
}

NPT_Result
NPT_SubInputStream::Seek(NPT_Position position)
{
    if (position == m_Position) return NPT_SUCCESS;
    if (position > m_Size) return NPT_ERROR_OUT_OF_RANGE;
    m_Position = position;
    return NPT_SUCCESS;
}

NPT_Result
NPT_SubInputStream::Tell(NPT_Position& position)
{
    position = m_Position;
    return NPT_SUCCESS;
}

NPT_Result
NPT_SubInputStream::GetSize(NPT_LargeSize& size)
{
    size = m_Size;
    return NPT_SUCCESS;
}

NPT_Result
NPT_SubInputStream::GetAvailable(NPT_LargeSize& available)
{
    available = m_Size - m_Position;
    return NPT_SUCCESS;
}
