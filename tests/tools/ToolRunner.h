/*****************************************************************
| ToolRunner.h - runs the built tvkcrypt for black-box tests.
|
| RunTool forks and executes the tool with given arguments, extra
| environment variables (TVK_PASSWORD is removed from the inherited
| environment unless a test sets it), standard input from a string or a
| descriptor, and standard output captured or sent to a descriptor. The
| child starts a new session, so it has no controlling terminal: a
| password prompt fails as it would under cron or CI. Every run has a
| deadline after which the child is killed.
|
| RunOnTerminal runs the tool on a pseudo-terminal (forkpty) and plays
| a dialogue: wait for a text, answer with a line, and so on.
|
| TempDir makes a scratch directory and removes it with its content.
****************************************************************/
#ifndef TVKCRYPT_TOOL_RUNNER_H
#define TVKCRYPT_TOOL_RUNNER_H

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace tvkcrypt_test {

struct RunResult {
    bool        exited = false;   // normal exit (exit_code valid)
    int         exit_code = -1;
    int         signal = 0;       // the signal that ended it, if any
    bool        timed_out = false;
    std::string out;              // standard output, when captured
    std::string err;              // standard error
};

struct RunSpec {
    std::vector<std::string>           args;  // without the program
    std::map<std::string, std::string> env;   // added to the environment
    std::string stdin_data;                    // fed through a pipe...
    int         stdin_fd = -1;                 // ...unless a descriptor is given
    int         stdout_fd = -1;                // -1: captured in RunResult::out
    long long   file_size_limit = -1;          // RLIMIT_FSIZE for the child, if >= 0
    bool        drop_root = false;             // when root, run as nobody (65534)
    int         timeout_seconds = 60;
    // called in the parent once the child runs, with its pid and the
    // standard error read so far; returning true stops the calls
    std::function<bool(pid_t, const std::string&)> watch;
};

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
    argv_strings.push_back(TVKCRYPT_PATH);
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
        if (poll(fds, static_cast<nfds_t>(n), 100) < 0 && errno != EINTR) break;
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

/*----------------------------------------------------------------------
|   pseudo-terminal runs
+---------------------------------------------------------------------*/
struct TerminalStep {
    std::string wait_for;  // text to wait for in the terminal output
    std::string send;      // then written to the terminal (may be empty)
    int         pause_ms = 0;
};

struct TerminalResult {
    RunResult   run;
    std::string screen;    // everything the tool wrote to the terminal
    bool        all_steps_seen = true;
    bool        echo_at_end = false;  // the terminal echoes input after the run
};

// stdin_fd >= 0 replaces the terminal as standard input. before_wait
// runs once all steps are played, before the output is drained.
inline TerminalResult
RunOnTerminal(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
              const std::vector<TerminalStep>& steps, int stdin_fd = -1,
              const std::function<void()>& before_wait = nullptr, int timeout_seconds = 30)
{
    TerminalResult result;
    std::vector<std::string> argv_strings;
    argv_strings.push_back(TVKCRYPT_PATH);
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<std::string> env_strings = BuildEnvironment(env);
    std::vector<char*> argv = PointersTo(argv_strings);
    std::vector<char*> envp = PointersTo(env_strings);

    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) {
        result.all_steps_seen = false;
        return result;
    }
    if (pid == 0) {
        if (stdin_fd >= 0) dup2(stdin_fd, 0);
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

}  // namespace tvkcrypt_test

#endif  // TVKCRYPT_TOOL_RUNNER_H
