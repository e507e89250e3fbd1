/*****************************************************************
| TvkCWriter.cpp - tvk_writer, an encrypted file written in order and
| committed with its check file.
|
| Cleartext collects in a buffer of one check block (512 KiB); a full
| block is encrypted in place, tagged and written at its offset of the
| temporary output, so the tags need no more than the block at hand and
| the last, shorter block is tagged at the commit. The buffer is wiped
| when the writer is freed. One thread at a time.
****************************************************************/
#include <cstring>
#include <memory>
#include <vector>

#include "NptWipe.h"
#include "SysError.h"
#include "TvkCKey.h"
#include "TvkCOutputPair.h"
#include "TvkCSupport.h"
#include "TvkCheckFileIo.h"

using namespace tvkcrypt;

struct tvk_writer {
    OutputPair             output;
    tvk_key*               key = nullptr;
    bool                   checked = false;
    TVK_CheckFileWriter    check;
    std::vector<NPT_UInt8> block;       // cleartext not written yet
    std::size_t            pending = 0;
    NPT_UInt64             written = 0;  // bytes in the output
    bool                   usable = false;

    tvk_writer() = default;
    ~tvk_writer()
    {
        NPT_WipeMemory(block.data(), block.size());
        tvk_key::Destroy(key);
    }
    tvk_writer(const tvk_writer&) = delete;
    tvk_writer& operator=(const tvk_writer&) = delete;

    NPT_Result Open(const char* path, const void* password, size_t password_size, unsigned flags,
                    const char* check_path);
    NPT_Result Write(const NPT_UInt8* data, size_t size);
    NPT_Result Commit();

private:
    NPT_Result Flush();
};

NPT_Result
tvk_writer::Open(const char* path, const void* password, size_t password_size, unsigned flags,
                 const char* check_path)
{
    checked = (flags & TVK_NO_CHECK_FILE) == 0;
    const std::string check_name = CheckPathFor(path, check_path);
    NPT_CHECK(output.Open(path, checked ? check_name.c_str() : nullptr, (flags & TVK_OVERWRITE) != 0, nullptr,
                          true));
    NPT_CHECK(tvk_key::FromPassword(password, password_size, key));
    if (checked) {
        SysError error = 0;
        NPT_CHECK(StartCheckWriter(check, static_cast<const NPT_UInt8*>(password),
                                   static_cast<NPT_Size>(password_size), 0, 0, error));
    }
    block.resize(checked ? check.BlockSize() : TVK_CheckFile::DEFAULT_BLOCK_SIZE);
    usable = true;
    return NPT_SUCCESS;
}

// Encrypts, tags and writes the block collected.
NPT_Result
tvk_writer::Flush()
{
    if (pending == 0) return NPT_SUCCESS;
    NPT_CHECK(key->Transform(block.data(), pending, written));
    if (checked) {
        NPT_CHECK(check.AddBlock(written / block.size(), block.data(), static_cast<NPT_Size>(pending)));
    }
    NPT_CHECK(ResultOfError(WriteAt(output.Data(), block.data(), pending, written)));
    written += pending;
    pending = 0;
    return NPT_SUCCESS;
}

NPT_Result
tvk_writer::Write(const NPT_UInt8* data, size_t size)
{
    if (!usable) return NPT_ERROR_INVALID_STATE;
    usable = false;  // until this write has succeeded
    while (size > 0) {
        const size_t room = block.size() - pending;
        const size_t count = size < room ? size : room;
        std::memcpy(block.data() + pending, data, count);
        pending += count;
        data += count;
        size -= count;
        if (pending == block.size()) NPT_CHECK(Flush());
    }
    usable = true;
    return NPT_SUCCESS;
}

NPT_Result
tvk_writer::Commit()
{
    if (!usable) return NPT_ERROR_INVALID_STATE;
    usable = false;
    NPT_CHECK(Flush());
    if (checked) {
        SysError error = 0;
        NPT_CHECK(StoreCheckFile(check, written, output.Check(), error));
    }
    return output.Commit();
}

/*----------------------------------------------------------------------
|   the C interface
+---------------------------------------------------------------------*/
TVK_ALIGN_ENTRY tvk_result
tvk_writer_open(const char* path, const void* password, size_t password_size, unsigned flags,
                const char* check_path, tvk_writer** writer)
{
    if (writer == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    *writer = nullptr;
    if (path == nullptr || (flags & ~(TVK_OVERWRITE | TVK_NO_CHECK_FILE)) != 0) return NPT_ERROR_INVALID_PARAMETERS;
    NPT_CHECK(CheckPassword(password, password_size));
    return NewHandle(writer, [&](tvk_writer& opened) {
        return opened.Open(path, password, password_size, flags, check_path);
    });
}

TVK_ALIGN_ENTRY tvk_result
tvk_writer_write(tvk_writer* writer, const void* data, size_t size)
{
    if (writer == nullptr || (data == nullptr && size != 0)) return NPT_ERROR_INVALID_PARAMETERS;
    return Guarded([&] { return writer->Write(static_cast<const NPT_UInt8*>(data), size); });
}

TVK_ALIGN_ENTRY tvk_result
tvk_writer_commit(tvk_writer* writer)
{
    if (writer == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    return Guarded([&] { return writer->Commit(); });
}

TVK_ALIGN_ENTRY void
tvk_writer_destroy(tvk_writer* writer)
{
    delete writer;
}
