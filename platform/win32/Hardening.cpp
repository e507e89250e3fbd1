/*****************************************************************
| Hardening.cpp - Windows implementation of Hardening.h.
****************************************************************/
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include "Hardening.h"

#include <cstdint>
#include <cstring>

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include "NptWipe.h"
#include "Win32Support.h"

namespace tvkcrypt {

void
GuardStandardDescriptors()
{
    // the wrong way round: reading standard output or writing standard
    // input fails visibly instead of doing nothing
    const DWORD access[3] = {GENERIC_WRITE, GENERIC_READ, GENERIC_READ};
    const DWORD which[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int fd = 0; fd < 3; ++fd) {
        if (OsHandle(fd) == INVALID_HANDLE_VALUE) {
            HANDLE nul = CreateFileW(L"NUL", access[fd], FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
            if (nul != INVALID_HANDLE_VALUE) {
                int opened = _open_osfhandle(reinterpret_cast<intptr_t>(nul), _O_BINARY);
                if (opened < 0) {
                    CloseHandle(nul);
                } else if (opened != fd) {
                    _dup2(opened, fd);
                    _close(opened);
                }
                HANDLE now = OsHandle(fd);
                if (now != INVALID_HANDLE_VALUE) SetStdHandle(which[fd], now);
            }
        }
        // no translation of line ends or Ctrl-Z by the runtime, ever
        _setmode(fd, _O_BINARY);
    }
}

/*----------------------------------------------------------------------
|   secrets
|
|   What Windows offers falls short of POSIX here: a process of the same
|   user with debug access can always read this one's memory, and there
|   is no switch that makes a process undumpable. What is done: no error
|   dialogs (a crash ends the process instead of waiting with its memory
|   for a debugger), no heap in Windows Error Reporting's dumps, and the
|   secret pages excluded from those dumps and locked in memory where the
|   system has the calls and allows them.
+---------------------------------------------------------------------*/
typedef HRESULT(WINAPI* WerSetFlagsCall)(DWORD);
typedef HRESULT(WINAPI* WerMemoryBlockCall)(PVOID, DWORD);
typedef HRESULT(WINAPI* WerUnregisterMemoryBlockCall)(PVOID);

// A function of kernel32 that older systems (and Wine) may lack.
template <typename Call>
static Call
Kernel32Call(const char* name)
{
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return nullptr;
    FARPROC address = GetProcAddress(kernel, name);
    Call call;
    static_assert(sizeof(call) == sizeof(address), "function pointer sizes");
    std::memcpy(&call, &address, sizeof(call));
    return call;
}

void
DisableCoreDumps()
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    // WER_FAULT_REPORTING_FLAG_NOHEAP: reports carry no heap
    if (WerSetFlagsCall set_flags = Kernel32Call<WerSetFlagsCall>("WerSetFlags")) set_flags(1);
}

static std::size_t
PageRounded(std::size_t size)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    std::size_t unit = system.dwPageSize ? system.dwPageSize : 4096;
    return (size + unit - 1) / unit * unit;
}

void*
AllocateSecretMemory(std::size_t size)
{
    std::size_t length = PageRounded(size == 0 ? 1 : size);
    // committed pages come zero-filled
    void* memory = VirtualAlloc(nullptr, length, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (memory == nullptr) return nullptr;
    // best effort, both: the working-set quota limits what may be locked
    VirtualLock(memory, length);
    if (WerMemoryBlockCall exclude = Kernel32Call<WerMemoryBlockCall>("WerRegisterExcludedMemoryBlock")) {
        exclude(memory, static_cast<DWORD>(length));
    }
    return memory;
}

void
LockSecretRange(const void* address, std::size_t size)
{
    // best effort: the working-set quota limits what may be locked
    if (address != nullptr && size > 0) VirtualLock(const_cast<void*>(address), size);
}

void
FreeSecretMemory(void* memory, std::size_t size)
{
    if (memory == nullptr) return;
    std::size_t length = PageRounded(size == 0 ? 1 : size);
    NPT_WipeMemory(memory, length);
    if (WerUnregisterMemoryBlockCall include =
            Kernel32Call<WerUnregisterMemoryBlockCall>("WerUnregisterExcludedMemoryBlock")) {
        include(memory);
    }
    VirtualUnlock(memory, length);
    VirtualFree(memory, 0, MEM_RELEASE);
}

}  // namespace tvkcrypt
