/*****************************************************************
| ToolRunner.h - runs the built tvkcrypt for black-box tests.
|
| RunTool starts the tool with given arguments, extra environment
| variables (TVK_PASSWORD is removed from the inherited environment
| unless a test sets it), standard input from a string or a descriptor,
| and standard output captured or sent to a descriptor. The child has no
| controlling terminal (POSIX: a new session; Windows: no console), so a
| password prompt fails as it would under cron or CI. Every run has a
| deadline after which the child is killed. POSIX forks and executes;
| Windows uses CreateProcessW with pipes and its own environment block.
|
| RunOnTerminal (POSIX only) runs the tool on a pseudo-terminal
| (forkpty) and plays a dialogue: wait for a text, answer with a line,
| and so on.
|
| TempDir makes a scratch directory and removes it with its content.
| Paths are UTF-8 on every system (Windows: converted to UTF-16).
****************************************************************/
#ifndef TVKCRYPT_TOOL_RUNNER_H
#define TVKCRYPT_TOOL_RUNNER_H

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winioctl.h>
#include <fcntl.h>
#include <io.h>
#include <thread>
#else
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
extern char** environ;
#endif

namespace tvkcrypt_test {

#ifdef _WIN32
typedef DWORD ProcessId;
#else
typedef pid_t ProcessId;
#endif

struct RunResult {
    bool        exited = false;   // normal exit (exit_code valid)
    int         exit_code = -1;
    int         signal = 0;       // the signal that ended it, if any
    bool        timed_out = false;
    std::string out;              // standard output, when captured
    std::string err;              // standard error
};

struct RunSpec {
    std::string                        program;  // empty: the tool
    std::vector<std::string>           args;  // without the program
    std::map<std::string, std::string> env;   // added to the environment
    std::string stdin_data;                    // fed through a pipe...
    int         stdin_fd = -1;                 // ...unless a descriptor is given
    int         stdout_fd = -1;                // -1: captured in RunResult::out
    long long   file_size_limit = -1;          // POSIX: RLIMIT_FSIZE for the child, if >= 0
    bool        drop_root = false;             // POSIX: when root, run as nobody (65534)
    int         timeout_seconds = 60;
    // Windows: extra CreateProcessW flags. CREATE_NEW_PROCESS_GROUP
    // also gives the child this process's console (by default it gets
    // none), so that console control events can reach it.
    unsigned    creation_flags = 0;
    // called in the parent once the child runs, with its process id and
    // the standard error read so far; returning true stops the calls
    std::function<bool(ProcessId, const std::string&)> watch;
};

#ifdef _WIN32
/*----------------------------------------------------------------------
|   Windows: UTF-8 and UTF-16, paths
+---------------------------------------------------------------------*/
inline std::wstring
Wide(const std::string& text)
{
    if (text.empty()) return std::wstring();
    int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units > 0 ? units : 0), L'\0');
    if (units > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], units);
    }
    return wide;
}

inline std::string
Utf8(const std::wstring& wide)
{
    if (wide.empty()) return std::string();
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                    nullptr, nullptr);
    std::string text(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) {
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &text[0], bytes,
                            nullptr, nullptr);
    }
    return text;
}

// A path as the build host sees it, for Windows: under Wine a host path
// "/x/y" is the drive Z: ("Z:\x\y"); other paths stay as they are.
inline std::string
HostPath(std::string path)
{
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
        for (char& c : path) {
            if (c == '/') c = '\\';
        }
    }
    return path;
}

// The build gives the tool's path as the build host sees it.
inline std::string
ToolPath()
{
    return HostPath(TVKCRYPT_PATH);
}

