/*****************************************************************
| Terminal.cpp - POSIX implementation of Terminal.h: the prompt on
| /dev/tty with echo off, and the width from TIOCGWINSZ, followed on
| SIGWINCH.
****************************************************************/
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1
#endif

#include "Terminal.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "NptPlatformFault.h"
#include "NptWipe.h"
#include "SignalState.h"

namespace tvkcrypt {

/*----------------------------------------------------------------------
|   Terminal
+---------------------------------------------------------------------*/
SysError
Terminal::Open()
{
    int fd = NPT_PlatformCall("tool.open-terminal", [] {
        return open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    });
    if (fd < 0) return errno;
    m_Tty = FileHandle(fd, true);
    return 0;
}

void
Terminal::Write(const std::string& text)
{
    WriteAll(m_Tty, text.data(), text.size());
}

SysError
Terminal::ReadSecretLine(const char* prompt, char* buffer, std::size_t capacity,
                         std::size_t& length, bool& too_long, bool& no_input)
{
    length = 0;
    too_long = false;
    no_input = false;
    int fd = m_Tty.Fd();
    struct termios saved;
    if (NPT_PlatformCall("tool.tcgetattr", [&] { return tcgetattr(fd, &saved); }) != 0) return errno;
    struct termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHOE | ECHOK | ECHONL));
    RememberTerminal(fd, saved, quiet, prompt);
    // echo goes off before the prompt shows: whatever is typed after the
    // prompt is kept, only earlier typeahead is discarded
    SysError error = 0;
    if (NPT_PlatformCall("tool.tcsetattr", [&] { return tcsetattr(fd, TCSAFLUSH, &quiet); }) != 0) {
        error = errno;
    }
    // a prompt that did not show would leave the user before a silent
    // wait: that is a failure to ask
    if (!error) error = WriteAll(m_Tty, prompt, std::strlen(prompt));

    bool line_done = false;
    bool any_byte = false;
    char overflow[256];
    while (!error && !line_done) {
        char* into = length < capacity ? buffer + length : overflow;
        std::size_t room = length < capacity ? capacity - length : sizeof(overflow);
        ssize_t n = NPT_PlatformTransfer("tool.read-terminal", room, [&](std::size_t count) {
            return read(fd, into, count);
        });
        if (n < 0) {
            error = errno;
            break;
        }
        if (n == 0) {  // end of input (Ctrl-D)
            no_input = !any_byte;
            break;
        }
        any_byte = true;
        std::size_t count = static_cast<std::size_t>(n);
        char* newline = static_cast<char*>(std::memchr(into, '\n', count));
        if (newline != nullptr) {
            count = static_cast<std::size_t>(newline - into);
            line_done = true;
        }
        if (into == buffer + length) {
            length += count;
        } else if (count > 0) {
            too_long = true;
        }
    }
    NPT_WipeMemory(overflow, sizeof(overflow));
    if (length > capacity) length = capacity;
    if (length > 0 && buffer[length - 1] == '\r') --length;

    // the way back stays off the fault switch, as in the signal handler:
    // the echo must come back whatever failed before
    ForgetTerminal();
    Write("\n");
    return error;
}

/*----------------------------------------------------------------------
|   terminal width
+---------------------------------------------------------------------*/
static std::atomic<bool> g_TerminalResized{false};

extern "C" void
TvkcryptOnWindowChange(int)
{
    g_TerminalResized.store(true);
}

unsigned
TerminalColumns(const FileHandle& file)
{
    struct winsize size;
    std::memset(&size, 0, sizeof(size));
    if (NPT_PlatformCall("tool.ioctl-winsize", [&] { return ioctl(file.Fd(), TIOCGWINSZ, &size); }) != 0) {
        return 0;
    }
    return size.ws_col;
}

void
WatchTerminalSize()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = TvkcryptOnWindowChange;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGWINCH, &action, nullptr);
}

bool
TerminalResized()
{
    return g_TerminalResized.exchange(false);
}

}  // namespace tvkcrypt
