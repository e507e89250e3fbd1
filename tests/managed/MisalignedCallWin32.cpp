// Calls into the DLL the way a caller that keeps the stack only 4-byte
// aligned does (code from other compilers, the managed runtime's 32-bit
// code). This file is compiled with a 4-byte preferred stack boundary in
// the 32-bit build, so that the alloca below moves the stack pointer in
// steps of 4 bytes and the entry point is reached at every alignment.

#include <malloc.h>

#include "TvkManagedNative.h"

extern "C" NPT_Result
TvkTestRunWithStackShift(decltype(&tvk_managed_run) run, unsigned shift, const char* password,
                         NPT_Int32 direction, const NPT_Byte* data, NPT_UInt32 size,
                         TVK_ManagedRun** result)
{
    volatile char* pad = static_cast<volatile char*>(alloca(shift + 4));
    pad[0] = 0;
    NPT_Result outcome = run(password, direction, data, size, result);
    pad[0] = 1;  // keeps the padding, and the call from being a tail call
    return outcome;
}
