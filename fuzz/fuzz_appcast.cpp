// The release-feed reader on arbitrary bytes, and the version order on the versions it finds. Besides the
// sanitizers, it checks that every link it hands out is a web link and that the order is consistent.
#include "update/Appcast.h"
#include "update/VersionComparator.h"

#include <QByteArray>
#include <QUrl>
#include <compare>
#include <cstddef>
#include <cstdint>

namespace {

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

void checkLink(const QUrl& url) {
    check(url.isEmpty() || update::isWebLink(url));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray xml =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto feed = update::Appcast::parse(xml, QUrl(QStringLiteral("http://www.example.org/updates")));
    if (!feed)
        return 0;
    const auto newest = feed->newestItem();
    for (const auto& item : feed->items()) {
        checkLink(item.downloadPage);
        checkLink(item.releaseNotesLink);
        using update::VersionComparator;
        check(VersionComparator::compare(item.version, item.version) == std::weak_ordering::equivalent);
        if (newest && !item.version.isEmpty()) {
            const auto forward = VersionComparator::compare(newest->version, item.version);
            check(forward != std::weak_ordering::less);
            check(VersionComparator::compare(item.version, newest->version) == (0 <=> forward));
        }
    }
    return 0;
}
