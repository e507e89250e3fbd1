/*****************************************************************
| Signals.cpp - POSIX implementation of Signals.h: the handlers of the
| terminating signals, and the records they act on (SignalState.h).
****************************************************************/
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1
#endif

#include "Signals.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <pthread.h>
#include <time.h>
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
// A job of many files has two per worker.
static const int          kTempSlots = 2 * kMaxWorkerThreads;
static char               g_TempName[kTempSlots][256];
static std::atomic<int>   g_TempDirectory[kTempSlots];
static std::atomic<bool>  g_TempSlotTaken[kTempSlots];
static std::atomic<bool>  g_TempNameSet[kTempSlots];
static std::atomic<bool>  g_StatusLine{false};
// a job of many files: the signals are waited for, commits share a lock
static std::atomic<bool>  g_Watched{false};
static pthread_rwlock_t   g_CommitLock = PTHREAD_RWLOCK_INITIALIZER;
static struct termios     g_SavedTerminal;
static struct termios     g_QuietTerminal;
static char               g_Prompt[128];
static std::size_t        g_PromptLength = 0;
static std::atomic<int>   g_TerminalFd{-1};
static std::atomic<bool>  g_Stopping{false};

// the signals that stop a process from the terminal, and what they did
// before the prompt
static const int          kStopSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};
static struct sigaction   g_StopPrevious[3];
static struct sigaction   g_ContinuePrevious;

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
    if (g_StatusLine.load()) {
        // the progress bar goes with the process
        ssize_t ignored = write(2, "\r\033[K", 4);
        (void)ignored;
    }
    errno = saved_errno;
    // die of the same signal, so that the parent sees why
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

// Echo off again and the prompt once more, after the process went on.
static void
SilenceTerminalAgain(int tty)
{
    tcsetattr(tty, TCSANOW, &g_QuietTerminal);
    ssize_t ignored = write(tty, g_Prompt, g_PromptLength);
    (void)ignored;
}

static void InstallStopHandler(int signal_number);

// Ctrl-Z (or a read or a change of the terminal from the background) at
// the prompt: the terminal gets its settings back before the process
// stops, and the part of the line typed so far is discarded, so that
// it never reaches the shell; once the process goes on, echo goes off
// again and the prompt shows again. Where the stop is not taken (an
// orphaned process group), the process just goes on.
extern "C" void
TvkcryptOnStopSignal(int signal_number)
{
    int saved_errno = errno;
    g_Stopping.store(true);
    int tty = g_TerminalFd.load();
    if (tty >= 0) {
        tcsetattr(tty, TCSAFLUSH, &g_SavedTerminal);
        ssize_t ignored = write(tty, "\n", 1);
        (void)ignored;
    }
    signal(signal_number, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal_number);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    InstallStopHandler(signal_number);
    if (tty >= 0 && g_TerminalFd.load() >= 0) SilenceTerminalAgain(tty);
    g_Stopping.store(false);
    errno = saved_errno;
}

// A continue that no stop handler saw (kill -STOP, then kill -CONT):
// the shell may have given the terminal its echo back meanwhile.
extern "C" void
TvkcryptOnContinue(int)
{
    int saved_errno = errno;
    int tty = g_TerminalFd.load();
    if (tty >= 0 && !g_Stopping.load()) SilenceTerminalAgain(tty);
    errno = saved_errno;
}

static void
InstallStopHandler(int signal_number)
{
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = TvkcryptOnStopSignal;
    // no SA_RESTART: the terminal's read is retried by its wrapper, and a
    // ThreadSanitizer build runs the handler only once the read returns
    action.sa_flags = 0;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
}

// While echo is off: the stop and continue handlers above, except for a
// stop signal that whoever started us ignores.
static void
WatchStops()
{
    for (int i = 0; i < 3; ++i) {
        sigaction(kStopSignals[i], nullptr, &g_StopPrevious[i]);
        if (g_StopPrevious[i].sa_handler != SIG_IGN) InstallStopHandler(kStopSignals[i]);
    }
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = TvkcryptOnContinue;
    action.sa_flags = 0;
    sigemptyset(&action.sa_mask);
    sigaction(SIGCONT, &action, &g_ContinuePrevious);
}

static void
StopWatchingStops()
{
    for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &g_StopPrevious[i], nullptr);
    sigaction(SIGCONT, &g_ContinuePrevious, nullptr);
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
    if (g_Watched) {
        pthread_rwlock_rdlock(&g_CommitLock);
        return;
    }
    sigset_t set;
    TerminatingSignals(set);
    pthread_sigmask(SIG_BLOCK, &set, &g_HoldPrevious);
}

bool
EndSignalHold(bool target_changed)
{
    if (g_Watched) {
        pthread_rwlock_unlock(&g_CommitLock);
        return false;
    }
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

bool
TerminatingSignalsWatched()
{
    return g_Watched.load(std::memory_order_relaxed);
}

void
WatchTerminatingSignals()
{
    sigset_t set;
    TerminatingSignals(set);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    g_Watched = true;
}

int
WaitForTerminatingSignal(unsigned milliseconds)
{
    sigset_t set;
    TerminatingSignals(set);
    const struct timespec wait = {static_cast<time_t>(milliseconds / 1000),
                                  static_cast<long>(milliseconds % 1000) * 1000000L};
    const int got = sigtimedwait(&set, nullptr, &wait);
    return got > 0 ? got : 0;
}

void
EndBySignal(int signal_number)
{
    // no commit is cut in two, and none starts after this
    pthread_rwlock_wrlock(&g_CommitLock);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    TvkcryptOnTerminatingSignal(signal_number);
    _exit(128 + signal_number);  // not reached: the signal ends the process
}

void
SetStatusLineShown(bool shown)
{
    g_StatusLine.store(shown);
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
RememberTerminal(int fd, const struct termios& saved, const struct termios& quiet, const char* prompt)
{
    SignalBlock block;
    g_SavedTerminal = saved;
    g_QuietTerminal = quiet;
    g_PromptLength = std::min(std::strlen(prompt), sizeof(g_Prompt));
    std::memcpy(g_Prompt, prompt, g_PromptLength);
    g_TerminalFd.store(fd);
    WatchStops();
}

void
ForgetTerminal()
{
    // neither a terminating nor a stop signal may come between the
    // settings given back and the record dropped
    SignalBlock block;
    sigset_t stops, previous;
    sigemptyset(&stops);
    for (int signal_number : kStopSignals) sigaddset(&stops, signal_number);
    pthread_sigmask(SIG_BLOCK, &stops, &previous);
    const int tty = g_TerminalFd.load();
    if (tty >= 0) tcsetattr(tty, TCSANOW, &g_SavedTerminal);
    StopWatchingStops();
    g_TerminalFd.store(-1);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace tvkcrypt
