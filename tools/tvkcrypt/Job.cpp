/*****************************************************************
| Job.cpp - the parts of a tvkcrypt job: input, check file read, key,
| workers.
****************************************************************/
#include "Job.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "CheckFileIo.h"
#include "Hardening.h"
#include "NptDataBuffer.h"
#include "NptResults.h"
#include "NptWipe.h"
#include "Options.h"
#include "Password.h"
#include "QuotedName.h"
#include "SystemInfo.h"
#include "TreeDirectory.h"
#include "TvkTransform.h"
#include "TvkCryptoHelper.h"

namespace tvkcrypt {

static Progress*   g_StatusLine = nullptr;
static std::mutex* g_StatusLock = nullptr;

void
SetJobStatusLine(Progress* line, std::mutex* lock)
{
    g_StatusLine = line;
    g_StatusLock = lock;
}

void
WriteMessage(const std::string& text)
{
    if (g_StatusLine == nullptr) {
        WriteToStandardError(text);
        return;
    }
    std::lock_guard<std::mutex> lock(*g_StatusLock);
    g_StatusLine->Interject(text);
}

int
Failure(const std::string& message)
{
    WriteMessage("tvkcrypt: " + message + "\n");
    if (FileReport* report = CurrentReport()) {
        if (report->result == FileReport::OK) report->result = FileReport::FAILED;
        report->message = message;
    }
    return kExitFailure;
}

int
Damaged(const std::string& input_label, const std::string& where)
{
    if (FileReport* report = CurrentReport()) report->result = FileReport::DAMAGED;
    return Failure(input_label + " is damaged or was changed" + (where.empty() ? "" : ": " + where));
}

/*----------------------------------------------------------------------
|   the input
+---------------------------------------------------------------------*/
int
OpenInput(const std::string& path, JobInput& input)
{
    if (path == "-") {
        input.file = FileHandle::StandardInput();
        input.label = "standard input";
    } else {
        input.label = QuotedName(path);
        SysError error = OpenForReading(path.c_str(), input.file);
        if (error) return Failure("cannot open " + input.label + ": " + ErrorText(error));
    }
    if (SysError error = StatHandle(input.file, input.info)) {
        return Failure("cannot read " + input.label + ": " + ErrorText(error));
    }
    input.regular = input.info.kind == FileInfo::REGULAR;
    if (input.regular) AdviseSequentialReading(input.file);
    return 0;
}

int
OpenInputIn(const TreeDirectory& directory, const std::string& name, JobInput& input)
{
    input.label = QuotedName(directory.PathOf(name));
    SysError error = directory.OpenFile(name, input.file, input.info);
    if (error == kNotRegular) return Failure(input.label + " is not a regular file (links are not followed)");
    if (error) return Failure("cannot open " + input.label + ": " + ErrorText(error));
    input.regular = true;
    input.fresh = true;
    // a file of a buffer or less is read in one call: no read-ahead to plan
    if (input.info.size > kBlockSize) AdviseSequentialReading(input.file);
    return 0;
}

void
MeasureInput(JobInput& input)
{
    // a regular file that reports no size may still have content (files
    // in /proc or /sys, some FUSE file systems): read it as a stream, to
    // its end, instead of trusting the size
    input.seekable = input.regular && input.info.size > 0;
    input.start = 0;
    if (input.seekable && !input.fresh && GetPosition(input.file, input.start) != 0) input.start = 0;
    input.size = input.seekable && input.info.size > input.start ? input.info.size - input.start : 0;
}

int
RefusePasswordFileOnInput(const Options& options, const JobInput& input)
{
    const std::string& path = options.password_file;
    if (options.input != "-" || path.empty() || path == "-") return 0;
    FileInfo info;
    // a password file that cannot be looked at fails when it is read
    if (StatPath(path.c_str(), info) != 0 || !info.SameFileAs(input.info)) return 0;
    WriteToStandardError("tvkcrypt: --password-file " + QuotedName(path) +
                         " is standard input, which already carries the data; give the data as a file\n"
                         "Try 'tvkcrypt --help' for more information.\n");
    return kExitUsage;
}

/*----------------------------------------------------------------------
|   the check file read
+---------------------------------------------------------------------*/
int
LoadCheckInput(const std::string& path, bool required, TVK_CheckFileReader& reader, bool& found,
               const TreeDirectory* directory, const std::string& name)
{
    bool absent = false;
    std::string error;
    found = LoadCheckFile(path, reader, absent, error, directory, name);
    if (found || (absent && !required)) return 0;
    return Failure(absent ? "cannot open the check file " + QuotedName(path) + ": " + ErrorText(ENOENT)
                          : error);
}

int
CheckPasswordStatus(NPT_Result result, const std::string& check_path)
{
    if (NPT_SUCCEEDED(result)) return kExitSuccess;
    if (result == TVK_ERROR_WRONG_PASSWORD) {
        FileReport* report = CurrentReport();
        const int status = Failure(report != nullptr ? "wrong password for " + QuotedName(report->path)
                                                     : std::string("wrong password"));
        if (report != nullptr) report->result = FileReport::WRONG_PASSWORD;
        return status;
    }
    if (result == TVK_ERROR_CHECK_FILE_DAMAGED) {
        return Failure("the check file " + QuotedName(check_path) + " is damaged or was changed");
    }
    return Failure(std::string("the check file ") + QuotedName(check_path) + ": " + NPT_ResultDescription(result));
}

/*----------------------------------------------------------------------
|   Key
+---------------------------------------------------------------------*/
Key::Key() : m_Bytes(static_cast<NPT_UInt8*>(AllocateSecretMemory(TVK_CryptoHelper::KEY_SIZE)))
{
    if (m_Bytes == nullptr) throw std::bad_alloc();
}

Key::~Key()
{
    FreeSecretMemory(m_Bytes, TVK_CryptoHelper::KEY_SIZE);
}

bool
DeriveKey(const SecretBuffer& password, Key& key, std::string& error)
{
    NPT_DataBuffer digest;
    NPT_Result result = TVK_CryptoHelper::GenerateKey(password.CString(), digest);
    if (NPT_SUCCEEDED(result) && digest.GetDataSize() < TVK_CryptoHelper::KEY_SIZE) {
        result = NPT_ERROR_INTERNAL;
    }
    if (NPT_SUCCEEDED(result)) {
        std::memcpy(key.Bytes(), digest.GetData(), TVK_CryptoHelper::KEY_SIZE);
    }
    NPT_WipeMemory(digest.UseData(), digest.GetBufferSize());
    if (NPT_FAILED(result)) {
        error = std::string("cannot derive the key: ") + NPT_ResultText(result);
        return false;
    }
    return true;
}

/*----------------------------------------------------------------------
|   the run
+---------------------------------------------------------------------*/
Progress::Shown
ShownFor(const Options& options, bool bar_wanted)
{
    Progress::Shown shown;
    shown.bar = options.quiet == 0 && bar_wanted;
    shown.notices = options.quiet == 0;
    shown.warnings = options.quiet < 2;
    return shown;
}

bool
BarWanted(bool total_known, NPT_UInt64 length)
{
    const bool large = !total_known || length >= kLargeJob;
    FileHandle standard_error(2, false);
    return large && IsTerminal(standard_error);
}

bool
NoticesOnTerminal(const Options& options)
{
    FileHandle standard_error(2, false);
    return !options.quiet && IsTerminal(standard_error);
}

unsigned
WorkersFor(bool total_known, NPT_UInt64 length)
{
    return ProcessorCount() >= 2 && (!total_known || length >= 2 * kBlockSize) ? 2 : 1;
}

}  // namespace tvkcrypt
