// stubborn-tool: a repair tool that cannot die quickly, as one stuck in the kernel cannot.
//
// A helper process of its own, outside its process group, traces it and holds it at its exit for a few
// seconds, whatever signal ended it (a traced process stops at its exit before it is gone, even after
// SIGKILL). The tool prints its pid once the helper holds it, then waits to be ended; where it cannot be
// traced, it prints "untraceable" and exits 3.
#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

int main() {
    int ready[2];
    if (::pipe(ready) != 0)
        return 2;
    ::prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0); // Yama lets only ancestors trace otherwise
    const pid_t tool = ::getpid();
    if (::fork() == 0) {
        ::setpgid(0, 0);        // signals to the tool's group must not reach the helper,
        ::close(STDOUT_FILENO); // nor may it hold the tool's output open
        if (::ptrace(PTRACE_SEIZE, tool, nullptr, PTRACE_O_TRACEEXIT) != 0 || ::write(ready[1], "1", 1) != 1)
            ::_exit(1);
        int status = 0;
        while (::waitpid(tool, &status, __WALL) == tool && WIFSTOPPED(status)) {
            if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
                ::sleep(6);
                ::ptrace(PTRACE_DETACH, tool, nullptr, nullptr);
                break;
            }
            // Any other stop: the tool goes on, with the signal that stopped it.
            ::ptrace(PTRACE_CONT, tool, nullptr, status >> 16 == 0 ? WSTOPSIG(status) : 0);
        }
        ::_exit(0);
    }
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
