/*****************************************************************
| Terminal.cpp - Windows implementation of Terminal.h: the prompt on
| the console (CONIN$, CONOUT$) with echo off, and the width polled from
| the screen buffer, since the console sends no signal on a resize.
****************************************************************/
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include "Terminal.h"

#include <atomic>
#include <string>

#include <windows.h>
#include <fcntl.h>

#include "ConsoleLine.h"
#include "NptWipe.h"
#include "SignalState.h"
#include "Win32Support.h"

namespace tvkcrypt {

/*----------------------------------------------------------------------
|   Terminal: the console
+---------------------------------------------------------------------*/
SysError
Terminal::Open()
{
    HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) return ENXIO;
    DWORD mode;
    if (!GetConsoleMode(input, &mode)) {
        CloseHandle(input);
        return ENXIO;
    }
    HANDLE output = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        CloseHandle(input);
        return ENXIO;
    }
    if (SysError error = Adopt(input, _O_RDWR, m_Tty)) {
        CloseHandle(output);
        return error;
    }
    return Adopt(output, _O_RDWR, m_Output);
}

void
Terminal::Write(const std::string& text)
{
    HANDLE output = OsHandle(m_Output);
    if (WriteConsoleText(output, text)) return;
    WriteAll(m_Output, text.data(), text.size());
}

SysError
Terminal::ReadSecretLine(const char* prompt, char* buffer, std::size_t capacity,
                         std::size_t& length, bool& too_long, bool& no_input)
{
    length = 0;
    too_long = false;
    no_input = false;
    HANDLE input = OsHandle(m_Tty);
    HANDLE output = OsHandle(m_Output);
    DWORD saved = 0;
    if (!GetConsoleMode(input, &saved)) return LastError();
    DWORD quiet = (saved | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT);
    RememberTerminal(input, saved, output);
    // echo goes off before the prompt shows; earlier typeahead goes
    SysError error = 0;
    FlushConsoleInputBuffer(input);
    if (!SetConsoleMode(input, quiet)) error = LastError();
    if (!error && !WriteConsoleText(output, prompt)) error = ENXIO;

    // The console hands over UTF-16 with the line ending; ConsoleLine
    // writes it to buffer as UTF-8, surrogate pairs split between reads
    // included, and knows Ctrl-Z at the start as the end of input.
    ConsoleLine line(buffer, capacity);
    char16_t units[256];
    bool line_done = false;
    bool ended = false;
    while (!error && !line_done) {
        DWORD n = 0;
        if (!ReadConsoleW(input, units, static_cast<DWORD>(sizeof(units) / sizeof(units[0])), &n, nullptr)) {
            error = LastError();
            break;
        }
        if (n == 0) {
            ended = true;
            break;
        }
        line_done = line.Add(units, n);
    }
    line.Finish();
    NPT_WipeMemory(units, sizeof(units));
    length = line.Length();
    too_long = line.TooLong();
    no_input = line.EndOfInput() || (ended && !line.AnyUnit());

    // echo comes back whatever failed before
    SetConsoleMode(input, saved);
    ForgetTerminal();
    Write("\n");
    return error;
}

/*----------------------------------------------------------------------
|   terminal width: polled, the console sends no signal on a resize
+---------------------------------------------------------------------*/
static std::atomic<bool>     g_WatchingSize{false};
static std::atomic<unsigned> g_LastColumns{0};

unsigned
TerminalColumns(const FileHandle& file)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(OsHandle(file), &info)) return 0;
    int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? static_cast<unsigned>(columns) : 0;
}

void
WatchTerminalSize()
{
    g_LastColumns.store(TerminalColumns(FileHandle(2, false)));
    g_WatchingSize.store(true);
}

bool
TerminalResized()
{
    if (!g_WatchingSize.load()) return false;
    unsigned now = TerminalColumns(FileHandle(2, false));
    return g_LastColumns.exchange(now) != now;
}

}  // namespace tvkcrypt
