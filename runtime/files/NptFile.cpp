/*****************************************************************
| NptFile.cpp - NPT_File, the openable file: it forwards to its
| NPT_StdcFile delegate. The file-system operations and the names they
| share are in NptFileSystem.cpp, below the delegate, so that the
| delegate's streams can ask for a file's size without reaching back
| into this file.
****************************************************************/
#include "NptFile.h"

#include "NptStdcFile.h"

/*----------------------------------------------------------------------
|   NPT_File
+---------------------------------------------------------------------*/
namespace {

bool IsStandardStreamName(const NPT_String& path)
{
    return path == NPT_FILE_STANDARD_INPUT ||
           path == NPT_FILE_STANDARD_OUTPUT ||
           path == NPT_FILE_STANDARD_ERROR;
}

} // namespace

NPT_File::NPT_File(const char* path)
    : m_Delegate(nullptr), m_Path(path), m_IsStandardStream(IsStandardStreamName(m_Path))
{
    m_Delegate = new NPT_StdcFile(*this);
}

NPT_File::NPT_File(const NPT_File& other)
    : m_Delegate(nullptr), m_Path(other.m_Path), m_IsStandardStream(other.m_IsStandardStream)
{
    m_Delegate = new NPT_StdcFile(*this);
}

NPT_File::~NPT_File()
{
    delete m_Delegate;
}

NPT_File& NPT_File::operator=(const NPT_File& other)
{
    if (this == &other) return *this;
    delete m_Delegate;  // closes it
    m_Delegate = nullptr;
    m_Path = other.m_Path;
    m_IsStandardStream = other.m_IsStandardStream;
    m_Delegate = new NPT_StdcFile(*this);
    return *this;
}

NPT_Result NPT_File::Open(NPT_FileOpenMode mode)
{
    return m_Delegate->Open(mode);
}

NPT_Result NPT_File::Close()
{
    return m_Delegate->Close();
}

NPT_Result NPT_File::GetInputStream(NPT_InputStreamReference& stream)
{
    return m_Delegate->GetInputStream(stream);
}

NPT_Result NPT_File::GetOutputStream(NPT_OutputStreamReference& stream)
{
    return m_Delegate->GetOutputStream(stream);
}
