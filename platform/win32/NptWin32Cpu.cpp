/*****************************************************************
| NptWin32Cpu.cpp - processor features that only the operating system
| can report reliably, on Windows.
|
| The AES instructions of 64-bit ARM are optional; Windows reports them
| through IsProcessorFeaturePresent. On every other architecture the
| answer is no (x86 engines ask CPUID themselves). No state; callable
| from any thread.
****************************************************************/
#include "NptCpuFeatures.h"

#if defined(_M_ARM64) || defined(__aarch64__)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

bool NPT_CpuHasArmAes()
{
    return IsProcessorFeaturePresent(PF_ARM_V8_CRYPTO_INSTRUCTIONS_AVAILABLE) != 0;
}

#else

bool NPT_CpuHasArmAes()
{
    return false;
}

#endif