// One argument quoted for the runtime's command-line parser: backslashes
// are literal except before a quote, where they are doubled.
inline std::wstring
QuoteArgument(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

// The environment block for the child: ours without TVK_PASSWORD and
// the names set by the test (compared without case, as Windows does),
// then those.
inline std::wstring
BuildEnvironmentBlock(const std::map<std::string, std::string>& extra)
{
    std::vector<std::wstring> entries;
    auto overridden = [&](const std::wstring& name) {
        if (_wcsicmp(name.c_str(), L"TVK_PASSWORD") == 0) return true;
        for (const auto& kv : extra) {
            if (_wcsicmp(name.c_str(), Wide(kv.first).c_str()) == 0) return true;
        }
        return false;
    };
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
            std::wstring text = entry;
            // "=C:=C:\\dir" entries keep the drives' working directories
            std::size_t equals = text.find(L'=', 1);
            if (equals != std::wstring::npos && overridden(text.substr(0, equals))) continue;
            entries.push_back(text);
        }
        FreeEnvironmentStringsW(block);
    }
    for (const auto& kv : extra) entries.push_back(Wide(kv.first + "=" + kv.second));
    std::wstring result;
    for (const std::wstring& entry : entries) {
        result += entry;
        result += L'\0';
    }
    result += L'\0';
    return result;
}

// An inheritable duplicate of a handle, for the child's standard streams.
inline HANDLE
Inheritable(HANDLE handle)
{
    HANDLE copy = INVALID_HANDLE_VALUE;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
        return INVALID_HANDLE_VALUE;
    }
    return copy;
}

// Reads a pipe to its end on a thread of its own.
class PipeDrain
{
public:
    explicit PipeDrain(HANDLE pipe, std::string& into)
        : m_Thread([pipe, &into] {
              char buffer[65536];
              DWORD n = 0;
              while (::ReadFile(pipe, buffer, sizeof(buffer), &n, nullptr) && n > 0) into.append(buffer, n);
          }) {}
    void Join() { if (m_Thread.joinable()) m_Thread.join(); }
    ~PipeDrain() { Join(); }

private:
    std::thread m_Thread;
};

