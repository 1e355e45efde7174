// Throughput of parseAll on the repair tool's progress output, against a bare QXmlStreamReader token scan
// of the same lists measured in the same run. The ratio parseAll time / scan time is the figure to watch
// (target: at most 3).
#include "plist/PropertyList.h"

#include <QString>
#include <QXmlStreamReader>
#include <benchmark/benchmark.h>
#include <chrono>
#include <vector>

namespace {

struct Stream {
    std::vector<QString> chunks; // as the runner hands them on: one to four whole lists each
    std::vector<QString> lists;  // the same lists one by one, for the scan
    double megabytes = 0;        // UTF-8 size of the output
};

QString progressList(int step, int steps) {
    const bool end = step == steps;
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
               "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
               "<plist version=\"1.0\">\n<dict>\n"
               "\t<key>End</key>\n\t<%1/>\n"
               "\t<key>PercentComplete</key>\n\t<real>%2</real>\n"
               "\t<key>Message</key>\n\t<string>Repairing permissions for “/Library/Files %3”</string>\n"
               "</dict>\n</plist>\n")
        .arg(end ? "true" : "false")
        .arg(100.0 * step / steps, 0, 'f', 6)
        .arg(step);
}

const Stream& stream() {
    static const Stream s = [] {
        Stream s;
        constexpr int kSteps = 4000;
        QString chunk;
        int inChunk = 0;
        for (int step = 1; step <= kSteps; ++step) {
            s.lists.push_back(progressList(step, kSteps));
            s.megabytes += s.lists.back().toUtf8().size() / 1e6;
            chunk += s.lists.back();
            if (++inChunk == 1 + step % 4 || step == kSteps) {
                s.chunks.push_back(chunk);
                chunk.clear();
                inChunk = 0;
            }
        }
        return s;
    }();
    return s;
}

std::size_t parseStream(const Stream& s) {
    std::size_t found = 0;
    for (const QString& chunk : s.chunks) {
        for (const auto& list : plist::parseAll(chunk))
            found += plist::doubleValue(list.find(u"PercentComplete")) > 0;
    }
    return found;
}

std::size_t scanStream(const Stream& s) {
    std::size_t tokens = 0;
    for (const QString& list : s.lists) {
        QXmlStreamReader reader(list);
        while (!reader.atEnd()) {
            reader.readNext();
            ++tokens;
        }
    }
    return tokens;
}

// Megabytes of the tool's output (UTF-8) read per second.
void setThroughput(benchmark::State& state, double megabytes) {
    state.counters["MB"] = benchmark::Counter(megabytes, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ParseAll(benchmark::State& state) {
    const Stream& s = stream();
    for (auto _ : state)
        benchmark::DoNotOptimize(parseStream(s));
    setThroughput(state, s.megabytes);
}
BENCHMARK(BM_ParseAll)->Unit(benchmark::kMillisecond);

void BM_XmlTokenScan(benchmark::State& state) {
    const Stream& s = stream();
    for (auto _ : state)
        benchmark::DoNotOptimize(scanStream(s));
    setThroughput(state, s.megabytes);
}
BENCHMARK(BM_XmlTokenScan)->Unit(benchmark::kMillisecond);

// Both in every iteration, so the ratio is not skewed by load that comes and goes on the machine.
void BM_ParseAllOverXmlScan(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    const Stream& s = stream();
    Clock::duration parse{}, scan{};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        benchmark::DoNotOptimize(parseStream(s));
        const auto t1 = Clock::now();
        benchmark::DoNotOptimize(scanStream(s));
        const auto t2 = Clock::now();
        parse += t1 - t0;
        scan += t2 - t1;
    }
    const double n = static_cast<double>(state.iterations());
    const double parseSeconds = std::chrono::duration<double>(parse).count();
    const double scanSeconds = std::chrono::duration<double>(scan).count();
    state.counters["parseAll_MB/s"] = s.megabytes * n / parseSeconds;
    state.counters["xml_scan_MB/s"] = s.megabytes * n / scanSeconds;
    state.counters["ratio"] = parseSeconds / scanSeconds;
}
BENCHMARK(BM_ParseAllOverXmlScan)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
