/*****************************************************************
| CheckFileIo.cpp - reading and making check files for tvkcrypt.
****************************************************************/
#include "CheckFileIo.h"

#include <cerrno>
#include <vector>

#include "FileHandle.h"
#include "NptWipe.h"
#include "Password.h"
#include "QuotedName.h"
#include "SystemInfo.h"

namespace tvkcrypt {

std::string
CheckFileNameFor(const std::string& encrypted)
{
    return encrypted + ".tvkcheck";
}

bool
LoadCheckFile(const std::string& path, TVK_CheckFileReader& reader, bool& absent, std::string& error)
{
    absent = false;
    error.clear();
    const std::string label = QuotedName(path);
    FileHandle file;
    if (SysError failure = OpenForReading(path.c_str(), file)) {
        if (failure == ENOENT) {
            absent = true;
            return false;
        }
        error = "cannot open the check file " + label + ": " + ErrorText(failure);
        return false;
    }
    FileInfo info;
    if (SysError failure = StatHandle(file, info)) {
        error = "cannot read the check file " + label + ": " + ErrorText(failure);
        return false;
    }
    if (info.kind != FileInfo::REGULAR) {
        error = "the check file " + label + " is not a regular file";
        return false;
    }
    // one byte more than the largest check file: enough to tell it is too big
    std::vector<NPT_UInt8> bytes(info.size < TVK_CheckFile::MAX_FILE_SIZE ? static_cast<std::size_t>(info.size) + 1
                                                                          : TVK_CheckFile::MAX_FILE_SIZE + 1);
    std::size_t got = 0;
    if (SysError failure = ReadAt(file, bytes.data(), bytes.size(), 0, got)) {
        error = "cannot read the check file " + label + ": " + ErrorText(failure);
        return false;
    }
    NPT_Result result = reader.Parse(bytes.data(), static_cast<NPT_Size>(got));
    if (NPT_SUCCEEDED(result)) return true;
    switch (result) {
        case TVK_ERROR_NOT_A_CHECK_FILE:
            error = label + " is not a tvkcrypt check file";
            break;
        case TVK_ERROR_CHECK_FILE_DAMAGED:
            error = "the check file " + label + " is damaged or was changed";
            break;
        default:
            error = "the check file " + label + ": " + NPT_ResultDescription(result);
            break;
    }
    return false;
}

bool
StartCheckWriter(TVK_CheckFileWriter& writer, const SecretBuffer& password, NPT_UInt64 data_size,
                 std::string& error)
{
    NPT_UInt8 salt[TVK_CheckFile::SALT_SIZE];
    if (SysError failure = RandomBytes(salt, sizeof(salt))) {
        error = "cannot get random bytes for the check file: " + ErrorText(failure);
        return false;
    }
#if defined(TVK_FAULT_INJECTION)
    // the fault-injection build runs thousands of times: a cheap key
    // derivation keeps it fast (it tests the calls, not the cost)
    const NPT_UInt32 iterations = 1000;
#else
    const NPT_UInt32 iterations = TVK_CheckFile::CalibrateIterations();
#endif
    NPT_Result result = writer.Start(reinterpret_cast<const NPT_UInt8*>(password.CString()),
                                     static_cast<NPT_Size>(password.Size()), salt, sizeof(salt),
                                     iterations, TVK_CheckFile::BlockSizeFor(data_size));
    NPT_WipeMemory(salt, sizeof(salt));
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
    NPT_DataBuffer bytes;
    NPT_Result result = writer.Serialize(data_size, bytes);
    if (NPT_FAILED(result)) {
        error = "cannot make the check file " + label + ": " + NPT_ResultText(result);
        return false;
    }
    if (SysError failure = WriteAt(temp.File(), bytes.GetData(), bytes.GetDataSize(), 0)) {
        error = "cannot write " + label + ": " + ErrorText(failure);
        return false;
    }
    return true;
}

}  // namespace tvkcrypt
