/*****************************************************************
| TvkCFiles.cpp - the C interface's file form: a whole file into
| another through the block pipeline (TvkTransform.h), with its check
| file written or verified, committed as the tool commits.
****************************************************************/
#include <cerrno>

#include "NptWipe.h"
#include "SysError.h"
#include "TvkCKey.h"
#include "TvkCOutputPair.h"
#include "TvkCSupport.h"
#include "TvkCheckFileIo.h"

using namespace tvkcrypt;

namespace {

// Opens an input: a regular file is read at offsets, anything else but
// a directory to its end.
NPT_Result
OpenInput(const char* path, FileHandle& file, FileInfo& info, bool& seekable)
{
    NPT_CHECK(ResultOfError(OpenForReading(path, file)));
    NPT_CHECK(ResultOfError(StatHandle(file, info)));
    if (info.kind == FileInfo::DIRECTORY) return ResultOfError(EISDIR);
    seekable = info.kind == FileInfo::REGULAR;
    return NPT_SUCCESS;
}

// The key of the password, held for the pipeline, which wipes it once
// its ciphers hold it; wiped here too on every other way out.
class PipelineKey
{
public:
    PipelineKey() = default;
    ~PipelineKey() { NPT_WipeMemory(m_Bytes, sizeof(m_Bytes)); }
    PipelineKey(const PipelineKey&) = delete;
    PipelineKey& operator=(const PipelineKey&) = delete;
    NPT_Result Derive(const void* password, size_t size) { return tvk_key::Derive(password, size, m_Bytes); }
    NPT_UInt8* Bytes() { return m_Bytes; }

private:
    NPT_UInt8 m_Bytes[TVK_KEY_SIZE] = {};
};

// The pipeline's job over all of the input into the output's temporary
// data file, which is discarded if the job fails.
TransformJob
FileFormJob(const FileHandle& in, bool seekable, const FileInfo& info, PipelineKey& key, const OutputPair& out)
{
    TransformJob job = WholeFileJob(in, seekable, info.size);
    job.key = key.Bytes();
    job.output = &out.Data();
    job.output_positioned = true;
    job.output_discarded_on_failure = true;
    return job;
}

NPT_Result
EncryptFile(const char* input, const char* output, const void* password, size_t password_size, unsigned flags,
            const char* check_path)
{
    FileHandle in;
    FileInfo info;
    bool seekable = false;
    NPT_CHECK(OpenInput(input, in, info, seekable));
    const bool checked = (flags & TVK_NO_CHECK_FILE) == 0;
    const std::string check = CheckPathFor(output, check_path);
    OutputPair out;
    NPT_CHECK(out.Open(output, checked ? check.c_str() : nullptr, (flags & TVK_OVERWRITE) != 0, &info, true));
    PipelineKey key;
    NPT_CHECK(key.Derive(password, password_size));
    TVK_CheckFileWriter writer;
    SysError error = 0;
    if (checked) {
        NPT_CHECK(StartCheckWriter(writer, static_cast<const NPT_UInt8*>(password),
                                   static_cast<NPT_Size>(password_size), seekable ? info.size : 0, 0, error));
    }
    TransformJob job = FileFormJob(in, seekable, info, key, out);
    job.tag = checked ? &writer : nullptr;
    TransformOutcome outcome = RunTransform(job);
    NPT_CHECK(ResultOfRun(outcome, nullptr, info.size, nullptr));
    if (checked) NPT_CHECK(StoreCheckFile(writer, outcome.bytes_read, out.Check(), error));
    return out.Commit();
}

NPT_Result
DecryptFile(const char* input, const char* output, const void* password, size_t password_size, unsigned flags,
            int verify, const char* check_path, tvk_range* damaged)
{
    TVK_CheckFileReader reader;
    bool found = false;
    NPT_CHECK(LoadVerifiedCheck(input, check_path, verify, password, password_size, reader, found));
    FileHandle in;
    FileInfo info;
    bool seekable = false;
    NPT_CHECK(OpenInput(input, in, info, seekable));
    // another size than the check file's: the first damaged block, and
    // no output
    if (found && seekable && info.size != reader.ExpectedSize()) return VerifyFile(in, info.size, reader, damaged);
    OutputPair out;
    NPT_CHECK(out.Open(output, nullptr, (flags & TVK_OVERWRITE) != 0, &info, true));
    PipelineKey key;
    NPT_CHECK(key.Derive(password, password_size));
    TransformJob job = FileFormJob(in, seekable, info, key, out);
    job.verify = found ? &reader : nullptr;
    TransformOutcome outcome = RunTransform(job);
    NPT_CHECK(ResultOfRun(outcome, found ? &reader : nullptr, seekable ? info.size : outcome.bytes_read, damaged));
    if (found && outcome.bytes_read != reader.ExpectedSize()) {
        // a pipe that ended early, or at a block boundary
        const NPT_UInt64 block_size = reader.BlockSize();
        SetBlockRange(damaged, reader, outcome.bytes_read / block_size * block_size, outcome.bytes_read);
        return TVK_ERROR_DATA_DAMAGED;
    }
    return out.Commit();
}

}  // namespace

/*----------------------------------------------------------------------
|   the C interface
+---------------------------------------------------------------------*/
TVK_ALIGN_ENTRY tvk_result
tvk_encrypt_file(const char* input, const char* output, const void* password, size_t password_size,
                 unsigned flags, const char* check_path)
{
    if (input == nullptr || output == nullptr || (flags & ~(TVK_OVERWRITE | TVK_NO_CHECK_FILE)) != 0) {
        return NPT_ERROR_INVALID_PARAMETERS;
    }
    NPT_CHECK(CheckPassword(password, password_size));
    return Guarded([&] { return EncryptFile(input, output, password, password_size, flags, check_path); });
}

TVK_ALIGN_ENTRY tvk_result
tvk_decrypt_file(const char* input, const char* output, const void* password, size_t password_size,
                 unsigned flags, int verify, const char* check_path, tvk_range* damaged)
{
    SetRange(damaged, 0, 0);
    if (input == nullptr || output == nullptr || (flags & ~TVK_OVERWRITE) != 0) return NPT_ERROR_INVALID_PARAMETERS;
    NPT_CHECK(CheckPassword(password, password_size));
    return Guarded([&] {
        return DecryptFile(input, output, password, password_size, flags, verify, check_path, damaged);
    });
}
