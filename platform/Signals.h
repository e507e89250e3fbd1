/*****************************************************************
| Signals.h - what an interruption does to a process that uses the
| platform services.
|
| A process killed by a terminating signal must leave no partial output
| and no terminal without echo. InstallSignalHandlers makes it so: the
| handlers remove the named temporaries that TempOutput keeps (an
| unnamed one goes with the process by itself), restore the terminal
| that Terminal::ReadSecretLine silenced, and let the process die of the
| signal, so that its parent sees why. A step that must not be cut in
| two (a commit) holds the signals back until it is done. Windows: the
| console control handler does the same on Ctrl-C, Ctrl-Break, closing
| the console, logoff and shutdown, and ends the process with status
| 130 (129 for a closed console, logoff or shutdown), as a POSIX shell
| reports SIGINT and SIGHUP.
****************************************************************/
#ifndef TVKCRYPT_SIGNALS_H
#define TVKCRYPT_SIGNALS_H

namespace tvkcrypt {

// The most files a job works on at once: the handlers keep room for the
// named temporaries of each (an output and its check file).
const int kMaxWorkerThreads = 32;

// Holds the terminating signals back while the target changes (a
// commit), so that it changes whole or not at all; one thread at a
// time. EndSignalHold(false): the target is as it was, and a signal
// that came meanwhile ends the process now, as it would have. true:
// the target has changed, so a death by the signal (status 130, 143,
// ...), which says that the target is as it was, would lie: the signals
// stay held to the end of the process, and one that came is dropped;
// the result tells whether one came. Windows: the control handler
// waits (Ctrl-C, Ctrl-Break), and after a change returns without ending
// the process; whether an event came is not known there (false).
void HoldTerminatingSignals();
bool EndSignalHold(bool target_changed);

// Jobs of many files on several threads. WatchTerminatingSignals, on
// the main thread before the workers start, blocks the terminating
// signals there (the workers inherit it), so that they reach the
// process only through WaitForTerminatingSignal; a commit's hold
// (above) becomes a shared lock, and EndSignalHold no longer takes a
// signal for itself. EndBySignal waits for the commits under way, then
// does what the handlers do (removes the named temporaries, restores
// the terminal, erases the status line) and dies of the signal.
// Windows: the control handler already waits for the commits (the hold
// is its lock); watching only keeps a finished file from making Ctrl-C
// a no-op, and WaitForTerminatingSignal just sleeps.
void WatchTerminatingSignals();
// The signal that came (0: none within milliseconds).
int  WaitForTerminatingSignal(unsigned milliseconds);
[[noreturn]] void EndBySignal(int signal_number);
// Whether a status line (a progress bar) stands on standard error, to be
// erased by a handler that ends the process.
void SetStatusLineShown(bool shown);

// Ignores SIGPIPE and SIGXFSZ (so that a closed pipe or a file size
// limit shows up as a write error), and makes SIGINT, SIGTERM, SIGHUP and
// SIGQUIT remove the temporary output and restore the terminal before the
// process dies of the signal.
void InstallSignalHandlers();

}  // namespace tvkcrypt

#endif  // TVKCRYPT_SIGNALS_H
