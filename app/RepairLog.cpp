#include "app/RepairLog.h"

#include "core/CheckedConversion.h"
#include "dateutil/Clock.h"
#include "dateutil/Date.h"

#include <QElapsedTimer>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

namespace app {
namespace {

// How often an open view catches up: every tenth of a second, less often while it takes long to, so that
// a flood costs the window a bounded share of its time.
constexpr int kBatchMs = 100;
constexpr int kLongestBatchMs = 1000;
constexpr int kBusyShareDivisor = 4;

} // namespace

RepairLog::RepairLog(QObject* parent)
    : QObject(parent) {
    m_batch.setSingleShot(true);
    m_batch.setInterval(kBatchMs);
    connect(&m_batch, &QTimer::timeout, this, &RepairLog::flush);
}

void RepairLog::setView(QPlainTextEdit* view, QLabel* droppedLabel) {
    m_view = view;
    m_droppedLabel = droppedLabel;
    if (m_view) {
        // The view keeps no more than the log does, so it cannot grow past it either.
        m_view->setMaximumBlockCount(static_cast<int>(kMaxLines));
        // The view follows new lines while the user has not scrolled up. The bar's range is what grows
        // (the view lays wrapped lines out late, so their room only shows up then), and the view's own
        // "at the bottom" check before an append misses that.
        QScrollBar* bar = m_view->verticalScrollBar();
        connect(bar, &QScrollBar::valueChanged, this,
                [this, bar](int value) { m_following = value >= bar->maximum(); });
        connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
            if (m_following)
                bar->setValue(maximum);
        });
    }
    showDropped();
}

void RepairLog::setViewOpen(bool open) {
    m_open = open;
    m_waiting.clear();
    m_batch.stop();
    if (!m_view || !open)
        return;
    // Its font is looked up when it first opens, not at start-up, when the window is not showing it.
    if (!m_view->testAttribute(Qt::WA_SetFont))
        m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    QStringList all;
    all.reserve(lineCount());
    for (const QString& line : m_lines)
        all << line;
    m_view->setPlainText(all.join(QLatin1Char('\n')));
    m_view->verticalScrollBar()->setValue(m_view->verticalScrollBar()->maximum());
    showDropped();
}

void RepairLog::clear() {
    m_lines.clear();
    m_dropped = 0;
    m_waiting.clear();
    m_batch.stop();
    if (m_view)
        m_view->clear();
    showDropped();
}

void RepairLog::add(const QString& text) {
    QString line = timeOfDay() + QLatin1String("  ") + text;
    if (m_open && m_view) {
        m_waiting << line;
        if (m_waiting.size() > kMaxLines)
            m_waiting.removeFirst();
        if (!m_batch.isActive())
            m_batch.start();
    }
    m_lines.push_back(std::move(line));
    if (lineCount() > kMaxLines) {
        m_lines.pop_front();
        ++m_dropped;
    }
}

void RepairLog::flush() {
    m_batch.stop();
    if (m_view && !m_waiting.isEmpty()) {
        QElapsedTimer took;
        took.start();
        m_view->appendPlainText(m_waiting.join(QLatin1Char('\n')));
        // Lines that wait longer are fewer to show: only the newest kMaxLines of them ever reach the view.
        m_batch.setInterval(static_cast<int>(
            std::clamp<qint64>(took.elapsed() * kBusyShareDivisor, kBatchMs, kLongestBatchMs)));
    }
    m_waiting.clear();
    showDropped();
}

QString RepairLog::text() const {
    QString text;
    if (m_dropped > 0)
        text += QLatin1Char('(') + droppedText() + QLatin1String(")\n");
    for (const QString& line : m_lines)
        text += line + QLatin1Char('\n');
    return text;
}

QString RepairLog::droppedText() const {
    return m_dropped == 1 ? tr("1 earlier line not kept") : tr("%1 earlier lines not kept").arg(m_dropped);
}

QString RepairLog::timeOfDay() {
    const double now = dateutil::currentSeconds();
    const qint64 second = varnel::saturatingTruncate<qint64>(std::floor(now));
    if (second != m_stampedSecond) {
        const dateutil::DateComponents c = dateutil::Date(now).components();
        m_stamp = QStringLiteral("%1:%2:%3")
                      .arg(c.hour, 2, 10, QLatin1Char('0'))
                      .arg(c.minute, 2, 10, QLatin1Char('0'))
                      .arg(c.second, 2, 10, QLatin1Char('0'));
        m_stampedSecond = second;
    }
    return m_stamp;
}

void RepairLog::showDropped() {
    if (!m_droppedLabel)
        return;
    m_droppedLabel->setVisible(m_dropped > 0);
    if (m_dropped > 0)
        m_droppedLabel->setText(droppedText());
}

} // namespace app
