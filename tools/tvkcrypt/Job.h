/*****************************************************************
| Job.h - the parts every command of tvkcrypt builds its work from:
| the input, the check file it reads, the key, the workers and what the
| run shows; JobOutput.h adds the output, the check file it writes and
| the commit that makes them visible.
|
| A command (Commands.h) turns its Options into a job with these, step
| by step, in the order that keeps the tool's promises: the input and
| the output are checked before a password is asked, the output is
| created before the password is asked (a directory that cannot take it
| shows at once), and the target changes only once everything has
| succeeded. Each step returns 0 to go on, or the exit status once it
| has printed its message ("tvkcrypt: ..." on standard error).
|
| One thread at a time.
****************************************************************/
#ifndef TVKCRYPT_JOB_H
#define TVKCRYPT_JOB_H

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "FileHandle.h"
#include "JobReport.h"
#include "NptTypes.h"
#include "Progress.h"
#include "TvkCheckFile.h"

namespace tvkcrypt {

class JobKeys;
class Key;
class SecretBuffer;
class TreeDirectory;
struct Options;

/*----------------------------------------------------------------------
|   FileContext: what a job of many files gives each file's run: the
|   password and keys, taken once; the job's progress; and where the
|   file is read and written (names in open directories of the trees).
+---------------------------------------------------------------------*/
struct FileContext {
    JobKeys*             keys = nullptr;
    JobKeys*             new_keys = nullptr;  // rekey
    Key*                 key = nullptr;       // the worker's locked key memory, wiped after each file
    TransformProgress*   progress = nullptr;
    const TreeDirectory* input_directory = nullptr;
    std::string          input_name;
    const TreeDirectory* output_directory = nullptr;
    std::string          output_name;
};

// Jobs of this size or more (or of unknown size) show a progress bar on
// a terminal.
const NPT_UInt64 kLargeJob = NPT_UInt64(64) << 20;

// Where messages go while a job of many files shows one progress line
// for all its workers: through Interject (Progress.h), under the job's
// lock; null: straight to standard error.
void SetJobStatusLine(Progress* line, std::mutex* lock);
// Writes a message line on standard error, clear of the job's status line.
void WriteMessage(const std::string& text);

// Prints "tvkcrypt: message" on standard error; returns kExitFailure.
int Failure(const std::string& message);
// "INPUT is damaged or was changed": the data does not match its check
// file (where: the ranges that fail, when known). Returns kExitFailure.
int Damaged(const std::string& input_label, const std::string& where = std::string());

/*----------------------------------------------------------------------
|   the input
+---------------------------------------------------------------------*/
struct JobInput {
    FileHandle  file;
    std::string label;           // the quoted name, or "standard input"
    FileInfo    info;
    bool        regular = false;
    // a regular file that reports its size (one that reports none, as
    // in /proc, is read as a stream to its end)
    bool        seekable = false;
    NPT_UInt64  start = 0;       // where a seekable input stood when opened
    bool        fresh = false;   // opened by this run: it stands at 0
    NPT_UInt64  size = 0;        // seekable: bytes from start to the end
};

// Opens path ("-" is standard input) and looks at what it is; a regular
// file is announced to the system as read from start to end. Sets file,
// label, info and regular.
int OpenInput(const std::string& path, JobInput& input);
// The same for name in an open directory of a tree (never through a
// link; path names it in messages).
int OpenInputIn(const TreeDirectory& directory, const std::string& name, JobInput& input);
// Sets seekable, start and size (a standard input redirected from a
// file may stand anywhere in it).
void MeasureInput(JobInput& input);

// Refuses (usage error) a password file that is standard input under
// another name (/dev/stdin, /proc/self/fd/0) when the data comes on
// standard input too: the password's read would take the data's first
// bytes, or the data would be read twice. Compared by file identity.
int RefusePasswordFileOnInput(const Options& options, const JobInput& input);

/*----------------------------------------------------------------------
|   the check file read
+---------------------------------------------------------------------*/
// Reads the check file at path (or, with directory, name in it) into
// reader. found is false (and 0 returned) when nothing is there and
// required is false.
int LoadCheckInput(const std::string& path, bool required, TVK_CheckFileReader& reader, bool& found,
                   const TreeDirectory* directory = nullptr, const std::string& name = std::string());
// The status of a password verified against the check file at
// check_path (TVK_CheckFileReader::VerifyPassword's result), with its
// message: 0, or "wrong password", a damaged check file, ...
int CheckPasswordStatus(NPT_Result result, const std::string& check_path);

/*----------------------------------------------------------------------
|   Key: the 16-byte key, in memory kept out of core dumps and swap,
|   wiped when it goes out of scope (and by the transform once its
|   ciphers hold it). Throws std::bad_alloc when out of memory.
+---------------------------------------------------------------------*/
class Key
{
public:
    Key();
    ~Key();
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    NPT_UInt8* Bytes() { return m_Bytes; }

private:
    NPT_UInt8* m_Bytes;
};

// Derives the format's key from the password. false with a message in
// error when the library fails.
bool DeriveKey(const SecretBuffer& password, Key& key, std::string& error);

/*----------------------------------------------------------------------
|   the run
+---------------------------------------------------------------------*/
// What a run shows on standard error: one --quiet hides the progress
// bar (drawn only when bar_wanted: a long job on a terminal) and the
// notices, a second one the warnings too.
Progress::Shown ShownFor(const Options& options, bool bar_wanted);
// Whether a job of length bytes (total_known false: of unknown size)
// wants a bar: a large one, with standard error on a terminal.
bool BarWanted(bool total_known, NPT_UInt64 length);
// Whether notices would reach a person: standard error is a terminal
// and not --quiet.
bool NoticesOnTerminal(const Options& options);
// The pipeline's workers: two where two processors are there and the
// job is at least two blocks long (or of unknown size), else one.
unsigned WorkersFor(bool total_known, NPT_UInt64 length);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_JOB_H
