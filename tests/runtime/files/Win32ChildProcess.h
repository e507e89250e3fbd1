/*****************************************************************
| Win32ChildProcess.h - runs this test program again as a child process
| that plays one role, for the Windows-only tests (Windows has no fork).
|
| The parent names the role and up to two UTF-8 arguments in environment
| variables and starts its own executable; before main runs, the child
| sees the role (TVK_CHILD_ROLE_HANDLER) and leaves with the role's exit
| code instead of running the tests. Standard input and output of the
| child may be given as handles (pipes).
****************************************************************/
#ifndef TVK_TEST_WIN32_CHILD_PROCESS_H
#define TVK_TEST_WIN32_CHILD_PROCESS_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tvk_test_win32 {

inline std::wstring Widen(const std::string& text)
{
    if (text.empty()) return std::wstring();
    int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], units);
    return wide;
}

inline std::string Narrow(const std::wstring& text)
{
    if (text.empty()) return std::string();
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
    std::string narrow(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], bytes,
                        nullptr, nullptr);
    return narrow;
}

inline std::string GetVariable(const wchar_t* name)
{
    wchar_t buffer[4096];
    DWORD   length = GetEnvironmentVariableW(name, buffer, 4096);
    if (length == 0 || length >= 4096) return std::string();
    return Narrow(std::wstring(buffer, length));
}

// A role: takes the two arguments, returns the child's exit code.
typedef std::function<int(const std::string&, const std::string&)> ChildRole;

inline std::map<std::string, ChildRole>& ChildRoles()
{
    static std::map<std::string, ChildRole> roles;
    return roles;
}

// Registers role under name; when this process was started as that role,
// runs it and exits. Used at namespace scope:
//   const bool kRegistered = tvk_test_win32::RegisterChildRole("name", ...);
inline bool RegisterChildRole(const std::string& name, const ChildRole& role)
{
    ChildRoles()[name] = role;
    if (GetVariable(L"TVK_CHILD_ROLE") == name) {
        std::exit(role(GetVariable(L"TVK_CHILD_ARG1"), GetVariable(L"TVK_CHILD_ARG2")));
    }
    return true;
}

inline int RunChildOnce(const std::string& role, const std::string& arg1, const std::string& arg2,
                        HANDLE input, HANDLE output);

// Starts this program as role with the two arguments and waits for it.
// input and output (may be null) become the child's standard input and
// output; the handles must be inheritable. Returns the exit code, or -1
// when the child could not be started.
//
// No role exits with -1. A child that could not be started, or that
// ended with -1 before its role ran (a start-up failure Wine shows
// rarely on a loaded machine), is started again, twice at most, with a
// note on standard error; the test then sees the role's own result.
inline int RunChild(const std::string& role, const std::string& arg1, const std::string& arg2,
                    HANDLE input = nullptr, HANDLE output = nullptr)
{
    int code = -1;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        code = RunChildOnce(role, arg1, arg2, input, output);
        if (code != -1) break;
        std::fprintf(stderr, "note: child '%s' did not start or ended with -1 (attempt %d, error %lu)\n",
                     role.c_str(), attempt, static_cast<unsigned long>(GetLastError()));
        Sleep(100);
    }
    return code;
}

inline int RunChildOnce(const std::string& role, const std::string& arg1, const std::string& arg2,
                        HANDLE input, HANDLE output)
{
    wchar_t program[MAX_PATH * 4];
    if (GetModuleFileNameW(nullptr, program, MAX_PATH * 4) == 0) return -1;

    SetEnvironmentVariableW(L"TVK_CHILD_ROLE", Widen(role).c_str());
    SetEnvironmentVariableW(L"TVK_CHILD_ARG1", Widen(arg1).c_str());
    SetEnvironmentVariableW(L"TVK_CHILD_ARG2", Widen(arg2).c_str());

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (input != nullptr || output != nullptr) {
        startup.dwFlags    = STARTF_USESTDHANDLES;
        startup.hStdInput  = input ? input : GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = output ? output : GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError  = GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION process = {};
    std::wstring command = L"\"" + std::wstring(program) + L"\"";
    std::vector<wchar_t> command_line(command.begin(), command.end());
    command_line.push_back(L'\0');
    BOOL started = CreateProcessW(program, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &startup, &process);

    SetEnvironmentVariableW(L"TVK_CHILD_ROLE", nullptr);
    SetEnvironmentVariableW(L"TVK_CHILD_ARG1", nullptr);
    SetEnvironmentVariableW(L"TVK_CHILD_ARG2", nullptr);
    if (!started) return -1;

    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

} // namespace tvk_test_win32

#endif // TVK_TEST_WIN32_CHILD_PROCESS_H
