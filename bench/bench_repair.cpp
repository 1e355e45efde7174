// The repair runner's cost: CPU and memory for a flood of tool output, measured against cat reading the
// same stream, and CPU while a tool that has closed its output lingers before it exits.
#include "BenchSupport.h"
#include "PlistLists.h"
#include "repair/ProgressChunk.h"
#include "repair/repairPermissions.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QXmlStreamReader>
#include <algorithm>
#include <benchmark/benchmark.h>

namespace {

using bench::ownCpuSeconds;
using bench::resetPeakMemory;
using bench::statusMiB;

constexpr double kMiB = 1024.0 * 1024.0;
// About 100 MiB of output: each flood list is some 240 bytes.
constexpr const char* kFloodCount = "441000";

// Counts what the runner delivers and stops the event loop at the end call.
class BenchDelegate : public repair::RepairProgressDelegate {
public:
    void repairPermissionsProgress(repair::repairPermissions*, const QString& chunk) override {
        // Each chunk is read for progress as the application reads it.
        m_characters += chunk.size();
        for (const auto& reading : repair::readProgressChunk(chunk))
            m_lastPercent = reading.percentComplete.value_or(m_lastPercent);
    }
    void repairPermissionsFinished(repair::repairPermissions*,
                                   const repair::RepairOutcome& outcome) override {
        m_succeeded = outcome.succeeded();
        m_loop.quit();
    }
    // One whole run of the simulator; false when it did not start or did not succeed.
    bool run() {
        repair::repairPermissions runner(this, QStringLiteral(VARNEL_SIM_PATH));
        if (!runner.beginRepair(QStringLiteral("/")))
            return false;
        m_loop.exec();
        return m_succeeded;
    }
    qint64 characters() const { return m_characters; }
    std::ptrdiff_t lastPercent() const { return m_lastPercent; }

private:
    QEventLoop m_loop;
    qint64 m_characters = 0;
    std::ptrdiff_t m_lastPercent = 0;
    bool m_succeeded = false;
};

void BM_FloodThroughRunner(benchmark::State& state) {
    setenv("VARNEL_SIM_MODE", "flood", 1);
    setenv("VARNEL_SIM_COUNT", kFloodCount, 1);
    double runnerCpu = 0, catCpu = 0, peakAboveStart = 0, mib = 0;
    for (auto _ : state) {
        BenchDelegate delegate;
        const double startResident = statusMiB("VmRSS");
        resetPeakMemory();
        const double cpuBefore = ownCpuSeconds();
        if (!delegate.run() || delegate.lastPercent() != 100) {
            state.SkipWithError("the simulator run failed or its progress did not read as complete");
            break;
        }
        runnerCpu += ownCpuSeconds() - cpuBefore;
        peakAboveStart = std::max(peakAboveStart, statusMiB("VmHWM") - startResident);
        mib += static_cast<double>(delegate.characters()) / kMiB; // the output is ASCII: a byte per character
        catCpu += bench::catCpuSeconds(VARNEL_SIM_PATH);
    }
    state.counters["MiB_per_run"] = mib / static_cast<double>(state.iterations());
    state.counters["runner_ms_per_MiB"] = 1000 * runnerCpu / mib;
    state.counters["cat_ms_per_MiB"] = 1000 * catCpu / mib;
    state.counters["runner_vs_cat"] = runnerCpu / catCpu;
    state.counters["peak_MiB_above_start"] = peakAboveStart; // target: under 8
    unsetenv("VARNEL_SIM_COUNT");
    unsetenv("VARNEL_SIM_MODE");
}
BENCHMARK(BM_FloodThroughRunner)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ToolLingeringAfterClosingItsOutput(benchmark::State& state) {
    setenv("VARNEL_SIM_MODE", "close-early", 1);
    setenv("VARNEL_SIM_DURATION_MS", "3000", 1);
    double cpu = 0;
    for (auto _ : state) {
        BenchDelegate delegate;
        const double cpuBefore = ownCpuSeconds();
        if (!delegate.run()) {
            state.SkipWithError("the simulator run failed");
            break;
        }
        cpu += ownCpuSeconds() - cpuBefore;
    }
    state.counters["app_cpu_ms"] = 1000 * cpu / static_cast<double>(state.iterations()); // target: under 10
    unsetenv("VARNEL_SIM_DURATION_MS");
    unsetenv("VARNEL_SIM_MODE");
}
BENCHMARK(BM_ToolLingeringAfterClosingItsOutput)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// What the simulator writes in flood mode: every list, and the whole stream.
struct Flood {
    std::vector<QByteArray> lists;
    QByteArray stream;
};

Flood recordFlood(const char* count) {
    QProcess sim;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VARNEL_SIM_MODE"), QStringLiteral("flood"));
    env.insert(QStringLiteral("VARNEL_SIM_COUNT"), QString::fromLatin1(count));
    sim.setProcessEnvironment(env);
    sim.start(QStringLiteral(VARNEL_SIM_PATH),
              {QStringLiteral("repairPermissions"), QStringLiteral("-plist"), QStringLiteral("/")});
    sim.waitForFinished(60000);
    Flood flood;
    flood.stream = sim.readAllStandardOutput();
    flood.lists = bench::splitLists(flood.stream);
    return flood;
}

// The reading of progress alone, bytes in and readings out, as the runner decodes and the controller
// reads: against a bare XML scan of the same lists, one reader each. Arg 0 delivers a list per piece
// (a tool the window keeps up with), otherwise pieces of that many bytes (a window behind a flood).
void BM_ProgressReading(benchmark::State& state) {
    static const Flood flood = recordFlood(qEnvironmentVariableIsSet("VARNEL_BENCH_LISTS")
                                               ? qgetenv("VARNEL_BENCH_LISTS").constData()
                                               : "100000");
    const auto pieceBytes = static_cast<qsizetype>(state.range(0));
    std::vector<QByteArrayView> pieces;
    if (pieceBytes == 0) {
        pieces.assign(flood.lists.begin(), flood.lists.end());
    } else {
        for (qsizetype at = 0; at < flood.stream.size(); at += pieceBytes)
            pieces.push_back(
                QByteArrayView(flood.stream).sliced(at, std::min(pieceBytes, flood.stream.size() - at)));
    }
    double reading = 0, scan = 0;
    std::size_t readings = 0;
    for (auto _ : state) {
        bool readThrough = false;
        scan += bench::bareScanSeconds(flood.lists, readThrough);
        if (!readThrough) {
            state.SkipWithError("the bare scan did not read the lists through");
            return;
        }

        const double before = ownCpuSeconds();
        repair::Utf8StreamDecoder decoder;
        repair::ProgressStream stream;
        readings = 0;
        for (const QByteArrayView piece : pieces)
            readings += stream.read(decoder.decode(piece)).size();
        reading += ownCpuSeconds() - before;
    }
    if (readings != flood.lists.size()) {
        state.SkipWithError("not every list was read");
        return;
    }
    const double perList = 1e6 / static_cast<double>(flood.lists.size() * state.iterations());
    state.counters["reading_us_per_list"] = reading * perList;
    state.counters["xml_scan_us_per_list"] = scan * perList;
    state.counters["reading_vs_scan"] = reading / scan; // target: at most 2
}
BENCHMARK(BM_ProgressReading)->Arg(0)->Arg(16384)->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
