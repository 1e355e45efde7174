#pragma once

#include "helper/UniqueFd.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace helper {

// A program this tool starts: by absolute path (no PATH look-up, no shell), with exactly the environment
// given (nothing of this process's own), every signal at its default and none blocked, and standard error
// shared with this process so its complaints reach whoever runs us. With Output::Pipe its standard input
// is /dev/null and its standard output a pipe to us; with Output::Inherit (pkexec, whose text agent may
// need the terminal) it shares all three with us.
class ChildProcess {
public:
    // PipeQuiet: as Pipe, with standard error going to /dev/null (a child whose failures we report in
    // our own words, such as apt's downloads).
    enum class Output { Pipe, PipeQuiet, Inherit };

    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Kills a child still running (SIGKILL) and waits for it.
    ~ChildProcess();

    // False with errno set when the program could not be started (ENOENT: it is not there).
    bool start(const std::string& path, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment, Output output = Output::Pipe);
    // The read end of the child's standard output (Output::Pipe).
    int output() const { return m_output.get(); }
    // Its process id while it runs; -1 before it started and after wait().
    pid_t pid() const { return m_pid; }
    // Waits for the child; its wait status.
    int wait();

private:
    pid_t m_pid = -1;
    UniqueFd m_output;
};

// How a wait status reads in a message: "status 3", "signal 9".
std::string describeWaitStatus(int status);

} // namespace helper
