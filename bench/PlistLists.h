#pragma once

// The floor the progress benchmarks measure against: the simulator's output split into its property
// lists, and a bare QXmlStreamReader scan of them.
#include "BenchSupport.h"

#include <QByteArray>
#include <QXmlStreamReader>
#include <vector>

namespace bench {

// Each list from its declaration: a reader meets the line break before it as text before the
// declaration, an error that ends its scan at once.
inline std::vector<QByteArray> splitLists(const QByteArray& stream) {
    std::vector<QByteArray> lists;
    for (qsizetype from = stream.indexOf("<?xml"); from >= 0;) {
        const qsizetype end = stream.indexOf("</plist>", from);
        if (end < 0)
            break;
        lists.push_back(stream.mid(from, end + 8 - from));
        from = stream.indexOf("<?xml", end);
    }
    return lists;
}

// This process's CPU seconds for scanning every list with a reader of its own; `readThrough` false when a
// scan ended in an error (then the floor means nothing).
inline double bareScanSeconds(const std::vector<QByteArray>& lists, bool& readThrough) {
    const double before = ownCpuSeconds();
    int errors = 0;
    for (const QByteArray& list : lists) {
        QXmlStreamReader xml(list);
        while (!xml.atEnd())
            xml.readNext();
        errors += xml.hasError();
    }
    readThrough = errors == 0;
    return ownCpuSeconds() - before;
}

} // namespace bench
