#pragma once

// What the benchmarks share: CPU and memory readings of this process and its children, and the simulator
// as a child whose output goes to another program.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bench {

inline double cpuSeconds(const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline double ownCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return cpuSeconds(usage);
}

// A line of /proc/self/status in MiB ("VmRSS", "VmHWM").
inline double statusMiB(const char* field) {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return 0;
    char line[256];
    double kib = 0;
    while (std::fgets(line, sizeof line, status))
        if (std::strncmp(line, field, std::strlen(field)) == 0 && line[std::strlen(field)] == ':')
            kib = std::atof(line + std::strlen(field) + 1);
    std::fclose(status);
    return kib / 1024.0;
}

// Starts the peak resident size afresh (Linux: "5" into clear_refs), so the peak of one run can be read.
inline void resetPeakMemory() {
    if (FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", refs);
        std::fclose(refs);
    }
}

// CPU of "cat > /dev/null" reading the simulator's output through a pipe: the cost of just moving the bytes;
// and, if asked, the wall time from starting the simulator until both have ended.
inline double catCpuSeconds(const char* simulator, double* wallSeconds = nullptr) {
    timespec started{}, ended{};
    clock_gettime(CLOCK_MONOTONIC, &started);
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return 0;
    posix_spawn_file_actions_t toolActions, catActions;
    posix_spawn_file_actions_init(&toolActions);
    posix_spawn_file_actions_adddup2(&toolActions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&toolActions, pipeEnds[0]);
    posix_spawn_file_actions_init(&catActions);
    posix_spawn_file_actions_adddup2(&catActions, pipeEnds[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&catActions, pipeEnds[1]);
    posix_spawn_file_actions_addopen(&catActions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    char verb[] = "repairPermissions", plist[] = "-plist", volume[] = "/", cat[] = "cat";
    char* toolArgs[] = {const_cast<char*>(simulator), verb, plist, volume, nullptr};
    char* catArgs[] = {cat, nullptr};
    pid_t toolPid = 0, catPid = 0;
    posix_spawn(&toolPid, simulator, &toolActions, nullptr, toolArgs, environ);
    posix_spawnp(&catPid, cat, &catActions, nullptr, catArgs, environ);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    int status = 0;
    rusage catUsage{};
    waitpid(toolPid, &status, 0);
    wait4(catPid, &status, 0, &catUsage);
    clock_gettime(CLOCK_MONOTONIC, &ended);
    if (wallSeconds)
        *wallSeconds = static_cast<double>(ended.tv_sec - started.tv_sec) +
                       static_cast<double>(ended.tv_nsec - started.tv_nsec) / 1e9;
    posix_spawn_file_actions_destroy(&toolActions);
    posix_spawn_file_actions_destroy(&catActions);
    return cpuSeconds(catUsage);
}

} // namespace bench
