/*****************************************************************
| Password.h - where tvkcrypt gets its password, and where it keeps it.
|
| SecretBuffer is a fixed block of memory for a password: it never
| grows (so no stray copies are left behind by reallocation), is kept
| out of core dumps and swap where the system allows (throws
| std::bad_alloc when memory runs out), and is wiped with
| NPT_WipeMemory when destroyed or cleared.
|
| TakeEnvironmentPassword runs first thing in the process: it copies
| TVK_PASSWORD, wipes the value where it lies (which also clears it
| from /proc/PID/environ) and removes the variable, whichever source
| is used later. On Windows the value is read as UTF-16 and kept as
| UTF-8.
|
| ObtainPassword takes the password from the first available source:
|   1. the first line of the file named by --password-file ("-" is
|      standard input), without a leading UTF-8 byte order mark;
|   2. the environment variable TVK_PASSWORD, when set and not empty;
|   3. a prompt on the controlling terminal without echo, asked twice
|      when the caller wants the password confirmed (when encrypting,
|      and when decrypting over an existing file with nothing else to
|      confirm the password).
| It refuses passwords with a zero byte (the key would silently be
| derived from the bytes before it), and empty passwords when
| encrypting. Decrypting accepts an empty password from a file or the
| prompt, since existing data may have been encrypted with one.
| The password as read is then converted to the chosen encoding (see
| PasswordEncoding.h), which may refuse it; the prompt's confirmation
| compares what was typed, before the conversion.
****************************************************************/
#ifndef TVKCRYPT_PASSWORD_H
#define TVKCRYPT_PASSWORD_H

#include <cstddef>
#include <string>

#include "PasswordEncoding.h"

namespace tvkcrypt {

class SecretBuffer
{
public:
    explicit SecretBuffer(std::size_t capacity);
    ~SecretBuffer();
    SecretBuffer(const SecretBuffer&) = delete;
    SecretBuffer& operator=(const SecretBuffer&) = delete;

    char*       Data() { return m_Data; }
    std::size_t Size() const { return m_Size; }
    std::size_t Capacity() const { return m_Capacity; }
    // size must not exceed the capacity; a zero byte is kept after it
    void        SetSize(std::size_t size);
    // the bytes followed by a zero byte
    const char* CString() const { return m_Data; }
    bool        Equals(const SecretBuffer& other) const;
    void        Clear();

private:
    char*       m_Data;
    std::size_t m_Capacity;
    std::size_t m_Size = 0;
};

// Longest password accepted from any source, in bytes.
const std::size_t kMaxPasswordLength = 4096;

// TVK_PASSWORD as it was at start-up.
struct EnvironmentPassword {
    EnvironmentPassword() : value(kMaxPasswordLength) {}
    SecretBuffer value;
    bool         present = false;   // set and not empty
    bool         too_long = false;  // longer than kMaxPasswordLength
    bool         not_text = false;  // Windows: not valid UTF-16
};

void TakeEnvironmentPassword(EnvironmentPassword& password);

// Returns true with the password in password (capacity at least
// kMaxPasswordLength), or false with a message for the user in error.
// A password file that others can read gets a warning on standard
// error.
// confirm: ask twice at the prompt and fail when the two differ.
// encoding: the bytes the password is keyed with. prompt: what the
// terminal shows ("Password for 'x.tvk': "); a mismatch of the two
// entries asks again, three times in all.
bool ObtainPassword(const std::string& password_file, bool encrypting, bool confirm,
                    const EnvironmentPassword& environment, const PasswordEncoding& encoding,
                    SecretBuffer& password, std::string& error,
                    const std::string& prompt = "Password: ");
// The prompt for the password of the encrypted file labelled label
// ("Password for 'x.tvk': "); the plain one for an empty label.
std::string PromptFor(const std::string& label);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_PASSWORD_H
