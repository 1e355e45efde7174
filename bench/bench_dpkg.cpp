// The dpkg backend against its floors, on a temporary root of a few hundred packages built with dpkg-deb:
//  - a first run (no cache: every .deb read, the cache written) against libarchive's bare read of the same
//    archives' data.tar headers, both on one thread, and the first run on every core;
//  - a cached run against reading the dpkg database (status, every .list) plus one fstatat per path.
// VARNEL_BENCH_DPKG_ROOT=<an installed system> runs the same on a copy of that system's dpkg database,
// accounts and apt archives (the system itself is only read: the fstatat floor looks at its files).
// apt's archives must be root's for the backend to read them: without root the benchmarks skip.
#include "helper/dpkg/DpkgDatabase.h"

#include <archive.h>
#include <archive_entry.h>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace helper::dpkg;

namespace {

fs::path g_root;
int g_rootFd = -1;
int g_filesFd = -1; // where the packaged files are: the temporary root, or the system it copies
std::vector<std::string> g_debs;
size_t g_notCompared = 0; // installed packages whose archive is not there

// Wall-clock and CPU seconds (every thread's) of one piece of work: on a machine others share, the CPU
// figure is the steadier of the two.
struct Cost {
    double wall = 0, cpu = 0;
    Cost& operator+=(const Cost& other) {
        wall += other.wall;
        cpu += other.cpu;
        return *this;
    }
};

double processCpu() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Cost measure(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = processCpu();
    work();
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            processCpu() - cpuStart};
}

void report(benchmark::State& state, const char* ours, const char* floor, const char* ratio, const Cost& a,
            const Cost& b) {
    const double n = static_cast<double>(state.iterations());
    state.counters[std::string(ours) + "_ms"] = 1000 * a.wall / n;
    state.counters[std::string(floor) + "_ms"] = 1000 * b.wall / n;
    state.counters[ratio] = a.wall / b.wall;
    state.counters[std::string(ratio) + "_cpu"] = a.cpu / b.cpu;
}

la_ssize_t readInner(archive*, void* outer, const void** block) {
    static thread_local char buffer[65536];
    *block = buffer;
    return archive_read_data(static_cast<archive*>(outer), buffer, sizeof buffer);
}

// libarchive alone: every header of every data.tar, nothing else.
size_t bareHeaderRead() {
    size_t headers = 0;
    for (const std::string& deb : g_debs) {
        archive* outer = archive_read_new();
        archive_read_support_format_ar(outer);
        archive_read_open_filename(outer, deb.c_str(), 65536);
        archive_entry* entry = nullptr;
        while (archive_read_next_header(outer, &entry) == ARCHIVE_OK) {
            if (std::string_view(archive_entry_pathname(entry)).substr(0, 8) != "data.tar")
                continue;
            archive* inner = archive_read_new();
            archive_read_support_format_tar(inner);
            archive_read_support_filter_all(inner);
            archive_read_open(inner, outer, nullptr, readInner, nullptr);
            archive_entry* member = nullptr;
            while (archive_read_next_header(inner, &member) == ARCHIVE_OK)
                ++headers;
            archive_read_free(inner);
            break;
        }
        archive_read_free(outer);
    }
    return headers;
}

// The database as text plus one fstatat per listed path.
size_t databaseAndStat() {
    std::ifstream status(g_root / "var/lib/dpkg/status");
    std::string text{std::istreambuf_iterator<char>(status), {}};
    size_t found = 0;
    for (const InstalledPackage& package : parseStatus(text)) {
        const fs::path info = g_root / "var/lib/dpkg/info";
        std::ifstream list(info / (package.name + ":" + package.architecture + ".list"));
        if (!list)
            list.open(info / (package.name + ".list"));
        for (std::string line; std::getline(list, line);) {
            struct stat st {};
            found += ::fstatat(g_filesFd, line.c_str() + 1, &st, AT_SYMLINK_NOFOLLOW) == 0;
        }
    }
    return found;
}

size_t backend(unsigned threads, bool cached) {
    DpkgOptions options;
    options.threads = threads;
    options.readCache = cached;
    options.writeCache = !cached;
    const auto listing = readDpkgDatabase(g_rootFd, options);
    return listing && listing->notCompared.size() <= g_notCompared ? listing->files.size() : 0;
}

// A first run finds no cache.
void forgetCache() {
    std::error_code ignored;
    fs::remove_all(g_root / "var/lib/varnel", ignored);
}

