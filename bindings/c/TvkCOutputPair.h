/*****************************************************************
| TvkCOutputPair.h - OutputPair, what the C interface writes: a file,
| and optionally its check file, each made as a temporary beside its
| target and committed as the tvkcrypt tool commits them (the check
| file first, kept with the data as a pair by CommitTogether).
|
| Open pins both places down before anything is written there, refuses
| an existing file without overwrite (TVK_ERROR_FILE_ALREADY_EXISTS)
| and a directory, device or FIFO always, and creates the temporaries.
| Until Commit succeeds the targets are as they were; the destructor
| removes the temporaries of a pair never committed. One thread at a
| time. Private to the library.
****************************************************************/
#ifndef TVK_C_OUTPUT_PAIR_H
#define TVK_C_OUTPUT_PAIR_H

#include "FileHandle.h"
#include "NptResults.h"
#include "OutputPlace.h"
#include "TempOutput.h"

namespace tvkcrypt {

class OutputPair
{
public:
    OutputPair() = default;
    OutputPair(const OutputPair&) = delete;
    OutputPair& operator=(const OutputPair&) = delete;

    // check_path null: the data alone; a check file that is the data
    // file, or the input (when given) under any name, is refused
    // (TVK_ERROR_INVALID_PARAMETERS). With stale, the check file of
    // path's old content (path + ".tvkcheck", unless that is the check
    // file written, or the input) is set aside with the commit and
    // removed once it is done: it would refuse the new content.
    NPT_Result Open(const char* path, const char* check_path, bool overwrite, const FileInfo* input = nullptr,
                    bool stale = false);
    // Whether the data's name, as Open found it, is the file input.
    bool DataIsFile(const FileInfo& input) const;
    const FileHandle& Data() const { return m_Data.File(); }
    const FileHandle& Check() const { return m_Check.File(); }
    bool HasCheck() const { return m_HasCheck; }
    // Puts the file (and check file) in place. Without overwrite a name
    // taken meanwhile is refused (TVK_ERROR_FILE_ALREADY_EXISTS).
    NPT_Result Commit();

private:
    static NPT_Result Locate(const char* path, bool overwrite, OutputPlace& place, bool& replacing);
    NPT_Result LocateStale(const char* path, const FileInfo* input);
    NPT_Result CommitPair();

    OutputPlace m_DataPlace, m_CheckPlace, m_StalePlace;
    bool        m_Stale = false;
    TempOutput  m_Data, m_Check;
    bool        m_DataReplacing = false, m_CheckReplacing = false;
    bool        m_HasCheck = false;
};

}  // namespace tvkcrypt

#endif  // TVK_C_OUTPUT_PAIR_H
