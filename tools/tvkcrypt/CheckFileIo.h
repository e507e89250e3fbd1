/*****************************************************************
| CheckFileIo.h - the check files of tvkcrypt, with its messages: the
| library's check-file operations (TvkCheckFileIo.h) as steps that
| report to the user.
|
| LoadCheckFile reads and parses a check file; DeriveCheckKeys makes
| the keys of new check files with a fresh salt and the calibrated key
| derivation;
| StoreCheckFile serializes a writer into a temporary output. Failures
| come back as false with a message for the user (without the program
| name) in error. One thread at a time.
****************************************************************/
#ifndef TVKCRYPT_CHECK_FILE_IO_H
#define TVKCRYPT_CHECK_FILE_IO_H

#include <string>

#include "NptTypes.h"
#include "TempOutput.h"
#include "TvkCheckFile.h"
#include "TvkCheckFileIo.h"

namespace tvkcrypt {

class SecretBuffer;
class TreeDirectory;

// absent is set (and false returned, error empty) when nothing is at
// path; any other failure (unreadable, not a regular file, not a check
// file, damaged, unsupported) gives false with error set.
// With directory, the file is name in it (path names it in messages),
// never read through a link.
bool LoadCheckFile(const std::string& path, TVK_CheckFileReader& reader, bool& absent, std::string& error,
                   const TreeDirectory* directory = nullptr, const std::string& name = std::string());

// Derives the keys of new check files from password, with a fresh salt
// and the calibrated cost.
bool DeriveCheckKeys(TVK_CheckFileKeys& keys, const SecretBuffer& password, std::string& error);

// Writes the check file of data_size bytes into the (fresh) temporary.
bool StoreCheckFile(const TVK_CheckFileWriter& writer, NPT_UInt64 data_size, const TempOutput& temp,
                    const std::string& label, std::string& error);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_CHECK_FILE_IO_H
