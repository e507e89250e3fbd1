/*****************************************************************
| CommandCrypt.cpp - tvkcrypt encrypt and decrypt: a file or a pipe
| through the key stream, into a file, a device or standard output.
|
| The run: open the input and check the output (refusing an existing
| file without --force before any password is asked); find the check
| file; plan the range; create the output (a temporary file beside the
| target); obtain the password and derive the key; transform; and only
| then replace the target. Every failure leaves the target as it was.
|
| Check files: encrypting to a file writes FILE.tvkcheck too, committed
| together with FILE; decrypting looks for INPUT.tvkcheck and, when it
| is there, refuses a wrong password before anything is transformed
| and verifies every block it reads before the block is transformed.
****************************************************************/
#include "Commands.h"

#include <cerrno>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CheckFileIo.h"
#include "Job.h"
#include "JobKeys.h"
#include "JobOutput.h"
#include "NptResults.h"
#include "NptWipe.h"
#include "Options.h"
#include "Password.h"
#include "Progress.h"
#include "QuotedName.h"
#include "TvkCryptoHelper.h"
#include "TvkTransform.h"

namespace tvkcrypt {
namespace {

const NPT_UInt64 kKeyStreamPeriod = NPT_UInt64(1) << 32;

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

// The blocks to read for the cleartext range offset .. offset + length
// (length_bounded: or to the end): from the block boundary at or before
// offset to the one after the end, clipped to the data.
void
AlignToCheckBlocks(const TVK_CheckFileReader& reader, NPT_UInt64 offset, bool length_bounded, NPT_UInt64 length,
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

/*----------------------------------------------------------------------
|   CryptRun: one encrypt or decrypt, step by step. Each step returns 0
|   to go on, or the exit status once it has printed its message.
+---------------------------------------------------------------------*/
class CryptRun
{
public:
    CryptRun(const Options& options, const EnvironmentPassword& environment_password, FileContext* context)
        : m_Options(options), m_EnvironmentPassword(environment_password),
          m_Encrypt(options.command == Options::ENCRYPT), m_Context(context) {}
    ~CryptRun();

    int Run();

private:
    int  OpenInput();
    int  FindCheckFile();
    int  LocateCheckFiles();
    void NoteMissingCheck() const;
    int  PlanRange();
    void PlanVerifiedRange();
    int  CreateOutputs();
    bool ConfirmPassword() const;
    int  ObtainKey();
    int  SkipToOffset();
    int  Transform();
    int  TransformFailure() const;
    int  DamagedBlocks();

    const Options&             m_Options;
    const EnvironmentPassword& m_EnvironmentPassword;
    const bool                 m_Encrypt;
    FileContext*               m_Context;
    std::unique_ptr<JobKeys>   m_OwnKeys;    // a run of its own: the password is asked here
    JobKeys*                   m_Keys = nullptr;
    std::vector<NPT_UInt64>    m_Damaged;    // check blocks that failed
    JobInput                   m_Input;
    CheckOutput                m_CheckOutput;
    TVK_CheckFileReader        m_CheckReader;
    bool                       m_Verifying = false;
    std::string                m_CheckPath;
    TransformJob               m_Job;
    NPT_UInt64                 m_RangeEnd = 0;      // where a redirected standard input is left
    NPT_UInt64                 m_SkipTo = 0;        // where a pipe is read from
    NPT_UInt64                 m_ExpectedRead = 0;  // verified: the bytes the blocks span
    JobOutput                  m_Output;
    std::unique_ptr<Key>       m_OwnKey;     // a run without a worker's key memory
    Key*                       m_Key = nullptr;
    TVK_CheckFileWriter        m_CheckWriter;
    TransformOutcome           m_Outcome;
    bool                       m_Salvaged = false;
};

// The worker's key memory serves its next file: wiped now (the
// transform has wiped it already unless the run ended before).
CryptRun::~CryptRun()
{
    if (m_Key != nullptr && m_Key != m_OwnKey.get()) NPT_WipeMemory(m_Key->Bytes(), TVK_CryptoHelper::KEY_SIZE);
}

int
CryptRun::Run()
{
    if (int status = OpenInput()) return status;
    const TreeDirectory* out_directory = m_Context != nullptr ? m_Context->output_directory : nullptr;
    if (int status = LocateOutput(m_Options, m_Input, m_Encrypt, m_Output, out_directory,
                                  out_directory != nullptr ? m_Context->output_name : std::string())) {
        return status;
    }
    if (int status = FindCheckFile()) return status;
    if (int status = PlanRange()) return status;
    if (int status = CreateOutputs()) return status;
    if (int status = ObtainKey()) return status;
    if (int status = OpenStreamOutput(m_Output)) return status;
    m_Job.output = m_Output.Writer();
    m_Job.output_positioned = m_Output.Positioned();
    m_Job.output_discarded_on_failure = m_Output.kind == JobOutput::TO_TEMP_FILE;
    if (int status = SkipToOffset()) return status;
    if (int status = Transform()) return status;
    if (int status = CommitOutput(m_Output, m_CheckOutput, m_Outcome.bytes_done)) return status;
    // leave a redirected standard input positioned after what was used
    if (m_Input.seekable && m_Options.input == "-") SetPosition(m_Input.file, m_RangeEnd);
    if (FileReport* report = CurrentReport()) report->bytes = m_Outcome.bytes_read;
    return m_Salvaged ? kExitSalvaged : kExitSuccess;
}

int
CryptRun::OpenInput()
{
    const int status = m_Context != nullptr && m_Context->input_directory != nullptr
                           ? OpenInputIn(*m_Context->input_directory, m_Context->input_name, m_Input)
                           : tvkcrypt::OpenInput(m_Options.input, m_Input);
    if (status) return status;
    if (m_Input.info.kind == FileInfo::DIRECTORY) {
        return Failure("cannot read " + m_Input.label + ": " + ErrorText(EISDIR));
    }
    if (int status = RefusePasswordFileOnInput(m_Options, m_Input)) return status;
    MeasureInput(m_Input);
    return 0;
}

// The check file: located when written (encrypting), read when there is
// one (decrypting).
int
CryptRun::FindCheckFile()
{
    if (!m_Options.no_check_file) {
        if (!m_Options.check_file.empty()) {
            m_CheckPath = m_Options.check_file;
        } else if (m_Encrypt && m_Output.kind == JobOutput::TO_TEMP_FILE) {
            // (written in place, the file's directory may not even be
            // writable: a check file is written only when named). Named
            // after the file as the system creates it ("x." makes "x" on
            // Windows), so that a later decrypt of that name finds it.
            m_CheckPath = CheckFileNameFor(CreatedName(m_Options.output));
        } else if (!m_Encrypt && m_Options.input != "-") {
            m_CheckPath = CheckFileNameFor(CreatedName(m_Options.input));
        }
    }
    if (int status = LocateCheckFiles()) return status;
    if (m_Options.salvage && !m_Verifying) {
        return Failure("--salvage needs the check file of " + m_Input.label + " to tell damaged blocks");
    }
    NoteMissingCheck();
    // decrypted without a check file, a wrong password pours binary
    // garbage: onto a terminal only when asked for with -o -
    if (!m_Encrypt && !m_Verifying && m_Output.kind == JobOutput::TO_STDOUT && !m_Options.output_given &&
        IsTerminal(m_Output.standard_output)) {
        return Failure("refusing to write to the terminal: without a check file the password cannot be "
                       "checked, and a wrong one gives binary garbage; use -o - to show it anyway, or -o FILE");
    }
    return 0;
}

// Locates the check file written, or reads the one there is, and the
// stale FILE.tvkcheck that this job would leave describing FILE's old
// content.
int
CryptRun::LocateCheckFiles()
{
    const TreeDirectory* in_directory = m_Context != nullptr ? m_Context->input_directory : nullptr;
    const TreeDirectory* out_directory = m_Context != nullptr ? m_Context->output_directory : nullptr;
    const std::string in_check = in_directory != nullptr ? CheckFileNameFor(m_Context->input_name) : "";
    const std::string out_check = out_directory != nullptr ? CheckFileNameFor(m_Context->output_name) : "";
    if (m_Encrypt && !m_CheckPath.empty()) {
        if (int status = LocateCheckOutput(m_CheckPath, m_Options.force, m_CheckOutput, out_directory, out_check)) {
            return status;
        }
        if (int status = RefuseCheckCollision(m_CheckOutput, m_Input, &m_Output)) return status;
    } else if (!m_CheckPath.empty()) {
        const bool required = !m_Options.check_file.empty();
        if (int status = LoadCheckInput(m_CheckPath, required, m_CheckReader, m_Verifying, in_directory, in_check)) {
            return status;
        }
    }
    if (m_Options.output == "-") return 0;
    return LocateStaleCheck(m_Output, CheckFileNameFor(m_Options.output), m_CheckOutput, m_Input, out_directory,
                            out_check);
}

// The notes about check files that a person at a terminal should see.
void
CryptRun::NoteMissingCheck() const
{
    if (!NoticesOnTerminal(m_Options) || m_Context != nullptr) return;
    if (!m_Encrypt && !m_Verifying) {
        WriteToStandardError("tvkcrypt: note: " + m_Input.label +
                             " has no check file: the password cannot be checked\n");
    } else if (m_Encrypt && !m_CheckOutput.wanted && !m_Options.no_check_file &&
               m_Output.kind != JobOutput::IN_PLACE) {
        WriteToStandardError("tvkcrypt: note: no check file is written for " + m_Output.label +
                             ": a wrong password will not be detected when it is decrypted; "
                             "--check-file FILE writes one\n");
    }
}

// The range to transform: all of the input, or --offset and --length.
int
CryptRun::PlanRange()
{
    m_Job.input = &m_Input.file;
    m_Job.input_seekable = m_Input.seekable;
    m_Job.stream_offset = m_Options.offset;
    if (m_Input.seekable) {
        // a file of another size than its check file says is reported
        // as damaged once the password is known to be right
        const bool size_differs = m_Verifying && m_Input.size != m_CheckReader.ExpectedSize();
        if (m_Options.offset > m_Input.size && !size_differs) {
            return Failure("offset " + std::to_string(m_Options.offset) + " is past the end of " +
                           m_Input.label + " (" + std::to_string(m_Input.size) + " bytes)");
        }
        m_Job.input_position = m_Input.start + m_Options.offset;
        m_Job.bounded = true;
        m_Job.length = m_Options.offset < m_Input.size ? m_Input.size - m_Options.offset : 0;
        if (m_Options.has_length && m_Options.length < m_Job.length) m_Job.length = m_Options.length;
    } else {
        m_Job.bounded = m_Options.has_length;
        m_Job.length = m_Options.length;
    }
    m_RangeEnd = m_Job.input_position + m_Job.length;
    m_SkipTo = m_Options.offset;
    if (m_Verifying) PlanVerifiedRange();
    return 0;
}

// Verified: whole check blocks around the range are read, the range is
// written.
void
CryptRun::PlanVerifiedRange()
{
    NPT_UInt64 aligned_start = 0, aligned_end = 0;
    AlignToCheckBlocks(m_CheckReader, m_Options.offset, m_Job.bounded, m_Job.length, aligned_start, aligned_end);
    m_Job.output_skip = m_Options.offset - aligned_start;
    m_Job.output_bounded = m_Job.bounded;
    m_Job.output_length = m_Job.length;
    m_Job.stream_offset = aligned_start;
    m_Job.input_position = m_Input.start + aligned_start;
    // a pipe read to its end shows an extension as a block too many
    m_Job.bounded = m_Input.seekable || m_Options.has_length;
    m_Job.length = aligned_end - aligned_start;
    m_Job.verify = &m_CheckReader;
    m_SkipTo = aligned_start;
    m_ExpectedRead = m_Job.length;
}

// The temporary output and check file, created before the password is
// asked, so that a missing or unwritable directory shows at once (the
// signal handlers remove them if the prompt is interrupted).
int
CryptRun::CreateOutputs()
{
    if (int status = CreateOutput(m_Output)) return status;
    if (m_CheckOutput.wanted) return CreateCheckOutput(m_CheckOutput);
    return 0;
}

// Whether the prompt asks twice. Encrypting: always, a typo would lock
// the data away. Decrypting over an existing file: a wrong password
// would replace it with garbage, so ask twice unless a check file has
// already confirmed the password.
bool
CryptRun::ConfirmPassword() const
{
    if (m_Encrypt) return true;
    return m_Output.replacing && !m_Verifying;
}

// The password, checked against the check file read, and the key; the
// check file written starts from the password too.
int
CryptRun::ObtainKey()
{
    m_Keys = m_Context != nullptr ? m_Context->keys : nullptr;
    if (m_Keys == nullptr) {
        m_OwnKeys.reset(new JobKeys);
        m_Keys = m_OwnKeys.get();
        const std::string& named = m_Encrypt ? m_Options.output : m_Options.input;
        if (int status = m_Keys->Obtain(m_Options, m_EnvironmentPassword, m_Encrypt, ConfirmPassword(),
                                        PromptFor(named == "-" ? std::string() : QuotedName(named)))) {
            return status;
        }
    }
    if (m_Context != nullptr && m_Context->key != nullptr) {
        m_Key = m_Context->key;
    } else {
        m_OwnKey.reset(new Key);
        m_Key = m_OwnKey.get();
    }
    m_Keys->CopyKey(*m_Key);
    if (m_Verifying) {
        if (int status = m_Keys->Verify(m_CheckReader, m_CheckPath)) return status;
        // checked after the password, which also tells whether the
        // size in the check file itself was changed
        if (m_Input.seekable && m_Input.size != m_CheckReader.ExpectedSize()) {
            return Damaged(m_Input.label, "it is " + std::to_string(m_Input.size) + " bytes long, its check file says " +
                                              std::to_string(m_CheckReader.ExpectedSize()));
        }
    }
    if (m_CheckOutput.wanted) {
        if (int status = m_Keys->StartWriter(m_CheckWriter, m_Input.seekable ? m_Input.size : 0)) return status;
    }
    m_Job.key = m_Key->Bytes();
    if (m_CheckOutput.wanted) m_Job.tag = &m_CheckWriter;
    return 0;
}

// A pipe is read and dropped up to the offset.
int
CryptRun::SkipToOffset()
{
    if (m_Input.seekable || m_Options.offset == 0) return 0;
    NPT_UInt64 skipped = 0;
    SysError error = 0;
    if (SkipInput(m_Input.file, m_SkipTo, skipped, error)) return 0;
    if (error) return Failure("cannot read " + m_Input.label + ": " + ErrorText(error));
    if (m_Verifying) return Damaged(m_Input.label);
    return Failure("offset " + std::to_string(m_Options.offset) + " is past the end of " +
                   m_Input.label + " (" + std::to_string(skipped) + " bytes)");
}

int
CryptRun::Transform()
{
    const bool total_known = m_Input.seekable;
    const bool own_bar = m_Context == nullptr || m_Context->progress == nullptr;
    Progress progress(m_Encrypt ? "encrypting" : "decrypting",
                      ShownFor(m_Options, own_bar && BarWanted(total_known, m_Job.length)), total_known, m_Job.length,
                      m_Encrypt && !total_known);
    if (m_Encrypt && total_known && m_Job.length > kKeyStreamPeriod) progress.Warning(kWrapWarning);
    m_Job.progress = own_bar ? &progress : m_Context->progress;
    m_Job.workers = WorkersFor(total_known, m_Job.length);
    // into a temporary (discarded unless it all verifies) or salvaged:
    // every damaged block is found, not only the first
    if (m_Verifying && (m_Options.salvage || m_Output.kind == JobOutput::TO_TEMP_FILE)) {
        m_Job.damaged_blocks = &m_Damaged;
    }

    m_Outcome = RunTransform(m_Job);
    progress.Finish();
    m_Job.progress = nullptr;
    if (m_Outcome.failure != TransformOutcome::NONE) return TransformFailure();
    // a pipe that ended early, or at a block boundary, passes every tag
    // it delivered: its length tells
    if (m_Verifying && m_Outcome.bytes_read != m_ExpectedRead) return Damaged(m_Input.label);
    if (!m_Damaged.empty()) {
        if (int status = DamagedBlocks()) return status;
    }
    if (m_CheckOutput.wanted) {
        std::string error;
        if (!StoreCheckFile(m_CheckWriter, m_Outcome.bytes_read, m_CheckOutput.temp, m_CheckOutput.label,
                            error)) {
            return Failure(error);
        }
    }
    return 0;
}

// Blocks that failed their tags: the output is refused, or (salvage)
// kept with zeros in their place; either way the ranges are named.
int
CryptRun::DamagedBlocks()
{
    std::vector<std::pair<NPT_UInt64, NPT_UInt64>> ranges;
    const std::string where =
        DamagedRanges(m_Damaged, m_CheckReader.BlockSize(), m_CheckReader.ExpectedSize(), ranges);
    FileReport* report = CurrentReport();
    if (report != nullptr) report->damaged = ranges;
    if (!m_Options.salvage) return Damaged(m_Input.label, where);
    m_Salvaged = true;
    if (report != nullptr) {
        report->result = FileReport::SALVAGED;
        report->message = "damaged: " + where;
    }
    WriteToStandardError("tvkcrypt: " + m_Input.label + " is damaged: " + where + "; " + m_Output.label +
                         " has zeros in their place, the rest is verified\n");
    return 0;
}

int
CryptRun::TransformFailure() const
{
    switch (m_Outcome.failure) {
        case TransformOutcome::READ:
            return Failure("cannot read " + m_Input.label + ": " + ErrorText(m_Outcome.error));
        case TransformOutcome::WRITE:
            if (m_Output.kind == JobOutput::TO_STDOUT) {
                // the reader went away (a pager quit early): end quietly,
                // with the status of a death by SIGPIPE, as cat does
                if (m_Outcome.error == EPIPE) return kExitBrokenPipe;
                return Failure("cannot write to standard output: " + ErrorText(m_Outcome.error));
            }
            if (m_Output.kind == JobOutput::IN_PLACE) return Failure(InPlaceFailure(m_Output.label, m_Outcome.error));
            return Failure("cannot write " + m_Output.label + ": " + ErrorText(m_Outcome.error));
        case TransformOutcome::INPUT_SHRANK:
            return Failure(m_Input.label + " became shorter while it was being read");
        case TransformOutcome::CIPHER:
            if (m_Verifying && m_Outcome.result == NPT_ERROR_NOT_SUPPORTED) {
                // blocks larger than a buffer are read twice, which a pipe cannot be
                return Failure("the check file's blocks are too large to verify " + m_Input.label +
                               " on its way to a stream; decrypt it to a file with -o");
            }
            return Failure(std::string("cipher failure: ") + NPT_ResultText(m_Outcome.result));
        case TransformOutcome::DATA_CHANGED:
        default: {
            std::vector<std::pair<NPT_UInt64, NPT_UInt64>> ranges;
            const NPT_UInt64 block = m_CheckReader.BlockSize();
            const std::string where = DamagedRanges({m_Outcome.damaged_offset / block}, block,
                                                    m_CheckReader.ExpectedSize(), ranges);
            if (FileReport* report = CurrentReport()) report->damaged = ranges;
            return Damaged(m_Input.label, where + (m_Output.kind == JobOutput::TO_TEMP_FILE ? "" : "; the output stops there"));
        }
    }
}

}  // namespace

int
RunCrypt(const Options& options, const EnvironmentPassword& environment_password)
{
    if (options.recursive) return RunTree(options, environment_password);
    CryptRun run(options, environment_password, nullptr);
    return run.Run();
}

int
RunCryptFile(const Options& options, const EnvironmentPassword& environment_password, FileContext& context)
{
    CryptRun run(options, environment_password, &context);
    return run.Run();
}

}  // namespace tvkcrypt
