/*****************************************************************
| TreeJob.h - a job over a directory tree (tvkcrypt encrypt -r,
| decrypt -r, check -r, rekey -r): the tree walked and mirrored, and
| the one-file job (Commands.h) run for each file by a pool of workers.
|
| The source is walked twice, relative to open directories and never
| through a link: once to count the files and bytes (and to refuse a
| destination inside the source), once to make the mirrored
| directories and hand each file to the workers, a bounded queue ahead
| of them. Each file is committed on its own, as a job of one file
| would commit it; the password is asked once, the check files written
| share one key derivation, and those read one per salt (JobKeys.h).
| Links and special files are skipped with a note; a file that fails
| is reported and the job goes on. At the end: a summary line, and an
| exit status that tells the kinds of trouble apart (Job.h). With
| --json, a line per file on standard output.
|
| Interruption: the terminating signals are waited for by the main
| thread (Signals.h); a file being committed is finished, the others
| are dropped with their temporaries, and the process dies of the
| signal. Run again with --resume, outputs that are complete and verify
| are kept.
****************************************************************/
#ifndef TVKCRYPT_TREE_JOB_H
#define TVKCRYPT_TREE_JOB_H

#include <string>
#include <vector>

#include "Job.h"

namespace tvkcrypt {

// What one tree job does to each file.
enum class TreeAction { ENCRYPT, DECRYPT, CHECK, REKEY };

// The name a file of the source gets in the destination: name + ".tvk"
// when encrypting, name without ".tvk" when decrypting (empty: not a
// file this action takes, such as a check file or, decrypting, a name
// without ".tvk"; why says why, empty for a check file, which is
// passed over silently).
std::string MirroredName(TreeAction action, const std::string& name, std::string& why);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_TREE_JOB_H
