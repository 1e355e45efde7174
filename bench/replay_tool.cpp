// A stand-in repair tool that replays a recorded output: `replay_tool repairPermissions -plist <volume>`
// writes the file VARNEL_REPLAY_FILE names, a list per write, spread evenly over VARNEL_REPLAY_MS
// milliseconds (0: as fast as it can), then exits 0. bench_app times the window against it.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

bool writeAll(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const char* file = std::getenv("VARNEL_REPLAY_FILE");
    if (argc != 4 || !file)
        return 1;
    std::FILE* in = std::fopen(file, "rb");
    if (!in)
        return 1;
    std::string all;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
        all.append(buffer, n);
    std::fclose(in);
    std::vector<std::string_view> lists;
    for (size_t from = 0; from < all.size();) {
        const size_t next = all.find("<?xml", from + 1);
        const size_t end = next == std::string::npos ? all.size() : next;
        lists.emplace_back(all.data() + from, end - from);
        from = end;
    }
    const char* ms = std::getenv("VARNEL_REPLAY_MS");
    const auto duration = std::chrono::milliseconds(ms ? std::atol(ms) : 0);
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < lists.size(); ++i) {
        const auto due = start + duration * i / lists.size();
        if (std::chrono::steady_clock::now() < due)
            std::this_thread::sleep_until(due);
        if (!writeAll(lists[i]))
            return 3;
    }
    std::this_thread::sleep_until(start + duration);
    return 0;
}
