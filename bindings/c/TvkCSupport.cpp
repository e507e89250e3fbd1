/*****************************************************************
| TvkCSupport.cpp - what the C interface's entry points share.
****************************************************************/
#include "TvkCSupport.h"

#include <cerrno>
#include <cstring>

#include "SystemInfo.h"
#include "TvkCheckFileIo.h"
#include "TvkTransform.h"

namespace tvkcrypt {

NPT_Result
CheckPassword(const void* password, std::size_t password_size)
{
    if (password == nullptr) return password_size == 0 ? NPT_SUCCESS : NPT_ERROR_INVALID_PARAMETERS;
    if (password_size > 0xFFFFFFFFu) return NPT_ERROR_INVALID_PARAMETERS;
    // the format's key stops at a zero byte: such a password never matches
    if (std::memchr(password, 0, password_size) != nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    return NPT_SUCCESS;
}

std::string
CheckPathFor(const char* path, const char* check_path)
{
    return check_path != nullptr ? std::string(check_path) : CheckFileNameFor(path);
}

void
SetRange(tvk_range* range, NPT_UInt64 offset, NPT_UInt64 length)
{
    if (range == nullptr) return;
    range->offset = offset;
    range->length = length;
}

void
SetBlockRange(tvk_range* range, const TVK_CheckFileReader& reader, NPT_UInt64 offset, NPT_UInt64 data_size)
{
    // the block as the check file has it, or as far as the data reaches
    // past it (up to a block)
    const NPT_UInt64 block_size = reader.BlockSize();
    NPT_UInt64 length = reader.BlockLength(offset / block_size);
    if (data_size > offset) {
        const NPT_UInt64 present = data_size - offset < block_size ? data_size - offset : block_size;
        if (present > length) length = present;
    }
    SetRange(range, offset, length);
}

unsigned
WorkersFor(NPT_UInt64 size)
{
    return ProcessorCount() >= 2 && size >= 2 * kBlockSize ? 2 : 1;
}

NPT_Result
LoadVerifiedCheck(const char* path, const char* check_path, int verify, const void* password,
                  std::size_t password_size, TVK_CheckFileReader& reader, bool& found)
{
    found = false;
    if (verify != TVK_VERIFY_NONE && verify != TVK_VERIFY_IF_PRESENT && verify != TVK_VERIFY_REQUIRED) {
        return NPT_ERROR_INVALID_PARAMETERS;
    }
    if (verify == TVK_VERIFY_NONE) return NPT_SUCCESS;
    SysError file_error = 0;
    bool opened = false;
    NPT_Result result = LoadCheckFile(CheckPathFor(path, check_path).c_str(), reader, file_error, opened);
    if (file_error == ENOENT) return verify == TVK_VERIFY_REQUIRED ? TVK_ERROR_NO_CHECK_FILE : NPT_SUCCESS;
    NPT_CHECK(result);
    found = true;
    return reader.VerifyPassword(static_cast<const NPT_UInt8*>(password), static_cast<NPT_Size>(password_size));
}

TransformJob
WholeFileJob(const FileHandle& file, bool seekable, NPT_UInt64 size)
{
    TransformJob job;
    job.input = &file;
    job.input_seekable = seekable;
    job.bounded = seekable;
    job.length = seekable ? size : 0;
    job.workers = seekable ? WorkersFor(size) : WorkersFor(2 * kBlockSize);
    return job;
}

NPT_Result
ResultOfRun(const TransformOutcome& outcome, const TVK_CheckFileReader* reader, NPT_UInt64 data_size,
            tvk_range* damaged)
{
    switch (outcome.failure) {
        case TransformOutcome::NONE:
            return NPT_SUCCESS;
        case TransformOutcome::READ:
        case TransformOutcome::WRITE:
            return ResultOfError(outcome.error);
        case TransformOutcome::CIPHER:
            return outcome.result;
        case TransformOutcome::DATA_CHANGED:
            if (reader != nullptr) SetBlockRange(damaged, *reader, outcome.damaged_offset, data_size);
            return TVK_ERROR_DATA_DAMAGED;
        case TransformOutcome::INPUT_SHRANK:
        default:
            // cut while it was read: damage to a verified file
            if (reader == nullptr) return NPT_ERROR_INVALID_STATE;
            SetBlockRange(damaged, *reader, outcome.bytes_read / reader->BlockSize() * reader->BlockSize(),
                          data_size);
            return TVK_ERROR_DATA_DAMAGED;
    }
}

NPT_Result
VerifyFile(const FileHandle& file, NPT_UInt64 size, const TVK_CheckFileReader& reader, tvk_range* damaged)
{
    const NPT_UInt64 block_size = reader.BlockSize();
    const NPT_UInt64 common = size < reader.ExpectedSize() ? size : reader.ExpectedSize();
    const bool parted = size != reader.ExpectedSize();
    // the whole blocks both sizes share, then the one where they part
    TransformJob job = WholeFileJob(file, true, parted ? common / block_size * block_size : size);
    job.verify = &reader;
    NPT_CHECK(ResultOfRun(RunTransform(job), &reader, size, damaged));
    if (parted) {
        SetBlockRange(damaged, reader, common / block_size * block_size, size);
        return TVK_ERROR_DATA_DAMAGED;
    }
    return NPT_SUCCESS;
}

}  // namespace tvkcrypt
