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
// temporaries at once
static const int          kTempSlots = 2;
static char               g_TempName[kTempSlots][256];
static std::atomic<int>   g_TempDirectory[kTempSlots] = {{-1}, {-1}};
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

static sigset_t g_HoldPrevious;

static void
TerminatingSignals(sigset_t& set)
{
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGQUIT);
}

void
HoldTerminatingSignals()
{
    sigset_t set;
    TerminatingSignals(set);
    pthread_sigmask(SIG_BLOCK, &set, &g_HoldPrevious);
}

bool
EndSignalHold(bool target_changed)
{
    if (!target_changed) {
        // a pending signal is delivered now, and ends the process
        pthread_sigmask(SIG_SETMASK, &g_HoldPrevious, nullptr);
        return false;
    }
    sigset_t set;
    TerminatingSignals(set);
    const struct timespec now = {0, 0};
    bool came = false;
    while (sigtimedwait(&set, nullptr, &now) > 0) came = true;
    return came;
}

int
RememberTemporary(int directory, const std::string& name)
{
    for (int slot = 0; slot < kTempSlots; ++slot) {
        if (g_TempNameSet[slot].load() || name.size() >= sizeof(g_TempName[slot])) continue;
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
    if (slot >= 0) g_TempNameSet[slot].store(false);
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
