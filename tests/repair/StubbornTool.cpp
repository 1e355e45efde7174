// stubborn-tool: a repair tool that cannot die quickly, as one stuck in the kernel cannot.
//
// A helper process of its own, outside its process group, traces it and holds it at its exit for
// kHoldSeconds, whatever signal ended it (a traced process stops at its exit before it is gone, even
// after SIGKILL). The tool prints its pid once the helper holds it, then waits to be ended; if it
// cannot be traced here, it prints "untraceable" and exits 3.
#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr unsigned kHoldSeconds = 6;

[[noreturn]] void holdAtExit(pid_t tool, int ready) {
    ::setpgid(0, 0);        // signals to the tool's group must not reach the helper
    ::close(STDOUT_FILENO); // nor may it hold the tool's output open
    if (::ptrace(PTRACE_SEIZE, tool, nullptr, PTRACE_O_TRACEEXIT) != 0)
        ::_exit(1);
    [[maybe_unused]] const auto written = ::write(ready, "1", 1);
    for (;;) {
        int status = 0;
        if (::waitpid(tool, &status, __WALL) < 0 || !WIFSTOPPED(status))
            ::_exit(0);
        if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
            ::sleep(kHoldSeconds);
            ::ptrace(PTRACE_DETACH, tool, nullptr, nullptr);
            ::_exit(0);
        }
        // Any other stop: the tool goes on, with the signal that stopped it.
        const int signal = status >> 16 == 0 ? WSTOPSIG(status) : 0;
        ::ptrace(PTRACE_CONT, tool, nullptr, signal);
    }
}

} // namespace

int main() {
    int ready[2];
    if (::pipe(ready) != 0)
        return 2;
    // Yama lets a process trace only its descendants unless it is allowed to.
    ::prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
    const pid_t tool = ::getpid();
    if (::fork() == 0)
        holdAtExit(tool, ready[1]);
    ::close(ready[1]);
    char byte = 0;
    if (::read(ready[0], &byte, 1) != 1) {
        std::puts("untraceable");
        return 3;
    }
    std::printf("%d\n", static_cast<int>(tool));
    std::fflush(stdout);
    for (;;)
        ::pause();
}
