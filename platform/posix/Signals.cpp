/*****************************************************************
| Signals.cpp - POSIX implementation of Signals.h: the handlers of the
| terminating signals, and the records they act on (SignalState.h).
****************************************************************/
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1
#endif

#include "Signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "SignalState.h"

namespace tvkcrypt {

/*----------------------------------------------------------------------
|   state shared with the signal handlers
|
|   The handlers may only touch async-signal-safe things: the directory
|   descriptor and fixed buffer with the name of a named temporary and
|   a flag telling whether they are valid, and the terminal descriptor
|   with its saved settings.
+---------------------------------------------------------------------*/
// two slots: an encrypted output and its check file may both be named
// temporaries at once. A slot is taken (by one thread: the library's
// writers may run on several) before its name is written, and set
// (for the handlers) after.
static const int          kTempSlots = 2;
static char               g_TempName[kTempSlots][256];
static std::atomic<int>   g_TempDirectory[kTempSlots] = {{-1}, {-1}};
static std::atomic<bool>  g_TempSlotTaken[kTempSlots] = {{false}, {false}};
static std::atomic<bool>  g_TempNameSet[kTempSlots] = {{false}, {false}};
static struct termios     g_SavedTerminal;
static std::atomic<int>   g_TerminalFd{-1};

extern "C" void
TvkcryptOnTerminatingSignal(int signal_number)
{
    int saved_errno = errno;
    for (int slot = 0; slot < kTempSlots; ++slot) {
        if (g_TempNameSet[slot].load()) unlinkat(g_TempDirectory[slot].load(), g_TempName[slot], 0);
    }
    int tty = g_TerminalFd.load();
    if (tty >= 0) {
        tcsetattr(tty, TCSANOW, &g_SavedTerminal);
        ssize_t ignored = write(tty, "\n", 1);
        (void)ignored;
    }
    errno = saved_errno;
    // die of the same signal, so that the parent sees why
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

void
InstallSignalHandlers()
{
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = TvkcryptOnTerminatingSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaddset(&action.sa_mask, SIGHUP);
    sigaddset(&action.sa_mask, SIGQUIT);
    const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    for (int s : signals) {
        struct sigaction previous;
        // a signal ignored by whoever started us (nohup) stays ignored
        if (sigaction(s, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        sigaction(s, &action, nullptr);
    }
}

int
RememberTemporary(int directory, const std::string& name)
{
    if (name.size() >= sizeof(g_TempName[0])) return -1;
    for (int slot = 0; slot < kTempSlots; ++slot) {
        if (g_TempSlotTaken[slot].exchange(true)) continue;
        std::memcpy(g_TempName[slot], name.c_str(), name.size() + 1);
        g_TempDirectory[slot].store(directory);
        g_TempNameSet[slot].store(true);
        return slot;
    }
    return -1;
}

void
ForgetTemporary(int& slot)
{
    if (slot >= 0) {
        g_TempNameSet[slot].store(false);
        g_TempSlotTaken[slot].store(false);
    }
    slot = -1;
}

void
RememberTerminal(int fd, const struct termios& saved)
{
    SignalBlock block;
    g_SavedTerminal = saved;
    g_TerminalFd.store(fd);
}

void
ForgetTerminal()
{
    SignalBlock block;
    g_TerminalFd.store(-1);
}

}  // namespace tvkcrypt
