/*****************************************************************
| TvkManagedTestNative.cpp - a test-only native library for the managed
| tests: the buffer form of password encryption, so that the tests can
| make ciphertext the way native callers do, without going through the
| managed entry point under test.
****************************************************************/
#include <cstring>

#include "NptBlockCipher.h"
#include "NptDataBuffer.h"
#include "NptResults.h"
#include "TvkCryptoHelper.h"

extern "C" __attribute__((visibility("default"))) NPT_Result
tvk_managed_test_buffer_form(const char*     password,
                             NPT_Int32       direction,
                             const NPT_Byte* input,
                             NPT_UInt32      input_size,
                             NPT_Byte*       output,
                             NPT_UInt32      output_capacity,
                             NPT_UInt32*     output_size)
{
    *output_size = 0;
    NPT_DataBuffer result;
    NPT_Result status = TVK_CryptoHelper::EncryptDecryptWithPassword(
        password,
        direction == 0 ? NPT_BlockCipher::ENCRYPT : NPT_BlockCipher::DECRYPT,
        input, input_size, result);
    if (result.GetDataSize() > output_capacity) return NPT_ERROR_OUT_OF_RANGE;
    if (result.GetDataSize() > 0) {
        std::memcpy(output, result.GetData(), result.GetDataSize());
    }
    *output_size = result.GetDataSize();
    return status;
}
