/*****************************************************************
| TvkCOutputPair.cpp - the files the C interface writes.
****************************************************************/
#include "TvkCOutputPair.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "SysError.h"
#include "TvkCheckFileIo.h"

namespace tvkcrypt {

NPT_Result
OutputPair::Locate(const char* path, bool overwrite, OutputPlace& place, bool& replacing)
{
    if (path == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    NPT_CHECK(ResultOfError(place.Locate(path, false)));
    switch (place.GetKind()) {
        case OutputPlace::MISSING:
            replacing = false;
            return NPT_SUCCESS;
        case OutputPlace::FILE:
        case OutputPlace::LINK:
            // a link is replaced itself, never written through
            replacing = true;
            return overwrite ? NPT_SUCCESS : NPT_ERROR_FILE_ALREADY_EXISTS;
        case OutputPlace::DIRECTORY:
            return ResultOfError(EISDIR);
        default:
            return NPT_ERROR_NOT_SUPPORTED;  // a device or FIFO
    }
}

// Whether place found the input itself.
static bool
IsInput(const OutputPlace& place, const FileInfo* input)
{
    return input != nullptr && place.GetKind() == OutputPlace::FILE && place.Found().SameFileAs(*input);
}

NPT_Result
OutputPair::LocateStale(const char* path, const FileInfo* input)
{
    NPT_CHECK(ResultOfError(m_StalePlace.Locate(CheckFileNameFor(path), false)));
    const OutputPlace::Kind kind = m_StalePlace.GetKind();
    m_Stale = (kind == OutputPlace::FILE || kind == OutputPlace::LINK) &&
              !(m_HasCheck && m_CheckPlace.SameNameAs(m_StalePlace)) && !IsInput(m_StalePlace, input);
    return NPT_SUCCESS;
}

NPT_Result
OutputPair::Open(const char* path, const char* check_path, bool overwrite, const FileInfo* input, bool stale)
{
    m_HasCheck = check_path != nullptr;
    NPT_CHECK(Locate(path, overwrite, m_DataPlace, m_DataReplacing));
    if (m_HasCheck) {
        NPT_CHECK(Locate(check_path, overwrite, m_CheckPlace, m_CheckReplacing));
        // committed, it would replace the data or what is being read
        if (m_CheckPlace.SameNameAs(m_DataPlace) || IsInput(m_CheckPlace, input)) {
            return NPT_ERROR_INVALID_PARAMETERS;
        }
    }
    if (stale) NPT_CHECK(LocateStale(path, input));
    NPT_CHECK(ResultOfError(m_Data.Create(m_DataPlace)));
    if (m_HasCheck) NPT_CHECK(ResultOfError(m_Check.Create(m_CheckPlace)));
    return NPT_SUCCESS;
}

bool
OutputPair::DataIsFile(const FileInfo& input) const
{
    return IsInput(m_DataPlace, &input);
}

NPT_Result
OutputPair::CommitPair()
{
    if (!m_HasCheck) return ResultOfError(m_Data.Commit(0600, m_DataReplacing));
    PairCommit outcome;
    return ResultOfError(
        CommitTogether(m_Check, m_CheckPlace, m_CheckReplacing, m_Data, 0600, m_DataReplacing, outcome));
}

NPT_Result
OutputPair::Commit()
{
    AsideFile stale(m_StalePlace);
    if (m_Stale) NPT_CHECK(ResultOfError(stale.SetAside(true)));
    const NPT_Result result = CommitPair();
    if (m_Stale) {
        // a hidden name that cannot be removed or put back stays; the
        // pair itself is as the result says
        if (NPT_SUCCEEDED(result)) {
            stale.Remove();
        } else {
            stale.PutBack(nullptr);
        }
    }
    return result;
}

}  // namespace tvkcrypt