void BM_FirstRunAgainstBareHeaderRead(benchmark::State& state) {
    if (g_rootFd < 0)
        return state.SkipWithError("needs root (apt's archives must be root's) and dpkg-deb's packages");
    const unsigned threads = static_cast<unsigned>(state.range(0));
    Cost ours, bare;
    for (auto _ : state) {
        size_t a = 0, b = 0;
        bare += measure([&] { b = bareHeaderRead(); });
        state.PauseTiming();
        forgetCache();
        state.ResumeTiming();
        ours += measure([&] { a = backend(threads, false); });
        if (a == 0 || b == 0)
            return state.SkipWithError("a read failed");
    }
    report(state, "first_run", "bare_read", "first_vs_bare", ours, bare); // target: at most 1.2
}
BENCHMARK(BM_FirstRunAgainstBareHeaderRead)
    ->Arg(1)
    ->Arg(0)
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_CachedRunAgainstDatabaseAndStat(benchmark::State& state) {
    if (g_rootFd < 0)
        return state.SkipWithError("needs root (apt's archives must be root's) and dpkg-deb's packages");
    backend(0, false); // the cache
    Cost ours, floor;
    for (auto _ : state) {
        size_t a = 0, b = 0;
        floor += measure([&] { b = databaseAndStat(); });
        ours += measure([&] { a = backend(0, true); });
        if (a == 0 || b == 0)
            return state.SkipWithError("a read failed");
    }
    report(state, "cached_run", "database_stat", "cached_vs_floor", ours, floor); // target: at most 1.5
}
BENCHMARK(BM_CachedRunAgainstDatabaseAndStat)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();

// A root with every benchmark package installed as far as the backend looks: status, lists, the archives
// in apt's cache, and the files themselves (for the fstatat floor).
bool makeSyntheticRoot() {
    fs::create_directories(g_root / "var/lib/dpkg/info");
    fs::create_directories(g_root / "var/cache/apt/archives");
    std::ofstream status(g_root / "var/lib/dpkg/status");
    for (const auto& entry : fs::directory_iterator(VARNEL_BENCH_DEBS)) {
        const std::string name = entry.path().filename();
        if (entry.path().extension() != ".deb")
            continue;
        const std::string package = name.substr(0, name.find('_'));
        status << "Package: " << package
               << "\nStatus: install ok installed\nArchitecture: amd64\nVersion: 1.0\n\n";
        fs::copy_file(entry.path(), g_root / "var/cache/apt/archives" / name);
        const fs::path list = fs::path(VARNEL_BENCH_DEBS) / (package + "_amd64.list");
        fs::copy_file(list, g_root / "var/lib/dpkg/info" / (package + ".list"));
        std::ifstream in(list);
        for (std::string line; std::getline(in, line);)
            if (line.find("file-") != std::string::npos) {
                fs::create_directories(g_root / fs::path(line.substr(1)).parent_path());
                std::ofstream(g_root / line.substr(1)) << "x";
            }
    }
    g_filesFd = ::open(g_root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return true;
}

// A copy of what the backend reads of an installed system; its files stay where they are.
bool copySystemRoot(const fs::path& system) {
    const auto copy = [&](const char* path) {
        std::error_code error;
        fs::create_directories((g_root / path).parent_path());
        fs::copy(system / path, g_root / path, fs::copy_options::recursive | fs::copy_options::copy_symlinks,
                 error);
    };
    for (const char* path : {"var/lib/dpkg", "etc/passwd", "etc/group", "var/cache/apt/archives", "bin",
                             "sbin", "lib", "lib32", "lib64", "libx32"})
        copy(path);
    g_filesFd = ::open(system.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return g_filesFd >= 0;
}

bool makeRoot() {
    char pattern[] = "/tmp/varnel-bench-dpkg-XXXXXX";
    if (::geteuid() != 0 || !::mkdtemp(pattern))
        return false;
    g_root = pattern;
    const char* system = std::getenv("VARNEL_BENCH_DPKG_ROOT");
    if (!(system ? copySystemRoot(system) : makeSyntheticRoot()))
        return false;
    g_rootFd = ::open(g_root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    // The bare read takes the archives of exactly the installed versions, as the backend does; packages
    // without one are left out of both.
    std::ifstream status(g_root / "var/lib/dpkg/status");
    const std::string text{std::istreambuf_iterator<char>(status), {}};
    for (const InstalledPackage& package : parseStatus(text)) {
        std::string version = package.version;
        for (size_t colon; (colon = version.find(':')) != std::string::npos;)
            version.replace(colon, 1, "%3a");
        const fs::path deb = g_root / "var/cache/apt/archives" /
                             (package.name + "_" + version + "_" + package.architecture + ".deb");
        if (fs::exists(deb))
            g_debs.push_back(deb);
        else
            ++g_notCompared;
    }
    std::fprintf(stderr, "bench_dpkg: %zu installed packages, %zu without their archive\n",
                 g_debs.size() + g_notCompared, g_notCompared);
    return !g_debs.empty();
}

} // namespace

int main(int argc, char** argv) {
    if (!makeRoot())
        std::fprintf(stderr, "bench_dpkg: needs root and the packages; skipping\n");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    if (!g_root.empty())
        fs::remove_all(g_root, ignored);
    return 0;
}