inline RunResult
RunTool(const RunSpec& spec)
{
    RunResult result;
    std::wstring command = QuoteArgument(Wide(spec.program.empty() ? ToolPath() : spec.program));
    for (const std::string& arg : spec.args) command += L" " + QuoteArgument(Wide(arg));
    std::wstring environment = BuildEnvironmentBlock(spec.env);

    SECURITY_ATTRIBUTES inherit;
    std::memset(&inherit, 0, sizeof(inherit));
    inherit.nLength = sizeof(inherit);
    inherit.bInheritHandle = TRUE;
    HANDLE in_read = INVALID_HANDLE_VALUE, in_write = INVALID_HANDLE_VALUE;
    HANDLE out_read = INVALID_HANDLE_VALUE, out_write = INVALID_HANDLE_VALUE;
    HANDLE err_read = INVALID_HANDLE_VALUE, err_write = INVALID_HANDLE_VALUE;
    const bool feed_stdin = spec.stdin_fd < 0;
    const bool capture_stdout = spec.stdout_fd < 0;
    if (feed_stdin) {
        if (!CreatePipe(&in_read, &in_write, &inherit, 0)) return result;
        SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
    } else {
        in_read = Inheritable(reinterpret_cast<HANDLE>(_get_osfhandle(spec.stdin_fd)));
    }
    if (capture_stdout) {
        if (!CreatePipe(&out_read, &out_write, &inherit, 0)) return result;
        SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    } else {
        out_write = Inheritable(reinterpret_cast<HANDLE>(_get_osfhandle(spec.stdout_fd)));
    }
    if (!CreatePipe(&err_read, &err_write, &inherit, 0)) return result;
    SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in_read;
    startup.hStdOutput = out_write;
    startup.hStdError = err_write;
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof(process));
    DWORD flags = CREATE_UNICODE_ENVIRONMENT | spec.creation_flags;
    if (!(flags & CREATE_NEW_PROCESS_GROUP)) flags |= DETACHED_PROCESS;
    std::vector<wchar_t> command_line(command.begin(), command.end());
    command_line.push_back(L'\0');
    // Wine now and then fails a start with ERROR_INTERNAL_ERROR; a second
    // try works, and the note tells such a run from the child's own result
    BOOL started = FALSE;
    DWORD start_error = 0;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        if (attempt > 0) {
            std::fprintf(stderr, "note: CreateProcessW failed (%lu), starting again\n",
                         static_cast<unsigned long>(start_error));
            Sleep(200);
        }
        started = CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, flags,
                                 &environment[0], nullptr, &startup, &process);
        if (!started) start_error = GetLastError();
    }
    // the child's ends belong to the child now
    CloseHandle(in_read);
    CloseHandle(out_write);
    CloseHandle(err_write);
    if (!started) {
        result.err = "CreateProcessW failed: " + std::to_string(start_error);
        if (in_write != INVALID_HANDLE_VALUE) CloseHandle(in_write);
        if (out_read != INVALID_HANDLE_VALUE) CloseHandle(out_read);
        CloseHandle(err_read);
        return result;
    }
    CloseHandle(process.hThread);

    // standard input fed and standard output read on threads of their
    // own, standard error polled here for the watcher
    std::thread feeder;
    if (feed_stdin) {
        feeder = std::thread([&spec, in_write] {
            std::size_t fed = 0;
            while (fed < spec.stdin_data.size()) {
                DWORD count = static_cast<DWORD>(std::min<std::size_t>(spec.stdin_data.size() - fed, 1 << 20));
                DWORD n = 0;
                if (!::WriteFile(in_write, spec.stdin_data.data() + fed, count, &n, nullptr)) break;  // reader gone
                fed += n;
            }
            CloseHandle(in_write);
        });
    }
    std::unique_ptr<PipeDrain> out_drain;
    if (capture_stdout) out_drain.reset(new PipeDrain(out_read, result.out));

    bool watching = static_cast<bool>(spec.watch);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(spec.timeout_seconds);
    bool err_open = true;
    for (;;) {
        if (std::chrono::steady_clock::now() > deadline) {
            TerminateProcess(process.hProcess, 9);
            result.timed_out = true;
            break;
        }
        DWORD available = 0;
        if (err_open && !PeekNamedPipe(err_read, nullptr, 0, nullptr, &available, nullptr)) err_open = false;
        if (available > 0) {
            char buffer[65536];
            DWORD n = 0;
            if (::ReadFile(err_read, buffer, std::min<DWORD>(available, sizeof(buffer)), &n, nullptr) && n > 0) {
                result.err.append(buffer, n);
            }
        }
        if (watching && spec.watch(process.dwProcessId, result.err)) watching = false;
        if (!err_open && WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) break;
        if (available == 0) Sleep(watching ? 2 : 10);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    if (out_drain) out_drain->Join();
    if (feeder.joinable()) feeder.join();
    // what is left in standard error after the end
    for (;;) {
        char buffer[65536];
        DWORD n = 0;
        if (!::ReadFile(err_read, buffer, sizeof(buffer), &n, nullptr) || n == 0) break;
        result.err.append(buffer, n);
    }
    DWORD code = 0;
    if (!result.timed_out && GetExitCodeProcess(process.hProcess, &code)) {
        result.exited = true;
        result.exit_code = static_cast<int>(code);
    }
    CloseHandle(process.hProcess);
    if (out_read != INVALID_HANDLE_VALUE) CloseHandle(out_read);
    CloseHandle(err_read);
    return result;
}

#else  // POSIX

inline std::vector<std::string>
BuildEnvironment(const std::map<std::string, std::string>& extra)
{
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        if (name == "TVK_PASSWORD" || extra.count(name)) continue;
        env.push_back(entry);
    }
    for (const auto& kv : extra) env.push_back(kv.first + "=" + kv.second);
    return env;
}

