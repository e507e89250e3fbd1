/*****************************************************************
| NptPosixCpu.cpp - processor features that only the operating system
| can report reliably, on Linux.
|
| On aarch64 the AES instructions are optional and user code cannot read
| the feature registers portably; the kernel reports them in the
| auxiliary vector (AT_HWCAP). On every other architecture the answer is
| no. No state; callable from any thread.
****************************************************************/
#include "NptCpuFeatures.h"

#if defined(__aarch64__) && defined(__linux__)
#include <sys/auxv.h>
#include <asm/hwcap.h>

bool NPT_CpuHasArmAes()
{
    return (getauxval(AT_HWCAP) & HWCAP_AES) != 0;
}

#else

bool NPT_CpuHasArmAes()
{
    return false;
}

#endif
