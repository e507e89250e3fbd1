/*****************************************************************
| TvkCCheck.cpp - the C interface's check files: tvk_check (a check
| file alone, for callers that read the encrypted data themselves),
| and the creation and verification of an encrypted file's check file.
****************************************************************/
#include <cstring>
#include <memory>
#include <string>

#include "SysError.h"
#include "TvkCOutputPair.h"
#include "TvkCSupport.h"
#include "TvkCheckFileIo.h"

using namespace tvkcrypt;

struct tvk_check {
    TVK_CheckFileReader reader;
};

namespace {

// Verifies the whole blocks of size bytes at offset, a slice at a time
// (a gigabyte holds whole blocks of any size), and finds the block that
// fails.
NPT_Result
VerifyData(const TVK_CheckFileReader& reader, uint64_t offset, const NPT_UInt8* data, size_t size,
           tvk_range* damaged)
{
    const NPT_UInt64 block_size = reader.BlockSize();
    if (offset % block_size != 0) return NPT_ERROR_INVALID_PARAMETERS;
    const size_t slice_limit = size_t(1) << 30;
    for (size_t done = 0; done < size;) {
        const size_t slice = size - done < slice_limit ? size - done : slice_limit;
        const NPT_UInt64 first = (offset + done) / block_size;
        if (NPT_FAILED(reader.VerifyBlocks(first, data + done, static_cast<NPT_Size>(slice)))) {
            // the first block of the slice that fails (the last one when
            // all before it pass)
            size_t at = 0;
            while (at + block_size < slice &&
                   NPT_SUCCEEDED(reader.VerifyBlock(first + at / block_size, data + done + at,
                                                    static_cast<NPT_Size>(block_size)))) {
                at += block_size;
            }
            const NPT_UInt64 start = offset + done + at;
            const NPT_UInt64 given = slice - at < block_size ? slice - at : block_size;
            SetBlockRange(damaged, reader, start, start + given);
            return TVK_ERROR_DATA_DAMAGED;
        }
        done += slice;
    }
    return NPT_SUCCESS;
}

NPT_Result
CreateCheckFile(const char* path, const char* check_path, const void* password, size_t password_size,
                unsigned flags)
{
    const std::string check_name = CheckPathFor(path, check_path);
    FileHandle file;
    FileInfo info;
    NPT_CHECK(ResultOfError(OpenRegularFile(path, file, info)));
    OutputPair output;
    NPT_CHECK(output.Open(check_name.c_str(), nullptr, (flags & TVK_OVERWRITE) != 0));
    // the check file must not take the encrypted file's place, under
    // whatever name
    if (output.DataIsFile(info)) return NPT_ERROR_INVALID_PARAMETERS;
    TVK_CheckFileWriter writer;
    SysError error = 0;
    NPT_CHECK(StartCheckWriter(writer, static_cast<const NPT_UInt8*>(password), static_cast<NPT_Size>(password_size),
                               info.size, 0, error));
    TransformJob job = WholeFileJob(file, true, info.size);
    job.tag = &writer;
    TransformOutcome outcome = RunTransform(job);
    NPT_CHECK(ResultOfRun(outcome, nullptr, info.size, nullptr));
    NPT_CHECK(StoreCheckFile(writer, outcome.bytes_read, output.Data(), error));
    return output.Commit();
}

NPT_Result
VerifyCheckFile(const char* path, const char* check_path, const void* password, size_t password_size,
                tvk_range* damaged)
{
    TVK_CheckFileReader reader;
    bool found = false;
    NPT_CHECK(LoadVerifiedCheck(path, check_path, TVK_VERIFY_REQUIRED, password, password_size, reader, found));
    FileHandle file;
    FileInfo info;
    NPT_CHECK(ResultOfError(OpenRegularFile(path, file, info)));
    return VerifyFile(file, info.size, reader, damaged);
}

}  // namespace

/*----------------------------------------------------------------------
|   the C interface
+---------------------------------------------------------------------*/
TVK_ALIGN_ENTRY tvk_result
tvk_check_load(const char* path, tvk_check** check)
{
    if (check == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    *check = nullptr;
    if (path == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    return NewHandle(check, [&](tvk_check& loaded) {
        SysError error = 0;
        bool opened = false;
        return LoadCheckFile(path, loaded.reader, error, opened);
    });
}

TVK_ALIGN_ENTRY tvk_result
tvk_check_parse(const void* bytes, size_t size, tvk_check** check)
{
    if (check == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    *check = nullptr;
    if (bytes == nullptr && size != 0) return NPT_ERROR_INVALID_PARAMETERS;
    // larger than any check file, and maybe than NPT_Size
    if (size > TVK_CheckFile::MAX_FILE_SIZE) size = TVK_CheckFile::MAX_FILE_SIZE + 1;
    return NewHandle(check, [&](tvk_check& parsed) {
        return parsed.reader.Parse(static_cast<const NPT_UInt8*>(bytes), static_cast<NPT_Size>(size));
    });
}

TVK_ALIGN_ENTRY tvk_result
tvk_check_verify_password(tvk_check* check, const void* password, size_t password_size)
{
    if (check == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    NPT_CHECK(CheckPassword(password, password_size));
    return Guarded([&] {
        return check->reader.VerifyPassword(static_cast<const NPT_UInt8*>(password),
                                            static_cast<NPT_Size>(password_size));
    });
}

TVK_ALIGN_ENTRY tvk_result
tvk_check_info(const tvk_check* check, uint64_t* data_size, uint32_t* block_size)
{
    if (data_size != nullptr) *data_size = 0;
    if (block_size != nullptr) *block_size = 0;
    if (check == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    if (data_size != nullptr) *data_size = check->reader.ExpectedSize();
    if (block_size != nullptr) *block_size = check->reader.BlockSize();
    return NPT_SUCCESS;
}

TVK_ALIGN_ENTRY tvk_result
tvk_check_verify_data(const tvk_check* check, uint64_t offset, const void* ciphertext, size_t size,
                      tvk_range* damaged)
{
    SetRange(damaged, 0, 0);
    if (check == nullptr || (ciphertext == nullptr && size != 0)) return NPT_ERROR_INVALID_PARAMETERS;
    if (!check->reader.IsPasswordVerified()) return NPT_ERROR_INVALID_STATE;
    return Guarded([&] {
        return VerifyData(check->reader, offset, static_cast<const NPT_UInt8*>(ciphertext), size, damaged);
    });
}

TVK_ALIGN_ENTRY void
tvk_check_destroy(tvk_check* check)
{
    delete check;
}

TVK_ALIGN_ENTRY tvk_result
tvk_check_create(const char* path, const char* check_path, const void* password, size_t password_size,
                 unsigned flags)
{
    if (path == nullptr || (flags & ~TVK_OVERWRITE) != 0) return NPT_ERROR_INVALID_PARAMETERS;
    NPT_CHECK(CheckPassword(password, password_size));
    return Guarded([&] { return CreateCheckFile(path, check_path, password, password_size, flags); });
}

TVK_ALIGN_ENTRY tvk_result
tvk_check_verify(const char* path, const char* check_path, const void* password, size_t password_size,
                 tvk_range* damaged)
{
    SetRange(damaged, 0, 0);
    if (path == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    NPT_CHECK(CheckPassword(password, password_size));
    return Guarded([&] { return VerifyCheckFile(path, check_path, password, password_size, damaged); });
}
