/*****************************************************************
| TvkCOutputPair.cpp - the files the C interface writes.
****************************************************************/
#include "TvkCOutputPair.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "SysError.h"

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

NPT_Result
OutputPair::Open(const char* path, const char* check_path, bool overwrite)
{
    m_HasCheck = check_path != nullptr;
    // one name for both would leave the check file in the data's place
    if (m_HasCheck && path != nullptr && std::strcmp(path, check_path) == 0) return NPT_ERROR_INVALID_PARAMETERS;
    NPT_CHECK(Locate(path, overwrite, m_DataPlace, m_DataReplacing));
    if (m_HasCheck) NPT_CHECK(Locate(check_path, overwrite, m_CheckPlace, m_CheckReplacing));
    NPT_CHECK(ResultOfError(m_Data.Create(m_DataPlace)));
    if (m_HasCheck) NPT_CHECK(ResultOfError(m_Check.Create(m_CheckPlace)));
    return NPT_SUCCESS;
}

NPT_Result
OutputPair::Commit()
{
    if (!m_HasCheck) return ResultOfError(m_Data.Commit(0600, m_DataReplacing));
    PairCommit outcome;
    return ResultOfError(
        CommitTogether(m_Check, m_CheckPlace, m_CheckReplacing, m_Data, 0600, m_DataReplacing, outcome));
}

}  // namespace tvkcrypt
