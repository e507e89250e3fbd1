/*****************************************************************
| TvkCheckFileKeys.h - the keys of check files, derived once and used
| for many: TVK_CheckFileKeys (the three keys that one password, salt
| and iteration count give) and TVK_CheckFileKeyCache (keys by salt
| and iteration count, for a reader of many check files).
|
| A check file's keys cost one slow key derivation (PBKDF2, about 0.2 s
| at the calibrated count). A program that writes many check files for
| one password derives the keys once, with one fresh salt, and starts
| every writer from them (TVK_CheckFileWriter::Start with keys): the
| files share the salt, which reveals only that they were written
| together with one password. A program that reads many check files
| keeps their keys in a TVK_CheckFileKeyCache: files written together
| share a salt, so it derives once per salt, not once per file. The
| format of the files is the same either way.
|
| The keys are wiped when the objects holding them are destroyed; the
| password is never kept.
****************************************************************/
#ifndef TVK_CHECK_FILE_KEYS_H
#define TVK_CHECK_FILE_KEYS_H

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "NptResults.h"
#include "NptTypes.h"
#include "TvkCheckFile.h"

/*----------------------------------------------------------------------
|   TVK_CheckFileKeys: master = PBKDF2-HMAC-SHA-256(password, salt,
|   iterations); the verifier, block and summary keys are HMACs of their
|   labels under it (see TvkCheckFile.h). Derive once; then read-only,
|   and safe to share between threads.
+---------------------------------------------------------------------*/
class NPT_EXPORT TVK_CheckFileKeys
{
public:
    static constexpr NPT_Size KEY_SIZE = 32;

    TVK_CheckFileKeys();
    ~TVK_CheckFileKeys();
    TVK_CheckFileKeys(const TVK_CheckFileKeys&) = delete;
    TVK_CheckFileKeys& operator=(const TVK_CheckFileKeys&) = delete;

    // Takes as long as PBKDF2 with that iteration count.
    // NPT_ERROR_INVALID_PARAMETERS: a null pointer with a size, a salt of
    // another size than SALT_SIZE, iterations 0 or above MAX_ITERATIONS.
    // NPT_ERROR_INVALID_STATE: already derived.
    NPT_Result Derive(const NPT_UInt8* password, NPT_Size password_size, const NPT_UInt8* salt,
                      NPT_Size salt_size, NPT_UInt32 iterations);

    bool             IsDerived() const { return m_Derived; }
    const NPT_UInt8* Salt() const { return m_Salt; }
    NPT_UInt32       Iterations() const { return m_Iterations; }
    // Whether these keys are the ones of salt (SALT_SIZE bytes) and
    // iterations.
    bool             Fit(const NPT_UInt8* salt, NPT_UInt32 iterations) const;

    const NPT_UInt8* VerifierKey() const { return m_Keys; }
    const NPT_UInt8* BlockKey() const { return m_Keys + KEY_SIZE; }
    const NPT_UInt8* SummaryKey() const { return m_Keys + 2 * KEY_SIZE; }

private:
    bool       m_Derived;
    NPT_UInt32 m_Iterations;
    NPT_UInt8  m_Salt[TVK_CheckFile::SALT_SIZE];
    NPT_UInt8  m_Keys[3 * KEY_SIZE];
};

/*----------------------------------------------------------------------
|   TVK_CheckFileKeyCache: the keys of one password by salt and
|   iteration count. Find derives on a miss; callers on several threads
|   wait for one derivation of the same salt, not one each, and
|   derivations of different salts run side by side. At most MAX_ENTRIES
|   are kept (the oldest go first; keys still in use stay alive with
|   their users). Clear, or the destructor, drops and wipes them.
+---------------------------------------------------------------------*/
class NPT_EXPORT TVK_CheckFileKeyCache
{
public:
    static constexpr std::size_t MAX_ENTRIES = 64;

    TVK_CheckFileKeyCache() = default;
    ~TVK_CheckFileKeyCache() { Clear(); }
    TVK_CheckFileKeyCache(const TVK_CheckFileKeyCache&) = delete;
    TVK_CheckFileKeyCache& operator=(const TVK_CheckFileKeyCache&) = delete;

    // The keys of password for salt (SALT_SIZE bytes) and iterations.
    // Every call on one cache must give the same password. Results as
    // TVK_CheckFileKeys::Derive; a failed derivation is not kept.
    NPT_Result Find(const NPT_UInt8* password, NPT_Size password_size, const NPT_UInt8* salt,
                    NPT_UInt32 iterations, std::shared_ptr<const TVK_CheckFileKeys>& keys);
    // Derivations done so far (misses).
    unsigned Derivations() const;
    void     Clear();

private:
    struct Entry {
        std::mutex                          lock;  // held while deriving
        std::shared_ptr<TVK_CheckFileKeys> keys;
    };
    typedef std::vector<NPT_UInt8> Id;  // salt, then the count's 4 bytes

    mutable std::mutex                       m_Lock;  // guards the members below
    std::map<Id, std::shared_ptr<Entry>>     m_Entries;
    std::vector<Id>                          m_Order;  // oldest first
    unsigned                                 m_Derivations = 0;
};

#endif // TVK_CHECK_FILE_KEYS_H
