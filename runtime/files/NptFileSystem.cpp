/*****************************************************************
| NptFileSystem.cpp - the file-system operations of NPT_File (its
| static members), the reserved names of the standard streams and
| NPT_TimeStamp, over the platform's NptPlatform.h. Nothing here opens a
| file: NptFile.cpp and NptStdcFile.cpp build on this, never the other
| way round.
****************************************************************/
#include "NptFile.h"

#include <cstdint>
#include <cstring>

#include "NptPlatform.h"

const char* const NPT_FILE_STANDARD_INPUT  = "@STDIN";
const char* const NPT_FILE_STANDARD_OUTPUT = "@STDOUT";
const char* const NPT_FILE_STANDARD_ERROR  = "@STDERR";

const char* const NPT_File::Separator = NPT_PLATFORM_PATH_SEPARATOR;

/*----------------------------------------------------------------------
|   NPT_TimeStamp
+---------------------------------------------------------------------*/
NPT_TimeStamp NPT_TimeStamp::FromSeconds(NPT_Int64 seconds)
{
    const NPT_Int64 nanos_per_second = 1000000000;
    const NPT_Int64 limit = INT64_MAX / nanos_per_second;
    NPT_TimeStamp stamp;
    if (seconds > limit) {
        stamp.m_NanoSeconds = INT64_MAX;
    } else if (seconds < -limit) {
        stamp.m_NanoSeconds = INT64_MIN;
    } else {
        stamp.m_NanoSeconds = seconds * nanos_per_second;
    }
    return stamp;
}

NPT_TimeStamp NPT_TimeStamp::FromNanoSeconds(NPT_Int64 nanoseconds)
{
    NPT_TimeStamp stamp;
    stamp.m_NanoSeconds = nanoseconds;
    return stamp;
}

/*----------------------------------------------------------------------
|   file-system operations
+---------------------------------------------------------------------*/
NPT_Result NPT_File::GetInfo(const char* path, NPT_FileInfo* info)
{
    if (info) *info = NPT_FileInfo();
    if (path == nullptr || !NPT_PlatformIsValidPath(path)) return NPT_ERROR_INVALID_PARAMETERS;

    // Trailing separators are dropped; a root keeps its separator.
    NPT_String query = NPT_PlatformInfoQueryPath(path);

    NPT_PlatformFileStat stat;
    int error = NPT_PlatformGetFileStat(query.GetChars(), stat);
    if (error != 0) return NPT_MapErrno(error);

    if (info) {
        switch (stat.type) {
            case NPT_PlatformFileStat::TYPE_REGULAR:
                info->m_Type = NPT_FileInfo::FILE_TYPE_REGULAR;
                break;
            case NPT_PlatformFileStat::TYPE_DIRECTORY:
                info->m_Type = NPT_FileInfo::FILE_TYPE_DIRECTORY;
                break;
            default:
                info->m_Type = NPT_FileInfo::FILE_TYPE_OTHER;
                break;
        }
        info->m_Size           = stat.size;
        info->m_AttributesMask = NPT_FileInfo::ATTRIBUTE_READ_ONLY;
        info->m_Attributes     = stat.owner_writable ? 0 : NPT_FileInfo::ATTRIBUTE_READ_ONLY;
        info->m_CreationTime     = NPT_TimeStamp::FromSeconds(stat.creation_seconds);
        info->m_ModificationTime = NPT_TimeStamp::FromSeconds(stat.modification_seconds);
    }
    return NPT_SUCCESS;
}

NPT_Result NPT_File::GetWorkingDirectory(NPT_String& path)
{
    NPT_String directory;
    int error = NPT_PlatformGetWorkingDirectory(directory);
    if (error != 0) return NPT_MapErrno(error);
    path = directory;
    return NPT_SUCCESS;
}

NPT_Result NPT_File::MakeDirectory(const char* path)
{
    if (path == nullptr || !NPT_PlatformIsValidPath(path)) return NPT_ERROR_INVALID_PARAMETERS;
    int error = NPT_PlatformMakeDirectory(path);
    return error == 0 ? NPT_SUCCESS : NPT_PlatformMapSystemError(error);
}

NPT_Result NPT_File::DeleteDirectory(const char* path)
{
    if (path == nullptr || !NPT_PlatformIsValidPath(path)) return NPT_ERROR_INVALID_PARAMETERS;
    int error = NPT_PlatformDeleteDirectory(path);
    return error == 0 ? NPT_SUCCESS : NPT_PlatformMapSystemError(error);
}

NPT_Result NPT_File::RemoveFile(const char* path)
{
    if (path == nullptr || !NPT_PlatformIsValidPath(path)) return NPT_ERROR_INVALID_PARAMETERS;
    int error = NPT_PlatformRemoveFile(path);
    return error == 0 ? NPT_SUCCESS : NPT_PlatformMapSystemError(error);
}

NPT_Result NPT_File::Rename(const char* from_path, const char* to_path)
{
    if (from_path == nullptr || to_path == nullptr || !NPT_PlatformIsValidPath(from_path) ||
        !NPT_PlatformIsValidPath(to_path)) {
        return NPT_ERROR_INVALID_PARAMETERS;
    }
    int error = NPT_PlatformRename(from_path, to_path);
    return error == 0 ? NPT_SUCCESS : NPT_PlatformMapSystemError(error);
}

NPT_Result NPT_File::GetRoots(NPT_List<NPT_String>& roots)
{
    NPT_PlatformGetRoots(roots);
    return NPT_SUCCESS;
}

NPT_Result NPT_File::ListDirectory(const char*           path,
                                   NPT_List<NPT_String>& entries,
                                   NPT_UInt32            start,
                                   NPT_UInt32            max)
{
    entries.Clear();
    if (path == nullptr || path[0] == '\0' || !NPT_PlatformIsValidPath(path)) {
        return NPT_ERROR_INVALID_PARAMETERS;
    }

    NPT_PlatformDirectory* directory = nullptr;
    int error = NPT_PlatformOpenDirectory(path, directory);
    if (error != 0) return NPT_PlatformMapSystemError(error);

    NPT_UInt32 added = 0;
    for (;;) {
        const char* name = nullptr;
        error = NPT_PlatformReadDirectory(directory, name);
        if (error != 0 || name == nullptr) break;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        if (start > 0) {
            --start;
            continue;
        }
        entries.Add(NPT_String(name));
        if (max != 0 && ++added == max) break;
    }
    NPT_PlatformCloseDirectory(directory);
    return error == 0 ? NPT_SUCCESS : NPT_PlatformMapSystemError(error);
}
