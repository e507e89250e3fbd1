#include <cerrno>
#include <climits>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "NptResults.h"

namespace {

struct ErrnoCase {
    const char* name;
    int         error;
    NPT_Result  stdc;  // through NPT_MapStdcErrno
    NPT_Result  full;  // through NPT_MapErrno
};

class ErrnoMapping : public ::testing::TestWithParam<ErrnoCase> {};

TEST_P(ErrnoMapping, MapsBySymbolicName)
{
    const ErrnoCase& c = GetParam();
    EXPECT_EQ(c.stdc, NPT_MapStdcErrno(c.error)) << c.name;
    EXPECT_EQ(c.full, NPT_MapErrno(c.error)) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ErrnoMapping,
    ::testing::Values(
        ErrnoCase{"EPERM", EPERM, NPT_ERROR_PERMISSION_DENIED, NPT_ERROR_PERMISSION_DENIED},
        ErrnoCase{"ENOENT", ENOENT, NPT_ERROR_NO_SUCH_FILE, NPT_ERROR_NO_SUCH_FILE},
        ErrnoCase{"EACCES", EACCES, NPT_ERROR_PERMISSION_DENIED, NPT_ERROR_PERMISSION_DENIED},
        ErrnoCase{"EBUSY", EBUSY, NPT_ERROR_FILE_BUSY, NPT_ERROR_FILE_BUSY},
        ErrnoCase{"ENOTDIR", ENOTDIR, NPT_ERROR_FILE_NOT_DIRECTORY, NPT_ERROR_FILE_NOT_DIRECTORY},
        ErrnoCase{"EROFS", EROFS, NPT_ERROR_FILE_NOT_WRITABLE, NPT_ERROR_FILE_NOT_WRITABLE},
        // a name too long is a bad argument, not a file condition
        ErrnoCase{"ENAMETOOLONG", ENAMETOOLONG, NPT_ERROR_INVALID_PARAMETERS,
                  NPT_ERROR_INVALID_PARAMETERS},
        // these three are translated only for the file-system operations
        ErrnoCase{"EEXIST", EEXIST, NPT_ERROR_BASE_ERRNO - EEXIST, NPT_ERROR_FILE_ALREADY_EXISTS},
        ErrnoCase{"ENOSPC", ENOSPC, NPT_ERROR_BASE_ERRNO - ENOSPC,
                  NPT_ERROR_FILE_NOT_ENOUGH_SPACE},
        ErrnoCase{"ENOTEMPTY", ENOTEMPTY, NPT_ERROR_BASE_ERRNO - ENOTEMPTY,
                  NPT_ERROR_DIRECTORY_NOT_EMPTY},
        // unlisted values travel in the errno family with this platform's numbers
        ErrnoCase{"EIO", EIO, NPT_ERROR_BASE_ERRNO - EIO, NPT_ERROR_BASE_ERRNO - EIO},
        ErrnoCase{"EINVAL", EINVAL, NPT_ERROR_BASE_ERRNO - EINVAL, NPT_ERROR_BASE_ERRNO - EINVAL},
        ErrnoCase{"EISDIR", EISDIR, NPT_ERROR_BASE_ERRNO - EISDIR, NPT_ERROR_BASE_ERRNO - EISDIR},
        ErrnoCase{"zero", 0, NPT_ERROR_BASE_ERRNO, NPT_ERROR_BASE_ERRNO},
        // numbers that cannot be errno values must not come out as success
        // or as another family's code, nor overflow
        ErrnoCase{"negative", -22000, NPT_FAILURE, NPT_FAILURE},
        ErrnoCase{"minus one", -1, NPT_FAILURE, NPT_FAILURE},
        ErrnoCase{"largest", INT_MAX, NPT_FAILURE, NPT_FAILURE},
        ErrnoCase{"most negative code", NPT_ERROR_BASE_ERRNO - INT_MIN, INT_MIN, INT_MIN}),
    [](const ::testing::TestParamInfo<ErrnoCase>& info) {
        std::string name = info.param.name;
        for (char& ch : name) if (ch == ' ') ch = '_';
        return name;
    });

TEST(ErrnoMapping, NeverPositiveOrSuccessForAnyPlausibleErrno)
{
    for (int e = 0; e < 4096; ++e) {
        EXPECT_LT(NPT_MapStdcErrno(e), 0) << e;
        EXPECT_LT(NPT_MapErrno(e), 0) << e;
    }
}

struct Win32Case {
    NPT_UInt32 error;
    NPT_Result result;
};

class Win32Mapping : public ::testing::TestWithParam<Win32Case> {};

TEST_P(Win32Mapping, MapsTableRow)
{
    EXPECT_EQ(GetParam().result, NPT_MapWin32Error(GetParam().error)) << GetParam().error;
}

// every row of the table: its numbers are data recorded on another
// platform, and one wrong number would change a stored meaning
INSTANTIATE_TEST_SUITE_P(
    Rows, Win32Mapping,
    ::testing::Values(
        Win32Case{1, NPT_ERROR_INTERNAL},
        Win32Case{2, NPT_ERROR_NO_SUCH_FILE}, Win32Case{3, NPT_ERROR_NO_SUCH_FILE},
        Win32Case{15, NPT_ERROR_NO_SUCH_FILE}, Win32Case{18, NPT_ERROR_NO_SUCH_FILE},
        Win32Case{53, NPT_ERROR_NO_SUCH_FILE}, Win32Case{67, NPT_ERROR_NO_SUCH_FILE},
        Win32Case{161, NPT_ERROR_NO_SUCH_FILE}, Win32Case{206, NPT_ERROR_NO_SUCH_FILE},
        Win32Case{4, NPT_ERROR_OUT_OF_RESOURCES},
        Win32Case{5, NPT_ERROR_PERMISSION_DENIED}, Win32Case{16, NPT_ERROR_PERMISSION_DENIED},
        Win32Case{33, NPT_ERROR_PERMISSION_DENIED}, Win32Case{65, NPT_ERROR_PERMISSION_DENIED},
        Win32Case{82, NPT_ERROR_PERMISSION_DENIED}, Win32Case{83, NPT_ERROR_PERMISSION_DENIED},
        Win32Case{108, NPT_ERROR_PERMISSION_DENIED}, Win32Case{132, NPT_ERROR_PERMISSION_DENIED},
        Win32Case{6, NPT_ERROR_INVALID_PARAMETERS}, Win32Case{12, NPT_ERROR_INVALID_PARAMETERS},
        Win32Case{13, NPT_ERROR_INVALID_PARAMETERS},
        Win32Case{7, NPT_ERROR_OUT_OF_MEMORY}, Win32Case{8, NPT_ERROR_OUT_OF_MEMORY},
        Win32Case{9, NPT_ERROR_OUT_OF_MEMORY}, Win32Case{1816, NPT_ERROR_OUT_OF_MEMORY},
        Win32Case{32, NPT_ERROR_FILE_BUSY}, Win32Case{158, NPT_ERROR_FILE_BUSY},
        Win32Case{167, NPT_ERROR_FILE_BUSY},
        Win32Case{112, NPT_ERROR_FILE_NOT_ENOUGH_SPACE},
        Win32Case{131, NPT_ERROR_OUT_OF_RANGE}, Win32Case{145, NPT_ERROR_DIRECTORY_NOT_EMPTY},
        Win32Case{183, NPT_ERROR_FILE_ALREADY_EXISTS},
        // unlisted numbers are a plain failure, never the errno family
        Win32Case{0, NPT_FAILURE}, Win32Case{10, NPT_FAILURE}, Win32Case{17, NPT_FAILURE},
        Win32Case{1815, NPT_FAILURE}, Win32Case{0xFFFFFFFFu, NPT_FAILURE}));

struct TextCase {
    NPT_Result  result;
    const char* text;
};

class ResultText : public ::testing::TestWithParam<TextCase> {};

TEST_P(ResultText, NamesCode)
{
    EXPECT_STREQ(GetParam().text, NPT_ResultText(GetParam().result));
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ResultText,
    ::testing::Values(
        TextCase{0, "NPT_SUCCESS"}, TextCase{-1, "NPT_FAILURE"},
        TextCase{-20000, "NPT_ERROR_INVALID_PARAMETERS"},
        TextCase{-20018, "NPT_ERROR_OUT_OF_RESOURCES"},
        TextCase{-20200, "NPT_ERROR_NO_SUCH_FILE"},
        TextCase{-20209, "NPT_ERROR_DIRECTORY_NOT_EMPTY"},
        TextCase{-20302, "NPT_ERROR_END_OF_STREAM"},
        TextCase{-20400, "TVK_ERROR_WRONG_PASSWORD"}, TextCase{-20405, "TVK_ERROR_NO_CHECK_FILE"},
        TextCase{-22000, "NPT_ERROR_ERRNO"}, TextCase{INT_MIN, "NPT_ERROR_ERRNO"},
        // unused numbers inside the families, and positive numbers
        TextCase{-20003, "NPT_ERROR_UNKNOWN"}, TextCase{-20300, "NPT_ERROR_UNKNOWN"},
        TextCase{-20406, "NPT_ERROR_UNKNOWN"},
        TextCase{-21999, "NPT_ERROR_UNKNOWN"}, TextCase{1, "NPT_ERROR_UNKNOWN"}));

TEST(ResultTextNames, EveryCodeHasItsOwnName)
{
    const NPT_Result codes[] = {
        NPT_SUCCESS, NPT_FAILURE, NPT_ERROR_INVALID_PARAMETERS, NPT_ERROR_PERMISSION_DENIED,
        NPT_ERROR_OUT_OF_MEMORY, NPT_ERROR_OVERFLOW, NPT_ERROR_INTERNAL, NPT_ERROR_INVALID_STATE,
        NPT_ERROR_INVALID_FORMAT, NPT_ERROR_INVALID_SYNTAX, NPT_ERROR_NOT_SUPPORTED,
        NPT_ERROR_OUT_OF_RANGE, NPT_ERROR_OUT_OF_RESOURCES, NPT_ERROR_NO_SUCH_FILE,
        NPT_ERROR_FILE_NOT_OPEN, NPT_ERROR_FILE_BUSY, NPT_ERROR_FILE_ALREADY_OPEN,
        NPT_ERROR_FILE_NOT_READABLE, NPT_ERROR_FILE_NOT_WRITABLE, NPT_ERROR_FILE_NOT_DIRECTORY,
        NPT_ERROR_FILE_ALREADY_EXISTS, NPT_ERROR_FILE_NOT_ENOUGH_SPACE,
        NPT_ERROR_DIRECTORY_NOT_EMPTY, NPT_ERROR_WRITE_FAILED, NPT_ERROR_END_OF_STREAM,
        TVK_ERROR_WRONG_PASSWORD, TVK_ERROR_DATA_DAMAGED, TVK_ERROR_CHECK_FILE_DAMAGED,
        TVK_ERROR_NOT_A_CHECK_FILE, TVK_ERROR_CHECK_FILE_UNSUPPORTED, TVK_ERROR_NO_CHECK_FILE};
    std::set<std::string> names;
    for (NPT_Result code : codes) {
        std::string name = NPT_ResultText(code);
        EXPECT_TRUE(name.rfind("NPT_", 0) == 0 || name.rfind("TVK_ERROR_", 0) == 0) << code;
        EXPECT_NE("NPT_ERROR_UNKNOWN", name) << code;
        EXPECT_TRUE(names.insert(name).second) << "duplicate name " << name;
        EXPECT_STRNE("unknown error", NPT_ResultDescription(code)) << name;
    }
    EXPECT_STREQ("no such file", NPT_ResultDescription(NPT_ERROR_NO_SUCH_FILE));
    EXPECT_STREQ("wrong password", NPT_ResultDescription(TVK_ERROR_WRONG_PASSWORD));
    EXPECT_STREQ("is a directory", NPT_ResultDescription(NPT_ERROR_BASE_ERRNO - EISDIR));
    EXPECT_STREQ("operating-system error", NPT_ResultDescription(NPT_ERROR_BASE_ERRNO - 4000));
    EXPECT_STREQ("unknown error", NPT_ResultDescription(-20003));
    EXPECT_STREQ("unknown error", NPT_ResultDescription(1));
}

} // namespace
