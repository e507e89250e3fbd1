/*****************************************************************
| NptCpuFeatures.h - processor features that only the operating system
| can report reliably.
|
| Private to the library (not installed). The AES engines ask here
| before they offer a hardware path whose instructions the processor
| may lack. The x86 engines read CPUID themselves, which user code may
| do on every x86 system; the feature registers of 64-bit ARM are out of
| reach of user code, so there the system is asked. One implementation
| per platform folder: posix/NptPosixCpu.cpp, win32/NptWin32Cpu.cpp.
| No state; any thread may ask at any time.
****************************************************************/
#ifndef NPT_CPU_FEATURES_H
#define NPT_CPU_FEATURES_H

// Whether the processor reports the ARMv8 AES instructions (false on
// every other architecture).
bool NPT_CpuHasArmAes();

#endif // NPT_CPU_FEATURES_H
