// varnel-repair's whole run against its floor and against rpm's own verification of the same temporary
// root, all measured in the same run, interleaved, as CPU (the process and the children it waited for) and
// wall time:
// - the floor: rpm's plain file listing piped into one fstatat() per path, what any check of every packaged
//   file must at least do;
// - rpm -Va with metadata only (no digests of files, headers or packages, no dependencies, no scripts) and
//   rpm -Va as it comes;
// - rpm's part alone: the query the tool reads where it cannot read the database itself (a format other
//   than sqlite), against rpm's plain file listing;
// - the tool against the floor with nothing cached (wall time), on a copy mounted afresh before each run.
// The root holds 300 tiny installed packages (built at build time). VARNEL_BENCH_LARGE=N installs N
// packages of 111 entries each instead (1,500 is about a desktop's 170,000 entries; building them takes
// minutes; VARNEL_BENCH_KEEP=1 keeps the root, VARNEL_BENCH_ROOT=<root> uses a kept one). The page cache
// stays warm: nothing here may drop the machine's caches. Installing into a root needs root: without it the
// benchmark reports that and skips.
#include "helper/RpmDatabase.h"

#include <algorithm>
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
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const std::vector<std::string> kEnvironment = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL=C"};
std::string g_root;

struct Run {
    int status = -1;
    double seconds = 0; // wall
    double cpu = 0;     // user and system, children included
    double peakMiB = 0;
};

