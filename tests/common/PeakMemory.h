#pragma once

#include <QFile>

// The most memory this process has held since the last resetPeakMemory(), in KiB (Linux).
inline long peakMemoryKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = status.readAll();
    const qsizetype at = text.indexOf("VmHWM:") + 6;
    return text.mid(at, text.indexOf('\n', at) - at).trimmed().split(' ').value(0).toLong();
}

// Lowers the peak to what the process holds now.
inline bool resetPeakMemory() {
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}
