// varnel-repair's whole run against rpm's own verification (rpm -Va) of the same temporary root, which
// holds a few hundred tiny installed packages. Both are measured in the same run, alternately.
// Installing into a root needs root: without it the benchmark reports that and skips.
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const std::vector<std::string> kEnvironment = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL=C"};
std::string g_root;

struct Run {
    int status = -1;
    double seconds = 0;
    double peakMiB = 0;
};

// Runs a program with its output thrown away; how long it took and its peak resident size.
Run run(std::vector<std::string> argv) {
    std::vector<char*> args, env;
    for (std::string& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    std::vector<std::string> environment = kEnvironment;
    for (std::string& e : environment)
        env.push_back(e.data());
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    Run result;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data()) == 0) {
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    return result;
}

void BM_RepairToolAgainstRpmVerifyAll(benchmark::State& state) {
    if (g_root.empty()) {
        state.SkipWithError("needs root to install the packages into a temporary root");
        return;
    }
    double toolSeconds = 0, rpmSeconds = 0, toolPeak = 0;
    for (auto _ : state) {
        const Run verify = run({"/usr/bin/rpm", "--root", g_root, "-Va"});
        const Run tool = run({VARNEL_REPAIR_TOOL, "repairPermissions", "-plist", g_root});
        if (verify.status != 0 || tool.status != 0) {
            state.SkipWithError("rpm -Va or the tool failed");
            return;
        }
        rpmSeconds += verify.seconds;
        toolSeconds += tool.seconds;
        toolPeak = std::max(toolPeak, tool.peakMiB);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["tool_ms"] = 1000 * toolSeconds / n;
    state.counters["rpm_Va_ms"] = 1000 * rpmSeconds / n;
    state.counters["tool_vs_rpm_Va"] = toolSeconds / rpmSeconds; // target: at most 1.5
    state.counters["tool_peak_MiB"] = toolPeak;
}
BENCHMARK(BM_RepairToolAgainstRpmVerifyAll)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    std::string folder;
    if (geteuid() == 0) {
        std::string pattern = std::filesystem::temp_directory_path() / "varnel-bench-XXXXXX";
        if (mkdtemp(pattern.data()))
            folder = pattern;
    }
    if (!folder.empty()) {
        const std::string root = folder + "/root";
        std::filesystem::create_directories(root + "/etc");
        std::ofstream(root + "/etc/passwd") << "root:x:0:0:root:/root:/bin/sh\n";
        std::ofstream(root + "/etc/group") << "root:x:0:\n";
        std::vector<std::string> install = {"/usr/bin/rpm", "--root", root, "--nodeps", "--install"};
        for (const auto& entry : std::filesystem::directory_iterator(VARNEL_BENCH_PACKAGES))
            install.push_back(entry.path());
        if (run(install).status == 0)
            g_root = root;
        else
            std::fprintf(stderr, "bench_repair_tool: installing the packages failed\n");
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    if (!folder.empty())
        std::filesystem::remove_all(folder, ignored);
    return 0;
}
