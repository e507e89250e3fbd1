/*****************************************************************
| Signals.cpp - Windows implementation of Signals.h: the console
| control handler, and the records it acts on (SignalState.h).
****************************************************************/
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include "Signals.h"

#include <string>

#include <windows.h>

#include "SignalState.h"
#include "TvkEntryAlign.h"

namespace tvkcrypt {

/*----------------------------------------------------------------------
|   state shared with the console control handler
|
|   The handler runs on a thread of its own that the system starts. It
|   takes the control lock, which every step that changes the
|   temporaries' state holds too (creation, commit, discard): so it
|   either waits for a commit to finish or finds a consistent record,
|   removes what is listed, gives the console its echo back and ends the
|   process. The lock is recursive (CommitTogether holds it around two
|   commits).
+---------------------------------------------------------------------*/
namespace {
struct ControlLock {
    CRITICAL_SECTION section;
    ControlLock() { InitializeCriticalSection(&section); }
    ~ControlLock() { DeleteCriticalSection(&section); }
};
ControlLock g_Control;

// two slots per worker: an encrypted output and its check file
const int kTempSlots = 2 * kMaxWorkerThreads;
struct TempRecord {
    bool         set = false;
    HANDLE       file = INVALID_HANDLE_VALUE;  // while it is open
    std::wstring path;
};
TempRecord g_Temp[kTempSlots];

// the target has changed: an event now must not end the process with
// the status that says it is as it was
bool g_TargetChanged = false;
// a job of many files: a finished file does not make Ctrl-C a no-op
bool g_Watched = false;

HANDLE g_ConsoleInput = INVALID_HANDLE_VALUE;  // while echo is off
DWORD  g_SavedConsoleMode = 0;
HANDLE g_ConsoleOutput = INVALID_HANDLE_VALUE;
}  // namespace

// Exit statuses as a POSIX shell reports a death by SIGINT or SIGHUP.
static const UINT kExitInterrupted = 128 + 2;
static const UINT kExitHungUp = 128 + 1;

// The console control handler, called by the system on a thread of its
// own, whose stack a 32-bit system aligns to 4 bytes only. Not static:
// the tests call it the same way where no console can deliver the
// events (Wine without a terminal).
extern "C" TVK_ALIGN_ENTRY BOOL WINAPI
TvkcryptOnConsoleControl(DWORD event)
{
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            break;
        default:
            return FALSE;
    }
    // the lock is never released: the process ends holding it, so that
    // no commit can start behind the cleanup
    EnterCriticalSection(&g_Control.section);
    if (g_TargetChanged) {
        // the job is done: Ctrl-C and Ctrl-Break end nothing now (the
        // system ends the process itself after a close, logoff or
        // shutdown)
        LeaveCriticalSection(&g_Control.section);
        return TRUE;
    }
    for (TempRecord& record : g_Temp) {
        if (!record.set) continue;
        bool gone = false;
        if (record.file != INVALID_HANDLE_VALUE) {
            // open with DELETE access: marked for deletion, it goes when
            // the process ends a moment later
            FILE_DISPOSITION_INFO disposition;
            disposition.DeleteFile = TRUE;
            gone = SetFileInformationByHandle(record.file, FileDispositionInfo, &disposition,
                                              sizeof(disposition)) != 0;
        }
        if (!gone) DeleteFileW(record.path.c_str());
    }
    if (g_ConsoleInput != INVALID_HANDLE_VALUE) {
        SetConsoleMode(g_ConsoleInput, g_SavedConsoleMode);
        if (g_ConsoleOutput != INVALID_HANDLE_VALUE) {
            DWORD n;
            WriteConsoleW(g_ConsoleOutput, L"\n", 1, &n, nullptr);
        }
    }
    // ends at once, as a signal would: no exit handlers, no flushing of
    // half-written output
    TerminateProcess(GetCurrentProcess(), event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT
                                              ? kExitInterrupted
                                              : kExitHungUp);
    return TRUE;
}

void
InstallSignalHandlers()
{
    // Ctrl-C stays ignored for a process started without it (the
    // equivalent of nohup): the system then never calls the handler for
    // it. Ctrl-Break and closing the console always arrive.
    SetConsoleCtrlHandler(TvkcryptOnConsoleControl, TRUE);
}

void
HoldTerminatingSignals()
{
    EnterCriticalSection(&g_Control.section);
}

bool
EndSignalHold(bool target_changed)
{
    if (target_changed && !g_Watched) g_TargetChanged = true;
    LeaveCriticalSection(&g_Control.section);
    return false;
}

void
WatchTerminatingSignals()
{
    g_Watched = true;
}

int
WaitForTerminatingSignal(unsigned milliseconds)
{
    Sleep(milliseconds);  // the control handler ends the process itself
    return 0;
}

void
EndBySignal(int)
{
    EnterCriticalSection(&g_Control.section);
    TerminateProcess(GetCurrentProcess(), kExitInterrupted);
    ExitProcess(kExitInterrupted);
}

void
SetStatusLineShown(bool)
{
}

ControlBlock::ControlBlock()
{
    EnterCriticalSection(&g_Control.section);
}

ControlBlock::~ControlBlock()
{
    LeaveCriticalSection(&g_Control.section);
}

int
RememberTemporary(HANDLE file, const std::wstring& path)
{
    for (int slot = 0; slot < kTempSlots; ++slot) {
        if (g_Temp[slot].set) continue;
        g_Temp[slot].file = file;
        g_Temp[slot].path = path;
        g_Temp[slot].set = true;
        return slot;
    }
    return -1;
}

void
ForgetTemporary(int& slot)
{
    if (slot >= 0) {
        g_Temp[slot].set = false;
        g_Temp[slot].file = INVALID_HANDLE_VALUE;
    }
    slot = -1;
}

void
ForgetTemporaryHandle(int slot)
{
    if (slot >= 0) g_Temp[slot].file = INVALID_HANDLE_VALUE;
}

void
RememberTerminal(HANDLE input, DWORD saved_mode, HANDLE output)
{
    ControlBlock block;
    g_SavedConsoleMode = saved_mode;
    g_ConsoleOutput = output;
    g_ConsoleInput = input;
}

void
ForgetTerminal()
{
    ControlBlock block;
    g_ConsoleInput = INVALID_HANDLE_VALUE;
    g_ConsoleOutput = INVALID_HANDLE_VALUE;
}

}  // namespace tvkcrypt
