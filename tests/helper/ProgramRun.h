#pragma once

// What the helper tests share: running the repair tool (or rpm) as a child (a fixed environment, another
// user, a descriptor limit, a pseudo-terminal), temporary folders and rpm roots, and the test variant's rpm.
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <pty.h>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
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

// A temporary folder of its own, removed at the end of the scope (links in it, never what they point at).
struct TemporaryFolder {
    TemporaryFolder() {
        std::string pattern = std::filesystem::temp_directory_path() / "varnel-helper-XXXXXX";
        if (::mkdtemp(pattern.data()))
            path = pattern;
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

// rpm as the tool runs it: the same fixed path and the same environment.
inline ProgramRun rpm(const std::vector<std::string>& arguments) {
    return runProgram("/usr/bin/rpm", arguments, {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL=C"}, {});
}

// A root holding the test packages (installed in one transaction; --replacefiles lets two of them list a
// path differently), with its own etc/passwd and etc/group: daemon is 2 there (1 on Debian itself), wheel
// is 10. Empty when it worked, else rpm's complaint.
inline std::string makeRpmRoot(const std::string& root, const std::vector<std::string>& packages) {
    std::filesystem::create_directories(root + "/etc");
    std::ofstream(root + "/etc/passwd") << "root:x:0:0:root:/root:/bin/sh\n# a comment\n"
                                           "daemon:x:2:2:daemon:/:/usr/sbin/nologin\n";
    std::ofstream(root + "/etc/group") << "root:x:0:\ndaemon:x:2:\nwheel:x:10:\n";
    std::vector<std::string> install = {"--root", root, "--nodeps", "--replacefiles", "--install"};
    for (const std::string& package : packages)
        install.push_back(std::string(VARNEL_TEST_PACKAGES) + "/" + package + "-1-1.noarch.rpm");
    const ProgramRun installed = rpm(install);
    return installed.status == 0 ? std::string() : "rpm failed: " + installed.err;
}

// The test variant's rpm: a shell script with this body (a "#!" line of its own, or /bin/sh's), or none.
inline void fakeRpm(const std::string& body) {
    const std::string dir = VARNEL_FAKE_RPM_DIR;
    std::filesystem::remove_all(dir);
    if (body.empty())
        return;
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/rpm") << (body.starts_with("#!") ? "" : "#!/bin/sh\n") << body << "\n";
    ::chmod(dir.c_str(), 0755);
    ::chmod((dir + "/rpm").c_str(), 0755);
}

} // namespace helper_test
