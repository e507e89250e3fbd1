/*****************************************************************
| TvkManagedNative.cpp - the native half of TVKCryptoWrapper.Helper.
****************************************************************/
#include "TvkManagedNative.h"

#include <cstddef>
#include <memory>
#include <new>

#include "NptBlockCipher.h"
#include "NptDataBuffer.h"
#include "NptMemoryStream.h"
#include "NptReferences.h"
#include "NptStreams.h"
#include "NptStringOutputStream.h"
#include "NptStrings.h"
#include "NptWipe.h"
#include "TvkCryptoHelper.h"
#include "TvkEntryAlign.h"

namespace {

// initial capacity of the string that collects the result
const NPT_Size TVK_MANAGED_RESULT_CAPACITY = 4096;

} // namespace

/*----------------------------------------------------------------------
|   TVK_ManagedRun
|
|   Everything one managed call creates on the native side. The members
|   are released in the reverse order of their creation.
+---------------------------------------------------------------------*/
struct TVK_ManagedRun
{
    TVK_ManagedRun(const NPT_Byte* data, NPT_UInt32 size)
        : input_buffer(data, size, false) {}
    ~TVK_ManagedRun() { Release(); }

    TVK_ManagedRun(const TVK_ManagedRun&) = delete;
    TVK_ManagedRun& operator=(const TVK_ManagedRun&) = delete;

    void Release()
    {
        if (text) {
            // the copy holds the result (cleartext when decrypting)
            if (text->UseChars()) NPT_WipeMemory(text->UseChars(), std::size_t(text->GetCapacity()) + 1);
            delete text;
            text = nullptr;
        }
        output.Release();
        input.Release();
        input_buffer.Clear(); // borrowed: frees nothing of the caller's
    }

    NPT_DataBuffer                        input_buffer; // borrows the pinned bytes
    NPT_Reference<NPT_InputStream>        input;
    NPT_Reference<NPT_StringOutputStream> output;
    NPT_String*                           text = nullptr;
};

/*----------------------------------------------------------------------
|   tvk_managed_run
+---------------------------------------------------------------------*/
TVK_ALIGN_ENTRY NPT_Result
tvk_managed_run(const char*      password,
                NPT_Int32        direction,
                const NPT_Byte*  data,
                NPT_UInt32       size,
                TVK_ManagedRun** run)
{
    if (run == nullptr) return NPT_ERROR_INVALID_PARAMETERS;
    *run = nullptr;
    if (password == nullptr || (data == nullptr && size > 0)) {
        return NPT_ERROR_INVALID_PARAMETERS;
    }

    // Managed callers pass the enumeration's value unchecked; 0 encrypts
    // and every other value decrypts. Mapping it here keeps values
    // outside the enumeration out of the native enum type.
    const NPT_BlockCipher::Direction cipher_direction =
        direction == NPT_BlockCipher::ENCRYPT ? NPT_BlockCipher::ENCRYPT
                                              : NPT_BlockCipher::DECRYPT;
    try {
        std::unique_ptr<TVK_ManagedRun> state(new TVK_ManagedRun(data, size));
        state->input  = new NPT_MemoryStream(state->input_buffer);
        state->output = new NPT_StringOutputStream(TVK_MANAGED_RESULT_CAPACITY);

        NPT_Reference<NPT_OutputStream> sink(state->output);
        NPT_Result result = TVK_CryptoHelper::EncryptDecryptWithPassword(
            password, cipher_direction, state->input, sink);
        *run = state.release();
        return result;
    } catch (const std::bad_alloc&) {
        return NPT_ERROR_OUT_OF_MEMORY;
    } catch (...) {
        return NPT_ERROR_INTERNAL;
    }
}

/*----------------------------------------------------------------------
|   tvk_managed_result_text
+---------------------------------------------------------------------*/
TVK_ALIGN_ENTRY const char*
tvk_managed_result_text(TVK_ManagedRun* run)
{
    if (run == nullptr || run->output.IsNull()) return "";
    if (run->text == nullptr) {
        try {
            run->text = new NPT_String(run->output->GetString());
        } catch (...) {
            return nullptr;
        }
    }
    return run->text->GetChars();
}

/*----------------------------------------------------------------------
|   tvk_managed_result_bytes
+---------------------------------------------------------------------*/
TVK_ALIGN_ENTRY const NPT_Byte*
tvk_managed_result_bytes(TVK_ManagedRun* run, NPT_UInt32* length)
{
    if (length) *length = 0;
    if (run == nullptr || run->output.IsNull()) {
        return reinterpret_cast<const NPT_Byte*>("");
    }
    const NPT_String& result = run->output->GetString();
    if (length) *length = result.GetLength();
    return reinterpret_cast<const NPT_Byte*>(result.GetChars());
}

/*----------------------------------------------------------------------
|   tvk_managed_release
+---------------------------------------------------------------------*/
TVK_ALIGN_ENTRY void
tvk_managed_release(TVK_ManagedRun* run)
{
    delete run;
}
