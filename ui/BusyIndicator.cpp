#include "ui/BusyIndicator.h"

#include <QPainter>
#include <QTimerEvent>

namespace ui {
namespace {

constexpr int kSpokes = 12;
constexpr int kStepMs = 80;

} // namespace

BusyIndicator::BusyIndicator(QWidget* parent)
    : QProgressBar(parent) {
    setRange(0, 0);
    setTextVisible(false);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void BusyIndicator::startAnimation() {
    m_animating = true;
    updateTimer();
}

void BusyIndicator::stopAnimation() {
    m_animating = false;
    updateTimer();
    update();
}

QSize BusyIndicator::sizeHint() const {
    const int side = fontMetrics().height();
    return {side, side};
}

void BusyIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = qMin(width(), height());
    painter.translate(width() / 2.0, height() / 2.0);
    QColor colour = palette().color(QPalette::WindowText);
    QPen pen(colour, qMax<qreal>(1.5, side / 9.0), Qt::SolidLine, Qt::RoundCap);
    for (int i = 0; i < kSpokes; ++i) {
        // The spoke at the current step is darkest; the ones behind it fade out.
        const int age = (m_step - i + kSpokes) % kSpokes;
        colour.setAlphaF(m_animating ? 1.0f - 0.8f * age / kSpokes : 0.35f);
        pen.setColor(colour);
        painter.setPen(pen);
        painter.drawLine(QPointF(0, -side * 0.22), QPointF(0, -side * 0.44));
        painter.rotate(360.0 / kSpokes);
    }
}

void BusyIndicator::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_timer.timerId())
        return QProgressBar::timerEvent(event);
    m_step = (m_step + 1) % kSpokes;
    update();
}

void BusyIndicator::showEvent(QShowEvent* event) {
    QProgressBar::showEvent(event);
    updateTimer();
}

void BusyIndicator::hideEvent(QHideEvent* event) {
    QProgressBar::hideEvent(event);
    updateTimer();
}

void BusyIndicator::updateTimer() {
    if (m_animating && isVisible())
        m_timer.start(kStepMs, this);
    else
        m_timer.stop();
}

} // namespace ui
