/*****************************************************************
| Main.cpp - tvkcrypt: encrypts and decrypts files and pipes with a
| password, in the header-less format of the tvkcrypto library.
|
| The run: parse the command line; open the input and check the output
| (refusing an existing file without --force before any password is
| asked); create the output (a temporary file beside the target); obtain
| the password and derive the key; transform; and only then replace the
| target. Every failure leaves the target as it was.
|
| Check files: encrypting to a file writes FILE.tvkcheck too, committed
| together with FILE; decrypting looks for INPUT.tvkcheck and, when it
| is there, refuses a wrong password before anything is transformed
| and verifies every block it reads before the block is transformed.
| The check command verifies without writing, or makes a check file.
| Exit status: 0 success, 1 failure, 2 usage error.
****************************************************************/
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "NptDataBuffer.h"
#include "NptResults.h"
#include "NptWipe.h"
#include "TvkCryptoHelper.h"

#include "CheckFile.h"
#include "CheckFileIo.h"
#include "FileHandle.h"
#include "Hardening.h"
#include "Options.h"
#include "OutputPlace.h"
#include "Password.h"
#include "Progress.h"
#include "QuotedName.h"
#include "Signals.h"
#include "SystemInfo.h"
#include "TempOutput.h"
#include "Transform.h"

#ifndef TVKCRYPT_VERSION
#define TVKCRYPT_VERSION "unknown"
#endif

