/*****************************************************************
| SignalState.h - what the Windows services tell the console control
| handler (Signals.cpp): the temporaries to remove and the console to
| give its echo back, and the lock that keeps the handler out of a step
| that must not be cut in two.
|
| Internal to this folder. The handler runs on a thread of its own that
| the system starts, so the records are changed under the lock
| (ControlBlock), which is recursive: CommitTogether holds it around two
| commits.
****************************************************************/
#ifndef TVKCRYPT_WIN32_SIGNAL_STATE_H
#define TVKCRYPT_WIN32_SIGNAL_STATE_H

#include <string>

#include <windows.h>

namespace tvkcrypt {

// Holds the control lock while it lives.
class ControlBlock
{
public:
    ControlBlock();
    ~ControlBlock();
    ControlBlock(const ControlBlock&) = delete;
    ControlBlock& operator=(const ControlBlock&) = delete;
};

// Records a temporary for the control handler: its open handle (opened
// with DELETE access) and its full path; the slot, or -1 when none is
// free. Call under the lock.
int RememberTemporary(HANDLE file, const std::wstring& path);
// The temporary of slot (nothing when -1) is being closed: from now on
// the handler removes it by its path. Call under the lock.
void ForgetTemporaryHandle(int slot);
// Drops the record of slot (nothing when -1) and sets it to -1. Call
// under the lock.
void ForgetTemporary(int& slot);

// Records the console input whose echo is off, the mode to restore and
// the output to end the line on (under the lock).
void RememberTerminal(HANDLE input, DWORD saved_mode, HANDLE output);
// Drops that record: the echo is back.
void ForgetTerminal();

}  // namespace tvkcrypt

#endif  // TVKCRYPT_WIN32_SIGNAL_STATE_H
