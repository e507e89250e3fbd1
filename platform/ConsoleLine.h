/*****************************************************************
| ConsoleLine.h - one line typed at a console that hands over UTF-16
| (the Windows console's ReadConsoleW), turned into UTF-8 in place.
|
| The console gives the line read by read, each up to a buffer's worth
| of UTF-16 units ending with CR LF. Add takes each read's units and
| writes their UTF-8 bytes straight into the caller's buffer (a secret's
| memory: no other copy is made), a surrogate pair split between two
| reads included; an unpaired surrogate becomes U+FFFD. The line ends
| at the line feed; Finish ends it early (the input ended) and drops a
| trailing carriage return. Ctrl-Z (U+001A) as the first unit of the
| line is the console's end of input: the line then counts as no input
| at all, as Ctrl-D on a POSIX terminal. Bytes beyond capacity are
| dropped and noted (TooLong); the rest of the line is still consumed.
| Pure computation, no failure; one thread at a time.
****************************************************************/
#ifndef TVKCRYPT_CONSOLE_LINE_H
#define TVKCRYPT_CONSOLE_LINE_H

#include <cstddef>

namespace tvkcrypt {

class ConsoleLine
{
public:
    // buffer: at least capacity bytes, owned by the caller.
    ConsoleLine(char* buffer, std::size_t capacity) : m_Buffer(buffer), m_Capacity(capacity) {}

    // Takes the units of one read; true once the line has ended (the
    // units after the line feed, if any, are not taken).
    bool Add(const char16_t* units, std::size_t count);
    // Ends the line: a pending high surrogate becomes U+FFFD, a final
    // carriage return goes.
    void Finish();

    std::size_t Length() const { return m_Length; }
    bool        TooLong() const { return m_TooLong; }
    // Ctrl-Z came first: the input ended before the line began.
    bool        EndOfInput() const { return m_EndOfInput; }
    // Whether any unit but the line end came.
    bool        AnyUnit() const { return m_AnyUnit || m_EndOfInput; }

private:
    void Put(unsigned long code);

    char*       m_Buffer;
    std::size_t m_Capacity;
    std::size_t m_Length = 0;
    bool        m_TooLong = false;
    bool        m_Done = false;
    bool        m_AnyUnit = false;
    bool        m_EndOfInput = false;
    char16_t    m_PendingHigh = 0;  // a high surrogate waiting for its pair
};

}  // namespace tvkcrypt

#endif  // TVKCRYPT_CONSOLE_LINE_H