inline std::vector<char*>
PointersTo(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(&s[0]);
    pointers.push_back(nullptr);
    return pointers;
}

inline void
Decode(int status, RunResult& result)
{
    if (WIFEXITED(status)) {
        result.exited = true;
        result.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
}

inline RunResult
RunTool(const RunSpec& spec)
{
    RunResult result;
    // the tool may stop reading early (a range): see EPIPE, not SIGPIPE
    signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> argv_strings;
    argv_strings.push_back(spec.program.empty() ? std::string(TVKCRYPT_PATH) : spec.program);
    argv_strings.insert(argv_strings.end(), spec.args.begin(), spec.args.end());
    std::vector<std::string> env_strings = BuildEnvironment(spec.env);
    std::vector<char*> argv = PointersTo(argv_strings);
    std::vector<char*> envp = PointersTo(env_strings);

    int in_pipe[2] = {-1, -1}, out_pipe[2] = {-1, -1}, err_pipe[2] = {-1, -1};
    bool feed_stdin = spec.stdin_fd < 0;
    bool capture_stdout = spec.stdout_fd < 0;
    if ((feed_stdin && pipe2(in_pipe, O_CLOEXEC) != 0) ||
        (capture_stdout && pipe2(out_pipe, O_CLOEXEC) != 0) || pipe2(err_pipe, O_CLOEXEC) != 0) {
        result.err = "pipe failed";
        return result;
    }
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        dup2(feed_stdin ? in_pipe[0] : spec.stdin_fd, 0);
        dup2(capture_stdout ? out_pipe[1] : spec.stdout_fd, 1);
        dup2(err_pipe[1], 2);
        // a run killed by SIGQUIT leaves no core file behind
        struct rlimit no_core = {0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        if (spec.file_size_limit >= 0) {
            struct rlimit limit;
            limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(spec.file_size_limit);
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (spec.drop_root && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(126);
        }
        signal(SIGPIPE, SIG_DFL);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (feed_stdin) close(in_pipe[0]);
    if (capture_stdout) close(out_pipe[1]);
    close(err_pipe[1]);

    int in_fd = feed_stdin ? in_pipe[1] : -1;
    std::size_t fed = 0;
    if (in_fd >= 0 && spec.stdin_data.empty()) {
        close(in_fd);
        in_fd = -1;
    }
    if (in_fd >= 0) fcntl(in_fd, F_SETFL, O_NONBLOCK);
    int out_fd = capture_stdout ? out_pipe[0] : -1;
    int err_fd = err_pipe[0];
    bool watching = static_cast<bool>(spec.watch);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(spec.timeout_seconds);

    while (out_fd >= 0 || err_fd >= 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            result.timed_out = true;
            break;
        }
        struct pollfd fds[3];
        int n = 0;
        int in_slot = -1, out_slot = -1, err_slot = -1;
        if (in_fd >= 0) { fds[n] = {in_fd, POLLOUT, 0}; in_slot = n++; }
        if (out_fd >= 0) { fds[n] = {out_fd, POLLIN, 0}; out_slot = n++; }
        if (err_fd >= 0) { fds[n] = {err_fd, POLLIN, 0}; err_slot = n++; }
        // a watcher is asked often: what it waits for may pass quickly
        if (poll(fds, static_cast<nfds_t>(n), watching ? 2 : 100) < 0 && errno != EINTR) break;
        if (in_slot >= 0 && (fds[in_slot].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t w = write(in_fd, spec.stdin_data.data() + fed, spec.stdin_data.size() - fed);
            if (w > 0) fed += static_cast<std::size_t>(w);
            if (w < 0 && errno != EAGAIN) fed = spec.stdin_data.size();  // reader gone
            if (fed == spec.stdin_data.size()) {
                close(in_fd);
                in_fd = -1;
            }
        }
        char buffer[65536];
        if (out_slot >= 0 && (fds[out_slot].revents & (POLLIN | POLLHUP | POLLERR))) {
            ssize_t r = read(out_fd, buffer, sizeof(buffer));
            if (r > 0) result.out.append(buffer, static_cast<std::size_t>(r));
            else { close(out_fd); out_fd = -1; }
        }
        if (err_slot >= 0 && (fds[err_slot].revents & (POLLIN | POLLHUP | POLLERR))) {
            ssize_t r = read(err_fd, buffer, sizeof(buffer));
            if (r > 0) result.err.append(buffer, static_cast<std::size_t>(r));
            else { close(err_fd); err_fd = -1; }
        }
        if (watching && spec.watch(pid, result.err)) watching = false;
    }
    if (in_fd >= 0) close(in_fd);
    if (out_fd >= 0) close(out_fd);
    if (err_fd >= 0) close(err_fd);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    Decode(status, result);
    return result;
}
#endif  // POSIX

// Shorthand: arguments plus the password in TVK_PASSWORD.
inline RunResult
RunWithPassword(const std::vector<std::string>& args, const std::string& password,
                const std::string& stdin_data = std::string())
{
    RunSpec spec;
    spec.args = args;
    spec.env["TVK_PASSWORD"] = password;
    spec.stdin_data = stdin_data;
    return RunTool(spec);
}

#ifndef _WIN32
/*----------------------------------------------------------------------
|   pseudo-terminal runs
+---------------------------------------------------------------------*/
struct TerminalStep {
    std::string wait_for;  // text to wait for in the terminal output
    std::string send;      // then written to the terminal (may be empty)
    int         pause_ms = 0;
    unsigned short resize_to = 0;  // then the terminal gets this many columns
    // then called with the tool's process and the terminal's master side
    std::function<void(pid_t, int)> act = nullptr;
};

struct TerminalResult {
    RunResult   run;
    std::string screen;    // everything the tool wrote to the terminal
    bool        all_steps_seen = true;
    bool        echo_at_end = false;  // the terminal echoes input after the run
};

// stdin_fd >= 0 replaces the terminal as standard input, stdout_fd >= 0
// as standard output. before_wait runs once all steps are played, before
// the output is drained. columns > 0: the terminal's width at the start
// (else the pseudo-terminal's default, which says 0).
inline TerminalResult
RunOnTerminal(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
              const std::vector<TerminalStep>& steps, int stdin_fd = -1,
              const std::function<void()>& before_wait = nullptr, int timeout_seconds = 30,
              int stdout_fd = -1, unsigned short columns = 0)
{
    TerminalResult result;
    std::vector<std::string> argv_strings;
    argv_strings.push_back(TVKCRYPT_PATH);
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<std::string> env_strings = BuildEnvironment(env);
    std::vector<char*> argv = PointersTo(argv_strings);
    std::vector<char*> envp = PointersTo(env_strings);

    int master = -1;
    struct winsize size;
    std::memset(&size, 0, sizeof(size));
    size.ws_row = 24;
    size.ws_col = columns;
    pid_t pid = forkpty(&master, nullptr, nullptr, columns > 0 ? &size : nullptr);
    if (pid < 0) {
        result.all_steps_seen = false;
        return result;
    }
    if (pid == 0) {
        if (stdin_fd >= 0) dup2(stdin_fd, 0);
        if (stdout_fd >= 0) dup2(stdout_fd, 1);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    std::size_t seen_up_to = 0;
    auto read_some = [&](int wait_ms) {
        struct pollfd p = {master, POLLIN, 0};
        if (poll(&p, 1, wait_ms) <= 0) return true;
        char buffer[4096];
        ssize_t r = read(master, buffer, sizeof(buffer));
        if (r <= 0) return false;  // EIO: the child has closed the terminal
        result.screen.append(buffer, static_cast<std::size_t>(r));
        return true;
    };
    bool open = true;
    for (const TerminalStep& step : steps) {
        while (open && result.screen.find(step.wait_for, seen_up_to) == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            open = read_some(100);
        }
        std::size_t at = result.screen.find(step.wait_for, seen_up_to);
        if (at == std::string::npos) {
            result.all_steps_seen = false;
            break;
        }
        seen_up_to = at + step.wait_for.size();
        if (step.pause_ms > 0) usleep(static_cast<useconds_t>(step.pause_ms) * 1000);
        if (step.resize_to > 0) {
            // the kernel sends SIGWINCH to the terminal's foreground group
            size.ws_col = step.resize_to;
            ioctl(master, TIOCSWINSZ, &size);
        }
        if (step.act) step.act(pid, master);
        if (!step.send.empty()) {
            ssize_t w = write(master, step.send.data(), step.send.size());
            (void)w;
        }
    }
    if (before_wait) before_wait();
    while (open && std::chrono::steady_clock::now() < deadline) open = read_some(100);
    if (open) {
        kill(pid, SIGKILL);
        result.run.timed_out = true;
    }
    struct termios settings;
    result.echo_at_end = tcgetattr(master, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
    close(master);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    Decode(status, result.run);
    return result;
}

#endif  // POSIX: terminal runs

// Deterministic bytes that are not a repeating pattern.
inline std::string
PatternData(std::size_t size, std::uint32_t seed = 0x2545F491u)
{
    std::string data(size, '\0');
    std::uint32_t x = seed;
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        data[i] = static_cast<char>(x >> 24);
    }
    return data;
}

#ifdef _WIN32
/*----------------------------------------------------------------------
|   files
+---------------------------------------------------------------------*/
inline std::string
ReadFile(const std::string& path)
{
    std::string content;
    if (FILE* in = _wfopen(Wide(path).c_str(), L"rb")) {
        char buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof(buffer), in)) > 0) content.append(buffer, n);
        std::fclose(in);
    }
    return content;
}

inline void
WriteFile(const std::string& path, const std::string& content)
{
    if (FILE* out = _wfopen(Wide(path).c_str(), L"wb")) {
        std::fwrite(content.data(), 1, content.size(), out);
        std::fclose(out);
    }
}

// Whether anything is at path (a link itself counts).
inline bool
Exists(const std::string& path)
{
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Names in a directory, without "." and "..", sorted.
inline std::vector<std::string>
ListDirectory(const std::string& path)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Wide(path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") names.push_back(Utf8(name));
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class TempDir
{
public:
    // in the system's temporary folder, or in parent
    explicit TempDir(const std::string& parent = std::string()) {
        wchar_t base[MAX_PATH + 1];
        DWORD length = parent.empty() ? GetTempPathW(MAX_PATH + 1, base) : 0;
        if (parent.empty() && (length == 0 || length > MAX_PATH)) return;
        std::string prefix = parent.empty() ? Utf8(std::wstring(base, length)) : parent;
        if (prefix.back() != '\\' && prefix.back() != '/') prefix += '\\';
        static unsigned counter = 0;
        for (unsigned attempt = 0; attempt < 100; ++attempt) {
            std::string path = prefix + "tvkcrypt-test-" +
                               std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
            if (CreateDirectoryW(Wide(path).c_str(), nullptr)) {
                m_Path = path;
                return;
            }
        }
    }
    ~TempDir() { if (!m_Path.empty()) RemoveTree(Wide(m_Path)); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_Path; }
    std::string operator/(const std::string& name) const { return m_Path + "/" + name; }

    // Names in the directory, sorted.
    std::vector<std::string> List() const { return ListDirectory(m_Path); }

private:
    // Removes a tree; a link or junction is removed itself, never
    // followed.
    static void RemoveTree(const std::wstring& path) {
        DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            DeleteFileW(path.c_str());
            return;
        }
        if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            WIN32_FIND_DATAW found;
            HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
            if (search != INVALID_HANDLE_VALUE) {
                do {
                    std::wstring name = found.cFileName;
                    if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
                } while (FindNextFileW(search, &found));
                FindClose(search);
            }
        }
        RemoveDirectoryW(path.c_str());
    }
    std::string m_Path;
};

// A descriptor of a file opened for reading, to redirect a run's
// standard input; -1 on failure. Closed with CloseDescriptor.
inline int
OpenForInput(const std::string& path)
{
    return _wopen(Wide(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

inline void
CloseDescriptor(int fd)
{
    _close(fd);
}

inline bool
MakeSubdirectory(const std::string& path)
{
    return CreateDirectoryW(Wide(path).c_str(), nullptr) != 0;
}

inline bool
RemoveFile(const std::string& path)
{
    return DeleteFileW(Wide(path).c_str()) != 0;
}

// Makes a file of size bytes (sparse where the file system allows);
// false when that fails.
inline bool
MakeFileOfSize(const std::string& path, unsigned long long size)
{
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD ignored = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    bool ok = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return ok;
}

#else  // POSIX
/*----------------------------------------------------------------------
|   files
+---------------------------------------------------------------------*/
inline std::string
ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

inline void
WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

inline bool
Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

inline unsigned
ModeOf(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return 0;
    return static_cast<unsigned>(st.st_mode & 07777);
}

// Names in a directory, without "." and "..", sorted.
inline std::vector<std::string>
ListDirectory(const std::string& path)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (struct dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The temporary output that a running tool holds open in dir: the
// /proc path of its descriptor (which stat and open follow even to an
// unnamed file), or "" while it has none.
inline std::string
HeldTemporary(pid_t pid, const std::string& dir)
{
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    for (const std::string& fd : ListDirectory(fds)) {
        char target[4096];
        ssize_t n = readlink((fds + "/" + fd).c_str(), target, sizeof(target) - 1);
        if (n <= 0) continue;
        std::string path(target, static_cast<std::size_t>(n));
        // unnamed: "DIR/#INODE (deleted)"; named: "DIR/.NAME.tvkcrypt-XXXXXX"
        if (path.rfind(dir + "/#", 0) == 0 || path.rfind(dir + "/.", 0) == 0) return fds + "/" + fd;
    }
    return std::string();
}

class TempDir
{
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/tvkcrypt-test-XXXXXX";
        m_Path = pattern;
        if (mkdtemp(&m_Path[0]) == nullptr) m_Path.clear();
    }
    ~TempDir() { if (!m_Path.empty()) RemoveTree(m_Path); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_Path; }
    std::string operator/(const std::string& name) const { return m_Path + "/" + name; }

    // Names in the directory, sorted.
    std::vector<std::string> List() const { return ListDirectory(m_Path); }

private:
    static void RemoveTree(const std::string& path) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) return;
        if (S_ISDIR(st.st_mode)) {
            chmod(path.c_str(), 0700);
            if (DIR* dir = opendir(path.c_str())) {
                while (struct dirent* entry = readdir(dir)) {
                    std::string name = entry->d_name;
                    if (name != "." && name != "..") RemoveTree(path + "/" + name);
                }
                closedir(dir);
            }
            rmdir(path.c_str());
        } else {
            unlink(path.c_str());
        }
    }
    std::string m_Path;
};


inline int
OpenForInput(const std::string& path)
{
    return open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

inline void
CloseDescriptor(int fd)
{
    close(fd);
}

inline bool
MakeSubdirectory(const std::string& path)
{
    return mkdir(path.c_str(), 0700) == 0;
}

inline bool
RemoveFile(const std::string& path)
{
    return unlink(path.c_str()) == 0;
}

inline bool
MakeFileOfSize(const std::string& path, unsigned long long size)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = ftruncate(fd, static_cast<off_t>(size)) == 0;
    close(fd);
    return ok;
}

#endif

}  // namespace tvkcrypt_test

#endif  // TVKCRYPT_TOOL_RUNNER_H
