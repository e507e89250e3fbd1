/*****************************************************************
| Terminal.h - the controlling terminal: a prompt that reads a secret
| without echo, and the width of the terminal that standard error is.
|
| On Windows the terminal is the console (CONIN$ and CONOUT$); its line
| arrives as UTF-16 and is handed over as UTF-8 (ConsoleLine.h). An
| interruption while echo is off gives the echo back (Signals.h).
| Failures are SysError values. One thread at a time.
****************************************************************/
#ifndef TVKCRYPT_TERMINAL_H
#define TVKCRYPT_TERMINAL_H

#include <cstddef>
#include <string>

#include "FileHandle.h"
#include "SysError.h"

namespace tvkcrypt {

/*----------------------------------------------------------------------
|   Terminal prompt
+---------------------------------------------------------------------*/
class Terminal
{
public:
    Terminal() = default;
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // Opens the controlling terminal. ENXIO (or similar) when the
    // process has none.
    SysError Open();
    // Shows prompt and reads one line without echo into buffer (at most
    // capacity bytes, line ending removed). too_long is set when the
    // line did not fit; the rest of it is consumed. no_input is set when
    // the input ended (Ctrl-D) before any byte, not even a line ending.
    // Echo is restored before returning, and by the signal handlers.
    SysError ReadSecretLine(const char* prompt, char* buffer, std::size_t capacity,
                            std::size_t& length, bool& too_long, bool& no_input);
    void Write(const std::string& text);

private:
    FileHandle m_Tty;
    FileHandle m_Output;  // Windows: the console's output side (CONOUT$)
};

// Width in columns of the terminal that file is, 0 when it is not a
// terminal or does not say.
unsigned TerminalColumns(const FileHandle& file);
// From now on, notes each resize of the controlling terminal (SIGWINCH;
// the handler only sets a flag). TerminalResized says whether one came
// since the last call, and clears the note.
void WatchTerminalSize();
bool TerminalResized();

}  // namespace tvkcrypt

#endif  // TVKCRYPT_TERMINAL_H
