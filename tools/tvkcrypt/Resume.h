/*****************************************************************
| Resume.h - whether a tree job run again (--resume) may keep an output
| that an earlier run made: it must be complete and verify.
|
| Encrypted: the output and its check file are there, the check file
| takes the job's password, records the input's size, and every block
| of the output matches its tag (files are committed with their check
| files as a pair, so a pair that verifies is a finished file).
| Decrypted: the output, encrypted again with the key, gives exactly the
| tags of the input's check file (the cleartext is exactly the input's
| decryption); without a check file nothing can tell, and it is made
| again. Nothing is printed: an output that fails is simply made again.
****************************************************************/
#ifndef TVKCRYPT_RESUME_H
#define TVKCRYPT_RESUME_H

namespace tvkcrypt {

class JobKeys;
struct FileContext;

bool Resumable(bool encrypting, const FileContext& context, JobKeys& keys);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_RESUME_H
