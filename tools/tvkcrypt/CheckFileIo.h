/*****************************************************************
| CheckFileIo.h - reading and making check files for tvkcrypt: the
| file operations around CheckFile.h.
|
| LoadCheckFile reads a check file (at most kMaxCheckFileSize + 1
| bytes, so a huge file is refused without being read whole) and parses
| it. StartCheckWriter draws a fresh salt from the system's random
| source, calibrates the key derivation and starts a writer. StoreCheck
| File serializes a writer into a temporary output.
|
| Failures come back as false with a message for the user (without the
| program name) in error. One thread at a time.
****************************************************************/
#ifndef TVKCRYPT_CHECK_FILE_IO_H
#define TVKCRYPT_CHECK_FILE_IO_H

#include <string>

#include "TvkCheckFile.h"
#include "NptTypes.h"
#include "TempOutput.h"

namespace tvkcrypt {

class SecretBuffer;

// The default name of the check file of an encrypted file.
std::string CheckFileNameFor(const std::string& encrypted);

// absent is set (and false returned, error empty) when nothing is at
// path; any other failure (unreadable, not a check file, damaged,
// unsupported) gives false with error set.
bool LoadCheckFile(const std::string& path, TVK_CheckFileReader& reader, bool& absent, std::string& error);

// Starts writer for data of about data_size bytes (0: unknown).
bool StartCheckWriter(TVK_CheckFileWriter& writer, const SecretBuffer& password, NPT_UInt64 data_size,
                      std::string& error);

// Writes the check file of data_size bytes into the (fresh) temporary.
bool StoreCheckFile(const TVK_CheckFileWriter& writer, NPT_UInt64 data_size, const TempOutput& temp,
                    const std::string& label, std::string& error);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_CHECK_FILE_IO_H
