#pragma once

// Running the repair tool (or rpm) as a child, as the helper tests do: a fixed environment, another user,
// a descriptor limit, a pseudo-terminal.
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <grp.h>
#include <pty.h>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace helper_test {

inline std::string fileText(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct ProgramRun {
    int status = -1; // exit status; -1 when it did not exit normally
    std::string out, err;
};

struct RunOptions {
    int user = -1;               // uid and gid to run as
    int maxFiles = -1;           // a descriptor limit
    bool terminal = false;       // standard error a pseudo-terminal, its transcript in `err`
    bool bothOnTerminal = false; // standard output on it too
};

// Runs `program` with `environment` alone (and the sanitizers' settings) and waits. Status 120: it could not
// become the user or take the limit; 121: it could not start.
inline ProgramRun runProgram(const std::string& program, std::vector<std::string> arguments,
                             std::vector<std::string> environment, const RunOptions& options) {
    arguments.insert(arguments.begin(), program);
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
        if (const char* value = std::getenv(name))
            environment.push_back(std::string(name) + "=" + value);
    const auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> out;
        for (std::string& s : strings)
            out.push_back(s.data());
        out.push_back(nullptr);
        return out;
    };
    const std::vector<char*> argv = pointers(arguments), envp = pointers(environment);
    const int out = ::memfd_create("out", MFD_CLOEXEC), err = ::memfd_create("err", MFD_CLOEXEC);
    int master = -1, slave = -1;
    if (options.terminal && ::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int user = options.user;
        if (user >= 0 && (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0))
            ::_exit(120);
        const rlimit files{static_cast<rlim_t>(options.maxFiles), 1024}; // what it starts may raise its own
        if (options.maxFiles >= 0 && ::setrlimit(RLIMIT_NOFILE, &files) != 0)
            ::_exit(120);
        ::dup2(options.bothOnTerminal ? slave : out, STDOUT_FILENO);
        ::dup2(options.terminal ? slave : err, STDERR_FILENO);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(121);
    }
    ProgramRun run;
    if (options.terminal) {
        ::close(slave);
        // Read while it runs (a terminal holds little), until the last writer has gone.
        char buffer[4096];
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) != 0;) {
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                break; // EIO: the other side is closed
            run.err.append(buffer, static_cast<size_t>(n));
        }
        ::close(master);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = fileText("/proc/self/fd/" + std::to_string(out));
    if (!options.terminal)
        run.err = fileText("/proc/self/fd/" + std::to_string(err));
    ::close(out);
    ::close(err);
    return run;
}

} // namespace helper_test
