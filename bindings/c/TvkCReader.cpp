/*****************************************************************
| TvkCReader.cpp - tvk_reader, an encrypted file read at any offset,
| each block verified against its check file before a byte of it is
| decrypted (VerifiedReader, TvkVerifiedReader.h: blocks read whole,
| hashed as read, the last few kept). Reads run on any number of
| threads at once: the file is read at offsets, the key and the check
| file's keys never change, and the cache has a lock.
****************************************************************/
#include <memory>

#include "SysError.h"
#include "TvkCKey.h"
#include "TvkCSupport.h"
#include "TvkVerifiedReader.h"

using namespace tvkcrypt;

struct tvk_reader {
    FileHandle                           file;
    NPT_UInt64                           size = 0;
    tvk_key*                             key = nullptr;
    std::unique_ptr<TVK_CheckFileReader> check;     // null: reads are not verified
    std::unique_ptr<VerifiedReader>      verified;  // over check

    tvk_reader() = default;
    ~tvk_reader() { tvk_key::Destroy(key); }
    tvk_reader(const tvk_reader&) = delete;
    tvk_reader& operator=(const tvk_reader&) = delete;

    NPT_Result Open(const char* path, const void* password, size_t password_size, int verify,
                    const char* check_path);
    NPT_Result Read(NPT_UInt64 offset, NPT_UInt8* buffer, size_t count, size_t& bytes_read,
                    tvk_range* damaged) const;
};

NPT_Result
tvk_reader::Open(const char* path, const void* password, size_t password_size, int verify, const char* check_path)
{
    FileInfo info;
    NPT_CHECK(ResultOfError(OpenRegularFile(path, file, info)));
    size = info.size;
    check.reset(new TVK_CheckFileReader);
    bool found = false;
    NPT_CHECK(LoadVerifiedCheck(path, check_path, verify, password, password_size, *check, found));
    if (found) {
        verified.reset(new VerifiedReader(file, *check));
    } else {
        check.reset();
    }
    return tvk_key::FromPassword(password, password_size, key);
}

// Verified: the blocks that came whole and right are decrypted and
// counted, up to the first that did not.
NPT_Result
tvk_reader::Read(NPT_UInt64 offset, NPT_UInt8* buffer, size_t count, size_t& bytes_read, tvk_range* damaged) const
{
    bytes_read = 0;
    if (offset >= size) return NPT_SUCCESS;
    if (count > size - offset) count = static_cast<size_t>(size - offset);
    size_t got = 0;
    NPT_Result result = NPT_SUCCESS;
    if (verified) {
        NPT_UInt64 damaged_block = 0;
        result = verified->Read(offset, buffer, count, got, damaged_block);
        if (result == TVK_ERROR_DATA_DAMAGED) {
            SetBlockRange(damaged, *check, damaged_block * check->BlockSize(), size);
        }
    } else {
        NPT_CHECK(ResultOfError(ReadAt(file, buffer, count, offset, got)));
    }
    NPT_CHECK(key->Transform(buffer, got, offset));
    bytes_read = got;
    return result;
}

/*----------------------------------------------------------------------
|   the C interface
+---------------------------------------------------------------------*/
TVK_ALIGN_ENTRY tvk_result
tvk_reader_open(const char* path, const void* password, size_t password_size, int verify,
                const char* check_path, tvk_reader** reader)
{
    if (reader == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    *reader = nullptr;
    if (path == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    NPT_CHECK(CheckPassword(password, password_size));
    return NewHandle(reader, [&](tvk_reader& opened) {
        return opened.Open(path, password, password_size, verify, check_path);
    });
}

TVK_ALIGN_ENTRY tvk_result
tvk_reader_size(const tvk_reader* reader, uint64_t* size)
{
    if (size != nullptr) *size = 0;
    if (reader == nullptr || size == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    *size = reader->size;
    return NPT_SUCCESS;
}

TVK_ALIGN_ENTRY int
tvk_reader_verified(const tvk_reader* reader)
{
    return reader != nullptr && reader->check ? 1 : 0;
}

TVK_ALIGN_ENTRY tvk_result
tvk_reader_read(const tvk_reader* reader, uint64_t offset, void* buffer, size_t size, size_t* bytes_read,
                tvk_range* damaged)
{
    if (bytes_read != nullptr) *bytes_read = 0;
    SetRange(damaged, 0, 0);
    if (reader == nullptr || bytes_read == nullptr || (buffer == nullptr && size != 0)) {
        return NPT_ERROR_INVALID_PARAMETERS;
    }
    return Guarded([&] {
        return reader->Read(offset, static_cast<NPT_UInt8*>(buffer), size, *bytes_read, damaged);
    });
}

TVK_ALIGN_ENTRY void
tvk_reader_close(tvk_reader* reader)
{
    delete reader;
}