namespace tvkcrypt {
namespace {

const int kExitSuccess = 0;
const int kExitFailure = 1;
const int kExitUsage = 2;

const NPT_UInt64 kLargeJob = NPT_UInt64(64) << 20;
const NPT_UInt64 kKeyStreamPeriod = NPT_UInt64(1) << 32;

int
Failure(const std::string& message)
{
    WriteToStandardError("tvkcrypt: " + message + "\n");
    return kExitFailure;
}

// The 16-byte key, in memory kept out of core dumps and swap, wiped when
// it goes out of scope (and by the transform once its ciphers hold it).
class Key
{
public:
    Key() : m_Bytes(static_cast<NPT_UInt8*>(AllocateSecretMemory(TVK_CryptoHelper::KEY_SIZE))) {
        if (m_Bytes == nullptr) throw std::bad_alloc();
    }
    ~Key() { FreeSecretMemory(m_Bytes, TVK_CryptoHelper::KEY_SIZE); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    NPT_UInt8* Bytes() { return m_Bytes; }

private:
    NPT_UInt8* m_Bytes;
};

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

// Reads and drops count bytes of a pipe. false when it ends before.
bool
SkipInput(const FileHandle& input, NPT_UInt64 count, NPT_UInt64& skipped, SysError& error)
{
    static NPT_UInt8 scratch[1 << 16];
    skipped = 0;
    error = 0;
    while (skipped < count) {
        NPT_UInt64 left = count - skipped;
        std::size_t want = left < sizeof(scratch) ? static_cast<std::size_t>(left) : sizeof(scratch);
        std::size_t got = 0;
        error = ReadSome(input, scratch, want, got);
        if (error || got == 0) break;
        skipped += got;
    }
    NPT_WipeMemory(scratch, sizeof(scratch));
    return skipped == count;
}

// Why the temporary output could not be made. A directory we may not
// write is the common case: say that the temporary needs it, and offer
// --in-place when there is a file to write into.
std::string
TemporaryFailure(const std::string& output_label, bool replacing, SysError error)
{
    if (error != EACCES && error != EPERM && error != EROFS) {
        return "cannot create " + output_label + ": " + ErrorText(error);
    }
    std::string message = "cannot create a temporary file beside " + output_label + ": " +
                          ErrorText(error) +
                          "; the output is written to a temporary file in that directory "
                          "first, so the directory must be writable";
    if (replacing && error != EROFS) {
        message += "; --in-place writes into the existing file directly, but not atomically";
    }
    return message;
}

// --in-place writes into a regular file that exists, and never into the
// input itself: blocks would be overwritten before they are read.
// Returns the exit status of a refusal, 0 when in-place writing may go.
int
InPlaceRefusal(const OutputPlace& place, const FileInfo& input_info, bool regular_input,
               const std::string& output_label)
{
    switch (place.GetKind()) {
        case OutputPlace::FILE:
            break;
        case OutputPlace::MISSING:
            return Failure("--in-place writes into an existing file, and " + output_label +
                           " does not exist");
        case OutputPlace::LINK:
            return Failure("--in-place does not write through the symbolic link " + output_label +
                           " (see --follow-symlinks)");
        default:
            return Failure("--in-place writes into a regular file, and " + output_label +
                           " is not one");
    }
    if (regular_input && input_info.SameFileAs(place.Found())) {
        return Failure("--in-place cannot write into the input file itself, which it is still "
                       "reading; use --force without --in-place");
    }
    return 0;
}

// Whether the prompt asks twice. Encrypting: always, a typo would lock
// the data away. Decrypting over an existing file: a wrong password
// would replace it with garbage, so ask twice unless a check file has
// already confirmed the password.
bool
ConfirmPassword(const Options& options, bool replacing, bool password_confirmed_by_check_file)
{
    if (options.command == Options::ENCRYPT) return true;
    return replacing && !password_confirmed_by_check_file;
}

// What a run shows on standard error: one --quiet hides the progress
// bar (drawn only when bar_wanted: a long job on a terminal) and the
// notices, a second one the warnings too.
Progress::Shown
ShownFor(const Options& options, bool bar_wanted)
{
    Progress::Shown shown;
    shown.bar = options.quiet == 0 && bar_wanted;
    shown.notices = options.quiet == 0;
    shown.warnings = options.quiet < 2;
    return shown;
}

int
Damaged(const std::string& input_label)
{
    return Failure(input_label + " is damaged or was changed");
}

bool
NoticesOnTerminal(const Options& options)
{
    FileHandle standard_error(2, false);
    return !options.quiet && IsTerminal(standard_error);
}

// The check file that goes with the encrypted output, when one is
// written: where it goes, and whether something is replaced there.
struct CheckOutput {
    bool         wanted = false;
    std::string  label;
    OutputPlace  place;
    bool         replacing = false;
    TempOutput   temp;
};

// Locates the check file to write at path; false with a message.
bool
LocateCheckOutput(const std::string& path, bool force, CheckOutput& check, std::string& error)
{
    check.wanted = true;
    check.label = QuotedName(path);
    if (SysError failure = check.place.Locate(path, false)) {
        error = "cannot write " + check.label + ": " + ErrorText(failure);
        return false;
    }
    switch (check.place.GetKind()) {
        case OutputPlace::MISSING:
            return true;
        case OutputPlace::FILE:
        case OutputPlace::LINK:
            if (!force) {
                error = check.label + " already exists; use --force to replace it";
                return false;
            }
            check.replacing = true;
            return true;
        default:
            error = "cannot write " + check.label + ": not a regular file";
            return false;
    }
}

// Verifies the password against a check file.
int
VerifyCheckPassword(CheckFileReader& reader, const SecretBuffer& password, const std::string& check_path)
{
    CheckResult result = reader.VerifyPassword(reinterpret_cast<const NPT_UInt8*>(password.CString()),
                                               static_cast<NPT_Size>(password.Size()));
    if (result == CHECK_OK) return kExitSuccess;
    if (result == CHECK_WRONG_PASSWORD) return Failure("wrong password");
    if (result == CHECK_DAMAGED) {
        return Failure("the check file " + QuotedName(check_path) + " is damaged or was changed");
    }
    return Failure(std::string("the check file ") + QuotedName(check_path) + ": " + CheckResultText(result));
}

// The blocks to read for the cleartext range offset .. offset + length
// (length_bounded: or to the end): from the block boundary at or before
// offset to the one after the end, clipped to the data.
void
AlignToCheckBlocks(const CheckFileReader& reader, NPT_UInt64 offset, bool length_bounded, NPT_UInt64 length,
                   NPT_UInt64& aligned_start, NPT_UInt64& aligned_end)
{
    const NPT_UInt64 block = reader.BlockSize();
    const NPT_UInt64 size = reader.ExpectedSize();
    aligned_start = offset / block * block;
    NPT_UInt64 end = size;
    if (length_bounded && length < size && offset < size - length) end = offset + length;
    if (end < offset) end = offset;
    aligned_end = end % block == 0 ? end : (end / block + 1) * block;
    if (aligned_end > size) aligned_end = size;
    if (aligned_end < aligned_start) aligned_end = aligned_start;
}

// tvkcrypt check [--create] FILE: verifies FILE against its check file
// without writing anything, or makes the check file of an existing
// encrypted FILE (trusting the password given: nothing can confirm it).
int
RunCheck(const Options& options, const EnvironmentPassword& environment_password)
{
    const std::string input_label = QuotedName(options.input);
    const std::string check_path =
        options.check_file.empty() ? CheckFileNameFor(options.input) : options.check_file;
    FileHandle input;
    if (SysError error = OpenForReading(options.input.c_str(), input)) {
        return Failure("cannot open " + input_label + ": " + ErrorText(error));
    }
    FileInfo info;
    if (SysError error = StatHandle(input, info)) {
        return Failure("cannot read " + input_label + ": " + ErrorText(error));
    }
    if (info.kind != FileInfo::REGULAR) return Failure(input_label + " is not a regular file");
    AdviseSequentialReading(input);

    CheckFileReader reader;
    CheckOutput check_output;
    if (options.create_check) {
        std::string error;
        if (!LocateCheckOutput(check_path, options.force, check_output, error)) return Failure(error);
        if (SysError failure = check_output.temp.Create(check_output.place)) {
            return Failure("cannot create " + check_output.label + ": " + ErrorText(failure));
        }
    } else {
        bool absent = false;
        std::string error;
        if (!LoadCheckFile(check_path, reader, absent, error)) {
            return Failure(absent ? "cannot open the check file " + QuotedName(check_path) + ": " + ErrorText(ENOENT)
                                  : error);
        }
    }

    CheckFileWriter writer;
    {
        SecretBuffer password(kMaxPasswordLength);
        std::string error;
        // a new check file records the password: asked twice, as when
        // encrypting
        if (!ObtainPassword(options.password_file, options.create_check, options.create_check,
                            environment_password, options.password_encoding, password, error)) {
            return Failure(error);
        }
        if (options.create_check) {
            if (!options.quiet) {
                WriteToStandardError("tvkcrypt: note: the password cannot be confirmed for an existing "
                                     "file; the check file records the password given\n");
            }
            if (!StartCheckWriter(writer, password, info.size, error)) return Failure(error);
        } else {
            int status = VerifyCheckPassword(reader, password, check_path);
            if (status != kExitSuccess) return status;
            if (info.size != reader.ExpectedSize()) return Damaged(input_label);
        }
    }

    TransformJob job;
    job.input = &input;
    job.input_seekable = info.size > 0;
    job.bounded = info.size > 0;
    job.length = info.size;
    if (options.create_check) {
        job.tag = &writer;
    } else {
        job.verify = &reader;
    }
    FileHandle standard_error(2, false);
    Progress progress(options.create_check ? "reading" : "checking",
                      ShownFor(options, info.size >= kLargeJob && IsTerminal(standard_error)), true,
                      info.size, false);
    job.progress = &progress;
    job.workers = ProcessorCount() >= 2 && info.size >= 2 * kBlockSize ? 2 : 1;
    TransformOutcome outcome = RunTransform(job);
    progress.Finish();
    switch (outcome.failure) {
        case TransformOutcome::NONE:
            break;
        case TransformOutcome::READ:
            return Failure("cannot read " + input_label + ": " + ErrorText(outcome.error));
        case TransformOutcome::INPUT_SHRANK:
            return Failure(input_label + " became shorter while it was being read");
        case TransformOutcome::DATA_CHANGED:
            return Damaged(input_label);
        default:
            return Failure(std::string("check failure: ") + NPT_ResultText(outcome.result));
    }
    if (outcome.bytes_read != info.size) return Damaged(input_label);

    if (options.create_check) {
        std::string error;
        if (!StoreCheckFile(writer, outcome.bytes_read, check_output.temp, check_output.label, error)) {
            return Failure(error);
        }
        if (SysError failure = check_output.temp.Commit(0600, check_output.replacing)) {
            return Failure("cannot write " + check_output.label + ": " + ErrorText(failure));
        }
    } else if (!options.quiet) {
        WriteToStandardError("tvkcrypt: " + input_label + ": password and data are correct\n");
    }
    return kExitSuccess;
}

int
Run(const Options& options, const EnvironmentPassword& environment_password)
{
    if (options.command == Options::CHECK) return RunCheck(options, environment_password);
    const bool encrypt = options.command == Options::ENCRYPT;

    /*------------------------------------------------------------------
    |   input
    +-----------------------------------------------------------------*/
    FileHandle input;
    std::string input_label;
    if (options.input == "-") {
        input = FileHandle::StandardInput();
        input_label = "standard input";
    } else {
        input_label = QuotedName(options.input);
        SysError error = OpenForReading(options.input.c_str(), input);
        if (error) return Failure("cannot open " + input_label + ": " + ErrorText(error));
    }
    FileInfo input_info;
    if (SysError error = StatHandle(input, input_info)) {
        return Failure("cannot read " + input_label + ": " + ErrorText(error));
    }
    if (input_info.kind == FileInfo::DIRECTORY) {
        return Failure("cannot read " + input_label + ": " + ErrorText(EISDIR));
    }
    const bool regular_input = input_info.kind == FileInfo::REGULAR;
    // a regular file that reports no size may still have content (files
    // in /proc or /sys, some FUSE file systems): read it as a stream, to
    // its end, instead of trusting the size
    const bool seekable = regular_input && input_info.size > 0;
    if (regular_input) AdviseSequentialReading(input);
    NPT_UInt64 input_start = 0;
    if (seekable && GetPosition(input, input_start) != 0) input_start = 0;
    const NPT_UInt64 input_size =
        seekable && input_info.size > input_start ? input_info.size - input_start : 0;

    /*------------------------------------------------------------------
    |   output: checked before anything is created
    +-----------------------------------------------------------------*/
    enum { TO_STDOUT, TO_TEMP_FILE, TO_DEVICE, IN_PLACE } output_kind = TO_STDOUT;
    std::string output_label = "standard output";
    OutputPlace place;
    bool replacing = false;  // something is at the output's name
    if (options.output == "-") {
        FileHandle out = FileHandle::StandardOutput();
        FileInfo out_info;
        if (regular_input && StatHandle(out, out_info) == 0 && out_info.kind == FileInfo::REGULAR &&
            out_info.SameFileAs(input_info)) {
            return Failure("standard output is the input file itself; "
                           "use -o FILE --force to replace a file with its transformation");
        }
        if (encrypt && IsTerminal(out)) {
            return Failure("refusing to write encrypted data to a terminal; "
                           "use -o FILE or redirect standard output");
        }
    } else {
        output_label = QuotedName(options.output);
        if (SysError error = place.Locate(options.output, options.follow_symlinks)) {
            if (error == kNotOwned) {
                return Failure("refusing to write through the symbolic link " + output_label + ": " +
                               ErrorText(error));
            }
            return Failure("cannot write " + output_label + ": " + ErrorText(error));
        }
        switch (place.GetKind()) {
            case OutputPlace::DIRECTORY:
                return Failure("cannot write " + output_label + ": " + ErrorText(EISDIR));
            case OutputPlace::FILE:
            case OutputPlace::LINK:
                if (!options.force) {
                    return Failure(output_label + " already exists; use --force to replace it");
                }
                output_kind = options.in_place ? IN_PLACE : TO_TEMP_FILE;
                replacing = true;
                break;
            case OutputPlace::STREAM:
                // a disk or partition holds data just as a file does;
                // FIFOs and character devices (/dev/null) are streams
                if (place.Found().block_device && !options.force) {
                    return Failure(output_label + " is a block device; use --force to write over it");
                }
                output_kind = TO_DEVICE;
                break;
            case OutputPlace::MISSING:
                output_kind = TO_TEMP_FILE;
                break;
        }
    }

    if (options.in_place) {
        if (int refusal = InPlaceRefusal(place, input_info, regular_input, output_label)) {
            return refusal;
        }
    }

    /*------------------------------------------------------------------
    |   check file: located (when written) or read (when decrypting)
    +-----------------------------------------------------------------*/
    CheckOutput check_output;
    CheckFileReader check_reader;
    bool verifying = false;
    std::string check_path;
    if (!options.no_check_file) {
        if (!options.check_file.empty()) {
            check_path = options.check_file;
        } else if (encrypt && output_kind == TO_TEMP_FILE) {
            // (written in place, the file's directory may not even be
            // writable: a check file is written only when named)
            check_path = CheckFileNameFor(options.output);
        } else if (!encrypt && options.input != "-") {
            check_path = CheckFileNameFor(options.input);
        }
    }
    if (encrypt && !check_path.empty()) {
        std::string error;
        if (!LocateCheckOutput(check_path, options.force, check_output, error)) return Failure(error);
    } else if (!check_path.empty()) {
        bool absent = false;
        std::string error;
        if (LoadCheckFile(check_path, check_reader, absent, error)) {
            verifying = true;
        } else if (!absent || !options.check_file.empty()) {
            return Failure(absent ? "cannot open the check file " + QuotedName(check_path) + ": " + ErrorText(ENOENT)
                                  : error);
        }
    }
    if (!encrypt && !verifying && NoticesOnTerminal(options)) {
        WriteToStandardError("tvkcrypt: note: " + input_label +
                             " has no check file: the password cannot be checked\n");
    }

    /*------------------------------------------------------------------
    |   the range to transform
    +-----------------------------------------------------------------*/
    TransformJob job;
    job.input = &input;
    job.input_seekable = seekable;
    job.stream_offset = options.offset;
    if (seekable) {
        // a file of another size than its check file says is reported
        // as damaged once the password is known to be right
        const bool size_differs = verifying && input_size != check_reader.ExpectedSize();
        if (options.offset > input_size && !size_differs) {
            return Failure("offset " + std::to_string(options.offset) + " is past the end of " +
                           input_label + " (" + std::to_string(input_size) + " bytes)");
        }
        job.input_position = input_start + options.offset;
        job.bounded = true;
        job.length = options.offset < input_size ? input_size - options.offset : 0;
        if (options.has_length && options.length < job.length) job.length = options.length;
    } else {
        job.bounded = options.has_length;
        job.length = options.length;
    }
    // where a redirected standard input is left at the end
    const NPT_UInt64 range_end = job.input_position + job.length;
    // verified: read whole check blocks around the range, write the range
    NPT_UInt64 skip_to = options.offset;  // where a pipe is read from
    NPT_UInt64 expected_read = 0;
    if (verifying) {
        NPT_UInt64 aligned_start = 0, aligned_end = 0;
        AlignToCheckBlocks(check_reader, options.offset, job.bounded, job.length, aligned_start, aligned_end);
        job.output_skip = options.offset - aligned_start;
        job.output_bounded = job.bounded;
        job.output_length = job.length;
        job.stream_offset = aligned_start;
        job.input_position = input_start + aligned_start;
        // a pipe read to its end shows an extension as a block too many
        job.bounded = seekable || options.has_length;
        job.length = aligned_end - aligned_start;
        job.verify = &check_reader;
        skip_to = aligned_start;
        expected_read = job.length;
    }

    /*------------------------------------------------------------------
    |   the temporary output: created before the password is asked, so
    |   that a missing or unwritable directory shows at once (the signal
    |   handlers remove it if the prompt is interrupted)
    +-----------------------------------------------------------------*/
    TempOutput temp;
    FileHandle in_place;
    if (output_kind == TO_TEMP_FILE) {
        if (SysError error = temp.Create(place)) {
            return Failure(TemporaryFailure(output_label, replacing, error));
        }
        job.output = &temp.File();
        job.output_positioned = true;
    } else if (output_kind == IN_PLACE) {
        // opened now, before the password is asked, so that a file we may
        // not write shows at once; nothing in it changes yet
        if (SysError error = place.OpenInPlace(in_place)) {
            return Failure("cannot write " + output_label + ": " + ErrorText(error));
        }
        job.output = &in_place;
        job.output_positioned = true;
    }
    if (check_output.wanted) {
        if (SysError error = check_output.temp.Create(check_output.place)) {
            return Failure("cannot create " + check_output.label + ": " + ErrorText(error));
        }
    }

    /*------------------------------------------------------------------
    |   password and key
    +-----------------------------------------------------------------*/
    Key key;
    CheckFileWriter check_writer;
    {
        SecretBuffer password(kMaxPasswordLength);
        std::string error;
        if (!ObtainPassword(options.password_file, encrypt,
                            ConfirmPassword(options, replacing, verifying), environment_password,
                            options.password_encoding, password, error)) {
            return Failure(error);
        }
        if (!DeriveKey(password, key, error)) return Failure(error);
        if (verifying) {
            int status = VerifyCheckPassword(check_reader, password, check_path);
            if (status != kExitSuccess) return status;
            // checked after the password, which also tells whether the
            // size in the check file itself was changed
            if (seekable && input_size != check_reader.ExpectedSize()) return Damaged(input_label);
        }
        if (check_output.wanted &&
            !StartCheckWriter(check_writer, password, seekable ? input_size : 0, error)) {
            return Failure(error);
        }
    }
    job.key = key.Bytes();
    if (check_output.wanted) job.tag = &check_writer;

    /*------------------------------------------------------------------
    |   open any other output
    +-----------------------------------------------------------------*/
    FileHandle device;
    FileHandle standard_output = FileHandle::StandardOutput();
    if (output_kind == TO_DEVICE) {
        if (SysError error = place.OpenStream(device)) {
            return Failure("cannot open " + output_label + ": " + ErrorText(error));
        }
        job.output = &device;
    } else if (output_kind == TO_STDOUT) {
        job.output = &standard_output;
    }

    if (!seekable && options.offset > 0) {
        NPT_UInt64 skipped = 0;
        SysError error = 0;
        if (!SkipInput(input, skip_to, skipped, error)) {
            if (error) return Failure("cannot read " + input_label + ": " + ErrorText(error));
            if (verifying) return Damaged(input_label);
            return Failure("offset " + std::to_string(options.offset) + " is past the end of " +
                           input_label + " (" + std::to_string(skipped) + " bytes)");
        }
    }

    /*------------------------------------------------------------------
    |   transform
    +-----------------------------------------------------------------*/
    const bool total_known = seekable;
    const bool large = !total_known || job.length >= kLargeJob;
    FileHandle standard_error(2, false);
    Progress progress(encrypt ? "encrypting" : "decrypting",
                      ShownFor(options, large && IsTerminal(standard_error)), total_known, job.length,
                      encrypt && !total_known);
    if (encrypt && total_known && job.length > kKeyStreamPeriod) progress.Warning(kWrapWarning);
    job.progress = &progress;
    job.workers = ProcessorCount() >= 2 && (!total_known || job.length >= 2 * kBlockSize) ? 2 : 1;

    TransformOutcome outcome = RunTransform(job);
    progress.Finish();
    switch (outcome.failure) {
        case TransformOutcome::NONE:
            break;
        case TransformOutcome::READ:
            return Failure("cannot read " + input_label + ": " + ErrorText(outcome.error));
        case TransformOutcome::WRITE:
            if (output_kind == TO_STDOUT) {
                return Failure("cannot write to standard output: " + ErrorText(outcome.error));
            }
            return Failure("cannot write " + output_label + ": " + ErrorText(outcome.error));
        case TransformOutcome::INPUT_SHRANK:
            return Failure(input_label + " became shorter while it was being read");
        case TransformOutcome::CIPHER:
            return Failure(std::string("cipher failure: ") + NPT_ResultText(outcome.result));
        case TransformOutcome::DATA_CHANGED:
            return Damaged(input_label);
    }
    // a pipe that ended early, or at a block boundary, passes every tag
    // it delivered: its length tells
    if (verifying && outcome.bytes_read != expected_read) return Damaged(input_label);
    if (check_output.wanted) {
        std::string error;
        if (!StoreCheckFile(check_writer, outcome.bytes_read, check_output.temp, check_output.label, error)) {
            return Failure(error);
        }
    }

    /*------------------------------------------------------------------
    |   finish: only now does the target change
    +-----------------------------------------------------------------*/
    if (output_kind == TO_TEMP_FILE) {
        bool check_failed = false;
        std::string check_leftover;
        SysError check_leftover_error = 0;
        SysError error = check_output.wanted
                             ? CommitTogether(check_output.temp, check_output.place, check_output.replacing, temp,
                                              0600, replacing, check_failed, check_leftover, check_leftover_error)
                             : temp.Commit(0600, replacing);
        if (error && check_leftover_error != 0) {
            // a second failure undoing the first step: the new check file
            // stands beside the old data, which it reports as damaged
            std::string check_directory = check_path.substr(0, check_path.rfind('/') + 1);
            WriteToStandardError("tvkcrypt: warning: " + check_output.label +
                                 " could not be put back as it was: " + ErrorText(check_leftover_error) +
                                 (check_leftover.empty() ? std::string("; remove it yourself\n")
                                                         : "; its old content is in " +
                                                               QuotedName(check_directory + check_leftover) + "\n"));
        }
        if (error) {
            const bool replace = check_failed ? check_output.replacing : replacing;
            const std::string& label = check_failed ? check_output.label : output_label;
            if (error == EEXIST && !replace) {
                // created by someone else while we worked
                return Failure(label + " already exists; use --force to replace it");
            }
            return Failure("cannot write " + label + ": " + ErrorText(error));
        }
        // the target is replaced and complete: a warning, not a failure,
        // since exit 1 would say the target was left as it was
        std::string directory = options.output.substr(0, options.output.rfind('/') + 1);
        if (check_output.wanted && check_leftover.empty() && !check_output.temp.Leftover().empty()) {
            check_leftover = check_output.temp.Leftover();
            check_leftover_error = check_output.temp.LeftoverError();
        }
        if (!check_leftover.empty()) {
            std::string check_directory = check_path.substr(0, check_path.rfind('/') + 1);
            WriteToStandardError("tvkcrypt: warning: " + check_output.label +
                                 " is written, but a temporary name could not be removed: " +
                                 ErrorText(check_leftover_error) + "; remove " +
                                 QuotedName(check_directory + check_leftover) + " yourself\n");
        }
        if (!temp.Leftover().empty()) {
            WriteToStandardError("tvkcrypt: warning: " + output_label +
                                 " is written, but a temporary name could not be removed: " +
                                 ErrorText(temp.LeftoverError()) + "; remove " +
                                 QuotedName(directory + temp.Leftover()) + " yourself\n");
        }
        if (SysError error = temp.DirectorySyncError()) {
            WriteToStandardError("tvkcrypt: warning: " + output_label +
                                 " is written, but syncing its directory failed: " +
                                 ErrorText(error) + "; a crash now could undo the change\n");
        }
    } else if (output_kind == IN_PLACE) {
        SysError error = FinishInPlace(in_place, outcome.bytes_done);
        if (!error) error = in_place.Close();
        if (error) return Failure("cannot write " + output_label + ": " + ErrorText(error));
    } else if (output_kind == TO_DEVICE) {
        if (SysError error = device.Close()) {
            return Failure("cannot write " + output_label + ": " + ErrorText(error));
        }
    }
    if (check_output.wanted && output_kind != TO_TEMP_FILE) {
        // the data is out (written in place, or streamed as it was made):
        // only now its check file; had the data failed, the old check file
        // would have stayed and reported it as damaged
        if (SysError error = check_output.temp.Commit(0600, check_output.replacing)) {
            return Failure("cannot write " + check_output.label + ": " + ErrorText(error));
        }
    }
    // leave a redirected standard input positioned after what was used
    if (seekable && options.input == "-") SetPosition(input, range_end);
    return kExitSuccess;
}

}  // namespace
}  // namespace tvkcrypt

int
main(int argc, char** argv)
{
    using namespace tvkcrypt;
    // secrets first: no core dump may hold them, and the password leaves
    // the environment before anything else runs
    DisableCoreDumps();
    std::unique_ptr<EnvironmentPassword> environment_password;
    try {
        environment_password.reset(new EnvironmentPassword);
    } catch (const std::bad_alloc&) {
        return Failure(ErrorText(ENOMEM));
    }
    TakeEnvironmentPassword(*environment_password);
    GuardStandardDescriptors();
    InstallSignalHandlers();
    Options options;
    std::string error;
    const std::vector<std::string> arguments = CommandLineArguments(argc, argv);
    std::vector<const char*> utf8_argv;
    for (const std::string& argument : arguments) utf8_argv.push_back(argument.c_str());
    utf8_argv.push_back(nullptr);
    if (!ParseCommandLine(static_cast<int>(arguments.size()), utf8_argv.data(), options, error)) {
        WriteToStandardError("tvkcrypt: " + error + "\nTry 'tvkcrypt --help' for more information.\n");
        return kExitUsage;
    }
    if (options.action != Options::RUN) {
        std::string text = options.action == Options::SHOW_HELP
                               ? HelpText()
                               : std::string("tvkcrypt " TVKCRYPT_VERSION "\n");
        FileHandle out = FileHandle::StandardOutput();
        if (SysError failure = WriteAll(out, text.data(), text.size())) {
            return Failure("cannot write to standard output: " + ErrorText(failure));
        }
        return kExitSuccess;
    }
    // out of memory: unwind, so that the temporary output goes and the
    // terminal gets its echo back
    try {
        return Run(options, *environment_password);
    } catch (const std::bad_alloc&) {
        return Failure(ErrorText(ENOMEM));
    }
}
