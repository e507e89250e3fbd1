/*****************************************************************
| CheckFileIo.cpp - the check files of tvkcrypt, with its messages.
****************************************************************/
#include "CheckFileIo.h"

#include <cerrno>

#include "Password.h"
#include "QuotedName.h"

namespace tvkcrypt {

bool
LoadCheckFile(const std::string& path, TVK_CheckFileReader& reader, bool& absent, std::string& error)
{
    absent = false;
    error.clear();
    const std::string label = QuotedName(path);
    SysError failure = 0;
    bool opened = false;
    NPT_Result result = LoadCheckFile(path.c_str(), reader, failure, opened);
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
StartCheckWriter(TVK_CheckFileWriter& writer, const SecretBuffer& password, NPT_UInt64 data_size,
                 std::string& error)
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
    NPT_Result result = StartCheckWriter(writer, reinterpret_cast<const NPT_UInt8*>(password.CString()),
                                         static_cast<NPT_Size>(password.Size()), data_size, iterations, failure);
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
