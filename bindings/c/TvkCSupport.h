/*****************************************************************
| TvkCSupport.h - what every entry point of the C interface
| (TvkCrypto/c.h) does the same way: keeping exceptions inside,
| refusing passwords the format cannot take, naming check files, and
| reporting damaged ranges.
|
| Private to the library. Any thread.
****************************************************************/
#ifndef TVK_C_SUPPORT_H
#define TVK_C_SUPPORT_H

#include <cstddef>
#include <memory>
#include <new>
#include <string>

#include "NptResults.h"
#include "NptTypes.h"
#include "TvkCheckFile.h"
#include "FileHandle.h"
#include "TvkCrypto/c.h"
#include "TvkEntryAlign.h"
#include "TvkTransform.h"

namespace tvkcrypt {

// Runs body, which returns a result, and turns an exception (an
// allocation that failed, above all) into a result code: no exception
// leaves the library through the C interface.
template <class Body>
tvk_result
Guarded(Body body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return NPT_ERROR_OUT_OF_MEMORY;
    } catch (...) {
        return NPT_ERROR_INTERNAL;
    }
}

// A new handle of type T, prepared by open(T&), in *handle when that
// succeeds; *handle stays null otherwise (the caller cleared it).
template <class T, class Open>
tvk_result
NewHandle(T** handle, Open open) noexcept
{
    return Guarded([&] {
        std::unique_ptr<T> made(new T);
        NPT_CHECK(open(*made));
        *handle = made.release();
        return NPT_SUCCESS;
    });
}

// NPT_ERROR_INVALID_PARAMETERS for a password the format cannot take:
// null with a size, 4 GiB or more, a zero byte in it.
NPT_Result CheckPassword(const void* password, std::size_t password_size);

// The check file's path: check_path, or path + ".tvkcheck" when null.
std::string CheckPathFor(const char* path, const char* check_path);

// Sets *range (when not null).
void SetRange(tvk_range* range, NPT_UInt64 offset, NPT_UInt64 length);

// The range of the check block at offset (a block boundary): its
// length in the check file, or as far as the data of data_size bytes
// reaches past that (up to a block).
void SetBlockRange(tvk_range* range, const TVK_CheckFileReader& reader, NPT_UInt64 offset,
                   NPT_UInt64 data_size);

// Workers for a file of size bytes: two where two processors are there
// and the file holds two steps of the pipeline, else one.
unsigned WorkersFor(NPT_UInt64 size);

// The check file of the encrypted file at path, loaded and its password
// verified as verify says: found is false without one (TVK_VERIFY_NONE,
// or none there with TVK_VERIFY_IF_PRESENT); TVK_ERROR_NO_CHECK_FILE
// when one is required; TVK_ERROR_INVALID_PARAMETERS for another verify.
NPT_Result LoadVerifiedCheck(const char* path, const char* check_path, int verify, const void* password,
                             std::size_t password_size, TVK_CheckFileReader& reader, bool& found);

// A pipeline job over all of file (size bytes; a seekable regular file,
// or anything else read to its end), with a worker or two.
TransformJob WholeFileJob(const FileHandle& file, bool seekable, NPT_UInt64 size);

// The result of a run: NPT_SUCCESS, the error of a read or write, the
// library's, or TVK_ERROR_DATA_DAMAGED with the failing block's range
// when reader (the run's check file, may be null) was verifying it.
NPT_Result ResultOfRun(const TransformOutcome& outcome, const TVK_CheckFileReader* reader, NPT_UInt64 data_size,
                       tvk_range* damaged);

// Verifies the encrypted file of size bytes against reader (password
// verified): TVK_ERROR_DATA_DAMAGED with the first damaged block's
// range. A file of another size than the check file says is damaged
// from the block where the two sizes part, unless a block before it is.
NPT_Result VerifyFile(const FileHandle& file, NPT_UInt64 size, const TVK_CheckFileReader& reader,
                      tvk_range* damaged);

}  // namespace tvkcrypt

#endif  // TVK_C_SUPPORT_H
