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
| is used later.
|
| ObtainPassword takes the password from the first available source:
|   1. the first line of the file named by --password-file;
|   2. the environment variable TVK_PASSWORD, when set and not empty;
|   3. a prompt on the controlling terminal without echo, asked twice
|      when encrypting.
| It refuses passwords with a zero byte (the key would silently be
| derived from the bytes before it), and empty passwords when
| encrypting. Decrypting accepts an empty password from a file or the
| prompt, since existing data may have been encrypted with one.
****************************************************************/
#ifndef TVKCRYPT_PASSWORD_H
#define TVKCRYPT_PASSWORD_H

#include <cstddef>
#include <string>

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
};

void TakeEnvironmentPassword(EnvironmentPassword& password);

// Returns true with the password in password (capacity at least
// kMaxPasswordLength), or false with a message for the user in error.
// A password file that others can read gets a warning on standard
// error.
bool ObtainPassword(const std::string& password_file, bool encrypting,
                    const EnvironmentPassword& environment, SecretBuffer& password,
                    std::string& error);

}  // namespace tvkcrypt

#endif  // TVKCRYPT_PASSWORD_H
