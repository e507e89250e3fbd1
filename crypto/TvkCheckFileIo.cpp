/*****************************************************************
| TvkCheckFileIo.cpp - check files on disk.
****************************************************************/
#include "TvkCheckFileIo.h"

#include <vector>

#include "NptDataBuffer.h"
#include "NptWipe.h"
#include "SystemInfo.h"

namespace tvkcrypt {

std::string
CheckFileNameFor(const std::string& encrypted)
{
    return encrypted + ".tvkcheck";
}

NPT_Result
LoadCheckFile(const char* path, TVK_CheckFileReader& reader, SysError& file_error, bool& opened)
{
    FileHandle file;
    FileInfo info;
    file_error = OpenRegularFile(path, file, info);
    opened = file.IsOpen();
    if (file_error == kNotRegular) return TVK_ERROR_NOT_A_CHECK_FILE;
    if (file_error) return ResultOfError(file_error);
    return ReadCheckFile(file, info, reader, file_error);
}

NPT_Result
ReadCheckFile(const FileHandle& file, const FileInfo& info, TVK_CheckFileReader& reader, SysError& file_error)
{
    // one byte more than the largest check file: enough to tell it is too big
    const std::size_t largest = TVK_CheckFile::MAX_FILE_SIZE;
    std::vector<NPT_UInt8> bytes(info.size < largest ? static_cast<std::size_t>(info.size) + 1 : largest + 1);
    std::size_t got = 0;
    file_error = ReadAt(file, bytes.data(), bytes.size(), 0, got);
    if (file_error) return ResultOfError(file_error);
    return reader.Parse(bytes.data(), static_cast<NPT_Size>(got));
}

NPT_Result
DeriveCheckKeys(TVK_CheckFileKeys& keys, const NPT_UInt8* password, NPT_Size password_size,
                NPT_UInt32 iterations, SysError& random_error)
{
    NPT_UInt8 salt[TVK_CheckFile::SALT_SIZE];
    random_error = RandomBytes(salt, sizeof(salt));
    if (random_error) return ResultOfError(random_error);
    if (iterations == 0) iterations = TVK_CheckFile::CalibrateIterations();
    NPT_Result result = keys.Derive(password, password_size, salt, sizeof(salt), iterations);
    NPT_WipeMemory(salt, sizeof(salt));
    return result;
}

NPT_Result
StartCheckWriter(TVK_CheckFileWriter& writer, const NPT_UInt8* password, NPT_Size password_size,
                 NPT_UInt64 data_size, NPT_UInt32 iterations, SysError& random_error)
{
    TVK_CheckFileKeys keys;
    NPT_CHECK(DeriveCheckKeys(keys, password, password_size, iterations, random_error));
    return writer.Start(keys, TVK_CheckFile::BlockSizeFor(data_size));
}

NPT_Result
StoreCheckFile(const TVK_CheckFileWriter& writer, NPT_UInt64 data_size, const FileHandle& file,
               SysError& write_error)
{
    write_error = 0;
    NPT_DataBuffer bytes;
    NPT_CHECK(writer.Serialize(data_size, bytes));
    write_error = WriteAt(file, bytes.GetData(), bytes.GetDataSize(), 0);
    return ResultOfError(write_error);
}

}  // namespace tvkcrypt
