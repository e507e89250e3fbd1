/*****************************************************************
| Resume.cpp - outputs of an earlier run that are complete and verify.
****************************************************************/
#include "Resume.h"

#include <vector>

#include "CheckFileIo.h"
#include "Job.h"
#include "JobKeys.h"
#include "NptDataBuffer.h"
#include "TreeDirectory.h"
#include "TvkTransform.h"

namespace tvkcrypt {

namespace {

// The check file name in directory: parsed into reader, its bytes in bytes.
bool
ReadCheck(const TreeDirectory& directory, const std::string& name, TVK_CheckFileReader& reader,
          std::vector<NPT_UInt8>* bytes)
{
    FileHandle file;
    FileInfo info;
    SysError error = 0;
    if (directory.OpenFile(name, file, info) != 0 || info.size > TVK_CheckFile::MAX_FILE_SIZE) return false;
    if (NPT_FAILED(ReadCheckFile(file, info, reader, error))) return false;
    if (bytes == nullptr) return true;
    bytes->resize(static_cast<std::size_t>(info.size));
    std::size_t got = 0;
    return ReadAt(file, bytes->data(), bytes->size(), 0, got) == 0 && got == bytes->size();
}

// Runs job over all of file (size bytes): true when it went through.
bool
ReadThrough(TransformJob& job, const FileHandle& file, NPT_UInt64 size)
{
    job.input = &file;
    job.input_seekable = true;
    job.bounded = true;
    job.length = size;
    job.workers = WorkersFor(true, size);
    const TransformOutcome outcome = RunTransform(job);
    return outcome.failure == TransformOutcome::NONE && outcome.bytes_read == size;
}

bool
EncryptedDone(const FileContext& context, const FileInfo& input, const FileHandle& output, const FileInfo& info,
              JobKeys& keys)
{
    TVK_CheckFileReader reader;
    if (!ReadCheck(*context.output_directory, CheckFileNameFor(context.output_name), reader, nullptr)) return false;
    if (reader.ExpectedSize() != input.size || info.size != input.size) return false;
    if (NPT_FAILED(keys.VerifyQuietly(reader))) return false;
    std::vector<NPT_UInt64> damaged;
    TransformJob job;
    job.verify = &reader;
    job.damaged_blocks = &damaged;
    return ReadThrough(job, output, info.size) && damaged.empty();
}

bool
DecryptedDone(const FileContext& context, const FileInfo& input, const FileHandle& output, const FileInfo& info,
              JobKeys& keys)
{
    TVK_CheckFileReader reader;
    std::vector<NPT_UInt8> expected;
    if (!ReadCheck(*context.input_directory, CheckFileNameFor(context.input_name), reader, &expected)) return false;
    if (reader.ExpectedSize() != input.size || info.size != input.size) return false;
    std::shared_ptr<const TVK_CheckFileKeys> check_keys;
    if (NPT_FAILED(keys.KeysOf(reader, check_keys)) || NPT_FAILED(reader.VerifyPassword(*check_keys))) return false;
    // the cleartext encrypted again, tagged as the input's check file was
    TVK_CheckFileWriter writer;
    Key key;
    keys.CopyKey(key);
    if (NPT_FAILED(writer.Start(*check_keys, reader.BlockSize()))) return false;
    TransformJob job;
    job.key = key.Bytes();
    job.tag = &writer;
    NPT_DataBuffer made;
    return ReadThrough(job, output, info.size) && NPT_SUCCEEDED(writer.Serialize(info.size, made)) &&
           made.GetDataSize() == expected.size() &&
           std::equal(expected.begin(), expected.end(), made.GetData());
}

}  // namespace

bool
Resumable(bool encrypting, const FileContext& context, JobKeys& keys)
{
    FileHandle input, output;
    FileInfo input_info, output_info;
    if (context.input_directory->OpenFile(context.input_name, input, input_info) != 0) return false;
    if (context.output_directory->OpenFile(context.output_name, output, output_info) != 0) return false;
    return encrypting ? EncryptedDone(context, input_info, output, output_info, keys)
                      : DecryptedDone(context, input_info, output, output_info, keys);
}

}  // namespace tvkcrypt
