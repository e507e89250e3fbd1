/*****************************************************************
| TvkCheckFileIo.h - check files on disk, for the C API and the tool:
| loading one (within the size cap, and never waiting on a FIFO or a
| device at its name), starting a writer with a fresh salt and a
| calibrated cost, and storing one into an output file.
|
| Private to the library: it works on the platform floor's files
| (FileHandle.h) and reports their failures as SysError values, next
| to the check file's own results, so that each caller can word them
| its own way. One thread at a time per reader or writer.
****************************************************************/
#ifndef TVK_CHECK_FILE_IO_H
#define TVK_CHECK_FILE_IO_H

#include <string>

#include "FileHandle.h"
#include "NptResults.h"
#include "NptTypes.h"
#include "SysError.h"
#include "TvkCheckFile.h"
#include "TvkCheckFileKeys.h"

namespace tvkcrypt {

// The default name of the check file of an encrypted file.
std::string CheckFileNameFor(const std::string& encrypted);

// Reads the check file at path (at most MAX_FILE_SIZE + 1 bytes, so
// that a huge file is refused without being read whole) and parses it
// into reader. A failure to open or read it comes back in file_error
// (kNotRegular for anything but a regular file), with its result:
// ResultOfError's, or TVK_ERROR_NOT_A_CHECK_FILE for kNotRegular;
// opened tells whether the file was open when it failed. Otherwise
// file_error is 0 and the result is the parse's.
NPT_Result LoadCheckFile(const char* path, TVK_CheckFileReader& reader, SysError& file_error, bool& opened);

// The same for a check file already open (file_error: a failure to
// read it).
NPT_Result ReadCheckFile(const FileHandle& file, const FileInfo& info, TVK_CheckFileReader& reader,
                         SysError& file_error);

// Derives keys for new check files from password, with a salt from the
// system's random source and iterations, or the calibrated count when
// iterations is 0. A failure of the random source comes back in
// random_error, with its ResultOfError.
NPT_Result DeriveCheckKeys(TVK_CheckFileKeys& keys, const NPT_UInt8* password, NPT_Size password_size,
                           NPT_UInt32 iterations, SysError& random_error);

// Starts writer for data of about data_size bytes (0: unknown), with a
// salt from the system's random source and iterations, or the
// calibrated count when iterations is 0. A failure of the random
// source comes back in random_error, with its ResultOfError.
NPT_Result StartCheckWriter(TVK_CheckFileWriter& writer, const NPT_UInt8* password, NPT_Size password_size,
                            NPT_UInt64 data_size, NPT_UInt32 iterations, SysError& random_error);

// Writes the check file of data_size bytes into file (a fresh output,
// from offset 0). The writer's Serialize result, or a failure to write
// in write_error with its ResultOfError.
NPT_Result StoreCheckFile(const TVK_CheckFileWriter& writer, NPT_UInt64 data_size, const FileHandle& file,
                          SysError& write_error);

}  // namespace tvkcrypt

#endif  // TVK_CHECK_FILE_IO_H
