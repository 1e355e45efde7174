// Reading the largest feed the client accepts (1 MiB), against a bare QXmlStreamReader scan of the same
// bytes measured in the same run. Target: the reader stays within 3x the scan.
#include "update/Appcast.h"
#include "update/VersionComparator.h"

#include <QByteArray>
#include <QUrl>
#include <QXmlStreamReader>
#include <benchmark/benchmark.h>
#include <chrono>

namespace {

constexpr double kTargetRatio = 3.0;

QByteArray largestFeed() {
    const QString ns = QString::fromUtf16(update::kAppcastNamespace);
    QByteArray xml =
        QStringLiteral("<rss version=\"2.0\" xmlns:sparkle=\"%1\"><channel><title>Varnel</title>")
            .arg(ns)
            .toUtf8();
    for (int i = 0; xml.size() < 1024 * 1024 - 600; ++i) {
        xml += QStringLiteral(
                   "<item><title>Version 1.%1</title><pubDate>Tue, 01 Dec 2026 10:00:00 +0000</pubDate>"
                   "<sparkle:version>1.%1.0</sparkle:version><sparkle:shortVersionString>1.%1"
                   "</sparkle:shortVersionString><sparkle:releaseNotesLink>http://www.varnel.app/r/%1.html"
                   "</sparkle:releaseNotesLink><link>http://www.varnel.app/download</link><enclosure "
                   "url=\"http://www.varnel.app/d/%1.zip\" length=\"1843200\" type=\"application/"
                   "octet-stream\"/></item>")
                   .arg(i)
                   .toUtf8();
    }
    return xml + "</channel></rss>";
}

const QByteArray& feed() {
    static const QByteArray xml = largestFeed();
    return xml;
}

qint64 rawScan(const QByteArray& xml) {
    QXmlStreamReader reader(xml);
    qint64 tokens = 0;
    while (!reader.atEnd()) {
        reader.readNext();
        ++tokens;
    }
    return tokens;
}

std::size_t readFeed(const QByteArray& xml) {
    const auto cast = update::Appcast::parse(xml, QUrl(QStringLiteral("http://www.varnel.app/updates")));
    return cast && cast->newestItem() ? cast->items().size() : 0;
}

template <typename F>
double secondsFor(F&& f, int rounds) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i)
        benchmark::DoNotOptimize(f());
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_RawXmlScan(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(rawScan(feed()));
    state.SetBytesProcessed(state.iterations() * feed().size());
}
BENCHMARK(BM_RawXmlScan)->Unit(benchmark::kMillisecond);

void BM_ReadLargestFeed(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(readFeed(feed()));
    state.SetBytesProcessed(state.iterations() * feed().size());
    // The ratio to the scan, both timed here back to back so machine load affects them alike.
    const double raw = secondsFor([] { return rawScan(feed()); }, 10);
    const double read = secondsFor([] { return readFeed(feed()); }, 10);
    state.counters["ratio_to_raw_scan"] = read / raw;
    if (read / raw > kTargetRatio)
        state.SkipWithError("reading the feed takes more than 3x a raw scan");
}
BENCHMARK(BM_ReadLargestFeed)->Unit(benchmark::kMillisecond);

void BM_CompareVersions(benchmark::State& state) {
    const QString a = QStringLiteral("1.10.3b12"), b = QStringLiteral("1.10.3");
    for (auto _ : state)
        benchmark::DoNotOptimize(update::VersionComparator::compare(a, b));
}
BENCHMARK(BM_CompareVersions);

} // namespace

BENCHMARK_MAIN();
