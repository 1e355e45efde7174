// The application's own costs: process start to the first frame against a bare Qt window, the progress
// path (runner, reading, controller and bar) against a bare XML scan of the same stream, and memory over
// many runs.
#include "BenchSupport.h"
#include "PlistLists.h"
#include "app/AppDelegate.h"
#include "app/GroupDatabase.h"
#include "app/MainWindow.h"
#include "repair/ProgressChunk.h"
#include "repair/repairPermissions.h"
#include "update/Updater.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QXmlStreamReader>
#include <benchmark/benchmark.h>
#include <chrono>
#include <ctime>

namespace {

using bench::ownCpuSeconds;
using bench::statusMiB;

constexpr int kFloodLists = 200000;

struct Everyone : app::GroupDatabase {
    const char* const* membersOf(const char*) const override {
        static const char* const members[] = {"bench", nullptr};
        return members;
    }
    const char* loginName() const override { return "bench"; }
};

// What a start of a program to its first frame costs: wall time from starting it to the byte it writes at
// its first frame, and the CPU the whole process took until then (it exits there).
struct FirstFrame {
    double wallMs = -1;
    double cpuMs = 0;
};

FirstFrame firstFrame(const char* program, const QString& scratch) {
    // Its own runtime and settings folders: no other copy to find, nothing of the user's touched.
    std::vector<QByteArray> env;
    for (char** e = environ; *e; ++e)
        if (!QByteArray(*e).startsWith("XDG_RUNTIME_DIR=") && !QByteArray(*e).startsWith("XDG_CONFIG_HOME="))
            env.emplace_back(*e);
    env.push_back("XDG_RUNTIME_DIR=" + QFile::encodeName(scratch));
    env.push_back("XDG_CONFIG_HOME=" + QFile::encodeName(scratch));
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        env.push_back("QT_QPA_PLATFORM=offscreen");
    std::vector<char*> envp;
    for (QByteArray& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    FirstFrame result;
    int out[2];
    if (pipe(out) != 0)
        return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {const_cast<char*>(program), nullptr};
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    const bool started = posix_spawn(&pid, program, &actions, nullptr, argv, envp.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    char byte = 0;
    const bool painted = started && read(out[0], &byte, 1) == 1 && byte == 'F';
    const double wallMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    close(out[0]);
    int status = 0;
    rusage usage{};
    if (started)
        wait4(pid, &status, 0, &usage);
    if (painted) {
        result.wallMs = wallMs;
        result.cpuMs = 1000 * bench::cpuSeconds(usage);
    }
    return result;
}

void BM_StartupToFirstFrame(benchmark::State& state) {
    QTemporaryDir scratch;
    const char* const programs[] = {VARNEL_BARE_WINDOW, VARNEL_TEXT_WINDOW, VARNEL_SAME_TEXT_WINDOW,
                                    VARNEL_APP_WINDOW};
    double wall[4] = {}, cpu[4] = {};
    for (auto _ : state) {
        for (int i = 0; i < 4; ++i) {
            const FirstFrame frame = firstFrame(programs[i], scratch.path());
            if (frame.wallMs < 0) {
                state.SkipWithError("a program did not show its first frame");
                return;
            }
            wall[i] += frame.wallMs;
            cpu[i] += frame.cpuMs;
        }
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["bare_ms"] = wall[0] / n;
    state.counters["text_ms"] = wall[1] / n;
    state.counters["same_text_ms"] = wall[2] / n;
    state.counters["varnel_ms"] = wall[3] / n;
    state.counters["bare_cpu_ms"] = cpu[0] / n;
    state.counters["same_text_cpu_ms"] = cpu[2] / n;
    state.counters["varnel_cpu_ms"] = cpu[3] / n;
    state.counters["ratio"] = wall[3] / wall[0];
    // Against a window that shows the same texts, which has loaded the fonts and laid them out too.
    state.counters["ratio_same_text"] = wall[3] / wall[2];   // target: at most 1.2
    state.counters["cpu_ratio_same_text"] = cpu[3] / cpu[2]; // target: at most 1.2
}
BENCHMARK(BM_StartupToFirstFrame)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();

// The real window and controller, driving the simulator.
class Application {
public:
    Application() {
        m_delegate.connectOutlets(m_window);
        m_delegate.setGroupDatabase(std::make_unique<Everyone>());
        m_delegate.setRepairToolPath(QStringLiteral(VARNEL_SIM_PATH));
        m_delegate.applicationDidFinishLaunching();
        update::Updater::updaterForBundle(QLatin1String(app::AppDelegate::kBundleIdentifier))
            ->setAutomaticallyChecksForUpdates(false);
    }
    // One whole run, up to the end call; false when it did not get there in a minute.
    bool run() {
        m_delegate.btnScanAndFixClicked();
        QElapsedTimer timer;
        timer.start();
        waitWhile([&] { return m_delegate.findChild<repair::repairPermissions*>() != nullptr; }, timer);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return m_window.ui.pbProgress->value() == 100 && !m_delegate.findChild<repair::repairPermissions*>();
    }
    void openDetails() { m_window.ui.btnDetails->click(); }
    void setToolPath(const QString& path) { m_delegate.setRepairToolPath(path); }
    // Milliseconds from the click until the window says "Today"; -1 when that took over a minute.
    double millisecondsToToday() {
        QLabel* const lastRun = m_window.ui.lblLastScanned;
        QElapsedTimer timer;
        timer.start();
        m_delegate.btnScanAndFixClicked();
        waitWhile([&] { return lastRun->isHidden() || lastRun->text() != QLatin1String("Today"); }, timer);
        const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        waitWhile([&] { return m_delegate.findChild<repair::repairPermissions*>() != nullptr; }, timer);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return timer.elapsed() < 60000 ? ms : -1;
    }

private:
    // Runs the event loop while the condition holds, for at most a minute from the timer's start. It waits
    // for events rather than polling, so that the CPU it measures is the application's own.
    template <typename Condition>
    static void waitWhile(Condition condition, const QElapsedTimer& timer) {
        QTimer wake; // a look at the condition now and then, whatever happens
        wake.start(100);
        while (condition() && timer.elapsed() < 60000)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

    app::MainWindow m_window;
    app::AppDelegate m_delegate;
};

// What the simulator writes in flood mode, split into its lists.
std::vector<QByteArray> floodLists() {
    QProcess sim;
    sim.start(QStringLiteral(VARNEL_SIM_PATH),
              {QStringLiteral("repairPermissions"), QStringLiteral("-plist"), QStringLiteral("/")});
    sim.waitForFinished(60000);
    return bench::splitLists(sim.readAllStandardOutput());
}

// Counts what the runner delivers, reading progress as the controller does, or not at all.
class ReadingDelegate : public repair::RepairProgressDelegate {
public:
    explicit ReadingDelegate(bool read)
        : m_read(read) {}
    void repairPermissionsProgress(repair::repairPermissions*, const QString& chunk) override {
        if (m_read)
            for (const auto& reading : m_stream.read(chunk))
                m_last = reading.percentComplete.value_or(m_last);
    }
    void repairPermissionsFinished(repair::repairPermissions*, const repair::RepairOutcome&) override {
        m_loop.quit();
    }
    void run() {
        repair::repairPermissions runner(this, QStringLiteral(VARNEL_SIM_PATH));
        if (runner.beginRepair(QStringLiteral("/")))
            m_loop.exec();
    }

private:
    bool m_read;
    repair::ProgressStream m_stream;
    std::ptrdiff_t m_last = 0;
    QEventLoop m_loop;
};

void BM_ProgressPath(benchmark::State& state) {
    qputenv("VARNEL_SIM_MODE", "flood");
    qputenv("VARNEL_SIM_COUNT", QByteArray::number(kFloodLists));
    const std::vector<QByteArray> lists = floodLists();
    Application application;
    double path = 0, scan = 0, runnerOnly = 0, runnerReading = 0, cat = 0, peak = 0;
    for (auto _ : state) {
        bool readThrough = false;
        scan += bench::bareScanSeconds(lists, readThrough);
        if (!readThrough) {
            state.SkipWithError("the bare scan did not read the lists through");
            return;
        }

        const double resident = statusMiB("VmRSS");
        bench::resetPeakMemory();
        double before = ownCpuSeconds();
        if (!application.run()) {
            state.SkipWithError("the run did not complete");
            return;
        }
        path += ownCpuSeconds() - before;
        peak = std::max(peak, statusMiB("VmHWM") - resident);

        before = ownCpuSeconds();
        ReadingDelegate(false).run();
        runnerOnly += ownCpuSeconds() - before;
        before = ownCpuSeconds();
        ReadingDelegate(true).run();
        runnerReading += ownCpuSeconds() - before;
        cat += bench::catCpuSeconds(VARNEL_SIM_PATH);
    }
    const double perList = 1e6 / static_cast<double>(lists.size() * state.iterations()); // µs per list
    state.counters["lists"] = static_cast<double>(lists.size());
    state.counters["path_us_per_list"] = path * perList;
    state.counters["xml_scan_us_per_list"] = scan * perList;
    state.counters["path_vs_scan"] = path / scan; // target: at most 2
    state.counters["runner_us_per_list"] = runnerOnly * perList;
    state.counters["runner_reading_us_per_list"] = runnerReading * perList;
    state.counters["cat_us_per_list"] = cat * perList;
    state.counters["peak_MiB_above_start"] = peak;
    qunsetenv("VARNEL_SIM_COUNT");
    qunsetenv("VARNEL_SIM_MODE");
}
BENCHMARK(BM_ProgressPath)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// A flood of lists that each carry a message, with the details open (the log view follows every line)
// against the same with the details closed (the log kept, the view left alone).
void BM_FloodWithDetails(benchmark::State& state) {
    qputenv("VARNEL_SIM_MODE", "flood");
    qputenv("VARNEL_SIM_COUNT", QByteArray::number(kFloodLists));
    qputenv("VARNEL_SIM_MESSAGES", "1");
    Application closed, open;
    open.openDetails();
    double withView = 0, withoutView = 0, peak = 0;
    for (auto _ : state) {
        double before = ownCpuSeconds();
        if (!closed.run()) {
            state.SkipWithError("the run did not complete");
            return;
        }
        withoutView += ownCpuSeconds() - before;
        const double resident = statusMiB("VmRSS");
        bench::resetPeakMemory();
        before = ownCpuSeconds();
        if (!open.run()) {
            state.SkipWithError("the run did not complete");
            return;
        }
        withView += ownCpuSeconds() - before;
        peak = std::max(peak, statusMiB("VmHWM") - resident);
    }
    const double perList = 1e6 / static_cast<double>(kFloodLists) / static_cast<double>(state.iterations());
    state.counters["with_view_us_per_list"] = withView * perList;
    state.counters["without_view_us_per_list"] = withoutView * perList;
    state.counters["view_ratio"] = withView / withoutView; // target: at most 1.5
    state.counters["peak_MiB_above_start"] = peak;
    for (const char* name : {"VARNEL_SIM_MODE", "VARNEL_SIM_COUNT", "VARNEL_SIM_MESSAGES"})
        qunsetenv(name);
}
BENCHMARK(BM_FloodWithDetails)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// Click to "Today" for a repair that finds 5% of a large root broken: some 15,000 messages, written at the
// pace of the real tool on such a root (1.73 s; Arg is that time in ms, 0 for as fast as it can), against
// the same output going to cat. The tool's recorded output is replayed, so both runs see the same bytes.
void BM_ClickToToday(benchmark::State& state) {
    QTemporaryDir scratch;
    const QString recording = scratch.filePath(QStringLiteral("tool-output"));
    {
        QProcess sim;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VARNEL_SIM_MODE"), QStringLiteral("flood"));
        env.insert(QStringLiteral("VARNEL_SIM_COUNT"), QStringLiteral("15000"));
        env.insert(QStringLiteral("VARNEL_SIM_MESSAGES"), QStringLiteral("1"));
        sim.setProcessEnvironment(env);
        sim.setStandardOutputFile(recording);
        sim.start(QStringLiteral(VARNEL_SIM_PATH),
                  {QStringLiteral("repairPermissions"), QStringLiteral("-plist"), QStringLiteral("/")});
        sim.waitForFinished(60000);
    }
    qputenv("VARNEL_REPLAY_FILE", QFile::encodeName(recording));
    qputenv("VARNEL_REPLAY_MS", QByteArray::number(state.range(0)));
    Application application;
    application.setToolPath(QStringLiteral(VARNEL_REPLAY_TOOL));
    double window = 0, tool = 0, windowCpu = 0, catCpu = 0;
    for (auto _ : state) {
        const double before = ownCpuSeconds();
        const double ms = application.millisecondsToToday();
        windowCpu += ownCpuSeconds() - before;
        if (ms < 0) {
            state.SkipWithError("the window did not say Today");
            return;
        }
        window += ms;
        double wall = 0;
        catCpu += bench::catCpuSeconds(VARNEL_REPLAY_TOOL, &wall);
        tool += wall * 1000;
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["window_ms"] = window / n;
    state.counters["tool_to_cat_ms"] = tool / n;
    state.counters["window_vs_tool"] = window / tool; // target: at most 1.1
    state.counters["window_cpu_ms"] = 1000 * windowCpu / n;
    state.counters["cat_cpu_ms"] = 1000 * catCpu / n;
    qunsetenv("VARNEL_REPLAY_FILE");
    qunsetenv("VARNEL_REPLAY_MS");
}
BENCHMARK(BM_ClickToToday)->Arg(1730)->Arg(0)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_HundredRuns(benchmark::State& state) {
    qputenv("VARNEL_SIM_DURATION_MS", "0");
    Application application;
    double afterFirst = 0, afterAll = 0;
    for (auto _ : state) {
        if (!application.run()) {
            state.SkipWithError("a run did not complete");
            return;
        }
        if (afterFirst == 0)
            afterFirst = statusMiB("VmRSS");
    }
    afterAll = statusMiB("VmRSS");
    state.counters["MiB_after_first"] = afterFirst;
    state.counters["MiB_after_all"] = afterAll;
    state.counters["growth_MiB"] = afterAll - afterFirst; // target: within 2
    qunsetenv("VARNEL_SIM_DURATION_MS");
}
BENCHMARK(BM_HundredRuns)->Iterations(100)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    QStandardPaths::setTestModeEnabled(true); // the runs store their time in throw-away settings
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("VarnelBench"));
    QApplication::setApplicationName(QStringLiteral("VarnelBench"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
