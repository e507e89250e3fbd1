/*****************************************************************
| JobKeys.h - the secrets of one tvkcrypt job: the password, taken
| once; the format's key, derived once; the keys of the check files
| the job writes (one fresh salt for the whole job, derived on first
| use) and of those it reads (a cache by salt and iteration count).
|
| A job of one file pays one slow derivation as before; a job of
| thousands pays one for all the check files it writes, and one per
| salt among those it reads (files written by one job share it). Every
| key is wiped when the job ends. Obtain runs on one thread, before the
| workers start; the rest may run on several at once.
****************************************************************/
#ifndef TVKCRYPT_JOB_KEYS_H
#define TVKCRYPT_JOB_KEYS_H

#include <memory>
#include <mutex>
#include <string>

#include "Job.h"
#include "Password.h"
#include "TvkCheckFile.h"
#include "TvkCheckFileKeys.h"

namespace tvkcrypt {

struct EnvironmentPassword;
struct Options;

class JobKeys
{
public:
    JobKeys() : m_Password(kMaxPasswordLength) {}
    JobKeys(const JobKeys&) = delete;
    JobKeys& operator=(const JobKeys&) = delete;

    // Takes the password (options' --password-file, the environment or
    // the prompt, which shows prompt and asks twice when confirm) and
    // derives the format's key. new_password: the --new-password-file
    // instead, for the new password of a rekey.
    int Obtain(const Options& options, const EnvironmentPassword& environment, bool encrypting, bool confirm,
               const std::string& prompt, bool new_password = false);
    bool Obtained() const { return m_Obtained; }
    // The format's 16 bytes, for one transform (which wipes its copy).
    void CopyKey(Key& key) const;
    // Starts writer for data of about data_size bytes with the job's
    // check-file keys (derived on the first call).
    int StartWriter(TVK_CheckFileWriter& writer, NPT_UInt64 data_size);
    // Verifies the password against the check file in reader (at
    // check_path), with the keys of its salt.
    int Verify(TVK_CheckFileReader& reader, const std::string& check_path);
    // The same without a message: VerifyPassword's result.
    NPT_Result VerifyQuietly(TVK_CheckFileReader& reader);
    // The keys of a check file read (its salt and count), from the cache.
    NPT_Result KeysOf(const TVK_CheckFileReader& reader, std::shared_ptr<const TVK_CheckFileKeys>& keys);
    // Check-file key derivations done so far.
    unsigned Derivations() const;

private:
    SecretBuffer       m_Password;
    Key                m_Key;
    bool               m_Obtained = false;
    mutable std::mutex m_Lock;  // guards m_WriteKeys and m_WriteDerivations
    std::unique_ptr<TVK_CheckFileKeys> m_WriteKeys;
    unsigned           m_WriteDerivations = 0;
    TVK_CheckFileKeyCache m_ReadKeys;
};

}  // namespace tvkcrypt

#endif  // TVKCRYPT_JOB_KEYS_H
