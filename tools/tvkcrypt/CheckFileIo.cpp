/*****************************************************************
| CheckFileIo.cpp - the check files of tvkcrypt, with its messages.
****************************************************************/
#include "CheckFileIo.h"

#include <cerrno>

#include "Password.h"
#include "QuotedName.h"
#include "TreeDirectory.h"

namespace tvkcrypt {

// A check file in an open directory of a tree.
static NPT_Result
LoadCheckFileIn(const TreeDirectory& directory, const std::string& name, TVK_CheckFileReader& reader,
                SysError& failure, bool& opened)
{
    FileHandle file;
    FileInfo info;
    failure = directory.OpenFile(name, file, info);
    opened = file.IsOpen();
    if (failure == kNotRegular) return TVK_ERROR_NOT_A_CHECK_FILE;
    if (failure) return ResultOfError(failure);
    return ReadCheckFile(file, info, reader, failure);
}

bool
LoadCheckFile(const std::string& path, TVK_CheckFileReader& reader, bool& absent, std::string& error,
              const TreeDirectory* directory, const std::string& name)
{
    absent = false;
    error.clear();
    const std::string label = QuotedName(path);
    SysError failure = 0;
    bool opened = false;
    NPT_Result result = directory != nullptr ? LoadCheckFileIn(*directory, name, reader, failure, opened)
                                             : LoadCheckFile(path.c_str(), reader, failure, opened);
    if (NPT_SUCCEEDED(result)) return true;
    if (failure == ENOENT) {
        absent = true;
    } else if (failure == kNotRegular) {
        error = "the check file " + label + " is not a regular file";
    } else if (failure) {
        error = std::string(opened ? "cannot read" : "cannot open") + " the check file " + label + ": " +
                ErrorText(failure);
    } else if (result == TVK_ERROR_NOT_A_CHECK_FILE) {
        error = label + " is not a tvkcrypt check file";
    } else if (result == TVK_ERROR_CHECK_FILE_DAMAGED) {
        error = "the check file " + label + " is damaged or was changed";
    } else {
        error = "the check file " + label + ": " + NPT_ResultDescription(result);
    }
    return false;
}

bool
DeriveCheckKeys(TVK_CheckFileKeys& keys, const SecretBuffer& password, std::string& error)
{
#if defined(TVK_FAULT_INJECTION)
    // the fault-injection build runs thousands of times: a cheap key
    // derivation keeps it fast (it tests the calls, not the cost; its
    // check files are never read)
    const NPT_UInt32 iterations = 1000;
#else
    const NPT_UInt32 iterations = 0;  // calibrated
#endif
    SysError failure = 0;
    NPT_Result result = DeriveCheckKeys(keys, reinterpret_cast<const NPT_UInt8*>(password.CString()),
                                        static_cast<NPT_Size>(password.Size()), iterations, failure);
    if (failure) {
        error = "cannot get random bytes for the check file: " + ErrorText(failure);
        return false;
    }
    if (NPT_FAILED(result)) {
        error = std::string("cannot derive the check file's keys: ") + NPT_ResultText(result);
        return false;
    }
    return true;
}

bool
StoreCheckFile(const TVK_CheckFileWriter& writer, NPT_UInt64 data_size, const TempOutput& temp,
               const std::string& label, std::string& error)
{
    SysError failure = 0;
    NPT_Result result = StoreCheckFile(writer, data_size, temp.File(), failure);
    if (failure) {
        error = "cannot write " + label + ": " + ErrorText(failure);
        return false;
    }
    if (NPT_FAILED(result)) {
        error = "cannot make the check file " + label + ": " + NPT_ResultText(result);
        return false;
    }
    return true;
}

}  // namespace tvkcrypt
