/*****************************************************************
| Password.cpp - password sources of tvkcrypt.
****************************************************************/
#include "Password.h"

#include <cstring>
#include <new>

#include "FileHandle.h"
#include "Hardening.h"
#include "NptWipe.h"
#include "QuotedName.h"
#include "SystemText.h"
#include "Terminal.h"

namespace tvkcrypt {

/*----------------------------------------------------------------------
|   SecretBuffer
+---------------------------------------------------------------------*/
SecretBuffer::SecretBuffer(std::size_t capacity)
    : m_Data(static_cast<char*>(AllocateSecretMemory(capacity + 1))), m_Capacity(capacity)
{
    if (m_Data == nullptr) throw std::bad_alloc();
}

SecretBuffer::~SecretBuffer()
{
    FreeSecretMemory(m_Data, m_Capacity + 1);
}

void
SecretBuffer::SetSize(std::size_t size)
{
    if (size > m_Capacity) size = m_Capacity;
    m_Size = size;
    m_Data[size] = '\0';
}

bool
SecretBuffer::Equals(const SecretBuffer& other) const
{
    return m_Size == other.m_Size && std::memcmp(m_Data, other.m_Data, m_Size) == 0;
}

void
SecretBuffer::Clear()
{
    NPT_WipeMemory(m_Data, m_Capacity + 1);
    m_Size = 0;
}

/*----------------------------------------------------------------------
|   sources
+---------------------------------------------------------------------*/
static const char kTooLong[] = " is longer than 4096 bytes";

// Checks a password taken from source (words for messages).
static bool
Acceptable(const SecretBuffer& password, const std::string& source, bool encrypting,
           std::string& error)
{
    if (password.Size() == 0 && encrypting) {
        error = "the password " + source + " is empty; new data needs a password";
        return false;
    }
    if (std::memchr(password.CString(), '\0', password.Size()) != nullptr) {
        error = "the password " + source + " contains a zero byte";
        return false;
    }
    return true;
}

// path "-" is standard input.
static bool
FromFile(const std::string& path, bool encrypting, SecretBuffer& password, std::string& subject,
         std::string& error)
{
    FileHandle file;
    std::string label;  // "password file 'x'" or "standard input"
    SysError failure = 0;
    if (path == "-") {
        file = FileHandle::StandardInput();
        label = "standard input";
    } else {
        label = "password file " + QuotedName(path);
        failure = OpenForReading(path.c_str(), file);
    }
    subject = "the password in " + label;
    if (failure) {
        error = "cannot open " + label + ": " + ErrorText(failure);
        return false;
    }
    FileInfo info;
    if (path != "-" && StatHandle(file, info) == 0 && info.kind == FileInfo::REGULAR &&
        ReadableByOthers(info)) {
        WriteToStandardError("tvkcrypt: warning: " + label +
                             " can be read by its group or by other users; "
                             "make it private with chmod 600\n");
    }
    // a standard input redirected from a file is read in blocks, but left
    // right after the line, for the next command of a "{ ...; } < file"
    NPT_UInt64 line_start = 0;
    const bool repositioned = path == "-" && StatHandle(file, info) == 0 &&
                              info.kind == FileInfo::REGULAR && GetPosition(file, line_start) == 0;
    // read until the first line ending, the end of the file, or one byte
    // more than the longest password with a byte order mark and "\r"
    SecretBuffer line(kMaxPasswordLength + 5);
    std::size_t length = 0;
    const char* newline = nullptr;
    while (length < line.Capacity()) {
        std::size_t got = 0;
        failure = ReadSome(file, line.Data() + length, line.Capacity() - length, got);
        if (failure) {
            error = "cannot read " + label + ": " + ErrorText(failure);
            return false;
        }
        if (got == 0) break;
        newline = static_cast<const char*>(std::memchr(line.Data() + length, '\n', got));
        length += got;
        if (newline != nullptr) break;
    }
    // Notepad's "Unicode" is UTF-16 with a byte order mark: its zero
    // bytes would be refused below without saying why
    if (length >= 2 && (std::memcmp(line.Data(), "\xFF\xFE", 2) == 0 ||
                        std::memcmp(line.Data(), "\xFE\xFF", 2) == 0)) {
        error = subject + " is UTF-16 text (\"Unicode\" in Notepad); save " +
                (path == "-" ? std::string("it") : QuotedName(path)) + " as UTF-8";
        return false;
    }
    if (newline != nullptr) length = static_cast<std::size_t>(newline - line.Data());
    if (repositioned) SetPosition(file, line_start + length + (newline != nullptr ? 1 : 0));
    if (length > 0 && line.Data()[length - 1] == '\r') --length;
    // editors on Windows (Notepad) begin UTF-8 text with a byte order
    // mark, which is no part of the password
    std::size_t start = 0;
    if (length >= 3 && std::memcmp(line.Data(), "\xEF\xBB\xBF", 3) == 0) start = 3;
    length -= start;
    if (length > kMaxPasswordLength) {
        error = subject + kTooLong;
        return false;
    }
    std::memcpy(password.Data(), line.Data() + start, length);
    password.SetSize(length);
    return Acceptable(password, "in " + label, encrypting, error);
}

void
TakeEnvironmentPassword(EnvironmentPassword& password)
{
    password.value.Clear();
    std::size_t length = 0;
    EnvironmentSecret outcome = TakeEnvironmentSecret("TVK_PASSWORD", password.value.Data(),
                                                      password.value.Capacity(), length);
    password.value.SetSize(length);
    password.present = outcome == SECRET_PRESENT;
    password.too_long = outcome == SECRET_TOO_LONG;
    password.not_text = outcome == SECRET_NOT_TEXT;
}

static bool
FromEnvironment(const EnvironmentPassword& environment, SecretBuffer& password, std::string& subject,
                std::string& error)
{
    subject = "the password in TVK_PASSWORD";
    if (environment.too_long) {
        error = subject + kTooLong;
        return false;
    }
    if (environment.not_text) {
        error = subject + " is not valid Unicode text (it has an unpaired surrogate)";
        return false;
    }
    std::memcpy(password.Data(), environment.value.CString(), environment.value.Size());
    password.SetSize(environment.value.Size());
    return true;
}

static bool
Ask(Terminal& terminal, const char* prompt, bool encrypting, SecretBuffer& password,
    std::string& error)
{
    std::size_t length = 0;
    bool too_long = false;
    bool no_input = false;
    SysError failure = terminal.ReadSecretLine(prompt, password.Data(), password.Capacity(),
                                               length, too_long, no_input);
    password.SetSize(length);
    if (failure) {
        error = "cannot read the password from the terminal: " + ErrorText(failure);
        return false;
    }
    // Ctrl-D gives up; an empty password takes a deliberate Enter
    if (no_input) {
        error = "no password entered";
        return false;
    }
    if (too_long) {
        error = std::string("the password entered") + kTooLong;
        return false;
    }
    return Acceptable(password, "entered", encrypting, error);
}

// A mismatch of the two entries asks again, up to kTries times: a typo
// in the second entry should not end the run.
static const int kTries = 3;

static bool
FromTerminal(bool encrypting, bool confirm, const std::string& prompt, SecretBuffer& password,
             std::string& error)
{
    Terminal terminal;
    if (terminal.Open() != 0) {
        error = "no password: there is no terminal to ask on; "
                "use --password-file FILE or set TVK_PASSWORD";
        return false;
    }
    // "Password for 'x': " is repeated as "Repeat password for 'x': "
    std::string repeat = "Repeat " + prompt;
    repeat[7] = static_cast<char>(repeat[7] >= 'A' && repeat[7] <= 'Z' ? repeat[7] - 'A' + 'a' : repeat[7]);
    for (int attempt = 1;; ++attempt) {
        if (!Ask(terminal, prompt.c_str(), encrypting, password, error)) return false;
        if (!confirm) return true;
        SecretBuffer again(password.Capacity());
        if (!Ask(terminal, repeat.c_str(), encrypting, again, error)) return false;
        if (again.Equals(password)) return true;
        password.Clear();
        if (attempt == kTries) {
            error = "the passwords do not match";
            return false;
        }
        WriteToStandardError("tvkcrypt: the passwords do not match; try again\n");
    }
}

bool
ObtainPassword(const std::string& password_file, bool encrypting, bool confirm,
               const EnvironmentPassword& environment, const PasswordEncoding& encoding,
               SecretBuffer& password, std::string& error, const std::string& prompt)
{
    password.Clear();
    std::string subject = "the password entered";
    bool ok;
    if (!password_file.empty()) {
        ok = FromFile(password_file, encrypting, password, subject, error);
    } else if (environment.present || environment.too_long || environment.not_text) {
        ok = FromEnvironment(environment, password, subject, error);
    } else {
        ok = FromTerminal(encrypting, confirm, prompt, password, error);
    }
    if (ok && !encoding.IsDefault()) {
        SecretBuffer converted(password.Capacity());
        std::size_t length = 0;
        ok = encoding.Convert(password.CString(), password.Size(), converted.Data(), converted.Capacity(),
                              length, subject, error);
        converted.SetSize(length);
        password.Clear();
        if (ok) {
            std::memcpy(password.Data(), converted.CString(), length);
            password.SetSize(length);
        }
    }
    if (!ok) password.Clear();
    return ok;
}

std::string
PromptFor(const std::string& label)
{
    return label.empty() ? std::string("Password: ") : "Password for " + label + ": ";
}

}  // namespace tvkcrypt
