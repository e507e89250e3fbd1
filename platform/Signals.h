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

// Ignores SIGPIPE and SIGXFSZ (so that a closed pipe or a file size
// limit shows up as a write error), and makes SIGINT, SIGTERM, SIGHUP and
// SIGQUIT remove the temporary output and restore the terminal before the
// process dies of the signal.
void InstallSignalHandlers();

}  // namespace tvkcrypt

#endif  // TVKCRYPT_SIGNALS_H
