/*****************************************************************
| TvkCResults.cpp - the C interface's results and version: the codes
| are the library's NPT_Result numbers, words and names included.
****************************************************************/
#include "TvkCSupport.h"

// The C header spells the library's numbers out: they must stay the same.
static_assert(TVK_SUCCESS == NPT_SUCCESS && TVK_FAILURE == NPT_FAILURE, "result numbers");
static_assert(TVK_ERROR_INVALID_PARAMETERS == NPT_ERROR_INVALID_PARAMETERS &&
              TVK_ERROR_PERMISSION_DENIED == NPT_ERROR_PERMISSION_DENIED &&
              TVK_ERROR_OUT_OF_MEMORY == NPT_ERROR_OUT_OF_MEMORY &&
              TVK_ERROR_INTERNAL == NPT_ERROR_INTERNAL && TVK_ERROR_INVALID_STATE == NPT_ERROR_INVALID_STATE &&
              TVK_ERROR_NOT_SUPPORTED == NPT_ERROR_NOT_SUPPORTED && TVK_ERROR_OUT_OF_RANGE == NPT_ERROR_OUT_OF_RANGE,
              "general result numbers");
static_assert(TVK_ERROR_NO_SUCH_FILE == NPT_ERROR_NO_SUCH_FILE && TVK_ERROR_FILE_BUSY == NPT_ERROR_FILE_BUSY &&
              TVK_ERROR_FILE_NOT_WRITABLE == NPT_ERROR_FILE_NOT_WRITABLE &&
              TVK_ERROR_FILE_NOT_DIRECTORY == NPT_ERROR_FILE_NOT_DIRECTORY &&
              TVK_ERROR_FILE_ALREADY_EXISTS == NPT_ERROR_FILE_ALREADY_EXISTS &&
              TVK_ERROR_FILE_NOT_ENOUGH_SPACE == NPT_ERROR_FILE_NOT_ENOUGH_SPACE &&
              TVK_ERROR_BASE_ERRNO == NPT_ERROR_BASE_ERRNO,
              "file result numbers");
// (the check-file family is spelled the same in both headers, which
// define it identically; its numbers follow the C++ family base)
static_assert(TVK_ERROR_WRONG_PASSWORD == TVK_ERROR_BASE_CHECK - 0 &&
              TVK_ERROR_DATA_DAMAGED == TVK_ERROR_BASE_CHECK - 1 &&
              TVK_ERROR_CHECK_FILE_DAMAGED == TVK_ERROR_BASE_CHECK - 2 &&
              TVK_ERROR_NOT_A_CHECK_FILE == TVK_ERROR_BASE_CHECK - 3 &&
              TVK_ERROR_CHECK_FILE_UNSUPPORTED == TVK_ERROR_BASE_CHECK - 4 &&
              TVK_ERROR_NO_CHECK_FILE == TVK_ERROR_BASE_CHECK - 5,
              "check-file result numbers");

TVK_ALIGN_ENTRY const char*
tvk_result_text(tvk_result result)
{
    return NPT_ResultDescription(result);
}

TVK_ALIGN_ENTRY const char*
tvk_result_name(tvk_result result)
{
    return NPT_ResultText(result);
}

TVK_ALIGN_ENTRY const char*
tvk_version(void)
{
    return TVK_VERSION_STRING;
}

TVK_ALIGN_ENTRY uint32_t
tvk_version_number(void)
{
    return (uint32_t(TVK_VERSION_MAJOR) << 16) | (uint32_t(TVK_VERSION_MINOR) << 8) | uint32_t(TVK_VERSION_PATCH);
}
