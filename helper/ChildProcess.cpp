#include "helper/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

namespace helper {

namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

} // namespace

ChildProcess::~ChildProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        wait();
    }
}

bool ChildProcess::start(const std::string& path, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment, Output output) {
    int ends[2] = {-1, -1};
    const bool pipe = output == Output::Pipe || output == Output::PipeQuiet;
    if (pipe && ::pipe2(ends, O_CLOEXEC) != 0)
        return false;
    UniqueFd readEnd(ends[0]), writeEnd(ends[1]);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return false;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return false;
    }
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    int error = 0;
    if (pipe) {
        error = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        if (!error)
            error = posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    }
    if (!error && output == Output::PipeQuiet)
        error = posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (!error)
        error = posix_spawnattr_setsigdefault(&attributes, &all);
    if (!error)
        error = posix_spawnattr_setsigmask(&attributes, &none);
    if (!error)
        error = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<std::string> argv = arguments, envp = environment;
    argv.insert(argv.begin(), path);
    std::vector<char*> argPointers = pointers(argv), envPointers = pointers(envp);
    if (!error)
        error =
            posix_spawn(&m_pid, path.c_str(), &actions, &attributes, argPointers.data(), envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error) {
        m_pid = -1;
        errno = error;
        return false;
    }
    m_output = std::move(readEnd);
    return true;
}

int ChildProcess::wait() {
    m_output.reset(); // a child blocked writing to us would never exit otherwise
    int status = 0;
    while (m_pid > 0 && ::waitpid(m_pid, &status, 0) < 0) {
        if (errno != EINTR) {
            status = -1;
            break;
        }
    }
    m_pid = -1;
    return status;
}

std::string describeWaitStatus(int status) {
    if (status >= 0 && WIFEXITED(status))
        return "status " + std::to_string(WEXITSTATUS(status));
    if (status >= 0 && WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status));
    return "an unknown end";
}

} // namespace helper
