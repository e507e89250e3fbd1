/*****************************************************************
| NptPosixPaths.cpp - path rules, roots and error mapping of the file
| layer on POSIX. See NptPlatform.h for the contract of each.
****************************************************************/
#include "NptPlatform.h"

const char NPT_PLATFORM_PATH_SEPARATOR[] = "/";

bool NPT_PlatformIsValidPath(const char* path)
{
    // The system takes any byte string as a name.
    return path != nullptr;
}

NPT_String NPT_PlatformInfoQueryPath(const char* path)
{
    // "dir/" and "dir//" name "dir"; a path of separators only is the root.
    NPT_String query(path);
    query.TrimRight(NPT_PLATFORM_PATH_SEPARATOR);
    if (query.IsEmpty() && path != nullptr && path[0] != '\0') query = NPT_PLATFORM_PATH_SEPARATOR;
    return query;
}

void NPT_PlatformGetRoots(NPT_List<NPT_String>& roots)
{
    roots.Clear();
    roots.Add(NPT_String(NPT_PLATFORM_PATH_SEPARATOR));
}

NPT_Result NPT_PlatformMapSystemError(int error)
{
    return NPT_MapErrno(error);
}