double cpuOf(const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

pid_t spawn(std::vector<std::string> argv, int outputFd) {
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
    if (outputFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void collect(pid_t pid, Run& result) {
    int status = 0;
    rusage usage{};
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
        result.status = WIFEXITED(status) && result.status <= 0 ? WEXITSTATUS(status) : 1;
        result.cpu += cpuOf(usage);
        result.peakMiB = std::max(result.peakMiB, static_cast<double>(usage.ru_maxrss) / 1024.0);
    } else {
        result.status = 1;
    }
}

// Runs a program with its output thrown away.
Run run(std::vector<std::string> argv) {
    Run result;
    const auto start = std::chrono::steady_clock::now();
    collect(spawn(std::move(argv), -1), result);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

// One lstat of every path a listing of one path a line names, in a child of its own: how many it found.
void statEveryLine(int input, int rootFd) {
    std::vector<char> buffer(1 << 16);
    std::string line;
    long found = 0;
    for (ssize_t n; (n = ::read(input, buffer.data(), buffer.size())) > 0;) {
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[static_cast<size_t>(i)] != '\n') {
                line += buffer[static_cast<size_t>(i)];
                continue;
            }
            struct stat st {};
            if (line.size() > 1 && ::fstatat(rootFd, line.c_str() + 1, &st, AT_SYMLINK_NOFOLLOW) == 0)
                ++found;
            line.clear();
        }
    }
    _exit(found > 0 ? 0 : 1);
}

// The floor: rpm's plain file listing piped into one fstatat() per path.
Run floorRun(const std::string& root = g_root) {
    Run result;
    const auto start = std::chrono::steady_clock::now();
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return result;
    const pid_t rpm = spawn({"/usr/bin/rpm", "--root", root, "-qa", "--qf", "[%{FILENAMES}\\n]"}, ends[1]);
    const pid_t checker = fork();
    if (checker == 0) {
        ::close(ends[1]);
        statEveryLine(ends[0], ::open(root.c_str(), O_PATH | O_DIRECTORY));
    }
    ::close(ends[0]);
    ::close(ends[1]);
    result.status = 0;
    collect(rpm, result);
    collect(checker, result);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// Each iteration runs every program once, in turn; the counters are medians over the iterations (CPU
// seconds and wall seconds in milliseconds) and the ratios of those medians.
void BM_RepairToolAgainstFloorAndRpmVerify(benchmark::State& state) {
    if (g_root.empty()) {
        state.SkipWithError("needs root to install the packages into a temporary root");
        return;
    }
    const std::vector<std::string> metadataOnly = {"/usr/bin/rpm",  "--root",         g_root,
                                                   "-Va",           "--nofiledigest", "--nodigest",
                                                   "--nosignature", "--nodeps",       "--noscripts"};
    std::vector<double> toolCpu, toolWall, floorCpu, floorWall, metaCpu, allCpu, peak;
    for (auto _ : state) {
        const Run floor = floorRun();
        const Run tool = run({VARNEL_REPAIR_TOOL, "repairPermissions", "-plist", g_root});
        const Run meta = run(metadataOnly);
        const Run all = run({"/usr/bin/rpm", "--root", g_root, "-Va"});
        if (floor.status != 0 || tool.status != 0 || meta.status != 0 || all.status != 0) {
            state.SkipWithError("the floor, the tool or rpm -Va failed");
            return;
        }
        toolCpu.push_back(tool.cpu);
        toolWall.push_back(tool.seconds);
        floorCpu.push_back(floor.cpu);
        floorWall.push_back(floor.seconds);
        metaCpu.push_back(meta.cpu);
        allCpu.push_back(all.cpu);
        peak.push_back(tool.peakMiB);
    }
    state.counters["tool_cpu_ms"] = 1000 * median(toolCpu);
    state.counters["floor_cpu_ms"] = 1000 * median(floorCpu);
    state.counters["rpm_Va_meta_cpu_ms"] = 1000 * median(metaCpu);
    state.counters["rpm_Va_cpu_ms"] = 1000 * median(allCpu);
    state.counters["tool_vs_floor_cpu"] = median(toolCpu) / median(floorCpu);      // target: at most 1.2
    state.counters["tool_vs_rpm_Va_meta_cpu"] = median(toolCpu) / median(metaCpu); // target: at most 1.0
    state.counters["tool_vs_floor_wall"] = median(toolWall) / median(floorWall);
    state.counters["tool_peak_MiB"] = *std::max_element(peak.begin(), peak.end());
}
BENCHMARK(BM_RepairToolAgainstFloorAndRpmVerify)
    ->Iterations(15)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// rpm's CPU answering the tool's query (where rpm lists for it) against its plain file listing.
void BM_RpmQueryAgainstPlainListing(benchmark::State& state) {
    if (g_root.empty()) {
        state.SkipWithError("needs root to install the packages into a temporary root");
        return;
    }
    std::vector<double> queryCpu, plainCpu;
    const std::string format = helper::RpmListing::format(helper::RpmListing::randomMark());
    for (auto _ : state) {
        const Run plain = run({"/usr/bin/rpm", "--root", g_root, "-qa", "--qf", "[%{FILENAMES}\\n]"});
        const Run query = run({"/usr/bin/rpm", "--root", g_root, "-qa", "--qf", format});
        if (plain.status != 0 || query.status != 0) {
            state.SkipWithError("rpm failed");
            return;
        }
        plainCpu.push_back(plain.cpu);
        queryCpu.push_back(query.cpu);
    }
    state.counters["query_cpu_ms"] = 1000 * median(queryCpu);
    state.counters["plain_cpu_ms"] = 1000 * median(plainCpu);
    state.counters["query_vs_plain_cpu"] = median(queryCpu) / median(plainCpu); // target: at most 1.5
}
BENCHMARK(BM_RpmQueryAgainstPlainListing)->Iterations(15)->Unit(benchmark::kMillisecond)->UseRealTime();

// A copy of the root with nothing of it cached: on a file system of its own, on a loop device that
// bypasses the page cache (direct I/O), mounted again before every run, which drops all the kernel kept
// of it. The machine's own caches and files are left alone; everything goes when it does.
class ColdRoot {
public:
    explicit ColdRoot(const std::string& root) {
        std::string folder = std::filesystem::temp_directory_path() / "varnel-cold-XXXXXX";
        if (!mkdtemp(folder.data()))
            return;
        m_folder = folder;
        const std::string image = m_folder + "/image", mountPoint = m_folder + "/mnt";
        std::filesystem::create_directory(mountPoint);
        int ends[2];
        std::ofstream(image).close();
        if (::truncate(image.c_str(), 16LL << 30) != 0 ||
            run({"/usr/sbin/mkfs.ext4", "-q", "-F", image}).status || pipe2(ends, O_CLOEXEC) != 0)
            return;
        const pid_t losetup =
            spawn({"/usr/sbin/losetup", "--direct-io=on", "--find", "--show", image}, ends[1]);
        ::close(ends[1]);
        char device[64] = {};
        const ssize_t n = ::read(ends[0], device, sizeof device - 1);
        ::close(ends[0]);
        Run attached;
        collect(losetup, attached);
        if (attached.status != 0 || n <= 1)
            return;
        m_device.assign(device, static_cast<size_t>(n) - 1);
        m_mountPoint = mountPoint;
        if (!remount() || run({"/bin/cp", "-a", root, m_mountPoint + "/root"}).status != 0)
            m_mounted = false;
    }
    ~ColdRoot() {
        if (m_mounted)
            run({"/bin/umount", m_mountPoint});
        if (!m_device.empty())
            run({"/usr/sbin/losetup", "--detach", m_device});
        std::error_code ignored;
        if (!m_folder.empty())
            std::filesystem::remove_all(m_folder, ignored);
    }
    bool ready() const { return m_mounted; }
    std::string root() const { return m_mountPoint + "/root"; }
    bool remount() {
        if (m_mounted && run({"/bin/umount", m_mountPoint}).status != 0)
            return m_mounted = false;
        m_mounted = run({"/bin/mount", m_device, m_mountPoint}).status == 0;
        return m_mounted;
    }

private:
    std::string m_folder, m_device, m_mountPoint;
    bool m_mounted = false;
};

// Wall time with nothing cached: the tool against the floor, each on a freshly mounted copy.
void BM_ColdCacheAgainstFloor(benchmark::State& state) {
    if (g_root.empty() || geteuid() != 0) {
        state.SkipWithError("needs root to install the packages and to mount a copy");
        return;
    }
    ColdRoot cold(g_root);
    if (!cold.ready()) {
        state.SkipWithError("no loop device or ext4 file system could be had for a cold copy");
        return;
    }
    std::vector<double> toolWall, floorWall;
    for (auto _ : state) {
        if (!cold.remount()) {
            state.SkipWithError("mounting the cold copy again failed");
            return;
        }
        const Run floor = floorRun(cold.root());
        if (!cold.remount()) {
            state.SkipWithError("mounting the cold copy again failed");
            return;
        }
        const Run tool = run({VARNEL_REPAIR_TOOL, "repairPermissions", "-plist", cold.root()});
        if (floor.status != 0 || tool.status != 0) {
            state.SkipWithError("the floor or the tool failed");
            return;
        }
        toolWall.push_back(tool.seconds);
        floorWall.push_back(floor.seconds);
    }
    state.counters["tool_cold_ms"] = 1000 * median(toolWall);
    state.counters["floor_cold_ms"] = 1000 * median(floorWall);
    state.counters["tool_vs_floor_cold_wall"] = median(toolWall) / median(floorWall); // target: at most 1.0
}
BENCHMARK(BM_ColdCacheAgainstFloor)->Iterations(7)->Unit(benchmark::kMillisecond)->UseRealTime();

// The packages to install: the ones built with the benchmark, or VARNEL_BENCH_LARGE's, built now.
std::string packageFolder(const std::string& scratch) {
    const char* large = std::getenv("VARNEL_BENCH_LARGE");
    if (!large || std::atoi(large) <= 0)
        return VARNEL_BENCH_PACKAGES;
    const std::string folder = scratch + "/packages";
    std::fprintf(stderr, "bench_repair_tool: building %d packages of 111 entries each\n", std::atoi(large));
    if (run({"/bin/bash", VARNEL_MAKE_TEST_PACKAGES, folder, "large", std::to_string(std::atoi(large))})
            .status != 0)
        return {};
    return folder;
}

} // namespace

int main(int argc, char** argv) {
    std::string folder;
    if (const char* kept = std::getenv("VARNEL_BENCH_ROOT"); kept && *kept)
        g_root = kept; // a root a run before kept (VARNEL_BENCH_KEEP)
    else if (geteuid() == 0) {
        std::string pattern = std::filesystem::temp_directory_path() / "varnel-bench-XXXXXX";
        if (mkdtemp(pattern.data()))
            folder = pattern;
    }
    if (!folder.empty()) {
        const std::string root = folder + "/root";
        std::filesystem::create_directories(root + "/etc");
        std::ofstream(root + "/etc/passwd") << "root:x:0:0:root:/root:/bin/sh\n";
        std::ofstream(root + "/etc/group") << "root:x:0:\n";
        const std::string packages = packageFolder(folder);
        std::vector<std::string> install = {"/usr/bin/rpm", "--root", root, "--nodeps", "--install"};
        if (!packages.empty())
            for (const auto& entry : std::filesystem::directory_iterator(packages))
                install.push_back(entry.path());
        if (!packages.empty() && run(install).status == 0)
            g_root = root;
        else
            std::fprintf(stderr, "bench_repair_tool: building or installing the packages failed\n");
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    if (!folder.empty() && !std::getenv("VARNEL_BENCH_KEEP"))
        std::filesystem::remove_all(folder, ignored);
    else if (!folder.empty())
        std::fprintf(stderr, "bench_repair_tool: the root is kept in %s\n", folder.c_str());
    return 0;
}
