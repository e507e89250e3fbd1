/*****************************************************************
| SignalState.h - what the POSIX services tell the signal handlers
| (Signals.cpp): the named temporaries to remove and the terminal to
| give its echo back, and the block that keeps the handlers out of a
| step that must not be cut in two.
|
| Internal to this folder. The records are read by the handlers, so
| they are changed with the terminating signals blocked (SignalBlock).
****************************************************************/
#ifndef TVKCRYPT_POSIX_SIGNAL_STATE_H
#define TVKCRYPT_POSIX_SIGNAL_STATE_H

#include <csignal>
#include <string>

#include <pthread.h>
#include <termios.h>

namespace tvkcrypt {

// Blocks the terminating signals on this thread while a critical step
// runs (the rename and the forgetting of the temporary's name).
// Once a job watches the signals (WatchTerminatingSignals), every
// thread already has them blocked for good, and the block asks nothing
// of the system.
bool TerminatingSignalsWatched();

class SignalBlock
{
public:
    SignalBlock() {
        if (TerminatingSignalsWatched()) return;
        m_Blocked = true;
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGHUP);
        sigaddset(&set, SIGQUIT);
        pthread_sigmask(SIG_BLOCK, &set, &m_Previous);
    }
    ~SignalBlock() {
        if (m_Blocked) pthread_sigmask(SIG_SETMASK, &m_Previous, nullptr);
    }
    SignalBlock(const SignalBlock&) = delete;
    SignalBlock& operator=(const SignalBlock&) = delete;

private:
    sigset_t m_Previous;
    bool     m_Blocked = false;
};

// Records a named temporary for the signal handlers in a free slot, -1
// when none is free; call with the terminating signals blocked.
int RememberTemporary(int directory, const std::string& name);
// Drops the record of slot (nothing when -1) and sets it to -1.
void ForgetTemporary(int& slot);

// Records the terminal whose echo is off, its settings to restore, the
// quiet ones and the prompt (the terminating signals are blocked
// meanwhile); until ForgetTerminal, a stop (Ctrl-Z) gives the terminal
// its settings back, and going on silences it again and shows the
// prompt once more.
void RememberTerminal(int fd, const struct termios& saved, const struct termios& quiet, const char* prompt);
// Gives the terminal its settings back and drops that record.
void ForgetTerminal();

}  // namespace tvkcrypt

#endif  // TVKCRYPT_POSIX_SIGNAL_STATE_H
